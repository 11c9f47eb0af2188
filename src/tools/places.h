#pragma once
// Where the program finds device files and writes its log. A portable folder (the Windows
// way, and build/bin) keeps everything beside the executable. An installed program
// (<prefix>/bin beside <prefix>/share/vardel/devices) writes to the user's data folder and
// lists the device files of that folder's devices/ and of the installed ones.
#include <QString>
#include <QStringList>

struct Places {
    QString logPath;           // the log file; its journal and records go beside it
    QString writableFolder;    // where the save dialog starts
    QStringList deviceFolders; // a file in an earlier folder wins over one of the same name
};

// A portable folder that cannot be written also writes to the user's data folder and lists the
// device files beside the executable after the user's own.
// userDataFolder: the user's local data folder (QStandardPaths::AppLocalDataLocation: on
// Windows %LOCALAPPDATA%\vardel, never the roaming profile).
Places PlacesFor(const QString& executablePath, const QString& userDataFolder);
// The device file names of every folder, each once.
QStringList DeviceFileNames(const Places& places);
// The path of a listed name: in the first folder that has it (the first folder when none).
QString DeviceFilePath(const Places& places, const QString& name);
// The file a command line's device names, the same for every program: a path that exists as
// given; else a bare name from the user's own device folder (the window's, as installed),
// then the installed ones, then beside the program. As given when none has it.
QString FindDeviceFile(const QString& given, const QString& executablePath);
