// vardelctl: the transaction engine from the command line. Standard output carries the lines
// the log window would receive; boxes and -v traffic go to standard error.
#include "link/serial.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "tools/logfile.h"
#include "tools/operator.h"
#include "txn/engine.h"
#include "txn/loglines.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {

enum Exit { kOk = 0, kError = 1, kUsage = 2, kNoValidReply = 3 };

const char* const kUsageText =
    "usage: vardelctl [--port PORT] [--baud 9600|19200] [--parity none|even|odd] [--slave N]\n"
    "                 [--timeout MS] --device FILE.dat [--log FILE] [-v] COMMAND...\n"
    "commands: read NAME | write NAME VALUE | reset | monitor NAME PERIOD_MS COUNT |\n"
    "          calibrate RANGE COUNT [--store] | list\n";

struct UsageError {
    QString why;
};

class Console : public Frontend {
public:
    bool verbose = false;
    bool monitoring = false;
    QString slave = QStringLiteral("247");
    QString logText;
    // Requests that ended, and those of them that ended in a valid reply.
    int ended = 0, validReplies = 0;
    bool refused = false;

    void ShowMessage(const QString& text) override {
        refused = true;
        Err(text);
    }
    void ProcessEvents() override { QCoreApplication::processEvents(); }
    void SetTxText(const QString& text) override {
        if (verbose) Err(QStringLiteral("TX: ") + text);
    }
    void SetRxText(const QString& text) override {
        if (verbose && !text.isEmpty()) Err(QStringLiteral("RX: ") + text);
    }
    void AppendLog(const QString& line) override {
        logText += line + '\n';
        const QByteArray utf8 = (line + '\n').toUtf8();
        std::fwrite(utf8.constData(), 1, utf8.size(), stdout);
        std::fflush(stdout);
    }
    bool MonitorChecked() const override { return monitoring; }
    void StartRepaintTimer() override {}
    void TransactionEnded(const TransactionOutcome& outcome) override {
        ++ended;
        if (outcome.kind == ReplyOutcome::Valid) ++validReplies;
    }
    void Pause(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }
    QString SlaveText() const override { return slave; }

    static void Err(const QString& text) {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    }
    bool allAnswered() const { return !refused && validReplies == ended; }
};

constexpr int kDefaultTimeoutMs = 40; // the window's read window
constexpr int kMaxTimeoutMs = 60000;

struct Options {
    QString port, baud = QStringLiteral("19200"), parity = QStringLiteral("even"), device, log;
    int timeoutMs = kDefaultTimeoutMs;
    QStringList commands;
};

int ParseTimeout(const QString& text) {
    bool ok = false;
    const int ms = text.toInt(&ok);
    if (!ok || ms < 1 || ms > kMaxTimeoutMs)
        throw UsageError{QStringLiteral("--timeout must be a whole number of milliseconds from 1 "
                                        "to %1, not %2")
                             .arg(kMaxTimeoutMs)
                             .arg(text)};
    return ms;
}

Options ParseOptions(const QStringList& args, Console& console) {
    Options o;
    int i = 0;
    auto value = [&](const QString& name) {
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        return args[++i];
    };
    for (; i < args.size() && args[i].startsWith('-'); ++i) {
        const QString& a = args[i];
        if (a == "--port")
            o.port = value(a);
        else if (a == "--baud")
            o.baud = value(a);
        else if (a == "--parity")
            o.parity = value(a);
        else if (a == "--slave")
            console.slave = value(a);
        else if (a == "--device")
            o.device = value(a);
        else if (a == "--log")
            o.log = value(a);
        else if (a == "--timeout")
            o.timeoutMs = ParseTimeout(value(a));
        else if (a == "-v")
            console.verbose = true;
        else
            throw UsageError{"unknown option " + a};
    }
    o.commands = args.mid(i);
    if (o.device.isEmpty()) throw UsageError{QStringLiteral("--device is required")};
    if (o.commands.isEmpty()) throw UsageError{QStringLiteral("no command")};
    if (!QStringList{"none", "even", "odd"}.contains(o.parity))
        throw UsageError{"parity must be none, even or odd, not " + o.parity};
    return o;
}

class Session {
public:
    Session(const Options& options, Console& console)
        : options_(options), console_(console), engine_(tree_, link_, console_),
          calibration_(engine_, tree_, console_), monitor_(engine_, console_) {
        engine_.setContinuation(&calibration_);
        calibration_.setResult = [this](const QString& mean) { mean_ = mean; };
        QObject::connect(&monitor_.Timer1, &QTimer::timeout,
                         [this] { Guard([this] { monitor_.Tick(); }); });
    }

    void Run() {
        LoadDeviceFile(options_.device, tree_);
        const QStringList& c = options_.commands;
        for (int i = 0; i < c.size();) {
            const QString& command = c[i];
            engine_.EndWalk(); // a walk that stopped early ends with its command
            auto arg = [&](int k) {
                if (i + k >= c.size()) throw UsageError{command + " needs more arguments"};
                return c[i + k];
            };
            if (command == "read") {
                Read(arg(1));
                i += 2;
            } else if (command == "write") {
                Write(arg(1), arg(2));
                i += 3;
            } else if (command == "reset") {
                OpenOnce();
                SendReset(engine_);
                i += 1;
            } else if (command == "monitor") {
                RunMonitor(arg(1), arg(2), arg(3));
                i += 4;
            } else if (command == "calibrate") {
                const bool store = i + 3 < c.size() && c[i + 3] == "--store";
                Calibrate(arg(1), arg(2), store);
                i += store ? 4 : 3;
            } else if (command == "list") {
                List();
                i += 1;
            } else
                throw UsageError{"unknown command " + command};
        }
    }
    bool incomplete = false;

private:
    template <typename F> void Guard(F&& f) {
        try {
            f();
        } catch (const AppError& e) {
            Console::Err(BoxText(e.message()));
            error_ = true;
            QCoreApplication::exit(kError);
        }
    }

    void OpenOnce() {
        if (link_.isOpen()) return;
        if (options_.port.isEmpty()) throw AppError(QStringLiteral("brak portu: podaj --port"));
        const int parity = options_.parity == "even" ? 1 : options_.parity == "odd" ? 2 : 0;
        if (!link_.OpenPort(PortPathFor(options_.port), LineSettingsFor(options_.baud, parity)) ||
            !link_.SetPortTimeouts(30, 0, static_cast<std::uint16_t>(options_.timeoutMs), 0, 30))
            throw AppError(link_.failureReason);
    }

    TreeNode* Find(const QString& name) {
        TreeNode* node = tree_.FindNodeByName(name);
        if (!node)
            throw AppError(QStringLiteral("Nie ma rejestru \"%1\" w pliku urządzenia").arg(name));
        return node;
    }

    void Read(const QString& name) {
        TreeNode* node = Find(name);
        OpenOnce();
        engine_.ReadFromNode(node);
    }

    void Write(const QString& name, const QString& value) {
        TreeNode* node = Find(name);
        const AccessCode access = AccessCodeOf(node->record.Access());
        if ((access != acRW && access != acRP) || TypeCodeOf(node->record.Type()) == tcNone)
            throw AppError(QStringLiteral("Rejestru \"%1\" nie można zapisać (dostęp \"%2\", typ "
                                          "\"%3\")")
                               .arg(name, node->record.Access(), node->record.Type()));
        OpenOnce();
        node->record.setValue(value);
        engine_.WriteIfWritable(node);
    }

    void RunMonitor(const QString& name, const QString& period, const QString& countText) {
        TreeNode* node = Find(name);
        const int count = ParseInteger(countText);
        if (ParseInteger(period) < kMinimumPeriodMs)
            throw AppError(QStringLiteral("Okres monitorowania musi wynosić co najmniej %1 ms")
                               .arg(kMinimumPeriodMs));
        OpenOnce();
        engine_.MakeCurrent(node);
        const QString label = node->record.Name().toString() + ':';
        const int validBefore = console_.validReplies, endedBefore = console_.ended;
        console_.monitoring = true;
        monitor_.Click(true, period, label);
        // A silent device must not hold the session forever: give up after twice the count.
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (error_ || !monitor_.Timer1.isActive() ||
                console_.validReplies - validBefore >= count ||
                console_.ended - endedBefore >= 2 * count + 5)
                loop.quit();
        });
        check.start(5);
        if (console_.validReplies - validBefore < count) loop.exec();
        console_.monitoring = false;
        monitor_.Click(false, period, label);
        if (error_) throw AppError(QStringLiteral("monitorowanie przerwane"));
    }

    void Calibrate(const QString& range, const QString& countText, bool store) {
        const std::int32_t count = ParseInteger(countText);
        if (count <= 0)
            throw AppError(QStringLiteral("Liczba próbek kalibracji musi być większa od 0, "
                                          "a jest %1")
                               .arg(countText));
        if (!tree_.FindNodeByName(QStringLiteral("R0")))
            throw AppError(QStringLiteral("Plik urządzenia nie ma rejestru \"R0\": kalibracja "
                                          "jest niemożliwa"));
        OpenOnce();
        mean_.clear();
        if (!calibration_.Start(range, countText)) {
            Console::Err(QStringLiteral("Kalibracja nie została ukończona: brak odpowiedzi"));
            incomplete = true;
            return;
        }
        if (store && !mean_.isEmpty()) calibration_.Store(range, mean_);
    }

    void List() {
        for (TreeNode* n = tree_.First(); n; n = RegisterTree::GetNext(n)) {
            const RegisterNode& r = n->record;
            const QString line = QString(2 * n->depth(), ' ') +
                                 QStringList{PrintableText(r.Name()), PrintableText(r.Address()),
                                             PrintableText(r.Type()), PrintableText(r.Count()),
                                             PrintableText(r.Access())}
                                     .join('\t');
            const QByteArray utf8 = (line + '\n').toUtf8();
            std::fwrite(utf8.constData(), 1, utf8.size(), stdout);
        }
    }

    const Options& options_;
    Console& console_;
    RegisterTree tree_;
    SerialLink link_;
    TransactionEngine engine_;
    Calibration calibration_;
    Monitor monitor_;
    QString mean_;
    bool error_ = false;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Console console;
    int status = kOk;
    Options options;
    try {
        options = ParseOptions(app.arguments().mid(1), console);
        Session session(options, console);
        try {
            session.Run();
            if (!console.allAnswered() || session.incomplete) status = kNoValidReply;
        } catch (const AppError& e) {
            Console::Err(BoxText(e.message()));
            status = kError;
        }
    } catch (const UsageError& e) {
        Console::Err(e.why);
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    if (!options.log.isEmpty() && !console.logText.isEmpty()) {
        try {
            SaveLogFile(options.log, console.logText);
        } catch (const AppError& e) {
            Console::Err(BoxText(e.message()));
            status = kError;
        }
    }
    return status;
}
