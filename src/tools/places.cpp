#include "places.h"
#include "logfile.h"
#include "regmap/devicefile.h"
#include <QDir>
#include <QFileInfo>

namespace {
QString InstalledDevices(const QString& executableFolder) {
    return QDir::cleanPath(executableFolder + QStringLiteral("/../share/vardel/devices"));
}
} // namespace

Places PlacesFor(const QString& executablePath, const QString& userDataFolder) {
    const QFileInfo executable(executablePath);
    const QString folder = executable.absolutePath();
    const QString installed = InstalledDevices(folder);
    Places places;
    if (!QFileInfo(installed).isDir() && QFileInfo(folder).isWritable()) {
        places.logPath = LogPathFor(executablePath);
        places.writableFolder = folder;
        places.deviceFolders = {folder};
        return places;
    }
    QDir().mkpath(userDataFolder);
    places.logPath = LogPathFor(userDataFolder + '/' + executable.fileName());
    places.writableFolder = userDataFolder;
    places.deviceFolders = {userDataFolder + QStringLiteral("/devices"), installed};
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
