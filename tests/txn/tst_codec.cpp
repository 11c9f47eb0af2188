#include "regmap/error.h"
#include "txn/codec.h"
#include "txn/numbers.h"
#include <QtTest>
#include <cmath>

namespace {

// A read reply carrying the data as received, with its CRC.
void SetReadReply(TxnState& s, const QByteArray& data, int function = 3) {
    QByteArray reply = QByteArray(1, char(1)) + char(function) + char(data.size()) + data;
    const auto crc = Crc16(reinterpret_cast<const std::uint8_t*>(reply.constData()),
                           std::uint16_t(reply.size()));
    reply += char(crc & 0xFF);
    reply += char(crc >> 8);
    memset(s.reply.Bytes, 0, kReplySize);
    memcpy(s.reply.Bytes, reply.constData(), reply.size());
    s.reply.BytesRead = reply.size();
}

struct Fixture {
    RegisterTree tree;
    TxnState state;
    TreeNode* reg;
    explicit Fixture(const QString& type) {
        reg = tree.appendTopLevel();
        reg->record.Type = type;
        reg->record.Value = "old";
        state.CurrentNode = reg;
        state.CurrentRecord = &reg->record;
        state.frame.Frame[fpFunction] = 3;
        state.frame.ValueType = TypeCodeOf(type);
    }
    TreeNode* option(TreeNode* parent, const QString& value, const QString& type = "BIT") {
        TreeNode* o = parent->appendChild();
        parent->states |= NodeState::HasChildren;
        o->record.Type = type;
        o->record.Value = value;
        o->checkKind = ckRadioButton;
        o->checkState = csCheckedNormal;
        return o;
    }
};

QByteArray DataBytes(const WriteData& data, int count) {
    return QByteArray(reinterpret_cast<const char*>(data.bytes.data()), count);
}

} // namespace

class TestCodec : public QObject {
    Q_OBJECT
private slots:
    void decode_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, const char* type, const char* hex, const char* text) {
            QTest::newRow(name) << QString(type) << QByteArray::fromHex(hex)
                                << QString::fromUtf8(text);
        };
        row("WORD 00FF", "WORD", "00FF", "255");
        row("WORD FFFF", "WORD", "FFFF", "65535");
        row("WORD two registers: 32 bits, register 1 low", "WORD", "E2400001", "123456");
        row("WORD two registers: unsigned", "WORD", "FFFFFFFF", "4294967295");
        row("INT two registers: -123456", "INT", "1DC0FFFE", "-123456");
        row("HEX two registers", "HEX", "56781234", "$12345678");
        row("HEX two registers, high zero", "HEX", "00050000", "$05");
        row("INT FFFF", "INT", "FFFF", "-1");
        row("INT 8000", "INT", "8000", "-32768");
        row("INT 7FFF", "INT", "7FFF", "32767");
        row("HEX 0005", "HEX", "0005", "$05");
        row("HEX 0ABC", "HEX", "0ABC", "$ABC");
        row("HEX 1234", "HEX", "1234", "$1234");
        row("hex lower-case keyword", "hex", "0000", "$00");
        row("REAL 10", "REAL", "00004120", "10,00");
        row("REAL negative", "REAL", "0000C120", "-10,00");
        row("REAL rounds half away", "REAL", "00003E00", "0,13"); // 0.125
        row("REAL tiny negative is zero", "REAL", "0000B000", "0,00");
        row("FLOAT 10", "FLOAT", "41200000", "10,00");
        row("PREC 0.1", "PREC", "CCCD3DCC", "0,1000000015");
        row("REAL NaN", "REAL", "00007FC0", "NAN");
        row("REAL +inf", "REAL", "00007F80", "INF");
        row("FLOAT -inf", "FLOAT", "FF800000", "-INF");
        row("REAL max", "REAL", "FFFF7F7F", "340282346638528859811704183484516925440,00");
        row("TEXT stops at zero", "TEXT", "41420043", "AB");
        row("TEXT keeps spaces", "TEXT", "41422020", "AB  ");
        row("TEXT cp1250", "TEXT", "B9E6", "ąć");
        row("BIT not decoded", "BIT", "1234", "");
        row("unknown type", "DWORD", "1234", "");
    }
    void decode() {
        QFETCH(QString, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        Fixture f(type);
        f.state.frame.RegisterCount = std::uint8_t(data.size() / 2); // as the request asked
        SetReadReply(f.state, data);
        QVERIFY(DecodeReply(f.state, f.tree));
        QVERIFY(f.state.LastReplyOk);
        QCOMPARE(f.state.DecodedText, text);
        QCOMPARE(f.reg->record.Value, text);
    }

    // Read replies that must count as failed: an exception, and replies too short for
    // their byte count or their type. DecodeReply does not check the CRC; where a reply has
    // two bytes after its data, they stand in for it.
    void malformedReplies_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("exception bit") << "REAL" << QByteArray::fromHex("0183020000");
        QTest::newRow("byte count beyond received")
            << "WORD" << QByteArray::fromHex("010308001200AA");
        QTest::newRow("WORD with one data byte") << "WORD" << QByteArray::fromHex("0103011200AA");
        QTest::newRow("INT with no data") << "INT" << QByteArray::fromHex("01030000AA");
        QTest::newRow("REAL with two data bytes")
            << "REAL" << QByteArray::fromHex("010302123400AA");
        QTest::newRow("FLOAT with three data bytes")
            << "FLOAT" << QByteArray::fromHex("01030312345600AA");
        QTest::newRow("PREC count 255") << "PREC" << QByteArray::fromHex("0103FF1234567800AA");
        QTest::newRow("four bytes only") << "TEXT" << QByteArray::fromHex("01030000");
        QTest::newRow("HEX reply too short for its header") << "HEX" << QByteArray::fromHex("0103");
    }
    void malformedReplies() {
        QFETCH(QString, type);
        QFETCH(QByteArray, reply);
        Fixture f(type);
        f.state.DecodedText = "before";
        f.state.LastReplyOk = true;
        memcpy(f.state.reply.Bytes, reply.constData(), reply.size());
        f.state.reply.BytesRead = reply.size();
        QVERIFY(!DecodeReply(f.state, f.tree));
        QVERIFY(!f.state.LastReplyOk);
        QCOMPARE(f.state.DecodedText, QStringLiteral("before"));
        QCOMPARE(f.reg->record.Value, QStringLiteral("old"));
    }

    void writeReplyGivesPendingText() {
        Fixture f("REAL");
        f.state.frame.Frame[fpFunction] = 16;
        f.state.PendingWriteText = "12,5";
        SetReadReply(f.state, QByteArray::fromHex("0064"), 16);
        QVERIFY(DecodeReply(f.state, f.tree));
        QCOMPARE(f.state.DecodedText, QStringLiteral("12,5"));
        QCOMPARE(f.reg->record.Value, QStringLiteral("old"));
    }

    void diagnosticReplyDecodesEmpty() {
        Fixture f("WORD");
        f.state.frame.Frame[fpFunction] = 8;
        f.state.DecodedText = "x";
        SetReadReply(f.state, QByteArray::fromHex("0001"), 8);
        QVERIFY(DecodeReply(f.state, f.tree));
        QCOMPARE(f.state.DecodedText, QString());
    }

    void markOptions_data() {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("checked");
        QTest::newRow("only the second")
            << QStringList{"1", "2", "3"} << QByteArray::fromHex("0002") << "010";
        QTest::newRow("equal values all checked")
            << QStringList{"2", "$02", "3"} << QByteArray::fromHex("0002") << "110";
        QTest::newRow("none match") << QStringList{"1", "2"} << QByteArray::fromHex("0007") << "00";
    }
    void markOptions() {
        QFETCH(QStringList, values);
        QFETCH(QByteArray, reply);
        QFETCH(QString, checked);
        Fixture f("HEX");
        QList<TreeNode*> options;
        for (const QString& v : values)
            options << f.option(f.reg, v);
        SetReadReply(f.state, reply);
        int repaints = 0;
        f.tree.setRepaintHandler([&] { ++repaints; });
        QVERIFY(DecodeReply(f.state, f.tree));
        QString marks;
        for (TreeNode* o : options)
            marks += o->checkState == csCheckedNormal ? '1' : '0';
        QCOMPARE(marks, checked);
        QCOMPARE(repaints, 1);
    }

    void lowerCaseHexDoesNotMark() {
        Fixture f("hex");
        TreeNode* o = f.option(f.reg, "2");
        o->checkState = csUncheckedNormal;
        SetReadReply(f.state, QByteArray::fromHex("0002"));
        QVERIFY(DecodeReply(f.state, f.tree));
        QCOMPARE(int(o->checkState), int(csUncheckedNormal));
    }

    void markingStopsAtFirstNonBit() {
        Fixture f("HEX");
        TreeNode* a = f.option(f.reg, "5");
        f.option(f.reg, "5", "WORD");
        TreeNode* c = f.option(f.reg, "5");
        a->checkState = c->checkState = csUncheckedNormal;
        SetReadReply(f.state, QByteArray::fromHex("0005"));
        QVERIFY(DecodeReply(f.state, f.tree));
        QCOMPARE(int(a->checkState), int(csCheckedNormal));
        QCOMPARE(int(c->checkState), int(csUncheckedNormal));
    }

    void badOptionValueStillClosesTheBracket() {
        Fixture f("HEX");
        TreeNode* a = f.option(f.reg, "1");
        f.option(f.reg, "zły");
        SetReadReply(f.state, QByteArray::fromHex("0001"));
        int repaints = 0;
        f.tree.setRepaintHandler([&] { ++repaints; });
        QVERIFY_THROWS_EXCEPTION(AppError, DecodeReply(f.state, f.tree));
        QCOMPARE(int(a->checkState), int(csCheckedNormal)); // visited before the bad one
        QCOMPARE(f.reg->record.Value, QStringLiteral("$01"));
        QCOMPARE(repaints, 1); // the bracket closed and repainted
        f.tree.BeginUpdate();
        f.tree.EndUpdate();
        QCOMPARE(repaints, 2); // and the tree still repaints afterwards
    }

    void textFromBytes() {
        const std::uint8_t bytes[] = {'A', 'B', 0, 'C'};
        QCOMPARE(TextFromBytes(bytes, 0), QString());
        QCOMPARE(TextFromBytes(bytes, 1), QStringLiteral("A"));
        QCOMPARE(TextFromBytes(bytes, 4), QStringLiteral("AB"));
    }

    void encode_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("logged"); // the value text as the request carries it
        auto row = [](const char* name, const char* type, const char* count, const char* value,
                      const char* hex, const char* logged = nullptr) {
            QTest::newRow(name) << QString(type) << QString(count) << QString::fromUtf8(value)
                                << QByteArray::fromHex(hex)
                                << QString::fromUtf8(logged ? logged : value);
        };
        row("WORD 70000", "WORD", "2", "70000", "11700001");
        row("INT -2", "INT", "2", "-2", "FFFEFFFF");
        row("HEX $12345678", "HEX", "2", "$12345678", "56781234");
        row("INT 65536", "INT", "2", "65536", "00000001");
        row("REAL 10", "REAL", "2", "10", "00004120");
        row("REAL 10,5", "REAL", "2", "10,5", "00004128");
        row("PREC 0,1", "PREC", "2", "0,1", "CCCD3DCC");
        row("FLOAT 10", "FLOAT", "2", "10", "41200000");
        row("FLOAT 1", "FLOAT", "2", "1", "3F800000");
        row("TEXT AB count 2", "TEXT", "2", "AB", "41422020");
        row("TEXT AB count 3", "TEXT", "3", "AB", "414220202020");
        row("TEXT cut to 2 x count", "TEXT", "3", "ABCDEFGH", "414243444546", "ABCDEF");
        row("TEXT Polish letters in Windows-1250", "TEXT", "6", "Pójdź, żółć",
            "50F36A649F2C20BFF3B3E620");
        row("TEXT cut inside Polish letters", "TEXT", "1", "ąZ", "B95A");
        row("TEXT outside the code page", "TEXT", "2", "жA€", "3F418020", "?A€");
        row("TEXT empty", "TEXT", "2", "", "20202020");
        row("WORD count 3: register 3 zero", "WORD", "3", "70000", "117000010000");
        row("REAL count 4: registers 3, 4 zero", "REAL", "4", "10", "0000412000000000");
        row("BIT: zeros", "BIT", "3", "7", "000000000000");
    }
    void encode() {
        QFETCH(QString, type);
        QFETCH(QString, count);
        QFETCH(QString, value);
        QFETCH(QByteArray, sent);
        QFETCH(QString, logged);
        const WriteData data = EncodeWriteData({"N", "", "0", type, count, "RW", value});
        QCOMPARE(DataBytes(data, sent.size()).toHex(), sent.toHex());
        QCOMPARE(data.sentText, logged);
    }

    // What a TEXT write sends, a TEXT read of the same bytes gives back.
    void polishTextReadsBackAsWritten() {
        const QString written = QString::fromUtf8("Pójdź, żółć");
        const QByteArray sent =
            DataBytes(EncodeWriteData({"N", "", "0", "TEXT", "6", "RW", written}), 12);
        Fixture f("TEXT");
        SetReadReply(f.state, sent);
        QVERIFY(DecodeReply(f.state, f.tree));
        QCOMPARE(f.reg->record.Value.trimmed(), written);
    }

    void encodeFailures_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        const QString real = "'%1' is not a valid floating point value";
        const QString integer = "'%1' is not a valid integer value";
        QTest::newRow("REAL with a point") << "REAL"
                                           << "10.5" << real.arg("10.5");
        QTest::newRow("FLOAT empty") << "FLOAT"
                                     << "" << real.arg("");
        QTest::newRow("PREC two commas") << "PREC"
                                         << "1,2,3" << real.arg("1,2,3");
        QTest::newRow("REAL overflow") << "REAL"
                                       << "1e39" << real.arg("1e39");
        QTest::newRow("WORD fraction") << "WORD"
                                       << "1,5" << integer.arg("1,5");
        QTest::newRow("HEX junk") << "HEX"
                                  << "$G1" << integer.arg("$G1");
    }
    void encodeFailures() {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(QString, message);
        try {
            EncodeWriteData({"N", "", "0", type, "2", "RW", value});
            QFAIL("no error");
        } catch (const AppError& e) {
            QCOMPARE(e.message(), message);
        }
    }

    void parseReal_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("value");
        QTest::newRow("integer") << "10" << 10.0f;
        QTest::newRow("comma") << "10,5" << 10.5f;
        QTest::newRow("blanks around") << "  -2,25 " << -2.25f;
        QTest::newRow("exponent") << "1,5E3" << 1500.0f;
        QTest::newRow("exponent sign") << "25e-1" << 2.5f;
        QTest::newRow("leading comma") << ",5" << 0.5f;
        QTest::newRow("trailing comma") << "+3," << 3.0f;
        QTest::newRow("underflow") << "1e-400" << 0.0f;
    }
    void parseReal() {
        QFETCH(QString, text);
        QFETCH(float, value);
        QCOMPARE(ParseReal(text), value);
    }

    void parseRealRejects_data() {
        QTest::addColumn<QString>("text");
        for (const char* t : {"", " ", "1.5", "1,,5", "e5", "1e", "1e+", "--1", "1 5", "inf", "nan",
                              ",", "0x10", "1e400"})
            QTest::newRow(t) << QString(t);
    }
    void parseRealRejects() {
        QFETCH(QString, text);
        QVERIFY_THROWS_EXCEPTION(AppError, ParseReal(text));
    }

    void formatFixed_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.125 half away") << 0.125 << 2 << "0,13";
        QTest::newRow("-0.125 half away") << -0.125 << 2 << "-0,13";
        QTest::newRow("0.5 to integer") << 0.5 << 0 << "1";
        QTest::newRow("carry") << 9.999 << 2 << "10,00";
        QTest::newRow("small") << 0.001 << 3 << "0,001";
        QTest::newRow("0.1f ten decimals") << double(0.1f) << 10 << "0,1000000015";
        QTest::newRow("negative zero") << -0.0 << 2 << "0,00";
    }
    void formatFixed() {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        QCOMPARE(FormatFixed(value, decimals), text);
    }

    // Every row of the type table: its keyword in either case names it, and a reply one data
    // byte short of its minimum is refused while the minimum itself decodes.
    void typeTableRows() {
        for (const ValueTypeInfo* row = ValueTypesBegin(); row != ValueTypesEnd(); ++row) {
            const QString keyword = QString::fromLatin1(row->keyword);
            QCOMPARE(TypeCodeOf(keyword), row->code);
            QCOMPARE(TypeCodeOf(keyword.toLower()), row->code);
            QCOMPARE(TypeInfo(row->code), row);
            if (row->minimumBytes == 0) continue;
            Fixture f(keyword);
            SetReadReply(f.state, QByteArray(row->minimumBytes - 1, '\x01'));
            QVERIFY2(!DecodeReply(f.state, f.tree), row->keyword);
            SetReadReply(f.state, QByteArray(row->minimumBytes, '\x01'));
            QVERIFY2(DecodeReply(f.state, f.tree), row->keyword);
        }
        QCOMPARE(TypeInfo(tcNone), nullptr);
        QVERIFY(!IsNumericType(tcText) && IsNumericType(tcHex) && IsRealType(tcFloat));
    }

    // Encode then decode returns the text the operator would see.
    void roundTrip_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("read");
        QTest::newRow("WORD") << "WORD"
                              << "65535"
                              << "65535";
        QTest::newRow("WORD wraps") << "WORD"
                                    << "65536"
                                    << "0";
        QTest::newRow("INT") << "INT"
                             << "-300"
                             << "-300";
        QTest::newRow("HEX") << "HEX"
                             << "$BEEF"
                             << "$BEEF";
        QTest::newRow("REAL") << "REAL"
                              << "-123,456"
                              << "-123,46";
        QTest::newRow("REAL big") << "REAL"
                                  << "1e20"
                                  << "100000002004087734272,00";
        QTest::newRow("PREC") << "PREC"
                              << "0,1"
                              << "0,1000000015";
        QTest::newRow("FLOAT") << "FLOAT"
                               << "3,14159"
                               << "3,14";
        QTest::newRow("TEXT") << "TEXT"
                              << "Ab1"
                              << "Ab1 ";
    }
    void roundTrip() {
        QFETCH(QString, type);
        QFETCH(QString, written);
        QFETCH(QString, read);
        Fixture f(type);
        const QByteArray data =
            DataBytes(EncodeWriteData({"N", "", "0", type, "2", "RW", written}), 4);
        f.state.frame.Frame[fpFunction] = fcReadHoldingRegisters;
        SetReadReply(f.state, data);
        QVERIFY(DecodeReply(f.state, f.tree));
        QCOMPARE(f.state.DecodedText, read);
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
