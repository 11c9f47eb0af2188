// A day of monitoring at 100 ms in the trend window: 864,000 values fed to a real window,
// offscreen. Reports the resident memory per value and the time of a repaint (the window's
// own Refresh and a synchronous paint of the chart), following the newest minute and showing
// the whole day. The peer is the same chart drawing every value, as a plain QLineSeries
// holding all 864,000 points would.
#include "app/trendwindow.h"
#include "report.h"
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRepaints = 15, kPeerRepaints = 5; // the peer takes about a second each

// A reading that settles from 20 to 23.5 over an hour, with a slow drift and some noise.
double Reading(int i) {
    const double hours = i / 36000.0;
    return 23.5 - 3.5 * std::exp(-hours) + 0.2 * std::sin(hours) + 0.01 * ((i * 7919) % 101 - 50);
}

double MedianMs(std::vector<double> ms) {
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

// The median of a few times of what a repaint costs: the data handed to the chart, then
// the chart painted.
template <class Prepare>
double RepaintMs(QApplication& app, QChartView* view, int repaints, Prepare prepare) {
    std::vector<double> ms;
    for (int i = 0; i < repaints; ++i) {
        QElapsedTimer t;
        t.start();
        prepare();
        view->viewport()->repaint();
        ms.push_back(t.nsecsElapsed() / 1e6);
        app.processEvents();
    }
    return MedianMs(ms);
}

QDateTimeAxis* TimeAxisOf(QChart* chart) {
    return static_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).first());
}

struct Ours {
    double followMs, dayMs, bytesPerValue;
};

Ours MeasureOurs(QApplication& app, int values, qint64 start) {
    TrendWindow window(QStringLiteral("Temperatura"));
    window.resize(1200, 600);
    window.show();
    window.Refresh();
    app.processEvents();
    const long before = ResidentKilobytes();
    for (int i = 0; i < values; ++i)
        window.AddValue(start + qint64(i) * 100, Reading(i));
    window.Refresh();
    app.processEvents();
    const long after = ResidentKilobytes();
    auto* view = window.findChild<QChartView*>();
    const double followMs = RepaintMs(app, view, kRepaints, [&] { window.Refresh(); });
    // Showing the whole day: the operator zoomed out, so the window stops following.
    TimeAxisOf(view->chart())
        ->setRange(QDateTime::fromMSecsSinceEpoch(start),
                   QDateTime::fromMSecsSinceEpoch(start + qint64(values) * 100));
    const double dayMs = RepaintMs(app, view, kRepaints, [&] { window.Refresh(); });
    return {followMs, dayMs, (after - before) * 1024.0 / values};
}

// The peer: one QLineSeries with every value, the whole day in view.
double MeasurePeer(QApplication& app, int values, qint64 start) {
    QList<QPointF> points;
    points.reserve(values);
    for (int i = 0; i < values; ++i)
        points << QPointF(double(start + qint64(i) * 100), Reading(i));
    auto* chart = new QChart;
    chart->legend()->hide();
    auto* line = new QLineSeries;
    chart->addSeries(line);
    auto* time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("HH:mm:ss"));
    auto* value = new QValueAxis;
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(value, Qt::AlignLeft);
    line->attachAxis(time);
    line->attachAxis(value);
    time->setRange(QDateTime::fromMSecsSinceEpoch(start),
                   QDateTime::fromMSecsSinceEpoch(start + qint64(values) * 100));
    value->setRange(19, 24);
    QChartView view(chart);
    view.setRenderHint(QPainter::Antialiasing, false);
    view.resize(1000, 600);
    view.show();
    app.processEvents();
    return RepaintMs(app, &view, kPeerRepaints, [&] { line->replace(points); });
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int values = argc > 1 ? std::atoi(argv[1]) : 864000;
    const qint64 start = QDateTime(QDate(2026, 12, 8), QTime(0, 0)).toMSecsSinceEpoch();
    const Ours ours = MeasureOurs(app, values, start);
    std::printf("%d values, one every 100 ms, fed to the trend window (offscreen, 1200 x 600)\n",
                values);
    std::printf("  resident memory grew by %.1f bytes per value\n", ours.bytesPerValue);
    std::printf("  a repaint (median of %d): %.2f ms following the newest minute, %.2f ms showing "
                "the whole day\n",
                kRepaints, ours.followMs, ours.dayMs);
    std::fflush(stdout);
    const double peerMs = MeasurePeer(app, values, start);
    std::printf("  the same chart drawing every value: %.1f ms a repaint (median of %d)\n", peerMs,
                kPeerRepaints);
    char mine[160], peer[96], ratio[128];
    std::snprintf(mine, sizeof mine,
                  "%.1f ms a repaint of the whole day, %.1f ms following; %.0f bytes per value",
                  ours.dayMs, ours.followMs, ours.bytesPerValue);
    std::snprintf(peer, sizeof peer, "every value drawn: %.0f ms a repaint", peerMs);
    std::snprintf(ratio, sizeof ratio, "%.3f of the peer's time (whole day)", ours.dayMs / peerMs);
    char benchmark[96];
    std::snprintf(benchmark, sizeof benchmark,
                  "%d values in the trend window, offscreen (bench_trend)", values);
    TableRow(benchmark, mine, peer, ratio);
    return 0;
}
