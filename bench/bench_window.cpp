// A group read in the window at the wire's pace: the real main window (offscreen) reads the
// 300 registers of "Kanały" in TR300F.dat from vardel-sim with --wire-time at 19200 baud, and
// in the same run vardelctl reads the same group from the same simulator. Rounds alternate
// so that a change in the machine's load falls on both; the medians are compared.
#include "app/mainwindow.h"
#include "report.h"
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 5;
const char* const kGroup = "Kanały";

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// vardelctl's time for the group alone: its whole run less the run of one short read, which
// carries the same start-up, device load and port opening.
double CtlSeconds(const QString& bin, const QString& port, const QStringList& what) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(bin + "/vardelctl",
            QStringList{"--port", port, "--device", bin + "/TR300F.dat"} + what);
    p.waitForFinished(120000);
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath() + "/../bin";
    QTemporaryDir dir;
    QFile::copy(bin + "/TR300F.dat", dir.path() + "/TR300F.dat");
    QProcess sim;
    const QString port = dir.path() + "/tty";
    sim.start(bin + "/vardel-sim",
              {"--device", bin + "/TR300F.dat", "--pty", port, "--wire-time", "--baud", "19200"});
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "vardel-sim did not start\n");
        return 1;
    }
    TForm1 window(dir.path() + "/vardel");
    window.messageSink = [](const QString& text, bool) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    };
    window.askQuestion = [](const QString&) { return true; };
    window.show();
    window.cbxDeviceSelect("TR300F.dat");
    TreeNode* group = window.tree().FindNodeByName(QString::fromUtf8(kGroup));
    if (!group) return 1;

    std::vector<double> ours, theirs;
    int lines = 0;
    for (int round = 0; round < kRounds; ++round) {
        window.ComCBox->setEditText(port);
        window.ComCBoxSelect();
        const int before = window.LogText().count('\n');
        QElapsedTimer t;
        t.start();
        window.engine().ReadFromNode(group);
        ours.push_back(t.nsecsElapsed() / 1e9);
        lines = window.LogText().count('\n') - before;
        window.Disconnect(); // the port is free for vardelctl
        const double whole = CtlSeconds(bin, port, {"read", QString::fromUtf8(kGroup)});
        const double startup = CtlSeconds(bin, port, {"read", "Wersja"});
        theirs.push_back(whole - startup);
    }
    const double mine = Median(ours), peer = Median(theirs);
    std::printf("%d rounds, 300 registers of \"%s\" (%d log lines a round) at 19200 baud wire "
                "time:\n  window %.3f s (median), vardelctl %.3f s (median of its run less one "
                "short read's run)\n  window / vardelctl: %.3f\n",
                kRounds, kGroup, lines, mine, kRounds == 0 ? 0.0 : peer, mine / peer);
    char vardel[96], other[96], ratio[96];
    std::snprintf(vardel, sizeof vardel, "window %.2f s for 300 registers", mine);
    std::snprintf(other, sizeof other, "vardelctl %.2f s, same simulator", peer);
    std::snprintf(ratio, sizeof ratio, "%.3f of vardelctl's time", mine / peer);
    TableRow("group read in the window, 19200 baud wire time (bench_window)", vardel, other, ratio);
    window.close();
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
