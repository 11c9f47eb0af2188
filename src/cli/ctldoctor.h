#pragma once
// The line doctor's reasoning: which line settings it tries and in what order, the response
// times it measured, and what it tells the technician in plain words. The requests
// themselves are vardelctl's; nothing here touches a line.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct LineTry {
    QString baud;   // "19200"
    QString parity; // none, even or odd, as --parity takes it
    bool operator==(const LineTry&) const = default;
};
// "19200,e,8,1" and the like, as the line runs it.
QString LineTryText(const LineTry& t);
// Every standard rate with each parity: the given setting first, then the common ones first
// (19200, 9600, 38400, 115200, 57600, 4800, 2400, 1200; even, none, odd).
QList<LineTry> LineTries(const LineTry& given);

struct ResponseTimes {
    int count = 0; // replies timed
    double medianMs = 0, p95Ms = 0, maxMs = 0;
};
ResponseTimes TimesOf(QList<double> ms);

struct DoctorFindings {
    struct Answer {
        LineTry line;
        int slave = 0;
    };
    LineTry given;
    QString addresses;        // "247", "1-10": what was asked
    int settingsTried = 0;    // how many line settings were tried
    QList<Answer> answered;   // in the order found
    bool echo = false;        // the adapter sent the requests back
    bool echoRemoved = false; // --echo was given
    ResponseTimes times;      // at the first setting that answered
    int reads = 0;            // the reads timed there, answered or not
    int wireMs = 0;           // the reply's own time on the line at that setting
    int timeoutMs = 40;
    std::optional<int> latencyMs; // the USB adapter's latency timer, where the system shows it
};
// The findings in plain Polish sentences: what answered, how to set the line, what limits it.
QStringList DoctorVerdict(const DoctorFindings& f);
