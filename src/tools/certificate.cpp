#include "certificate.h"
#include "regmap/error.h"
#include "tools/logfile.h"
#include "txn/numbers.h"
#include <QDir>
#include <QFile>
#include <QLockFile>

QString NextRecordNumber(const QString& folder, int year) {
    if (!QDir().mkpath(folder))
        throw AppError(QString::fromUtf8("Nie można utworzyć folderu \"%1\".").arg(folder));
    QLockFile lock(folder + QStringLiteral("/numer.lock"));
    lock.setStaleLockTime(30000);
    if (!lock.tryLock(20000))
        throw AppError(QStringLiteral("Numer protokołu: licznik w \"%1\" jest zajęty").arg(folder));
    // One line a year: "2026 17", the last number given.
    const QString path = folder + QStringLiteral("/numer.txt");
    QMap<int, int> last;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw AppError(QStringLiteral("Numer protokołu: nie można odczytać \"%1\"").arg(path));
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            bool yearOk = false, numberOk = false;
            if (parts.size() != 2) continue;
            const int y = parts[0].toInt(&yearOk), n = parts[1].toInt(&numberOk);
            if (yearOk && numberOk) last[y] = std::max(last.value(y), n);
        }
        file.close();
    }
    const int number = last.value(year) + 1;
    if (number > 999999)
        throw AppError(
            QStringLiteral("Numer protokołu: rok %1 nie ma już wolnych numerów").arg(year));
    last[year] = number;
    QByteArray text;
    for (auto it = last.begin(); it != last.end(); ++it)
        text += QByteArray::number(it.key()) + ' ' + QByteArray::number(it.value()) + '\n';
    SaveFileSafely(path, text);
    return QStringLiteral("VD-%1-%2").arg(year).arg(number, 6, 10, QLatin1Char('0'));
}

namespace {

QString Field(const QString& text) {
    if (!text.contains(';') && !text.contains('"') && !text.contains('\n')) return text;
    return '"' + QString(text).replace('"', QLatin1String("\"\"")) + '"';
}

QString Row(const QStringList& fields) {
    QStringList escaped;
    for (const QString& f : fields)
        escaped << Field(f);
    return escaped.join(';') + QStringLiteral("\r\n");
}

QString Time(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Optional(const std::optional<double>& v, const char* unit) {
    return v ? FormatFixed(*v, 1) + ' ' + QString::fromUtf8(unit) : QStringLiteral("nie podano");
}

const ProcedureRange* RangeNamed(const Procedure& p, const QString& name) {
    for (const ProcedureRange& r : p.ranges)
        if (r.name == name) return &r;
    return nullptr;
}

QString PointTable(const QString& title, const Procedure& procedure,
                   const QList<PointResult>& points) {
    QString text = QStringLiteral("\r\n") + Row({title});
    text += Row({"Zakres", "Punkt", "Jednostka", "Nominalna", "Wzorzec", "Odczyt", "Błąd",
                 "Błąd % zakresu", "Tolerancja", "U", "k", "Stabilny", "Werdykt"});
    for (const PointResult& p : points) {
        const ProcedureRange* r = RangeNamed(procedure, p.range);
        const double res = r ? r->resolution : 0;
        text += Row({p.range, p.id, p.unit, AtResolution(p.nominal, res),
                     AtResolution(p.reference, res), AtResolution(p.mean, res),
                     AtResolution(p.error, res), FormatFixed(p.errorPercentOfSpan, 3),
                     AtResolution(p.tolerance, res), TwoSignificantDigits(p.budget.expanded),
                     FormatFixed(p.budget.k, 0), p.stable ? "tak" : "nie", VerdictText(p.verdict)});
    }
    return text;
}

QString Budget(const QString& title, const QList<PointResult>& points) {
    QString text = QStringLiteral("\r\n") + Row({title});
    text += Row({"Punkt", "n", "s", "typ A s/√n", "wzorzec U/k", "rozdzielczość r/√12",
                 "złożona u_c", "k", "rozszerzona U"});
    for (const PointResult& p : points) {
        const UncertaintyBudget& b = p.budget;
        text += Row({p.id, QString::number(b.samples), FormatFixed(b.deviation, 6),
                     FormatFixed(b.typeA, 6), FormatFixed(b.reference, 6),
                     FormatFixed(b.resolution, 6), FormatFixed(b.combined, 6), FormatFixed(b.k, 0),
                     TwoSignificantDigits(b.expanded)});
    }
    return text;
}

} // namespace

QByteArray CertificateCsv(const CertificateHeader& h, const Procedure& procedure,
                          const ProcedureContext& c, const ProcedureResult& r) {
    auto orNot = [](const QString& v) { return v.isEmpty() ? QStringLiteral("nie odczytano") : v; };
    auto orNone = [](const QString& v) { return v.isEmpty() ? QStringLiteral("nie podano") : v; };
    const QList<std::pair<QString, QString>> header{
        {"Numer protokołu", h.number},
        {"Tytuł", h.title},
        {"Stan", r.stopReason.isEmpty() ? QStringLiteral("ukończona")
                                        : QStringLiteral("przerwana: ") + r.stopReason},
        {"Data wykonania", Time(r.start) + QStringLiteral(" – ") + Time(r.end)},
        {"Data wydania", Time(h.issued)},
        {"Wykonał", orNone(c.operatorName)},
        {"Sprawdził", orNone(c.checker)},
        {"Zleceniodawca", orNone(c.customer)},
        {"Miejsce", orNone(c.place)},
        {"Temperatura otoczenia", Optional(c.temperature, "°C")},
        {"Wilgotność względna", Optional(c.humidity, "%")},
        {"Typ urządzenia", h.deviceType},
        {"Plik urządzenia", h.deviceFile},
        {"SHA-256 pliku urządzenia", h.deviceSha256},
        {"Plik procedury", h.procedureFile},
        {"SHA-256 pliku procedury", h.procedureSha256},
        {"Numer seryjny", orNot(h.serialNumber)},
        {"Oprogramowanie", orNot(h.firmware)},
        {"Adres", h.slave},
        {"Port", h.port},
        {"Łącze", h.line},
        {"Wersja programu", h.programVersion},
        {"Reguła decyzyjna",
         procedure.ranges.isEmpty() ? QString() : DecisionRuleText(procedure.ranges.first().rule)},
        {"Wynik", r.stopReason.isEmpty() ? VerdictText(r.overall()) : QStringLiteral("przerwana")},
    };
    QString text = Row({"Protokół wzorcowania"});
    for (const auto& [label, value] : header)
        text += Row({label, value});
    text += QStringLiteral("\r\n") + Row({"Wzorce"});
    text += Row({"Id", "Opis", "Model", "Numer seryjny", "Świadectwo", "Laboratorium", "U", "k",
                 "Jednostka", "Ważny do", "Stan"});
    for (const ReferenceStandard& s : c.standards)
        if (c.standardAt.values().contains(s.id))
            text += Row({s.id, s.description, s.model, s.serialNumber, s.certificate, s.lab,
                         FormatFixed(s.U, 6), FormatFixed(s.k, 2), s.unit,
                         s.due.isValid() ? s.due.toString(Qt::ISODate) : QStringLiteral("—"),
                         s.overdue(r.start.date()) ? QStringLiteral("po terminie wzorcowania")
                                                   : QStringLiteral("ważny")});
    text += PointTable(QStringLiteral("Jak znaleziono"), procedure, r.asFound);
    if (r.adjustAsked) {
        text += QStringLiteral("\r\n") +
                Row({r.adjustConfirmed ? QStringLiteral("Regulacja")
                                       : QStringLiteral("Regulacja: nie zatwierdzona, nic nie "
                                                        "zapisano")});
        text += Row({"Punkt", "Rejestr", "Adres", "Wartość przed", "Zapisano", "Odczytano",
                     "Potwierdzony", "Przyjęty", "Przywrócony"});
        for (const AdjustmentStep& s : r.adjustments)
            text += Row({s.point, s.registerName, s.address, s.before, s.wanted,
                         s.after.isEmpty() ? QStringLiteral("(brak)") : s.after,
                         s.acknowledged ? "tak" : "nie", s.holds ? "tak" : "nie",
                         s.restored ? "tak" : "nie"});
    }
    if (!r.asLeft.isEmpty())
        text += PointTable(QStringLiteral("Jak pozostawiono"), procedure, r.asLeft);
    text += Budget(QStringLiteral("Budżet niepewności, jak znaleziono"), r.asFound);
    if (!r.asLeft.isEmpty())
        text += Budget(QStringLiteral("Budżet niepewności, jak pozostawiono"), r.asLeft);
    text += QStringLiteral("\r\n") + Row({"Próbki"}) +
            Row({"Etap", "Punkt", "Nr", "Czas", "Odczyt", "Surowy"});
    auto samples = [&](const QString& stage, const QList<PointResult>& points) {
        for (const PointResult& p : points)
            for (qsizetype i = 0; i < p.readings.size(); ++i)
                text += Row({stage, p.id, QString::number(i + 1), Time(p.times.value(i)),
                             FormatFixed(p.readings[i], 6), p.rawSamples.value(i)});
    };
    samples(QStringLiteral("jak znaleziono"), r.asFound);
    samples(QStringLiteral("jak pozostawiono"), r.asLeft);
    text += QStringLiteral("\r\n") +
            Row({QStringLiteral("Wyniki dotyczą wyłącznie wzorcowanego obiektu.")}) +
            Row({QStringLiteral("Protokół może być powielany wyłącznie w całości.")}) +
            Row({QStringLiteral("Koniec protokołu")});
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}
