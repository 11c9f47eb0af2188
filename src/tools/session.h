#pragma once
// One operator's session below a frontend: the loaded device's register tree, the engine over
// the owner's link with the calibration as its continuation, the monitor, the line's request
// statistics, the serial numbers identification gave and the calibration records. The window
// and vardelctl each build one over their link; tests build it over a scripted one.
#include "tools/calrecord.h"
#include "tools/operator.h"
#include "tools/requeststats.h"
#include <QHash>
#include <functional>

// Where the session's requests go, as its records name it.
struct LineContext {
    QString portPath, lineSettings;
};

class OperatorSession {
public:
    OperatorSession(ModbusLink& link, Frontend& frontend);
    OperatorSession(const OperatorSession&) = delete;
    OperatorSession& operator=(const OperatorSession&) = delete;

    RegisterTree& tree() { return tree_; }
    TransactionEngine& engine() { return engine_; }
    Calibration& calibration() { return calibration_; }
    Monitor& monitor() { return monitor_; }

    // Replaces the tree by a device file's bytes; nothing refers to the old nodes after it.
    // The records name the file and the SHA-256 of these bytes, whatever the disk holds later.
    // Throws AppError for a bad file.
    void LoadDevice(const QString& name, const QByteArray& bytes);
    const QString& deviceName() const { return deviceName_; }
    const QString& deviceSha256() const { return deviceSha256_; }

    // A port opened: the statistics start again and the last port's serial numbers go.
    void PortOpened(const LineContext& line);
    // The line changed its settings on the open port.
    void LineChanged(const QString& lineSettings) { line_.lineSettings = lineSettings; }
    const LineContext& line() const { return line_; }

    // Every request that ended since the port opened, and the last of them.
    const RequestStats& stats() const { return stats_; }
    const TransactionOutcome& lastOutcome() const { return last_; }
    int requestsEnded() const { return ended_; }
    int validReplies() const { return stats_.valid(); }

    // The serial number the device at a slave address gave this port; empty: not known.
    void NoteSerialNumber(const QString& slave, const QString& serialNumber);
    QString SerialNumberOf(const QString& slave) const { return serialNumbers_.value(slave); }

    // A calibration run at the frontend's slave with a record of its own, finished or not;
    // an error ends the run on record and is thrown on. False when it ended early.
    bool Calibrate(const QString& range, const QString& countText);
    // A store of the range now would go into the record of a run that finished this session.
    bool StoreFollowsRun(const QString& range) const;
    // Stores the value into the range's register: into its run's record when it is the first
    // store after that run, else in a record of its own, so no record written is changed.
    const TreeNode* Store(const QString& range, const QString& valueText);
    const CalibrationRecord& record() const { return record_; }
    // Called whenever the record changed: fresh when it is a new record, not the last one
    // with a store added.
    std::function<void(const CalibrationRecord& record, bool fresh)> onRecord;

private:
    // The frontend as the engine and the tools see it: every request's end is counted first.
    class Relay : public Frontend {
    public:
        Relay(OperatorSession& session, Frontend& frontend)
            : session_(session), frontend_(frontend) {}
        void ShowMessage(const QString& text) override { frontend_.ShowMessage(text); }
        void ProcessEvents() override { frontend_.ProcessEvents(); }
        void SetTxText(const QString& text) override { frontend_.SetTxText(text); }
        void SetRxText(const QString& text) override { frontend_.SetRxText(text); }
        void AppendLog(const QString& line) override { frontend_.AppendLog(line); }
        bool MonitorChecked() const override { return frontend_.MonitorChecked(); }
        void StartRepaintTimer() override { frontend_.StartRepaintTimer(); }
        void Pause(int milliseconds) override { frontend_.Pause(milliseconds); }
        QString SlaveText() const override { return frontend_.SlaveText(); }
        void TransactionEnded(const TransactionOutcome& outcome) override;

    private:
        OperatorSession& session_;
        Frontend& frontend_;
    };

    CalibrationRecord NewRecord(const QString& range, const QString& countText) const;
    void FinishRecord(bool finished, const QString& reason);
    void RecordChanged(bool fresh);

    Relay relay_;
    RegisterTree tree_;
    TransactionEngine engine_;
    Calibration calibration_;
    Monitor monitor_;
    QString deviceName_, deviceSha256_;
    LineContext line_;
    RequestStats stats_;
    TransactionOutcome last_;
    int ended_ = 0;
    QHash<QString, QString> serialNumbers_;
    CalibrationRecord record_;
    bool recordOfAFinishedRun_ = false;
};
