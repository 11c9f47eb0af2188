#include "regmap/error.h"
#include "txn/builders.h"
#include <QtTest>

// Every expected frame below is written out whole, its CRC included (low byte first).
namespace {
QByteArray Sent(const RequestFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.Frame), frame.Length);
}
RegisterNode Reg(const char* address, const char* count, const char* access,
                 const char* type = "WORD", const char* value = "") {
    return {"R", "", address, type, count, access, QString::fromUtf8(value)};
}
} // namespace

Q_DECLARE_METATYPE(RegisterNode)

class TestBuilders : public QObject {
    Q_OBJECT
private slots:
    void readRequest_data() {
        QTest::addColumn<RegisterNode>("node");
        QTest::addColumn<QString>("slave");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("registerCount");
        QTest::newRow("RO is function 4")
            << Reg("16", "2", "RO") << "1" << QByteArray::fromHex("010400100002700E") << 2;
        QTest::newRow("$10 address")
            << Reg("$10", "2", "RO") << "1" << QByteArray::fromHex("010400100002700E") << 2;
        QTest::newRow("RW is function 3")
            << Reg("16", "2", "RW") << "1" << QByteArray::fromHex("010300100002C5CE") << 2;
        QTest::newRow("group is function 3")
            << Reg("16", "1", "") << "247" << QByteArray::fromHex("F703001000019159") << 1;
        QTest::newRow("count modulo 256")
            << Reg("0", "257", "RO") << "1" << QByteArray::fromHex("01040000000131CA") << 1;
        QTest::newRow("address low 16 bits")
            << Reg("$12345", "1", "RW") << "1" << QByteArray::fromHex("0103234500019E5B") << 1;
        QTest::newRow("slave low 8 bits")
            << Reg("0", "1", "RW") << "257" << QByteArray::fromHex("010300000001840A") << 1;
        QTest::newRow("slave 0 still built")
            << Reg("0", "1", "RW") << "0" << QByteArray::fromHex("00030000000185DB") << 1;
    }
    void readRequest() {
        QFETCH(RegisterNode, node);
        QFETCH(QString, slave);
        QFETCH(QByteArray, frame);
        QFETCH(int, registerCount);
        const RequestFrame built = BuildReadRequest(node, slave);
        QCOMPARE(Sent(built).toHex(), frame.toHex());
        QCOMPARE(int(built.RegisterCount), registerCount);
        QCOMPARE(int(built.ValueType), int(TypeCodeOf(node.Type)));
    }

    void writeSingle_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("-1") << "-1" << QByteArray::fromHex("01060005FFFF987B");
        QTest::newRow("65535") << "65535" << QByteArray::fromHex("01060005FFFF987B");
        QTest::newRow("-32768") << "-32768" << QByteArray::fromHex("010600058000F80B");
        QTest::newRow("$ABCD") << "$ABCD" << QByteArray::fromHex("01060005ABCD276E");
    }
    void writeSingle() {
        QFETCH(QString, value);
        QFETCH(QByteArray, frame);
        const RequestFrame built =
            BuildWriteSingleRequest(Reg("5", "1", "RW", "REAL", qPrintable(value)), "1");
        QCOMPARE(Sent(built).toHex(), frame.toHex());
        QCOMPARE(int(built.ValueType), int(tcReal));
    }

    // One register takes -32768 to 65535; a number outside is refused, naming the range,
    // before any frame is built.
    void writeSingleRefusesNumbersOutsideTheRegister_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("65536") << "65536";
        QTest::newRow("70000") << "70000";
        QTest::newRow("-32769") << "-32769";
        QTest::newRow("$10000") << "$10000";
        QTest::newRow("beyond 32 bits") << "99999999999";
    }
    void writeSingleRefusesNumbersOutsideTheRegister() {
        QFETCH(QString, value);
        try {
            BuildWriteSingleRequest(Reg("5", "1", "RW", "WORD", qPrintable(value)), "1");
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("od -32768 do 65535")),
                     qPrintable(e.message()));
            QVERIFY(e.message().contains(value));
        }
    }

    void writeSingleRejectsFraction() {
        try {
            BuildWriteSingleRequest(Reg("5", "1", "RW", "REAL", "1,5"), "1");
            QFAIL("no error");
        } catch (const AppError& e) {
            QCOMPARE(e.message(), QStringLiteral("'1,5' is not a valid integer value"));
        }
    }

    void writeMultipleHeader() {
        const WriteRequest built =
            BuildWriteMultipleRequest(Reg("$0100", "2", "RW", "INT", "65536"), "247");
        QCOMPARE(Sent(built.frame).toHex(), QByteArray::fromHex("F7100100000204"
                                                                "00000001"
                                                                "2274")
                                                .toHex());
        QCOMPARE(int(built.frame.RegisterCount), 2);
        QCOMPARE(int(built.frame.ValueType), int(tcInt));
        QCOMPARE(built.sentText, QStringLiteral("65536"));
    }

    void writeOfThirteenRegisters() {
        const WriteRequest built =
            BuildWriteMultipleRequest(Reg("0", "13", "RW", "TEXT", "x"), "1");
        QCOMPARE(Sent(built.frame).toHex(),
                 QByteArray::fromHex("01100000000D1A78" + QByteArray("20").repeated(25) + "2107")
                     .toHex());
        QCOMPARE(built.sentText, QStringLiteral("x"));
    }

    void writeOfMoreThanThirteenIsRefused_data() {
        QTest::addColumn<QString>("count");
        QTest::newRow("14") << "14";
        QTest::newRow("269 (13 modulo 256)") << "269";
        QTest::newRow("-1") << "-1";
    }
    void writeOfMoreThanThirteenIsRefused() {
        QFETCH(QString, count);
        try {
            BuildWriteMultipleRequest({"R", "", "0", "TEXT", count, "RW", QString(60, 'A')}, "1");
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY(e.message().contains(count));
            QVERIFY(e.message().contains("13"));
        }
    }

    void diagnostic_data() {
        QTest::addColumn<QString>("slave");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("247") << "247" << true << QByteArray::fromHex("F7080001FF00E4AD");
        QTest::newRow("0") << "0" << false << QByteArray();
        QTest::newRow("256") << "256" << false << QByteArray();
    }
    void diagnostic() {
        QFETCH(QString, slave);
        QFETCH(bool, sent);
        QFETCH(QByteArray, frame);
        const std::optional<RequestFrame> built = BuildDiagnosticRequest(slave, "$0001", "$FF00");
        QCOMPARE(built.has_value(), sent);
        if (sent) {
            QCOMPARE(Sent(*built).toHex(), frame.toHex());
            QCOMPARE(HexText(built->Frame, built->Length), QStringLiteral("$F7080001FF00E4AD"));
            QCOMPARE(int(built->RegisterCount), 0);
            QCOMPARE(int(built->ValueType), int(tcHex));
        }
    }

    void slaveNotAnInteger() {
        QVERIFY_THROWS_EXCEPTION(AppError, BuildReadRequest(Reg("0", "1", "RW"), "24x"));
        QVERIFY_THROWS_EXCEPTION(AppError, BuildReadRequest(Reg("a", "1", "RW"), "1"));
        QVERIFY_THROWS_EXCEPTION(AppError, BuildReadRequest(Reg("0", "", "RW"), "1"));
    }
};

QTEST_GUILESS_MAIN(TestBuilders)
#include "tst_builders.moc"
