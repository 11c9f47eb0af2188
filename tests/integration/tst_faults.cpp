#include "link/serial.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "rig.h"
#include "tools/operator.h"
#include "txn/fakes.h"
#include <QElapsedTimer>

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void faultyReplies_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("lines");
        QTest::newRow("no reply") << QStringList{"--drop", "1"} << 0;
        QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << 0;
        QTest::newRow("exception") << QStringList{"--exception", "203:4"} << 0;
        QTest::newRow("garbage") << QStringList{"--garbage", "1", "--seed", "3"} << 0;
        QTest::newRow("200-byte reply") << QStringList{"--overlong"} << 1; // its frame, then junk
        QTest::newRow("late reply") << QStringList{"--delay", "60"} << 0;
        QTest::newRow("split within the gap") << QStringList{"--split", "8"} << 1;
        QTest::newRow("split beyond the read window") << QStringList{"--split", "45"} << 0;
    }
    void faultyReplies() {
        QFETCH(QStringList, faults);
        QFETCH(int, lines);
        Simulator sim(faults);
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        QVERIFY(b.Connect(sim));
        TreeNode* reg = b.Node("Okres uśredniania");
        QElapsedTimer t;
        t.start();
        b.engine.ReadFromNode(reg);
        QVERIFY(t.elapsed() < 200);
        QCOMPARE(b.ui.log.size(), lines);
        QVERIFY(b.ui.messages.isEmpty());
        QVERIFY(b.link.isOpen());
        // The next request, to another register, is answered or fails the same clean way.
        b.engine.ReadFromNode(b.Node("Wersja"));
        QVERIFY(b.ui.log.size() <= lines + 1);
        QVERIFY(!b.engine.Busy());
    }

    // A device slower than the read window: its late replies arrive while later requests
    // wait. Registers of the same and of other sizes are read one after the other; a line
    // may only ever show a register's own value. The link waits out a whole quiet window
    // after a request without reply, so a reply up to two windows late is caught; the delays
    // stay 20 ms or more inside that, as a busy machine may hold the simulator back that long
    // (same-shaped RTU replies carry nothing that tells whose they are).
    void lateRepliesNeverAnswerLaterRequests_data() {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("90 ms") << 90;
        QTest::newRow("120 ms") << 120;
        QTest::newRow("140 ms") << 140;
    }
    void lateRepliesNeverAnswerLaterRequests() {
        QFETCH(int, delayMs);
        Simulator sim({"--delay", QString::number(delayMs)});
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        QVERIFY(b.link.OpenPort(sim.port(), "19200,e,8,1") &&
                b.link.SetPortTimeouts(30, 0, 80, 0, 30));
        const QSet<QString> own{
            QString::fromUtf8("4    Wersja     12"), QString::fromUtf8("108  Status     $03"),
            QString::fromUtf8("104  Przesunięci-12"), QString::fromUtf8("100  Temperatura23,50"),
            QString::fromUtf8("5    Numer seryj4464")};
        const char* order[] = {"Wersja", "Status",        "Przesunięcie", "Temperatura",
                               "Status", "Numer seryjny", "Wersja",       "Przesunięcie"};
        for (int round = 0; round < 3; ++round)
            for (const char* name : order)
                b.engine.ReadFromNode(b.Node(name));
        for (const QString& line : b.ui.log)
            QVERIFY2(own.contains(line), qPrintable(line));
        QCOMPARE(b.ui.outcomes.size(), 24); // one outcome each; a busy machine may let a reply
                                            // that is late for the device still count
    }

    // The same device read with a read window long enough for it.
    void slowDeviceWithALongerWindow() {
        Simulator sim({"--delay", "150"});
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        QVERIFY(b.link.OpenPort(sim.port(), "19200,e,8,1") &&
                b.link.SetPortTimeouts(30, 0, 400, 0, 30));
        b.engine.ReadFromNode(b.Node("Pomiary"));
        QCOMPARE(b.ui.log, MeasurementGroupLines());
    }

    void simulatorKilled_data() {
        QTest::addColumn<QString>("job");
        QTest::newRow("walk") << "walk";
        QTest::newRow("monitoring") << "monitor";
        QTest::newRow("calibration") << "calibration";
    }
    void simulatorKilled() {
        QFETCH(QString, job);
        auto sim = std::make_unique<Simulator>(QStringList{}, "TR100F.dat");
        QVERIFY(sim->started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(*sim));
        int lost = 0;
        b.link.onLost = [&] { ++lost; };
        // The simulator dies while the job lets events run after its first reply.
        b.ui.events = [&] {
            if (sim->started() && b.ui.log.size() >= (job == "walk" ? 1 : 3)) sim->Kill();
        };
        QElapsedTimer t;
        t.start();
        if (job == "walk") {
            b.engine.ReadFromNode(b.Node("Pomiar"));
            QVERIFY(!b.engine.Walking()); // ended, and cleared
            QVERIFY(b.ui.log.contains(QString::fromUtf8("Przerwano: brak połączenia")));
        } else if (job == "monitor") {
            b.engine.MakeCurrent(b.Node("R0"));
            b.ui.monitor = true;
            b.monitor.Click(true, "100", "R0:");
            QTest::qWait(400); // ticks go on; their reads meet the closed port
            b.monitor.Click(false, "100", "R0:");
            QVERIFY(!b.ui.messages.isEmpty());
            QVERIFY(b.ui.messages.first().contains(QString::fromUtf8("brak połączenia")));
        } else {
            QVERIFY(!b.calibration.Start("100R", "50"));
            QVERIFY(!b.calibration.Calibrating); // ended: no later read completes it
            QCOMPARE(b.ui.log.last(), QStringLiteral("kalibracja przerwana"));
        }
        QVERIFY(t.elapsed() < 3000);
        QCOMPARE(lost, 1);
        QVERIFY(!b.link.isOpen());
        const QStringList logBefore = b.ui.log;
        QVERIFY(!logBefore.isEmpty());
        // Reconnecting to a new simulator, the next request works.
        b.ui.events = nullptr;
        b.ui.monitor = false;
        Simulator again({}, "TR100F.dat");
        QVERIFY(again.started());
        QVERIFY(b.Connect(again));
        b.calibration.Abandon();
        b.engine.ForgetNodes();
        b.engine.ReadFromNode(b.Node("N100"));
        QCOMPARE(b.ui.log.mid(0, logBefore.size()), logBefore);
        QCOMPARE(b.ui.log.last(), QStringLiteral("300  N100       1000"));
    }

    // Every prefix of a valid device file ends in a clean error or a smaller tree.
    void everyPrefixOfADeviceFile() {
        QFile f(qEnvironmentVariable("VARDEL_BIN") + "/TR100.dat");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        QElapsedTimer t;
        t.start();
        int errors = 0;
        for (qsizetype n = 0; n < whole.size(); ++n) {
            RegisterTree tree;
            try {
                ReadDeviceFile(whole.left(n), tree);
            } catch (const AppError&) {
                ++errors;
            }
        }
        QVERIFY(errors > whole.size() / 2);
        QVERIFY(t.elapsed() < 20000);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
