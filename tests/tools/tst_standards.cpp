#include "regmap/error.h"
#include "tools/standards.h"
#include <QtTest>

class TestStandards : public QObject {
    Q_OBJECT
private slots:
    void goodFile() {
        const QList<ReferenceStandard> list = ReadStandards(R"({"standards": [
            {"id": "R-07", "description": "Opornik 100 Ω", "model": "X1", "serialNumber": "77",
             "certificate": "W-123/2026", "lab": "Lab", "U": 0.002, "k": 2, "unit": "Ω",
             "due": "2027-03-31"},
            {"id": "R-08", "U": 0.01}]})",
                                                            "wzorce.json");
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].certificate, QString("W-123/2026"));
        QCOMPARE(list[0].due, QDate(2027, 3, 31));
        QVERIFY(!list[0].overdue(QDate(2027, 3, 31)));
        QVERIFY(list[0].overdue(QDate(2027, 4, 1)));
        QCOMPARE(list[1].k, 2.0);                     // not given: 2
        QVERIFY(!list[1].overdue(QDate(2099, 1, 1))); // no due date: never overdue
        QCOMPARE(FindStandard(list, "R-08"), &list[1]);
        QCOMPARE(FindStandard(list, "R-09"), nullptr);
    }

    // What the editor saves reads back as the same list, non-ASCII text and all.
    void writtenReadsBack() {
        ReferenceStandard a;
        a.id = "R-07";
        a.description = "Opornik wzorcowy 100 Ω, „dekadowy”";
        a.U = 0.0025;
        a.k = 2.1;
        a.unit = "Ω";
        a.due = QDate(2027, 2, 28);
        ReferenceStandard b;
        b.id = "T-1";
        const QList<ReferenceStandard> back = ReadStandards(StandardsJson({a, b}), "wzorce.json");
        QCOMPARE(back.size(), 2);
        QCOMPARE(back[0].description, a.description);
        QCOMPARE(back[0].U, 0.0025);
        QCOMPARE(back[0].k, 2.1);
        QCOMPARE(back[0].due, a.due);
        QCOMPARE(back[1].id, QString("T-1"));
        QVERIFY(!back[1].due.isValid());
        QCOMPARE(back[1].k, 2.0);
    }

    void badFiles_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        QTest::newRow("no list") << QByteArray("{}") << "wzorce.json: potrzebny obiekt JSON";
        QTest::newRow("unknown key")
            << QByteArray(R"({"standards": [{"id": "A", "uncertainty": 1}]})")
            << "wzorce.json: \"standards[0].uncertainty\": nieznany klucz";
        QTest::newRow("no id") << QByteArray(R"({"standards": [{"U": 1}]})")
                               << "wzorce.json: \"standards[0].id\": brak klucza";
        QTest::newRow("twice") << QByteArray(R"({"standards": [{"id": "A"}, {"id": "A"}]})")
                               << QString::fromUtf8(
                                      "wzorce.json: \"standards[1].id\": wzorzec \"A\" już jest");
        QTest::newRow("negative U") << QByteArray(R"({"standards": [{"id": "A", "U": -1}]})")
                                    << "wzorce.json: \"standards[0].U\": potrzebna liczba";
        QTest::newRow("k zero") << QByteArray(R"({"standards": [{"id": "A", "k": 0}]})")
                                << "wzorce.json: \"standards[0].k\": potrzebna liczba";
        QTest::newRow("bad date") << QByteArray(
                                         R"({"standards": [{"id": "A", "due": "31.03.2027"}]})")
                                  << "wzorce.json: \"standards[0].due\": potrzebna data RRRR-MM-DD";
    }
    void badFiles() {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        try {
            ReadStandards(json, "wzorce.json");
            QFAIL("accepted");
        } catch (const AppError& e) {
            QVERIFY2(e.message().startsWith(message), qPrintable(e.message()));
        }
    }

    void noFileIsNoStandards() {
        QCOMPARE(ReadStandardsFile("/nonexistent/wzorce.json").size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestStandards)
#include "tst_standards.moc"
