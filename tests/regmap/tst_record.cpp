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

    // The drawing and marking rules take the keywords exactly as the file spells them, while
    // reads and writes accept either case.
    void exactKeywords_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("access");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("bit");
        QTest::addColumn<bool>("rw");
        QTest::addColumn<bool>("rp");
        QTest::newRow("upper case") << "HEX"
                                    << "RW" << true << false << true << false;
        QTest::newRow("lower case") << "hex"
                                    << "rw" << false << false << false << false;
        QTest::newRow("BIT, RP") << "BIT"
                                 << "RP" << false << true << false << true;
        QTest::newRow("bit, Rp") << "bit"
                                 << "Rp" << false << false << false << false;
        QTest::newRow("blank after") << "HEX "
                                     << "RW " << false << false << false << false;
    }
    void exactKeywords() {
        QFETCH(QString, type);
        QFETCH(QString, access);
        QFETCH(bool, hex);
        QFETCH(bool, bit);
        QFETCH(bool, rw);
        QFETCH(bool, rp);
        const RegisterNode r{"R", "", "0", type, "1", access, ""};
        QCOMPARE(IsExactlyHex(r), hex);
        QCOMPARE(IsExactlyBit(r), bit);
        QCOMPARE(IsExactlyRW(r), rw);
        QCOMPARE(IsExactlyRP(r), rp);
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
