// RTU frames over TCP, as a serial device server carries them: the port texts, the engine
// against vardel-sim --tcp, a connection that drops or never answers.
#include "rig.h"
#include <QTcpServer>

class TestTcpLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!TcpPortsAvailable()) QSKIP("this build has no QtNetwork");
    }

    void portTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // empty: refused
        QTest::addColumn<int>("port");
        QTest::newRow("address") << "tcp:192.168.1.50:4001"
                                 << "192.168.1.50" << 4001;
        QTest::newRow("name, blanks, capitals") << " TCP:gateway:502 "
                                                << "gateway" << 502;
        QTest::newRow("IPv6 in brackets") << "tcp:[::1]:502"
                                          << "::1" << 502;
        QTest::newRow("highest port") << "tcp:h:65535"
                                      << "h" << 65535;
        QTest::newRow("no port") << "tcp:gateway"
                                 << "" << 0;
        QTest::newRow("port 0") << "tcp:gateway:0"
                                << "" << 0;
        QTest::newRow("port too high") << "tcp:gateway:65536"
                                       << "" << 0;
        QTest::newRow("port not a number") << "tcp:gateway:50x"
                                           << "" << 0;
        QTest::newRow("no host") << "tcp::502"
                                 << "" << 0;
        QTest::newRow("blank in the host") << "tcp:gate way:502"
                                           << "" << 0;
        QTest::newRow("a serial port") << "/dev/ttyUSB0"
                                       << "" << 0;
    }
    void portTexts() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        const std::optional<TcpAddress> address = ParseTcpPort(text);
        QCOMPARE(address.has_value(), !host.isEmpty());
        if (!address) return;
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
        QCOMPARE(PortPathFor(text), text.trimmed()); // never made a device path
    }

    void readAndWriteOverTcp() {
        Simulator sim({"--tcp", "0"}, "TR100.dat", true);
        QVERIFY(sim.started());
        QVERIFY(sim.port().startsWith("tcp:127.0.0.1:"));
        Bench b("TR100.dat");
        QVERIFY(b.Connect(sim));
        b.engine.ReadFromNode(b.Node("Pomiary"));
        QCOMPARE(b.ui.log, MeasurementGroupLines());
        TreeNode* gain = b.Node("Wzmocnienie");
        gain->record.Value = "-7,25";
        b.engine.WriteRegister(gain);
        gain->record.Value.clear();
        b.engine.ReadFromNode(gain);
        QCOMPARE(gain->record.Value, QStringLiteral("-7,25"));
        // The frames are the serial line's own, CRC and all.
        const QStringList requests = sim.Requests();
        QCOMPARE(requests.size(), 7);
        QCOMPARE(requests[0], QStringLiteral("F704006400022482"));
    }

    // A gateway that drops the connection in the middle of a walk: the walk ends, the link
    // closes once with the reason, and only a new connection goes on.
    void droppedInTheMiddleOfAWalk() {
        Simulator sim({"--tcp", "0", "--hang-up", "3"});
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        int lost = 0;
        b.link.onLost = [&] { ++lost; };
        QVERIFY(b.Connect(sim));
        b.engine.ReadFromNode(b.Node("Pomiary"));
        QCOMPARE(lost, 1);
        QVERIFY(!b.link.isOpen());
        QVERIFY2(b.link.failureReason.contains(QString::fromUtf8("druga strona zamknęła")),
                 qPrintable(b.link.failureReason));
        // The two registers read before the drop, then the walk's end as for a lost port.
        QCOMPARE(b.ui.log, (QStringList{QString::fromUtf8("100  Temperatura23,50"),
                                        QString::fromUtf8("102  Ciśnienie  1013,25"),
                                        QString::fromUtf8("Przerwano: brak połączenia"),
                                        QString::fromUtf8("Nieodczytanych: 3 z 5")}));
        QVERIFY(!b.engine.Busy());
        b.engine.ReadFromNode(b.Node("Wersja")); // nothing reconnects by itself
        QCOMPARE(b.ui.log.size(), 4);
        QVERIFY(b.Connect(sim));
        b.engine.ReadFromNode(b.Node("Wersja"));
        QCOMPARE(b.ui.log.last(), QString::fromUtf8("4    Wersja     12"));
    }

    // A server that takes the connection and never answers: no reply within the window, the
    // link stays open for the next request.
    void serverThatNeverAnswers() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        Bench b("TR100.dat");
        QVERIFY(b.link.OpenPort(QStringLiteral("tcp:127.0.0.1:%1").arg(silent.serverPort()),
                                "19200,e,8,1"));
        QVERIFY(b.link.SetPortTimeouts(30, 0, 40, 0, 30));
        QElapsedTimer t;
        t.start();
        b.engine.ReadFromNode(b.Node("Wersja"));
        QVERIFY(t.elapsed() < 500);
        QCOMPARE(b.ui.outcomes.size(), 1);
        QCOMPARE(b.ui.outcomes[0], ReplyOutcome::NoReply);
        QVERIFY(b.ui.log.isEmpty());
        QVERIFY(b.link.isOpen());
    }

    void refusedConnection() {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        const QString port = QStringLiteral("tcp:127.0.0.1:%1").arg(gone.serverPort());
        gone.close();
        SerialLink link;
        QVERIFY(!link.OpenPort(port, "19200,e,8,1"));
        QVERIFY(!link.isOpen());
        QVERIFY2(link.failureReason.startsWith(port + ": "), qPrintable(link.failureReason));
        QVERIFY(link.failureReason.contains(QString::fromUtf8("połączenie odrzucone")));
        QVERIFY(!link.OpenPort("tcp:127.0.0.1:0", "19200,e,8,1"));
        QVERIFY(link.failureReason.contains("tcp:HOST:PORT"));
    }
};

QTEST_GUILESS_MAIN(TestTcpLink)
#include "tst_tcplink.moc"
