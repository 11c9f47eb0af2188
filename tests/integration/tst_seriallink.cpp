#include "link/serial.h"
#include "simulator.h"
#include <QElapsedTimer>
#include <atomic>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <thread>
#include <unistd.h>

namespace {

long ResidentKilobytes() {
    QFile status("/proc/self/statm");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

QByteArray Frame(const QByteArray& head) {
    const auto crc =
        Crc16(reinterpret_cast<const std::uint8_t*>(head.constData()), std::uint16_t(head.size()));
    return head + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray Received(const ReplyBuffer& r) {
    return QByteArray(reinterpret_cast<const char*>(r.Bytes), int(r.BytesRead));
}

struct Opened {
    SerialLink link;
    explicit Opened(const QString& port) {
        if (link.OpenPort(port, "19200,e,8,1")) link.SetPortTimeouts(30, 0, 40, 0, 30);
    }
    QByteArray Ask(const QByteArray& head, ReplyBuffer& reply) {
        const QByteArray frame = Frame(head);
        link.WriteFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                        std::uint16_t(frame.size()), reply);
        link.ReadReply(reply);
        return Received(reply);
    }
};

} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    // RTS goes up before the write and down only after the line has drained; it comes down
    // after a failed write too, and a refused RTS sends nothing.
    void directionByRts_data() {
        QTest::addColumn<bool>("rtsWorks");
        QTest::addColumn<bool>("writeWorks");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("steps");
        QTest::newRow("request") << true << true << true << "rts+ write drain rts-";
        QTest::newRow("failed write") << true << false << false << "rts+ write rts-";
        QTest::newRow("refused RTS") << false << true << false << "rts+";
    }
    void directionByRts() {
        QFETCH(bool, rtsWorks);
        QFETCH(bool, writeWorks);
        QStringList steps;
        const RtsSteps port{[&](bool on) {
                                steps << (on ? "rts+" : "rts-");
                                return rtsWorks;
                            },
                            [&] {
                                steps << "write";
                                return writeWorks;
                            },
                            [&] { steps << "drain"; }};
        QTEST(SendWithRts(port), "sent");
        QTEST(steps.join(' '), "steps");
    }

    // A pseudo-terminal has neither the RS-485 mode nor RTS: asked for direction control it
    // says so once and the requests go on without it.
    void directionRefusedOnAPseudoTerminal() {
        Simulator sim({"--set", "500=4660,22136"});
        QVERIFY(sim.started());
        SerialLink link;
        link.SetRs485(true);
        QVERIFY(link.OpenPort(sim.port(), "19200,e,8,1"));
        QVERIFY(link.SetPortTimeouts(30, 0, 40, 0, 30));
        QCOMPARE(link.direction(), DirectionControl::Off);
        const QString note = link.TakeDirectionNote();
        QVERIFY2(note.contains(QString::fromUtf8("nie pozwala sterować kierunkiem RS-485")),
                 qPrintable(note));
        QVERIFY(note.startsWith(sim.port()));
        QVERIFY(link.TakeDirectionNote().isEmpty());
        ReplyBuffer reply;
        const QByteArray frame = Frame(QByteArray::fromHex("F703 01F4 0002"));
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(link.WriteFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                                     std::uint16_t(frame.size()), reply),
                     std::uint16_t(frame.size()));
            QVERIFY(link.ReadReply(reply));
            QCOMPARE(Received(reply).toHex(),
                     Frame(QByteArray::fromHex("F70304 1234 5678")).toHex());
        }
        QVERIFY(link.isOpen());
        QVERIFY(link.TakeDirectionNote().isEmpty());
        link.SetRs485(false);
        QVERIFY(link.TakeDirectionNote().isEmpty());
    }

    void lineSettings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stop");
        QTest::newRow("start-up") << "19200,e,8,1" << true << int(QSerialPort::EvenParity) << 1;
        QTest::newRow("none, 2 stop") << "9600,n,8,2" << true << int(QSerialPort::NoParity) << 2;
        QTest::newRow("odd") << "9600,o,8,1" << true << int(QSerialPort::OddParity) << 1;
        QTest::newRow("mark, 1.5 stop")
            << "9600,m,7,1.5" << true << int(QSerialPort::MarkParity) << 3;
        QTest::newRow("space upper case")
            << "9600,S,5,1" << true << int(QSerialPort::SpaceParity) << 1;
        QTest::newRow("baud text") << "szybko,e,8,1" << false << 0 << 0;
        QTest::newRow("baud zero") << "0,e,8,1" << false << 0 << 0;
        QTest::newRow("empty baud") << ",e,8,1" << false << 0 << 0;
        QTest::newRow("parity x") << "9600,x,8,1" << false << 0 << 0;
        QTest::newRow("9 data bits") << "9600,e,9,1" << false << 0 << 0;
        QTest::newRow("3 stop bits") << "9600,e,8,3" << false << 0 << 0;
        QTest::newRow("missing field") << "9600,e,8" << false << 0 << 0;
    }
    void lineSettings() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, parity);
        QFETCH(int, stop);
        const auto p = ParseLineSettings(text);
        QCOMPARE(p.has_value(), valid);
        if (!valid) return;
        QCOMPARE(int(p->parity), parity);
        QCOMPARE(int(p->stopBits), stop);
    }

    void lineSettingsFromTheWindow() {
        QCOMPARE(LineSettingsFor("19200", 1), QStringLiteral("19200,e,8,1"));
        QCOMPARE(LineSettingsFor("9600", 2), QStringLiteral("9600,o,8,1"));
        QCOMPARE(LineSettingsFor("9600", 0), QStringLiteral("9600,n,8,2"));
        QCOMPARE(LineSettingsFor("9600", -1), QStringLiteral("9600,n,8,2"));
        QCOMPARE(PortPathFor("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(PortPathFor("/dev/serial/by-id/x"), QStringLiteral("/dev/serial/by-id/x"));
    }

    // However the operator types a Windows port, it opens that port, never with the prefix twice.
    void windowsPortPaths_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("name") << "COM12";
        QTest::newRow("device path") << "\\\\.\\COM12";
        QTest::newRow("device path with slashes") << "//./COM12";
        QTest::newRow("blanks around") << " COM12 ";
        QTest::newRow("prefix twice") << "\\\\.\\\\\\.\\COM12";
    }
    void windowsPortPaths() {
        QFETCH(QString, typed);
        QCOMPARE(WindowsPortPath(typed), QStringLiteral("\\\\.\\COM12"));
    }

    // A USB adapter's latency timer, read where Linux shows it: named when above 2 ms.
    void adapterLatency_data() {
        QTest::addColumn<QByteArray>("timer"); // the file's text; empty: no such file
        QTest::addColumn<int>("ms");           // -1: none
        QTest::addColumn<bool>("noted");
        QTest::newRow("FTDI default") << QByteArray("16\n") << 16 << true;
        QTest::newRow("turned down") << QByteArray("1\n") << 1 << false;
        QTest::newRow("2 ms") << QByteArray("2") << 2 << false;
        QTest::newRow("no such setting") << QByteArray() << -1 << false;
        QTest::newRow("unreadable text") << QByteArray("x") << -1 << false;
    }
    void adapterLatency() {
        QFETCH(QByteArray, timer);
        QFETCH(int, ms);
        QFETCH(bool, noted);
        QTemporaryDir dir;
        const QString port = dir.path() + "/ttyUSB9";
        QFile(port).open(QIODevice::WriteOnly);
        if (!timer.isEmpty()) {
            QVERIFY(QDir().mkpath(dir.path() + "/sys/ttyUSB9"));
            QFile file(dir.path() + "/sys/ttyUSB9/latency_timer");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(timer);
        }
        const std::optional<int> latency = AdapterLatencyMs(port, dir.path() + "/sys");
        QCOMPARE(latency.value_or(-1), ms);
        const QString note = AdapterLatencyNote(port, latency);
        QCOMPARE(!note.isEmpty(), noted);
        if (noted)
            QCOMPARE(note, QString::fromUtf8(
                               "Adapter USB portu ttyUSB9 oddaje odebrane bajty co 16 ms: każda "
                               "wymiana trwa o tyle dłużej. Zmiana: echo 1 > "
                               "/sys/bus/usb-serial/devices/ttyUSB9/latency_timer (jako root)."));
    }

    void readAndWrite() {
        Simulator sim({"--set", "500=4660,22136"});
        QVERIFY(sim.started());
        Opened o(sim.port());
        QVERIFY(o.link.isOpen());
        ReplyBuffer reply;
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 01F4 0002"), reply).toHex(),
                 Frame(QByteArray::fromHex("F70304 1234 5678")).toHex());
        QCOMPARE(o.Ask(QByteArray::fromHex("F706 01F4 ABCD"), reply).toHex(),
                 Frame(QByteArray::fromHex("F706 01F4 ABCD")).toHex());
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 01F4 0001"), reply).toHex(),
                 Frame(QByteArray::fromHex("F70302 ABCD")).toHex());
        QCOMPARE(o.link.bytesRead(), 7u);
    }

    // A reply ends the read once its frame is complete, not when the line falls quiet.
    void completeReplyEndsTheRead() {
        Simulator sim({});
        QVERIFY(sim.started());
        Opened o(sim.port());
        QVERIFY(o.link.SetPortTimeouts(1000, 0, 2000, 0, 30));
        ReplyBuffer reply;
        QElapsedTimer t;
        t.start();
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), 7);
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    }

    void replyLongerThanTheAreaIsCut() {
        Simulator sim({});
        QVERIFY(sim.started());
        Opened o(sim.port());
        ReplyBuffer reply;
        const QByteArray got = o.Ask(QByteArray::fromHex("F703 0000 003E"), reply); // 129 bytes
        QCOMPARE(got.size(), 128);
        QVERIFY(!CheckReplyCrc(reply.Bytes, 128));
        // The rest is purged before the next write.
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), 7);
    }

    void overlongReplyEndsAtItsFrame() {
        Simulator sim({"--overlong"});
        QVERIFY(sim.started());
        Opened o(sim.port());
        ReplyBuffer reply;
        for (int i = 0; i < 2; ++i) { // the padding never reaches the next reply
            QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).toHex(),
                     Frame(QByteArray::fromHex("F70302000A")).toHex());
        }
    }

    void lateReplyIsNotReceived() {
        Simulator sim({"--delay", "80"});
        QVERIFY(sim.started());
        Opened o(sim.port());
        ReplyBuffer reply;
        QElapsedTimer t;
        t.start();
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), 0);
        QVERIFY2(t.elapsed() < 75, qPrintable(QString::number(t.elapsed())));
        QTest::qWait(100); // the late reply arrives now; the next write must discard it
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), 0);
    }

    void splitReply_data() {
        QTest::addColumn<int>("splitMs");
        QTest::addColumn<int>("bytes");
        QTest::newRow("within the gap") << 10 << 7;
        QTest::newRow("beyond the read window")
            << 45 << 3; // a margin that survives a loaded machine
    }
    void splitReply() {
        QFETCH(int, splitMs);
        QFETCH(int, bytes);
        Simulator sim({"--split", QString::number(splitMs)});
        QVERIFY(sim.started());
        Opened o(sim.port());
        ReplyBuffer reply;
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), bytes);
    }

    // A line that talks without being asked: the link keeps only a bounded amount of it, and
    // the next request still gets its own reply.
    void talkativeLineKeepsMemoryFlat() {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const QString slave = QString::fromLocal8Bit(ptsname(master));
        Opened o(slave);
        QVERIFY(o.link.isOpen());
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        std::atomic<bool> talking{true};
        std::atomic<long long> sent{0};
        std::thread talker([&] {
            const QByteArray chatter(4096, 'z');
            while (talking) {
                const ssize_t n = write(master, chatter.constData(), chatter.size());
                if (n > 0)
                    sent += n;
                else
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        QTest::qWait(300);
        const long before = ResidentKilobytes();
        QTest::qWait(3000); // the window's event loop runs meanwhile, as between requests
        const long after = ResidentKilobytes();
        talking = false;
        talker.join();
        QVERIFY2(after - before < 1024, qPrintable(QString("%1 kB -> %2 kB after %3 MB sent")
                                                       .arg(before)
                                                       .arg(after)
                                                       .arg(sent / 1000000)));
        // The master now answers the next request properly.
        std::thread answer([&] {
            char request[8];
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) & ~O_NONBLOCK);
            int got = 0;
            while (got < 8) {
                const ssize_t n = read(master, request + got, 8 - got);
                if (n <= 0) return;
                got += int(n);
            }
            const QByteArray reply = Frame(QByteArray::fromHex("F704020007"));
            [[maybe_unused]] const auto sent = write(master, reply.constData(), reply.size());
        });
        ReplyBuffer reply;
        const QByteArray got = o.Ask(QByteArray::fromHex("F70400040001"), reply);
        answer.join();
        close(master);
        QCOMPARE(got, Frame(QByteArray::fromHex("F704020007")));
    }

    void openIsExclusive() {
        Simulator sim({});
        QVERIFY(sim.started());
        Opened first(sim.port());
        QVERIFY(first.link.isOpen());
        SerialLink second;
        QVERIFY(!second.OpenPort(sim.port(), "19200,e,8,1"));
        QVERIFY(!second.isOpen());
        QVERIFY(!second.failureReason.isEmpty());
        first.link.ClosePort();
        QVERIFY(second.OpenPort(sim.port(), "19200,e,8,1"));
    }

    void openFailures() {
        SerialLink link;
        QVERIFY(!link.OpenPort("/dev/nonexistent-vardel", "19200,e,8,1"));
        QVERIFY(link.failureReason.contains(QString::fromUtf8("nie ma takiego portu")));
        Simulator sim({});
        QVERIFY(sim.started());
        QVERIFY(!link.OpenPort(sim.port(), "szybko,e,8,1"));
        QVERIFY(!link.isOpen());
        QVERIFY(link.OpenPort(sim.port(), "19200,e,8,1")); // closed again, so free
    }

    void portThatVanishes() {
        auto sim = std::make_unique<Simulator>(QStringList{});
        QVERIFY(sim->started());
        Opened o(sim->port());
        int lost = 0;
        o.link.onLost = [&] { ++lost; };
        ReplyBuffer reply;
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), 7);
        sim->Kill();
        QCOMPARE(o.Ask(QByteArray::fromHex("F703 00CB 0001"), reply).size(), 0);
        QCOMPARE(lost, 1);
        QVERIFY(!o.link.isOpen());
        QVERIFY(!o.link.failureReason.isEmpty());
        QCOMPARE(int(o.link.WriteFrame(reply.Bytes, 8, reply)), 0);
    }

    // libmodbus as the reference master: the simulator itself answers correctly.
    void referenceMaster() {
        Simulator sim({"--set", "600=1,2,3"});
        QVERIFY(sim.started());
        modbus_t* ctx = modbus_new_rtu(qPrintable(sim.port()), 19200, 'E', 8, 1);
        modbus_set_slave(ctx, 247);
        QCOMPARE(modbus_connect(ctx), 0);
        uint16_t regs[3] = {};
        QCOMPARE(modbus_read_registers(ctx, 600, 3, regs), 3);
        QCOMPARE(regs[2], uint16_t(3));
        QCOMPARE(modbus_read_input_registers(ctx, 601, 1, regs), 1);
        QCOMPARE(regs[0], uint16_t(2));
        const uint16_t values[] = {0x1111, 0x2222};
        QCOMPARE(modbus_write_registers(ctx, 600, 2, values), 2);
        QCOMPARE(modbus_read_registers(ctx, 600, 2, regs), 2);
        QCOMPARE(regs[1], uint16_t(0x2222));
        // The general device's TEXT register "Nazwa" (RO, 4 registers) holds "TR100".
        QCOMPARE(modbus_read_input_registers(ctx, 0, 3, regs), 3);
        QCOMPARE(regs[0], uint16_t(0x5452));
        QCOMPARE(regs[2], uint16_t(0x3020));
        modbus_close(ctx);
        modbus_free(ctx);
        sim.Stop();
        QVERIFY(sim.linkRemoved());
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
