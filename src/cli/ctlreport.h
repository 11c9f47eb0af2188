#pragma once
// What vardelctl prints for programs: a record per valid value in CSV or JSON, and the
// statistics of a session's requests.
#include "txn/outcome.h"
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

class RequestStats {
public:
    void Ended(const TransactionOutcome& outcome, double milliseconds);
    int requests() const { return requests_; }
    int valid() const { return counts_[int(ReplyOutcome::Valid)]; }
    // "requests 12, valid 10, exceptions 1, bad CRC 0, mismatched 0, no reply 1;
    //  response ms min 0.4 median 0.6 max 40.2"
    QString Summary() const;

private:
    int requests_ = 0;
    int counts_[5] = {};
    QList<double> times_;
};
