#pragma once
// vardelctl's command line: every option and command parsed and checked before the port is
// opened, so a script's mistake sends nothing.
#include "regmap/tree.h"
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct UsageError {
    QString why;
};

enum class OutputFormat { Log, Csv, Json };

struct CtlOptions {
    QString port, device, log, report;
    QString baud = QStringLiteral("19200"), parity = QStringLiteral("even");
    int slave = 247;         // the first of slaves
    QList<int> slaves{247};  // --slave 1,3,5-9: the command list runs for each in turn
    bool slaveGiven = false; // --slave was on the command line
    int timeoutMs = 40;      // the window's read window
    OutputFormat format = OutputFormat::Log;
    int retries = 0;          // further tries of a read or write without a valid reply
    bool stopOnError = false; // the first command with a failed request ends the list
    bool removeEcho = false;  // drop the adapter's echo of each request before its reply
    bool rs485 = false;       // turn a half-duplex RS-485 line to send for each request
    bool verbose = false, stats = false, help = false, version = false;
};

struct CtlCommand {
    enum class Kind {
        Read,
        Write,
        Reset,
        Monitor,
        Calibrate,
        List,
        Scan,
        Ports,
        Doctor,
        Identify,
        Snapshot,
        Compare,
        Restore,
        History,
        Procedure
    };
    Kind kind = Kind::Read;
    QString name, value, range; // snapshot: name the file; compare: name and value the files
    bool yes = false, forceOtherDevice = false; // restore
    QString records; // history: the records folder, when not the window's
    // procedure FILE.procedure.json (name) and its flags
    struct ProcedureFlags {
        QString operatorName, checker, customer, place, standards;
        QString records;        // the folder whose counter numbers the certificate
        QStringList references; // ID for every point, or POINT=ID
        std::optional<double> temperature, humidity;
        bool asFoundOnly = false, adjust = false;
    } procedure;
    qint64 periodMs = 0;
    qint64 count = 0; // monitor: 0 reads until interrupted
    bool store = false;
    int from = 1, to = 247;  // scan, doctor
    bool rangeGiven = false; // doctor: FROM-TO was given
    bool usesPort() const {
        return kind != Kind::List && kind != Kind::Ports && kind != Kind::History &&
               !(kind == Kind::Compare && !value.isEmpty());
    }
};

struct CtlPlan {
    CtlOptions options;
    QList<CtlCommand> commands;
};

// Throws UsageError for anything the command line itself gets wrong.
CtlPlan ParseCommandLine(const QStringList& args);
// Checks the commands against the device file: names exist, writes are writable and their
// values convert (a real value may be typed with a decimal point: it becomes the comma),
// calibration ranges, counts and R0 are right. Throws AppError, the reason in Polish.
void CheckAgainstDevice(CtlPlan& plan, const RegisterTree& tree);
// The record file of each of a plan's calibrate commands: FILE itself for one; for several
// FILE_1.pdf, FILE_2.pdf… (the number before the extension), so none is written over.
QStringList ReportPaths(const QString& report, int calibrations);
// The register a scan reads at each address: the device file's first register.
TreeNode* FirstRegister(const RegisterTree& tree);
// Without a device file a scan asks every address for holding register 0 (function 3): a
// device answers it with its value or with an exception, and either shows it is there.
void AddScanProbe(RegisterTree& tree);
QString UsageText();
QString HelpText();
