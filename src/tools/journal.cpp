#include "journal.h"
#include "logfile.h"
#include "regmap/cp1250.h"
#include "regmap/error.h"
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace {
constexpr int kMaxSlots = 100;

// A lock that no live process of this machine can hold: empty (a power cut between its
// creation and its first write), unreadable, a folder, or written on another machine. Qt takes
// such a lock for a live one; a live window's lock always names its process and this host.
bool CannotBeHeldHere(const QString& lockPath) {
    const QFileInfo info(lockPath);
    if (!info.exists() && !info.isSymLink()) return false;
    if (!info.isFile()) return true;
    // A window writes its lock's contents right after creating it: a moment's emptiness is
    // another window starting.
    if (info.size() == 0) return info.lastModified().secsTo(QDateTime::currentDateTime()) > 5;
    qint64 pid = 0;
    QString host, application;
    if (!QLockFile(lockPath).getLockInfo(&pid, &host, &application)) return true;
    return host != QSysInfo::machineHostName();
}

// Puts a stale lock out of the way; a folder of that name is set aside, never deleted.
void ClearStaleLock(const QString& lockPath) {
    if (!CannotBeHeldHere(lockPath)) return;
    if (QFileInfo(lockPath).isDir() && !QDir().rmdir(lockPath))
        QDir().rename(lockPath, FreeDatedLogPath(lockPath, QDateTime::currentDateTime(),
                                                 QStringLiteral(".stale")));
    else
        QFile::remove(lockPath);
}

std::unique_ptr<QLockFile> LockOf(const QString& journal) {
    const QString lockPath = journal + QStringLiteral(".lock");
    ClearStaleLock(lockPath);
    auto lock = std::make_unique<QLockFile>(lockPath);
    lock->setStaleLockTime(0); // stale only when its window is gone, however old
    return lock;
}

} // namespace

LogJournal::LogJournal() = default;
LogJournal::~LogJournal() = default;

QString LogJournal::PathFor(const QString& logPath, int slot) {
    return slot <= 1 ? logPath + QStringLiteral(".journal")
                     : logPath + QStringLiteral(".%1.journal").arg(slot);
}

QStringList LogJournal::Recover(const QString& logPath, const QDateTime& now) {
    QStringList recovered;
    for (int slot = 1; slot <= kMaxSlots; ++slot) {
        const QString journal = PathFor(logPath, slot);
        if (!QFileInfo::exists(journal)) continue;
        const std::unique_ptr<QLockFile> lock = LockOf(journal);
        if (!lock->tryLock(0)) continue;      // its window is still running
        if (QFileInfo(journal).size() == 0) { // a run that logged nothing
            QFile::remove(journal);
            continue;
        }
        const QString target = FreeDatedLogPath(logPath, now, QStringLiteral(".recovered.log"));
        if (QFile::rename(journal, target)) recovered << target;
    }
    return recovered;
}

bool LogJournal::Open(const QString& logPath) {
    for (int slot = 1; slot <= kMaxSlots; ++slot) {
        const QString journal = PathFor(logPath, slot);
        std::unique_ptr<QLockFile> lock = LockOf(journal);
        // A journal left there could not be recovered: it is never written over.
        if (!lock->tryLock(0) || QFileInfo::exists(journal)) continue;
        lock_ = std::move(lock);
        file_.setFileName(journal);
        return true;
    }
    failed_ = true;
    failure_ = QStringLiteral("nie można założyć pliku w %1")
                   .arg(QDir::toNativeSeparators(QFileInfo(logPath).absolutePath()));
    return false;
}

bool LogJournal::Fail(const QString& why) {
    failed_ = true;
    failure_ = why;
    file_.close();
    return false;
}

bool LogJournal::Append(const QString& line) {
    if (failed_) return true; // said once already
    if (!lock_) return Fail(failure_);
    // Created with the first line, so a run that logs nothing leaves no file.
    if (!file_.isOpen() &&
        !file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return Fail(file_.errorString());
    const QString failure = WriteAllBytes(file_, StringToCp1250(line) + "\r\n");
    if (!failure.isEmpty()) return Fail(failure);
    unsynced_ = true;
    return true;
}

bool LogJournal::Sync() {
    if (failed_ || !unsynced_ || !file_.isOpen()) return true;
    unsynced_ = false;
    // On the disk, not only in the page cache: a power cut too.
    const QString failure = FlushToDisk(file_, true);
    return failure.isEmpty() ? true : Fail(failure);
}

bool LogJournal::Rewrite(const QString& logText) {
    if (failed_) return true;
    if (!lock_) return Fail(failure_);
    file_.close();
    if (logText.isEmpty() && !file_.exists()) return true; // still nothing to keep
    try {
        SaveLogFile(file_.fileName(), logText);
    } catch (const AppError& error) {
        return Fail(error.message());
    }
    return true;
}

void LogJournal::Remove() {
    file_.close();
    if (lock_ && !file_.fileName().isEmpty()) file_.remove();
    lock_.reset();
}
