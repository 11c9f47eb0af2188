#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "tools/procedure.h"
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// The registers of a TR100F: R0 raw, Temperatura the result, N100 and N400 written.
struct Device {
    RegisterTree tree;
    Device() {
        TreeNode* group = tree.appendTopLevel();
        group->record.Name = "Pomiar";
        group->states |= NodeState::HasChildren;
        group->appendChild()->record = {"R0", "", "0", "INT", "1", "RO", ""};
        group->appendChild()->record = {"Temperatura", "", "1", "REAL", "2", "RO", ""};
        tree.appendTopLevel()->record = {"N100", "", "300", "WORD", "1", "RW", ""};
        tree.appendTopLevel()->record = {"N400", "", "301", "WORD", "1", "RW", ""};
    }
};

// A valid procedure; each bad case changes one thing in it.
QJsonObject GoodProcedure() {
    const char* text = R"({"title": "T", "ranges": [{
        "range": "R", "unit": "Ω", "span": [100, 400], "result": "Temperatura",
        "resolution": 0.01, "samples": 10, "spacingMs": 200,
        "stability": {"band": 0.05, "seconds": 5}, "tolerance": {"percentOfSpan": 0.1},
        "decisionRule": "guardBand",
        "points": [
          {"id": "100R", "nominal": 100,
           "adjust": {"kind": "storeMean", "sample": "R0", "register": "N100"}},
          {"id": "400R", "nominal": 400, "adjust": {"kind": "writeReference", "register": "N400"}},
          {"id": "250", "nominal": 250}]}]})";
    return QJsonDocument::fromJson(text).object();
}

using Change = std::function<void(QJsonObject& range, QJsonObject& root)>;

QByteArray Changed(const Change& change) {
    QJsonObject root = GoodProcedure();
    const QJsonArray original = root["ranges"].toArray();
    QJsonObject range = original[0].toObject();
    change(range, root);
    if (root["ranges"].toArray() == original) { // the change was in the range
        QJsonArray ranges = original;
        ranges[0] = range;
        root["ranges"] = ranges;
    }
    return QJsonDocument(root).toJson();
}

QJsonObject Point(const QJsonObject& range, int i) {
    return range["points"].toArray()[i].toObject();
}
void SetPoint(QJsonObject& range, int i, const QJsonObject& point) {
    QJsonArray points = range["points"].toArray();
    points[i] = point;
    range["points"] = points;
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestProcedure : public QObject {
    Q_OBJECT
private slots:
    void goodFile() {
        Device d;
        const Procedure p =
            ReadProcedure(QJsonDocument(GoodProcedure()).toJson(), "T.json", d.tree);
        QCOMPARE(p.title, QString("T"));
        QCOMPARE(p.pointCount(), 3);
        const ProcedureRange& r = p.ranges[0];
        QCOMPARE(r.unit, QString::fromUtf8("Ω"));
        QCOMPARE(r.resultRegister, QString("Temperatura"));
        QCOMPARE(r.rule, DecisionRule::GuardBanded);
        QCOMPARE(r.stabilitySeconds, 5);
        QCOMPARE(ToleranceAt(r.tolerance, 100, r.spanHigh - r.spanLow), 0.3);
        QCOMPARE(r.points[0].adjust.kind, Adjustment::Kind::StoreMean);
        QCOMPARE(r.points[0].adjust.sampleRegister, QString("R0"));
        QCOMPARE(r.points[0].adjust.targetRegister, QString("N100"));
        QCOMPARE(r.points[1].adjust.kind, Adjustment::Kind::WriteReference);
        QCOMPARE(r.points[2].adjust.kind, Adjustment::Kind::None);
    }

    // The sample procedure that is installed with the device checks against its device.
    void installedSampleIsValid() {
        const QString dir = qEnvironmentVariable("VARDEL_BIN");
        if (dir.isEmpty()) QSKIP("VARDEL_BIN names the build's programs");
        RegisterTree tree;
        LoadDeviceFile(dir + "/TR100F.dat", tree);
        const Procedure p = ReadProcedureFile(dir + "/TR100F.procedure.json", tree);
        QCOMPARE(p.pointCount(), 2);
    }

    // A bad file is refused with the key's path and why.
    void badFiles_data() {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown key")
            << Change([](QJsonObject& r, QJsonObject&) { r["sample"] = 3; })
            << "T.json: \"ranges[0].sample\": nieznany klucz";
        QTest::newRow("no title") << Change([](QJsonObject&, QJsonObject& root) {
            root.remove("title");
        }) << "T.json: \"title\": brak klucza";
        QTest::newRow("no ranges")
            << Change([](QJsonObject&, QJsonObject& root) { root["ranges"] = QJsonArray(); })
            << "T.json: \"ranges\": potrzebna niepusta lista";
        QTest::newRow("no such register")
            << Change([](QJsonObject& r, QJsonObject&) { r["result"] = "Ciśnienie"; })
            << QString::fromUtf8("T.json: \"ranges[0].result\": nie ma rejestru \"Ciśnienie\"");
        QTest::newRow("a group is no register")
            << Change([](QJsonObject& r, QJsonObject&) { r["result"] = "Pomiar"; })
            << "T.json: \"ranges[0].result\": nie ma rejestru \"Pomiar\"";
        QTest::newRow("stores into a read-only register")
            << Change([](QJsonObject& r, QJsonObject&) {
                   QJsonObject p = Point(r, 0);
                   QJsonObject a = p["adjust"].toObject();
                   a["register"] = "R0";
                   p["adjust"] = a;
                   SetPoint(r, 0, p);
               })
            << QString::fromUtf8(
                   "T.json: \"ranges[0].points[0].adjust.register\": rejestr \"R0\" nie jest do "
                   "zapisu");
        QTest::newRow("unknown adjustment") << Change([](QJsonObject& r, QJsonObject&) {
            QJsonObject p = Point(r, 1);
            p["adjust"] = QJsonObject{{"kind", "guess"}, {"register", "N400"}};
            SetPoint(r, 1, p);
        }) << "T.json: \"ranges[0].points[1].adjust.kind\": \"guess\" nieznane";
        QTest::newRow("nominal not a number") << Change([](QJsonObject& r, QJsonObject&) {
            QJsonObject p = Point(r, 2);
            p["nominal"] = "250";
            SetPoint(r, 2, p);
        }) << "T.json: \"ranges[0].points[2].nominal\": potrzebna liczba";
        QTest::newRow("the same point twice") << Change([](QJsonObject& r, QJsonObject&) {
            QJsonObject p = Point(r, 2);
            p["id"] = "100R";
            SetPoint(r, 2, p);
        }) << QString::fromUtf8("T.json: \"ranges[0].points[2].id\": punkt \"100R\" już jest");
        QTest::newRow("span backwards") << Change([](QJsonObject& r, QJsonObject&) {
            r["span"] = QJsonArray{400, 100};
        }) << "T.json: \"ranges[0].span\": koniec zakresu";
        QTest::newRow("zero samples")
            << Change([](QJsonObject& r, QJsonObject&) { r["samples"] = 0; })
            << "T.json: \"ranges[0].samples\": potrzebna liczba całkowita 1-1000";
        QTest::newRow("fractional samples")
            << Change([](QJsonObject& r, QJsonObject&) { r["samples"] = 2.5; })
            << "T.json: \"ranges[0].samples\": potrzebna liczba całkowita";
        QTest::newRow("negative resolution")
            << Change([](QJsonObject& r, QJsonObject&) { r["resolution"] = -0.01; })
            << "T.json: \"ranges[0].resolution\": potrzebna liczba dodatnia";
        QTest::newRow("two tolerances") << Change([](QJsonObject& r, QJsonObject&) {
            r["tolerance"] = QJsonObject{{"absolute", 0.1}, {"percentOfReading", 0.1}};
        }) << "T.json: \"ranges[0].tolerance\": potrzebny dokładnie jeden";
        QTest::newRow("unknown tolerance") << Change([](QJsonObject& r, QJsonObject&) {
            r["tolerance"] = QJsonObject{{"ppm", 5}};
        }) << "T.json: \"ranges[0].tolerance.ppm\": nieznany klucz";
        QTest::newRow("unknown rule")
            << Change([](QJsonObject& r, QJsonObject&) { r["decisionRule"] = "shared risk"; })
            << "T.json: \"ranges[0].decisionRule\": \"shared risk\" nieznana";
        QTest::newRow("stability without seconds") << Change([](QJsonObject& r, QJsonObject&) {
            r["stability"] = QJsonObject{{"band", 0.05}};
        }) << "T.json: \"ranges[0].stability.seconds\": brak klucza";
    }
    void badFiles() {
        QFETCH(Change, change);
        QFETCH(QString, message);
        Device d;
        try {
            ReadProcedure(Changed(change), "T.json", d.tree);
            QFAIL("accepted");
        } catch (const AppError& e) {
            QVERIFY2(e.message().startsWith(message), qPrintable(e.message()));
        }
    }

    void notJson() {
        Device d;
        QVERIFY_THROWS_EXCEPTION(AppError, ReadProcedure("[1, 2]", "T.json", d.tree));
        QVERIFY_THROWS_EXCEPTION(AppError, ReadProcedure("{\"title\": ", "T.json", d.tree));
        QVERIFY_THROWS_EXCEPTION(AppError, ReadProcedureFile("/nonexistent/T.json", d.tree));
    }

    void tolerance_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("reading");
        QTest::addColumn<double>("expected");
        QTest::newRow("absolute") << int(ToleranceRule::Kind::Absolute) << 0.1 << 400.0 << 0.1;
        QTest::newRow("of span 300")
            << int(ToleranceRule::Kind::PercentOfSpan) << 0.5 << 100.0 << 1.5;
        QTest::newRow("of reading")
            << int(ToleranceRule::Kind::PercentOfReading) << 0.25 << 400.0 << 1.0;
        QTest::newRow("of a negative reading")
            << int(ToleranceRule::Kind::PercentOfReading) << 0.25 << -400.0 << 1.0;
    }
    void tolerance() {
        QFETCH(int, kind);
        QFETCH(double, value);
        QFETCH(double, reading);
        QTEST(ToleranceAt({ToleranceRule::Kind(kind), value}, reading, 300), "expected");
    }
};

QTEST_GUILESS_MAIN(TestProcedure)
#include "tst_procedure.moc"
