#include "calrecord.h"
#include "logfile.h"
#include "regmap/error.h"
#include "tools/csv.h"
#include "txn/numbers.h"
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace {

QString Comma(double value, int decimals) {
    return FormatFixed(value, decimals);
}

QString TimeText(const QDateTime& time) {
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) : QString();
}

QString Status(const CalibrationRecord& r) {
    return r.finished ? QStringLiteral("ukończona") : QStringLiteral("przerwana: ") + r.stopReason;
}

QString HtmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

// The rows of the header, as label and value, shared by the CSV and the PDF.
QList<QPair<QString, QString>> HeaderRows(const CalibrationRecord& r) {
    const SampleStatistics s = StatisticsOf(r);
    QList<QPair<QString, QString>> rows{
        {"Stan", Status(r)},
        {"Początek", TimeText(r.start)},
        {"Koniec", TimeText(r.end)},
        {"Program", "vardel " + r.programVersion},
        {"Plik urządzenia", r.deviceFile},
        {"SHA-256 pliku", r.deviceSha256},
        {"Port", r.portPath},
        {"Ustawienia łącza", r.lineSettings},
        {"Adres urządzenia", r.slave},
    };
    if (!r.serialNumber.isEmpty()) rows += {{kSerialNumberLabel, r.serialNumber}};
    rows += {
        {"Zakres", r.range},
        {"Rejestr próbkowany", r.registerName + " (" + r.registerAddress + ")"},
        {"Próbek zamówionych", QString::number(r.asked)},
        {"Próbek pobranych", QString::number(s.taken)},
        {"Nieudanych odczytów", QString::number(s.failed)},
    };
    if (s.taken > 0)
        rows += {{"Średnia (jak w dzienniku)", r.meanText.isEmpty() ? "-" : r.meanText},
                 // Two different statistics, each named with its formula.
                 {"Odchylenie standardowe (√(Σ(x−x̄)²/(n−1)), x̄ średnia dokładna)",
                  Comma(s.deviation, 3)},
                 {"Błąd (jak w dzienniku: √(Σ(x−m)²)/n, m średnia zaokrąglona)",
                  r.errorText.isEmpty() ? "-" : r.errorText},
                 {"Minimum", Comma(s.minimum, 0)},
                 {"Maksimum", Comma(s.maximum, 0)}};
    if (r.stored)
        rows += {{"Zapisano do rejestru", r.storeRegister + " (" + r.storeAddress + ")"},
                 {"Zapisana wartość", r.storeValue},
                 {"Potwierdzenie urządzenia", r.storeOutcome},
                 {"Czas zapisu", TimeText(r.storeTime)}};
    return rows;
}

} // namespace

SampleStatistics StatisticsOf(const CalibrationRecord& r) {
    SampleStatistics s;
    QList<double> values;
    for (const QString& text : r.samples) {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (ok)
            values << value;
        else
            ++s.failed;
    }
    s.taken = static_cast<int>(values.size());
    s.failed += r.failedReads;
    if (values.isEmpty()) return s;
    double sum = 0;
    for (double v : values)
        sum += v;
    s.mean = sum / s.taken;
    double squares = 0;
    for (double v : values)
        squares += (v - s.mean) * (v - s.mean);
    s.deviation = s.taken > 1 ? std::sqrt(squares / (s.taken - 1)) : 0;
    s.minimum = *std::min_element(values.begin(), values.end());
    s.maximum = *std::max_element(values.begin(), values.end());
    return s;
}

namespace {
// A part of a file name made of safe characters only: letters, digits, '-', '_' and '.'
// (never two dots in a row, so no ".."), anything else as '_', at most 40 characters.
QString SafeNamePart(const QString& text) {
    QString safe;
    for (const QChar c : text) {
        const bool ok = (c.unicode() < 128 && c.isLetterOrNumber()) || c == '-' || c == '_' ||
                        (c == '.' && !safe.endsWith('.'));
        safe += ok ? c : QChar('_');
        if (safe.size() == 40) break;
    }
    return safe;
}
} // namespace

// The range as typed stays inside the record; the name is only ever a file in the folder.
QString RecordBaseName(const CalibrationRecord& r) {
    QString name = QFileInfo(r.deviceFile).fileName();
    if (name.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive)) name.chop(4);
    return QStringLiteral("%1_%2_%3")
        .arg(SafeNamePart(name),
             // Not "zapis": a run without a range is not a store.
             r.range.isEmpty() ? QStringLiteral("bez_zakresu") : SafeNamePart(r.range),
             r.start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
}

QByteArray RecordCsv(const CalibrationRecord& r) {
    QString text = QStringLiteral("Protokół kalibracji\r\n");
    for (const auto& [label, value] : HeaderRows(r))
        text += SpreadsheetField(label) + ';' + SpreadsheetField(value) + "\r\n";
    text += QStringLiteral("\r\nPróbka;Czas;Wartość\r\n");
    for (qsizetype i = 0; i < r.samples.size(); ++i)
        text += QStringLiteral("%1;%2;%3\r\n")
                    .arg(i + 1)
                    .arg(TimeText(r.sampleTimes.value(i)),
                         r.samples[i].isEmpty() ? QStringLiteral("(brak odczytu)") : r.samples[i]);
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString RecordHtml(const CalibrationRecord& r) {
    QString html =
        QStringLiteral("<html><body style=\"font-family: sans-serif; font-size: 9pt\">"
                       "<h2>Protokół kalibracji</h2><table cellspacing=\"0\" cellpadding=\"2\">");
    for (const auto& [label, value] : HeaderRows(r))
        html += QStringLiteral("<tr><td width=\"45%\"><b>%1</b></td><td>%2</td></tr>")
                    .arg(HtmlEscaped(label), HtmlEscaped(value));
    html += QStringLiteral("</table><h3>Próbki</h3><table cellspacing=\"0\" cellpadding=\"2\">"
                           "<tr><th align=\"left\" width=\"12%\">Nr</th>"
                           "<th align=\"left\" width=\"45%\">Czas</th>"
                           "<th align=\"left\">Wartość</th></tr>");
    for (qsizetype i = 0; i < r.samples.size(); ++i)
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(i + 1)
                    .arg(TimeText(r.sampleTimes.value(i)),
                         HtmlEscaped(r.samples[i].isEmpty() ? QStringLiteral("(brak odczytu)")
                                                            : r.samples[i]));
    return html + QStringLiteral("</table></body></html>");
}

QString Sha256OfFile(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return {};
    return QString::fromLatin1(hash.result().toHex());
}

void SaveRecordCsv(const CalibrationRecord& record, const QString& path) {
    SaveFileSafely(path, RecordCsv(record));
}
