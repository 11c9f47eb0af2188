#pragma once
// TForm1, the main window: the fixed layout with every control and its default, and the
// wiring of the controls' events.
#include "link/serial.h"
#include "regmap/tree.h"
#include <QWidget>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QCheckBox;
class QLabel;
class QGroupBox;
class QFrame;
class QPlainTextEdit;
class QTreeView;
class RegisterTreeModel;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // The directory of the executable holds the device files and receives the log file.
    explicit TForm1(const QString& executablePath, QWidget* parent = nullptr);
    ~TForm1() override;

    // Modal messages go through here so tests can capture them instead of blocking.
    std::function<void(const QString& text, bool error)> messageSink;

    RegisterTree& tree() { return tree_; }
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
    void BuildLayout();
    void BuildConnectionGroup(QWidget* column);
    void BuildDeviceGroup(QWidget* column);
    void BuildMonitorGroup(QWidget* column);
    void BuildCalibrationGroup(QWidget* column);
    void BuildLeftArea();
    void FormCreate();
    void ShowMessage(const QString& text, bool error);
    void CollapseAll();
    void SetIndicator(const QColor& colour, const QString& hint);
    template <typename F> void Guarded(F&& action);

    QString executablePath_;
    QString directory_;
    RegisterTree tree_;
    SerialLink link_;
    RegisterTreeModel* model_ = nullptr;
    bool closed_ = false;

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
    QPlainTextEdit* Memo1 = nullptr;
};
