#pragma once
// The operator's tools over the transaction engine: monitoring a register, the calibration
// run, and the communications reset.
#include "txn/engine.h"
#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <functional>

// Mean and standard error of integer sample texts, as the calibration logs them. Throws
// AppError for a sample that is not an integer.
struct CalibrationResult {
    std::int32_t mean = 0;
    float error = 0;
};
CalibrationResult ComputeCalibration(const QStringList& samples);
// Fixed point with 3 decimals and the decimal comma, at most 8 significant digits.
QString FormatCalibrationError(float error);

class Calibration : public Continuation {
public:
    Calibration(TransactionEngine& engine, RegisterTree& tree, Frontend& frontend);

    QStringList SampleList;
    QList<QDateTime> SampleTimes; // when each sample's reply came
    // Why the last run ended without its result; empty when it ended with it.
    QString StopReason;
    int FailedSampleReads = 0; // of the last run
    bool Calibrating = false;
    std::int32_t SamplesLeft = 0;
    // Receives the mean for the result field.
    std::function<void(const QString&)> setResult;

    // Runs the whole calibration. False when it ended early: stopped, or a sample read that
    // got no reply (the port lost, say), which ends the run with a short log line.
    bool Start(const QString& range, const QString& countText);
    // Stores the value text into the range's register, exactly as given; the register
    // written, or none when the range has none.
    TreeNode* Store(const QString& range, const QString& valueText);
    void ShowCalibrationResult();

    bool TakeNext() override;
    bool Abandon() override;

private:
    QString WhyNotFinished(bool asked, bool linkWasOpen) const;

    TransactionEngine& engine_;
    RegisterTree& tree_;
    Frontend& frontend_;
    // The register sampled; only its own replies are samples.
    TreeNode* sampleNode_ = nullptr;
    bool finished_ = false; // the last sample was taken
};

// The register a calibration range stores its mean into: N100 for "100R", N400 for "400R";
// empty for any other range.
QString StoreRegisterName(const QString& range);

constexpr int kMinimumPeriodMs = 100;
constexpr int kSamplePauseMs = 200;

class Monitor {
public:
    Monitor(TransactionEngine& engine, Frontend& frontend);

    // Its ticks call Tick; the owner connects them inside its error handling.
    QTimer Timer1;
    // Called when a tick finds the port closed, or meets an error, and switches monitoring off.
    std::function<void()> onStopped;

    // After the check box changed its state.
    void Click(bool ticked, const QString& periodText, const QString& registerLabel);
    void Tick();
    // The register monitored, if any; none after ForgetNodes.
    const TreeNode* Monitored() const { return monitored_; }
    // Called before the tree is replaced.
    void ForgetNodes() { monitored_ = nullptr; }

private:
    void WriteHeader(TreeNode* node, const RegisterNode* record);
    void ReadGuarded();
    void Stop();

    TransactionEngine& engine_;
    Frontend& frontend_;
    // The register read, as the last header names it.
    TreeNode* monitored_ = nullptr;
};

// One diagnostics request: restart communications, clear the event log.
void SendReset(TransactionEngine& engine);
