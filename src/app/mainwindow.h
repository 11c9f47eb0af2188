#pragma once
// TForm1, the main window: the fixed layout with every control and its default, and the
// wiring of the controls' events.
#include "comparedialog.h"
#include "doctordialog.h"
#include "guarded.h"
#include "identitydialog.h"
#include "linedialog.h"
#include "link/serial.h"
#include "regmap/error.h"
#include "regmap/tree.h"
#include "tools/calrecord.h"
#include "tools/journal.h"
#include "tools/operator.h"
#include "tools/places.h"
#include "tools/requeststats.h"
#include "tools/session.h"
#include "txn/engine.h"
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QCheckBox;
class QLabel;
class QGroupBox;
class QFrame;
class LogView;
class QTreeView;
class RegisterTreeModel;

class QMenu;
class TrendWindow;
class ProcedureWindow;
class StandardsDialog;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // The directory of the executable holds the device files and receives the log file.
    explicit TForm1(const QString& executablePath, QWidget* parent = nullptr);
    ~TForm1() override;

    // Modal messages go through here so tests can capture them instead of blocking.
    std::function<void(const QString& text, bool error)> messageSink;
    // The save dialog's answer, replaceable by tests; empty means cancelled.
    std::function<QString()> askSaveFileName;
    // A yes/no question to the operator, replaceable by tests; true for yes.
    std::function<bool(const QString& text)> askQuestion;
    // Opens a folder in the system's file manager; tests replace it.
    std::function<bool(const QUrl& folder)> openFolder;

    RegisterTree& tree() { return session_.tree(); }
    TransactionEngine& engine() { return session_.engine(); }
    OperatorSession& session() { return session_; }
    RegisterTreeModel* model() const { return model_; }

    // A message box without the error's icon.
    void ShowMessage(const QString& text);

    // Ends a value's red highlight and repaints the tree (the repaint timer's tick).
    void RepaintTimerTimer();
    Calibration& calibration() { return session_.calibration(); }
    Monitor& monitor() { return session_.monitor(); }

    void AppendLogLine(const QString& line);
    QString LogText() const;

    SerialLink& link() { return link_; }
    void ComCBoxEnter();
    void ComCBoxSelect();
    void Connect();
    void Disconnect();

    void cbxDeviceEnter();
    void cbxDeviceSelect(const QString& name);
    void FormClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The register tree's events; tests reach them through the view.
    QVariant VTPaintText(const TreeNode* node, int column) const;
    void VTClick();
    void VTColumnDblClick(const QModelIndex& index);
    void VTNewText(TreeNode* node, const QString& text);
    void VTEdited(TreeNode* node, const QString& before, ValueOrigin originBefore);
    void VTChecking(TreeNode* node, CheckState proposed);
    void VTExpanding(const QModelIndex& index);
    void ScrollChildrenIntoView(const QModelIndex& index);
    // A click, a right click, or F5's register: the current register from now on.
    void ReadCurrentFromKeyboard();
    void LineSettingsChanged();

public:
    // The line's read timeout and echo removal: from "Ustawienia łącza…" or the command line;
    // an open port takes them at once.
    void SetLineOptions(const LineOptions& options);
    const LineOptions& lineOptions() const { return lineOptions_; }
    void OpenLineDialog();
    // Set by tests: the dialog's answer without showing it.
    std::function<std::optional<LineOptions>(LineDialog&)> runLineDialog;
    // "Diagnostyka łącza…" on the open port, with reads of the current register (else the
    // device file's first, else holding register 0); refused while monitoring or a job runs.
    void OpenLineDoctor();
    // Set by tests: drives the dialog instead of showing it modally.
    std::function<void(DoctorDialog&)> runDoctorDialog;
    // "Identyfikacja urządzenia" in the Przetwornik group's menu: functions 43/14 and 17 at
    // the window's Adres, one line in the log, the objects in a box of their own.
    void IdentifyDevice();
    std::function<void(IdentityDialog&)> runIdentityDialog;
    // "Zrzut ustawień…": every RW and RP register read (a progress box, Esc ends it) and
    // saved in zrzuty/ beside the log; the path it saved.
    QString SaveSnapshot();
    // "Porównaj ze zrzutem…": a snapshot file against the device now, in a box that can
    // export the comparison and write the chosen changes back.
    void CompareWithSnapshot();
    std::function<QString()> chooseSnapshotFile;
    // "Porównaj dwa zrzuty…": two snapshot files, the earlier first; nothing is sent.
    void CompareTwoSnapshots();
    std::function<QStringList()> chooseSnapshotFiles;
    std::function<void(CompareDialog&)> runCompareDialog;
    // "Procedura kalibracji…" in the Kalibracja group's menu: NAME.procedure.json beside the
    // loaded device file, run in a window of its own; refused while monitoring or a job runs.
    void OpenProcedureWindow();
    // Set by tests: drives the window instead of showing it modally.
    std::function<void(ProcedureWindow&)> runProcedureWindow;
    // "Wzorce…": the reference standards of wzorce.json in the data folder.
    void OpenStandardsEditor();
    std::function<void(StandardsDialog&)> runStandardsDialog;

private:
    // Monitoring, calibration and reset, reached through their buttons and box.
    void cbMonitorClick();
    void Timer1Timer();
    void Button1Click();
    void btZapiszClick();
    void btResetClick();

    // The log window's context menu, reached through its actions.
    void Wyczy1Click();
    void Kopiuj1Click();
    void Zapiszdopliku1Click();

    void BuildLayout();
    void BuildConnectionGroup(QWidget* column);
    void BuildDeviceGroup(QWidget* column);
    void BuildMonitorGroup(QWidget* column);
    void BuildCalibrationGroup(QWidget* column);
    void BuildLeftArea();
    void FormCreate();
    void ShowBox(const QString& text, bool error);
    void CollapseAll();
    void WireTree();
    void BuildLogMenu();
    void BuildTreeMenu();
    void OpenTrend(TreeNode* node);
    void FeedTrend(const TransactionOutcome& outcome);
    void WireTools();
    void StartJournal();
    void JournalLine(const QString& line);
    void RewriteJournal();
    void JournalFailed();
    void WriteCalibrationRecord(const CalibrationRecord& record, bool fresh);
    QString SaveAtClose(const QString& text);
    // Lines that no file holds yet: neither empty, nor only the program's start-up lines, nor
    // what was last saved.
    bool LogHasUnsavedLines() const;
    void NoteLogSaved() { savedText_ = LogText(); }
    void LoadDevice(const QString& name, const QByteArray& bytes);
    // Runs later from the event loop, unless a load has replaced the tree meanwhile.
    template <typename F> void Later(F&& action);
    void SetIndicator(const QColor& colour, const QString& hint);
    template <typename F> void Guarded(F&& action);

    // What the engine and the tools ask of the window, as they ask it of any frontend.
    class Face : public Frontend {
    public:
        explicit Face(TForm1& window) : w_(window) {}
        void ShowMessage(const QString& text) override { w_.ShowBox(text, false); }
        void ProcessEvents() override;
        void SetTxText(const QString& text) override;
        void SetRxText(const QString& text) override;
        void AppendLog(const QString& line) override { w_.AppendLogLine(line); }
        bool MonitorChecked() const override;
        void StartRepaintTimer() override { w_.RepaintTimer.start(); }
        void Pause(int milliseconds) override;
        QString SlaveText() const override;
        void TransactionEnded(const TransactionOutcome& outcome) override;

    private:
        TForm1& w_;
    };

    QString executablePath_;
    Places places_;
    SerialLink link_;
    RegisterTreeModel* model_ = nullptr;
    Face face_{*this};
    OperatorSession session_{link_, face_};
    // The session's parts by their short names.
    RegisterTree& tree_ = session_.tree();
    TransactionEngine& engine_ = session_.engine();
    Calibration& calibration_ = session_.calibration();
    Monitor& monitor_ = session_.monitor();
    LogJournal journal_;
    // The operator's edits reach the journal within a second.
    QTimer journalRewrite_;
    QTimer journalSync_; // the appended lines reach the disk within 250 ms
    // How the log file looked when this window started, to notice another window's save.
    QString logStampAtStart_;
    QTimer RepaintTimer;
    int loadGeneration_ = 0;
    bool closed_ = false;
    bool closeAfterJob_ = false;
    bool checkPending_ = false; // a check mark's rule waits to run before its click's
    // The log as the program's start-up left it, and as it was last saved to a file.
    QString startupText_, savedText_;
    // The path of the record being written, without extension; empty for a new record.
    QString recordBase_;
    QSet<QString> latencyNoted_; // ports whose adapter latency the log has named
    QStringList tcpPorts_;       // "tcp:" ports that opened this run, for the port list
    void NoteAdapterLatency();
    void NoteDirectionControl();
    void BuildDeviceMenu();
    struct GroupMenuAction {
        const char* text; // UTF-8
        const char* name;
        void (TForm1::*run)();
    };
    void AddGroupMenu(QGroupBox* group, const char* name, const QList<GroupMenuAction>& actions);
    void TakeSnapshotFromMenu();
    Snapshot SnapshotNow();
    DeviceIdentity IdentifyWithFile(std::uint8_t slave);
    QString SnapshotFolder() const;
    // Refuses what would share the line with a running job or monitoring.
    void CheckLineFree(const QString& what) const;
    // The doctor's findings in the log, and the setting it found in the window when asked.
    void TakeDoctorFindings(const DoctorDialog& dialog);
    // Open trend windows, one per register; they close with a load.
    // Guarded pointers: a window the operator closed is gone, and nothing of this window is
    // touched when the trend windows go with it.
    QHash<const TreeNode*, QPointer<TrendWindow>> trends_;
    LineOptions lineOptions_;
    bool baudTyped_ = false; // an Enter in "Szybkość:" waits to be applied
    void ApplyLineOptions();
    void ShowLineStatistics();
    void BuildConnectionMenu();
    void BuildCalibrationMenu();

public:
    // Controls, named as the layout tables name them.
    QGroupBox* gbPolaczenie = nullptr;
    QComboBox* ComCBox = nullptr;
    QComboBox* cbxBaud = nullptr;
    QComboBox* cbxParity = nullptr;
    QFrame* shConnect = nullptr;
    QGroupBox* gbPrzetwornik = nullptr;
    QComboBox* cbxDevice = nullptr;
    QLineEdit* eSlave = nullptr;
    QPushButton* btReset = nullptr;
    QGroupBox* gbMon = nullptr;
    QLabel* lbReg = nullptr;
    QLineEdit* ePeriod = nullptr;
    QCheckBox* cbMonitor = nullptr;
    QGroupBox* gbKal = nullptr;
    QComboBox* cbxKalibracja = nullptr;
    QLineEdit* eCount = nullptr;
    QPushButton* Button1 = nullptr;
    QLineEdit* eMed = nullptr;
    QPushButton* btZapisz = nullptr;
    QTreeView* VT = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* lbTX = nullptr;
    QLabel* lbRX = nullptr;
    LogView* Memo1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    // "Wykres" on a register row; "Otwórz folder dziennika i kalibracji" everywhere.
    QMenu* TreeMenu = nullptr;
    void OpenRecordsFolder();
};

// Every event entry point runs its action here: an error ends the action and shows its box,
// and no exception reaches the event loop.
template <typename F> void TForm1::Guarded(F&& action) {
    RunGuarded(std::forward<F>(action), [this](const QString& text) { ShowBox(text, true); });
}

template <typename F> void TForm1::Later(F&& action) {
    const int generation = loadGeneration_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, action = std::forward<F>(action)]() mutable {
            if (generation == loadGeneration_) Guarded(action);
        },
        Qt::QueuedConnection);
}
