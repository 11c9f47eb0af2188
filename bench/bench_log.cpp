// Log growth: 100,000 transaction lines appended to the real log window, offscreen. Reports
// the time per line of the first and the last 10,000 and the memory per line. The window's
// journal goes to memory (/dev/shm) there, so the figures are the window's own; the journal's
// cost on the disk beside the executable is measured on its own afterwards.
#include "app/mainwindow.h"
#include "report.h"
#include "tools/journal.h"
#include "txn/loglines.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kLines = 100000, kSlice = 10000;

struct Growth {
    double firstUs, lastUs, bytesPerLine;
};

Growth AppendToWindow(QApplication& app, const QString& line) {
    const QString memory =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir dir(memory + QStringLiteral("/vardel-bench-XXXXXX"));
    TForm1 window(dir.path() + "/vardel");
    window.show();
    app.processEvents();
    const long before = ResidentKilobytes();
    QElapsedTimer t;
    double firstMs = 0;
    t.start();
    for (int i = 0; i < kLines; ++i) {
        window.AppendLogLine(line);
        if (i + 1 == kSlice) firstMs = t.nsecsElapsed() / 1e6;
        if (i + 1 == kLines - kSlice) t.restart();
    }
    const double lastMs = t.nsecsElapsed() / 1e6;
    app.processEvents();
    const long after = ResidentKilobytes();
    window.Wyczy1Click();
    window.close();
    return {firstMs * 1000 / kSlice, lastMs * 1000 / kSlice, (after - before) * 1024.0 / kLines};
}

// The journal alone, on the disk beside the executable where the real one lives.
double JournalMicroseconds(const QString& line) {
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + "/journal-XXXXXX");
    LogJournal journal;
    journal.Open(dir.path() + "/vardel.log");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kSlice; ++i)
        journal.Append(line);
    const double us = t.nsecsElapsed() / 1e3 / kSlice;
    journal.Remove();
    return us;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString line = TransactionLine("1000", "Temperatura", "23,50");
    const Growth g = AppendToWindow(app, line);
    const double journalUs = JournalMicroseconds(line);
    std::printf("%d lines of %lld characters appended to the log window (offscreen, its journal "
                "in memory)\n",
                kLines, static_cast<long long>(line.size()));
    std::printf(
        "  first 10,000: %.1f us per line   last 10,000: %.1f us per line   (last/first %.2f)\n",
        g.firstUs, g.lastUs, g.lastUs / g.firstUs);
    std::printf(
        "  resident memory grew by %.0f bytes per line (the text itself: %lld bytes as UTF-16)\n",
        g.bytesPerLine, static_cast<long long>(2 * (line.size() + 1)));
    std::printf("  the journal on the disk beside the executable adds %.1f us per line (a write "
                "and an fdatasync)\n",
                journalUs);
    char ours[160], verdict[128];
    std::snprintf(ours, sizeof ours, "%.1f us per line for the first 10,000, %.1f us for the last",
                  g.firstUs, g.lastUs);
    std::snprintf(verdict, sizeof verdict, "last/first %.2f; %.0f bytes per line; journal +%.0f us",
                  g.lastUs / g.firstUs, g.bytesPerLine, journalUs);
    TableRow("100,000 lines into the log window, offscreen (bench_log)", ours, "-", verdict);
    return 0;
}
