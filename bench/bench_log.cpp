// Log growth: 100,000 transaction lines appended to the real log window, offscreen. Reports
// the time per line of the first and the last 10,000 (the median of their 1,000-line chunks)
// and the memory per line, once appending only and once repainting after every line. The window's
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
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kLines = 100000, kSlice = 10000, kChunk = 1000;

struct Growth {
    double firstUs, lastUs, bytesPerLine;
};

// The median of the per-line times of the 1,000-line chunks in [begin, end): a pause of the
// machine in one chunk does not move it.
double MedianUs(const std::vector<double>& chunkUs, int begin, int end) {
    std::vector<double> part(chunkUs.begin() + begin, chunkUs.begin() + end);
    std::nth_element(part.begin(), part.begin() + part.size() / 2, part.end());
    return part[part.size() / 2];
}

Growth AppendToWindow(QApplication& app, const QString& line, bool repaint) {
    const QString memory =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir dir(memory + QStringLiteral("/vardel-bench-XXXXXX"));
    TForm1 window(dir.path() + "/vardel");
    window.show();
    app.processEvents();
    const long before = ResidentKilobytes();
    std::vector<double> chunkUs;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kLines; ++i) {
        window.AppendLogLine(line);
        if (repaint) app.processEvents(); // as after every reply in the program
        if ((i + 1) % kChunk == 0) chunkUs.push_back(t.nsecsElapsed() / 1e3 / kChunk);
        if ((i + 1) % kChunk == 0) t.restart();
    }
    app.processEvents();
    const long after = ResidentKilobytes();
    window.findChild<QAction*>("Wyczy1")->trigger();
    window.close();
    constexpr int chunks = kLines / kChunk, sliceChunks = kSlice / kChunk;
    return {MedianUs(chunkUs, 0, sliceChunks), MedianUs(chunkUs, chunks - sliceChunks, chunks),
            (after - before) * 1024.0 / kLines};
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
    const Growth g = AppendToWindow(app, line, false);
    const Growth painted = AppendToWindow(app, line, true);
    const double journalUs = JournalMicroseconds(line);
    std::printf("%d lines of %lld characters appended to the log window (offscreen, its journal "
                "in memory)\n",
                kLines, static_cast<long long>(line.size()));
    std::printf(
        "  first 10,000: %.1f us per line   last 10,000: %.1f us per line   (last/first %.2f)\n",
        g.firstUs, g.lastUs, g.lastUs / g.firstUs);
    std::printf("  with the window repainted after every line: first 10,000: %.1f us, last 10,000: "
                "%.1f us (last/first %.2f)\n",
                painted.firstUs, painted.lastUs, painted.lastUs / painted.firstUs);
    std::printf("  resident memory grew by %.0f bytes per line (the text itself: %lld bytes in the "
                "code page)\n",
                g.bytesPerLine, static_cast<long long>(line.size() + 1));
    std::printf("  the journal on the disk beside the executable adds %.1f us per line (a write "
                "and an fdatasync)\n",
                journalUs);
    char ours[160], verdict[128];
    std::snprintf(ours, sizeof ours, "%.1f us per line for the first 10,000, %.1f us for the last",
                  g.firstUs, g.lastUs);
    std::snprintf(verdict, sizeof verdict,
                  "last/first %.2f (%.2f repainting every line); %.0f bytes per line; journal "
                  "+%.0f us",
                  g.lastUs / g.firstUs, painted.lastUs / painted.firstUs, g.bytesPerLine,
                  journalUs);
    TableRow("100,000 lines into the log window, offscreen (bench_log)", ours, "-", verdict);
    return 0;
}
