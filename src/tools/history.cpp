#include "history.h"
#include "calrecord.h"
#include <QDir>
#include <QFile>
#include <QHash>
#include <algorithm>

namespace {

// One "label;value" line of the record's header, the value unquoted as the record quotes it.
bool SplitRow(const QString& line, QString& label, QString& value) {
    const qsizetype semicolon = line.indexOf(';');
    if (semicolon <= 0) return false;
    label = line.left(semicolon);
    value = line.mid(semicolon + 1);
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value =
            value.mid(1, value.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return true;
}

} // namespace

std::optional<HistoryRecord> RecordFromCsv(const QByteArray& csv, const QString& path) {
    QString text = QString::fromUtf8(csv);
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    if (lines.isEmpty() || lines[0] != QStringLiteral("Protokół kalibracji")) return std::nullopt;
    QHash<QString, QString> rows;
    for (qsizetype i = 1; i < lines.size() && !lines[i].isEmpty(); ++i) {
        QString label, value;
        if (SplitRow(lines[i], label, value)) rows.insert(label, value);
    }
    HistoryRecord r;
    r.path = path;
    r.start =
        QDateTime::fromString(rows.value("Początek"), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    r.status = rows.value("Stan");
    r.deviceFile = rows.value("Plik urządzenia");
    r.slave = rows.value("Adres urządzenia");
    r.serialNumber = rows.value(QString::fromUtf8(kSerialNumberLabel));
    r.range = rows.value("Zakres");
    r.mean = rows.value("Średnia (jak w dzienniku)");
    r.stored = rows.value("Zapisana wartość");
    if (!r.start.isValid() || r.deviceFile.isEmpty()) return std::nullopt;
    return r;
}

QList<HistoryRecord> ReadHistory(const QString& recordsFolder) {
    QList<HistoryRecord> records;
    const QDir folder(recordsFolder);
    for (const QFileInfo& info : folder.entryInfoList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(info.absoluteFilePath());
        if (info.size() > 16 * 1024 * 1024 || !file.open(QIODevice::ReadOnly)) continue;
        if (auto r = RecordFromCsv(file.readAll(), info.absoluteFilePath())) records << *r;
    }
    std::sort(records.begin(), records.end(),
              [](const HistoryRecord& a, const HistoryRecord& b) { return a.start < b.start; });
    return records;
}

QList<HistoryRecord> HistoryOf(const QList<HistoryRecord>& all, const QString& serialNumber,
                               const QString& deviceFile, const QString& slave) {
    QList<HistoryRecord> mine;
    for (const HistoryRecord& r : all) {
        const bool match = serialNumber.isEmpty() ? r.deviceFile == deviceFile && r.slave == slave
                                                  : r.serialNumber == serialNumber;
        if (match) mine << r;
    }
    return mine;
}
