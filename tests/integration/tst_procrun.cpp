#include "rig.h"
#include "tools/procrun.h"

namespace {

// TR100F at two points, three samples each, no stability wait: quick against the simulator.
Procedure TwoPoints(const RegisterTree& tree, const QString& rule = "guardBand") {
    const QString json = QString::fromUtf8(R"({"title": "TR100F", "ranges": [{
        "range": "Rezystancja", "unit": "Ω", "span": [100, 400], "result": "Temperatura",
        "resolution": 0.01, "samples": 3, "spacingMs": 0, "tolerance": {"absolute": 0.1},
        "decisionRule": "%1", "points": [
          {"id": "100R", "nominal": 100,
           "adjust": {"kind": "storeMean", "sample": "R0", "register": "N100"}},
          {"id": "400R", "nominal": 400,
           "adjust": {"kind": "storeMean", "sample": "R0", "register": "N400"}}]}]})")
                             .arg(rule);
    return ReadProcedure(json.toUtf8(), "TR100F.procedure.json", tree);
}

ProcedureContext WithStandard() {
    ProcedureContext c;
    c.operatorName = "Jan Kowalski";
    ReferenceStandard r07;
    r07.id = "R-07";
    r07.U = 0.002;
    r07.k = 2;
    c.standards << r07;
    c.standardAt.insert(QString(), "R-07");
    return c;
}

// A transducer that reads 3 + 10,05 x input while N100 and N400 say 1000 and 4000.
QStringList Miscalibrated(const QStringList& more = {}) {
    return QStringList{"--transducer", "--gain", "10,05", "--offset", "3", "--control", "-"} + more;
}

} // namespace

class TestProcedureRun : public QObject {
    Q_OBJECT

    // Applies each point's nominal value to the simulated input and waits until the device
    // reads it.
    ProcedureRun::Hooks Applying(Simulator& sim, Bench& b, QList<AdjustmentStep>* asked,
                                 bool restore = false) {
        ProcedureRun::Hooks h;
        h.applied = [&sim, &b](const ProcedureRange&, const ProcedurePoint& point,
                               const ReferenceStandard*) -> std::optional<double> {
            sim.Tell("input " + QByteArray::number(point.nominal));
            const QString raw = QString::number(std::lround(3 + 10.05 * point.nominal));
            for (int i = 0; i < 50 && b.Node("R0")->record.Value != raw; ++i) {
                b.engine.ReadRegister(b.Node("R0"));
                QThread::msleep(20);
            }
            return point.nominal;
        };
        h.confirmAdjust = [asked](const QList<AdjustmentStep>& steps) {
            *asked = steps;
            return true;
        };
        h.confirmRestore = [restore](const QList<AdjustmentStep>&) { return restore; };
        return h;
    }

private slots:
    // From a miscalibrated start: as found fails, the adjustment writes exactly the two
    // confirmed registers after reading their old values, they read back, as left passes.
    void miscalibratedToPassing() {
        Simulator sim(Miscalibrated(), "TR100F.dat", true);
        QVERIFY(sim.started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(sim));
        const Procedure procedure = TwoPoints(b.tree);
        QList<AdjustmentStep> asked;
        ProcedureRun run(b.engine, b.tree, procedure, WithStandard(), Applying(sim, b, &asked));
        QVERIFY(run.AsFound());
        const ProcedureResult& r = run.result();
        QCOMPARE(r.asFound.size(), 2);
        // 100 + (1008 - 1000) * 300 / 3000, a single's worth
        QVERIFY2(std::fabs(r.asFound[0].mean - 100.8) < 1e-4,
                 qPrintable(QString::number(r.asFound[0].mean, 'g', 10)));
        QCOMPARE(r.asFound[0].verdict, Verdict::Fail);
        QCOMPARE(r.asFound[0].rawSamples, QStringList({"1008", "1008", "1008"}));
        QCOMPARE(r.asFound[0].standardId, QString("R-07"));
        QVERIFY(run.Adjust());
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].registerName, QString("N100"));
        QCOMPARE(asked[0].before, QString("1000"));
        QCOMPARE(asked[0].wanted, QString("1008"));
        QCOMPARE(asked[1].before, QString("4000"));
        QCOMPARE(asked[1].wanted, QString("4023"));
        for (const AdjustmentStep& s : r.adjustments) {
            QVERIFY(s.acknowledged);
            QVERIFY(s.holds);
            QCOMPARE(s.after, s.wanted);
        }
        QVERIFY(run.AsLeft());
        QVERIFY2(std::fabs(r.asLeft[0].mean - 100.0) < 1e-4,
                 qPrintable(QString::number(r.asLeft[0].mean, 'g', 10)));
        QVERIFY2(std::fabs(r.asLeft[1].mean - 400.0) < 1e-4,
                 qPrintable(QString::number(r.asLeft[1].mean, 'g', 10)));
        QCOMPARE(r.asLeft[1].verdict, Verdict::Pass);
        run.Finish();
        QCOMPARE(r.overall(), Verdict::Pass);
        QVERIFY(r.stopReason.isEmpty());
        int writes = 0;
        for (const QString& request : sim.Requests())
            if (request.mid(2, 2) == "06" || request.mid(2, 2) == "10") ++writes;
        QCOMPARE(writes, 2);
    }

    // A device that acknowledges and keeps its old value is reported so; the old values go
    // back when the operator asks.
    void writeThatDoesNotHold() {
        Simulator sim(Miscalibrated({"--keep", "300"}), "TR100F.dat");
        QVERIFY(sim.started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(sim));
        const Procedure procedure = TwoPoints(b.tree);
        QList<AdjustmentStep> asked;
        ProcedureRun run(b.engine, b.tree, procedure, WithStandard(),
                         Applying(sim, b, &asked, true));
        QVERIFY(run.AsFound());
        QVERIFY(!run.Adjust());
        const ProcedureResult& r = run.result();
        QCOMPARE(r.adjustments.size(), 2);
        QVERIFY(r.adjustments[0].acknowledged);
        QVERIFY(!r.adjustments[0].holds);
        QCOMPARE(r.adjustments[0].after, QString("1000"));
        QVERIFY(r.adjustments[1].holds);
        QVERIFY(r.restoreDone);
        QVERIFY(r.adjustments[1].restored);
        b.engine.ReadRegister(b.Node("N400"));
        QCOMPARE(b.Node("N400")->record.Value, QString("4000")); // back as it was
        QVERIFY(r.stopReason.startsWith(QString::fromUtf8("regulacja nieudana")));
        QCOMPARE(r.overall(), Verdict::Undetermined);
    }

    // A register whose old value the device refuses to give (an exception): nothing at all is
    // written, nor asked.
    void oldValueUnreadable() {
        Simulator sim(Miscalibrated({"--exception", "301:4"}), "TR100F.dat");
        QVERIFY(sim.started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(sim));
        const Procedure procedure = TwoPoints(b.tree);
        QList<AdjustmentStep> asked;
        ProcedureRun run(b.engine, b.tree, procedure, WithStandard(), Applying(sim, b, &asked));
        QVERIFY(run.AsFound());
        QVERIFY(!run.Adjust());
        QVERIFY(asked.isEmpty());
        QVERIFY(run.result().stopReason.contains("N400"));
    }

    // A device that refuses N100's write with an exception: that write is not acknowledged
    // and reads back its old value, N400's holds; both go back when the operator asks.
    void writeRefused() {
        Simulator sim(Miscalibrated({"--refuse", "300:4"}), "TR100F.dat", true);
        QVERIFY(sim.started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(sim));
        const Procedure procedure = TwoPoints(b.tree);
        QList<AdjustmentStep> asked;
        ProcedureRun run(b.engine, b.tree, procedure, WithStandard(),
                         Applying(sim, b, &asked, true));
        QVERIFY(run.AsFound());
        QVERIFY(!run.Adjust());
        const ProcedureResult& r = run.result();
        QCOMPARE(r.adjustments.size(), 2);
        QVERIFY(!r.adjustments[0].acknowledged);
        QVERIFY(!r.adjustments[0].holds);
        QCOMPARE(r.adjustments[0].after, QString("1000"));
        QVERIFY(r.adjustments[1].acknowledged && r.adjustments[1].holds);
        QVERIFY(r.restoreDone && r.adjustments[1].restored);
        QVERIFY(r.stopReason.startsWith(QString::fromUtf8("regulacja nieudana")));
        QStringList writes;
        for (const QString& request : sim.Requests())
            if (request.mid(2, 2) == "06") writes << request.left(12);
        // N100 refused, N400 taken, then N400's old value; N100 never changed.
        QCOMPARE(writes, QStringList({"F706012C03F0", "F706012D0FB7", "F706012D0FA0"}));
        QVERIFY(r.adjustments[0].restored);
    }

    // The operator stops at a point: the run keeps what it took.
    void stoppedAtAPoint() {
        Simulator sim(Miscalibrated(), "TR100F.dat");
        QVERIFY(sim.started());
        Bench b("TR100F.dat");
        QVERIFY(b.Connect(sim));
        const Procedure procedure = TwoPoints(b.tree);
        ProcedureRun::Hooks h;
        h.applied = [](const ProcedureRange&, const ProcedurePoint& point,
                       const ReferenceStandard*) -> std::optional<double> {
            if (point.id == "400R") return std::nullopt;
            return point.nominal;
        };
        ProcedureRun run(b.engine, b.tree, procedure, WithStandard(), h);
        QVERIFY(!run.AsFound());
        QCOMPARE(run.result().asFound.size(), 1);
        QVERIFY(run.result().stopReason.contains("400R"));
    }
};

QTEST_GUILESS_MAIN(TestProcedureRun)
#include "tst_procrun.moc"
