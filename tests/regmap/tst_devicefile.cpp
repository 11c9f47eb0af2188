#include "platform.h"
#include "regmap/cp1250.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <algorithm>
#include <vector>

namespace {

// Little-endian byte assembly of device files, written from the layout by hand so the
// reader is never tested only against our own writer.
struct Bytes {
    QByteArray b;
    Bytes& u8(int v) {
        b.append(char(v));
        return *this;
    }
    Bytes& u16(int v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    Bytes& u32(quint32 v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& raw(const QByteArray& r) {
        b.append(r);
        return *this;
    }
};

QByteArray Header(int version, int word4 = 0x20) {
    return Bytes().u16(0x2045).u16(0x56).u16(0x54).u16(version).u16(word4).u16(0x2046).b;
}

QByteArray Chunk(qint32 type, const QByteArray& body, int sizeAdjust = 0) {
    return Bytes().u32(type).u32(body.size() + sizeAdjust).raw(body).b;
}

QByteArray Base2(quint32 children, int states, const QByteArray& childChunks = {},
                 int checkState = 0, int checkKind = 0) {
    QByteArray body =
        Bytes().u32(children).u32(18).u16(states).u8(0).u8(checkState).u8(checkKind).u32(0).b;
    return Chunk(2, body + childChunks);
}

QByteArray Base1(quint32 children, int states, const QByteArray& childChunks = {}) {
    return Chunk(2, Bytes().u32(children).u32(20).u8(states).u8(0).u8(0).u8(0).b + childChunks);
}

QByteArray Text06(const QByteArray& latin) {
    return Bytes().u8(0x06).u8(latin.size()).raw(latin).b;
}
QByteArray Empty12() {
    return Bytes().u8(0x12).u32(0).b;
}

// A record with the Name given and the other six texts empty.
QByteArray Record(const QByteArray& name) {
    QByteArray r = Text06(name);
    for (int i = 0; i < 6; ++i)
        r += Empty12();
    return r;
}

QByteArray Node2(const QByteArray& name, const QByteArray& childChunks = {}, quint32 children = 0,
                 int states = 0x81) {
    return Chunk(1, Base2(children, states, childChunks) + Chunk(4, Record(name)));
}

QString LoadError(const QByteArray& file, RegisterTree& tree) {
    try {
        ReadDeviceFile(file, tree);
    } catch (const AppError& e) {
        return e.message();
    }
    return {};
}

QStringList TopNames(const RegisterTree& tree) {
    QStringList names;
    for (const auto& n : tree.topLevel())
        names << n->record.Name;
    return names;
}

const char* const kNotEnough = "Unable to load tree structure, not enough data available.";
const char* const kReadError = "Stream read error";
const char* const kUnexpected = "Stream data corrupt. Unexpected data after node's end position.";

} // namespace

class TestDeviceFile : public QObject {
    Q_OBJECT
private slots:
    void loadErrors_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("nodesLeft");
        const QByteArray v2 = Header(2);
        QTest::newRow("empty file") << QByteArray() << kNotEnough << 0;
        QTest::newRow("11 header bytes") << Header(2).left(11) << kNotEnough << 0;
        QTest::newRow("bad word 0") << QByteArray(Header(2)).replace(0, 1, "\x46")
                                    << "Unable to load tree structure, the format is wrong." << 0;
        QTest::newRow("bad word 5") << QByteArray(Header(2)).replace(11, 1, "\x21")
                                    << "Unable to load tree structure, the format is wrong." << 0;
        QTest::newRow("version 3")
            << Header(3) << "Unable to load tree structure, the version is unknown." << 0;
        QTest::newRow("count cut short") << v2 + QByteArray("\x01\x00", 2) << kReadError << 0;
        QTest::newRow("anchor missing")
            << v2 + Bytes().u32(1).b + Chunk(2, QByteArray(17, 0))
            << "Stream data corrupt. A node's anchor chunk is missing." << 1;
        QTest::newRow("node size one short")
            << v2 + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81) + Chunk(4, Record("A")), -1)
            << kUnexpected << 1;
        QTest::newRow("negative node size")
            << v2 + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81), -100) << kUnexpected << 1;
        QTest::newRow("ends inside chunk header")
            << v2 + Bytes().u32(1).b + Bytes().u32(1).u16(0).b << kReadError << 1;
        QTest::newRow("ends inside base body")
            << v2 + Bytes().u32(1).b + Bytes().u32(1).u32(30).u32(2).u32(17).u32(0).b << kReadError
            << 1;
        QTest::newRow("record past end of file")
            << v2 + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81) + Chunk(4, Text06("Name")))
            << kReadError << 1;
        QTest::newRow("unknown tag")
            << v2 + Bytes().u32(1).b +
                   Chunk(1, Base2(0, 0x81) + Chunk(4, Text06("A") + Bytes().u8(0x07).b))
            << "Invalid property value" << 1;
        QTest::newRow("text length 2^31-1")
            << v2 + Bytes().u32(1).b +
                   Chunk(1, Base2(0, 0x81) + Chunk(4, Bytes().u8(0x0C).u32(0x7FFFFFFF).raw("ab").b))
            << kReadError << 1;
        QTest::newRow("utf16 length wraps")
            << v2 + Bytes().u32(1).b +
                   Chunk(1, Base2(0, 0x81) + Chunk(4, Bytes().u8(0x12).u32(0x7FFFFFFF).raw("ab").b))
            << kReadError << 1;
        QTest::newRow("child count 2^31 without children")
            << v2 + Bytes().u32(1).b + Chunk(1, Base2(0x80000000u, 0xC1)) << kReadError << 1;
        QTest::newRow("skipped chunk larger than the file")
            << v2 + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81) + Bytes().u32(9).u32(0x7FFFFFFF).b)
            << kReadError << 1;
        QTest::newRow("skipped chunk with negative size")
            << v2 + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81) + Bytes().u32(9).u32(-8).b)
            << kReadError << 1;
        QTest::newRow("user data size past the file") << v2 + Bytes().u32(1).b +
                                                             Bytes()
                                                                 .u32(1)
                                                                 .u32(0x7FFFFFF0)
                                                                 .raw(Base2(0, 0x81))
                                                                 .u32(4)
                                                                 .u32(0x7FFFFF00)
                                                                 .raw(Record("A"))
                                                                 .b
                                                      << kReadError << 1;
    }
    void loadErrors() {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QFETCH(int, nodesLeft);
        RegisterTree tree;
        tree.appendTopLevel()->record.Name = "old";
        QCOMPARE(LoadError(file, tree), message);
        QCOMPARE(int(tree.topLevel().size()), nodesLeft);
    }

    void headerWord4IsNotChecked() {
        RegisterTree tree;
        QCOMPARE(LoadError(Header(2, 0x1234) + Bytes().u32(1).b + Node2("A"), tree), QString());
        QCOMPARE(TopNames(tree), QStringList{"A"});
    }

    void countRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("names");
        const QByteArray three = Node2("A") + Node2("B") + Node2("C");
        QTest::newRow("count 0") << Header(2) + Bytes().u32(0).b + three << QStringList();
        QTest::newRow("count 5, three nodes")
            << Header(2) + Bytes().u32(5).b + three << QStringList{"A", "B", "C"};
        QTest::newRow("count 2, surplus ignored")
            << Header(2) + Bytes().u32(2).b + three << QStringList{"A", "B"};
        QTest::newRow("header only, v2 with count")
            << Header(2) + Bytes().u32(3).b << QStringList();
    }
    void countRules() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, names);
        RegisterTree tree;
        QCOMPARE(LoadError(file, tree), QString());
        QCOMPARE(TopNames(tree), names);
    }

    void oldVersionsWidenStates_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("fileStates");
        QTest::addColumn<int>("states");
        QTest::newRow("v1 bit 7 set: selected added, then dropped") << 1 << 0x81 << 0x81;
        QTest::newRow("v1 bit 7 clear: visible added") << 1 << 0x41 << 0xC1;
        QTest::newRow("v0") << 0 << 0x21 << 0xA1;
    }
    void oldVersionsWidenStates() {
        QFETCH(int, version);
        QFETCH(int, fileStates);
        QFETCH(int, states);
        const QByteArray node = Chunk(1, Base1(0, fileStates) + Chunk(4, Record("A")));
        RegisterTree tree;
        QCOMPARE(LoadError(Header(version) + node + node, tree), QString());
        QCOMPARE(int(tree.topLevel().size()), 2); // no count: read to the end of the file
        QCOMPARE(int(tree.topLevel()[0]->states), states);
        QCOMPARE(int(tree.topLevel()[0]->height), 20);
    }

    void selectedDroppedInVersion2() {
        RegisterTree tree;
        QCOMPARE(LoadError(Header(2) + Bytes().u32(1).b + Node2("A", {}, 0, 0x1A1), tree),
                 QString());
        QCOMPARE(int(tree.topLevel()[0]->states), 0xA1);
    }

    void subChunks() {
        // An unknown sub-chunk, a caption, and user data 10 bytes larger than its texts.
        const QByteArray node = Chunk(1, Base2(0, 0x81, {}, 2, 3) + Chunk(9, QByteArray(6, 'x')) +
                                             Chunk(4, Record("A") + QByteArray(10, '\xEE')) +
                                             Chunk(3, QByteArray("Z\0Z\0Z", 5)));
        RegisterTree tree;
        QCOMPARE(LoadError(Header(2) + Bytes().u32(1).b + node, tree), QString());
        const TreeNode& n = *tree.topLevel()[0];
        QCOMPARE(n.record.Name, QStringLiteral("A")); // the caption is not the Name
        QCOMPARE(int(n.checkState), 2);
        QCOMPARE(int(n.checkKind), 3);
    }

    void taggedTexts() {
        const QByteArray record = Bytes()
                                      .raw(Text06("\xB9"))
                                      .u8(0x0C)
                                      .u32(3)
                                      .raw("abc")
                                      .u8(0x12)
                                      .u32(2)
                                      .u16(0x0105)
                                      .u16(0x0107)
                                      .u8(0x14)
                                      .u32(3)
                                      .raw("\xC5\x9B"
                                           "x")
                                      .raw(Text06("RW"))
                                      .u8(0x0C)
                                      .u32(-5) // a negative length is an empty text
                                      .raw(Empty12())
                                      .b;
        RegisterTree tree;
        QCOMPARE(
            LoadError(Header(2) + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81) + Chunk(4, record)),
                      tree),
            QString());
        const RegisterNode& r = tree.topLevel()[0]->record;
        QCOMPARE(r.Name, QString(QChar(0x0105)));
        QCOMPARE(r.Note, QStringLiteral("abc"));
        QCOMPARE(r.Address, QString::fromUtf8("ąć"));
        QCOMPARE(r.Type, QString::fromUtf8("śx"));
        QCOMPARE(r.Count, QStringLiteral("RW"));
        QCOMPARE(r.Access, QString());
        QCOMPARE(r.Value, QString());
    }

    void childrenAndHasChildrenFlag() {
        const QByteArray kids = Node2("c1") + Node2("c2");
        QByteArray file = Header(2) + Bytes().u32(2).b + Node2("P", kids, 2, 0x81) +
                          Node2("Q", Node2("q1"), 1, 0xC1);
        RegisterTree tree;
        QCOMPARE(LoadError(file, tree), QString());
        const TreeNode* p = tree.topLevel()[0];
        QCOMPARE(int(p->children().size()), 2);
        QCOMPARE(p->children()[1]->record.Name, QStringLiteral("c2"));
        QVERIFY(RegisterTree::FirstChild(p) == nullptr);
        const TreeNode* q = tree.topLevel()[1];
        QCOMPARE(RegisterTree::FirstChild(q)->record.Name, QStringLiteral("q1"));
        QCOMPARE(tree.FindNodeByName("q1"), q->children()[0]);
    }

    // A loaded node's children sit in an array sized for the file; appending more moves them
    // to a growing array and keeps order, rows and parents.
    void loadedTreeGrows() {
        const QByteArray kids = Node2("c1") + Node2("c2");
        RegisterTree tree;
        QCOMPARE(LoadError(Header(2) + Bytes().u32(1).b + Node2("P", kids, 2, 0xC1), tree),
                 QString());
        TreeNode* p = tree.topLevel()[0];
        for (int i = 3; i <= 40; ++i)
            p->appendChild()->record.Name = QStringLiteral("c%1").arg(i);
        QCOMPARE(int(p->children().size()), 40);
        for (int i = 0; i < 40; ++i) {
            const TreeNode* c = p->children()[i];
            QCOMPARE(c->record.Name, QStringLiteral("c%1").arg(i + 1));
            QCOMPARE(c->row(), i);
            QCOMPARE(c->parent(), p);
        }
        p->children()[0]->record.Value = "5"; // a loaded record takes a new text
        QCOMPARE(p->children()[0]->record.Value, QStringLiteral("5"));
        QCOMPARE(p->children()[0]->record.Name, QStringLiteral("c1"));
        QCOMPARE(p->children()[1]->record.Name, QStringLiteral("c2"));
    }

    // Nodes stay where they are while the tree grows: other modules keep pointers to them.
    void nodesDoNotMove() {
        RegisterTree tree;
        std::vector<TreeNode*> nodes;
        for (int i = 0; i < 5000; ++i) {
            nodes.push_back(tree.appendTopLevel());
            nodes.back()->record.Name = QString::number(i);
        }
        for (int i = 0; i < 5000; i += 499) {
            QCOMPARE(tree.topLevel()[i], nodes[i]);
            QCOMPARE(nodes[i]->record.Name, QString::number(i));
        }
        tree.clear();
        QVERIFY(tree.isEmpty());
        QCOMPARE(tree.appendTopLevel()->row(), 0);
    }

    // A record cut off by the end of the file keeps the texts read before the cut.
    void recordCutShortKeepsItsFirstTexts() {
        const QByteArray record = Text06("Temp") + Empty12() + Text06("$10") + Bytes().u8(0x06).b;
        RegisterTree tree;
        QCOMPARE(
            LoadError(Header(2) + Bytes().u32(1).b + Chunk(1, Base2(0, 0x81) + Chunk(4, record)),
                      tree),
            QString(kReadError));
        const RegisterNode& r = tree.topLevel()[0]->record;
        QCOMPARE(r.Name, QStringLiteral("Temp"));
        QCOMPARE(r.Address, QStringLiteral("$10"));
        QVERIFY(r.Type.isEmpty() && r.Value.isEmpty());
    }

    void nestingIsBounded() {
        // 100,000 levels deep: fails at the depth bound, without exhausting the stack.
        const int depth = 100000;
        QByteArray inner;
        QByteArray file = Header(2) + Bytes().u32(1).b;
        for (int i = 0; i < depth; ++i)
            file += Bytes()
                        .u32(1)
                        .u32(0x7FFFFFFF)
                        .u32(2)
                        .u32(0x7FFFFFFF)
                        .u32(1)
                        .u32(18)
                        .u16(0xC1)
                        .u8(0)
                        .u8(0)
                        .u8(0)
                        .u32(0)
                        .b;
        RegisterTree tree;
        QVERIFY(LoadError(file, tree).contains(QLatin1String("1000")));
    }

    void deepButAllowed() {
        QByteArray node = Node2("leaf");
        for (int i = 0; i < 999; ++i)
            node = Node2("n", node, 1, 0xC1);
        RegisterTree tree;
        QCOMPARE(LoadError(Header(2) + Bytes().u32(1).b + node, tree), QString());
        QCOMPARE(tree.FindNodeByName("leaf")->depth(), 999);
    }

    // A pipe or a device named *.dat fails at once instead of blocking or filling memory.
    void onlyRegularFilesAreRead_data() {
        QTest::addColumn<QStringList>("make");
        QTest::newRow("pipe") << QStringList{"mkfifo"};
        QTest::newRow("link to /dev/zero") << QStringList{"ln", "-s", "/dev/zero"};
    }
    void onlyRegularFilesAreRead() {
        SKIP_ON_WINDOWS("mkfifo and ln -s");
        QFETCH(QStringList, make);
        QTemporaryDir dir;
        const QString path = dir.path() + "/special.dat";
        QCOMPARE(QProcess::execute(make[0], make.mid(1) << path), 0);
        RegisterTree tree;
        QElapsedTimer clock;
        clock.start();
        try {
            LoadDeviceFile(path, tree);
            QFAIL("no error");
        } catch (const AppError& e) {
            QCOMPARE(
                e.message(),
                QString::fromUtf8("Cannot open file \"%1\". nie jest zwykłym plikiem").arg(path));
        }
        QVERIFY(clock.elapsed() < 1000);
    }

    void openErrors() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("x.dat"));
        for (const QString& name : {QStringLiteral("x.dat"), QStringLiteral("missing.dat")}) {
            RegisterTree tree;
            tree.appendTopLevel()->record.Name = "old";
            const QString path = dir.path() + '/' + name;
            try {
                LoadDeviceFile(path, tree);
                QFAIL("no error");
            } catch (const AppError& e) {
                QVERIFY2(
                    e.message().startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(path)),
                    qPrintable(e.message()));
                QVERIFY(e.message().size() > path.size() + 20); // the system's reason follows
            }
            QCOMPARE(TopNames(tree), QStringList{"old"});
        }
    }

    // A file that opens but cannot be read: the kernel refuses reads of this one.
    void unreadableFile() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/mem.dat";
        QVERIFY(QFile::link("/proc/self/mem", path));
        RegisterTree tree;
        tree.appendTopLevel()->record.Name = "old";
        QVERIFY_THROWS_EXCEPTION(AppError, LoadDeviceFile(path, tree));
        QVERIFY(tree.isEmpty() || tree.topLevel()[0]->record.Name == "old");
    }

    void listDeviceFiles() {
        QTemporaryDir dir;
        for (const char* name : {"a.dat", "B.DAT", ".hidden.dat", "other.txt", "a.dat.bak"}) {
            QFile f(dir.path() + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir("x.dat"));
        QStringList names = ListDeviceFiles(dir.path());
        names.sort();
        QCOMPARE(names, (QStringList{".hidden.dat", "B.DAT", "a.dat", "x.dat"}));
    }

    void saveNodeTags_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<int>("bytes");
        QTest::newRow("empty") << QString() << QByteArray::fromHex("1200000000") << 5;
        QTest::newRow("RW") << "RW" << QByteArray::fromHex("06025257") << 4;
        QTest::newRow("255 ASCII") << QString(255, 'a') << QByteArray::fromHex("06ff") << 257;
        QTest::newRow("300 ASCII") << QString(300, 'a') << QByteArray::fromHex("0c2c010000") << 305;
        QTest::newRow("Wartość as UTF-8")
            << QString::fromUtf8("Wartość") << QByteArray::fromHex("1409000000") << 14;
        QTest::newRow("two Polish letters as UTF-16")
            << QString::fromUtf8("ąę") << QByteArray::fromHex("1202000000050119") << 9;
    }
    void saveNodeTags() {
        QFETCH(QString, text);
        QFETCH(QByteArray, prefix);
        QFETCH(int, bytes);
        RegisterNode r;
        r.Name = text;
        const QByteArray saved = VTSaveNode(r);
        QCOMPARE(saved.size(), bytes + 6 * 5);
        QVERIFY(saved.startsWith(prefix));
        QCOMPARE(saved.mid(bytes), QByteArray::fromHex("1200000000").repeated(6));
    }

    void writerLayout() {
        RegisterTree tree;
        TreeNode* node = tree.appendTopLevel();
        node->record.Name = "A";
        node->states = 0x81 | 0x2 | 0x10 | 0x2000; // transient bits are not stored
        node->height = 20;
        node->checkKind = 3;
        const QByteArray record = Record("A");
        const QByteArray expected =
            Header(2) + Bytes().u32(1).b +
            Chunk(1, Chunk(2, Bytes().u32(0).u32(20).u16(0x81).u8(0).u8(0).u8(3).u32(0).b) +
                         Chunk(4, record) + Chunk(3, Bytes().u16('A').b));
        QCOMPARE(WriteDeviceFile(tree).toHex(), expected.toHex());
    }

    void writerNestsChildrenAndReadsBack() {
        RegisterTree tree;
        TreeNode* p = tree.appendTopLevel();
        p->record = {"Grupa", "uwaga", "", "", "", "", ""};
        p->states = 0xC1;
        TreeNode* c = p->appendChild();
        c->record = {"Wartość", "", "$10", "REAL", "2", "RW", "1,5"};
        c->states = 0x81;
        RegisterTree back;
        QCOMPARE(ReadDeviceFile(WriteDeviceFile(tree), back), 2);
        QCOMPARE(back.topLevel()[0]->record.Note, QStringLiteral("uwaga"));
        const TreeNode* child = RegisterTree::FirstChild(back.topLevel()[0]);
        QVERIFY(child);
        QCOMPARE(child->record.Name, QString::fromUtf8("Wartość"));
        QCOMPARE(child->record.Value, QStringLiteral("1,5"));
    }

    // Every tag and size of text reads back as written: long texts, UTF-8 and UTF-16 texts,
    // and records among empty ones.
    void textsOfEverySizeReadBack_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("short 8-bit") << "RW";
        QTest::newRow("300 characters, 32-bit length") << QString(300, 'x');
        QTest::newRow("5000 characters") << QString(5000, 'y');
        QTest::newRow("UTF-8") << QString::fromUtf8("Wartość zadana");
        QTest::newRow("UTF-16") << QString::fromUtf8("ąę");
        QTest::newRow("UTF-8, 3000 characters") << QString::fromUtf8("ź").repeated(3000);
    }
    void textsOfEverySizeReadBack() {
        QFETCH(QString, text);
        RegisterTree tree;
        tree.appendTopLevel()->record = {text, "", "1", "", "", "", text};
        tree.appendTopLevel()->record = {"", "", "", "", "", "", ""};
        tree.appendTopLevel()->record = {"b", text, "", "", "", "", "c"};
        RegisterTree back;
        QCOMPARE(ReadDeviceFile(WriteDeviceFile(tree), back), 2);
        QCOMPARE(int(back.topLevel().size()), 3);
        for (int n = 0; n < 3; ++n)
            for (QString RegisterNode::*field : kRecordTexts)
                QCOMPARE(back.topLevel()[n]->record.*field, tree.topLevel()[n]->record.*field);
    }

    // Short 8-bit texts of any length, with a byte outside ASCII anywhere, and a text that
    // ends exactly at the end of the file.
    void shortWindows1250Texts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("1") << QByteArray("a");
        QTest::newRow("15") << QByteArray(15, 'b');
        QTest::newRow("16") << QByteArray(16, 'c');
        QTest::newRow("17") << QByteArray(17, 'd');
        QTest::newRow("16, last byte high") << QByteArray(15, 'e') + "\xB9";
        QTest::newRow("16, first byte high") << "\x80" + QByteArray(15, 'f');
        QTest::newRow("3, middle byte high") << QByteArray("g\x9Fh");
        QTest::newRow("200, mixed") << QByteArray("ab\xE6").repeated(66) + "zz";
    }
    void shortWindows1250Texts() {
        QFETCH(QByteArray, text);
        QString expected;
        for (char c : text)
            expected += Cp1250ToChar(static_cast<unsigned char>(c));
        QByteArray record = Text06(text) + Empty12() + Text06(text);
        for (int i = 0; i < 3; ++i)
            record += Empty12();
        record += Text06(text); // the file's last bytes
        const QByteArray node = Chunk(1, Base2(0, 0x81) + Chunk(4, record));
        RegisterTree tree;
        QCOMPARE(LoadError(Header(2) + Bytes().u32(2).b + node + node, tree), QString());
        QCOMPARE(int(tree.topLevel().size()), 2);
        for (const TreeNode* n : tree.topLevel()) {
            QCOMPARE(n->record.Name, expected);
            QCOMPARE(n->record.Note, QString());
            QCOMPARE(n->record.Address, expected);
            QCOMPARE(n->record.Value, expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestDeviceFile)
#include "tst_devicefile.moc"
