// A day of monitoring, compressed: 100,000 monitor reads of one register through the engine
// and SerialLink against vardel-sim; resident memory at the start and at the end.
#include "link/serial.h"
#include "regmap/devicefile.h"
#include "report.h"
#include "txn/engine.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// Counts the monitor lines' bytes instead of keeping them: the log's own growth is not
// what is measured here.
class CountingFrontend : public Frontend {
public:
    qint64 logBytes = 0, lines = 0;
    void ShowMessage(const QString& t) override { std::fprintf(stderr, "%s\n", qPrintable(t)); }
    void ProcessEvents() override {}
    void SetTxText(const QString&) override {}
    void SetRxText(const QString&) override {}
    void AppendLog(const QString& line) override {
        logBytes += 2 * line.size();
        ++lines;
    }
    bool MonitorChecked() const override { return true; }
    void StartRepaintTimer() override {}
    void Pause(int) override {}
    QString SlaveText() const override { return QStringLiteral("247"); }
    void TransactionEnded(const TransactionOutcome&) override {}
};
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath() + "/../bin";
    QTemporaryDir dir;
    QProcess sim;
    sim.start(bin + "/vardel-sim", {"--device", bin + "/TR100F.dat", "--pty", dir.path() + "/tty",
                                    "--jitter", "R0:5", "--seed", "1"});
    if (!sim.waitForReadyRead(5000)) return 1;
    RegisterTree tree;
    LoadDeviceFile(bin + "/TR100F.dat", tree);
    SerialLink link;
    if (!link.OpenPort(dir.path() + "/tty", "19200,e,8,1")) return 1;
    link.SetPortTimeouts(30, 0, 40, 0, 30);
    CountingFrontend ui;
    TransactionEngine engine(tree, link, ui);
    engine.SetCurrentNode(tree.FindNodeByName("R0"));
    constexpr int kReads = 100000;
    long start = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kReads; ++i) {
        engine.ReadRegister(engine.CurrentNode());
        if (i == 999) start = ResidentKilobytes(); // after the first allocations settle
    }
    const long end = ResidentKilobytes();
    std::printf("%d monitor reads of R0 against vardel-sim in %.1f s, %lld valid value lines\n",
                kReads, t.elapsed() / 1000.0, static_cast<long long>(ui.lines));
    std::printf("  resident memory after 1,000 reads %ld kB, after %d reads %ld kB (%+ld kB)\n",
                start, kReads, end, end - start);
    char ours[128];
    std::snprintf(ours, sizeof ours, "resident memory %+ld kB from read 1,000 to %d", end - start,
                  kReads);
    TableRow("100,000 monitor reads (bench_monitor)", ours, "-",
             end - start < 1024 ? "flat" : "grows");
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
