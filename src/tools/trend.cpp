#include "trend.h"
#include "regmap/error.h"
#include "regmap/record.h"
#include "txn/numbers.h"
#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

std::optional<double> NumberOfValue(const RegisterNode& record) {
    const int type = TypeCodeOf(record.Type);
    const QString text = record.Value;
    if (!IsNumericType(type) || text.isEmpty()) return std::nullopt;
    if (IsRealType(type)) {
        if (text == QLatin1String("NAN")) return std::numeric_limits<double>::quiet_NaN();
        if (text == QLatin1String("INF")) return std::numeric_limits<double>::infinity();
        if (text == QLatin1String("-INF")) return -std::numeric_limits<double>::infinity();
    }
    try {
        if (IsIntegerType(type)) return double(ParseInteger(text));
        return double(ParseReal(text));
    } catch (const AppError&) {
        return std::nullopt;
    }
}

void TrendSeries::AddValue(qint64 msecsSinceEpoch, double value) {
    times_.push_back(msecsSinceEpoch);
    values_.push_back(value);
    if (!std::isfinite(value)) notFiniteTimes_.push_back(msecsSinceEpoch);
}

void TrendSeries::AddFailure(qint64 msecsSinceEpoch) {
    failures_.push_back(msecsSinceEpoch);
}

TrendStatistics TrendSeries::Statistics(int n) const {
    TrendStatistics s;
    const auto total = static_cast<qsizetype>(values_.size());
    const qsizetype first = std::max<qsizetype>(0, total - std::max(n, 0));
    const std::span<const double> newest =
        std::span<const double>(values_).subspan(static_cast<std::size_t>(first));
    double sum = 0;
    bool any = false;
    for (double value : newest) {
        if (!std::isfinite(value)) {
            ++s.notFinite;
            continue;
        }
        s.minimum = any ? std::min(s.minimum, value) : value;
        s.maximum = any ? std::max(s.maximum, value) : value;
        any = true;
        sum += value;
        ++s.count;
    }
    if (s.count > 0) s.mean = sum / s.count;
    double squares = 0;
    for (double value : newest)
        if (std::isfinite(value)) squares += (value - s.mean) * (value - s.mean);
    s.deviation = s.count > 1 ? std::sqrt(squares / (s.count - 1)) : 0;
    s.span = s.maximum - s.minimum;
    if (newest.empty()) {
        s.failed = static_cast<int>(failures_.size());
        return s;
    }
    const qint64 since = times_[first];
    s.failed = static_cast<int>(
        std::count_if(failures_.begin(), failures_.end(), [&](qint64 t) { return t >= since; }));
    return s;
}

namespace {
// T seconds in milliseconds, for any typed T: nothing below 0 (or NaN), at most a year.
qint64 SpanMs(double seconds) {
    constexpr double kYear = 365.0 * 24 * 3600;
    return seconds > 0 ? qint64(std::min(seconds, kYear) * 1000) : 0;
}

// The index of the first value at or after the time.
qsizetype FirstAtOrAfter(const std::vector<qint64>& times, qint64 at) {
    return std::lower_bound(times.begin(), times.end(), at) - times.begin();
}

// The values of the last seconds before now, and their mean (0 when there are none).
struct Window {
    std::span<const double> values;
    double mean = 0;
};

Window LastSeconds(const std::vector<qint64>& times, const std::vector<double>& values,
                   double seconds, qint64 nowMsecs) {
    const qsizetype first = FirstAtOrAfter(times, nowMsecs - SpanMs(seconds));
    Window window{std::span<const double>(values).subspan(static_cast<std::size_t>(first))};
    double sum = 0;
    int finite = 0;
    for (double value : window.values)
        if (std::isfinite(value)) {
            sum += value;
            ++finite;
        }
    if (finite > 0) window.mean = sum / finite;
    return window;
}
} // namespace

double TrendSeries::DefaultBand(double seconds, qint64 nowMsecs) const {
    return std::fabs(LastSeconds(times_, values_, seconds, nowMsecs).mean) * 0.001;
}

Stability TrendSeries::StabilityOver(double seconds, double band, qint64 nowMsecs) const {
    // Values that began less than T ago cannot say whether T seconds were steady.
    if (times_.empty() || times_.front() > nowMsecs - SpanMs(seconds)) return Stability::Unknown;
    const Window window = LastSeconds(times_, values_, seconds, nowMsecs);
    if (window.values.size() < 3) return Stability::Unknown;
    // A reading that is no number says nothing of how steady the others are.
    if (!std::all_of(window.values.begin(), window.values.end(),
                     [](double value) { return std::isfinite(value); }))
        return Stability::Unknown;
    for (double value : window.values)
        if (std::fabs(value - window.mean) > band) return Stability::Unstable;
    return Stability::Stable;
}

QByteArray TrendSeries::Csv() const {
    QByteArray csv("\xEF\xBB\xBF");
    csv += QStringLiteral("Czas;Wartość\r\n").toUtf8();
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const QString time = QDateTime::fromMSecsSinceEpoch(times_[i]).toString(
            QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        // The shortest text that reads back as the value, with the decimal comma.
        const double v = values_[i];
        const QString value = std::isnan(v) ? QStringLiteral("NAN")
                              : std::isinf(v)
                                  ? (v > 0 ? QStringLiteral("INF") : QStringLiteral("-INF"))
                                  : QString::number(v, 'g', 10).replace('.', ',');
        csv += (time + ';' + value + QStringLiteral("\r\n")).toUtf8();
    }
    return csv;
}

QList<QPointF> TrendSeries::Decimated(qint64 fromMsecs, qint64 toMsecs, int columns) const {
    QList<QPointF> points;
    const qsizetype first = FirstAtOrAfter(times_, fromMsecs);
    const qsizetype end = FirstAtOrAfter(times_, toMsecs + 1);
    if (end <= first || columns <= 0) return points;
    if (end - first <= 2 * columns) {
        for (qsizetype i = first; i < end; ++i)
            if (std::isfinite(values_[i])) points << QPointF(double(times_[i]), values_[i]);
        return points;
    }
    const double width = double(std::max<qint64>(1, toMsecs - fromMsecs)) / columns;
    qsizetype i = first;
    for (int column = 0; column < columns && i < end; ++column) {
        const qint64 limit = fromMsecs + qint64(width * (column + 1));
        qsizetype low = -1, high = -1;
        for (; i < end && (times_[i] <= limit || column == columns - 1); ++i) {
            if (!std::isfinite(values_[i])) continue;
            if (low < 0 || values_[i] < values_[low]) low = i;
            if (high < 0 || values_[i] > values_[high]) high = i;
        }
        if (low < 0) continue; // no number in this column
        const qsizetype a = std::min(low, high), b = std::max(low, high);
        points << QPointF(double(times_[a]), values_[a]);
        if (b != a) points << QPointF(double(times_[b]), values_[b]);
    }
    return points;
}
