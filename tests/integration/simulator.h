#pragma once
// vardel-sim started for one test on a pseudo-terminal of its own, or on a TCP port of its own
// with "--tcp" "0" among the options. VARDEL_SIM_LINE=tcp serves every test's simulator over
// TCP, so the same cases run against a serial device server.
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
        const bool tcp =
            extra.contains("--tcp") || qEnvironmentVariable("VARDEL_SIM_LINE") == "tcp";
        const QStringList line = extra.contains("--tcp") ? QStringList{}
                                 : tcp                   ? QStringList{"--tcp", "0"}
                                                         : QStringList{"--pty", link_};
        process_.start(bin + "/vardel-sim", QStringList{"--device", path} + line + extra +
                                                (traffic ? QStringList{"-v"} : QStringList{}));
        if (!process_.waitForReadyRead(5000)) return;
        const QString name = QString::fromUtf8(process_.readLine().trimmed());
        started_ = tcp ? name.startsWith("tcp:127.0.0.1:") : name == link_;
        if (tcp) link_ = name;
    }
    ~Simulator() { Stop(); }

    bool started() const { return started_; }
    // The port a master opens: the pseudo-terminal's link or "tcp:127.0.0.1:PORT".
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
    // A line to the simulator's standard input, as its --control - reads it.
    void Tell(const QByteArray& line) {
        process_.write(line + '\n');
        process_.waitForBytesWritten(1000);
    }
    bool linkRemoved() const { return !QFileInfo::exists(link_) && !QFileInfo(link_).isSymLink(); }

private:
    QTemporaryDir dir_;
    QString link_;
    QProcess process_;
    bool started_ = false;
};
