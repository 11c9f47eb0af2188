#include "requeststats.h"
#include <QLocale>
#include <algorithm>

void RequestStats::Ended(const TransactionOutcome& outcome, double milliseconds) {
    ++requests_;
    ++counts_[int(outcome.kind)];
    if (outcome.kind != ReplyOutcome::NoReply) times_ << milliseconds;
}

QString RequestStats::Summary() const {
    return SummaryIn({"requests %1, valid %2, exceptions %3, bad CRC %4, mismatched %5, "
                      "no reply %6",
                      "; response ms min %1 median %2 max %3", '.'});
}

QString RequestStats::PolishSummary() const {
    return SummaryIn({"żądania %1, poprawne %2, wyjątki %3, błędne CRC %4, niepasujące %5, "
                      "bez odpowiedzi %6",
                      "; czas odpowiedzi ms: min %1, mediana %2, maks. %3", ','});
}

QString RequestStats::SummaryIn(const Words& words) const {
    QString text = QString::fromUtf8(words.counts)
                       .arg(requests_)
                       .arg(counts_[int(ReplyOutcome::Valid)])
                       .arg(counts_[int(ReplyOutcome::Exception)])
                       .arg(counts_[int(ReplyOutcome::BadCrc)])
                       .arg(counts_[int(ReplyOutcome::Mismatch)])
                       .arg(counts_[int(ReplyOutcome::NoReply)]);
    if (times_.isEmpty()) return text;
    QList<double> sorted = times_;
    std::sort(sorted.begin(), sorted.end());
    const auto ms = [&](double v) {
        return QLocale::c().toString(v, 'f', 1).replace('.', QChar(words.decimalPoint));
    };
    return text + QString::fromUtf8(words.times)
                      .arg(ms(sorted.first()), ms(sorted[sorted.size() / 2]), ms(sorted.last()));
}
