#pragma once
// The record of a calibration run for an audit: what was calibrated, how, every sample with
// its time, the statistics, and what was stored. Written as CSV here and as a PDF by the
// report library; the log's own lines stay as they are.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

struct CalibrationRecord {
    QDateTime start, end;
    QString programVersion;
    QString deviceFile, deviceSha256;
    QString portPath, lineSettings, slave;
    QString serialNumber; // as the device's identification said it this run; empty: not known
    QString range, registerName, registerAddress;
    qint64 asked = 0;
    QList<QDateTime> sampleTimes;
    QStringList samples;         // as read; empty for a failed read
    int failedReads = 0;         // sample reads that got no valid reply
    bool finished = false;       // ended with its result lines
    QString stopReason;          // why not, for a run that is "przerwana"
    QString meanText, errorText; // as logged
    // "Zapisz"
    bool stored = false;
    QDateTime storeTime;
    QString storeRegister, storeAddress, storeValue, storeOutcome;
};

// The record's row of the device's serial number, where it was known.
inline constexpr const char* kSerialNumberLabel = "Numer seryjny urządzenia";

struct SampleStatistics {
    int taken = 0, failed = 0;
    double mean = 0, deviation = 0, minimum = 0, maximum = 0;
};
SampleStatistics StatisticsOf(const CalibrationRecord& record);

// NAME_RANGE_yyyy-mm-dd_HH-mm-ss, NAME the device file's name without ".dat", RANGE "bez_zakresu"
// when empty.
QString RecordBaseName(const CalibrationRecord& record);
// (each part in safe characters only, at most 40 of them: the name never leaves its folder)
// For a spreadsheet: ';' between fields, decimal comma, UTF-8 with a byte-order mark, header
// rows, then a row per sample.
QByteArray RecordCsv(const CalibrationRecord& record);
// The record as a Polish HTML document for a PDF: title "Protokół kalibracji".
QString RecordHtml(const CalibrationRecord& record);
// The SHA-256 of a file in hexadecimal; empty when it cannot be read.
QString Sha256OfFile(const QString& path);
// Writes the CSV, replacing the file whole; throws AppError when it cannot.
void SaveRecordCsv(const CalibrationRecord& record, const QString& path);
