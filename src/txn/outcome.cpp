#include "outcome.h"

QString ExceptionName(std::uint8_t code) {
    switch (code) {
    case 1:
        return QStringLiteral("illegal function");
    case 2:
        return QStringLiteral("illegal data address");
    case 3:
        return QStringLiteral("illegal data value");
    case 4:
        return QStringLiteral("server device failure");
    case 5:
        return QStringLiteral("acknowledge");
    case 6:
        return QStringLiteral("server device busy");
    case 8:
        return QStringLiteral("memory parity error");
    case 10:
        return QStringLiteral("gateway path unavailable");
    case 11:
        return QStringLiteral("gateway target device failed to respond");
    default:
        return QStringLiteral("unknown exception");
    }
}

QString OutcomeText(const TransactionOutcome& outcome) {
    switch (outcome.kind) {
    case ReplyOutcome::Valid:
        return QStringLiteral("poprawna odpowiedź");
    case ReplyOutcome::Exception:
        return QStringLiteral("wyjątek %1 (%2)")
            .arg(int(outcome.exceptionCode))
            .arg(ExceptionName(outcome.exceptionCode));
    case ReplyOutcome::BadCrc:
        return QStringLiteral("błędne CRC");
    case ReplyOutcome::Mismatch:
        return QStringLiteral("odpowiedź nie pasuje do żądania");
    case ReplyOutcome::NoReply:
        break;
    }
    return QStringLiteral("brak odpowiedzi");
}
