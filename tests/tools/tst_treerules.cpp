#include "regmap/error.h"
#include "tools/treerules.h"
#include "txn/codec.h"
#include <QtTest>

namespace {

TreeNode* Child(TreeNode* parent, const QString& name, const QString& type, const QString& value,
                std::uint8_t kind = ckNone) {
    TreeNode* node = parent->appendChild();
    parent->states |= NodeState::HasChildren;
    node->record = {name, "", "", type, "", "", value};
    node->checkKind = kind;
    return node;
}

// A HEX register "Tryb" with three radio options, and "Opcje" with two byte groups.
struct Tree {
    RegisterTree tree;
    TreeNode* tryb;
    TreeNode* opcje;
    Tree() {
        TreeNode* group = tree.appendTopLevel();
        tryb = Child(group, "Tryb", "HEX", "$01");
        tryb->record.Access = "RW";
        for (int v = 1; v <= 3; ++v)
            Child(tryb, QString("o%1").arg(v), "BIT", QString::number(v), ckRadioButton);
        opcje = Child(group, "Opcje", "HEX", "$12AB");
        opcje->record.Access = "RW";
        TreeNode* low = Child(opcje, "Filtr", "", "");
        Child(low, "b0", "BIT", "1", ckRadioButton);
        TreeNode* high = Child(opcje, "Jednostka", "", "");
        Child(high, "h1", "BIT", "$0100", ckRadioButton);
    }
};

void MarkAllFrom(TreeNode* reg) {
    MarkOptionsOf(reg, ParseInteger(reg->record.Value));
}

} // namespace

class TestTreeRules : public QObject {
    Q_OBJECT
private slots:
    void cellColour_data() {
        QTest::addColumn<QString>("access");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("highlighted");
        QTest::addColumn<int>("colour");
        auto row = [](const char* name, const char* access, int column, bool lit, CellColour c) {
            QTest::newRow(name) << QString(access) << column << lit << int(c);
        };
        row("RW name", "RW", 0, false, CellColour::Black);
        row("RW address", "RW", 1, false, CellColour::Navy);
        row("RW value", "RW", 2, false, CellColour::Black);
        row("RP any column", "RP", 1, false, CellColour::Maroon);
        row("RO keeps the view's", "RO", 1, false, CellColour::ViewOwn);
        row("lower-case rw keeps the view's", "rw", 1, false, CellColour::ViewOwn);
        row("highlighted value", "RW", 2, true, CellColour::Red);
        row("highlighted address", "RW", 1, true, CellColour::Black);
        row("highlighted RP value", "RP", 2, true, CellColour::Red);
    }
    void cellColour() {
        QFETCH(QString, access);
        QFETCH(int, column);
        QFETCH(bool, highlighted);
        QFETCH(int, colour);
        RegisterTree tree;
        TreeNode* node = tree.appendTopLevel();
        node->record.Access = access;
        QCOMPARE(int(CellColourOf(*node, column, highlighted ? node : nullptr)), colour);
    }

    // What a check mark does: the value it gives, the register current and written.
    void checkOption_data() {
        QTest::addColumn<QString>("option"); // path below the group: register/option[/...]
        QTest::addColumn<int>("proposed");
        QTest::addColumn<QString>("trybValue");
        QTest::addColumn<QString>("opcjeValue");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("written");
        QTest::newRow("radio option writes its register") << "o2" << int(csCheckedNormal) << "$02"
                                                          << "$12AB"
                                                          << "Tryb"
                                                          << "Tryb";
        QTest::newRow("radio unchecked is checked all the same")
            << "o3" << int(csUncheckedNormal) << "$03"
            << "$12AB"
            << "Tryb"
            << "Tryb";
        QTest::newRow("low byte: nothing written") << "b0" << int(csCheckedNormal) << "$01"
                                                   << "$1201"
                                                   << "Filtr"
                                                   << "";
        QTest::newRow("high byte") << "h1" << int(csCheckedNormal) << "$01"
                                   << "$01AB"
                                   << "Jednostka"
                                   << "";
    }
    void checkOption() {
        QFETCH(QString, option);
        QFETCH(int, proposed);
        QFETCH(QString, trybValue);
        QFETCH(QString, opcjeValue);
        QFETCH(QString, current);
        QFETCH(QString, written);
        Tree t;
        TreeNode* node = t.tree.FindNodeByName(option);
        const OptionOutcome outcome = CheckOption(node, CheckState(proposed));
        QCOMPARE(t.tryb->record.Value, trybValue);
        QCOMPARE(t.opcje->record.Value, opcjeValue);
        QCOMPARE(outcome.current ? outcome.current->record.Name : QString(), current);
        QCOMPARE(outcome.written ? outcome.written->record.Name : QString(), written);
        QCOMPARE(int(node->checkState), int(csCheckedNormal));
        for (const auto& sibling : node->parent()->children())
            if (sibling != node) QCOMPARE(int(sibling->checkState), int(csUncheckedNormal));
    }

    void badByteGroupValueChangesNothing() {
        Tree t;
        t.opcje->record.Value = "zły";
        TreeNode* b0 = t.tree.FindNodeByName("b0");
        b0->checkState = csUncheckedNormal;
        QVERIFY_THROWS_EXCEPTION(AppError, CheckOption(b0, csCheckedNormal));
        QCOMPARE(t.opcje->record.Value, QString::fromUtf8("zły"));
        QCOMPARE(int(b0->checkState), int(csUncheckedNormal));
    }

    void markKinds_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("proposed");
        QTest::addColumn<int>("result");
        QTest::newRow("button springs back")
            << int(ckButton) << int(csCheckedNormal) << int(csUncheckedNormal);
        QTest::newRow("check box unchecks")
            << int(ckCheckBox) << int(csUncheckedNormal) << int(csUncheckedNormal);
        QTest::newRow("check box checks")
            << int(ckCheckBox) << int(csCheckedNormal) << int(csCheckedNormal);
    }
    void markKinds() {
        QFETCH(int, kind);
        QFETCH(int, proposed);
        QFETCH(int, result);
        RegisterTree tree;
        TreeNode* reg = tree.appendTopLevel();
        reg->record.Type = "HEX";
        reg->record.Access = "RW";
        reg->record.Value = "$00";
        reg->valueOrigin = ValueOrigin::Device;
        TreeNode* option = Child(reg, "o", "BIT", "4", std::uint8_t(kind));
        CheckOption(option, CheckState(proposed));
        QCOMPARE(int(option->checkState), result);
    }

    // A check box sets or clears its own bits in the value the device gave, written each time,
    // and the marks follow the register; a radio button sets the whole value.
    void checkBoxesChangeTheirBits_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("proposed");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("marked"); // options checked afterwards
        QTest::newRow("tick adds bit 2") << "b4" << int(csCheckedNormal) << "$07"
                                         << "b1 b2 b4";
        QTest::newRow("untick clears bit 1") << "b2" << int(csUncheckedNormal) << "$01"
                                             << "b1";
        QTest::newRow("tick of a set bit keeps the rest") << "b1" << int(csCheckedNormal) << "$03"
                                                          << "b1 b2";
    }
    void checkBoxesChangeTheirBits() {
        QFETCH(QString, option);
        QFETCH(int, proposed);
        QFETCH(QString, value);
        QFETCH(QString, marked);
        RegisterTree tree;
        TreeNode* reg = tree.appendTopLevel();
        reg->record = {"Alarmy", "", "202", "HEX", "1", "RW", "$03"};
        reg->valueOrigin = ValueOrigin::Device;
        for (const char* bit : {"1", "2", "4"})
            Child(reg, QString("b") + bit, "BIT", bit, ckCheckBox);
        MarkAllFrom(reg);
        const OptionOutcome outcome =
            CheckOption(tree.FindNodeByName(option), CheckState(proposed));
        QCOMPARE(outcome.written, reg);
        QCOMPARE(reg->record.Value, value);
        QStringList checked;
        for (TreeNode* o : reg->children())
            if (o->checkState == csCheckedNormal) checked << o->record.Name;
        QCOMPARE(checked.join(' '), marked);
    }

    // Bits need the device's value: from the file, or after a failed read, nothing changes.
    void checkBoxWithoutADeviceValueIsRefused_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("fromFile");
        QTest::newRow("file value") << "$03" << true;
        QTest::newRow("failed read") << "" << false;
    }
    void checkBoxWithoutADeviceValueIsRefused() {
        QFETCH(QString, value);
        QFETCH(bool, fromFile);
        RegisterTree tree;
        TreeNode* reg = tree.appendTopLevel();
        reg->record = {"Alarmy", "", "202", "HEX", "1", "RW", value};
        reg->valueOrigin = fromFile ? ValueOrigin::File : ValueOrigin::Device;
        TreeNode* box = Child(reg, "b4", "BIT", "4", ckCheckBox);
        QVERIFY_THROWS_EXCEPTION(AppError, CheckOption(box, csCheckedNormal));
        QCOMPARE(reg->record.Value, value);
        QCOMPARE(int(box->checkState), int(csUncheckedNormal));
    }

    // The options of a read-only register are shown but never changed.
    void readOnlyOptionsDoNotChange() {
        Tree t;
        t.tryb->record.Access = "RO";
        TreeNode* o2 = t.tree.FindNodeByName("o2");
        QVERIFY(!OptionsChangeable(o2));
        const OptionOutcome outcome = CheckOption(o2, csCheckedNormal);
        QVERIFY(!outcome.written && !outcome.current);
        QCOMPARE(t.tryb->record.Value, QStringLiteral("$01"));
        QCOMPARE(int(o2->checkState), int(csUncheckedNormal));
        QVERIFY(OptionsChangeable(t.tree.FindNodeByName("b0")));
    }

    // A three-state box takes its children along, and follows them.
    void threeStateBoxes() {
        RegisterTree tree;
        TreeNode* box = tree.appendTopLevel();
        box->checkKind = ckTriStateCheckBox;
        TreeNode* a = Child(box, "a", "", "", ckCheckBox);
        TreeNode* b = Child(box, "b", "", "", ckCheckBox);
        ApplyCheckState(box, csCheckedNormal);
        QCOMPARE(int(a->checkState), int(csCheckedNormal));
        QCOMPARE(int(b->checkState), int(csCheckedNormal));
        ApplyCheckState(a, csUncheckedNormal);
        QCOMPARE(int(box->checkState), int(csMixedNormal));
        ApplyCheckState(b, csUncheckedNormal);
        QCOMPARE(int(box->checkState), int(csUncheckedNormal));
    }

    void unreadHexShowsNoOption() {
        Tree t;
        for (const auto& o : t.tryb->children())
            o->checkState = csCheckedNormal;
        QVERIFY(!ClearMarksOfUnreadHex(t.tryb)); // it has a value
        t.tryb->record.Value = {};
        QVERIFY(ClearMarksOfUnreadHex(t.tryb));
        for (const auto& o : t.tryb->children())
            QCOMPARE(int(o->checkState), int(csUncheckedNormal));
        QVERIFY(!ClearMarksOfUnreadHex(nullptr));
    }

    void editableAndCalibratable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("editable");
        QTest::addColumn<bool>("calibratable");
        QTest::newRow("RW, TR100F.dat") << "RW" << true << true;
        QTest::newRow("RP, TR100.dat") << "RP" << false << false;
        QTest::newRow("RO, tr100f.dat") << "RO" << false << false;
        QTest::newRow("rw, XF.dat.bak") << "rw" << true << true;
    }
    void editableAndCalibratable() {
        QFETCH(QString, text);
        QFETCH(bool, editable);
        QFETCH(bool, calibratable);
        RegisterTree tree;
        TreeNode* node = tree.appendTopLevel();
        node->record.Access = text;
        QCOMPARE(ValueEditable(*node), editable);
        const QString name = QString(QTest::currentDataTag()).section(", ", 1);
        QCOMPARE(IsCalibratable(name), calibratable);
    }
};

QTEST_GUILESS_MAIN(TestTreeRules)
#include "tst_treerules.moc"
