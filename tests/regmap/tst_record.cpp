#include "regmap/error.h"
#include "regmap/record.h"
#include <QtTest>
#include <algorithm>
#include <vector>

class TestRecord : public QObject {
    Q_OBJECT
private slots:
    void typeCodes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("WORD") << "WORD" << int(tcWord);
        QTest::newRow("int lower") << "int" << int(tcInt);
        QTest::newRow("Real mixed") << "Real" << int(tcReal);
        QTest::newRow("TEXT") << "TEXT" << int(tcText);
        QTest::newRow("hex lower") << "hex" << int(tcHex);
        QTest::newRow("PREC") << "PREC" << int(tcPrec);
        QTest::newRow("Float") << "Float" << int(tcFloat);
        QTest::newRow("BIT") << "BIT" << int(tcNone);
        QTest::newRow("empty") << "" << int(tcNone);
        QTest::newRow("HEX trailing blank") << "HEX " << int(tcNone);
        QTest::newRow("prefix only") << "WOR" << int(tcNone);
        QTest::newRow("Polish letter not folded") << "ąINT" << int(tcNone);
    }
    void typeCodes() {
        QFETCH(QString, text);
        QFETCH(int, code);
        QCOMPARE(int(TypeCodeOf(text)), code);
    }

    void accessCodes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("RO") << "RO" << int(acRO);
        QTest::newRow("rw") << "rw" << int(acRW);
        QTest::newRow("Rp") << "Rp" << int(acRP);
        QTest::newRow("leading blank") << " RW" << int(acNone);
        QTest::newRow("trailing blank") << "RW " << int(acNone);
        QTest::newRow("RWX") << "RWX" << int(acNone);
        QTest::newRow("empty") << "" << int(acNone);
    }
    void accessCodes() {
        QFETCH(QString, text);
        QFETCH(int, code);
        QCOMPARE(int(AccessCodeOf(text)), code);
    }

    void parseInteger_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("$1a") << "$1a" << 26;
        QTest::newRow("0x1A") << "0x1A" << 26;
        QTest::newRow("x1A") << "x1A" << 26;
        QTest::newRow("X1a") << "X1a" << 26;
        QTest::newRow("two blanks") << "  26" << 26;
        QTest::newRow("-$10") << "-$10" << -16;
        QTest::newRow("+7") << "+7" << 7;
        QTest::newRow("leading zeros") << "012" << 12;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("max") << "2147483647" << 2147483647;
        QTest::newRow("min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("$80000000") << "$80000000" << int(-2147483647 - 1);
        QTest::newRow("$FFFFFFFF") << "$FFFFFFFF" << -1;
        QTest::newRow("hex leading zeros") << "$000000001" << 1;
    }
    void parseInteger() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(ParseInteger(text), value);
    }

    void parseIntegerFails_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("trailing blank") << "26 ";
        QTest::newRow("empty") << "";
        QTest::newRow("blanks only") << "   ";
        QTest::newRow("lone $") << "$";
        QTest::newRow("lone 0x") << "0x";
        QTest::newRow("sign only") << "-";
        QTest::newRow("comma") << "1,5";
        QTest::newRow("overflow") << "2147483648";
        QTest::newRow("underflow") << "-2147483649";
        QTest::newRow("hex overflow") << "$100000000";
        QTest::newRow("blank after sign") << "- 5";
        QTest::newRow("bad hex digit") << "$1G";
        QTest::newRow("arabic-indic digit") << QString::fromUtf8("١");
    }
    void parseIntegerFails() {
        QFETCH(QString, text);
        try {
            ParseInteger(text);
            QFAIL("no error");
        } catch (const AppError& e) {
            QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }

    void boxText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Stream read error"
                                << "Stream read error.";
        QTest::newRow("full stop") << "done."
                                   << "done.";
        QTest::newRow("exclamation sorts before") << "brak połączenia !"
                                                  << "brak połączenia !";
        QTest::newRow("quote sorts before") << "x'"
                                            << "x'";
        QTest::newRow("slash sorts after") << "a/"
                                           << "a/.";
        QTest::newRow("empty") << ""
                               << "";
    }
    void boxText() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(BoxText(message), shown);
    }

    // Setting one text keeps the other six, whichever field it is and whatever lengths.
    void setTextKeepsTheOthers_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        for (int f = 0; f < RegisterNode::kFields; ++f) {
            QTest::addRow("field %d longer", f) << f << QStringLiteral("Wartość zadana");
            QTest::addRow("field %d emptied", f) << f << QString();
        }
    }
    void setTextKeepsTheOthers() {
        QFETCH(int, field);
        QFETCH(QString, text);
        const QStringList before{"Temp", "uwaga", "$10", "REAL", "2", "RW", "1,5"};
        RegisterNode r(before[0], before[1], before[2], before[3], before[4], before[5], before[6]);
        r.setText(RegisterNode::Field(field), text);
        for (int f = 0; f < RegisterNode::kFields; ++f)
            QCOMPARE(r.text(RegisterNode::Field(f)).toString(), f == field ? text : before[f]);
    }

    void emptyingEveryTextLeavesAnEmptyRecord() {
        RegisterNode r("A", "", "", "", "", "", "7");
        r.setName(QString());
        r.setValue(QString());
        for (int f = 0; f < RegisterNode::kFields; ++f)
            QVERIFY(r.text(RegisterNode::Field(f)).isEmpty());
        r.setCount("3");
        QCOMPARE(r.Count().toString(), QStringLiteral("3"));
    }

    void setTextFromItsOwnRecord() {
        RegisterNode r("Name", "", "", "", "", "", "value");
        r.setText(RegisterNode::kName, r.Value()); // a view into the block being replaced
        QCOMPARE(r.Name().toString(), QStringLiteral("value"));
        QCOMPARE(r.Value().toString(), QStringLiteral("value"));
    }

    void copiesAreIndependent() {
        RegisterNode a("A", "", "1", "WORD", "1", "RW", "5");
        RegisterNode b = a;
        b.setValue("6");
        QCOMPARE(a.Value().toString(), QStringLiteral("5"));
        QCOMPARE(b.Value().toString(), QStringLiteral("6"));
        RegisterNode c;
        c = b;
        b = RegisterNode();
        QCOMPARE(c.Value().toString(), QStringLiteral("6"));
        QVERIFY(b.Name().isEmpty());
        RegisterNode d = std::move(c);
        QCOMPARE(d.Address().toString(), QStringLiteral("1"));
    }

    // A borrowed block belongs to someone else: a later text goes to a block of the record's
    // own and the borrowed one is left as it was.
    void borrowedBlockIsNeverWritten() {
        alignas(RegisterNode::Block) unsigned char storage[RegisterNode::BlockBytes(3)];
        auto* block = reinterpret_cast<RegisterNode::Block*>(storage);
        const char16_t chars[] = u"ab7";
        std::copy(chars, chars + 3, block->chars());
        const std::uint32_t ends[RegisterNode::kFields] = {2, 2, 2, 2, 2, 2, 3};
        std::copy(ends, ends + RegisterNode::kFields, block->end);
        {
            RegisterNode r;
            r.Borrow(block);
            QCOMPARE(r.Name().toString(), QStringLiteral("ab"));
            r.setValue("8");
            QCOMPARE(r.Value().toString(), QStringLiteral("8"));
            QCOMPARE(r.Name().toString(), QStringLiteral("ab"));
        } // the destructor frees only the record's own block
        QCOMPARE(block->chars()[2], u'7');
        QCOMPARE(block->end[RegisterNode::kValue], 3u);
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
