#pragma once
// Counts of how requests ended and their response times, for vardelctl --stats and the
// window's line statistics.
#include "txn/outcome.h"
#include <QList>
#include <QString>

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
