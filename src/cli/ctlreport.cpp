#include "ctlreport.h"
#include "regmap/record.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <algorithm>
#include <charconv>

namespace {

// With its offset from UTC, so a record read elsewhere or after a clock change says when.
QString IsoTime(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// The shortest text that reads back as the float, with a decimal point.
QString RealText(float value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    QString text = QString::fromLatin1(buffer, end - buffer);
    if (!text.contains('.') && !text.contains('e') && !text.contains('n') && !text.contains('i'))
        text += QStringLiteral(".0");
    return text;
}

// The value as a number a program reads, for CSV and for JSON; a text stays a text, and a
// value that is no number (NAN, an empty reply) is empty and null.
struct Number {
    QString text;          // for CSV
    QString json = "null"; // the JSON value as written
};
QString JsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}
Number NumberOf(const ValueRecord& r) {
    if (r.text.isEmpty() && std::isnan(r.real)) return {};
    const int type = TypeCodeOf(r.type);
    if (IsIntegerType(type)) {
        try {
            const QString n = QString::number(ParseInteger(r.text));
            return {n, n};
        } catch (...) {
            return {};
        }
    }
    if (IsRealType(type)) {
        if (std::isfinite(r.real)) return {RealText(r.real), RealText(r.real)};
        const QString dotted = QString(r.text).replace(',', '.');
        bool ok = false;
        const double n = QLocale::c().toDouble(dotted, &ok);
        if (!ok || !std::isfinite(n)) return {};
        const QString text = RealText(static_cast<float>(n));
        return {dotted, dotted.contains('.') ? dotted : text};
    }
    return {r.text, JsonString(r.text)};
}

QString CsvField(const QString& field) {
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') &&
        !field.contains('\r'))
        return field;
    return '"' + QString(field).replace('"', QLatin1String("\"\"")) + '"';
}

} // namespace

QString CsvHeader() {
    return QStringLiteral("time,name,address,type,value,text,operation,outcome,slave");
}

QString CsvLine(const ValueRecord& r) {
    return QStringList{IsoTime(r.time),       CsvField(r.name),           CsvField(r.address),
                       CsvField(r.type),      CsvField(NumberOf(r).text), CsvField(r.text),
                       CsvField(r.operation), CsvField(r.outcome),        CsvField(r.slave)}
        .join(',');
}

QString JsonLine(const ValueRecord& r) {
    const QList<QPair<const char*, QString>> fields{
        {"time", JsonString(IsoTime(r.time))},
        {"name", JsonString(r.name)},
        {"address", JsonString(r.address)},
        {"type", JsonString(r.type)},
        {"value", NumberOf(r).json},
        {"text", JsonString(r.text)},
        {"operation", JsonString(r.operation)},
        {"outcome", JsonString(r.outcome)},
        {"slave", r.slave.isEmpty() ? "null" : r.slave}};
    QStringList members;
    for (const auto& [key, value] : fields)
        members << '"' + QLatin1String(key) + QStringLiteral("\":") + value;
    return '{' + members.join(',') + '}';
}

QString CsvRow(const QStringList& fields) {
    QStringList quoted;
    for (const QString& field : fields)
        quoted << CsvField(field);
    return quoted.join(',');
}

QString JsonRow(const QStringList& keys, const QStringList& values) {
    QStringList members;
    for (qsizetype i = 0; i < keys.size(); ++i)
        members << JsonString(keys[i]) + ':' + JsonString(values.value(i));
    return '{' + members.join(',') + '}';
}

namespace {

const QStringList kStatsKeys{"requests", "valid", "exceptions", "bad_crc",   "mismatched",
                             "no_reply", "echo",  "ms_min",     "ms_median", "ms_max"};

// The counts and, when something answered, the times in milliseconds with a decimal point.
QStringList StatsValues(const RequestStats& stats) {
    QStringList values{QString::number(stats.requests())};
    for (ReplyOutcome kind : {ReplyOutcome::Valid, ReplyOutcome::Exception, ReplyOutcome::BadCrc,
                              ReplyOutcome::Mismatch, ReplyOutcome::NoReply, ReplyOutcome::Echo})
        values << QString::number(stats.count(kind));
    const RequestStats::Times t = stats.times();
    for (double ms : {t.min, t.median, t.max})
        values << (stats.hasTimes() ? QLocale::c().toString(ms, 'f', 3) : QString());
    return values;
}

} // namespace

QString StatsCsv(const RequestStats& stats) {
    return kStatsKeys.join(',') + '\n' + StatsValues(stats).join(',');
}

QString StatsJson(const RequestStats& stats) {
    const QStringList values = StatsValues(stats);
    QStringList members;
    for (qsizetype i = 0; i < kStatsKeys.size(); ++i)
        members << '"' + kStatsKeys[i] + QStringLiteral("\":") +
                       (values[i].isEmpty() ? QStringLiteral("null") : values[i]);
    return '{' + members.join(',') + '}';
}
