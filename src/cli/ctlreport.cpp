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
