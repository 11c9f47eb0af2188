// vardelctl: the transaction engine from the command line. Standard output carries the log
// window's lines, or a record per value in CSV or JSON; why a request failed, boxes and -v
// traffic go to standard error.
#include "ctlplan.h"
#include "ctlreport.h"
#include "link/serial.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "report/calpdf.h"
#include "report/certpdf.h"
#include "tools/calrecord.h"
#include "tools/certificate.h"
#include "tools/history.h"
#include "tools/identify.h"
#include "tools/linedoctor.h"
#include "tools/logfile.h"
#include "tools/operator.h"
#include "tools/places.h"
#include "tools/procrun.h"
#include "tools/session.h"
#include "tools/snapshot.h"
#include "txn/builders.h"
#include "txn/codec.h"
#include "txn/engine.h"
#include "txn/loglines.h"
#include "txn/numbers.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

enum Exit { kOk = 0, kError = 1, kUsage = 2, kNoValidReply = 3, kNotPassed = 4, kDifferent = 5 };

// Set by a signal handler (or, on Windows, the console's own thread): lock-free, so both may.
std::atomic<int> gSignal = 0;
#ifndef Q_OS_WIN
int gSignalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    gSignal = signal;
    const char byte = 0;
    [[maybe_unused]] const auto written = write(gSignalPipe[1], &byte, 1);
}
#endif

void Out(const QString& line) {
    const QByteArray utf8 = (line + '\n').toUtf8();
    std::fwrite(utf8.constData(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

void Err(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
}

QString RegisterLabel(const TreeNode* node) {
    if (!node) return QStringLiteral("reset");
    return PrintableText(node->record.Address) + ' ' + PrintableText(node->record.Name);
}

class Console : public Frontend {
public:
    explicit Console(const CtlOptions& options)
        : slave(QString::number(options.slave)), options_(options) {}

    QString slave;
    QString logText;
    bool monitoring = false, refused = false, quiet = false;
    bool nameSlave = false; // several slaves: a failure says whose
    int failures = 0;
    QString operation = QStringLiteral("read"); // the command under way, for the records
    const TransactionEngine* engine = nullptr;  // for a real read in full

    void ShowMessage(const QString& text) override {
        refused = true;
        Err(text);
    }
    void ProcessEvents() override { QCoreApplication::processEvents(); }
    void SetTxText(const QString& text) override {
        if (options_.verbose) Err(QStringLiteral("TX: ") + text);
    }
    void SetRxText(const QString& text) override {
        if (options_.verbose && !text.isEmpty()) Err(QStringLiteral("RX: ") + text);
    }
    void AppendLog(const QString& line) override {
        if (quiet) return; // a scan's reads are not the session's values
        logText += line + '\n';
        if (options_.format == OutputFormat::Log) Out(line);
    }
    bool MonitorChecked() const override { return monitoring; }
    void StartRepaintTimer() override {}
    void Pause(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }
    QString SlaveText() const override { return slave; }
    void TransactionEnded(const TransactionOutcome& outcome) override {
        if (outcome.kind == ReplyOutcome::Valid) {
            if (!quiet) Record(outcome);
            return;
        }
        if (slave == QLatin1String("0")) return; // a broadcast gets no reply
        ++failures;
        if (quiet) return;
        const QString whose =
            nameSlave ? QStringLiteral("adres ") + slave + QStringLiteral(": ") : QString();
        Err(whose + RegisterLabel(outcome.node) + QStringLiteral(": ") + Why(outcome));
        Record(outcome);
    }
    // Every request a record: its register (or "reset"), what the command was, how it ended.
    void Record(const TransactionOutcome& outcome) {
        ValueRecord v{QDateTime::currentDateTime(),
                      outcome.node ? outcome.node->record.Name : QStringLiteral("reset"),
                      {},
                      {},
                      {}};
        v.operation = operation;
        v.slave = slave;
        if (outcome.node) {
            const RegisterNode& r = outcome.node->record;
            v.address = r.Address;
            v.type = r.Type;
            if (outcome.kind == ReplyOutcome::Valid) v.text = r.Value;
        }
        if (outcome.kind == ReplyOutcome::Valid && engine) v.real = engine->DecodedReal();
        if (outcome.kind != ReplyOutcome::Valid) v.outcome = OutcomeText(outcome);
        Record(v);
    }
    void Record(const ValueRecord& record) {
        if (options_.format == OutputFormat::Log) return;
        if (options_.format == OutputFormat::Csv) {
            if (!csvHeaderDone_) Out(CsvHeader());
            csvHeaderDone_ = true;
            Out(CsvLine(record));
        } else {
            Out(JsonLine(record));
        }
    }
    // A row of list, scan or ports: the text as before, or CSV under its header, or JSON.
    void Row(const QStringList& keys, const QStringList& values, const QString& text) {
        if (options_.format == OutputFormat::Log) {
            Out(text);
        } else if (options_.format == OutputFormat::Csv) {
            if (rowHeader_ != keys) Out(CsvRow(keys));
            rowHeader_ = keys;
            Out(CsvRow(values));
        } else {
            Out(JsonRow(keys, values));
        }
    }
    bool allAnswered() const { return !refused && failures == 0; }

private:
    QString Why(const TransactionOutcome& outcome) const {
        if (outcome.kind == ReplyOutcome::NoReply)
            return QStringLiteral("brak odpowiedzi w ciągu %1 ms").arg(options_.timeoutMs);
        return OutcomeText(outcome);
    }

    const CtlOptions& options_;
    bool csvHeaderDone_ = false;
    QStringList rowHeader_;
};

// A relative path names a file from the current folder; a bare name is a system port.
QString PortPathOf(const QString& port) {
    if (QDir::isAbsolutePath(port) || !port.contains('/')) return PortPathFor(port);
    return QFileInfo(port).absoluteFilePath();
}

QString DevicePathOf(const QString& device) {
    return FindDeviceFile(device, QCoreApplication::applicationFilePath());
}

class Runner {
public:
    Runner(const CtlPlan& plan, Console& console) : plan_(plan), console_(console) {
        console_.engine = &engine_;
        calibration_.setResult = [this](const QString& mean) { mean_ = mean; };
        // Ctrl-C and the rest end a long wait for a reply at once, not when it times out.
        link_.interrupted = [] { return gSignal.load() != 0; };
        link_.removeEcho = plan_.options.removeEcho;
        link_.SetRs485(plan_.options.rs485);
        // Why the port went, with its name: more than the requests' "no reply" after it.
        link_.onLost = [this] { Err(QStringLiteral("Utracono port ") + link_.failureReason); };
        QObject::connect(&monitor_.Timer1, &QTimer::timeout,
                         [this] { Guard([this] { monitor_.Tick(); }); });
    }

    void Load() {
        if (plan_.options.device.isEmpty()) { // the ports and a scan need none
            AddScanProbe(tree_);
        } else {
            devicePath_ = DevicePathOf(plan_.options.device);
            session_.LoadDevice(QFileInfo(devicePath_).fileName(),
                                ReadDeviceFileBytes(devicePath_));
            CheckAgainstDevice(plan_, tree_);
        }
        CheckOutputs();
    }

    // The command list for each slave in turn; with several, the log format says whose lines
    // follow, and --stop-on-error skips the rest of one slave's list, not the next slave.
    void Run() {
        const QList<int>& slaves = plan_.options.slaves;
        console_.nameSlave = slaves.size() > 1;
        for (qsizetype i = 0; i < slaves.size() && !gSignal; ++i) {
            console_.slave = QString::number(slaves[i]);
            if (slaves.size() > 1) {
                if (i > 0) QThread::msleep(kSilenceBetweenSlavesMs);
                if (plan_.options.format == OutputFormat::Log)
                    console_.AppendLog(QStringLiteral("adres ") + console_.slave + ':');
            }
            RunCommands();
        }
    }

    void RunCommands() {
        for (const CtlCommand& c : plan_.commands) {
            if (gSignal) return;
            engine_.EndWalk(); // each command starts with no walk
            const int failuresBefore = console_.failures;
            const bool incompleteBefore = incomplete;
            RunOne(c);
            const bool failed =
                console_.failures > failuresBefore || incomplete != incompleteBefore;
            if (failed && plan_.options.stopOnError) {
                Err(QStringLiteral("--stop-on-error: pozostałe polecenia pominięto"));
                return;
            }
        }
    }

    // A single register's read or write, tried again while it gets no valid reply, at most
    // --retries times. A failure that a later try made good does not fail the run; each try
    // is still said on stderr and counted in the statistics. An exception is the device's
    // answer and is not asked again, but for "busy" (code 6), which asks for a later try.
    template <typename Request> void WithRetries(Request&& request) {
        constexpr std::uint8_t kSlaveDeviceBusy = 6;
        for (int attempt = 0;; ++attempt) {
            const int failuresBefore = console_.failures;
            request();
            const bool failed = console_.failures > failuresBefore;
            const bool refused = session_.lastOutcome().kind == ReplyOutcome::Exception &&
                                 session_.lastOutcome().exceptionCode != kSlaveDeviceBusy;
            if (!failed || refused || attempt >= plan_.options.retries || gSignal) {
                if (!failed) console_.failures -= attempt; // the retries made it good
                return;
            }
        }
    }

    void Interrupt() {
        engine_.RequestStop(false);
        monitorLoop_.quit();
    }
    void Release() { link_.ClosePort(); }
    const RequestStats& stats() const { return session_.stats(); }
    bool incomplete = false;
    bool different = false; // a comparison found changes, or a restored register kept another value
    bool notPassed = false; // a procedure's point was not found in tolerance

private:
    using Kind = CtlCommand::Kind;
    // More than the 3.5 characters of silence a frame needs at any rate from 1200 baud.
    static constexpr unsigned long kSilenceBetweenSlavesMs = 35;

    void RunOne(const CtlCommand& c) {
        // The records' operation, one a kind, in the kinds' order.
        static const char* const kOperations[] = {"read",      "write",    "reset",    "monitor",
                                                  "calibrate", "list",     "scan",     "ports",
                                                  "doctor",    "identify", "snapshot", "compare",
                                                  "restore",   "history",  "procedure"};
        static_assert(std::size(kOperations) == std::size_t(Kind::Procedure) + 1);
        console_.operation = QLatin1String(kOperations[int(c.kind)]);
        switch (c.kind) {
        case Kind::Read:
            Read(c.name);
            break;
        case Kind::Write:
            Write(c.name, c.value);
            break;
        case Kind::Reset:
            OpenOnce();
            SendReset(engine_);
            break;
        case Kind::Monitor:
            RunMonitor(c);
            break;
        case Kind::Calibrate:
            Calibrate(c);
            break;
        case Kind::List:
            List();
            break;
        case Kind::Scan:
            Scan(c.from, c.to);
            break;
        case Kind::Ports:
            Ports();
            break;
        case Kind::Doctor:
            Doctor(c);
            break;
        case Kind::Identify:
            IdentifyDevice();
            break;
        case Kind::Snapshot:
            TakeSnapshot(c.name);
            break;
        case Kind::Compare:
            CompareSnapshots(c);
            break;
        case Kind::Restore:
            RestoreSnapshot(c);
            break;
        case Kind::History:
            History(c);
            break;
        case Kind::Procedure:
            RunProcedure(c);
            break;
        }
    }

    template <typename F> void Guard(F&& f) {
        try {
            f();
        } catch (const AppError& e) {
            Err(BoxText(e.message()));
            error_ = true;
            monitorLoop_.quit();
        }
    }

    // "19200,e,8,1" and the like, from --baud and --parity.
    QString LineSettings() const {
        const QString& parity = plan_.options.parity;
        return LineSettingsFor(plan_.options.baud, parity == "even" ? 1 : parity == "odd" ? 2 : 0);
    }

    void OpenOnce() {
        if (link_.isOpen()) return;
        const QString path = PortPathOf(plan_.options.port);
        if (!link_.OpenPort(path, LineSettings()) ||
            !link_.SetPortTimeouts(30, 0, static_cast<std::uint16_t>(plan_.options.timeoutMs), 0,
                                   30)) {
            QString why = link_.failureReason;
#ifdef Q_OS_LINUX
            if (link_.lastError() == QSerialPort::PermissionError && !PortIsBusy(path))
                why += QStringLiteral("\nrozwiązanie: sudo usermod -aG dialout $USER, potem "
                                      "zaloguj się ponownie");
#endif
            throw AppError(why);
        }
        session_.PortOpened({path, LineSettings()});
        const QString note = AdapterLatencyNote(path, AdapterLatencyMs(path));
        if (!note.isEmpty()) Err(note);
        const QString direction = link_.TakeDirectionNote();
        if (!direction.isEmpty()) Err(direction);
    }

    TreeNode* Node(const QString& name) {
        return tree_.FindNodeByName(name);
    }

    void Read(const QString& name) {
        TreeNode* node = Node(name);
        OpenOnce();
        const bool group = TransactionEngine::NodeAccess(node) == acNone;
        if (group)
            engine_.ReadFromNode(node);
        else
            WithRetries([&] { engine_.ReadFromNode(node); });
        if (group && engine_.LastWalkNotRead() > 0 && !gSignal) {
            Err(QStringLiteral("read %1: nieodczytanych rejestrów %2")
                    .arg(name)
                    .arg(engine_.LastWalkNotRead()));
            incomplete = true;
        }
    }

    void Write(const QString& name, const QString& value) {
        TreeNode* node = Node(name);
        OpenOnce();
        node->record.Value = value;
        // A text longer than its registers goes out cut: the log and the records show what
        // was sent, and stderr says so.
        if (TypeCodeOf(node->record.Type) == tcText) {
            const QString sent = EncodeWriteData(node->record).sentText;
            if (sent.size() < value.size()) {
                Err(QString::fromUtf8(
                        "%1: tekst ma %2 znaków, rejestry mieszczą %3; wysłano \"%4\"")
                        .arg(node->record.Name)
                        .arg(value.size())
                        .arg(sent.size())
                        .arg(sent));
                node->record.Value = sent;
            }
        }
        const QString sentValue = node->record.Value;
        WithRetries([&] {
            node->record.Value = sentValue; // a failed write leaves the typed value to send again
            engine_.WriteIfWritable(node);
        });
    }

    void RunMonitor(const CtlCommand& c) {
        TreeNode* node = Node(c.name);
        OpenOnce();
        engine_.MakeCurrent(node);
        const QString label = node->record.Name + ':';
        const int validBefore = session_.validReplies(), endedBefore = session_.requestsEnded();
        const QString period = QString::number(c.periodMs);
        console_.monitoring = true;
        monitor_.Click(true, period, label);
        // A silent device must not hold a counted monitor for ever: twice the count at most.
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            const qint64 valid = session_.validReplies() - validBefore;
            const qint64 asked = session_.requestsEnded() - endedBefore;
            if (error_ || gSignal || !monitor_.Timer1.isActive() ||
                (c.count > 0 && (valid >= c.count || asked >= 2 * c.count + 5)))
                monitorLoop_.quit();
        });
        check.start(5);
        monitorLoop_.exec();
        console_.monitoring = false;
        monitor_.Click(false, period, label);
        if (error_) throw AppError(QStringLiteral("monitorowanie przerwane"));
    }

    // The run's record goes to --report with its store, if any, and whether it finished.
    void Calibrate(const CtlCommand& c) {
        OpenOnce();
        mean_.clear();
        bool finished = false;
        try {
            finished = session_.Calibrate(c.range, QString::number(c.count));
        } catch (const AppError&) { // a failed sample: the record keeps what there is
            WriteReport(session_.record());
            throw;
        }
        if (!finished) {
            if (!gSignal) Err(QStringLiteral("Kalibracja nie została ukończona: brak odpowiedzi"));
            incomplete = true;
            WriteReport(session_.record());
            return;
        }
        if (plan_.options.format != OutputFormat::Log) RecordCalibration(session_.record());
        if (c.store && !mean_.isEmpty()) session_.Store(c.range, mean_);
        WriteReport(session_.record());
    }

    // The log and every record can be saved where they are asked for: found out before the
    // port opens, not after the device changed.
    void CheckOutputs() {
        if (!plan_.options.log.isEmpty()) CheckOutputPath(plan_.options.log);
        if (plan_.options.report.isEmpty()) return;
        const auto calibrations =
            std::count_if(plan_.commands.begin(), plan_.commands.end(), [](const CtlCommand& c) {
                return c.kind == CtlCommand::Kind::Calibrate;
            });
        const auto procedures =
            std::count_if(plan_.commands.begin(), plan_.commands.end(), [](const CtlCommand& c) {
                return c.kind == CtlCommand::Kind::Procedure;
            });
        const bool procedure = procedures > 0;
        if (procedure && (calibrations > 0 || procedures > 1 || plan_.options.slaves.size() > 1))
            throw AppError(QStringLiteral("procedure z --report: jedna procedura, jeden adres i "
                                          "żadnej innej kalibracji w przebiegu"));
        if (procedure) {
            const QString& report = plan_.options.report;
            const bool pdf = report.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
            if (!pdf && !report.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
                throw AppError(QStringLiteral("procedure --report: protokół procedury to plik "
                                              ".pdf albo .csv"));
            CheckOutputPath(report);
            if (pdf) CheckOutputPath(CsvBeside(report));
            return;
        }
        reportPaths_ =
            ReportPaths(plan_.options.report, int(calibrations * plan_.options.slaves.size()));
        for (const QString& path : reportPaths_)
            CheckOutputPath(path);
    }

    // Each calibrate command its own record file.
    void WriteReport(const CalibrationRecord& record) {
        if (reportPaths_.isEmpty()) return;
        const QString path = reportPaths_.value(reportsWritten_++, reportPaths_.last());
        if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
            SaveRecordPdf(record, path);
        else
            SaveRecordCsv(record, path);
    }

    // The result as two records: the mean and the error, as the log shows them.
    void RecordCalibration(const CalibrationRecord& run) {
        ValueRecord mean{run.end,      run.range + QStringLiteral(" mean"), {}, "INT",
                         run.meanText, QStringLiteral("calibrate")};
        mean.slave = run.slave;
        console_.Record(mean);
        ValueRecord error{run.end,       run.range + QStringLiteral(" error"), {}, "REAL",
                          run.errorText, QStringLiteral("calibrate")};
        error.slave = run.slave;
        console_.Record(error);
    }

    void List() {
        static const QStringList keys{"depth", "name", "address", "type", "count", "access"};
        for (TreeNode* n = tree_.First(); n; n = RegisterTree::GetNext(n)) {
            const RegisterNode& r = n->record;
            const QStringList fields{PrintableText(r.Name), PrintableText(r.Address),
                                     PrintableText(r.Type), PrintableText(r.Count),
                                     PrintableText(r.Access)};
            console_.Row(keys, QStringList{QString::number(n->depth())} + fields,
                         QString(2 * n->depth(), ' ') + fields.join('\t'));
        }
    }

    // Each address asked once for the first register; a valid or an exception reply means a
    // device is there. Silence is the expected answer of an empty address, not a failure.
    void Scan(int from, int to) {
        OpenOnce();
        TreeNode* first = FirstRegister(tree_);
        const QString slave = console_.slave;
        const int failures = console_.failures;
        console_.quiet = true;
        QElapsedTimer clock;
        clock.start();
        int found = 0;
        for (int address = from; address <= to && !gSignal; ++address) {
            console_.slave = QString::number(address);
            engine_.ReadRegister(first);
            if (session_.lastOutcome().kind == ReplyOutcome::Valid ||
                session_.lastOutcome().kind == ReplyOutcome::Exception) {
                console_.Row({"slave"}, {QString::number(address)}, QString::number(address));
                ++found;
            }
        }
        console_.quiet = false;
        console_.failures = failures;
        console_.slave = slave;
        Err(QStringLiteral("scan %1-%2: odpowiedziało %3, %4 s")
                .arg(from)
                .arg(to)
                .arg(found)
                .arg(QString::number(clock.elapsed() / 1000.0, 'f', 1).replace('.', ',')));
        if (found == 0) incomplete = true;
    }

    // The addresses the doctor asks: the range given, else --slave, else 247 first and then
    // every other address.
    QList<int> DoctorAddresses(const CtlCommand& c, QString& text) const {
        QList<int> addresses;
        if (c.rangeGiven || !plan_.options.slaveGiven) {
            const int from = c.rangeGiven ? c.from : 1, to = c.rangeGiven ? c.to : 247;
            if (!c.rangeGiven) addresses << 247;
            for (int a = from; a <= to; ++a)
                if (!addresses.contains(a)) addresses << a;
            text = QStringLiteral("%1-%2").arg(from).arg(to);
        } else {
            addresses << console_.slave.toInt();
            text = console_.slave;
        }
        return addresses;
    }

    // -v's TX:/RX: lines for the doctor's probes, which go outside the engine; none without -v.
    RawExchanged Traffic() const {
        if (!plan_.options.verbose) return {};
        return [](const RequestFrame& request, const RawReply& reply) {
            Err(QStringLiteral("TX: ") + HexText(request.Frame, request.Length));
            if (!reply.bytes.isEmpty())
                Err(QStringLiteral("RX: ") +
                    HexText(reinterpret_cast<const std::uint8_t*>(reply.bytes.constData()),
                            static_cast<std::uint16_t>(reply.bytes.size())));
        };
    }

    // Reads whose records and failures are not the session's own: a scan's, an identity
    // file's, a snapshot's (the file is their record).
    template <typename F> void Quietly(F&& reads) {
        const int failures = console_.failures;
        console_.quiet = true;
        reads();
        console_.quiet = false;
        console_.failures = failures;
    }

    // Tries the line settings (and addresses) until the device answers, then times it at the
    // first setting that answered. It only ever reads; the line then runs as before.
    void Doctor(const CtlCommand& c) {
        OpenOnce();
        const TreeNode* probe = c.name.isEmpty() ? FirstRegister(tree_) : Node(c.name);
        DoctorFindings f;
        f.given = LineTry{plan_.options.baud, plan_.options.parity};
        f.timeoutMs = plan_.options.timeoutMs;
        f.echoRemoved = plan_.options.removeEcho;
        f.latencyMs = AdapterLatencyMs(link_.portPath());
        const QList<int> addresses = DoctorAddresses(c, f.addresses);
        LineDoctor doctor(
            DoctorLine{link_, [this](const QString& s) { return link_.ApplyLineSettings(s); },
                       [this](bool on) { link_.removeEcho = on; }, link_.lineSettings(),
                       link_.removeEcho},
            [probe](int slave) { return BuildReadRequest(probe->record, QString::number(slave)); });
        doctor.stopped = [] { return gSignal.load() != 0; };
        doctor.progress = [](const QString& text) { Err(QStringLiteral("doctor: ") + text); };
        doctor.refused = [](const QString& why) { Err(QStringLiteral("doctor: ") + why); };
        doctor.answered = [this](const DoctorFindings::Answer& a) {
            console_.Row({"baud", "parity", "slave"},
                         {a.line.baud, a.line.parity, QString::number(a.slave)},
                         QStringLiteral("%1 adres %2").arg(LineTryText(a.line)).arg(a.slave));
        };
        doctor.exchanged = Traffic();
        doctor.Run(f, addresses);
        if (!f.answered.isEmpty() && plan_.options.format != OutputFormat::Log)
            console_.Row({"median_ms", "p95_ms", "max_ms", "wire_ms", "echo"},
                         {QString::number(f.times.medianMs, 'f', 1),
                          QString::number(f.times.p95Ms, 'f', 1),
                          QString::number(f.times.maxMs, 'f', 1), QString::number(f.wireMs),
                          f.echo ? "1" : "0"},
                         QString());
        for (const QString& sentence : DoctorVerdict(f))
            Say(sentence);
        if (f.answered.isEmpty()) incomplete = true;
    }

    // What the device says it is: each object of function 43/14, then function 17's server
    // ID; exit status 3 when neither answered.
    void IdentifyDevice() {
        OpenOnce();
        const DeviceIdentity identity = IdentifyWithFile();
        const QStringList keys{"id", "name", "value"};
        for (const IdentificationObject& o : identity.objects)
            console_.Row(keys, {QString::number(o.id), ObjectName(o.id), ObjectText(o.value)},
                         QStringLiteral("%1: %2").arg(ObjectName(o.id), ObjectText(o.value)));
        const QList<std::pair<const char*, QString>> fromFile{
            {"serialNumber", identity.serialNumber},
            {"firmware", identity.firmware},
            {"calibrationDate", identity.calibrationDate}};
        static const QStringList names{"Numer seryjny", "Oprogramowanie", "Data kalibracji"};
        for (qsizetype i = 0; i < fromFile.size(); ++i)
            if (!fromFile[i].second.isEmpty())
                console_.Row(keys, {QLatin1String(fromFile[i].first), names[i], fromFile[i].second},
                             names[i] + QStringLiteral(": ") + fromFile[i].second);
        if (identity.serverId) {
            const ServerId& id = *identity.serverId;
            const QString value =
                ObjectText(id.id) +
                (id.running ? QStringLiteral(" (pracuje)") : QStringLiteral(" (zatrzymany)")) +
                (id.additional.isEmpty() ? QString()
                                         : QStringLiteral(", dane ") + ObjectText(id.additional));
            console_.Row(keys,
                         {QStringLiteral("server"), QStringLiteral("Identyfikator serwera"), value},
                         QStringLiteral("Identyfikator serwera: ") + value);
        }
        if (plan_.options.format == OutputFormat::Log)
            Out(identity.answered() ? QStringLiteral("Odpowiedziała ") + identity.answeredBy()
                                    : QStringLiteral("Brak identyfikacji"));
        for (const QString& note : identity.notes)
            Err(QStringLiteral("identify: ") + note);
        if (!identity.answered()) incomplete = true;
    }

    // Functions 43/14 and 17, then what NAME.identity.json beside the device file names:
    // every request quiet, as the identity is the command's output (-v still shows them).
    DeviceIdentity IdentifyWithFile() {
        DeviceIdentity identity;
        Quietly([&] {
            identity = Identify(engine_, static_cast<std::uint8_t>(console_.slave.toInt()));
            if (devicePath_.isEmpty()) return;
            if (const std::optional<IdentityFile> file =
                    ReadIdentityFile(IdentityFilePath(devicePath_), tree_))
                ReadIdentityRegisters(engine_, tree_, *file, identity);
        });
        session_.NoteSerialNumber(console_.slave, identity.serialNumber);
        return identity;
    }

    // The calibration records of the window's data folder (or --records), all or one
    // device's by serial number, oldest first.
    void History(const CtlCommand& c) {
        const QString folder =
            c.records.isEmpty() ? DataFolder() + QStringLiteral("/kalibracje") : c.records;
        QList<HistoryRecord> records = ReadHistory(folder);
        if (!c.name.isEmpty()) records = HistoryOf(records, c.name, {}, {});
        for (const HistoryRecord& r : records) {
            const QString start = r.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            console_.Row(
                {"start", "device", "slave", "serial", "range", "status", "mean", "stored", "file"},
                {start, r.deviceFile, r.slave, r.serialNumber, r.range, r.status, r.mean, r.stored,
                 r.path},
                QStringLiteral("%1  %2 adres %3%4  %5  %6%7%8")
                    .arg(start, r.deviceFile, r.slave,
                         r.serialNumber.isEmpty() ? QString()
                                                  : QStringLiteral(" nr ") + r.serialNumber,
                         r.range, r.status,
                         r.mean.isEmpty() ? QString() : QStringLiteral("  średnia ") + r.mean,
                         r.stored.isEmpty() ? QString()
                                            : QStringLiteral(", zapisano ") + r.stored));
        }
        Err(QStringLiteral("history %1: protokołów %2")
                .arg(QDir::toNativeSeparators(folder))
                .arg(records.size()));
    }

    // The device's settings now: its identity, then each RW and RP register, read quietly
    // (the snapshot is the record), with progress on stderr.
    Snapshot SnapshotNow() {
        OpenOnce();
        Snapshot s;
        s.time = QDateTime::currentDateTime();
        s.deviceType = QFileInfo(devicePath_).fileName();
        s.deviceSha256 = session_.deviceSha256(); // of the bytes the tree came from
        s.slave = console_.slave;
        s.port = link_.portPath();
        const DeviceIdentity identity = IdentifyWithFile();
        if (identity.answered()) s.identity = identity.Summary();
        s.serialNumber = identity.serialNumber;
        const QList<TreeNode*> registers = SettingRegisters(tree_);
        QElapsedTimer said;
        said.start();
        const SnapshotProgress progress{
            [] { return gSignal.load() != 0; },
            [&said](int done, int total) {
                if (said.elapsed() < 1000 && done < total) return;
                said.restart();
                Err(QStringLiteral("zrzut: rejestr %1 z %2").arg(done).arg(total));
            }};
        Quietly([&] { s.registers = ReadSettings(engine_, registers, progress); });
        return s;
    }

    void TakeSnapshot(const QString& path) {
        CheckOutputPath(path);
        const Snapshot s = SnapshotNow();
        SaveFileSafely(path, SnapshotJson(s));
        const auto unanswered =
            std::count_if(s.registers.begin(), s.registers.end(),
                          [](const SnapshotRegister& r) { return !r.answered; });
        Err(QStringLiteral("zrzut %1: rejestrów %2, bez odpowiedzi %3")
                .arg(path)
                .arg(s.registers.size())
                .arg(unanswered));
        if (unanswered > 0) incomplete = true;
    }

    // Every register, before and after; "*" marks a changed one. Counts first.
    void PrintComparison(const Comparison& c) {
        if (plan_.options.format == OutputFormat::Log)
            Out(QStringLiteral("zmienione %1, bez zmian %2, bez odpowiedzi %3")
                    .arg(c.changed)
                    .arg(c.same)
                    .arg(c.unanswered));
        for (const RegisterChange& r : c.rows)
            console_.Row({"name", "address", "before", "after", "changed"},
                         {r.name, r.address, r.before, r.after, r.changed ? "1" : "0"},
                         QStringLiteral("%1 %2 %3: %4 -> %5")
                             .arg(r.changed ? QStringLiteral("*") : QStringLiteral(" "),
                                  r.address.leftJustified(5), r.name, r.before, r.after));
        if (c.changed > 0) different = true;
    }

    void CompareSnapshots(const CtlCommand& c) {
        const Snapshot earlier = ReadSnapshotFile(c.name, c.name);
        const Snapshot later =
            c.value.isEmpty() ? SnapshotNow() : ReadSnapshotFile(c.value, c.value);
        PrintComparison(Compare(earlier, later));
    }

    // A sentence for the technician: on stdout among the log lines, on stderr where stdout
    // carries CSV or JSON records alone.
    void Say(const QString& sentence) const {
        plan_.options.format == OutputFormat::Log ? Out(sentence) : Err(sentence);
    }

    // The plan first: each register that differs and may be written; with --yes each is
    // written and read back.
    void RestoreSnapshot(const CtlCommand& c) {
        const Snapshot snapshot = ReadSnapshotFile(c.name, c.name);
        const Snapshot now = SnapshotNow();
        const QString other = OtherDevice(snapshot, now);
        if (!other.isEmpty() && !c.forceOtherDevice)
            throw AppError(
                QStringLiteral("restore: %1; --force-other-device zapisze mimo to").arg(other));
        QList<RegisterChange> plan;
        for (const RegisterChange& r : Compare(snapshot, now).rows)
            if (r.restorable) plan << r;
        for (const RegisterChange& r : plan)
            Say(QStringLiteral("%1: %2 -> %3").arg(r.name, r.after, r.before));
        if (!c.yes) {
            Err(QStringLiteral("restore: rejestrów do zapisu %1; nic nie zapisano (zapisuje "
                               "--yes)")
                    .arg(plan.size()));
            return;
        }
        for (const RestoreResult& result : Restore(engine_, tree_, plan)) {
            Say(RestoreText(result));
            if (result.end == RestoreResult::End::Other) different = true;
            if (result.end == RestoreResult::End::Failed) incomplete = true;
        }
    }

    // The data folder of the window, where wzorce.json and kalibracje/ are.
    static QString DataFolder() {
        return QFileInfo(
                   PlacesFor(QCoreApplication::applicationFilePath(),
                             QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
                       .logPath)
            .absolutePath();
    }

    // --reference ID for every point, POINT=ID for one; each must be in wzorce.json.
    ProcedureContext ContextOf(const CtlCommand& c) {
        const CtlCommand::ProcedureFlags& f = c.procedure;
        ProcedureContext context{f.operatorName, f.checker,  f.customer, f.place,
                                 f.temperature,  f.humidity, {},         {}};
        const QString file = f.standards.isEmpty() ? StandardsFilePath(DataFolder()) : f.standards;
        context.standards = ReadStandardsFile(file);
        for (const QString& reference : f.references) {
            const qsizetype equals = reference.indexOf('=');
            const QString point = equals < 0 ? QString() : reference.left(equals);
            const QString id = reference.mid(equals + 1);
            const ReferenceStandard* s = FindStandard(context.standards, id);
            if (!s)
                throw AppError(QStringLiteral("--reference: nie ma wzorca \"%1\" w %2")
                                   .arg(id, QDir::toNativeSeparators(file)));
            if (s->overdue(QDate::currentDate()))
                Err(QStringLiteral("wzorzec %1 po terminie wzorcowania (%2)")
                        .arg(id, s->due.toString(Qt::ISODate)));
            context.standardAt.insert(point, id);
        }
        return context;
    }

    // One line a point on stdout, or its record in CSV or JSON.
    void PointRow(const QString& stage, const PointResult& p, const ProcedureRange& range) {
        const QString k = QStringLiteral("k=") + FormatFixed(p.budget.k, 0);
        const QStringList values{stage,
                                 p.range,
                                 p.id,
                                 AtResolution(p.nominal, range.resolution),
                                 AtResolution(p.reference, range.resolution),
                                 AtResolution(p.mean, range.resolution),
                                 AtResolution(p.error, range.resolution),
                                 FormatFixed(p.errorPercentOfSpan, 3),
                                 AtResolution(p.tolerance, range.resolution),
                                 TwoSignificantDigits(p.budget.expanded),
                                 FormatFixed(p.budget.k, 0),
                                 VerdictText(p.verdict)};
        console_.Row(
            {"stage", "range", "point", "nominal", "reference", "mean", "error", "error_pct_span",
             "tolerance", "U", "k", "verdict"},
            values,
            QStringLiteral("%1 %2: wzorzec %3 %4, odczyt %5 %4, błąd %6 %4 (%7 % zakresu), "
                           "tolerancja %8 %4, U %9 %4 (%10): %11")
                .arg(stage, p.id, values[4], p.unit, values[5], values[6], values[7], values[8],
                     values[9], k, values[11]));
    }

    const ProcedureRange& RangeOf(const Procedure& procedure, const QString& name) const {
        for (const ProcedureRange& r : procedure.ranges)
            if (r.name == name) return r;
        return procedure.ranges.first();
    }

    // What to apply, asked on stderr; one line of stdin answers: empty for the nominal
    // value, else the standard's actual value. The end of stdin takes the nominal value.
    static std::optional<double> AskApplied(const ProcedureRange& range,
                                            const ProcedurePoint& point,
                                            const ReferenceStandard* standard) {
        const QString nominal = AtResolution(point.nominal, range.resolution / 10);
        for (;;) {
            Err(QStringLiteral("Przyłóż %1 %2%3 (punkt %4); Enter: wartość nominalna, albo "
                               "wpisz rzeczywistą wartość wzorca:")
                    .arg(nominal, range.unit,
                         standard ? QStringLiteral(" ze wzorca ") + standard->id : QString(),
                         point.id));
            if (gSignal) return std::nullopt;
            char buffer[256];
            if (!std::fgets(buffer, sizeof buffer, stdin)) return point.nominal;
            const QString line = QString::fromLocal8Bit(buffer).trimmed();
            if (line.isEmpty()) return point.nominal;
            bool ok = false;
            const double value = QLocale::c().toDouble(QString(line).replace(',', '.'), &ok);
            if (ok && std::isfinite(value)) return value;
            Err(QStringLiteral("\"%1\" nie jest liczbą").arg(line));
        }
    }

    // As found; with --adjust, when a point is not in tolerance, the adjustment (written
    // only with --yes) and as left.
    void RunProcedure(const CtlCommand& c) {
        OpenOnce();
        const Procedure procedure = ReadProcedureFile(c.name, tree_);
        // The serial number and firmware for the certificate, read (only reads) before the
        // first point unless this run already knows them.
        if (console_.slave.toInt() != 0 && session_.SerialNumberOf(console_.slave).isEmpty()) {
            const DeviceIdentity identity = IdentifyWithFile();
            firmware_ = !identity.firmware.isEmpty() ? identity.firmware : identity.Object(0x02);
        }
        ProcedureRun::Hooks hooks;
        hooks.applied = &Runner::AskApplied;
        hooks.confirmAdjust = [&](const QList<AdjustmentStep>& steps) {
            for (const AdjustmentStep& s : steps)
                Say(QStringLiteral("regulacja %1: %2 -> %3")
                        .arg(s.registerName, s.before, s.wanted));
            if (!c.yes)
                Err(QStringLiteral("regulacja: rejestrów do zapisu %1; nic nie zapisano (zapisuje "
                                   "--yes)")
                        .arg(steps.size()));
            return c.yes;
        };
        hooks.confirmRestore = [&](const QList<AdjustmentStep>&) {
            Err(QStringLiteral("regulacja nieudana: zapisuję z powrotem stare wartości"));
            return true;
        };
        hooks.stopped = [] { return gSignal.load() != 0; };
        hooks.pause = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
        hooks.progress = [](const QString& text) { Err(QStringLiteral("procedura: ") + text); };
        ProcedureRun run(engine_, tree_, procedure, ContextOf(c), hooks);
        // In CSV and JSON the points are the records; the log format shows every request.
        const bool quiet = plan_.options.format != OutputFormat::Log;
        auto step = [&](auto&& part) {
            if (!quiet) return part();
            bool going = false;
            Quietly([&] { going = part(); });
            return going;
        };
        auto rows = [&](const char* stage, const QList<PointResult>& points) {
            for (const PointResult& p : points)
                PointRow(QString::fromUtf8(stage), p, RangeOf(procedure, p.range));
        };
        bool going = step([&] { return run.AsFound(); });
        rows("jak znaleziono", run.result().asFound);
        const bool allPass = going && run.result().overall() == Verdict::Pass;
        if (going && c.procedure.adjust && !allPass) {
            going = step([&] { return run.Adjust(); });
            for (const AdjustmentStep& s : run.result().adjustments)
                if (run.result().adjustConfirmed)
                    Say(QStringLiteral("regulacja %1: zapisano %2, odczytano %3%4")
                            .arg(s.registerName, s.wanted,
                                 s.after.isEmpty() ? QStringLiteral("(brak)") : s.after,
                                 s.holds      ? QString()
                                 : s.restored ? QStringLiteral(" – przywrócono ") + s.before
                                              : QStringLiteral(" – nie przyjęte")));
            if (going && run.result().adjustConfirmed) {
                going = step([&] { return run.AsLeft(); });
                rows("jak pozostawiono", run.result().asLeft);
            }
        } else if (going && c.procedure.adjust) {
            Say(QStringLiteral("wszystkie punkty zgodne: bez regulacji"));
        }
        run.Finish();
        const ProcedureResult& r = run.result();
        if (!r.stopReason.isEmpty()) Err(QStringLiteral("procedura: ") + r.stopReason);
        Say(QStringLiteral("wynik: ") +
            (r.stopReason.isEmpty() ? VerdictText(r.overall()) : QStringLiteral("przerwana")));
        if (!r.stopReason.isEmpty())
            incomplete = true;
        else if (r.overall() != Verdict::Pass)
            notPassed = true;
        if (!plan_.options.report.isEmpty()) WriteCertificate(c, procedure, run);
    }

    // A PDF certificate's CSV: the same name, ending ".csv".
    static QString CsvBeside(const QString& pdf) {
        return pdf.chopped(4) + QStringLiteral(".csv");
    }

    // The run's certificate data to --report, numbered from the records folder's counter,
    // stopped or not.
    void WriteCertificate(const CtlCommand& c, const Procedure& procedure,
                          const ProcedureRun& run) {
        const QString folder = c.procedure.records.isEmpty()
                                   ? DataFolder() + QStringLiteral("/kalibracje")
                                   : c.procedure.records;
        CertificateHeader h;
        h.number = NextRecordNumber(folder, QDate::currentDate().year());
        h.title = procedure.title;
        h.issued = QDateTime::currentDateTime();
        h.deviceType = QFileInfo(devicePath_).completeBaseName();
        h.deviceFile = session_.deviceName();
        h.deviceSha256 = session_.deviceSha256();
        h.procedureFile = QFileInfo(c.name).fileName();
        h.procedureSha256 = Sha256OfFile(c.name);
        h.serialNumber = session_.SerialNumberOf(console_.slave);
        h.firmware = firmware_;
        h.slave = console_.slave;
        h.port = link_.portPath();
        h.line = link_.lineSettings();
        h.programVersion = QStringLiteral(VARDEL_VERSION);
        const QString& report = plan_.options.report;
        const QByteArray csv = CertificateCsv(h, procedure, run.context(), run.result());
        if (report.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
            SaveCertificatePdf(CertificatePdf(h, procedure, run.context(), run.result()), report);
            SaveFileSafely(CsvBeside(report), csv);
        } else {
            SaveFileSafely(report, csv);
        }
        Err(QStringLiteral("protokół %1: %2")
                .arg(h.number, QDir::toNativeSeparators(plan_.options.report)));
    }

    static QString ByIdLink(const QString& systemLocation) {
        const QDir byId(QStringLiteral("/dev/serial/by-id"));
        for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files))
            if (link.canonicalFilePath() == QFileInfo(systemLocation).canonicalFilePath())
                return link.absoluteFilePath();
        return {};
    }

    void Ports() {
        static const QStringList keys{"port", "description", "manufacturer", "serial", "by-id"};
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            const QStringList fields{info.portName(), info.description(), info.manufacturer(),
                                     info.serialNumber(), ByIdLink(info.systemLocation())};
            console_.Row(keys, fields, fields.join('\t'));
        }
    }

    QString devicePath_;
    CtlPlan plan_;
    Console& console_;
    SerialLink link_;
    OperatorSession session_{link_, console_};
    // The session's parts by their short names.
    RegisterTree& tree_ = session_.tree();
    TransactionEngine& engine_ = session_.engine();
    Calibration& calibration_ = session_.calibration();
    Monitor& monitor_ = session_.monitor();
    QEventLoop monitorLoop_;
    QStringList reportPaths_;
    QString firmware_; // as the device said it before a procedure
    int reportsWritten_ = 0;
    QString mean_;
    bool error_ = false;
};

#ifdef Q_OS_WIN
Runner* gRunner = nullptr;

// Ctrl-C, Ctrl-Break and closing the console arrive on a thread of their own: the session is
// interrupted on the main thread, as a signal does on Linux, and the run ends the same way
// (the current request ends, --log is saved, the statistics are printed, exit 130).
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    gSignal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { gRunner->Interrupt(); }, Qt::QueuedConnection);
    // After a close the system ends the process when this returns: give the run its time.
    if (event == CTRL_CLOSE_EVENT) Sleep(4000);
    return TRUE;
}
#endif

void CatchSignals(Runner& session) {
#ifdef Q_OS_WIN
    gRunner = &session;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    if (pipe(gSignalPipe) != 0) return;
    auto* notifier =
        new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [&session] {
        char byte;
        [[maybe_unused]] const auto got = read(gSignalPipe[0], &byte, 1);
        session.Interrupt();
    });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal); // the terminal closed: ended as SIGTERM ends it
#endif
}

// A run with no log lines still replaces an older file of that name, with an empty one, so
// a script never reads an earlier run's log as this one's.
int SaveLog(const CtlOptions& options, const Console& console) {
    if (options.log.isEmpty()) return kOk;
    try {
        SaveLogFile(options.log, console.logText);
        if (console.logText.isEmpty())
            Err(QStringLiteral("Dziennik tego przebiegu jest pusty: %1 zapisano jako pusty plik.")
                    .arg(QDir::toNativeSeparators(options.log)));
    } catch (const AppError& e) {
        Err(BoxText(e.message()));
        return kError;
    }
    return kOk;
}

// The statistics go to stderr, the last thing said, so stdout stays the records alone: a
// Polish line, or for a program in the format of the records.
void PrintStats(OutputFormat format, const RequestStats& stats) {
    if (format == OutputFormat::Csv)
        Err(StatsCsv(stats));
    else if (format == OutputFormat::Json)
        Err(StatsJson(stats));
    else
        Err(stats.PolishSummary());
}

} // namespace

// A PDF report needs fonts, so a (windowless) GUI application; anything else runs on QtCore.
// Elsewhere than on Windows that application needs no display; Windows' own platform opens
// no window either, and Qt's offscreen one finds no fonts there.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "--report") == 0 &&
            QString::fromLocal8Bit(argv[i + 1])
                .endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
#ifndef Q_OS_WIN
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
            return std::make_unique<QGuiApplication>(argc, argv);
        }
    return std::make_unique<QCoreApplication>(argc, argv);
}

int main(int argc, char* argv[]) {
    const std::unique_ptr<QCoreApplication> application = MakeApplication(argc, argv);
    QCoreApplication& app = *application;
    CtlPlan plan;
    try {
        plan = ParseCommandLine(app.arguments().mid(1));
    } catch (const UsageError& e) {
        Err(e.why);
        std::fputs(UsageText().toUtf8().constData(), stderr);
        return kUsage;
    }
    if (plan.options.help) {
        Out(HelpText().trimmed());
        return kOk;
    }
    if (plan.options.version) {
        Out(QStringLiteral("vardelctl " VARDEL_VERSION));
        return kOk;
    }
    Console console(plan.options);
    int status = kOk;
    RequestStats stats;
    {
        Runner session(plan, console);
        try {
            session.Load();
        } catch (const UsageError& e) {
            Err(e.why);
            return kUsage;
        } catch (const AppError& e) {
            Err(BoxText(e.message()));
            return kError;
        }
        CatchSignals(session);
        try {
            session.Run();
            if (session.different) status = kDifferent;
            if (session.notPassed) status = kNotPassed;
            if (!console.allAnswered() || session.incomplete) status = kNoValidReply;
        } catch (const AppError& e) {
            Err(BoxText(e.message()));
            status = kError;
        }
        session.Release(); // the port is free for others before anything else is said
        stats = session.stats();
    }
    if (SaveLog(plan.options, console) != kOk) status = kError;
    if (plan.options.stats || gSignal) PrintStats(plan.options.format, stats);
    if (gSignal) return 128 + gSignal;
    return status;
}
