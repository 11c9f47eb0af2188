#include "regmap/error.h"
#include "tools/calrecord.h"
#include "tools/session.h"
#include "txn/fakes.h"
#include <QtTest>

namespace {

// A calibratable device: R0 answers the scripted samples in turn.
struct Rig {
    ScriptedLink link;
    RecordingFrontend ui;
    OperatorSession session{link, ui};
    RegisterTree& tree = session.tree();
    TransactionEngine& engine = session.engine();
    Calibration& calibration = session.calibration();
    QList<int> samples; // -1000000: a bad CRC
    int next = 0;
    QString result = "8";
    TreeNode* r0;
    TreeNode* n100;

    Rig() {
        TreeNode* group = tree.appendTopLevel();
        group->record.Name = "Pomiar";
        group->states |= NodeState::HasChildren;
        r0 = group->appendChild();
        r0->record = {"R0", "", "0", "INT", "1", "RO", ""};
        n100 = tree.appendTopLevel();
        n100->record = {"N100", "", "300", "WORD", "1", "RW", "1"};
        calibration.setResult = [this](const QString& mean) { result = mean; };
        link.script = [this](const QByteArray& request) {
            if (request[1] != 4) return Answer(request, {});
            const int value = samples.value(next++ % std::max<int>(1, samples.size()));
            QByteArray reply = Answer(request, {quint16(value)});
            if (value == -1000000) reply[reply.size() - 1] ^= 1;
            return reply;
        };
    }
};

} // namespace

class TestOperator : public QObject {
    Q_OBJECT
private slots:
    void calibrationResults_data() {
        QTest::addColumn<QList<int>>("samples");
        QTest::addColumn<QString>("mean");
        QTest::addColumn<QString>("error");
        QTest::newRow("worked example") << QList<int>{100, 101, 102, 103} << "102"
                                        << "0,612";
        QTest::newRow("one sample") << QList<int>{1234} << "1234"
                                    << "0,000";
        QList<int> alternating;
        for (int i = 0; i < 16; ++i)
            alternating << 1000 + i % 2;
        QTest::newRow("alternating 1000 1001") << alternating << "1001"
                                               << "0,177";
        QTest::newRow("-1 -2") << QList<int>{-1, -2} << "-1"
                               << "0,500";
        QTest::newRow("-5 0 0 truncates toward zero") << QList<int>{-5, 0, 0} << "-1"
                                                      << "1,414";
    }
    void calibrationResults() {
        QFETCH(QList<int>, samples);
        QFETCH(QString, mean);
        QFETCH(QString, error);
        Rig rig;
        rig.samples = samples;
        rig.calibration.Start("100R", QString::number(samples.size()));
        QCOMPARE(rig.link.requests.size(), samples.size());
        QCOMPARE(rig.ui.pausedMs, 200 * (samples.size() - 1));
        QCOMPARE(rig.result, mean);
        QVERIFY(!rig.calibration.Calibrating);
        // The start lines, one ordinary line per sample read, then the result.
        QCOMPARE(rig.ui.log.size(), 2 + samples.size() + 3);
        QCOMPARE(rig.ui.log[0], QString());
        QCOMPARE(rig.ui.log[1], QStringLiteral("kalibracja 100R ... "));
        QCOMPARE(rig.ui.log[2], "0    R0         " + QString::number(samples[0]));
        const QStringList result = rig.ui.log.mid(rig.ui.log.size() - 3);
        QCOMPARE(result[0], "========" + QString(8, ' ') + mean + ' ');
        QCOMPARE(result[1], "err: " + QString(11, ' ') + error + ' ');
        QCOMPARE(result[2], QString());
    }

    void failedSampleReportsAndWritesNoResult() {
        Rig rig;
        rig.samples = {100, -1000000, 100};
        try {
            rig.calibration.Start("400R", "3");
            QFAIL("no error");
        } catch (const AppError& e) {
            QCOMPARE(e.message(), QStringLiteral("'' is not a valid integer value"));
        }
        QCOMPARE(rig.ui.log.size(), 2 + 2); // the two valid samples' lines, no result
        QCOMPARE(rig.result, QStringLiteral("8"));
        QVERIFY(!rig.calibration.Calibrating);
    }

    void counterOfZeroTakesNoSample() {
        Rig rig;
        rig.samples = {5};
        QVERIFY(!rig.calibration.Start("100R", "0"));
        QVERIFY(!rig.calibration.Calibrating);
        QCOMPARE(rig.link.requests.size(), 1);
        // start lines, the read's own line, and the end without a result
        QCOMPARE(rig.ui.log.size(), 4);
        QCOMPARE(rig.ui.log.last(), QStringLiteral("kalibracja przerwana"));
        QCOMPARE(rig.calibration.StopReason,
                 QString::fromUtf8("licznik 0: nie zamówiono żadnej próbki"));
        QCOMPARE(rig.calibration.FailedSampleReads, 0);
    }

    // A run that did not finish says why, as it happened: nothing is blamed on the device
    // that was never asked, and a failed sample read is counted.
    void stopReasonsAreTrue_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("failedReads");
        QTest::newRow("port closed")
            << false << true << QString::fromUtf8("port zamknięty: nic nie wysłano") << 0;
        QTest::newRow("no reply") << true << false
                                  << QString::fromUtf8("brak odpowiedzi na odczyt próbki") << 1;
    }
    void stopReasonsAreTrue() {
        QFETCH(bool, open);
        QFETCH(bool, answers);
        QFETCH(QString, reason);
        QFETCH(int, failedReads);
        Rig rig;
        rig.samples = {100};
        rig.link.open = open;
        if (!answers) rig.link.script = [](const QByteArray&) { return QByteArray(); };
        QVERIFY(!rig.calibration.Start("100R", "4"));
        QCOMPARE(rig.calibration.StopReason, reason);
        QCOMPARE(rig.calibration.FailedSampleReads, failedReads);
        CalibrationRecord record;
        record.failedReads = rig.calibration.FailedSampleReads;
        QCOMPARE(StatisticsOf(record).failed, failedReads);
    }

    void badCounterAfterTheStartLines() {
        Rig rig;
        QVERIFY_THROWS_EXCEPTION(AppError, rig.calibration.Start("100R", "x"));
        QCOMPARE(rig.ui.log.size(), 2);
        QVERIFY(rig.calibration.Calibrating);
        QVERIFY(rig.link.requests.isEmpty());
    }

    void noR0EndsWithoutReading() {
        Rig rig;
        rig.r0->record.Name = "r0";
        QVERIFY(!rig.calibration.Start("100R", "4"));
        QVERIFY(rig.link.requests.isEmpty());
        QVERIFY(!rig.calibration.Calibrating);
        QCOMPARE(rig.ui.log.last(), QStringLiteral("kalibracja przerwana"));
    }

    // A sample read without a reply ends the run; a later read of another register is an
    // ordinary read, never one of its samples.
    void cutOffRunTakesNoOtherReads() {
        Rig rig;
        rig.samples = {100, 101, 102};
        rig.link.script = [&, script = rig.link.script](const QByteArray& request) {
            if (request[1] == 3) return Answer(request, {7});
            return rig.link.requests.size() == 3 ? QByteArray() : script(request);
        };
        QVERIFY(!rig.calibration.Start("100R", "20"));
        QVERIFY(!rig.calibration.Calibrating);
        QCOMPARE(rig.ui.log.last(), QStringLiteral("kalibracja przerwana"));
        rig.engine.ReadFromNode(rig.n100);
        QCOMPARE(rig.ui.log.last(), QStringLiteral("300  N100       7"));
        QCOMPARE(rig.result, QStringLiteral("8"));
        QCOMPARE(rig.calibration.SampleList, (QStringList{"100", "101"}));
    }

    // A read of another register while the run lets events run is not a sample either.
    void nestedReadIsNotASample() {
        Rig rig;
        rig.samples = {10, 20, 30};
        bool done = false;
        rig.ui.events = [&] {
            if (done) return;
            done = true;
            rig.engine.ReadFromNode(rig.n100);
        };
        QVERIFY(rig.calibration.Start("100R", "3"));
        QCOMPARE(rig.calibration.SampleList, (QStringList{"10", "20", "30"}));
        QCOMPARE(rig.result, QStringLiteral("20"));
    }

    void stopEndsARunWithoutResult() {
        Rig rig;
        rig.samples = {1, 2, 3};
        rig.ui.events = [&] {
            if (rig.link.requests.size() == 2) rig.engine.RequestStop();
        };
        QVERIFY(!rig.calibration.Start("100R", "1000"));
        QCOMPARE(rig.link.requests.size(), 2);
        QVERIFY(!rig.calibration.Calibrating);
        QCOMPARE(rig.result, QStringLiteral("8"));
        QCOMPARE(rig.ui.log.last(), QStringLiteral("Przerwano"));
    }

    void store_data() {
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("requests");
        QTest::newRow("100R") << "100R"
                              << "1234" << 1;
        QTest::newRow("100r lower case") << "100r"
                                         << "1234" << 0;
        QTest::newRow("no range") << ""
                                  << "1234" << 0;
        QTest::newRow("400R, no N400") << "400R"
                                       << "1234" << 0;
    }
    void store() {
        QFETCH(QString, range);
        QFETCH(QString, value);
        QFETCH(int, requests);
        Rig rig;
        rig.calibration.Store(range, value);
        QCOMPARE(rig.link.requests.size(), requests);
        if (requests) {
            QCOMPARE(rig.link.requests[0].toHex(),
                     WithCrc(QByteArray::fromHex("F706012C04D2")).toHex());
            QCOMPARE(rig.ui.log, QStringList{"300  N100:      1234"});
        }
    }

    void storeWritesTheTextAsTyped() {
        Rig rig;
        // Not an integer: stored as typed, then the single-register write refuses it.
        QVERIFY_THROWS_EXCEPTION(AppError, rig.calibration.Store("100R", "1,5"));
        QCOMPARE(rig.n100->record.Value, QStringLiteral("1,5"));
        QVERIFY(rig.link.requests.isEmpty());
    }

    void errorFormat_data() {
        QTest::addColumn<float>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("small") << 0.6124f << "0,612";
        QTest::newRow("zero") << 0.0f << "0,000";
        QTest::newRow("12345,678") << 12345.678f << "12345,678";
        QTest::newRow("123456,78") << 123456.78f << "123456,780";
        QTest::newRow("eight digits") << 12345678.0f << "12345678,000";
    }
    void errorFormat() {
        QFETCH(float, error);
        QFETCH(QString, text);
        QCOMPARE(FormatCalibrationError(error), text);
    }

    void monitorStates_data() {
        QTest::addColumn<QString>("period");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("lines");
        QTest::newRow("100 starts") << "100"
                                    << "R0:" << true << 3;
        QTest::newRow("$64 starts") << "$64"
                                    << "R0:" << true << 3;
        QTest::newRow("99 does nothing") << "99"
                                         << "R0:" << false << 0;
        QTest::newRow("no register clicked") << "2000"
                                             << "" << false << 0;
    }
    void monitorStates() {
        QFETCH(QString, period);
        QFETCH(QString, label);
        QFETCH(bool, running);
        QFETCH(int, lines);
        Rig rig;
        rig.samples = {42};
        rig.ui.monitor = true;
        Monitor monitor(rig.engine, rig.ui);
        QObject::connect(&monitor.Timer1, &QTimer::timeout, [&] { monitor.Tick(); });
        rig.engine.MakeCurrent(rig.r0);
        monitor.Click(true, period, label);
        QCOMPARE(monitor.Timer1.isActive(), running);
        QCOMPARE(rig.ui.log.size(), lines);
        if (!lines) return;
        QCOMPARE(monitor.Timer1.interval(), 100);
        QCOMPARE(rig.ui.log[0], QString());
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d\t0\\(R0\\)$")
                    .match(rig.ui.log[1])
                    .hasMatch());
        QVERIFY(rig.ui.log[2].endsWith("\t42"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.log.size(), 5, 1000); // ticks go on reading
        monitor.Click(false, period, label);
        QVERIFY(!monitor.Timer1.isActive());
        QCOMPARE(rig.ui.log.last(), QString());
    }

    // A tick that finds the port closed shows its one box and switches monitoring off.
    void tickWithoutAPortSwitchesMonitoringOff() {
        Rig rig;
        Monitor monitor(rig.engine, rig.ui);
        int stopped = 0;
        monitor.onStopped = [&] { ++stopped; };
        QObject::connect(&monitor.Timer1, &QTimer::timeout, [&] { monitor.Tick(); });
        rig.engine.MakeCurrent(rig.r0);
        monitor.Click(true, "100", "R0:");
        rig.link.open = false;
        QTest::qWait(450);
        QVERIFY(!monitor.Timer1.isActive());
        QCOMPARE(stopped, 1);
        QCOMPARE(rig.ui.messages, QStringList{QString::fromUtf8("brak połączenia !")});
        QCOMPARE(rig.ui.log.last(), QString::fromUtf8("monitorowanie wyłączone"));
    }

    // A tick whose read fails with an error would fail at every tick: monitoring ends at the
    // first, and its error is the one box. A click onto a group leaves the register monitored.
    void failingTickSwitchesMonitoringOff() {
        Rig rig;
        Monitor monitor(rig.engine, rig.ui);
        int stopped = 0, errors = 0;
        monitor.onStopped = [&] { ++stopped; };
        QObject::connect(&monitor.Timer1, &QTimer::timeout, [&] {
            try {
                monitor.Tick();
            } catch (const AppError&) {
                ++errors;
            }
        });
        rig.engine.MakeCurrent(rig.r0);
        monitor.Click(true, "100", "R0:");
        rig.engine.MakeCurrent(rig.tree.topLevel()[0]); // a click on the group "Pomiar"
        QTest::qWait(250);
        QCOMPARE(monitor.Monitored(), rig.r0);
        QCOMPARE(errors, 0);
        rig.r0->record.Address = "zły";
        QTest::qWait(450);
        QVERIFY(!monitor.Timer1.isActive());
        QCOMPARE(stopped, 1);
        QCOMPARE(errors, 1);
    }

    // A typed range never takes a record's file out of its folder, nor makes its name long.
    void recordNameIsSafe_data() {
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("part");
        QTest::newRow("plain") << "100R"
                               << "100R";
        QTest::newRow("climbing out") << "/../../escaped"
                                      << "_.__.__escaped";
        QTest::newRow("backslashes and colon") << "C:\\x"
                                               << "C__x";
        QTest::newRow("Polish letters") << QString::fromUtf8("żółw") << "___w";
        QTest::newRow("5000 characters") << QString(5000, 'A') << QString(40, 'A');
        QTest::newRow("no range") << QString() << "bez_zakresu";
    }
    void recordNameIsSafe() {
        QFETCH(QString, range);
        QFETCH(QString, part);
        CalibrationRecord r;
        r.deviceFile = "TR100F.dat";
        r.range = range;
        r.start = QDateTime(QDate(2026, 12, 9), QTime(10, 20, 30));
        QCOMPARE(RecordBaseName(r), "TR100F_" + part + "_2026-12-09_10-20-30");
    }

    void untickingWithABadPeriodKeepsTheTimer() {
        Rig rig;
        Monitor monitor(rig.engine, rig.ui);
        rig.engine.MakeCurrent(rig.r0);
        monitor.Click(true, "2000", "R0:");
        QVERIFY(monitor.Timer1.isActive());
        const int lines = rig.ui.log.size();
        monitor.Click(false, "50", "R0:");
        QVERIFY(monitor.Timer1.isActive());
        QCOMPARE(rig.ui.log.size(), lines);
        QVERIFY_THROWS_EXCEPTION(AppError, monitor.Click(false, "dwa", "R0:"));
        QVERIFY(monitor.Timer1.isActive());
    }

    void reset_data() {
        QTest::addColumn<QString>("slave");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("247") << "247" << QByteArray::fromHex("F7080001FF00E4AD");
        QTest::newRow("0") << "0" << QByteArray();
        QTest::newRow("256") << "256" << QByteArray();
    }
    void reset() {
        QFETCH(QString, slave);
        QFETCH(QByteArray, sent);
        Rig rig;
        rig.ui.slave = slave;
        rig.engine.ReadRegister(rig.n100);
        const QString tx = rig.ui.tx;
        SendReset(rig.engine);
        SendReset(rig.engine);
        if (sent.isEmpty()) {
            QCOMPARE(rig.link.requests.size(), 1);
            QCOMPARE(rig.ui.tx, tx);
            QVERIFY(rig.ui.messages.isEmpty());
            return;
        }
        QCOMPARE(rig.link.requests.mid(1), (QList<QByteArray>{sent, sent}));
        QCOMPARE(rig.ui.tx, QStringLiteral("$F7080001FF00E4AD"));
        QCOMPARE(rig.ui.rx, QStringLiteral("$F7080001FF00E4AD"));
        QCOMPARE(rig.ui.log, (QStringList{"     Reset", "     Reset"}));
    }
};

QTEST_GUILESS_MAIN(TestOperator)
#include "tst_operator.moc"
