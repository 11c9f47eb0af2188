#include "logfile.h"
#include "regmap/cp1250.h"
#include "regmap/error.h"
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

QByteArray LogFileBytes(const QString& logText) {
    QString text = logText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace('\n', QLatin1String("\r\n"));
    return StringToCp1250(text);
}

namespace {

[[noreturn]] void CannotCreate(const QString& path, const QString& why) {
    throw AppError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, why));
}

// Everything written reaches the disk, or the reason why not.
QString WriteWhole(QFile& file, const QByteArray& bytes) {
    const QString failure = WriteAllBytes(file, bytes);
    if (!failure.isEmpty()) return failure;
    if (!file.flush()) return file.errorString();
#ifndef Q_OS_WIN
    if (::fsync(file.handle()) != 0) return QString::fromLocal8Bit(std::strerror(errno));
#endif
    if (file.size() != bytes.size()) return QStringLiteral("zapisano tylko część pliku");
    return {};
}

std::filesystem::path NativePath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

} // namespace

QString WriteAllBytes(QFileDevice& file, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) return file.errorString();
        done += written;
    }
    return {};
}

void SaveLogFile(const QString& path, const QString& logText) {
    SaveFileSafely(path, LogFileBytes(logText));
}

void SaveFileSafely(const QString& path, const QByteArray& bytes) {
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(fullPath);
    // Only a regular file is replaced; a device, a pipe or a folder of that name is left be.
    if (info.exists() && !info.isFile())
        CannotCreate(fullPath, QStringLiteral("nie jest zwykłym plikiem"));
    // A link keeps pointing where it did: the file it names is the one replaced.
    const QString target = !info.isSymLink() ? fullPath
                           : info.exists()   ? info.canonicalFilePath()
                                             : info.symLinkTarget();
    // A temporary file beside it is written and checked whole, then renamed over it, so a
    // failed save leaves the earlier file as it was.
    QTemporaryFile temporary(target + QStringLiteral(".XXXXXX"));
    // Unbuffered, so a full disk fails the write that meets it, with its own reason.
    if (!static_cast<QFile&>(temporary).open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        CannotCreate(fullPath, temporary.errorString());
    const QString failure = WriteWhole(temporary, bytes);
    if (!failure.isEmpty()) CannotCreate(fullPath, failure);
    const QFile::Permissions kept =
        info.exists() ? QFile(target).permissions()
                      : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    temporary.setPermissions(kept);
    temporary.close();
    std::error_code error;
    std::filesystem::rename(NativePath(temporary.fileName()), NativePath(target), error);
    if (error) CannotCreate(fullPath, QString::fromLocal8Bit(error.message().c_str()));
    temporary.setAutoRemove(false); // it is the file now
}

QString LogFileStamp(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return {};
    QString stamp =
        QStringLiteral("%1:%2").arg(info.lastModified().toMSecsSinceEpoch()).arg(info.size());
#ifndef Q_OS_WIN
    // A save renames a new file over the old one, so the file's number changes with each.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        stamp += QStringLiteral(":%1").arg(static_cast<qulonglong>(status.st_ino));
#endif
    return stamp;
}

QString FreeDatedLogPath(const QString& logPath, const QDateTime& now, const QString& suffix) {
    QString base = logPath;
    if (base.endsWith(QLatin1String(".log"))) base.chop(4);
    base += '.' + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString path = base + suffix;
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = base + QStringLiteral("-%1").arg(n) + suffix;
    return path;
}

QString LogPathFor(const QString& executablePath) {
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString base = dot > 0 ? name.left(dot) : name;
    return info.absolutePath() + '/' + base + QStringLiteral(".log");
}
