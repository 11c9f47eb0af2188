// Log growth: 100,000 transaction lines appended to the real log window, offscreen. Reports
// the time per line of the first and the last 10,000 and the memory per line.
#include "app/mainwindow.h"
#include "resident.h"
#include "txn/loglines.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    TForm1 window(dir.path() + "/vardel");
    window.show();
    constexpr int kLines = 100000, kSlice = 10000;
    const QString line = TransactionLine("1000", "Temperatura", "23,50");
    const long before = ResidentKilobytes();
    QElapsedTimer t;
    double firstMs = 0, lastMs = 0;
    t.start();
    for (int i = 0; i < kLines; ++i) {
        window.AppendLogLine(line);
        if (i + 1 == kSlice) firstMs = t.nsecsElapsed() / 1e6;
        if (i + 1 == kLines - kSlice) t.restart();
    }
    lastMs = t.nsecsElapsed() / 1e6;
    app.processEvents();
    const long after = ResidentKilobytes();
    std::printf(
        "%d lines of %lld characters appended to the log window (offscreen, with its journal)\n",
        kLines, static_cast<long long>(line.size()));
    std::printf(
        "  first 10,000: %.1f us per line   last 10,000: %.1f us per line   (last/first %.2f)\n",
        firstMs * 1000 / kSlice, lastMs * 1000 / kSlice, lastMs / firstMs);
    std::printf(
        "  resident memory grew by %.0f bytes per line (the text itself: %lld bytes as UTF-16)\n",
        (after - before) * 1024.0 / kLines, static_cast<long long>(2 * (line.size() + 1)));
    window.Wyczy1Click();
    window.close();
    return 0;
}
