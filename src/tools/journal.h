#pragma once
// A journal beside the log file: every appended log line goes there at once, flushed, so a
// crash or a power cut loses nothing. A clean close removes it; the next start recovers it.
#include <QDateTime>
#include <QFile>
#include <QString>

class LogJournal {
public:
    static QString PathFor(const QString& logPath) { return logPath + QStringLiteral(".journal"); }
    // Renames a journal left by an earlier run to the log's name with the time and
    // ".recovered.log"; returns the new path, or empty when there was none.
    static QString Recover(const QString& logPath, const QDateTime& now);

    // Names this run's journal; the file is created with the first line.
    void Open(const QString& logPath);
    void Append(const QString& line);
    void Remove();
    bool isOpen() const { return file_.isOpen(); }

private:
    QFile file_;
};
