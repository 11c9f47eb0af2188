#pragma once
// What vardelctl prints for programs: a record per request in CSV or JSON, and the
// statistics of a session's requests.
#include "tools/requeststats.h"
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cmath>

struct ValueRecord {
    QDateTime time;
    QString name, address, type;
    QString text; // the value as the window shows it; empty for a failed request
    QString operation = QStringLiteral("read"); // read, write, monitor, calibrate, reset, scan
    // "ok", or how the request failed as stderr says it: "brak odpowiedzi", "błędne CRC",
    // "wyjątek 2 (niedozwolony adres danych)", "odpowiedź nie pasuje do żądania"
    QString outcome = QStringLiteral("ok");
    float real = NAN;   // a REAL, PREC or FLOAT read's value in full; NaN when there is none
    QString slave = {}; // the address asked
};

// "time,name,address,type,value,text,operation,outcome,slave"
QString CsvHeader();
// The value as a number with a decimal point (HEX as its number; a real read in full
// precision, the text keeping the window's decimals), a text as text, empty when there is
// none; an ISO 8601 local time with milliseconds and the offset from UTC; fields quoted
// where they need it.
QString CsvLine(const ValueRecord& record);
// One JSON object on one line, the same fields; a real's value always has a decimal point,
// a value that is none is null.
QString JsonLine(const ValueRecord& record);
// A row of list, scan or ports for a program: CSV fields, or a JSON object of texts (the
// keys name the fields).
QString CsvRow(const QStringList& fields);
QString JsonRow(const QStringList& keys, const QStringList& values);
// --stats for a program: "requests,valid,exceptions,bad_crc,mismatched,no_reply,echo,ms_min,
// ms_median,ms_max" and its row (the times empty when nothing answered), or one JSON object
// of numbers (the times null then).
QString StatsCsv(const RequestStats& stats);
QString StatsJson(const RequestStats& stats);
