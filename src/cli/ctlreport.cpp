#include "ctlreport.h"
#include "regmap/record.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <algorithm>

namespace {

QString IsoTime(const QDateTime& time) {
    return time.toString(Qt::ISODateWithMs);
}

// The value as a number a program reads, for CSV and for JSON; a text stays a text, and a
// value that is no number (NAN, an empty reply) is empty and null.
struct Number {
    QString text;
    QJsonValue json;
};
Number NumberOf(const ValueRecord& r) {
    const int type = TypeCodeOf(r.type);
    if (type == tcHex || type == tcWord || type == tcInt) {
        try {
            const std::int32_t n = ParseInteger(r.text);
            return {QString::number(n), QJsonValue(static_cast<qint64>(n))};
        } catch (...) {
            return {};
        }
    }
    if (type == tcReal || type == tcPrec || type == tcFloat) {
        const QString dotted = QString(r.text).replace(',', '.');
        bool ok = false;
        const double n = QLocale::c().toDouble(dotted, &ok);
        return ok ? Number{dotted, QJsonValue(n)} : Number{};
    }
    return {r.text, QJsonValue(r.text)};
}

QString CsvField(const QString& field) {
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') &&
        !field.contains('\r'))
        return field;
    return '"' + QString(field).replace('"', QLatin1String("\"\"")) + '"';
}

} // namespace

QString CsvHeader() {
    return QStringLiteral("time,name,address,type,value,text");
}

QString CsvLine(const ValueRecord& r) {
    return QStringList{IsoTime(r.time),  CsvField(r.name),           CsvField(r.address),
                       CsvField(r.type), CsvField(NumberOf(r).text), CsvField(r.text)}
        .join(',');
}

QString JsonLine(const ValueRecord& r) {
    const QJsonObject object{{"time", IsoTime(r.time)},   {"name", r.name},
                             {"address", r.address},      {"type", r.type},
                             {"value", NumberOf(r).json}, {"text", r.text}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void RequestStats::Ended(const TransactionOutcome& outcome, double milliseconds) {
    ++requests_;
    ++counts_[int(outcome.kind)];
    if (outcome.kind != ReplyOutcome::NoReply) times_ << milliseconds;
}

QString RequestStats::Summary() const {
    QString text =
        QStringLiteral("requests %1, valid %2, exceptions %3, bad CRC %4, mismatched %5, "
                       "no reply %6")
            .arg(requests_)
            .arg(counts_[int(ReplyOutcome::Valid)])
            .arg(counts_[int(ReplyOutcome::Exception)])
            .arg(counts_[int(ReplyOutcome::BadCrc)])
            .arg(counts_[int(ReplyOutcome::Mismatch)])
            .arg(counts_[int(ReplyOutcome::NoReply)]);
    if (times_.isEmpty()) return text;
    QList<double> sorted = times_;
    std::sort(sorted.begin(), sorted.end());
    const auto ms = [](double v) { return QLocale::c().toString(v, 'f', 1); };
    return text + QStringLiteral("; response ms min %1 median %2 max %3")
                      .arg(ms(sorted.first()), ms(sorted[sorted.size() / 2]), ms(sorted.last()));
}
