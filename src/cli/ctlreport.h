#pragma once
// What vardelctl prints for programs: a record per valid value in CSV or JSON, and the
// statistics of a session's requests.
#include "tools/requeststats.h"
#include <QDateTime>
#include <QList>
#include <QString>

struct ValueRecord {
    QDateTime time;
    QString name, address, type;
    QString text; // the value as the window shows it
};

// "time,name,address,type,value,text"
QString CsvHeader();
// The value as a number with a decimal point (HEX as its number), a text as text; an
// ISO 8601 local time with milliseconds; fields quoted where they need it.
QString CsvLine(const ValueRecord& record);
// One JSON object on one line.
QString JsonLine(const ValueRecord& record);
