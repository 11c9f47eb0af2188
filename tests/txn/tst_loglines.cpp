#include "regmap/error.h"
#include "tools/logfile.h"
#include "txn/loglines.h"
#include <QtTest>

class TestLogLines : public QObject {
    Q_OBJECT
private slots:
    void overlay_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("result");
        QTest::newRow("mean line") << "123"
                                   << "========" << 17 << "========" + QString(8, ' ') + "123 ";
        QTest::newRow("empty text pads") << ""
                                         << "abc" << 17 << "abc" + QString(14, ' ');
        QTest::newRow("overwrite inside")
            << "xyz"
            << "abcdefghijklmnopqrstu" << 17 << "abcdefghijklmnopxyztu";
        QTest::newRow("overwrite past end") << "xyz"
                                            << "abcdefghijklmnopq" << 17 << "abcdefghijklmnopxyz";
        QTest::newRow("column 0 prepends") << "12"
                                           << "abc" << 0 << "12abc";
        QTest::newRow("column 1") << "X"
                                  << "abc" << 1 << "Xbc";
    }
    void overlay() {
        QFETCH(QString, text);
        QFETCH(QString, line);
        QFETCH(int, column);
        QFETCH(QString, result);
        QCOMPARE(OverlayText(text, line, column), result);
    }

    void transactionLine_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("line");
        QTest::newRow("read") << "1000"
                              << "Temp"
                              << "23,50"
                              << "1000 Temp       23,50";
        QTest::newRow("5-char address") << "$0010"
                                        << "Status"
                                        << "$0003"
                                        << "$0010Status     $0003";
        QTest::newRow("write") << "300"
                               << "N100:"
                               << "8"
                               << "300  N100:      8";
        QTest::newRow("long name cut by value") << "12"
                                                << "Wspolczynnik korekcji"
                                                << "1,25"
                                                << "12   Wspolczynni1,25rekcji";
        QTest::newRow("no value") << "7"
                                  << "R0"
                                  << ""
                                  << "7    R0";
        QTest::newRow("nothing") << ""
                                 << ""
                                 << ""
                                 << "";
    }
    void transactionLine() {
        QFETCH(QString, address);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, line);
        QCOMPARE(TransactionLine(address, name, value), line);
    }

    void logFileBytes() {
        QCOMPARE(LogFileBytes("a\n\nb\n"), QByteArray("a\r\n\r\nb\r\n"));
        QCOMPARE(LogFileBytes(QString::fromUtf8("zażółć\tx\n")),
                 QByteArray("za\xBF\xF3\xB3\xE6\tx\r\n"));
    }

    void logPath() {
        QCOMPARE(LogPathFor("/opt/v/vardel"), QStringLiteral("/opt/v/vardel.log"));
        QCOMPARE(LogPathFor("/opt/v/vardel.exe"), QStringLiteral("/opt/v/vardel.log"));
    }

    // A full disk must not replace a good log with a truncated one.
    void fullDiskKeepsTheEarlierLog() {
        QTemporaryDir dir;
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", dir.path()});
        if (!mount.waitForFinished(5000) || mount.exitCode() != 0)
            QSKIP("mounting a small tmpfs needs root");
        struct Unmount {
            QString path;
            ~Unmount() { QProcess::execute("umount", {path}); }
        } unmount{dir.path()};
        const QString path = dir.path() + "/vardel.log";
        SaveLogFile(path, "dobry\n");
        try {
            SaveLogFile(path, QString(100000, 'x') + '\n'); // larger than the whole disk
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY(
                e.message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)));
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("dobry\r\n"));
        f.close();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList{"vardel.log"}); // no leftovers
    }

    void saveReplacesAndFailsCleanly() {
        QTemporaryDir dir;
        const QString path = dir.path() + "/x.log";
        SaveLogFile(path, "one\n");
        SaveLogFile(path, "two\n");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("two\r\n"));
        const QString bad = dir.path() + "/missing/dir/x.log";
        try {
            SaveLogFile(bad, "x\n");
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY(e.message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(bad)));
        }
    }
};

QTEST_GUILESS_MAIN(TestLogLines)
#include "tst_loglines.moc"
