#pragma once
// The line doctor for "nothing answers": which line settings it tries and in what order, the
// probes it sends (reads only, never a write), the response times it measures, and what it
// tells the technician in plain words. The window and vardelctl both run it.
#include "link/link.h"
#include "rawrequest.h"
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
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
// The addresses a technician types: one address, FROM-TO, or nothing for 247 and then 1-246.
// None for anything else; shown is the text the findings name ("5", "1-10", "1-247").
std::optional<QList<int>> DoctorAddressesOf(const QString& text, QString& shown);

// Whose controls the advice names: vardelctl's options or the window's.
enum class DoctorAudience { CommandLine, Window };
// The findings in plain Polish sentences: what answered, how to set the line, what limits it.
QStringList DoctorVerdict(const DoctorFindings& f,
                          DoctorAudience audience = DoctorAudience::CommandLine);

// What the doctor needs of a line besides its requests: new settings, and echo removal.
struct DoctorLine {
    ModbusLink& link;
    std::function<bool(const QString& settings)> apply; // false, with link.failureReason
    std::function<void(bool on)> removeEcho;
    QString settings; // what the line runs now: it runs that again when the doctor ends
    bool echoRemoved = false;
};

// Runs the doctor on an open line: each setting of LineTries at each address until one
// answers, then the remaining settings at that address alone, then 20 timed reads at the
// first that answered. The line ends as it began.
class LineDoctor {
public:
    // The probe for an address: a read of the register the doctor asks.
    using ProbeFor = std::function<RequestFrame(int slave)>;
    LineDoctor(DoctorLine line, ProbeFor probe);

    std::function<bool()> stopped;                // the operator ended the run
    std::function<void(const QString&)> progress; // a setting tried at many addresses
    std::function<void(const DoctorFindings::Answer&)> answered;
    std::function<void(int done, int total)> advanced; // requests so far, and at most
    RawExchanged exchanged;                            // each request and its reply
    std::function<void(const QString&)> refused;       // a setting the port would not take

    // f carries what the caller knows: given, addresses, timeoutMs, echoRemoved, latencyMs.
    void Run(DoctorFindings& f, const QList<int>& addresses);

private:
    enum class Heard { Answer, Echo, Nothing };
    Heard Ask(int slave);
    bool Probe(int slave, DoctorFindings& f);
    void TimeReplies(DoctorFindings& f, int reads);
    bool Stopped() const { return stopped && stopped(); }

    DoctorLine line_;
    ProbeFor probe_;
    int done_ = 0, total_ = 0;
};
