#pragma once
// vardel-sim started for one test on a pseudo-terminal of its own.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class Simulator {
public:
    // The device is a file in VARDEL_BIN, or an absolute path. With traffic, the simulator
    // logs every request and reply for Requests().
    explicit Simulator(const QStringList& extra, const QString& device = "TR100.dat",
                       bool traffic = false) {
        const QString bin = qEnvironmentVariable("VARDEL_BIN");
        // "ff" and "ffi", which fonts draw as ligatures: the port's name must still read
        // back from the calibration PDF as written.
        link_ = dir_.path() + "/tty-offfice";
        process_.setProcessChannelMode(traffic ? QProcess::SeparateChannels
                                               : QProcess::ForwardedErrorChannel);
        const QString path = QDir::isAbsolutePath(device) ? device : bin + '/' + device;
        process_.start(bin + "/vardel-sim", QStringList{"--device", path, "--pty", link_} + extra +
                                                (traffic ? QStringList{"-v"} : QStringList{}));
        if (process_.waitForReadyRead(5000)) started_ = process_.readLine().trimmed() == link_;
    }
    ~Simulator() { Stop(); }

    bool started() const { return started_; }
    const QString& port() const { return link_; }
    void Stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(3000);
    }
    void Kill() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    // Stops the simulator and gives the requests it received, as hex ("F70600C8...").
    QStringList Requests() {
        Stop();
        QStringList requests;
        for (const QByteArray& line : process_.readAllStandardError().split('\n'))
            if (line.startsWith("<- $")) requests << QString::fromLatin1(line.mid(4));
        return requests;
    }
    bool linkRemoved() const { return !QFileInfo::exists(link_) && !QFileInfo(link_).isSymLink(); }

private:
    QTemporaryDir dir_;
    QString link_;
    QProcess process_;
    bool started_ = false;
};
