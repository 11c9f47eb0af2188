#include "requeststats.h"
#include <QLocale>
#include <algorithm>

void RequestStats::Ended(const TransactionOutcome& outcome) {
    ++requests_;
    ++counts_[int(outcome.kind)];
    if (outcome.kind != ReplyOutcome::NoReply && outcome.elapsedMs >= 0)
        times_ << outcome.elapsedMs;
}

RequestStats::Times RequestStats::times() const {
    if (times_.isEmpty()) return {};
    QList<double> sorted = times_;
    std::sort(sorted.begin(), sorted.end());
    return {sorted.first(), sorted[sorted.size() / 2], sorted.last()};
}

QString RequestStats::PolishSummary() const {
    QString text = QString::fromUtf8("żądania %1, poprawne %2, wyjątki %3, błędne CRC %4, "
                                     "niepasujące %5, bez odpowiedzi %6")
                       .arg(requests_)
                       .arg(counts_[int(ReplyOutcome::Valid)])
                       .arg(counts_[int(ReplyOutcome::Exception)])
                       .arg(counts_[int(ReplyOutcome::BadCrc)])
                       .arg(counts_[int(ReplyOutcome::Mismatch)])
                       .arg(counts_[int(ReplyOutcome::NoReply)]);
    if (counts_[int(ReplyOutcome::Echo)] > 0)
        text += QString::fromUtf8(", echo łącza %1").arg(counts_[int(ReplyOutcome::Echo)]);
    if (times_.isEmpty()) return text;
    const Times t = times();
    const auto ms = [](double v) { return QLocale::c().toString(v, 'f', 1).replace('.', ','); };
    return text + QString::fromUtf8("; czas odpowiedzi ms: min %1, mediana %2, maks. %3")
                      .arg(ms(t.min), ms(t.median), ms(t.max));
}
