#pragma once
// A tmpfs of a few kilobytes mounted on a temporary folder for one test, to fill a disk.
// Mounting needs root; mounted() is false otherwise and the test skips.
#include <QProcess>
#include <QTemporaryDir>

class SmallDisk {
public:
    explicit SmallDisk(const char* size) {
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(size), "tmpfs",
                              dir_.path()});
        mounted_ = mount.waitForFinished(5000) && mount.exitCode() == 0;
    }
    ~SmallDisk() {
        if (mounted_) QProcess::execute("umount", {dir_.path()});
    }
    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};
