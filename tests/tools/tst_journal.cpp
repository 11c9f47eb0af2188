#include "platform.h"
#include "smalldisk.h"
#include "tools/journal.h"
#include "tools/logfile.h"
#include <QtTest>

namespace {
QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}
void Put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

// Journals of several windows beside one log, their recovery and their failures.
class TestJournal : public QObject {
    Q_OBJECT
    const QDateTime now{QDate(2026, 12, 8), QTime(10, 20, 30)};

private slots:
    // Two restarts in the same second: the second recovery takes a free name.
    void recoveryTakesAFreeName() {
        QTemporaryDir dir;
        const QString log = dir.path() + "/vardel.log";
        const QString taken = dir.path() + "/vardel.2026-12-08_10-20-30.recovered.log";
        Put(taken, "earlier\r\n");
        Put(LogJournal::PathFor(log), "lost?\r\n");
        const QStringList recovered = LogJournal::Recover(log, now);
        QCOMPARE(recovered,
                 QStringList{dir.path() + "/vardel.2026-12-08_10-20-30-2.recovered.log"});
        QCOMPARE(Contents(recovered[0]), QByteArray("lost?\r\n"));
        QCOMPARE(Contents(taken), QByteArray("earlier\r\n"));
        QVERIFY(!QFile::exists(LogJournal::PathFor(log)));
    }

    // A running window's journal is neither recovered nor shared: a second window gets one
    // of its own, and an empty close of either leaves the other's alone.
    void eachWindowHasItsOwnJournal() {
        QTemporaryDir dir;
        const QString log = dir.path() + "/vardel.log";
        LogJournal first, second;
        first.Open(log);
        QVERIFY(first.Append("pierwsze"));
        QVERIFY(LogJournal::Recover(log, now).isEmpty());
        second.Open(log);
        QCOMPARE(second.path(), LogJournal::PathFor(log, 2));
        QVERIFY(second.Append("drugie"));
        QVERIFY(first.Append("pierwsze 2"));
        second.Remove();
        QCOMPARE(Contents(first.path()), QByteArray("pierwsze\r\npierwsze 2\r\n"));
        QVERIFY(!QFile::exists(second.path()));
    }

    // A journal that could not be recovered is never reused by a new window.
    void anUnrecoveredJournalIsNotWrittenOver() {
        QTemporaryDir dir;
        const QString log = dir.path() + "/vardel.log";
        Put(LogJournal::PathFor(log), "stare\r\n");
        LogJournal journal;
        journal.Open(log); // without recovering first
        QCOMPARE(journal.path(), LogJournal::PathFor(log, 2));
        QVERIFY(journal.Append("nowe"));
        QCOMPARE(Contents(LogJournal::PathFor(log)), QByteArray("stare\r\n"));
    }

    // A crash leaves locks that no window of this machine holds: the journal is recovered all
    // the same. A lock just made (another window starting) is left alone.
    void staleLocksAreRecovered_data() {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<bool>("recovered");
        QTest::newRow("empty, from a power cut") << "empty old" << true;
        QTest::newRow("empty, a moment old") << "empty new" << false;
        QTest::newRow("not a lock's contents") << "garbage" << true;
        QTest::newRow("another machine's") << "other host" << true;
        QTest::newRow("a folder") << "folder" << true;
        QTest::newRow("a folder with something in it") << "full folder" << true;
    }
    void staleLocksAreRecovered() {
        QFETCH(QString, lock);
        QFETCH(bool, recovered);
        QTemporaryDir dir;
        const QString log = dir.path() + "/vardel.log";
        const QString journal = LogJournal::PathFor(log);
        const QString lockPath = journal + ".lock";
        Put(journal, "przed awarią\r\n");
        if (lock.startsWith("empty")) {
            Put(lockPath, "");
            if (lock == "empty old") {
                QFile f(lockPath);
                QVERIFY(f.open(QIODevice::ReadWrite));
                QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                      QFileDevice::FileModificationTime));
            }
        } else if (lock == "garbage") {
            Put(lockPath, "\x01\x02 not a pid\n");
        } else if (lock == "other host") {
            Put(lockPath, QByteArray::number(QCoreApplication::applicationPid()) +
                              "\ntst_journal\ninny-komputer.example\n");
        } else {
            QVERIFY(QDir().mkdir(lockPath));
            if (lock == "full folder") Put(lockPath + "/x", "x");
        }
        const QStringList got = LogJournal::Recover(log, now);
        QCOMPARE(got.size(), recovered ? 1 : 0);
        if (!recovered) return;
        QCOMPARE(Contents(got[0]), QByteArray("przed awarią\r\n"));
        QVERIFY(!QFile::exists(journal));
        if (lock == "full folder") { // set aside, not deleted
            const QStringList aside = QDir(dir.path()).entryList({"*.stale"}, QDir::Dirs);
            QCOMPARE(aside.size(), 1);
            QVERIFY(QFile::exists(dir.path() + '/' + aside[0] + "/x"));
        }
        LogJournal next; // and the next window journals there again
        QVERIFY(next.Open(log));
        QCOMPARE(next.path(), journal);
    }

    void rewriteHoldsTheWholeLog() {
        QTemporaryDir dir;
        LogJournal journal;
        journal.Open(dir.path() + "/vardel.log");
        QVERIFY(journal.Rewrite(QString())); // nothing yet: no file
        QVERIFY(!QFile::exists(journal.path()));
        QVERIFY(journal.Append("a"));
        QVERIFY(journal.Rewrite(QString::fromUtf8("a notatka ł\nb\n")));
        QVERIFY(journal.Append("c"));
        QCOMPARE(Contents(journal.path()), QByteArray("a notatka \xB3\r\nb\r\nc\r\n"));
    }

    // A journal that cannot be written says so once; the log goes on without it.
    void failureIsReportedOnce() {
        LogJournal journal;
        QVERIFY(!journal.Open("/nonexistent/folder/vardel.log"));
        QVERIFY(!journal.failure().isEmpty());
        QVERIFY(journal.Append("a")); // said once already, by Open's result
        QVERIFY(journal.Append("b"));
        QVERIFY(journal.Rewrite("a\nb\n"));
    }

    void fullDiskIsReportedOnce() {
        const SmallDisk dir("16k");
        SKIP_ON_WINDOWS("a small tmpfs");
        if (!dir.mounted()) QSKIP("mounting a small tmpfs needs root");
        LogJournal journal;
        journal.Open(dir.path() + "/vardel.log");
        int failures = 0;
        for (int i = 0; i < 2000; ++i)
            failures += journal.Append(QString(40, 'x')) ? 0 : 1;
        QCOMPARE(failures, 1);
        QVERIFY2(journal.failure().contains("space", Qt::CaseInsensitive),
                 qPrintable(journal.failure()));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
