#include "link/modbus.h"
#include <QtTest>

namespace {
const std::uint8_t* U(const QByteArray& b) {
    return reinterpret_cast<const std::uint8_t*>(b.constData());
}
} // namespace

class TestModbus : public QObject {
    Q_OBJECT
private slots:
    void crc_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("check value") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("no bytes") << QByteArray() << 0xFFFF;
        QTest::newRow("read slave 1 addr 0") << QByteArray::fromHex("010300000001") << 0x0A84;
        QTest::newRow("reset slave 247") << QByteArray::fromHex("F7080001FF00") << 0xADE4;
    }
    void crc() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, crc);
        QCOMPARE(int(Crc16(U(bytes), std::uint16_t(bytes.size()))), crc);
    }

    void appendCrc() {
        RequestFrame frame;
        const QByteArray head = QByteArray::fromHex("010300000001");
        memcpy(frame.Frame, head.constData(), 6);
        frame.Length = 6;
        AppendCrc(frame);
        QCOMPARE(int(frame.Length), 8);
        QCOMPARE(int(frame.Frame[6]), 0x84);
        QCOMPARE(int(frame.Frame[7]), 0x0A);
        QCOMPARE(int(frame.Crc), 0x0A84);
    }

    void appendCrcNeverPassesTheFrame() {
        RequestFrame frame;
        frame.Length = 35;
        AppendCrc(frame);
        QCOMPARE(int(frame.Length), 35);
        frame.Length = 34;
        AppendCrc(frame);
        QCOMPARE(int(frame.Length), 36);
    }

    void checkReplyCrc_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::newRow("valid") << QByteArray::fromHex("01030200FFF804") << true;
        QTest::newRow("crc bytes exchanged") << QByteArray::fromHex("01030200FF04F8") << false;
        QTest::newRow("one data bit flipped") << QByteArray::fromHex("01030200FEF804") << false;
        QTest::newRow("two bytes FF FF") << QByteArray::fromHex("FFFF") << true;
        QTest::newRow("two other bytes") << QByteArray::fromHex("FFFE") << false;
        QTest::newRow("one byte") << QByteArray::fromHex("FF") << false;
        QTest::newRow("none") << QByteArray() << false;
    }
    void checkReplyCrc() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QCOMPARE(CheckReplyCrc(U(reply), std::uint16_t(reply.size())), ok);
    }

    void hexText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("leading zero, upper case") << QByteArray::fromHex("0AFF") << "$0AFF";
        QTest::newRow("empty") << QByteArray() << "$";
        QTest::newRow("request") << QByteArray::fromHex("010300000001840A") << "$010300000001840A";
    }
    void hexText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(HexText(U(bytes), std::uint16_t(bytes.size())), text);
    }

    void byteOrder() {
        std::uint16_t w = 0x1234;
        Swap16(w);
        QCOMPARE(int(w), 0x3412);
        std::uint8_t four[] = {1, 2, 3, 4};
        Reverse4(four);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(four), 4), QByteArray::fromHex("04030201"));
        Reverse4(four);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(four), 4), QByteArray::fromHex("01020304"));
        std::uint8_t five[] = {1, 2, 3, 4, 5, 6};
        SwapPairs(five, 5);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(five), 6), QByteArray::fromHex("020104030506"));
    }
};

QTEST_GUILESS_MAIN(TestModbus)
#include "tst_modbus.moc"
