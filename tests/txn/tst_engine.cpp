#include "fakes.h"
#include "regmap/error.h"
#include <QtTest>

namespace {

TreeNode* Add(TreeNode* parent, RegisterTree& tree, const QString& name, const QString& address,
              const QString& type = "WORD", const QString& count = "1",
              const QString& access = "RW", const QString& value = "") {
    TreeNode* node = parent ? parent->appendChild() : tree.appendTopLevel();
    if (parent) parent->states |= NodeState::HasChildren;
    node->record = {name, "", address, type, count, access, value};
    return node;
}

// A tree with a group "G" of three registers at 10, 11, 12 and a lone register "S" at 20.
struct Rig {
    RegisterTree tree;
    ScriptedLink link;
    RecordingFrontend ui;
    TransactionEngine engine{tree, link, ui};
    TreeNode* group;
    TreeNode* regs[3];
    TreeNode* single;
    QSet<int> silent, exceptions, badCrc;

    Rig() {
        group = Add(nullptr, tree, "G", "", "", "", "");
        for (int i = 0; i < 3; ++i)
            regs[i] = Add(group, tree, QString("R%1").arg(i), QString::number(10 + i));
        single = Add(nullptr, tree, "S", "20", "INT", "1", "RO");
        link.script = [this](const QByteArray& request) -> QByteArray {
            const int address = AddressOf(request);
            if (silent.contains(address)) return {};
            if (exceptions.contains(address))
                return WithCrc(QByteArray(request.left(1)) + char(request[1] | 0x80) + char(2));
            const int quantity = (quint8(request[4]) << 8) | quint8(request[5]);
            QList<quint16> words(std::max(quantity, 1), 0);
            words[0] = quint16(address * 100);
            QByteArray reply = Answer(request, words);
            if (badCrc.contains(address)) reply[reply.size() - 1] ^= 1;
            return reply;
        };
    }
    QList<int> addresses() const {
        QList<int> list;
        for (const QByteArray& r : link.requests)
            list << AddressOf(r);
        return list;
    }
};

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void walkOfThreeRegisters() {
        Rig rig;
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 12}));
        QCOMPARE(rig.ui.log, (QStringList{"10   R0         1000", "11   R1         1100",
                                          "12   R2         1200"}));
        QVERIFY(!rig.engine.Walking());
        QVERIFY(rig.engine.CurrentNode() == nullptr);
        QCOMPARE(rig.engine.CurrentRecord(), &rig.regs[2]->record);
        QCOMPARE(rig.regs[1]->record.Value, QStringLiteral("1100"));
        QCOMPARE(rig.ui.repaintStarts, 3);
        QVERIFY(!rig.engine.Busy());
    }

    void emptyGroupSendsNothing() {
        Rig rig;
        TreeNode* empty = Add(nullptr, rig.tree, "E", "", "", "", "");
        rig.engine.SetCurrentNode(rig.single);
        rig.engine.ReadFromNode(empty);
        QVERIFY(rig.link.requests.isEmpty());
        QVERIFY(rig.engine.CurrentNode() == nullptr);
        QVERIFY(!rig.engine.Walking());
    }

    void silentRegister() {
        Rig rig;
        rig.silent << 20;
        rig.single->record.Value = "7";
        rig.engine.ReadFromNode(rig.single);
        QCOMPARE(rig.single->record.Value, QString());
        QCOMPARE(rig.ui.rx, QString());
        QCOMPARE(
            rig.ui.tx,
            HexText(reinterpret_cast<const std::uint8_t*>(rig.link.requests[0].constData()), 8));
        QVERIFY(rig.ui.tx.startsWith("$F7040014"));
        QVERIFY(rig.ui.log.isEmpty());
        QVERIFY(rig.ui.messages.isEmpty());
        QCOMPARE(rig.engine.PendingLines(), QStringList{"20   S"});
    }

    // A register that does not answer is asked once more, then logged as failed, and the
    // walk goes on; its end counts what it could not read, and nothing is current afterwards.
    void silentRegisterIsTriedTwiceThenPassed() {
        Rig rig;
        rig.silent << 11;
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 11, 12}));
        QCOMPARE(rig.ui.log,
                 (QStringList{"10   R0         1000", "11   R1         -- brak odpowiedzi",
                              "12   R2         1200", "Nieodczytanych: 1 z 3"}));
        QVERIFY(!rig.engine.Walking());
        QVERIFY(rig.engine.CurrentNode() == nullptr);
        QCOMPARE(rig.engine.LastWalkNotRead(), 1);
        rig.engine.ReadFromNode(rig.single); // reads what it names, and walks no more
        QCOMPARE(rig.addresses().last(), 20);
        QCOMPARE(rig.link.requests.size(), 5);
    }

    // An exception is final at once; a damaged reply gets its second try.
    void failingRegisterIsPassedBy_data() {
        QTest::addColumn<bool>("crc");
        QTest::addColumn<int>("tries");
        QTest::addColumn<QString>("line");
        QTest::newRow("exception")
            << false << 1 << QString::fromUtf8("11   R1         -- wyjątek 2");
        QTest::newRow("bad CRC") << true << 2 << QString::fromUtf8("11   R1         -- błędne CRC");
    }
    void failingRegisterIsPassedBy() {
        QFETCH(bool, crc);
        QFETCH(int, tries);
        QFETCH(QString, line);
        Rig rig;
        (crc ? rig.badCrc : rig.exceptions) << 11;
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses().count(11), tries);
        QCOMPARE(rig.addresses().last(), 12);
        QCOMPARE(rig.ui.log[1], line);
        QCOMPARE(rig.regs[1]->record.Value, QString());
        QVERIFY(!rig.engine.Walking());
    }

    // Ten registers in a row that cannot be read end the walk, with a line that counts those
    // not read; the operator can stop it meanwhile.
    void tenFailedRegistersInARowEndTheWalk() {
        RegisterTree tree;
        ScriptedLink link;
        RecordingFrontend ui;
        TransactionEngine engine(tree, link, ui);
        TreeNode* group = Add(nullptr, tree, "G", "", "", "", "");
        for (int i = 0; i < 15; ++i)
            Add(group, tree, QString("R%1").arg(i), QString::number(i));
        link.script = [](const QByteArray& request) {
            return AddressOf(request) == 0 ? Answer(request, {5}) : QByteArray();
        };
        int eventRuns = 0;
        ui.events = [&] { ++eventRuns; };
        engine.ReadFromNode(group);
        QCOMPARE(link.requests.size(), 1 + 2 * kWalkRetryLimit);
        QCOMPARE(ui.log.size(), 1 + kWalkRetryLimit + 2);
        QCOMPARE(ui.log[ui.log.size() - 2], QString::fromUtf8("Przerwano: 10 błędów z rzędu"));
        QCOMPARE(ui.log.last(), QStringLiteral("Nieodczytanych: 14 z 15"));
        QVERIFY(!engine.Walking());
        QVERIFY(eventRuns >= 2 * kWalkRetryLimit - 1); // the operator is never locked out
    }

    // A group's sub-groups are read in tree order; options and byte groups are not registers.
    void walkReadsSubGroupsInTreeOrder() {
        Rig rig;
        TreeNode* sub = Add(rig.group, rig.tree, "Sub", "", "", "", "");
        Add(sub, rig.tree, "S0", "30");
        TreeNode* hex = Add(sub, rig.tree, "H", "31", "HEX");
        Add(hex, rig.tree, "option", "", "BIT", "", "", "1");
        TreeNode* bytes = Add(hex, rig.tree, "byte group", "", "", "", "");
        Add(bytes, rig.tree, "b", "", "BIT", "", "", "2");
        Add(rig.group, rig.tree, "Empty", "", "", "", "");
        Add(rig.group, rig.tree, "R3", "13");
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 12, 30, 31, 13}));
        QVERIFY(rig.ui.messages.isEmpty());
        QVERIFY(!rig.engine.Walking());
    }

    // A register whose text does not convert ends the walk at once, and clears it.
    void anErrorEndsTheWalk() {
        Rig rig;
        rig.regs[1]->record.Address = "zły";
        QVERIFY_THROWS_EXCEPTION(AppError, rig.engine.ReadFromNode(rig.group));
        QCOMPARE(rig.addresses(), QList<int>{10});
        QVERIFY(!rig.engine.Walking());
        QCOMPARE(rig.ui.log.mid(1),
                 (QStringList{QString::fromUtf8("Przerwano: błąd"), "Nieodczytanych: 2 z 3"}));
        QVERIFY(!rig.engine.Busy());
    }

    void malformedReplyIsReadAgain() {
        Rig rig;
        int calls = 0;
        rig.link.script = [&](const QByteArray& request) {
            // First a valid CRC around a byte count that claims more than arrived.
            if (AddressOf(request) == 11 && calls++ == 0)
                return WithCrc(QByteArray::fromHex("F70308"));
            return Answer(request, {7});
        };
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 11, 12}));
        QCOMPARE(rig.ui.log.size(), 3);
    }

    // Each request that went out ends in exactly one outcome, and every failure warns the
    // link that a late reply may still come.
    void outcomes_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("lateReplyExpected");
        const QByteArray valid = WithCrc(QByteArray::fromHex("F70402002A"));
        QByteArray badCrc = valid;
        badCrc[badCrc.size() - 1] ^= 1;
        QTest::newRow("valid") << valid << int(ReplyOutcome::Valid) << false;
        QTest::newRow("exception")
            << WithCrc(QByteArray::fromHex("F78402")) << int(ReplyOutcome::Exception) << false;
        QTest::newRow("bad CRC") << badCrc << int(ReplyOutcome::BadCrc) << true;
        QTest::newRow("another slave's reply")
            << WithCrc(QByteArray::fromHex("010402002A")) << int(ReplyOutcome::Mismatch) << true;
        QTest::newRow("no reply") << QByteArray() << int(ReplyOutcome::NoReply) << true;
    }
    void outcomes() {
        QFETCH(QByteArray, reply);
        QFETCH(int, outcome);
        QFETCH(bool, lateReplyExpected);
        Rig rig;
        rig.link.script = [&](const QByteArray&) { return reply; };
        rig.engine.ReadFromNode(rig.single);
        QCOMPARE(rig.ui.outcomes, QList<ReplyOutcome>{ReplyOutcome(outcome)});
        QCOMPARE(rig.link.lateReplies, lateReplyExpected ? 1 : 0);
        QCOMPARE(rig.ui.log.size(), outcome == int(ReplyOutcome::Valid) ? 1 : 0);
    }

    // A reply that does not answer its request is handled as a damaged one: shown, never
    // decoded, stored or logged, and the walk asks for the same register again.
    void replyForAnotherRequestIsNotTaken_data() {
        QTest::addColumn<QByteArray>("stray");
        QTest::newRow("the reply to a 2-register read")
            << WithCrc(QByteArray::fromHex("F7030400010002"));
        QTest::newRow("another function") << WithCrc(QByteArray::fromHex("F704020007"));
        QTest::newRow("another slave") << WithCrc(QByteArray::fromHex("0103020007"));
        QTest::newRow("a write echo") << WithCrc(QByteArray::fromHex("F706000B0007"));
    }
    void replyForAnotherRequestIsNotTaken() {
        QFETCH(QByteArray, stray);
        Rig rig;
        int calls = 0;
        rig.link.script = [&](const QByteArray& request) {
            if (AddressOf(request) == 11 && calls++ == 0) return stray;
            return Answer(request, {7});
        };
        rig.regs[1]->record.Value = "old";
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 11, 12}));
        QCOMPARE(rig.ui.log,
                 (QStringList{"10   R0         7", "11   R1         7", "12   R2         7"}));
        QCOMPARE(rig.ui.outcomes.count(ReplyOutcome::Mismatch), 1);
    }

    // A write whose echo does not fit is no success: nothing logged, the outcome says so.
    void writeEchoMustFit_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("other value") << WithCrc(QByteArray::fromHex("F706000A04D3"));
        QTest::newRow("other address") << WithCrc(QByteArray::fromHex("F706000B04D2"));
        QTest::newRow("4 bytes") << QByteArray::fromHex("F706C782");
        QTest::newRow("5 bytes") << WithCrc(QByteArray::fromHex("F70600"));
        QTest::newRow("a read reply") << WithCrc(QByteArray::fromHex("F703020000"));
    }
    void writeEchoMustFit() {
        QFETCH(QByteArray, answer);
        Rig rig;
        rig.link.script = [&](const QByteArray&) { return answer; };
        rig.regs[0]->record.Value = "1234";
        rig.engine.WriteRegister(rig.regs[0]);
        QCOMPARE(rig.link.requests.size(), 1);
        QVERIFY(rig.ui.log.isEmpty());
        QVERIFY(!rig.engine.LastReplyOk());
        QCOMPARE(rig.ui.outcomes.size(), 1);
        QVERIFY(rig.ui.outcomes[0] != ReplyOutcome::Valid);
    }

    void readAndWriteLines() {
        Rig rig;
        rig.engine.ReadFromNode(rig.regs[0]);
        rig.regs[0]->record.Value = "42";
        rig.engine.WriteCurrent();
        QCOMPARE(rig.ui.log, (QStringList{"10   R0         1000", "10   R0:        42"}));
        QCOMPARE(int(quint8(rig.link.requests[1][1])), 6);
        QCOMPARE(rig.regs[0]->record.Value, QStringLiteral("42"));
    }

    void countChoosesTheWriteFunction_data() {
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("function");
        QTest::newRow("1") << "1" << 6;
        QTest::newRow("$01") << "$01" << 6;
        QTest::newRow("2") << "2" << 16;
    }
    void countChoosesTheWriteFunction() {
        QFETCH(QString, count);
        QFETCH(int, function);
        Rig rig;
        rig.regs[0]->record.Count = count;
        rig.regs[0]->record.Value = "5";
        rig.engine.WriteRegister(rig.regs[0]);
        QCOMPARE(int(quint8(rig.link.requests[0][1])), function);
        QCOMPARE(rig.ui.log.last(), QStringLiteral("10   R0:        5"));
    }

    void writeCurrentOfReadOnlyAndGroup() {
        Rig rig;
        rig.engine.SetCurrentNode(rig.single);
        rig.engine.WriteCurrent();
        rig.engine.SetCurrentNode(rig.group);
        rig.engine.WriteCurrent();
        rig.engine.SetCurrentNode(nullptr);
        rig.engine.WriteCurrent();
        QVERIFY(rig.link.requests.isEmpty());
        QVERIFY(rig.ui.messages.isEmpty());
    }

    void closedPortRefuses() {
        Rig rig;
        rig.link.open = false;
        rig.single->record.Value = "3";
        rig.engine.ReadRegister(rig.single);
        QCOMPARE(rig.ui.messages, QStringList{QString::fromUtf8("brak połączenia !")});
        QCOMPARE(rig.single->record.Value, QString());
        QVERIFY(rig.link.requests.isEmpty());
        QCOMPARE(rig.ui.tx, QStringLiteral("-"));
    }

    // A write, single or multiple, writes its one register: an edit accepted while a walk
    // lets events run never moves the walk on, nor writes the registers after it.
    void writeNeverMovesAWalk_data() {
        QTest::addColumn<QString>("count");
        QTest::newRow("function 6") << "1";
        QTest::newRow("function 16") << "2";
    }
    void writeNeverMovesAWalk() {
        QFETCH(QString, count);
        Rig rig;
        for (TreeNode* r : rig.regs)
            r->record.Value = "1";
        rig.regs[2]->record.Count = count;
        bool written = false;
        rig.ui.events = [&] {
            if (written) return;
            written = true;
            rig.engine.WriteRegister(rig.regs[2]);
        };
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 12, 11, 12}));
        QCOMPARE(int(rig.link.requests[1][1]), count == "1" ? 6 : 16);
        for (int i : {0, 2, 3})
            QCOMPARE(int(rig.link.requests[i][1]), 3);
        QVERIFY(!rig.engine.Walking());
    }

    // Every outcome carries the reply's bytes as they came, CRC included; none for silence.
    void outcomeCarriesTheReply() {
        Rig rig;
        rig.engine.ReadRegister(rig.single);
        QCOMPARE(rig.engine.LastOutcome().kind, ReplyOutcome::Valid);
        QCOMPARE(rig.engine.LastOutcome().reply, rig.link.script(rig.link.requests.last()));
        QCOMPARE(rig.engine.LastOutcome().function, std::uint8_t(4));
        rig.exceptions << 20;
        rig.engine.ReadRegister(rig.single);
        QCOMPARE(rig.engine.LastOutcome().reply.toHex(), QByteArray("f7840222f3"));
        rig.silent << 20;
        rig.engine.ReadRegister(rig.single);
        QVERIFY(rig.engine.LastOutcome().reply.isEmpty());
        QCOMPARE(rig.engine.LastOutcome().kind, ReplyOutcome::NoReply);
    }

    // A diagnostic sent while a walk waits in its events leaves the walk where it was: it
    // reads on from its register to the group's end.
    void diagnosticsNeverMoveAWalk() {
        Rig rig;
        int sent = 0;
        rig.ui.events = [&] {
            if (sent++ > 0) return;
            const TreeNode* before = rig.engine.CurrentNode();
            rig.engine.SendDiagnostic("", "$0001", "$FF00");
            QVERIFY(rig.engine.Walking());
            QCOMPARE(rig.engine.CurrentNode(), before);
            rig.ui.slave = "0"; // a broadcast sends nothing
            rig.engine.SendDiagnostic("", "$0001", "$FF00");
            rig.ui.slave = "247";
        };
        rig.engine.ReadFromNode(rig.group);
        QVERIFY(sent > 0);
        QStringList diagnostics;
        QList<int> read;
        for (const QByteArray& request : rig.link.requests)
            if (request[1] == 8)
                diagnostics << QString::fromLatin1(request.toHex());
            else
                read << AddressOf(request);
        QCOMPARE(diagnostics, QStringList{"f7080001ff00e4ad"});
        QCOMPARE(read, (QList<int>{10, 11, 12}));
        QVERIFY(rig.ui.log.contains(QString())); // the emptied texts make an empty line
    }

    // Control characters from a reply or from the device file cannot forge a log line.
    void controlCharactersShowAsQuestionMarks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("monitor");
        QTest::addColumn<QString>("line");
        QTest::newRow("a reply with CR LF")
            << "T" << QByteArray("ok\r\n300  N100:") << false << "30   T          ok??300  N100:";
        QTest::newRow("a name with CR LF and TAB")
            << "T\r\n1\tX" << QByteArray("ok") << false << "30   T??1?X     ok";
        QTest::newRow("monitoring: its own TAB stays")
            << "T" << QByteArray("a\tb\x7F") << true << "\ta?b?";
    }
    void controlCharactersShowAsQuestionMarks() {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(bool, monitor);
        QFETCH(QString, line);
        Rig rig;
        TreeNode* reg = Add(nullptr, rig.tree, name, "30", "TEXT", "8", "RO");
        rig.link.script = [&](const QByteArray& request) {
            const QByteArray data = text.leftJustified(16, '\0');
            return WithCrc(request.left(2) + char(data.size()) + data);
        };
        rig.ui.monitor = monitor;
        if (monitor)
            rig.engine.MonitorRead(reg);
        else
            rig.engine.ReadFromNode(reg);
        QCOMPARE(rig.ui.log.size(), 1);
        QVERIFY2(rig.ui.log[0].endsWith(line), qPrintable(rig.ui.log[0]));
        QVERIFY(!reg->record.Value.contains('\n'));
    }

    // While monitoring, only the monitor's own reads give time-stamped lines: a write or
    // another read logs its transaction line.
    void monitorLine() {
        Rig rig;
        rig.ui.monitor = true;
        rig.engine.MonitorRead(rig.single);
        QCOMPARE(rig.ui.log.size(), 1);
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\t2000$").match(rig.ui.log[0]).hasMatch(),
                 qPrintable(rig.ui.log[0]));
        rig.regs[0]->record.Value = "4321";
        rig.engine.WriteRegister(rig.regs[0]);
        rig.engine.ReadFromNode(rig.regs[1]);
        QCOMPARE(rig.ui.log.mid(1), (QStringList{"10   R0:        4321", "11   R1         1100"}));
    }

    // A write accepted while a walk lets events run nests; the walk then goes on by its own
    // read reply, not by the write's.
    void nestedWriteFromInsideAReply() {
        Rig rig;
        for (TreeNode* r : rig.regs)
            r->record.Value = "9";
        bool done = false;
        rig.ui.events = [&] {
            if (done || rig.link.requests.size() != 1) return;
            done = true;
            rig.engine.WriteRegister(rig.regs[2]);
        };
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 12, 11, 12}));
        QList<int> functions;
        for (const QByteArray& request : rig.link.requests)
            functions << int(request[1]);
        QCOMPARE(functions, (QList<int>{3, 6, 3, 3}));
        QVERIFY(!rig.engine.Walking());
    }

    // An edit whose value fails to convert, inside a walk's events, leaves the request as the
    // walk built it: the walk reads on and nothing is written.
    void failedWriteBuildLeavesNoHalfBuiltFrame() {
        Rig rig;
        TreeNode* real = Add(nullptr, rig.tree, "F", "30", "REAL", "2", "RW", "zła");
        bool done = false;
        rig.ui.events = [&] {
            if (done) return;
            done = true;
            const QByteArray before(reinterpret_cast<const char*>(rig.engine.state().frame.Frame),
                                    kFrameSize);
            QVERIFY_THROWS_EXCEPTION(AppError, rig.engine.WriteRegister(real));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(rig.engine.state().frame.Frame),
                                kFrameSize),
                     before);
        };
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 12}));
        for (const QByteArray& request : rig.link.requests)
            QCOMPARE(int(request[1]), 3);
    }

    void nestedReadRunsToItsEndBeforeTheOuterGoesOn() {
        Rig rig;
        int depth = 0;
        rig.ui.events = [&] {
            if (depth++ == 0 && rig.link.requests.size() == 1) rig.engine.ReadRegister(rig.single);
        };
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses().mid(0, 2), (QList<int>{10, 20}));
        QCOMPARE(rig.addresses().last(), 12);
    }

    void stopEndsTheJobAfterItsRequest() {
        Rig rig;
        rig.ui.events = [&] {
            if (rig.link.requests.size() == 2) rig.engine.RequestStop();
        };
        rig.engine.ReadFromNode(rig.group);
        QCOMPARE(rig.addresses(), (QList<int>{10, 11}));
        QVERIFY(!rig.engine.Walking()); // the walk is over, not paused
        QVERIFY(rig.engine.CurrentNode() == nullptr);
        QCOMPARE(rig.ui.log.size(), 4);
        QCOMPARE(rig.ui.log.mid(2), (QStringList{"Przerwano", "Nieodczytanych: 1 z 3"}));
        rig.ui.events = nullptr;
        rig.engine.ReadFromNode(rig.regs[2]); // a new job is not stopped, and walks no more
        QCOMPARE(rig.addresses(), (QList<int>{10, 11, 12}));
    }

    void longWalkRunsInConstantStack() {
        RegisterTree tree;
        ScriptedLink link;
        RecordingFrontend ui;
        TransactionEngine engine(tree, link, ui);
        link.script = [](const QByteArray& r) { return Answer(r, {1}); };
        TreeNode* group = Add(nullptr, tree, "G", "", "", "", "");
        for (int i = 0; i < 10000; ++i)
            Add(group, tree, "R", QString::number(i));
        engine.ReadFromNode(group);
        QCOMPARE(link.requests.size(), 10000);
        QCOMPARE(ui.log.size(), 10000);
        QVERIFY2(link.stackUsed() < 4096, qPrintable(QString::number(link.stackUsed())));
    }

    void longContinuationChainRunsInConstantStack() {
        struct Chain : Continuation {
            TransactionEngine* engine;
            TreeNode* node;
            int left = 100000;
            bool TakeNext() override {
                if (left <= 0) return false;
                if (--left > 0) engine->ReadRegister(node);
                return true;
            }
            bool Abandon() override {
                left = 0;
                return true;
            }
        };
        Rig rig;
        Chain chain;
        chain.engine = &rig.engine;
        chain.node = rig.single;
        rig.engine.setContinuation(&chain);
        rig.engine.ReadRegister(rig.single);
        QCOMPARE(rig.link.requests.size(), 100000);
        QVERIFY2(rig.link.stackUsed() < 4096, qPrintable(QString::number(rig.link.stackUsed())));
    }

    void idleIsReportedOnceTheOuterJobEnds() {
        Rig rig;
        int idle = 0;
        bool busyInside = false;
        rig.engine.onIdle = [&] { ++idle; };
        rig.ui.events = [&] { busyInside = rig.engine.Busy(); };
        rig.engine.ReadFromNode(rig.group);
        QVERIFY(busyInside);
        QCOMPARE(idle, 1);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
