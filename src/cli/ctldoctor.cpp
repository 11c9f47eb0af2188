#include "ctldoctor.h"
#include "link/serial.h"
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {

QString Decimal(double value) {
    return QLocale::c().toString(value, 'f', 1).replace('.', ',');
}

int ParityIndex(const QString& parity) {
    return parity == QLatin1String("even") ? 1 : parity == QLatin1String("odd") ? 2 : 0;
}

// The value at a share of the sorted values (nearest rank).
double Rank(const QList<double>& sorted, double share) {
    const auto index = static_cast<qsizetype>(std::ceil(share * sorted.size())) - 1;
    return sorted[std::clamp<qsizetype>(index, 0, sorted.size() - 1)];
}

QString WhatLimits(const DoctorFindings& f) {
    const double median = f.times.medianMs;
    const double device = median - f.wireMs;
    if (f.latencyMs && *f.latencyMs > 2 && device >= *f.latencyMs * 0.5)
        return QStringLiteral("Ogranicza przejściówka USB: oddaje odebrane bajty co %1 ms.")
            .arg(*f.latencyMs);
    if (device > 5 && device > f.wireMs)
        return QStringLiteral("Ogranicza urządzenie: odpowiada ok. %1 ms po czasie, który "
                              "odpowiedź potrzebuje na linii.")
            .arg(Decimal(device));
    const double share = median > 0 ? 100.0 * f.wireMs / median : 100.0;
    return QStringLiteral("Ogranicza sama linia: %1% czasu odpowiedzi to transmisja; krótszą "
                          "wymianę da tylko większa szybkość.")
        .arg(QLocale::c().toString(std::min(share, 100.0), 'f', 0));
}

} // namespace

QString LineTryText(const LineTry& t) {
    return LineSettingsFor(t.baud, ParityIndex(t.parity));
}

QList<LineTry> LineTries(const LineTry& given) {
    static const QStringList rates{"19200", "9600", "38400", "115200",
                                   "57600", "4800", "2400",  "1200"};
    QList<LineTry> tries{given};
    for (const QString& rate : rates)
        for (const char* parity : {"even", "none", "odd"})
            if (!(LineTry{rate, QLatin1String(parity)} == given))
                tries << LineTry{rate, QLatin1String(parity)};
    return tries;
}

ResponseTimes TimesOf(QList<double> ms) {
    ResponseTimes t;
    t.count = static_cast<int>(ms.size());
    if (ms.isEmpty()) return t;
    std::sort(ms.begin(), ms.end());
    t.medianMs =
        ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    t.p95Ms = Rank(ms, 0.95);
    t.maxMs = ms.last();
    return t;
}

QStringList DoctorVerdict(const DoctorFindings& f) {
    QStringList say;
    const QString echo =
        f.echoRemoved ? QStringLiteral("Przejściówka odsyła echo każdego żądania; --echo je usuwa.")
                      : QStringLiteral("Przejściówka odsyła echo każdego żądania: użyj --echo (w "
                                       "oknie: Ustawienia łącza… → usuwanie echa).");
    if (f.answered.isEmpty()) {
        say << QStringLiteral("Nic nie odpowiedziało: %1 ustawień łącza, adresy %2. Sprawdź "
                              "przewody (A i B), terminator, zasilanie urządzenia i przejściówkę.")
                   .arg(f.settingsTried)
                   .arg(f.addresses);
        if (f.echo) say << echo;
        return say;
    }
    const DoctorFindings::Answer& first = f.answered.first();
    if (f.answered.size() == f.settingsTried && f.settingsTried > 1)
        say << QStringLiteral("Adres %1 odpowiada przy każdym z %2 ustawień łącza: po drodze nie "
                              "ma prawdziwej linii (pseudoterminal, TCP), szybkość i parzystość "
                              "niczego tu nie zmieniają.")
                   .arg(first.slave)
                   .arg(f.settingsTried);
    else
        for (const DoctorFindings::Answer& a : f.answered)
            say << QStringLiteral("Odpowiada adres %1 przy %2.")
                       .arg(a.slave)
                       .arg(LineTryText(a.line));
    if (!(first.line == f.given))
        say << QStringLiteral("Ustawienia wywołania (%1) są inne: użyj --baud %2 --parity %3.")
                   .arg(LineTryText(f.given), first.line.baud, first.line.parity);
    if (f.echo) say << echo;
    const int unanswered = f.reads - f.times.count;
    if (unanswered > 0)
        say << QStringLiteral("%1 z %2 odczytów bez odpowiedzi w oknie odczytu %3 ms: urządzenie "
                              "bywa wolniejsze; spróbuj --timeout %4.")
                   .arg(unanswered)
                   .arg(f.reads)
                   .arg(f.timeoutMs)
                   .arg(std::max(2 * f.timeoutMs,
                                 static_cast<int>(std::ceil(f.times.maxMs * 1.5 / 10) * 10)));
    if (f.times.count == 0) return say;
    say << QStringLiteral("Czas odpowiedzi (%1 odczytów): mediana %2 ms, 95. centyl %3 ms, "
                          "maks. %4 ms; sama odpowiedź trwa na linii %5 ms.")
               .arg(f.times.count)
               .arg(Decimal(f.times.medianMs), Decimal(f.times.p95Ms), Decimal(f.times.maxMs))
               .arg(f.wireMs);
    if (f.times.medianMs < 0.5 * f.wireMs)
        say << QStringLiteral("Odpowiedzi przychodzą szybciej, niż pozwala linia przy tej "
                              "szybkości: po drodze nie ma prawdziwej linii (pseudoterminal, "
                              "TCP), szybkość niczego tu nie ogranicza.");
    else
        say << WhatLimits(f);
    if (unanswered == 0 && f.times.maxMs > 0.8 * f.timeoutMs)
        say << QStringLiteral("Najdłuższa odpowiedź jest blisko okna odczytu (%1 ms): wydłuż "
                              "--timeout do %2 ms.")
                   .arg(f.timeoutMs)
                   .arg(static_cast<int>(std::ceil(f.times.maxMs * 1.5 / 10) * 10));
    return say;
}
