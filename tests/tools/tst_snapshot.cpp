#include "regmap/error.h"
#include "tools/snapshot.h"
#include "txn/fakes.h"
#include <QtTest>

namespace {

SnapshotRegister Reg(const QString& name, const QString& value, bool answered = true,
                     const QString& access = "RW", const QString& words = QString()) {
    return {name, "200", "WORD", access, answered, value, words};
}

Snapshot Of(const QList<SnapshotRegister>& registers) {
    Snapshot s;
    s.time = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
    s.deviceType = "TR100.dat";
    s.deviceSha256 = "ab";
    s.slave = "247";
    s.registers = registers;
    return s;
}

} // namespace

class TestSnapshot : public QObject {
    Q_OBJECT
private slots:
    void compare_data() {
        QTest::addColumn<QList<SnapshotRegister>>("earlier");
        QTest::addColumn<QList<SnapshotRegister>>("later");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("restorable");
        QTest::addColumn<int>("unanswered");
        QTest::newRow("same") << QList{Reg("A", "1")} << QList{Reg("A", "1")} << false << false
                              << 0;
        QTest::newRow("another value")
            << QList{Reg("A", "1")} << QList{Reg("A", "2")} << true << true << 0;
        QTest::newRow("the same text of other words")
            << QList{Reg("A", "1,0", true, "RW", "$0001")}
            << QList{Reg("A", "1,0", true, "RW", "$0002")} << true << true << 0;
        QTest::newRow("read-only: never written")
            << QList{Reg("A", "1", true, "RO")} << QList{Reg("A", "2", true, "RO")} << true << false
            << 0;
        QTest::newRow("RP is written") << QList{Reg("A", "1", true, "RP")}
                                       << QList{Reg("A", "2", true, "RP")} << true << true << 0;
        QTest::newRow("no answer now")
            << QList{Reg("A", "1")} << QList{Reg("A", "bez odpowiedzi", false)} << true << true
            << 0;
        QTest::newRow("no answer then: nothing to restore")
            << QList{Reg("A", "bez odpowiedzi", false)} << QList{Reg("A", "2")} << true << false
            << 0;
        QTest::newRow("no answer in either")
            << QList{Reg("A", "bez odpowiedzi", false)} << QList{Reg("A", "bez odpowiedzi", false)}
            << false << false << 1;
        QTest::newRow("only in the earlier")
            << QList{Reg("A", "1")} << QList<SnapshotRegister>{} << true << false << 0;
    }
    void compare() {
        QFETCH(QList<SnapshotRegister>, earlier);
        QFETCH(QList<SnapshotRegister>, later);
        const Comparison c = Compare(Of(earlier), Of(later));
        QCOMPARE(c.rows.size(), 1);
        QTEST(c.rows[0].changed, "changed");
        QTEST(c.rows[0].restorable, "restorable");
        QTEST(c.unanswered, "unanswered");
        QCOMPARE(c.changed + c.same + c.unanswered, 1);
    }

    // A snapshot keeps each register's words as the device sent them, not as decoding
    // turned them, beside the value read.
    void wordsAsOnTheWire() {
        RegisterTree tree;
        ScriptedLink link;
        RecordingFrontend ui;
        TransactionEngine engine(tree, link, ui);
        TreeNode* real = tree.appendTopLevel();
        real->record = {"Próg", "", "230", "REAL", "2", "RW", ""};
        TreeNode* word = tree.appendTopLevel();
        word->record = {"Tryb", "", "240", "WORD", "1", "RW", ""};
        link.script = [](const QByteArray& request) {
            return AddressOf(request) == 230 ? Answer(request, {0x0000, 0x4248})
                                             : Answer(request, {0x1234});
        };
        const QList<SnapshotRegister> taken = ReadSettings(engine, {real, word}, {});
        QCOMPARE(taken.size(), 2);
        QCOMPARE(taken[0].value, QString("50,00"));
        QCOMPARE(taken[0].words, QString("$0000 $4248"));
        QCOMPARE(taken[1].words, QString("$1234"));
    }

    void roundTrip() {
        Snapshot s = Of({Reg("Tryb", "$01", true, "RW", "$0100"), Reg("Etykieta", "a;\"b\"")});
        s.identity = "Producent vardel (funkcja 43/14 i 17)";
        s.serialNumber = "SN-1";
        const Snapshot back = SnapshotFromJson(SnapshotJson(s), "x.json");
        QCOMPARE(back.time, s.time);
        QCOMPARE(back.serialNumber, s.serialNumber);
        QCOMPARE(back.registers.size(), 2);
        QCOMPARE(back.registers[1].value, QStringLiteral("a;\"b\""));
        QCOMPARE(back.registers[0].words, QStringLiteral("$0100"));
        QCOMPARE(Compare(s, back).changed, 0);
        QCOMPARE(SnapshotFileName(s),
                 QStringLiteral("zrzuty/TR100_adres247_2026-12-09_10-00-00.json"));
        const QByteArray csv = ComparisonCsv(Compare(s, back));
        QVERIFY2(csv.contains("Etykieta;200;\"a;\"\"b\"\"\";\"a;\"\"b\"\"\";0\n"), csv.constData());
    }

    // A file that is no snapshot names the file, the key and the reason.
    void badFiles_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("why");
        const QByteArray head = R"({"format":"vardel-snapshot-1","time":"2026-12-09T10:00:00",)";
        QTest::newRow("not JSON") << QByteArray("zrzut") << "x.json: to nie jest zrzut ustawień";
        QTest::newRow("an array") << QByteArray("[]") << "potrzebny obiekt JSON";
        QTest::newRow("another format") << QByteArray(R"({"format":"csv"})")
                                        << "x.json: \"format\": potrzebne vardel-snapshot-1";
        QTest::newRow("a bad time")
            << QByteArray(R"({"format":"vardel-snapshot-1","time":"wczoraj"})")
            << "\"time\": potrzebna data ISO 8601";
        QTest::newRow("no device type") << head + R"("slave":"1"})"
                                        << "\"deviceType\": brak klucza";
        QTest::newRow("a number for a text") << head + R"("deviceType":5})"
                                             << "\"deviceType\": potrzebny tekst";
        QTest::newRow("registers not an array")
            << head + R"("deviceType":"a","deviceSha256":"b","slave":"1","registers":{}})"
            << "\"registers\": potrzebna tablica";
        QTest::newRow("a register without its value")
            << head + R"("deviceType":"a","deviceSha256":"b","slave":"1","registers":[)"
                      R"({"name":"A","address":"1","type":"WORD","access":"RW"}]})"
            << "\"value\": brak klucza";
    }
    void badFiles() {
        QFETCH(QByteArray, json);
        QFETCH(QString, why);
        try {
            SnapshotFromJson(json, "x.json");
            QFAIL("accepted");
        } catch (const AppError& e) {
            QVERIFY2(e.message().contains(why), qPrintable(e.message()));
        }
    }

    void otherDevice_data() {
        QTest::addColumn<QString>("serialThen");
        QTest::addColumn<QString>("serialNow");
        QTest::addColumn<QString>("typeNow");
        QTest::addColumn<QString>("shaNow");
        QTest::addColumn<QString>("why");
        QTest::newRow("the same") << ""
                                  << ""
                                  << "TR100.dat"
                                  << "ab"
                                  << "";
        QTest::newRow("the same serial, another file") << "SN-1"
                                                       << "SN-1"
                                                       << "TR100.dat"
                                                       << "cd"
                                                       << "";
        QTest::newRow("another serial") << "SN-1"
                                        << "SN-2"
                                        << "TR100.dat"
                                        << "ab"
                                        << "inny numer seryjny: zrzut SN-1, urządzenie SN-2";
        QTest::newRow("another type") << ""
                                      << ""
                                      << "TR100F.dat"
                                      << "ab"
                                      << "inny typ urządzenia: zrzut TR100.dat, teraz TR100F.dat";
        QTest::newRow("another file") << ""
                                      << ""
                                      << "TR100.dat"
                                      << "cd"
                                      << "inny plik urządzenia TR100.dat (SHA-256 się różni)";
    }
    void otherDevice() {
        QFETCH(QString, serialThen);
        QFETCH(QString, serialNow);
        QFETCH(QString, typeNow);
        QFETCH(QString, shaNow);
        Snapshot then = Of({}), now = Of({});
        then.serialNumber = serialThen;
        now.serialNumber = serialNow;
        now.deviceType = typeNow;
        now.deviceSha256 = shaNow;
        QTEST(OtherDevice(then, now), "why");
    }
};

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
