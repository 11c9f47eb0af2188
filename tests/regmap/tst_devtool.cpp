#include "cli/devicejson.h"
#include "platform.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        err.replace("\r\n", "\n"); // a Windows console's line ends
        QCOMPARE(err, QByteArray("Unable to load tree structure, not enough data available.\n"));
        QVERIFY(out.isEmpty());
    }

    // A procedure is checked against NAME.dat beside it, or the device given; a bad one
    // names its key and fails.
    void checkProcedure() {
        QByteArray out, err;
        QCOMPARE(Run({"check-procedure", bin + "/TR100F.procedure.json"}, &out, &err), 0);
        QVERIFY2(out.contains("poprawna wobec TR100F.dat: zakresów 1, punktów 2"), out.constData());
        QCOMPARE(Run({"check-procedure", bin + "/TR100F.procedure.json", "--device", "TR100.dat"},
                     &out, &err),
                 1);
        // TR100 has a Temperatura but no R0 to sample
        QVERIFY2(err.contains("\"ranges[0].points[0].adjust.sample\": nie ma rejestru \"R0\""),
                 err.constData());
        QTemporaryDir dir;
        QFile f(dir.path() + "/X.procedure.json");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"title\": \"x\", \"ranges\": []}");
        f.close();
        QCOMPARE(
            Run({"check-procedure", f.fileName(), "--device", bin + "/TR100F.dat"}, &out, &err), 1);
        QVERIFY2(err.contains("\"ranges\": potrzebna niepusta lista"), err.constData());
    }

    void buildDefaults() {
        const QByteArray json =
            R"({"nodes":[{"name":"G","children":[{"name":"R","access":"RW"}]}]})";
        RegisterTree tree;
        TreeFromJson(json, tree);
        const TreeNode* g = tree.topLevel()[0];
        QCOMPARE(int(g->states),
                 NodeState::Initialized | NodeState::Visible | NodeState::HasChildren);
        const TreeNode* r = g->children()[0];
        QCOMPARE(int(r->states), NodeState::Initialized | NodeState::Visible);
        QCOMPARE(int(r->height), 18);
        QCOMPARE(r->record.Access, QStringLiteral("RW"));
        QCOMPARE(r->record.Value, QString());
    }

    // A tree as deep as the reader accepts, texts with lone surrogates and control
    // characters: dump and build give the same file back.
    void roundTripOfDeepTreesAndOddTexts() {
        RegisterTree tree;
        TreeNode* node = tree.appendTopLevel();
        node->record.Name = QString(QChar(0xD800)) + "a" + QChar(0xDC01) + "\r\n\"\\\x7F";
        node->record.Value = QString::fromUtf8("żółć 😀");
        for (int depth = 1; depth <= 999; ++depth) {
            node->states |= NodeState::HasChildren;
            node = node->appendChild();
            node->record.Name = QString::number(depth);
        }
        const QByteArray file = WriteDeviceFile(tree);
        RegisterTree read;
        ReadDeviceFile(file, read);
        QByteArray json;
        WriteTreeJson(read, 2,
                      [&](std::string_view piece) { json.append(piece.data(), piece.size()); });
        RegisterTree built;
        TreeFromJson(json, built);
        for (QString RegisterNode::*field : kRecordTexts)
            QCOMPARE(built.topLevel()[0]->record.*field, read.topLevel()[0]->record.*field);
        QCOMPARE(built.topLevel()[0]->record.Name, tree.topLevel()[0]->record.Name);
        QCOMPARE(WriteDeviceFile(built), file);
        QVERIFY(json.contains("\\ud800a\\udc01\\r\\n\\\"\\\\\\u007f"));
    }

    // A dump of 300,000 nodes streams its JSON in little memory; with too little memory it
    // says so and exits 1 instead of aborting.
    void bigDumpUnderAMemoryLimit_data() {
        QTest::addColumn<int>("limitKb");
        QTest::addColumn<int>("status");
        QTest::newRow("300 MB") << 300000 << 0;
        QTest::newRow("100 MB") << 100000 << 1;
    }
    void bigDumpUnderAMemoryLimit() {
        SKIP_ON_WINDOWS("ulimit -v");
        QFETCH(int, limitKb);
        QFETCH(int, status);
        QTemporaryDir dir;
        auto limited = [&](int kb, const QString& file, QByteArray* err) {
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            p.start("/bin/sh", {"-c", QString("ulimit -v %1 && exec \"$0\" dump \"$1\"").arg(kb),
                                bin + "/vardel-dev", file});
            p.waitForFinished(60000);
            *err = p.readAllStandardError();
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QByteArray err;
        if (limited(limitKb, bin + "/TR100.dat", &err) != 0)
            QSKIP("vardel-dev cannot start under a memory limit here (sanitizer build?)");
        RegisterTree tree;
        TreeNode* group = tree.appendTopLevel();
        group->states |= NodeState::HasChildren;
        for (int i = 0; i < 300000; ++i)
            group->appendChild();
        QFile big(dir.path() + "/big.dat");
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(WriteDeviceFile(tree));
        big.close();
        QCOMPARE(limited(limitKb, big.fileName(), &err), status);
        if (status) QVERIFY2(err.contains(QByteArray("za mało pamięci")), err.constData());
    }

    void buildRejectsBrokenJson_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not an object") << QByteArray("[1]");
        QTest::newRow("unterminated") << QByteArray("{\"nodes\":[{\"name\":\"G");
        QTest::newRow("text after") << QByteArray("{\"nodes\":[]} x");
        QTest::newRow("bad escape") << QByteArray("{\"nodes\":[{\"name\":\"\\q\"}]}");
        QTest::newRow("too deep") << QByteArray(5000, '[');
    }
    void buildRejectsBrokenJson() {
        QFETCH(QByteArray, json);
        RegisterTree tree;
        QVERIFY_THROWS_EXCEPTION(AppError, TreeFromJson(json, tree));
    }

    // A misspelt key or a text that is no text is refused with where it is, instead of
    // building an empty field that fails only when the register is read.
    void buildNamesTheBadKey_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        QTest::newRow("misspelt, nested")
            << QByteArray(R"({"nodes":[{"name":"G","children":[{"name":"A"},)"
                          R"({"name":"B","adress":"7"}]}]})")
            << QString::fromUtf8("nieznany klucz \"adress\" w nodes[0].children[1]");
        QTest::newRow("a number for a text")
            << QByteArray(R"({"nodes":[{"name":"A","address":7}]})")
            << QString::fromUtf8("\"address\" w nodes[0] musi być tekstem");
    }
    void buildNamesTheBadKey() {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        RegisterTree tree;
        try {
            TreeFromJson(json, tree);
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY2(e.message().startsWith(message), qPrintable(e.message()));
        }
    }

    void buildRejectsBadNumbers() {
        RegisterTree tree;
        const QByteArray json = R"({"nodes":[{"name":"G","checkKind":300}]})";
        QVERIFY_THROWS_EXCEPTION(AppError, TreeFromJson(json, tree));
    }
};

QTEST_GUILESS_MAIN(TestDevTool)
#include "tst_devtool.moc"
