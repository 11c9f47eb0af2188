#include "regmap/cp1250.h"
#include <QtTest>
#include <iconv.h>

// Checks our table against the C library's converter for every byte.
class TestCp1250 : public QObject {
    Q_OBJECT
private slots:
    void everyByteMatchesIconv() {
        iconv_t cd = iconv_open("UTF-16LE", "CP1250");
        QVERIFY(cd != iconv_t(-1));
        int undefined = 0;
        for (int b = 0; b < 256; ++b) {
            char in = static_cast<char>(b);
            char16_t out = 0;
            char* inp = &in;
            char* outp = reinterpret_cast<char*>(&out);
            size_t inLeft = 1, outLeft = 2;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1);
            if (ok) {
                QCOMPARE(Cp1250ToChar(static_cast<unsigned char>(b)).unicode(), out);
            } else {
                // Undefined in the code page: kept as the C1 control of the same value.
                ++undefined;
                QCOMPARE(Cp1250ToChar(static_cast<unsigned char>(b)).unicode(), char16_t(b));
            }
        }
        iconv_close(cd);
        QCOMPARE(undefined, 5);
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
