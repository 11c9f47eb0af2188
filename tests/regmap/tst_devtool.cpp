#include "cli/devicejson.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

// vardel-dev as its users run it.
class TestDevTool : public QObject {
    Q_OBJECT
    QString bin = qEnvironmentVariable("VARDEL_BIN");

    int Run(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr) {
        QProcess p;
        p.start(bin + "/vardel-dev", args);
        if (!p.waitForFinished(20000)) return -1;
        if (out) *out = p.readAllStandardOutput();
        if (err) *err = p.readAllStandardError();
        return p.exitCode();
    }

private slots:
    void dumpThenBuildReproducesTheFile_data() {
        QTest::addColumn<QString>("device");
        QTest::newRow("general") << "TR100.dat";
        QTest::newRow("calibratable") << "TR100F.dat";
    }
    void dumpThenBuildReproducesTheFile() {
        QFETCH(QString, device);
        QTemporaryDir dir;
        QByteArray json;
        QCOMPARE(Run({"dump", bin + '/' + device}, &json), 0);
        const QJsonObject doc = QJsonDocument::fromJson(json).object();
        QCOMPARE(doc.value("version").toInt(), 2);
        const QJsonObject first = doc.value("nodes").toArray().first().toObject();
        QCOMPARE(first.keys().size(), 13);
        QFile jsonFile(dir.path() + "/d.json");
        QVERIFY(jsonFile.open(QIODevice::WriteOnly));
        jsonFile.write(json);
        jsonFile.close();
        QCOMPARE(Run({"build", jsonFile.fileName(), "-o", dir.path() + "/d.dat"}), 0);
        QFile original(bin + '/' + device), rebuilt(dir.path() + "/d.dat");
        QVERIFY(original.open(QIODevice::ReadOnly) && rebuilt.open(QIODevice::ReadOnly));
        QCOMPARE(rebuilt.readAll(), original.readAll());
    }

    void loadErrorGoesToStderr() {
        QTemporaryDir dir;
        QFile f(dir.path() + "/short.dat");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("E ");
        f.close();
        QByteArray out, err;
        QCOMPARE(Run({"dump", f.fileName()}, &out, &err), 1);
        QCOMPARE(err, QByteArray("Unable to load tree structure, not enough data available.\n"));
        QVERIFY(out.isEmpty());
    }

    void buildDefaults() {
        const QByteArray json =
            R"({"nodes":[{"name":"G","children":[{"name":"R","access":"RW"}]}]})";
        RegisterTree tree;
        TreeFromJson(QJsonDocument::fromJson(json).object(), tree);
        const TreeNode* g = tree.topLevel()[0];
        QCOMPARE(int(g->states),
                 NodeState::Initialized | NodeState::Visible | NodeState::HasChildren);
        const TreeNode* r = g->children()[0];
        QCOMPARE(int(r->states), NodeState::Initialized | NodeState::Visible);
        QCOMPARE(int(r->height), 18);
        QCOMPARE(r->record.Access(), QStringLiteral("RW"));
        QCOMPARE(r->record.Value(), QString());
    }

    void buildRejectsBadNumbers() {
        RegisterTree tree;
        const QByteArray json = R"({"nodes":[{"name":"G","checkKind":300}]})";
        QVERIFY_THROWS_EXCEPTION(AppError,
                                 TreeFromJson(QJsonDocument::fromJson(json).object(), tree));
    }
};

QTEST_GUILESS_MAIN(TestDevTool)
#include "tst_devtool.moc"
