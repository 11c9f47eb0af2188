#pragma once
// The values of one register over time, for the trend window: statistics over the newest
// values, whether the reading has settled, the values for a spreadsheet, and a decimated
// series (minimum and maximum per column) so that a day of values draws quickly.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPointF>
#include <optional>
#include <vector>

struct RegisterNode;

// A register's Value as a number (HEX by its digits, reals with the decimal comma; a real's
// NAN, INF and -INF as those values); none when it holds none, as after a failed read.
std::optional<double> NumberOfValue(const RegisterNode& record);

// Over the newest values: count, mean and the rest of the finite ones; NaN and ±Inf readings
// are counted apart, and failed reads over the same span of time.
struct TrendStatistics {
    int count = 0, failed = 0, notFinite = 0;
    double mean = 0, deviation = 0, minimum = 0, maximum = 0, span = 0;
};

enum class Stability { Unknown, Stable, Unstable };

class TrendSeries {
public:
    void AddValue(qint64 msecsSinceEpoch, double value);
    void AddFailure(qint64 msecsSinceEpoch);

    qsizetype size() const { return static_cast<qsizetype>(times_.size()); }
    const std::vector<qint64>& times() const { return times_; }
    const std::vector<double>& values() const { return values_; }
    const std::vector<qint64>& failures() const { return failures_; }
    // When the readings that were NaN or ±Inf came; values() holds them too.
    const std::vector<qint64>& notFiniteTimes() const { return notFiniteTimes_; }

    // Over the newest n values; failed reads counted over the same span of time.
    TrendStatistics Statistics(int n) const;
    // Stable when every value of the last seconds before now lies within ±band of their
    // mean; unknown while fewer than 3 values lie there (as when values stopped coming), while
    // the values began less than those seconds ago, or when one of them is NaN or ±Inf. The
    // seconds are taken between 0 and a year.
    Stability StabilityOver(double seconds, double band, qint64 nowMsecs) const;
    // The default band: 0.1 % of the mean's magnitude over the last seconds.
    double DefaultBand(double seconds, qint64 nowMsecs) const;
    // "Czas;Wartość" then a row per value: local date and time with milliseconds, decimal
    // comma (NAN, INF, -INF as the window shows them), ';' between fields, UTF-8 with a
    // byte-order mark.
    QByteArray Csv() const;
    // At most two points (minimum and maximum) per column for the columns between from and
    // to (milliseconds), in time order; every point when there are fewer than the columns.
    // NaN and ±Inf are left out: they are marked on the time axis.
    QList<QPointF> Decimated(qint64 fromMsecs, qint64 toMsecs, int columns) const;

private:
    std::vector<qint64> times_;
    std::vector<double> values_;
    std::vector<qint64> failures_;
    std::vector<qint64> notFiniteTimes_;
};
