#pragma once
// The log as a file: the log window's text in Windows-1250 with CR LF line ends.
#include <QByteArray>
#include <QString>

QByteArray LogFileBytes(const QString& logText);
// Replaces the file atomically: a temporary file beside it is written, checked and renamed,
// so a failed save leaves the earlier file intact. Throws AppError
// 'Cannot create file "%s". %s'.
void SaveLogFile(const QString& path, const QString& logText);
// The log file of an executable: its full path with the extension replaced by ".log".
QString LogPathFor(const QString& executablePath);
