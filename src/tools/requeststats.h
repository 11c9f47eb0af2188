#pragma once
// Counts of how requests ended and their response times, for vardelctl --stats and the
// window's line statistics.
#include "txn/outcome.h"
#include <QList>
#include <QString>

class RequestStats {
public:
    // A request's end; its time counts when a reply came (outcome.elapsedMs).
    void Ended(const TransactionOutcome& outcome);
    int requests() const { return requests_; }
    int valid() const { return counts_[int(ReplyOutcome::Valid)]; }
    int count(ReplyOutcome kind) const { return counts_[int(kind)]; }
    // Response times of the requests that got a reply; all 0 when none did.
    struct Times {
        double min = 0, median = 0, max = 0;
    };
    bool hasTimes() const { return !times_.isEmpty(); }
    Times times() const;
    // In Polish with the decimal comma, for the window and vardelctl --stats: "żądania 12,
    // poprawne 10, wyjątki 1, błędne CRC 0, niepasujące 0, bez odpowiedzi 1; czas odpowiedzi
    // ms: min 0,4, mediana 0,6, maks. 40,2"; an echo of the line is named when there was one"
    QString PolishSummary() const;

private:
    int requests_ = 0;
    int counts_[kReplyOutcomes] = {};
    QList<double> times_;
};
