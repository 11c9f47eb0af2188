// Walk throughput: N single-register reads of one group through the real engine and
// SerialLink against vardel-sim on a pseudo-terminal, and in the same run N reads with
// libmodbus against the same simulator. With --wire-time BAUD the simulator delays each
// reply by the line's transmission time, and ours is compared with the line's limit.
#include "link/serial.h"
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
    void StartRepaintTimer() override { ++valid; }
    void Pause(int) override {}
    QString SlaveText() const override { return QStringLiteral("247"); }
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

Stats Ours(const QString& port, const QString& settings, int& valid) {
    RegisterTree tree;
    TreeNode* group = tree.appendTopLevel();
    group->record.Name = "G";
    group->states |= NodeState::HasChildren;
    for (int i = 0; i < kReads; ++i) {
        TreeNode* r = group->appendChild();
        r->record = {QStringLiteral("R%1").arg(i),
                     "",
                     QString::number(kFirstAddress + i),
                     "WORD",
                     "1",
                     "RW",
                     ""};
    }
    SerialLink link;
    if (!link.OpenPort(port, settings) || !link.SetPortTimeouts(30, 0, 40, 0, 30)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(port),
                     qPrintable(link.failureReason));
        std::exit(1);
    }
    TimingFrontend ui;
    TransactionEngine engine(tree, link, ui);
    ui.clock.start();
    engine.ReadFromNode(group);
    ui.starts.push_back(ui.clock.nsecsElapsed());
    std::vector<double> ms;
    for (std::size_t i = 1; i < ui.starts.size(); ++i)
        ms.push_back((ui.starts[i] - ui.starts[i - 1]) / 1e6);
    valid = ui.valid;
    return Summarise(ms);
}

Stats Libmodbus(const QString& port, int baud, char parity, int& valid) {
    modbus_t* ctx = modbus_new_rtu(qPrintable(port), baud, parity, 8, parity == 'N' ? 2 : 1);
    modbus_set_slave(ctx, 247);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus cannot open %s\n", qPrintable(port));
        std::exit(1);
    }
    std::vector<double> ms;
    QElapsedTimer t;
    valid = 0;
    for (int i = 0; i < kReads; ++i) {
        uint16_t value;
        t.start();
        valid += modbus_read_registers(ctx, kFirstAddress + i, 1, &value) == 1;
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return Summarise(ms);
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
    std::printf("%d single-register reads (function 3) against vardel-sim on a pseudo-terminal, %d "
                "baud 8E1%s\n",
                kReads, baud, wireBaud ? ", --wire-time, 1 ms turnaround" : "");
    int oursValid = 0, theirsValid = 0;
    const Stats ours = Ours(port, QStringLiteral("%1,e,8,1").arg(baud), oursValid);
    const Stats theirs = Libmodbus(port, baud, 'E', theirsValid);
    Print("vardel", ours);
    Print("libmodbus", theirs);
    std::printf("  valid replies: vardel %d/%d, libmodbus %d/%d\n", oursValid, kReads, theirsValid,
                kReads);
    std::printf("  time per read, vardel / libmodbus: %.3f\n", ours.meanMs / theirs.meanMs);
    if (wireBaud) {
        // Request 8 and reply 7 characters of 11 bits, two 3.5-character gaps, turnaround.
        const double limitMs = (15 + 7) * 11.0 * 1000 / baud + 1;
        std::printf("  line limit %.2f ms per read: vardel reaches %.0f %%, libmodbus %.0f %%\n",
                    limitMs, 100 * limitMs / ours.meanMs, 100 * limitMs / theirs.meanMs);
        std::printf(
            "  (the simulator delays by transmission time and turnaround only, without the\n"
            "   3.5-character gaps, so a master that adds no waiting of its own passes 100 %%)\n");
    }
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
