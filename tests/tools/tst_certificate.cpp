#include "regmap/error.h"
#include "tools/certificate.h"
#include <QFile>
#include <QThread>
#include <QtTest>

class TestCertificate : public QObject {
    Q_OBJECT
private slots:
    // Numbers follow each other within a year and start again in the next; a line of the
    // counter file that is no number is passed over, never taken for one.
    void numbers() {
        QTemporaryDir dir;
        QCOMPARE(NextRecordNumber(dir.path(), 2026), QString("VD-2026-000001"));
        QCOMPARE(NextRecordNumber(dir.path(), 2026), QString("VD-2026-000002"));
        QCOMPARE(NextRecordNumber(dir.path(), 2027), QString("VD-2027-000001"));
        QFile counter(dir.path() + "/numer.txt");
        QVERIFY(counter.open(QIODevice::Append));
        counter.write("smieci\n2026 x\n2026 41\n");
        counter.close();
        QCOMPARE(NextRecordNumber(dir.path(), 2026), QString("VD-2026-000042"));
        QCOMPARE(NextRecordNumber(dir.path(), 2027), QString("VD-2027-000002"));
    }

    // Two writers at once never get the same number.
    void twoAtOnce() {
        QTemporaryDir dir;
        QStringList a, b;
        auto take = [&dir](QStringList* into) {
            for (int i = 0; i < 25; ++i)
                *into << NextRecordNumber(dir.path(), 2026);
        };
        QThread* first = QThread::create(take, &a);
        QThread* second = QThread::create(take, &b);
        first->start();
        second->start();
        QVERIFY(first->wait(60000) && second->wait(60000));
        delete first;
        delete second;
        QStringList all = a + b;
        all.sort();
        all.removeDuplicates();
        QCOMPARE(all.size(), 50);
        QCOMPARE(all.first(), QString("VD-2026-000001"));
        QCOMPARE(all.last(), QString("VD-2026-000050"));
    }

    void folderThatCannotBe() {
        QTemporaryDir dir;
        QFile file(dir.path() + "/plik");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY_THROWS_EXCEPTION(AppError, NextRecordNumber(dir.path() + "/plik/x", 2026));
    }

    // The CSV carries the number, the tables with their verdicts, the adjustment, the
    // budget, the fixed sentences and the end mark, each field a cell.
    void csv() {
        Procedure procedure;
        procedure.title = "T";
        ProcedureRange range;
        range.name = "R";
        range.resolution = 0.01;
        range.rule = DecisionRule::GuardBanded;
        procedure.ranges << range;
        ProcedureContext context;
        context.operatorName = "Jan; Kowalski"; // a ';' stays inside its cell
        context.place = "Hala\rB";              // and a carriage return, which ends a row
        ReferenceStandard standard;
        standard.id = "R-07";
        standard.due = QDate(2026, 1, 31);
        context.standards << standard;
        context.standardAt.insert(QString(), "R-07");
        ProcedureResult result;
        result.start = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        result.end = result.start.addSecs(60);
        PointResult p;
        p.range = "R";
        p.id = "100R";
        p.unit = "Ω";
        p.nominal = p.reference = 100;
        p.readings = {100.8, 100.8};
        p.times = {result.start, result.start};
        p.rawSamples = {"1008", "1008"};
        p.mean = 100.8;
        p.error = 0.8;
        p.tolerance = 0.1;
        p.budget = BudgetOf(p.readings, 0.002, 2, 0.01);
        p.verdict = Verdict::Fail;
        result.asFound << p;
        result.adjustAsked = result.adjustConfirmed = true;
        result.adjustments << AdjustmentStep{"100R", "N100", "300", "1000", "1008",
                                             "1008", true,   true,  false};
        p.mean = 100;
        p.error = 0;
        p.verdict = Verdict::Pass;
        result.asLeft << p;
        CertificateHeader h;
        h.number = "VD-2026-000007";
        h.issued = result.end;
        const QByteArray bytes = CertificateCsv(h, procedure, context, result);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF")); // a spreadsheet reads it as UTF-8
        const QString text = QString::fromUtf8(bytes.mid(3));
        const QStringList lines = text.split("\r\n");
        QVERIFY(lines.contains("Numer protokołu;VD-2026-000007"));
        QVERIFY(lines.contains("Wykonał;\"Jan; Kowalski\""));
        QVERIFY(lines.contains("Miejsce;\"Hala\rB\""));
        QVERIFY(lines.contains("Wynik;zgodny"));
        QVERIFY(
            lines.contains("R;100R;Ω;100,00;100,00;100,80;0,80;0,000;0,10;0,0062;2;tak;niezgodny"));
        QVERIFY(
            lines.contains("R;100R;Ω;100,00;100,00;100,00;0,00;0,000;0,10;0,0062;2;tak;zgodny"));
        QVERIFY(lines.contains("100R;N100;300;1000;1008;1008;tak;tak;nie"));
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString& l) {
            return l.startsWith("R-07;") && l.endsWith(";2026-01-31;po terminie wzorcowania");
        }));
        QVERIFY(lines.contains("jak znaleziono;100R;2;2026-12-09 10:00:00;100,800000;1008"));
        QVERIFY(lines.contains("Wyniki dotyczą wyłącznie wzorcowanego obiektu."));
        QVERIFY(lines.contains("Protokół może być powielany wyłącznie w całości."));
        QCOMPARE(lines[lines.size() - 2], QString("Koniec protokołu"));
    }
};

QTEST_GUILESS_MAIN(TestCertificate)
#include "tst_certificate.moc"
