#pragma once
// A journal beside the log file: every log line goes there at once, flushed to the disk, so
// a crash or a power cut loses nothing. It is the log's current lines in the log file's own
// format, so a recovered journal is a log. Each running window has a journal of its own,
// guarded by a lock file; a clean close removes it and the next start recovers the journals
// of windows that are gone.
#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>

class LogJournal {
public:
    LogJournal();
    ~LogJournal();

    // The journal of the n-th window at once: "<log>.journal", then "<log>.2.journal", ...
    static QString PathFor(const QString& logPath, int slot = 1);
    // Renames the journal of every window that is gone to the log's name with the time and
    // ".recovered.log" (a free name: "-2", "-3", ... when it is taken); returns the new paths.
    // A journal that cannot be renamed stays where it is, untouched.
    static QStringList Recover(const QString& logPath, const QDateTime& now);

    // Claims this window's journal; the file is created with the first line. False, with
    // failure() saying why, when no journal can be made there: the window goes on without.
    bool Open(const QString& logPath);
    // False exactly once: when the journal first fails (failure() says why); from then on
    // the window runs without it. The line is in the system's hands at once, so a crash of
    // the program loses nothing; Sync puts it on the disk.
    bool Append(const QString& line);
    // The lines appended so far on the disk, against a power cut; the owner calls it soon
    // after appending (the window within a quarter of a second), not once per line.
    bool Sync();
    // Replaces the journal's content with the whole log, after the operator edited it.
    bool Rewrite(const QString& logText);
    void Remove();
    QString path() const { return file_.fileName(); }
    QString failure() const { return failure_; }

private:
    bool Fail(const QString& why);

    QFile file_;
    std::unique_ptr<QLockFile> lock_;
    QString failure_;
    bool failed_ = false;
    bool unsynced_ = false;
};
