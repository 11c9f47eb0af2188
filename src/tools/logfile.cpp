#include "logfile.h"
#include "regmap/cp1250.h"
#include "regmap/error.h"
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
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
    if (const QString failure = FlushToDisk(file); !failure.isEmpty()) return failure;
    if (file.size() != bytes.size()) return QStringLiteral("zapisano tylko część pliku");
    return {};
}

#ifdef Q_OS_WIN
QString SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed()
                                 : QStringLiteral("błąd systemu %1").arg(code);
    LocalFree(text);
    return message;
}

// Windows renames over an existing file only when told to; through to the disk as well.
QString RenameOver(const QString& from, const QString& to) {
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return SystemMessage(GetLastError());
}
#else
QString RenameOver(const QString& from, const QString& to) {
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), error);
    return error ? QString::fromLocal8Bit(error.message().c_str()) : QString();
}
#endif

} // namespace

QString FlushToDisk(QFileDevice& file, [[maybe_unused]] bool dataOnly) {
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle))
        return SystemMessage(GetLastError());
#else
    if ((dataOnly ? ::fdatasync(file.handle()) : ::fsync(file.handle())) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
#endif
    return {};
}

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

namespace {
// Where a save to the path writes: the path itself, or the file a link there names (a link
// keeps pointing where it did). Only a regular file is replaced; a device, a pipe or a folder
// of that name is refused and left be.
struct SaveTarget {
    QString fullPath, target;
    bool exists = false;
};
SaveTarget SaveTargetOf(const QString& path) {
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(fullPath);
    if (info.exists() && !info.isFile())
        CannotCreate(fullPath, QStringLiteral("nie jest zwykłym plikiem"));
    const QString target = !info.isSymLink() ? fullPath
                           : info.exists()   ? info.canonicalFilePath()
                                             : info.symLinkTarget();
    return {fullPath, target, info.exists()};
}
} // namespace

void CheckOutputPath(const QString& path) {
    const SaveTarget to = SaveTargetOf(path);
    QTemporaryFile probe(to.target + QStringLiteral(".XXXXXX"));
    if (!probe.open()) CannotCreate(to.fullPath, probe.errorString());
}

void SaveFileSafely(const QString& path, const QByteArray& bytes) {
    const auto [fullPath, target, exists] = SaveTargetOf(path);
    // A temporary file beside it is written and checked whole, then renamed over it, so a
    // failed save leaves the earlier file as it was.
    QString temporaryPath;
    {
        QTemporaryFile temporary(target + QStringLiteral(".XXXXXX"));
        // Unbuffered, so a full disk fails the write that meets it, with its own reason.
        if (!static_cast<QFile&>(temporary).open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            CannotCreate(fullPath, temporary.errorString());
        const QString failure = WriteWhole(temporary, bytes);
        if (!failure.isEmpty()) CannotCreate(fullPath, failure);
        const QFile::Permissions kept =
            exists ? QFile(target).permissions()
                   : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        temporary.setPermissions(kept);
        // A temporary file keeps its handle open until it is destroyed, and Windows renames
        // no open file: it is let go here and removed by hand if the rename fails.
        temporary.setAutoRemove(false);
        temporaryPath = temporary.fileName();
    }
    const QString renameFailure = RenameOver(temporaryPath, target);
    if (!renameFailure.isEmpty()) {
        QFile::remove(temporaryPath);
        CannotCreate(fullPath, renameFailure);
    }
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
