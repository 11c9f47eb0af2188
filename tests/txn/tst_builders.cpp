#include "fakes.h"
#include "regmap/error.h"
#include "txn/builders.h"
#include <QtTest>

namespace {
QByteArray Sent(const TxnState& s) {
    return QByteArray(reinterpret_cast<const char*>(s.frame.Frame), s.frame.Length);
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
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("registerCount");
        QTest::newRow("RO is function 4")
            << Reg("16", "2", "RO") << "1" << QByteArray::fromHex("010400100002") << 2;
        QTest::newRow("$10 address")
            << Reg("$10", "2", "RO") << "1" << QByteArray::fromHex("010400100002") << 2;
        QTest::newRow("RW is function 3")
            << Reg("16", "2", "RW") << "1" << QByteArray::fromHex("010300100002") << 2;
        QTest::newRow("group is function 3")
            << Reg("16", "1", "") << "247" << QByteArray::fromHex("F70300100001") << 1;
        QTest::newRow("count modulo 256")
            << Reg("0", "257", "RO") << "1" << QByteArray::fromHex("010400000001") << 1;
        QTest::newRow("address low 16 bits")
            << Reg("$12345", "1", "RW") << "1" << QByteArray::fromHex("010323450001") << 1;
        QTest::newRow("slave low 8 bits")
            << Reg("0", "1", "RW") << "257" << QByteArray::fromHex("010300000001") << 1;
        QTest::newRow("slave 0 still built")
            << Reg("0", "1", "RW") << "0" << QByteArray::fromHex("000300000001") << 1;
    }
    void readRequest() {
        QFETCH(RegisterNode, node);
        QFETCH(QString, slave);
        QFETCH(QByteArray, head);
        QFETCH(int, registerCount);
        TxnState s;
        BuildReadRequest(s, node, slave);
        QCOMPARE(Sent(s).toHex(), WithCrc(head).toHex());
        QCOMPARE(int(s.frame.Length), 8);
        QCOMPARE(int(s.frame.RegisterCount), registerCount);
        QCOMPARE(int(s.frame.ValueType), int(TypeCodeOf(node.Type)));
    }

    void writeSingle_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("-1") << "-1" << QByteArray::fromHex("01060005FFFF");
        QTest::newRow("70000 low 16 bits") << "70000" << QByteArray::fromHex("010600051170");
        QTest::newRow("$ABCD") << "$ABCD" << QByteArray::fromHex("01060005ABCD");
    }
    void writeSingle() {
        QFETCH(QString, value);
        QFETCH(QByteArray, head);
        TxnState s;
        s.frame.RegisterCount = 9;
        BuildWriteSingleRequest(s, Reg("5", "1", "RW", "REAL", qPrintable(value)), "1");
        QCOMPARE(Sent(s).toHex(), WithCrc(head).toHex());
        QCOMPARE(int(s.frame.RegisterCount), 9); // left as it was
    }

    void writeSingleRejectsFraction() {
        TxnState s;
        try {
            BuildWriteSingleRequest(s, Reg("5", "1", "RW", "REAL", "1,5"), "1");
            QFAIL("no error");
        } catch (const AppError& e) {
            QCOMPARE(e.message(), QStringLiteral("'1,5' is not a valid integer value"));
        }
    }

    void writeMultipleHeader() {
        TxnState s;
        s.frame.ValueType = tcInt;
        BuildWriteMultipleRequest(s, Reg("$0100", "2", "RW", "INT", "65536"), "247");
        QCOMPARE(Sent(s).toHex(), WithCrc(QByteArray::fromHex("F7100100000204"
                                                              "00000001"))
                                      .toHex());
        QCOMPARE(int(s.frame.Frame[fpByteCount]), 4);
        QCOMPARE(int(s.frame.RegisterCount), 2);
    }

    void writeOfThirteenRegisters() {
        TxnState s;
        s.frame.ValueType = tcText;
        BuildWriteMultipleRequest(s, Reg("0", "13", "RW", "TEXT", "x"), "1");
        QCOMPARE(int(s.frame.Length), 35);
        QVERIFY(CheckReplyCrc(s.frame.Frame, 35));
    }

    void writeOfMoreThanThirteenIsRefused_data() {
        QTest::addColumn<QString>("count");
        QTest::newRow("14") << "14";
        QTest::newRow("269 (13 modulo 256)") << "269";
        QTest::newRow("-1") << "-1";
    }
    void writeOfMoreThanThirteenIsRefused() {
        QFETCH(QString, count);
        TxnState s;
        memset(s.frame.Frame, 0x5A, kFrameSize);
        s.frame.Length = 99;
        s.frame.ValueType = tcText;
        const RequestFrame before = s.frame;
        try {
            BuildWriteMultipleRequest(s, {"R", "", "0", "TEXT", count, "RW", QString(60, 'A')},
                                      "1");
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY(e.message().contains(count));
            QVERIFY(e.message().contains("13"));
        }
        QVERIFY(memcmp(&before, &s.frame, sizeof before) == 0);
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
        TxnState s;
        QCOMPARE(BuildDiagnosticRequest(s, slave, "$0001", "$FF00"), sent);
        QCOMPARE(int(s.frame.ValueType), int(tcHex));
        if (sent) {
            QCOMPARE(Sent(s).toHex(), frame.toHex());
            QCOMPARE(HexText(s.frame.Frame, s.frame.Length), QStringLiteral("$F7080001FF00E4AD"));
            QCOMPARE(int(s.frame.RegisterCount), 0);
        } else {
            QCOMPARE(int(s.frame.Length), 0);
        }
    }

    void slaveNotAnInteger() {
        TxnState s;
        QVERIFY_THROWS_EXCEPTION(AppError, BuildReadRequest(s, Reg("0", "1", "RW"), "24x"));
        QVERIFY_THROWS_EXCEPTION(AppError, BuildReadRequest(s, Reg("a", "1", "RW"), "1"));
        QVERIFY_THROWS_EXCEPTION(AppError, BuildReadRequest(s, Reg("0", "", "RW"), "1"));
    }
};

QTEST_GUILESS_MAIN(TestBuilders)
#include "tst_builders.moc"
