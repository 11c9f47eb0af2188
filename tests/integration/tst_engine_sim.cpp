#include "rig.h"

// The engine and the real serial link against the simulator.
class TestEngineSim : public QObject {
    Q_OBJECT

private slots:
    void walkOfTheMeasurementGroup() {
        Simulator sim({});
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        QVERIFY(b.Connect(sim));
        RegisterTree& tree = b.tree;
        RecordingFrontend& ui = b.ui;
        TransactionEngine& engine = b.engine;
        engine.ReadFromNode(tree.FindNodeByName("Pomiary"));
        QCOMPARE(ui.log, MeasurementGroupLines());
        QVERIFY(!engine.Walking());
    }

    // The transducer's raw reading follows the input told at run time; its result follows its
    // own calibration registers, so storing the raw readings at 100 and 400 calibrates it.
    void transducerFollowsItsCalibration() {
        Simulator sim({"--transducer", "--gain", "10,05", "--offset", "3", "--control", "-"},
                      "TR100F.dat");
        QVERIFY(sim.started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(sim));
        TreeNode* raw = b.Node("R0");
        TreeNode* result = b.Node("Temperatura");
        auto read = [&](TreeNode* node) {
            b.engine.ReadRegister(node);
            return node->record.Value;
        };
        QCOMPARE(read(raw), QString("1008")); // 3 + 10,05 * 100
        QCOMPARE(read(result), QString("100,80"));
        sim.Tell("input 400");
        QTRY_COMPARE_WITH_TIMEOUT(read(raw), QString("4023"), 3000);
        QCOMPARE(read(result), QString("402,30"));
        b.Node("N100")->record.Value = "1008";
        b.engine.WriteRegister(b.Node("N100"));
        b.Node("N400")->record.Value = "4023";
        b.engine.WriteRegister(b.Node("N400"));
        QCOMPARE(read(result), QString("400,00"));
        sim.Tell("100");
        QTRY_COMPARE_WITH_TIMEOUT(read(result), QString("100,00"), 3000);
    }

    void writeThenReadBack() {
        Simulator sim({});
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        QVERIFY(b.Connect(sim));
        RegisterTree& tree = b.tree;
        RecordingFrontend& ui = b.ui;
        TransactionEngine& engine = b.engine;
        for (const char* name : {"Etykieta", "Próg alarmu", "Wzmocnienie", "Korekta"}) {
            TreeNode* node = tree.FindNodeByName(QString::fromUtf8(name));
            QVERIFY(node);
            const QString written = node->record.Type == "TEXT" ? "Nowy 8  " : "-7,25";
            node->record.Value = node->record.Type == "INT" ? "-70000" : written;
            const QString expected = node->record.Type == "INT" ? "-70000" : written;
            engine.WriteRegister(node);
            engine.ReadFromNode(node);
            QCOMPARE(node->record.Value, expected);
        }
        QCOMPARE(ui.log.size(), 8);
    }

    void faultsDoNotStopTheNextRequest_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("no reply every 2nd") << QStringList{"--drop", "2"};
        QTest::newRow("bad CRC every 2nd") << QStringList{"--bad-crc", "2"};
        QTest::newRow("garbage every 2nd") << QStringList{"--garbage", "2", "--seed", "1"};
    }
    void faultsDoNotStopTheNextRequest() {
        QFETCH(QStringList, faults);
        Simulator sim(faults);
        QVERIFY(sim.started());
        Bench b("TR100.dat");
        QVERIFY(b.Connect(sim));
        // A read window a loaded machine keeps (sanitizers, parallel tests): only the faults
        // may fail a read here, never a simulator that answered in 60 ms instead of 40.
        QVERIFY(b.link.SetPortTimeouts(30, 0, 300, 0, 30));
        RegisterTree& tree = b.tree;
        RecordingFrontend& ui = b.ui;
        TransactionEngine& engine = b.engine;
        TreeNode* group = tree.FindNodeByName("Pomiary");
        for (int i = 0; i < 10 && (i == 0 || engine.Walking()); ++i)
            engine.ReadFromNode(i == 0 ? group : engine.CurrentNode());
        QVERIFY2(ui.log.size() == 5, qPrintable(ui.log.join('\n')));
        QVERIFY(!engine.Walking());
    }
};

QTEST_GUILESS_MAIN(TestEngineSim)
#include "tst_engine_sim.moc"
