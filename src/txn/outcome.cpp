#include "outcome.h"

QString ExceptionName(std::uint8_t code) {
    switch (code) {
    case 1:
        return QStringLiteral("niedozwolona funkcja");
    case 2:
        return QStringLiteral("niedozwolony adres danych");
    case 3:
        return QStringLiteral("niedozwolona wartość danych");
    case 4:
        return QStringLiteral("awaria urządzenia");
    case 5:
        return QStringLiteral("potwierdzenie, wykonanie trwa");
    case 6:
        return QStringLiteral("urządzenie zajęte");
    case 8:
        return QStringLiteral("błąd parzystości pamięci");
    case 10:
        return QStringLiteral("ścieżka bramy niedostępna");
    case 11:
        return QStringLiteral("urządzenie za bramą nie odpowiada");
    default:
        return QStringLiteral("nieznany wyjątek");
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
    case ReplyOutcome::Echo:
        return QStringLiteral("echo łącza");
    case ReplyOutcome::NoReply:
        break;
    }
    return QStringLiteral("brak odpowiedzi");
}

QString ShortOutcomeText(ReplyOutcome kind, std::uint8_t exceptionCode) {
    switch (kind) {
    case ReplyOutcome::Exception:
        return QStringLiteral("wyjątek %1").arg(int(exceptionCode));
    case ReplyOutcome::BadCrc:
        return QStringLiteral("błędne CRC");
    case ReplyOutcome::Mismatch:
        return QStringLiteral("zła odpowiedź");
    default:
        return OutcomeText({kind, exceptionCode});
    }
}
