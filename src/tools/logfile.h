#pragma once
// The log as a file: the log window's text in Windows-1250 with CR LF line ends.
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

QByteArray LogFileBytes(const QString& logText);
// Replaces a regular file atomically: a temporary file beside it is written, checked to the
// disk and renamed over it, so a failed save leaves the earlier file intact. A path that names
// anything but a regular file is refused. Throws AppError 'Cannot create file "%s". %s'.
// Every file the program writes goes through here.
void SaveFileSafely(const QString& path, const QByteArray& bytes);
// Whether SaveFileSafely could save there, checked before anything is done that the file is
// to record: nothing but a regular file of that name, a folder that takes a new file. Writes
// nothing that stays. Throws the same AppError as the save would.
void CheckOutputPath(const QString& path);
// The log as a file, saved as above.
void SaveLogFile(const QString& path, const QString& logText);
// Writes every byte, going on after a short write so a full disk gives its own reason; empty
// when all were written, else why not.
QString WriteAllBytes(QFileDevice& file, const QByteArray& bytes);
// The file's written bytes on the disk, not only in the system's cache (a power cut too):
// empty, or the reason why not. dataOnly leaves out the file's times where the system can.
QString FlushToDisk(QFileDevice& file, bool dataOnly = false);
// Which version of a file is there: it changes whenever the file is saved again. Empty when
// there is no file.
QString LogFileStamp(const QString& path);
// "<log without .log>.yyyy-MM-dd_HH-mm-ss" and the suffix, with "-2", "-3", ... before the
// suffix when that name is taken.
QString FreeDatedLogPath(const QString& logPath, const QDateTime& now,
                         const QString& suffix = QStringLiteral(".log"));
// The log file of an executable: its full path with the extension replaced by ".log".
QString LogPathFor(const QString& executablePath);
