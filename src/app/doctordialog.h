#pragma once
// "Diagnostyka łącza…": the line doctor in the window. It tries the baud rates and parities
// (and addresses) with reads of one register, times the replies and says in plain words what
// limits the line. It never writes; the line runs as before when it ends.
#include "tools/linedoctor.h"
#include <QDialog>
#include <QList>
#include <QString>
#include <optional>

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class DoctorDialog : public QDialog {
    Q_OBJECT
public:
    struct Setup {
        DoctorLine line;
        LineDoctor::ProbeFor probe;
        DoctorFindings start; // given, timeoutMs, echoRemoved, latencyMs
        QString registerText; // which register the probes read, for the operator
        QString addresses;    // the first text of "Adresy:"
    };
    DoctorDialog(Setup setup, QWidget* parent);

    // Runs the doctor on the addresses typed; the dialog stays responsive and Esc or
    // "Zatrzymaj" ends the run.
    void Run();
    bool running() const { return running_; }
    // The findings of the last finished run, and its sentences.
    const std::optional<DoctorFindings>& findings() const { return findings_; }
    QStringList verdict() const;
    // The operator ended the last run before it was done.
    bool interrupted() const { return stopRequested_; }
    // The operator asked for the setting found to be set in the window.
    bool applyChosen() const { return applyChosen_; }

protected:
    void reject() override;

private:
    void Stop();
    void Finished(const DoctorFindings& f);

    Setup setup_;
    QLineEdit* addresses_;
    QPushButton* start_;
    QPushButton* apply_;
    QProgressBar* progress_;
    QPlainTextEdit* report_;
    std::optional<DoctorFindings> findings_;
    bool running_ = false;
    bool stopRequested_ = false;
    bool applyChosen_ = false;
};
