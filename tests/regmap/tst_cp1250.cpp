#include "regmap/cp1250.h"
#include <QtTest>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {
// The system's own converter for code page 1250: the C library's iconv, or Windows' own.
// False where the code page leaves the byte undefined.
class SystemCp1250 {
public:
#ifdef Q_OS_WIN
    bool valid() const {
        return true;
    }
    bool decode(unsigned char byte, char16_t& out) {
        wchar_t wide = 0;
        const char in = static_cast<char>(byte);
        if (MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &in, 1, &wide, 1) != 1) return false;
        out = static_cast<char16_t>(wide);
        return true;
    }
#else
    SystemCp1250() : cd_(iconv_open("UTF-16LE", "CP1250")) {}
    ~SystemCp1250() {
        if (valid()) iconv_close(cd_);
    }
    bool valid() const {
        return cd_ != iconv_t(-1);
    }
    bool decode(unsigned char byte, char16_t& out) {
        char in = static_cast<char>(byte);
        char* inp = &in;
        char* outp = reinterpret_cast<char*>(&out);
        size_t inLeft = 1, outLeft = 2;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return iconv(cd_, &inp, &inLeft, &outp, &outLeft) != size_t(-1);
    }

private:
    iconv_t cd_;
#endif
};
} // namespace

// Checks our table against the system's converter for every byte.
class TestCp1250 : public QObject {
    Q_OBJECT
private slots:
    void everyByteMatchesTheSystem() {
        SystemCp1250 system;
        QVERIFY(system.valid());
        int undefined = 0;
        for (int b = 0; b < 256; ++b) {
            char16_t out = 0;
            if (system.decode(static_cast<unsigned char>(b), out)) {
                QCOMPARE(Cp1250ToChar(static_cast<unsigned char>(b)).unicode(), out);
            } else {
                // Undefined in the code page: kept as the C1 control of the same value.
                ++undefined;
                QCOMPARE(Cp1250ToChar(static_cast<unsigned char>(b)).unicode(), char16_t(b));
            }
        }
        // iconv leaves five bytes undefined; Windows maps them to those same C1 controls.
#ifndef Q_OS_WIN
        QCOMPARE(undefined, 5);
#endif
        QVERIFY(undefined <= 5);
    }

    void roundTripsEveryByte() {
        QByteArray all(256, Qt::Uninitialized);
        for (int b = 0; b < 256; ++b)
            all[b] = static_cast<char>(b);
        QCOMPARE(StringToCp1250(Cp1250ToString(all.constData(), all.size())), all);
    }

    void polishLetters() {
        QCOMPARE(Cp1250ToChar(0xB9), QChar(0x0105)); // ą
        QCOMPARE(StringToCp1250(QString::fromUtf8("Wartość")), QByteArray("Warto\x9C\xE6"));
        QCOMPARE(StringToCp1250(QString::fromUtf8("€ж")), QByteArray("\x80?"));
    }

    // Runs of 16 ASCII bytes are widened together: a high byte anywhere in any run, and texts
    // of every length around the run size, decode byte by byte.
    void longTextsDecodeLikeSingleBytes() {
        for (int length = 0; length <= 40; ++length)
            for (int high = -1; high < length; ++high) {
                QByteArray bytes(length, 'a');
                for (int i = 0; i < length; ++i)
                    bytes[i] = char('a' + i % 26);
                if (high >= 0) bytes[high] = '\xB9';
                QString expected;
                for (char c : bytes)
                    expected += Cp1250ToChar(static_cast<unsigned char>(c));
                QCOMPARE(Cp1250ToString(bytes.constData(), length), expected);
            }
    }
};

QTEST_GUILESS_MAIN(TestCp1250)
#include "tst_cp1250.moc"
