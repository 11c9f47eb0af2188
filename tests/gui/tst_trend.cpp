#include "app/trendwindow.h"
#include "regmap/record.h"
#include "tools/trend.h"
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kStart = 1'800'000'000'000; // a moment in 2027, in milliseconds

TrendSeries SeriesOf(const QList<double>& values, qint64 stepMs = 100) {
    TrendSeries series;
    for (int i = 0; i < values.size(); ++i)
        series.AddValue(kStart + i * stepMs, values[i]);
    return series;
}

QList<double> Flat(int count, double value) {
    return QList<double>(count, value);
}

QLineSeries* LineOf(TrendWindow& window) {
    return static_cast<QLineSeries*>(window.findChild<QChartView*>()->chart()->series().first());
}

QDateTimeAxis* TimeAxisOf(TrendWindow& window) {
    return static_cast<QDateTimeAxis*>(
        window.findChild<QChartView*>()->chart()->axes(Qt::Horizontal).first());
}

} // namespace

class TestTrend : public QObject {
    Q_OBJECT
private slots:
    // However many values share a column, its lowest and highest are drawn.
    void decimationKeepsEveryExtreme_data() {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("columns");
        QList<double> spikeUp = Flat(10000, 20), spikeDown = Flat(10000, 20), both;
        spikeUp[4321] = 25;
        spikeDown[9999] = 15;
        for (int i = 0; i < 10000; ++i)
            both << (i % 2 ? 20.5 : 19.5) + (i == 7 ? 3 : 0) - (i == 5000 ? 3 : 0);
        QTest::newRow("a spike up in a flat day") << spikeUp << 800;
        QTest::newRow("a dip in the last value") << spikeDown << 800;
        QTest::newRow("noise with a spike and a dip") << both << 97;
        QTest::newRow("one column") << both << 1;
    }
    void decimationKeepsEveryExtreme() {
        QFETCH(QList<double>, values);
        QFETCH(int, columns);
        const TrendSeries series = SeriesOf(values);
        const QList<QPointF> points =
            series.Decimated(kStart, kStart + (values.size() - 1) * 100, columns);
        QVERIFY(points.size() <= 2 * columns);
        QVERIFY(std::is_sorted(points.begin(), points.end(),
                               [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }));
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        const auto has = [&](double y) {
            return std::any_of(points.begin(), points.end(),
                               [&](const QPointF& p) { return p.y() == y; });
        };
        QVERIFY(has(*low));
        QVERIFY(has(*high));
    }

    void fewValuesAreDrawnAsTheyAre() {
        const TrendSeries series = SeriesOf({1, 5, 2, 4});
        const QList<QPointF> points = series.Decimated(kStart + 100, kStart + 300, 800);
        QCOMPARE(points.size(), 3); // the first value lies before the span
        QCOMPARE(points[0], QPointF(double(kStart + 100), 5));
        QCOMPARE(points[2], QPointF(double(kStart + 300), 4));
        QVERIFY(series.Decimated(kStart + 500, kStart + 900, 800).isEmpty());
    }

    void statisticsOverTheNewest_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<int>("failed");
        // Values 1, 2, 3, 4, 10 at 0, 100, ... 400 ms; failures at 50 and 350 ms.
        QTest::newRow("the newest 3") << 3 << 3 << 17.0 / 3 << 3.785939 << 3.0 << 10.0 << 1;
        QTest::newRow("more than there are") << 50 << 5 << 4.0 << 3.535534 << 1.0 << 10.0 << 2;
        QTest::newRow("one") << 1 << 1 << 10.0 << 0.0 << 10.0 << 10.0 << 0;
        QTest::newRow("none") << 0 << 0 << 0.0 << 0.0 << 0.0 << 0.0 << 2;
    }
    void statisticsOverTheNewest() {
        QFETCH(int, n);
        QFETCH(int, count);
        QFETCH(double, mean);
        QFETCH(double, deviation);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(int, failed);
        TrendSeries series = SeriesOf({1, 2, 3, 4, 10});
        series.AddFailure(kStart + 50);
        series.AddFailure(kStart + 350);
        const TrendStatistics s = series.Statistics(n);
        QCOMPARE(s.count, count);
        QVERIFY(qAbs(s.mean - mean) < 1e-6);
        QVERIFY2(qAbs(s.deviation - deviation) < 1e-6, qPrintable(QString::number(s.deviation)));
        QCOMPARE(s.minimum, minimum);
        QCOMPARE(s.maximum, maximum);
        QCOMPARE(s.span, maximum - minimum);
        QCOMPARE(s.failed, failed);
    }

    // The light looks at the values of the last T seconds before now: it cannot judge values
    // that began less than T ago, nor a span in which no value came.
    void stability_data() {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<double>("band");
        QTest::addColumn<int>("after"); // ms from the newest value to now
        QTest::addColumn<int>("state");
        QTest::newRow("all within the band")
            << QList<double>{100, 100.05, 99.95, 100.02} << 0.1 << 0 << int(Stability::Stable);
        QTest::newRow("one outside")
            << QList<double>{100, 100.05, 99.8, 100.02} << 0.1 << 0 << int(Stability::Unstable);
        QTest::newRow("two values only")
            << QList<double>{100, 100} << 0.1 << 0 << int(Stability::Unknown);
        QTest::newRow("an old jump no longer counts")
            << QList<double>{50, 100, 100, 100} << 0.1 << 0 << int(Stability::Stable);
        QTest::newRow("three values in 2 s, less than T")
            << QList<double>{100, 100, 100} << 0.1 << 0 << int(Stability::Unknown);
        QTest::newRow("values stopped coming")
            << QList<double>{100, 100, 100, 100, 100} << 0.1 << 3000 << int(Stability::Unknown);
        QTest::newRow("a value late, the window still full")
            << QList<double>{100, 100, 100, 100, 100} << 0.1 << 400 << int(Stability::Stable);
    }
    void stability() {
        QFETCH(QList<double>, values);
        QFETCH(double, band);
        QFETCH(int, after);
        QFETCH(int, state);
        // One value a second; T = 2.5 s sees the newest three.
        const TrendSeries series = SeriesOf(values, 1000);
        const qint64 now = series.times().back() + after;
        QCOMPARE(int(series.StabilityOver(2.5, band, now)), state);
    }

    // NaN and ±Inf readings (a REAL the device could not measure) are counted, marked,
    // exported and never make the light green; the other values keep their statistics.
    void readingsThatAreNoNumber() {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        RegisterNode real{"R", "", "0", "REAL", "2", "RO", "NAN"};
        QVERIFY(std::isnan(NumberOfValue(real).value_or(0)));
        real.Value = "-INF";
        QCOMPARE(NumberOfValue(real).value_or(0), -inf);
        RegisterNode word{"W", "", "0", "WORD", "1", "RO", "NAN"};
        QVERIFY(!NumberOfValue(word)); // an integer register has no NaN

        const TrendSeries series = SeriesOf({100, nan, 100, inf, 100, -inf, 100}, 1000);
        const TrendStatistics s = series.Statistics(50);
        QCOMPARE(s.count, 4);
        QCOMPARE(s.notFinite, 3);
        QCOMPARE(s.mean, 100.0);
        QCOMPARE(s.deviation, 0.0);
        QCOMPARE(s.span, 0.0);
        QCOMPARE(series.notFiniteTimes(),
                 (std::vector<qint64>{kStart + 1000, kStart + 3000, kStart + 5000}));
        const qint64 now = series.times().back();
        QCOMPARE(int(series.StabilityOver(2.5, 1, now)), int(Stability::Unknown));
        QCOMPARE(int(series.StabilityOver(0.5, 1, now)), int(Stability::Unknown));
        for (const QPointF& p : series.Decimated(kStart, now, 2))
            QCOMPARE(p.y(), 100.0);
        QVERIFY(series.Decimated(kStart, now, 100).size() == 4);
        const QStringList rows = QString::fromUtf8(series.Csv()).split("\r\n");
        QCOMPARE(rows.mid(1, 7).join('|').remove(QRegularExpression("[^|;]*;")),
                 QStringLiteral("100|NAN|100|INF|100|-INF|100"));
        // Half the values NaN: never stable, however steady the rest.
        TrendSeries half;
        for (int i = 0; i < 40; ++i)
            half.AddValue(kStart + i * 100, i % 2 ? nan : 23.5);
        QCOMPARE(int(half.StabilityOver(2, 1, kStart + 3900)), int(Stability::Unknown));
    }

    // Whatever T the operator types, the light answers and nothing overflows (UBSan checks).
    void anyTypedSeconds_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("state");
        QTest::newRow("1e20") << 1e20 << int(Stability::Unknown); // longer than the values
        QTest::newRow("negative") << -5.0 << int(Stability::Unknown);
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << int(Stability::Unknown);
        QTest::newRow("2 s") << 2.0 << int(Stability::Stable);
    }
    void anyTypedSeconds() {
        QFETCH(double, seconds);
        QFETCH(int, state);
        const TrendSeries series = SeriesOf(QList<double>(50, 7.0));
        const qint64 now = series.times().back();
        QCOMPARE(int(series.StabilityOver(seconds, 0.1, now)), state);
        QVERIFY(std::isfinite(series.DefaultBand(seconds, now)));
    }

    void csvForAPolishSpreadsheet() {
        TrendSeries series;
        const QDateTime at(QDate(2026, 12, 8), QTime(10, 0, 0, 5));
        series.AddValue(at.toMSecsSinceEpoch(), 23.5);
        series.AddValue(at.toMSecsSinceEpoch() + 1000, -0.001);
        series.AddValue(at.toMSecsSinceEpoch() + 2000, 1013.25);
        QCOMPARE(series.Csv(), QByteArray("\xEF\xBB\xBF") +
                                   QString::fromUtf8("Czas;Wartość\r\n"
                                                     "2026-12-08 10:00:00.005;23,5\r\n"
                                                     "2026-12-08 10:00:01.005;-0,001\r\n"
                                                     "2026-12-08 10:00:02.005;1013,25\r\n")
                                       .toUtf8());
    }

    // Zoomed in on a span of a long series, the chart draws that span's own values, not the
    // decimation of the whole; moving and following again work from the keyboard and button.
    void zoomDrawsTheSpanAndFollowingComesBack() {
        TrendWindow window(QStringLiteral("R0"));
        window.resize(900, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int i = 0; i < 36000; ++i) // an hour at 100 ms
            window.AddValue(kStart + i * 100, i % 7);
        window.Refresh();
        QDateTimeAxis* time = TimeAxisOf(window);
        QCOMPARE(time->max().toMSecsSinceEpoch(), kStart + 35999 * 100 + 1); // the newest minute
        QVERIFY(!window.btFollow->isEnabled());

        const qint64 from = kStart + 1000 * 100, to = kStart + 1049 * 100;
        time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
        QVERIFY(window.btFollow->isEnabled()); // no longer following
        QTRY_COMPARE(LineOf(window)->count(), 50);
        QCOMPARE(LineOf(window)->at(0), QPointF(double(from), 1000 % 7));

        auto* view = window.findChild<QChartView*>();
        QTest::keyClick(view, Qt::Key_Right);
        QVERIFY(time->min().toMSecsSinceEpoch() > from);
        QTRY_VERIFY(LineOf(window)->at(0).x() > double(from));

        window.btFollow->click();
        QCOMPARE(time->max().toMSecsSinceEpoch(), kStart + 35999 * 100 + 1);
        QVERIFY(!window.btFollow->isEnabled());
    }
};

QTEST_MAIN(TestTrend)
#include "tst_trend.moc"
