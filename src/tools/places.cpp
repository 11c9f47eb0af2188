#include "places.h"
#include "logfile.h"
#include "regmap/devicefile.h"
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
QString InstalledDevices(const QString& executableFolder) {
    return QDir::cleanPath(executableFolder + QStringLiteral("/../share/vardel/devices"));
}

// Whether a file can be made in the folder, found by making one. Permission bits do not tell:
// on Windows a folder under Program Files looks writable to Qt, and root passes every check
// on a read-only disk.
bool FolderTakesFiles(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral("/.vardel-probe-XXXXXX"));
    return probe.open();
}
} // namespace

Places PlacesFor(const QString& executablePath, const QString& userDataFolder) {
    const QFileInfo executable(executablePath);
    const QString folder = executable.absolutePath();
    const QString installed = InstalledDevices(folder);
    Places places;
    const bool isInstalled = QFileInfo(installed).isDir();
    if (!isInstalled && FolderTakesFiles(folder)) {
        places.logPath = LogPathFor(executablePath);
        places.writableFolder = folder;
        places.deviceFolders = {folder};
        return places;
    }
    QDir().mkpath(userDataFolder);
    places.logPath = LogPathFor(userDataFolder + '/' + executable.fileName());
    places.writableFolder = userDataFolder;
    // A portable folder that cannot be written (a locked USB stick, a CD) still lists its own
    // device files.
    places.deviceFolders = {userDataFolder + QStringLiteral("/devices"),
                            isInstalled ? installed : folder};
    return places;
}

QStringList DeviceFileNames(const Places& places) {
    QStringList names;
    for (const QString& folder : places.deviceFolders)
        for (const QString& name : ListDeviceFiles(folder))
            if (!names.contains(name)) names << name;
    return names;
}

QString DeviceFilePath(const Places& places, const QString& name) {
    for (const QString& folder : places.deviceFolders)
        if (QFileInfo::exists(folder + '/' + name)) return folder + '/' + name;
    return places.deviceFolders.value(0) + '/' + name;
}

QString FindDeviceFile(const QString& given, const QString& executablePath) {
    if (QFileInfo::exists(given) || given.contains('/') || given.contains('\\')) return given;
    const QString folder = QFileInfo(executablePath).absolutePath();
    // The window's user data folder, whichever program asks (their names differ).
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/vardel/devices");
    for (const QString& candidate : {user, InstalledDevices(folder), folder})
        if (QFileInfo(candidate + '/' + given).isFile()) return candidate + '/' + given;
    return given;
}
