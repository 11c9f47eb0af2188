// Walk throughput: N single-register reads of one group through the real engine and
// SerialLink against vardel-sim on a pseudo-terminal, and in the same run N reads with
// libmodbus against the same simulator. With --wire-time BAUD the simulator delays each
// reply by the line's transmission time, and ours is compared with the line's limit.
#include "link/serial.h"
#include "report.h"
#include "txn/engine.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <modbus/modbus.h>
#include <vector>

namespace {

constexpr int kReads = 500;
// The two masters take turns, a round of kPerRound reads each, so a change in the machine's
// load during the run falls on both.
constexpr int kRounds = 5, kPerRound = kReads / kRounds;
constexpr int kFirstAddress = 1000;

// Records when each request starts; nothing else costs time.
class TimingFrontend : public Frontend {
public:
    QElapsedTimer clock;
    std::vector<qint64> starts;
    int valid = 0;
    void ShowMessage(const QString&) override {}
    void ProcessEvents() override {}
    void SetTxText(const QString&) override { starts.push_back(clock.nsecsElapsed()); }
    void SetRxText(const QString&) override {}
    void AppendLog(const QString&) override {}
    bool MonitorChecked() const override { return false; }
    void StartRepaintTimer() override {}
    void Pause(int) override {}
    QString SlaveText() const override { return QStringLiteral("247"); }
    void TransactionEnded(const TransactionOutcome& outcome) override {
        if (outcome.kind == ReplyOutcome::Valid) ++valid;
    }
};

struct Stats {
    double perSecond, medianMs, p99Ms, meanMs;
};

Stats Summarise(std::vector<double> ms) {
    double total = 0;
    for (double m : ms)
        total += m;
    std::sort(ms.begin(), ms.end());
    return {1000.0 * ms.size() / total, ms[ms.size() / 2], ms[ms.size() * 99 / 100],
            total / ms.size()};
}

void Print(const char* who, const Stats& s) {
    std::printf("  %-10s %8.1f reads/s   median %7.3f ms   p99 %7.3f ms\n", who, s.perSecond,
                s.medianMs, s.p99Ms);
}

// The engine and SerialLink reading one group of kPerRound registers, one walk per round.
class OurMaster {
public:
    OurMaster(const QString& port, const QString& settings) : engine_(tree_, link_, ui_) {
        group_ = tree_.appendTopLevel();
        group_->record.Name = "G";
        group_->states |= NodeState::HasChildren;
        for (int i = 0; i < kPerRound; ++i)
            group_->appendChild()->record = {QStringLiteral("R%1").arg(i),
                                             "",
                                             QString::number(kFirstAddress + i),
                                             "WORD",
                                             "1",
                                             "RW",
                                             ""};
        if (!link_.OpenPort(port, settings) || !link_.SetPortTimeouts(30, 0, 40, 0, 30)) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(port),
                         qPrintable(link_.failureReason));
            std::exit(1);
        }
        ui_.clock.start();
    }

    // Adds the time of every request of one walk to ms.
    void Round(std::vector<double>& ms) {
        ui_.starts.clear();
        engine_.ReadFromNode(group_);
        // A request without a reply is tried once more by the walk itself: count the extras.
        lost += std::max(0, int(ui_.starts.size()) - kPerRound);
        ui_.starts.push_back(ui_.clock.nsecsElapsed());
        for (std::size_t i = 1; i < ui_.starts.size(); ++i)
            ms.push_back((ui_.starts[i] - ui_.starts[i - 1]) / 1e6);
        if (!link_.isOpen())
            std::fprintf(stderr, "vardel: the link closed: %s\n", qPrintable(link_.failureReason));
    }
    int valid() const { return ui_.valid; }
    int lost = 0;

private:
    RegisterTree tree_;
    TreeNode* group_ = nullptr;
    SerialLink link_;
    TimingFrontend ui_;
    TransactionEngine engine_;
};

class TheirMaster {
public:
    TheirMaster(const QString& port, int baud, char parity)
        : ctx_(modbus_new_rtu(qPrintable(port), baud, parity, 8, parity == 'N' ? 2 : 1)) {
        modbus_set_slave(ctx_, 247);
        if (modbus_connect(ctx_) != 0) {
            std::fprintf(stderr, "libmodbus cannot open %s\n", qPrintable(port));
            std::exit(1);
        }
    }
    ~TheirMaster() {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    void Round(std::vector<double>& ms) {
        QElapsedTimer t;
        for (int i = 0; i < kPerRound; ++i) {
            uint16_t value;
            t.start();
            valid += modbus_read_registers(ctx_, kFirstAddress + i, 1, &value) == 1;
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
    }
    int valid = 0;

private:
    modbus_t* ctx_;
};

// Request 8 and reply 7 characters of 11 bits, two 3.5-character gaps, 1 ms turnaround.
double LineLimitMs(int baud) {
    return (15 + 7) * 11.0 * 1000 / baud + 1;
}

void SummaryRow(int wireBaud, const Stats& ours, const Stats& theirs) {
    char what[96], vardel[96], peer[96], ratio[96];
    std::snprintf(vardel, sizeof vardel, "%.3f ms per read, median %.3f", ours.meanMs,
                  ours.medianMs);
    std::snprintf(peer, sizeof peer, "libmodbus %.3f ms, median %.3f", theirs.meanMs,
                  theirs.medianMs);
    const double ratioOfTimes = ours.meanMs / theirs.meanMs;
    if (wireBaud) {
        std::snprintf(what, sizeof what, "the same, %d baud wire time (--wire-time %d)", wireBaud,
                      wireBaud);
        const double limitMs = LineLimitMs(wireBaud);
        std::snprintf(ratio, sizeof ratio, "%.2f; %.0f %% of the %.1f ms line limit", ratioOfTimes,
                      100 * limitMs / ours.meanMs, limitMs);
    } else {
        std::snprintf(what, sizeof what, "%d single-register reads, pseudo-terminal (bench_walk)",
                      kReads);
        std::snprintf(ratio, sizeof ratio, "%.2f of libmodbus's time", ratioOfTimes);
    }
    TableRow(what, vardel, peer, ratio);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int wireBaud = args.size() > 2 && args[1] == "--wire-time" ? args[2].toInt() : 0;
    const int baud = wireBaud ? wireBaud : 19200;
    QTemporaryDir dir;
    const QString bin = QCoreApplication::applicationDirPath() + "/../bin";
    QStringList simArgs{"--device",
                        bin + "/TR100.dat",
                        "--pty",
                        dir.path() + "/tty",
                        "--set",
                        QStringLiteral("%1=%2")
                            .arg(kFirstAddress)
                            .arg(QStringList(QList<QString>(kReads, "7")).join(','))};
    if (wireBaud)
        simArgs << "--wire-time"
                << "--baud" << QString::number(baud) << "--turnaround"
                << "1";
    QProcess sim;
    sim.start(bin + "/vardel-sim", simArgs);
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "vardel-sim did not start\n");
        return 1;
    }
    const QString port = dir.path() + "/tty";
    std::printf("%d single-register reads (function 3) each, in %d alternating rounds, against "
                "vardel-sim on a pseudo-terminal, %d baud 8E1%s\n",
                kReads, kRounds, baud, wireBaud ? ", --wire-time, 1 ms turnaround" : "");
    OurMaster vardel(port, QStringLiteral("%1,e,8,1").arg(baud));
    TheirMaster libmodbus(port, baud, 'E');
    std::vector<double> oursMs, theirsMs;
    for (int round = 0; round < kRounds; ++round) {
        vardel.Round(oursMs);
        libmodbus.Round(theirsMs);
    }
    const Stats ours = Summarise(oursMs), theirs = Summarise(theirsMs);
    const int oursValid = vardel.valid(), theirsValid = libmodbus.valid, oursLost = vardel.lost;
    Print("vardel", ours);
    Print("libmodbus", theirs);
    std::printf("  valid replies: vardel %d/%d, libmodbus %d/%d\n", oursValid, kReads + oursLost,
                theirsValid, kReads);
    if (oursLost)
        std::printf("  vardel: %d requests without a reply in the read window, each repeated\n",
                    oursLost);
    std::printf("  time per read, vardel / libmodbus: %.3f\n", ours.meanMs / theirs.meanMs);
    if (wireBaud) {
        const double limitMs = LineLimitMs(baud);
        std::printf("  line limit %.2f ms per read: vardel reaches %.0f %%, libmodbus %.0f %%\n",
                    limitMs, 100 * limitMs / ours.meanMs, 100 * limitMs / theirs.meanMs);
    }
    SummaryRow(wireBaud, ours, theirs);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
