#include "platform.h"
#include "regmap/error.h"
#include "smalldisk.h"
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
        const QString expected =
            QFileInfo("/opt/v/vardel.log").absoluteFilePath(); // Z:/… on Windows
        QCOMPARE(LogPathFor("/opt/v/vardel"), expected);
        QCOMPARE(LogPathFor("/opt/v/vardel.exe"), expected);
    }

    // A full disk must not replace a good log with a truncated one, whether the new log is
    // larger than the disk or a few bytes on a disk with no room left.
    void fullDiskKeepsTheEarlierLog_data() {
        QTest::addColumn<int>("lineLength");
        QTest::addColumn<bool>("fillFirst");
        QTest::newRow("larger than the disk") << 100000 << false;
        QTest::newRow("a short log, the disk full") << 10 << true;
        QTest::newRow("20 KB, the disk full") << 20000 << true;
    }
    void fullDiskKeepsTheEarlierLog() {
        QFETCH(int, lineLength);
        QFETCH(bool, fillFirst);
        const SmallDisk dir("64k");
        SKIP_ON_WINDOWS("a small tmpfs");
        if (!dir.mounted()) QSKIP("mounting a small tmpfs needs root");
        const QString path = dir.path() + "/vardel.log";
        SaveLogFile(path, "dobry\n");
        if (fillFirst) {
            QFile filler(dir.path() + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'f')) > 0) {
            }
            filler.close();
        }
        try {
            SaveLogFile(path, QString(lineLength, 'x') + '\n');
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY(
                e.message().startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)));
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("dobry\r\n"));
        f.close();
        QFile::remove(dir.path() + "/filler");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList{"vardel.log"}); // no leftovers
    }

    // A device, a pipe or a folder under the log's name is refused and stays what it is.
    void onlyARegularFileIsReplaced_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("character device") << "device";
        QTest::newRow("pipe") << "fifo";
        QTest::newRow("folder") << "folder";
    }
    void onlyARegularFileIsReplaced() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.path() + "/special.log";
        const QStringList make = kind == "device" ? QStringList{"mknod", path, "c", "1", "7"}
                                                  : QStringList{"mkfifo", path};
        if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else {
            SKIP_ON_WINDOWS("FIFOs and device nodes");
            if (QProcess::execute(make[0], make.mid(1)) != 0) QSKIP("cannot make it (needs root?)");
        }
        const QFileInfo before(path);
        try {
            SaveLogFile(path, "x\n");
            QFAIL("no error");
        } catch (const AppError& e) {
            QVERIFY2(e.message().contains(QString::fromUtf8("nie jest zwykłym plikiem")),
                     qPrintable(e.message()));
        }
        const QFileInfo after(path);
        QVERIFY(!after.isFile());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(QDir(dir.path())
                     .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                     .size(),
                 1);
    }

    // Saving through a link replaces the file it names and keeps the link.
    void saveThroughALink() {
        SKIP_ON_WINDOWS("QFile::link makes a .lnk shortcut, not a link");
        QTemporaryDir dir;
        const QString real = dir.path() + "/real.log", link = dir.path() + "/link.log";
        SaveLogFile(real, "one\n");
        QVERIFY(QFile::link(real, link));
        SaveLogFile(link, "two\n");
        QVERIFY(QFileInfo(link).isSymLink());
        QFile f(real);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("two\r\n"));
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
