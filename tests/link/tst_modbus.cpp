#include "link/modbus.h"
#include <QtTest>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <unistd.h>

namespace {
const std::uint8_t* U(const QByteArray& b) {
    return reinterpret_cast<const std::uint8_t*>(b.constData());
}

// libmodbus as the independent source of CRCs: it appends its own (table-driven) CRC to a
// raw request and writes the frame to a pseudo-terminal, whose other side reads it here.
class LibmodbusSender {
public:
    LibmodbusSender() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        ctx_ = modbus_new_rtu(ptsname(master_), 19200, 'E', 8, 1);
        if (ctx_ && modbus_connect(ctx_) != 0) {
            modbus_free(ctx_);
            ctx_ = nullptr;
        }
    }
    ~LibmodbusSender() {
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
        if (master_ >= 0) close(master_);
    }
    bool ready() const { return ctx_ != nullptr; }

    // The frame as libmodbus sends it: the raw bytes and its CRC.
    QByteArray Send(const QByteArray& raw) {
        if (modbus_send_raw_request(ctx_, U(raw), int(raw.size())) != raw.size() + 2) return {};
        QByteArray frame;
        pollfd p{master_, POLLIN, 0};
        while (frame.size() < raw.size() + 2 && poll(&p, 1, 1000) > 0) {
            char chunk[300];
            const ssize_t n = read(master_, chunk, sizeof chunk);
            if (n <= 0) break;
            frame.append(chunk, n);
        }
        return frame;
    }

private:
    int master_ = -1;
    modbus_t* ctx_ = nullptr;
};
} // namespace

class TestModbus : public QObject {
    Q_OBJECT
    LibmodbusSender libmodbus_;
private slots:
    // The read window grows by the reply's own time on the wire: 31 bytes (13 registers) take
    // 35,5 ms at 9600 baud, more than the 40 ms window leaves after a slow start.
    void lineTime_data() {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("ms");
        QTest::newRow("13 registers at 9600") << 31 << 9600 << 36;
        QTest::newRow("13 registers at 19200") << 31 << 19200 << 18;
        QTest::newRow("a write's echo at 9600") << 8 << 9600 << 10;
        QTest::newRow("no baud rate: a pseudo-terminal") << 31 << 0 << 0;
    }
    void lineTime() {
        QFETCH(int, bytes);
        QFETCH(int, baud);
        QFETCH(int, ms);
        QCOMPARE(LineTimeMs(bytes, baud), ms);
    }
    void expectedReplyLength_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("length");
        QTest::newRow("read of 13") << QByteArray::fromHex("F703000A000D") << 31;
        QTest::newRow("read of 125 fills the area") << QByteArray::fromHex("F704000A007D") << 128;
        QTest::newRow("write single") << QByteArray::fromHex("F706000A0001") << 8;
        QTest::newRow("write multiple") << QByteArray::fromHex("F710000A0002040001000200") << 8;
        QTest::newRow("too short") << QByteArray::fromHex("F703") << 0;
        QTest::newRow("report server ID: its reply says") << QByteArray::fromHex("F711878C") << 128;
        QTest::newRow("device identification: its reply says")
            << QByteArray::fromHex("F72B0E0100") << 128;
    }
    void expectedReplyLength() {
        QFETCH(QByteArray, request);
        QFETCH(int, length);
        QCOMPARE(ExpectedReplyLength(reinterpret_cast<const std::uint8_t*>(request.constData()),
                                     int(request.size())),
                 length);
    }

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

    // Frames of 2 to 64 bytes: the requests this program sends, edge patterns, and
    // pseudo-random bytes; each one's CRC as libmodbus computes it.
    void crcAgreesWithLibmodbus_data() {
        QTest::addColumn<QByteArray>("raw");
        for (const char* hex : {"F70300640002", "F70400000001", "F706000500FF", "F7080001FF00",
                                "0110010000020400000001", "0000", "FFFF", "00000000000000",
                                "FFFFFFFFFFFFFFFF", "8001", "0102030405060708090A0B0C0D0E0F10"})
            QTest::newRow(hex) << QByteArray::fromHex(hex);
        std::uint32_t seed = 12345;
        for (int frame = 0; frame < 24; ++frame) {
            QByteArray raw;
            const int length = 2 + frame * 62 / 23;
            for (int i = 0; i < length; ++i) {
                seed = seed * 1103515245u + 12345u;
                raw.append(char(seed >> 16));
            }
            QTest::addRow("pseudo-random, %d bytes", length) << raw;
        }
    }
    void crcAgreesWithLibmodbus() {
        QFETCH(QByteArray, raw);
        if (!libmodbus_.ready()) QFAIL("libmodbus could not open a pseudo-terminal");
        const QByteArray frame = libmodbus_.Send(raw);
        QCOMPARE(frame.size(), raw.size() + 2);
        QCOMPARE(frame.left(raw.size()).toHex(), raw.toHex());
        const int theirs = std::uint8_t(frame[raw.size()]) | std::uint8_t(frame[raw.size() + 1])
                                                                 << 8;
        QCOMPARE(int(Crc16(U(raw), std::uint16_t(raw.size()))), theirs);
        QVERIFY(CheckReplyCrc(U(frame), std::uint16_t(frame.size())));
    }

    void frameLength_data() {
        QTest::addColumn<bool>("request");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("length");
        const auto rows = [](bool request, const char* kind) {
            const auto row = [=](const char* name, const char* hex, int length) {
                QTest::addRow("%s: %s", kind, name)
                    << request << QByteArray::fromHex(hex) << length;
            };
            return row;
        };
        auto reply = rows(false, "reply");
        reply("one byte", "F7", 0);
        reply("exception", "F783", 5);
        reply("read, count unknown", "F703", 0);
        reply("read 4 bytes", "F70404", 9);
        reply("read input 255 bytes", "F704FF", 260);
        reply("write single", "F706", 8);
        reply("diagnostics", "F708", 8);
        reply("write multiple", "F710", 8);
        reply("report server ID, count unknown", "F711", 0);
        reply("report server ID of 5 bytes", "F71105", 10);
        reply("identification, header incomplete", "F72B0E01830000", 0);
        reply("identification of no objects", "F72B0E0183000000", 10);
        reply("identification, an object's length unknown", "F72B0E018300000100", 0);
        reply("identification of one 3-byte object", "F72B0E01830000010003", 15);
        reply("other function", "F714", 0);
        auto request = rows(true, "request");
        request("one byte", "F7", 0);
        request("read", "F703", 8);
        request("write single", "F706", 8);
        request("diagnostics", "F708", 8);
        request("write multiple, count unknown", "F710000000", 0);
        request("write multiple 4 bytes",
                "F71000000002"
                "04",
                13);
        request("exception bit is no request", "F783", 0);
        request("report server ID", "F711", 4);
        request("read device identification", "F72B", 7);
        request("other function", "F714", 0);
    }
    void frameLength() {
        QFETCH(bool, request);
        QFETCH(QByteArray, head);
        QFETCH(int, length);
        QCOMPARE(
            FrameLength(request ? FrameKind::Request : FrameKind::Reply, U(head), int(head.size())),
            length);
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

    // Replies are given without their CRC bytes; two zero bytes stand in for them.
    void replyFitsRequest_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("fits");
        auto row = [](const char* name, const char* request, const char* reply, bool fits) {
            QTest::newRow(name) << QByteArray::fromHex(request)
                                << QByteArray::fromHex(reply) + QByteArray(2, '\0') << fits;
        };
        const char* read2 = "F70300640002";
        row("read of 2 registers", read2, "F7030400010002", true);
        row("input registers", "F70400640001", "F704020001", true);
        row("exception", read2, "F78302", true);
        row("another slave", read2, "01030400010002", false);
        row("another function", read2, "F7040400010002", false);
        row("byte count of 1 register", read2, "F703020001", false);
        row("odd byte count", read2, "F70303000100", false);
        row("bytes beyond the count", read2, "F703040001000200", false);
        row("exception of another function", read2, "F78402", false);
        row("exception with a data byte too many", read2, "F7830200", false);
        row("a write echo answering a read", read2, "F70600640002", false);
        const char* write = "F70600C804D2";
        row("write echo", write, "F70600C804D2", true);
        row("write echo of another value", write, "F70600C804D3", false);
        row("write echo of another address", write, "F70600C904D2", false);
        row("4 bytes answering a write", write, "F706", false);
        row("5 bytes answering a write", write, "F70600", false);
        row("a read reply answering a write", write, "F703020000", false);
        row("write exception", write, "F78603", true);
        const char* multiple = "F71000C80002040001000220";
        row("write-multiple echo", multiple, "F71000C80002", true);
        row("write-multiple of another quantity", multiple, "F71000C80001", false);
        row("diagnostics echo", "F7080001FF00", "F7080001FF00", true);
        row("diagnostics of other data", "F7080001FF00", "F70800010000", false);
        row("too short for anything", read2, "F7", false);
    }
    void replyFitsRequest() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, fits);
        RequestFrame frame;
        memcpy(frame.Frame, request.constData(), request.size());
        frame.Length = std::uint8_t(request.size());
        AppendCrc(frame);
        QCOMPARE(ReplyFitsRequest(frame, U(reply), std::uint16_t(reply.size())), fits);
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
