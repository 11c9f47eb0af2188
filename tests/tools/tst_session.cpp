#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "tools/session.h"
#include "txn/fakes.h"
#include <QCryptographicHash>
#include <QtTest>

namespace {

// A device file with the sampled R0 and the 100R range's N100, as bytes.
QByteArray CalibratableDevice() {
    RegisterTree tree;
    TreeNode* group = tree.appendTopLevel();
    group->record.Name = "Pomiar";
    group->states |= NodeState::HasChildren;
    group->appendChild()->record = {"R0", "", "0", "INT", "1", "RO", ""};
    tree.appendTopLevel()->record = {"N100", "", "300", "WORD", "1", "RW", "1"};
    return WriteDeviceFile(tree);
}

// R0 answers 10, 12, 14 in turn; a write of N100 ends as `writeReply` says.
struct Rig {
    ScriptedLink link;
    RecordingFrontend ui;
    OperatorSession session{link, ui};
    QByteArray device = CalibratableDevice();
    int sample = 0;
    enum class Write { Echo, Exception, Silent } writeReply = Write::Echo;
    QList<std::pair<CalibrationRecord, bool>> records; // each change, and whether fresh

    Rig() {
        ui.slave = "7";
        session.LoadDevice("TEST.dat", device);
        session.PortOpened({"/dev/ttyUSB0", "19200,e,8,1"});
        session.onRecord = [this](const CalibrationRecord& r, bool fresh) {
            records.append({r, fresh});
        };
        link.script = [this](const QByteArray& request) -> QByteArray {
            if (request[1] == 4) return Answer(request, {quint16(10 + 2 * (sample++ % 3))});
            if (writeReply == Write::Exception)
                return WithCrc(request.left(1) + char(request[1] | 0x80) + char(2));
            if (writeReply == Write::Silent) return {};
            return Answer(request, {});
        };
    }
};

} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    // A finished run is a record of its own; its first store goes into it, the next store
    // is a record of its own again, so nothing written before changes.
    void runThenStores() {
        Rig rig;
        rig.session.NoteSerialNumber("7", "SN-42");
        QVERIFY(rig.session.Calibrate("100R", "3"));
        QCOMPARE(rig.records.size(), 1);
        const auto& [run, runFresh] = rig.records[0];
        QVERIFY(runFresh);
        QVERIFY(run.finished);
        QCOMPARE(run.samples, QStringList({"10", "12", "14"}));
        QCOMPARE(run.sampleTimes.size(), 3);
        QCOMPARE(run.meanText, QString("12"));
        QCOMPARE(run.deviceFile, QString("TEST.dat"));
        QCOMPARE(run.deviceSha256,
                 QString(QCryptographicHash::hash(rig.device, QCryptographicHash::Sha256).toHex()));
        QCOMPARE(run.portPath, QString("/dev/ttyUSB0"));
        QCOMPARE(run.lineSettings, QString("19200,e,8,1"));
        QCOMPARE(run.slave, QString("7"));
        QCOMPARE(run.serialNumber, QString("SN-42"));
        QCOMPARE(run.registerName, QString("R0"));
        QVERIFY(!run.stored);

        QVERIFY(rig.session.StoreFollowsRun("100R"));
        QVERIFY(!rig.session.StoreFollowsRun("400R"));
        QVERIFY(rig.session.Store("100R", "12"));
        QCOMPARE(rig.records.size(), 2);
        QVERIFY(!rig.records[1].second); // the run's record, amended
        QVERIFY(rig.records[1].first.stored);
        QCOMPARE(rig.records[1].first.samples.size(), 3);
        QCOMPARE(rig.records[1].first.storeRegister, QString("N100"));
        QCOMPARE(rig.records[1].first.storeOutcome, QString("poprawna odpowiedź"));

        rig.session.Store("100R", "13");
        QCOMPARE(rig.records.size(), 3);
        QVERIFY(rig.records[2].second);
        QVERIFY(rig.records[2].first.samples.isEmpty());
        QCOMPARE(rig.records[2].first.storeValue, QString("13"));
        QCOMPARE(rig.records[2].first.stopReason,
                 QString("zapis bez kalibracji w tym uruchomieniu"));
    }

    // What a store's record says of the write: the device's own answer, or that nothing went.
    void storeOutcome_data() {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("taken") << int(Rig::Write::Echo) << "100R"
                               << "poprawna odpowiedź";
        QTest::newRow("refused") << int(Rig::Write::Exception) << "100R"
                                 << "wyjątek 2 (niedozwolony adres danych)";
        QTest::newRow("silent") << int(Rig::Write::Silent) << "100R"
                                << "brak odpowiedzi";
        QTest::newRow("no register") << int(Rig::Write::Echo) << "400R"
                                     << "nie wysłano";
    }
    void storeOutcome() {
        QFETCH(int, reply);
        QFETCH(QString, range);
        QFETCH(QString, outcome);
        Rig rig;
        rig.writeReply = Rig::Write(reply);
        rig.session.Store(range, "5");
        QCOMPARE(rig.records.size(), 1);
        QCOMPARE(rig.records[0].first.storeOutcome, outcome);
    }

    // A run that fails with an error is on record as stopped, with the error's words.
    void failedRunIsOnRecord() {
        Rig rig;
        QVERIFY_THROWS_EXCEPTION(AppError, rig.session.Calibrate("100R", "trzy"));
        QCOMPARE(rig.records.size(), 1);
        QVERIFY(!rig.records[0].first.finished);
        QVERIFY(!rig.records[0].first.stopReason.isEmpty());
        QVERIFY(!rig.session.StoreFollowsRun("100R"));
    }

    // Every request counts once in the line's statistics; a port opened starts them again
    // and forgets the serial numbers of the last port's devices.
    void statisticsPerPort() {
        Rig rig;
        rig.session.NoteSerialNumber("7", "SN-42");
        rig.session.Calibrate("100R", "3");
        rig.writeReply = Rig::Write::Silent;
        rig.session.Store("100R", "12");
        QCOMPARE(rig.session.stats().requests(), 4);
        QCOMPARE(rig.session.stats().valid(), 3);
        QCOMPARE(rig.session.requestsEnded(), 4);
        QCOMPARE(rig.session.lastOutcome().kind, ReplyOutcome::NoReply);
        rig.session.PortOpened({"/dev/ttyUSB1", "9600,n,8,1"});
        QCOMPARE(rig.session.stats().requests(), 0);
        QCOMPARE(rig.session.SerialNumberOf("7"), QString());
        rig.session.Calibrate("100R", "1");
        QCOMPARE(rig.records.last().first.portPath, QString("/dev/ttyUSB1"));
        QCOMPARE(rig.records.last().first.serialNumber, QString());
    }

    // A file that fails part way is still the one named: the tree holds what was read of it.
    void deviceNamedAsLoaded() {
        Rig rig;
        const QByteArray cut = rig.device.left(rig.device.size() / 2);
        QVERIFY_THROWS_EXCEPTION(AppError, rig.session.LoadDevice("CUT.dat", cut));
        QCOMPARE(rig.session.deviceName(), QString("CUT.dat"));
        QCOMPARE(rig.session.deviceSha256(),
                 QString(QCryptographicHash::hash(cut, QCryptographicHash::Sha256).toHex()));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
