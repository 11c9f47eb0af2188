// Values look the same on a Polish system as in the C locale: the process locale (which Qt
// takes from the environment) and Qt's default locale never reach a number's text.
#include "regmap/error.h"
#include "tools/operator.h"
#include "txn/codec.h"
#include "txn/logformat.h"
#include "txn/numbers.h"
#include <QtTest>
#include <clocale>
#include <cstdio>

namespace {

// Sets the C library's and Qt's default locale for one scope, then puts both back.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
        QLocale::setDefault(QString::fromLatin1(name) == "C" ? QLocale::c()
                                                             : QLocale(QLocale::Polish));
    }
    ~LocaleScope() {
        std::setlocale(LC_ALL, saved_.constData());
        QLocale::setDefault(QLocale::c());
    }
    bool ok() const { return ok_; }

private:
    QByteArray saved_;
    bool ok_ = false;
};

QString Decoded(const char* type, const char* hex) {
    RegisterTree tree;
    TxnState state;
    TreeNode* reg = tree.appendTopLevel();
    reg->record.Type = QString::fromLatin1(type);
    state.CurrentNode = reg;
    state.CurrentRecord = &reg->record;
    state.frame.Frame[fpFunction] = 3;
    state.frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(reg->record.Type));
    const QByteArray data = QByteArray::fromHex(hex);
    QByteArray reply = QByteArray::fromHex("F703") + char(data.size()) + data;
    memcpy(state.reply.Bytes, reply.constData(), reply.size());
    state.reply.BytesRead = reply.size() + 2;
    if (!DecodeReply(state, tree)) return QStringLiteral("(not decoded)");
    return reg->record.Value;
}

QByteArray EncodedReal(const char* type, const char* value) {
    const WriteData data = EncodeWriteData(RegisterNode{"N", "", "0", type, "2", "RW", value});
    return QByteArray(reinterpret_cast<const char*>(data.bytes.data()), 4).toHex();
}

} // namespace

class TestLocale : public QObject {
    Q_OBJECT
private slots:
    void numbersIgnoreTheLocale_data() {
        QTest::addColumn<QByteArray>("locale");
        QTest::newRow("C") << QByteArray("C");
#ifdef Q_OS_WIN
        QTest::newRow("Polish_Poland.1250") << QByteArray("Polish_Poland.1250");
#else
        QTest::newRow("pl_PL.UTF-8") << QByteArray("pl_PL.UTF-8");
#endif
    }
    void numbersIgnoreTheLocale() {
        QFETCH(QByteArray, locale);
        LocaleScope scope(locale.constData());
        QVERIFY2(scope.ok(), "locale missing: scripts/setup generates pl_PL.UTF-8");
        if (locale != "C") { // the C library really writes a comma now
            char probe[8];
            std::snprintf(probe, sizeof probe, "%.1f", 1.5);
            QCOMPARE(QByteArray(probe), QByteArray("1,5"));
        }
        QCOMPARE(Decoded("REAL", "000041BC"), QStringLiteral("23,50"));
        QCOMPARE(Decoded("REAL", "5000447D"), QStringLiteral("1013,25"));
        QCOMPARE(Decoded("REAL", "0000C120"), QStringLiteral("-10,00"));
        QCOMPARE(Decoded("PREC", "CCCD3DCC"), QStringLiteral("0,1000000015"));
        QCOMPARE(Decoded("FLOAT", "41200000"), QStringLiteral("10,00"));
        QCOMPARE(Decoded("INT", "FFF4"), QStringLiteral("-12"));
        QCOMPARE(FormatCalibrationError(0.6124f), QStringLiteral("0,612"));
        QCOMPARE(FormatCalibrationError(123456.78f), QStringLiteral("123456,780"));
        QCOMPARE(FormatCalibrationError(2.5e9f), QStringLiteral("2,5000000E+09"));
        QCOMPARE(ParseReal(QStringLiteral("23,5")), 23.5f);
        QVERIFY_THROWS_EXCEPTION(AppError, ParseReal(QStringLiteral("23.5")));
        QCOMPARE(EncodedReal("REAL", "10,5"), QByteArray("00004128"));
        QCOMPARE(LogDateText(QDate(2026, 12, 8)), QStringLiteral("2026-12-08"));
        QCOMPARE(LogTimeText(QTime(7, 5, 3)), QStringLiteral("07:05:03"));
    }
};

QTEST_GUILESS_MAIN(TestLocale)
#include "tst_locale.moc"
