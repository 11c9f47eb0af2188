#pragma once
// A device's calibration history: the records in kalibracje/, read from the files themselves
// each time (the folder is the truth; nothing else is kept), found by the device's serial
// number, or by device file and slave where the serial number is not known.
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

struct HistoryRecord {
    QString path;
    QDateTime start;
    QString status, deviceFile, slave, serialNumber, range, mean, stored;
};

// Every calibration record (CSV) in the folder, oldest first; a file that is no record is
// left out.
QList<HistoryRecord> ReadHistory(const QString& recordsFolder);
// The header of one record's CSV; none when it is not a calibration record.
std::optional<HistoryRecord> RecordFromCsv(const QByteArray& csv, const QString& path);
// This device's records: its serial number where known (records without one then do not
// count), else the device file and slave.
QList<HistoryRecord> HistoryOf(const QList<HistoryRecord>& all, const QString& serialNumber,
                               const QString& deviceFile, const QString& slave);
