#pragma once
// "Procedura kalibracji…": a procedure run in a window of its own, step by step: the set-up,
// each point as found (what to apply, the live reading and its stability light, the
// standard's actual value, the samples), the adjustment confirmed once, each point as left,
// and the numbered certificate written at the end, also of a run that was stopped.
#include "report/certpdf.h"
#include "tools/identify.h"
#include "tools/procrun.h"
#include "tools/trend.h"
#include <QDialog>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

class ProcedureWindow : public QDialog {
    Q_OBJECT
public:
    struct Setup {
        Procedure procedure;
        QString procedureFile, standardsFile, recordsFolder;
        CertificateHeader header; // the device, the line and the program; numbered at the end
        // Reads the device's identification (only reads) for the serial number and firmware
        // when the header has no serial number yet; none: they stay "nie odczytano".
        std::function<DeviceIdentity()> identify;
    };
    ProcedureWindow(TransactionEngine& engine, RegisterTree& tree, Setup setup, QWidget* parent);
    ~ProcedureWindow() override;

    // The run, from "Start" to its certificate; the window answers it as the operator acts.
    void Start();
    bool running() const { return run_ != nullptr; }
    const std::optional<ProcedureResult>& result() const { return result_; }
    const CertificateFiles& certificate() const { return files_; }
    // A line for the main window's log when a certificate is written.
    std::function<void(const QString&)> logLine;

    QLineEdit *eOperator, *eChecker, *eCustomer, *ePlace, *eTemperature, *eHumidity;
    QTableWidget* tblPoints;  // the standard applied at each point
    QCheckBox* cbAsFoundOnly; // no adjustment, no as left
    QLabel* lbItem;           // the device, its line, its serial number
    QLabel *lbInstruction, *lbLive, *lbStability, *lbStatus, *lbResult;
    QLineEdit* eReference; // the standard's actual value; Return takes the samples
    QPushButton *btMeasure, *btStart, *btStop, *btClose, *btStandards;
    QTableWidget* tblResults;

protected:
    void reject() override;

private:
    void BuildSetup(QWidget* into);
    void IdentifyDevice();
    QString ItemText() const;
    void FillStandards();
    ProcedureContext ContextFromFields() const;
    ProcedureRun::Hooks Hooks();
    std::optional<double> WaitForApplied(const ProcedureRange& range, const ProcedurePoint& point,
                                         const ReferenceStandard* standard);
    bool ConfirmAdjust(const QList<AdjustmentStep>& steps);
    bool ConfirmRestore(const QList<AdjustmentStep>& steps);
    void Pause(int ms);
    void ReadLive();
    void ShowResults();
    void RunSteps(ProcedureRun& run);
    void WriteCertificate(const ProcedureResult& result, const ProcedureContext& context);
    void SetRunning(bool running);
    void EditStandards();

    TransactionEngine& engine_;
    RegisterTree& tree_;
    Setup setup_;
    QList<ReferenceStandard> standards_;
    ProcedureRun* run_ = nullptr;
    std::optional<ProcedureResult> result_;
    CertificateFiles files_;
    bool stopRequested_ = false;
    // While a point waits for the operator: its result register read for the live value.
    QTimer* liveTimer_;
    TreeNode* liveNode_ = nullptr;
    const ProcedureRange* liveRange_ = nullptr;
    TrendSeries liveSeries_;
    bool liveReading_ = false;
    std::function<void(std::optional<double>)> answer_; // ends the wait for the operator
};
