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
    // The same for the window, in Polish with the decimal comma: "żądania 12, poprawne 10,
    // wyjątki 1, błędne CRC 0, niepasujące 0, bez odpowiedzi 1; czas odpowiedzi ms: min 0,4,
    // mediana 0,6, maks. 40,2"
    QString PolishSummary() const;

private:
    struct Words {
        const char* counts; // the six counts' names, as a pattern %1 ... %6
        const char* times;  // min, median and max, as a pattern %1 %2 %3
        char decimalPoint;
    };
    QString SummaryIn(const Words& words) const;

    int requests_ = 0;
    int counts_[5] = {};
    QList<double> times_;
};
