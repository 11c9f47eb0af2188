#pragma once
// vardel-sim started for one test on a pseudo-terminal of its own.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class Simulator {
public:
    explicit Simulator(const QStringList& extra, const QString& device = "TR100.dat") {
        const QString bin = qEnvironmentVariable("VARDEL_BIN");
        link_ = dir_.path() + "/tty";
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(bin + "/vardel-sim",
                       QStringList{"--device", bin + '/' + device, "--pty", link_} + extra);
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
    bool linkRemoved() const { return !QFileInfo::exists(link_) && !QFileInfo(link_).isSymLink(); }

private:
    QTemporaryDir dir_;
    QString link_;
    QProcess process_;
    bool started_ = false;
};
