#include "journal.h"
#include "regmap/cp1250.h"
#include <QFileInfo>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

QString LogJournal::Recover(const QString& logPath, const QDateTime& now) {
    const QString journal = PathFor(logPath);
    if (!QFile::exists(journal)) return {};
    if (QFileInfo(journal).size() == 0) { // a run that logged nothing
        QFile::remove(journal);
        return {};
    }
    QString base = logPath;
    if (base.endsWith(QLatin1String(".log"))) base.chop(4);
    const QString target = base + '.' + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
                           QStringLiteral(".recovered.log");
    return QFile::rename(journal, target) ? target : QString();
}

void LogJournal::Open(const QString& logPath) {
    file_.setFileName(PathFor(logPath));
}

void LogJournal::Append(const QString& line) {
    // Created with the first line, so a run that logs nothing leaves no file.
    if (!file_.isOpen() && !file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    // The log file's own format, so a recovered journal is a log file.
    file_.write(StringToCp1250(line) + "\r\n");
    file_.flush();
#ifndef Q_OS_WIN
    ::fdatasync(file_.handle()); // on the disk, not only in the page cache: a power cut too
#endif
}

void LogJournal::Remove() {
    file_.close();
    if (!file_.fileName().isEmpty()) file_.remove();
}
