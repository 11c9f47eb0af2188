#include "certificate.h"
#include "regmap/error.h"
#include "tools/csv.h"
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

// One table of the certificate, the same in the CSV and in the PDF.
struct Table {
    QString title;
    QStringList columns;
    QList<QStringList> rows;
};

// Everything the certificate says, in its order; the CSV and the PDF only lay it out.
struct Content {
    QString heading;
    QList<std::pair<QString, QString>> header;
    QList<Table> tables;
    Table samples; // the annex
    QString operatorName, checker;
};

const QStringList kFixedSentences{
    QStringLiteral("Wyniki dotyczą wyłącznie wzorcowanego obiektu."),
    QStringLiteral("Protokół może być powielany wyłącznie w całości.")};
const QString kEndMark = QStringLiteral("Koniec protokołu");

Table PointTable(const QString& title, const Procedure& procedure,
                 const QList<PointResult>& points) {
    Table t{title,
            {"Zakres", "Punkt", "Jednostka", "Nominalna", "Wzorzec", "Odczyt", "Błąd",
             "Błąd % zakresu", "Tolerancja", "U", "k", "Stabilny", "Werdykt"},
            {}};
    for (const PointResult& p : points) {
        const ProcedureRange* r = RangeNamed(procedure, p.range);
        const double res = r ? r->resolution : 0;
        t.rows << QStringList{p.range,
                              p.id,
                              p.unit,
                              AtResolution(p.nominal, res),
                              AtResolution(p.reference, res),
                              AtResolution(p.mean, res),
                              AtResolution(p.error, res),
                              FormatFixed(p.errorPercentOfSpan, 3),
                              AtResolution(p.tolerance, res),
                              TwoSignificantDigits(p.budget.expanded),
                              FormatFixed(p.budget.k, 0),
                              p.stable ? "tak" : "nie",
                              VerdictText(p.verdict)};
    }
    return t;
}

Table Budget(const QString& title, const QList<PointResult>& points) {
    Table t{title,
            {"Punkt", "n", "s", "typ A s/√n", "wzorzec U/k", "rozdzielczość r/√12", "złożona u_c",
             "k", "rozszerzona U"},
            {}};
    for (const PointResult& p : points) {
        const UncertaintyBudget& b = p.budget;
        t.rows << QStringList{p.id,
                              QString::number(b.samples),
                              FormatFixed(b.deviation, 6),
                              FormatFixed(b.typeA, 6),
                              FormatFixed(b.reference, 6),
                              FormatFixed(b.resolution, 6),
                              FormatFixed(b.combined, 6),
                              FormatFixed(b.k, 0),
                              TwoSignificantDigits(b.expanded)};
    }
    return t;
}

Table Standards(const ProcedureContext& c, const ProcedureResult& r) {
    Table t{QStringLiteral("Wzorce"),
            {"Id", "Opis", "Model", "Numer seryjny", "Świadectwo", "Laboratorium", "U", "k",
             "Jednostka", "Ważny do", "Stan"},
            {}};
    for (const ReferenceStandard& s : c.standards)
        if (c.standardAt.values().contains(s.id))
            t.rows << QStringList{
                s.id,
                s.description,
                s.model,
                s.serialNumber,
                s.certificate,
                s.lab,
                FormatFixed(s.U, 6),
                FormatFixed(s.k, 2),
                s.unit,
                s.due.isValid() ? s.due.toString(Qt::ISODate) : QStringLiteral("—"),
                s.overdue(r.start.date()) ? QStringLiteral("po terminie wzorcowania")
                                          : QStringLiteral("ważny")};
    return t;
}

Table Adjustments(const ProcedureResult& r) {
    Table t{r.adjustConfirmed ? QStringLiteral("Regulacja")
                              : QStringLiteral("Regulacja: nie zatwierdzona, nic nie zapisano"),
            {"Punkt", "Rejestr", "Adres", "Wartość przed", "Zapisano", "Odczytano", "Potwierdzony",
             "Przyjęty", "Przywrócony"},
            {}};
    for (const AdjustmentStep& s : r.adjustments)
        t.rows << QStringList{s.point,
                              s.registerName,
                              s.address,
                              s.before,
                              s.wanted,
                              s.after.isEmpty() ? QStringLiteral("(brak)") : s.after,
                              s.acknowledged ? "tak" : "nie",
                              s.holds ? "tak" : "nie",
                              s.restored ? "tak" : "nie"};
    return t;
}

Table Samples(const ProcedureResult& r) {
    Table t{QStringLiteral("Próbki"), {"Etap", "Punkt", "Nr", "Czas", "Odczyt", "Surowy"}, {}};
    auto add = [&](const QString& stage, const QList<PointResult>& points) {
        for (const PointResult& p : points)
            for (qsizetype i = 0; i < p.readings.size(); ++i)
                t.rows << QStringList{stage,
                                      p.id,
                                      QString::number(i + 1),
                                      Time(p.times.value(i)),
                                      FormatFixed(p.readings[i], 6),
                                      p.rawSamples.value(i)};
    };
    add(QStringLiteral("jak znaleziono"), r.asFound);
    add(QStringLiteral("jak pozostawiono"), r.asLeft);
    return t;
}

Content ContentOf(const CertificateHeader& h, const Procedure& procedure, const ProcedureContext& c,
                  const ProcedureResult& r) {
    auto orNot = [](const QString& v) { return v.isEmpty() ? QStringLiteral("nie odczytano") : v; };
    auto orNone = [](const QString& v) { return v.isEmpty() ? QStringLiteral("nie podano") : v; };
    Content content;
    content.heading = QStringLiteral("Protokół wzorcowania");
    content.operatorName = c.operatorName;
    content.checker = c.checker;
    content.header = {
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
    content.tables << Standards(c, r)
                   << PointTable(QStringLiteral("Jak znaleziono"), procedure, r.asFound);
    if (r.adjustAsked) content.tables << Adjustments(r);
    if (!r.asLeft.isEmpty())
        content.tables << PointTable(QStringLiteral("Jak pozostawiono"), procedure, r.asLeft);
    content.tables << Budget(QStringLiteral("Budżet niepewności, jak znaleziono"), r.asFound);
    if (!r.asLeft.isEmpty())
        content.tables << Budget(QStringLiteral("Budżet niepewności, jak pozostawiono"), r.asLeft);
    content.samples = Samples(r);
    return content;
}

QString CsvTable(const Table& t) {
    QString text = QStringLiteral("\r\n") + SpreadsheetRow({t.title}) + SpreadsheetRow(t.columns);
    for (const QStringList& row : t.rows)
        text += SpreadsheetRow(row);
    return text;
}

QString HtmlTable(const Table& t, const char* fontSize) {
    QString html = QStringLiteral("<h4>%1</h4><table border=\"1\" cellspacing=\"0\" "
                                  "cellpadding=\"2\" width=\"100%\" style=\"font-size: %2; "
                                  "border-collapse: collapse\"><tr>")
                       .arg(t.title.toHtmlEscaped(), QString::fromLatin1(fontSize));
    for (const QString& column : t.columns)
        html += QStringLiteral("<th align=\"left\">%1</th>").arg(column.toHtmlEscaped());
    html += QStringLiteral("</tr>");
    if (t.rows.isEmpty())
        html += QStringLiteral("<tr><td colspan=\"%1\">(brak)</td></tr>").arg(t.columns.size());
    for (const QStringList& row : t.rows) {
        html += QStringLiteral("<tr>");
        for (const QString& cell : row)
            html += QStringLiteral("<td>%1</td>").arg(cell.toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

} // namespace

QByteArray CertificateCsv(const CertificateHeader& h, const Procedure& procedure,
                          const ProcedureContext& c, const ProcedureResult& r) {
    const Content content = ContentOf(h, procedure, c, r);
    QString text = SpreadsheetRow({content.heading});
    for (const auto& [label, value] : content.header)
        text += SpreadsheetRow({label, value});
    for (const Table& t : content.tables)
        text += CsvTable(t);
    text += CsvTable(content.samples) + QStringLiteral("\r\n");
    for (const QString& sentence : kFixedSentences)
        text += SpreadsheetRow({sentence});
    text += SpreadsheetRow({kEndMark});
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString CertificateHtml(const CertificateHeader& h, const Procedure& procedure,
                        const ProcedureContext& c, const ProcedureResult& r) {
    const Content content = ContentOf(h, procedure, c, r);
    QString html = QStringLiteral("<html><body style=\"font-family: sans-serif; font-size: 9pt\">"
                                  "<h2>%1 nr %2</h2><table cellspacing=\"0\" cellpadding=\"1\">")
                       .arg(content.heading, h.number.toHtmlEscaped());
    for (const auto& [label, value] : content.header)
        html += QStringLiteral("<tr><td width=\"32%\"><b>%1</b></td><td>%2</td></tr>")
                    .arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    html += QStringLiteral("</table>");
    for (const Table& t : content.tables)
        html += HtmlTable(t, "7pt");
    for (const QString& sentence : kFixedSentences)
        html += QStringLiteral("<p>%1</p>").arg(sentence.toHtmlEscaped());
    // Room to sign by hand, under each name.
    html += QStringLiteral(
                "<table width=\"100%\" cellpadding=\"4\" style=\"margin-top: 24px\"><tr>"
                "<td width=\"50%\">Wykonał: %1<br><br>.......................................<br>"
                "podpis</td><td>Sprawdził: %2<br><br>.......................................<br>"
                "podpis</td></tr></table>")
                .arg(content.operatorName.toHtmlEscaped(), content.checker.toHtmlEscaped());
    html += QStringLiteral("<h3 style=\"page-break-before: always\">Załącznik: próbki</h3>");
    html += HtmlTable(content.samples, "7pt");
    html += QStringLiteral("<p><b>%1</b></p></body></html>").arg(kEndMark.toHtmlEscaped());
    return html;
}
