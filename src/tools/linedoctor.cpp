#include "linedoctor.h"
#include "rawrequest.h"
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <utility>

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

// The advice that names the controls: vardelctl's options or the window's.
struct Advice {
    const char* echoRemoved;
    const char* echoNotRemoved;
    const char* otherSettings; // %1 the settings asked, %2 baud, %3 parity
    const char* slower;        // %1 of %2 reads unanswered, %3 the window, %4 a longer one
    const char* nearWindow;    // %1 the window, %2 a longer one
};

const Advice& AdviceFor(DoctorAudience audience) {
    static const Advice commandLine{
        "Przejściówka odsyła echo każdego żądania; --echo je usuwa.",
        "Przejściówka odsyła echo każdego żądania: użyj --echo (w oknie: Ustawienia łącza… → "
        "usuwanie echa).",
        "Ustawienia wywołania (%1) są inne: użyj --baud %2 --parity %3.",
        "%1 z %2 odczytów bez odpowiedzi w oknie odczytu %3 ms: urządzenie bywa wolniejsze; "
        "spróbuj --timeout %4.",
        "Najdłuższa odpowiedź jest blisko okna odczytu (%1 ms): wydłuż --timeout do %2 ms."};
    static const Advice window{
        "Przejściówka odsyła echo każdego żądania; usuwanie echa je pomija.",
        "Przejściówka odsyła echo każdego żądania: zaznacz \"Usuwaj echo przejściówki\" "
        "w Ustawieniach łącza.",
        "Ustawienia okna (%1) są inne: Szybkość %2, Parzystość %3.",
        "%1 z %2 odczytów bez odpowiedzi w oknie odczytu %3 ms: urządzenie bywa wolniejsze; "
        "spróbuj czasu oczekiwania %4 ms w Ustawieniach łącza.",
        "Najdłuższa odpowiedź jest blisko okna odczytu (%1 ms): wydłuż czas oczekiwania do %2 ms "
        "w Ustawieniach łącza."};
    return audience == DoctorAudience::Window ? window : commandLine;
}

// A read window half again as long as the longest reply, in whole tens of milliseconds.
int LongerWindowMs(double maxMs) {
    return static_cast<int>(std::ceil(maxMs * 1.5 / 10) * 10);
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

std::optional<QList<int>> DoctorAddressesOf(const QString& text, QString& shown) {
    const QString t = text.trimmed();
    QList<int> addresses;
    if (t.isEmpty()) {
        addresses << 247;
        for (int a = 1; a < 247; ++a)
            addresses << a;
        shown = QStringLiteral("1-247");
        return addresses;
    }
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,3})(?:\\s*-\\s*(\\d{1,3}))?$"));
    const QRegularExpressionMatch m = pattern.match(t);
    if (!m.hasMatch()) return std::nullopt;
    const int from = m.captured(1).toInt();
    const int to = m.captured(2).isEmpty() ? from : m.captured(2).toInt();
    if (from < 1 || to > 247 || from > to) return std::nullopt;
    for (int a = from; a <= to; ++a)
        addresses << a;
    shown = from == to ? QString::number(from) : QStringLiteral("%1-%2").arg(from).arg(to);
    return addresses;
}

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

QStringList DoctorVerdict(const DoctorFindings& f, DoctorAudience audience) {
    const Advice& advice = AdviceFor(audience);
    QStringList say;
    const QString echo =
        QString::fromUtf8(f.echoRemoved ? advice.echoRemoved : advice.echoNotRemoved);
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
        say << QString::fromUtf8(advice.otherSettings)
                   .arg(LineTryText(f.given), first.line.baud, first.line.parity);
    if (f.echo) say << echo;
    const int unanswered = f.reads - f.times.count;
    if (unanswered > 0)
        say << QString::fromUtf8(advice.slower)
                   .arg(unanswered)
                   .arg(f.reads)
                   .arg(f.timeoutMs)
                   .arg(std::max(2 * f.timeoutMs, LongerWindowMs(f.times.maxMs)));
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
        say << QString::fromUtf8(advice.nearWindow)
                   .arg(f.timeoutMs)
                   .arg(LongerWindowMs(f.times.maxMs));
    return say;
}

LineDoctor::LineDoctor(DoctorLine line, ProbeFor probe)
    : line_(std::move(line)), probe_(std::move(probe)) {}

// One probe: an answer (a value or an exception), the request's own bytes, or nothing that
// answers it.
LineDoctor::Heard LineDoctor::Ask(int slave) {
    const RequestFrame request = probe_(slave);
    const RawReply reply = SendRaw(line_.link, request);
    ++done_;
    if (exchanged) exchanged(request, reply);
    if (advanced) advanced(done_, std::max(done_, total_));
    if (reply.kind == ReplyOutcome::Valid || reply.kind == ReplyOutcome::Exception)
        return Heard::Answer;
    return reply.kind == ReplyOutcome::Echo ? Heard::Echo : Heard::Nothing;
}

// An echo found turns echo removal on for the rest of the run and asks again.
bool LineDoctor::Probe(int slave, DoctorFindings& f) {
    Heard heard = Ask(slave);
    if (heard == Heard::Echo) {
        f.echo = true;
        line_.removeEcho(true);
        heard = Ask(slave);
    }
    return heard == Heard::Answer;
}

void LineDoctor::Run(DoctorFindings& f, const QList<int>& addresses) {
    constexpr int kTimedReads = 20;
    const QList<LineTry> tries = LineTries(f.given);
    done_ = 0;
    int found = -1;
    for (qsizetype i = 0; i < tries.size() && !Stopped() && line_.link.isOpen(); ++i) {
        const LineTry& line = tries[i];
        const QList<int> asked = found >= 0 ? QList<int>{found} : addresses;
        total_ = done_ + static_cast<int>((tries.size() - i) * asked.size()) + kTimedReads;
        ++f.settingsTried;
        if (!line_.apply(LineTryText(line))) {
            if (refused) refused(line_.link.failureReason);
            continue;
        }
        if (asked.size() > 1 && progress)
            progress(QStringLiteral("%1, adresy %2…").arg(LineTryText(line), f.addresses));
        for (int address : asked) {
            if (Stopped() || !line_.link.isOpen()) break;
            if (!Probe(address, f)) continue;
            f.answered << DoctorFindings::Answer{line, address};
            if (answered) answered(f.answered.last());
            found = address;
            break;
        }
    }
    if (found >= 0 && !Stopped() && line_.link.isOpen()) TimeReplies(f, kTimedReads);
    if (advanced) advanced(done_, done_);
    if (!line_.link.isOpen()) return;
    line_.apply(line_.settings);
    line_.removeEcho(line_.echoRemoved);
}

// Timed reads at the first setting that answered: their times against the reply's own time
// on the line.
void LineDoctor::TimeReplies(DoctorFindings& f, int reads) {
    const DoctorFindings::Answer& answer = f.answered.first();
    if (!line_.apply(LineTryText(answer.line))) return;
    QList<double> ms;
    for (int i = 0; i < reads && !Stopped() && line_.link.isOpen(); ++i, ++f.reads)
        if (Ask(answer.slave) == Heard::Answer && line_.link.lastReplyMs >= 0)
            ms << line_.link.lastReplyMs;
    f.times = TimesOf(ms);
    const RequestFrame request = probe_(answer.slave);
    f.wireMs =
        LineTimeMs(ExpectedReplyLength(request.Frame, request.Length), answer.line.baud.toInt());
}
