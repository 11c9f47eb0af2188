#include "mainwindow.h"
#include "logview.h"
#include "registerview.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "report/calpdf.h"
#include "tools/logfile.h"
#include "tools/treerules.h"
#include "treemodel.h"
#include "trendwindow.h"
#include "txn/builders.h"
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QTreeView>

namespace {

// The layout is given at 120 pixels per inch; Qt's device-independent pixels are at 96.
constexpr int px(int at120) {
    return (at120 * 4 + 2) / 5;
}

const QColor kNavy(0, 0, 128);
const QColor kMediumGrey(0xA0, 0xA0, 0xA4);
const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QColor kGrey(0x80, 0x80, 0x80);

QFont MonospacedFont() {
    QFont font = QFontDatabase::families().contains(QStringLiteral("Cousine"))
                     ? QFont(QStringLiteral("Cousine"))
                     : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(px(15));
    return font;
}

QFont WindowFont() {
    QFont font = QFontDatabase::families().contains(QStringLiteral("Microsoft Sans Serif"))
                     ? QFont(QStringLiteral("Microsoft Sans Serif"))
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(px(15));
    return font;
}

QLabel* FieldLabel(const QString& caption, QWidget* parent, int x, int y) {
    auto* label = new QLabel(caption, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kNavy);
    label->setPalette(palette);
    label->setGeometry(px(x), px(y), px(90), px(21));
    return label;
}

QComboBox* Combo(const char* name, QWidget* parent, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    return box;
}

QLineEdit* Edit(const char* name, QWidget* parent, const QString& text) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QPushButton* Button(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QGroupBox* Group(const char* name, const QString& caption, QWidget* parent) {
    auto* group = new QGroupBox(caption, parent);
    group->setObjectName(QLatin1String(name));
    return group;
}

// A sorted list's items replaced, as the box gets the focus; the typed text stays.
void RefillSorted(QComboBox* box, QStringList items) {
    items.sort(Qt::CaseInsensitive);
    const QString text = box->currentText();
    const QSignalBlocker blocker(box);
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(box->findText(text));
    box->setEditText(text);
}

void SetFill(QFrame* shape, const QColor& colour) {
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, colour);
    shape->setPalette(palette);
}

} // namespace

TForm1::TForm1(const QString& executablePath, QWidget* parent)
    : QWidget(parent), executablePath_(executablePath),
      places_(PlacesFor(executablePath,
                        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("vardel"));
    setFont(WindowFont());
    setFixedSize(px(982), px(695));
    askSaveFileName = [this] {
        return QFileDialog::getSaveFileName(this, QString(), places_.writableFolder);
    };
    askQuestion = [this](const QString& text) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("vardel"), text,
                        QMessageBox::Yes | QMessageBox::No, this);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Tak"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Nie"));
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    BuildLayout();
    FormCreate();
}

TForm1::~TForm1() {
    // The view must go before the tree it shows; the base destructor still hides it.
    qApp->removeEventFilter(this);
    RepaintTimer.stop();
    delete VT;
    VT = nullptr;
}

void TForm1::BuildLayout() {
    auto* column = new QWidget(this);
    column->setGeometry(px(982 - 250), 0, px(250), px(695));
    BuildConnectionGroup(column);
    BuildDeviceGroup(column);
    BuildMonitorGroup(column);
    BuildCalibrationGroup(column);

    Memo1 = new LogView(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(px(982 - 250 - 280), 0, px(280), px(695));
    Memo1->setFont(MonospacedFont());
    Memo1->setToolTip(QStringLiteral("Okno logów"));
    BuildLeftArea();
}

void TForm1::BuildConnectionGroup(QWidget* column) {
    gbPolaczenie = Group("gbPolaczenie", QStringLiteral(" Połączenie "), column);
    gbPolaczenie->setGeometry(0, 0, px(250), px(160));
    FieldLabel(QStringLiteral("Port szer:"), gbPolaczenie, 10, 30);
    ComCBox = Combo("ComCBox", gbPolaczenie, {});
    ComCBox->setGeometry(px(105), px(27), px(115), px(26));
    shConnect = new QFrame(gbPolaczenie);
    shConnect->setObjectName(QStringLiteral("shConnect"));
    shConnect->setGeometry(px(226), px(32), px(6), px(16));
    shConnect->setAutoFillBackground(true);
    SetFill(shConnect, kMediumGrey);
    FieldLabel(QStringLiteral("Szybkość:"), gbPolaczenie, 10, 70);
    cbxBaud = Combo("cbxBaud", gbPolaczenie, {"9600", "19200"});
    cbxBaud->setCurrentIndex(1);
    cbxBaud->setGeometry(px(105), px(67), px(115), px(26));
    FieldLabel(QStringLiteral("Parzystość:"), gbPolaczenie, 10, 110);
    cbxParity = Combo("cbxParity", gbPolaczenie, {"none", "even", "odd"});
    cbxParity->setCurrentIndex(1);
    cbxParity->setGeometry(px(105), px(107), px(115), px(26));
    for (QComboBox* box : {cbxBaud, cbxParity})
        connect(box, &QComboBox::activated, this,
                [this] { Guarded([this] { LineSettingsChanged(); }); });
    // Any standard rate typed into "Szybkość:" and Enter reaches an open port too. The box
    // hands the key to its line edit a second time: one Enter is one change.
    connect(cbxBaud->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (baudTyped_) return;
        baudTyped_ = true;
        QTimer::singleShot(0, this, [this] {
            baudTyped_ = false;
            Guarded([this] { LineSettingsChanged(); });
        });
    });
    ComCBox->installEventFilter(this);
    connect(ComCBox, &QComboBox::activated, this, [this] { ComCBoxSelect(); });
    // Enter in the editable box chooses what was typed: virtual ports, /dev/serial/by-id.
    connect(ComCBox->lineEdit(), &QLineEdit::returnPressed, this, [this] { ComCBoxSelect(); });
    BuildConnectionMenu();
    link_.onLost = [this] {
        SetIndicator(kRed, link_.failureReason);
        AppendLogLine(QStringLiteral("Port utracony:"));
        AppendLogLine(link_.failureReason);
    };
}

void TForm1::BuildDeviceGroup(QWidget* column) {
    gbPrzetwornik = Group("gbPrzetwornik", QStringLiteral(" Przetwornik "), column);
    gbPrzetwornik->setGeometry(0, px(160), px(250), px(153));
    FieldLabel(QStringLiteral("Typ:"), gbPrzetwornik, 10, 30);
    cbxDevice = Combo("cbxDevice", gbPrzetwornik, {});
    cbxDevice->setGeometry(px(105), px(27), px(130), px(26));
    cbxDevice->installEventFilter(this);
    connect(cbxDevice, &QComboBox::activated, this,
            [this](int index) { cbxDeviceSelect(cbxDevice->itemText(index)); });
    FieldLabel(QStringLiteral("Adres:"), gbPrzetwornik, 10, 70);
    eSlave = Edit("eSlave", gbPrzetwornik, QStringLiteral("247"));
    eSlave->setGeometry(px(105), px(67), px(130), px(26));
    btReset = Button("btReset", QStringLiteral("Reset"), gbPrzetwornik);
    btReset->setGeometry(px(105), px(107), px(130), px(30));
    BuildDeviceMenu();
}

void TForm1::BuildMonitorGroup(QWidget* column) {
    gbMon = Group("gbMon", QStringLiteral(" Monitor "), column);
    gbMon->setGeometry(0, px(313), px(250), px(128));
    FieldLabel(QStringLiteral("Rejestr:"), gbMon, 10, 28);
    lbReg = new QLabel(gbMon);
    lbReg->setObjectName(QStringLiteral("lbReg"));
    lbReg->setGeometry(px(105), px(28), px(140), px(21));
    FieldLabel(QStringLiteral("Okres:"), gbMon, 10, 60);
    ePeriod = Edit("ePeriod", gbMon, QStringLiteral("2000"));
    ePeriod->setGeometry(px(105), px(57), px(130), px(26));
    cbMonitor = new QCheckBox(QStringLiteral("Monitorowanie"), gbMon);
    cbMonitor->setObjectName(QStringLiteral("cbMonitor"));
    cbMonitor->setGeometry(px(10), px(92), px(200), px(26));
}

void TForm1::BuildCalibrationGroup(QWidget* column) {
    gbKal = Group("gbKal", QStringLiteral(" Kalibracja "), column);
    gbKal->setGeometry(0, px(441), px(250), px(695 - 441));
    FieldLabel(QStringLiteral("Wielkość:"), gbKal, 10, 30);
    cbxKalibracja = Combo("cbxKalibracja", gbKal, {"100R", "400R"});
    cbxKalibracja->setCurrentIndex(-1);
    cbxKalibracja->setEditText(QString());
    cbxKalibracja->setGeometry(px(105), px(27), px(130), px(26));
    FieldLabel(QStringLiteral("Licznik:"), gbKal, 10, 70);
    eCount = Edit("eCount", gbKal, QStringLiteral("16"));
    eCount->setGeometry(px(105), px(67), px(130), px(26));
    Button1 = Button("Button1", QStringLiteral("Start"), gbKal);
    Button1->setGeometry(px(105), px(105), px(130), px(30));
    FieldLabel(QStringLiteral("Wartość:"), gbKal, 10, 150);
    eMed = Edit("eMed", gbKal, QStringLiteral("8"));
    eMed->setGeometry(px(105), px(147), px(130), px(26));
    btZapisz = Button("btZapisz", QStringLiteral("Zapisz"), gbKal);
    btZapisz->setGeometry(px(105), px(185), px(130), px(30));
    gbKal->hide();
    BuildCalibrationMenu();
}

void TForm1::BuildLeftArea() {
    const int width = 982 - 250 - 280;
    VT = new RegisterView(this);
    VT->setObjectName(QStringLiteral("VT"));
    VT->setGeometry(0, 0, px(width), px(695 - 76));
    VT->setFont(MonospacedFont());
    VT->header()->setFont(MonospacedFont());
    VT->setToolTip(QStringLiteral("Okno rejestrów"));
    model_ = new RegisterTreeModel(tree_, this);
    VT->setModel(model_);
    QHeaderView* header = VT->header();
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setFixedHeight(px(25));
    header->resizeSection(0, px(180));
    header->resizeSection(1, px(80));
    header->resizeSection(2, px(188));
    tree_.setRepaintHandler([this] { model_->refreshAll(); });
    WireTree();

    GroupBox3 = Group("GroupBox3", QStringLiteral(" modbus  "), this);
    GroupBox3->setGeometry(0, px(695 - 76), px(width), px(76));
    const QColor shadow = palette().color(QPalette::Shadow);
    for (int row = 0; row < 2; ++row) {
        auto* caption =
            new QLabel(row == 0 ? QStringLiteral("TX:") : QStringLiteral("RX:"), GroupBox3);
        QPalette palette = caption->palette();
        palette.setColor(QPalette::WindowText, shadow);
        caption->setPalette(palette);
        caption->setGeometry(px(10), px(22 + 24 * row), px(30), px(21));
        auto* value = new QLabel(QStringLiteral("-"), GroupBox3);
        value->setObjectName(row == 0 ? QStringLiteral("lbTX") : QStringLiteral("lbRX"));
        value->setFont(MonospacedFont());
        value->setGeometry(px(45), px(22 + 24 * row), px(width - 55), px(21));
        (row == 0 ? lbTX : lbRX) = value;
    }
}

void TForm1::FormCreate() {
    engine_.EndWalk();
    Memo1->SetMemoMargins(QMargins(px(10), px(10), px(15), px(10)));
    BuildLogMenu();
    BuildTreeMenu();
    RepaintTimer.setSingleShot(true);
    RepaintTimer.setInterval(500);
    connect(&RepaintTimer, &QTimer::timeout, this, [this] { RepaintTimerTimer(); });
    engine_.onIdle = [this] {
        if (closeAfterJob_) QTimer::singleShot(0, this, &QWidget::close);
    };
    qApp->installEventFilter(this);
    WireTools();
    StartJournal();
}

void TForm1::StartJournal() {
    const QString log = places_.logPath;
    logStampAtStart_ = LogFileStamp(log);
    const QStringList recovered = LogJournal::Recover(log, QDateTime::currentDateTime());
    if (!journal_.Open(log)) JournalFailed(); // said at once, in the log
    for (const QString& path : recovered) {   // the log shows 28 characters: the name below
        AppendLogLine(QStringLiteral("Odzyskano dziennik:"));
        AppendLogLine(QFileInfo(path).fileName());
    }
    startupText_ = LogText(); // the program's own lines make no log worth saving
    journalSync_.setSingleShot(true);
    journalSync_.setInterval(250);
    connect(&journalSync_, &QTimer::timeout, this, [this] {
        if (!journal_.Sync()) JournalFailed();
    });
    journalRewrite_.setSingleShot(true);
    journalRewrite_.setInterval(500);
    connect(&journalRewrite_, &QTimer::timeout, this, [this] { RewriteJournal(); });
    connect(Memo1, &LogView::edited, this, [this] {
        if (!journalRewrite_.isActive()) journalRewrite_.start();
    });
}

// Each line reaches the journal at once; the disk gets the lines of a quarter of a second in
// one go, so that a group read runs at the line's pace.
void TForm1::JournalLine(const QString& line) {
    if (!journal_.Append(line)) JournalFailed();
    if (!journalSync_.isActive()) journalSync_.start();
}

void TForm1::RewriteJournal() {
    if (!journal_.Rewrite(LogText())) JournalFailed();
}

// Said once, in the log only: the journal is what failed.
void TForm1::JournalFailed() {
    const bool startup = LogText() == startupText_;
    Memo1->AppendLine(QStringLiteral("Dziennik wyłączony:"));
    Memo1->AppendLine(journal_.failure());
    if (startup) startupText_ = LogText();
}

void TForm1::WireTools() {
    engine_.setContinuation(&calibration_);
    calibration_.setResult = [this](const QString& mean) { eMed->setText(mean); };
    session_.onRecord = [this](const CalibrationRecord& record, bool fresh) {
        WriteCalibrationRecord(record, fresh);
    };
    auto wire = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    wire(btReset, &TForm1::btResetClick);
    wire(Button1, &TForm1::Button1Click);
    wire(btZapisz, &TForm1::btZapiszClick);
    connect(cbMonitor, &QCheckBox::clicked, this,
            [this] { Guarded([this] { cbMonitorClick(); }); });
    connect(&monitor_.Timer1, &QTimer::timeout, this,
            [this] { Guarded([this] { Timer1Timer(); }); });
    monitor_.onStopped = [this] { cbMonitor->setChecked(false); };
}

void TForm1::cbMonitorClick() {
    monitor_.Click(cbMonitor->isChecked(), ePeriod->text(), lbReg->text());
}

void TForm1::Timer1Timer() {
    monitor_.Tick();
}

void TForm1::Button1Click() {
    session_.Calibrate(cbxKalibracja->currentText(), eCount->text());
}

void TForm1::btZapiszClick() {
    const QString range = cbxKalibracja->currentText(), value = eMed->text();
    if (!session_.StoreFollowsRun(range) &&
        !askQuestion(QStringLiteral("W tym uruchomieniu nie zakończono kalibracji zakresu "
                                    "\"%1\". Zapisać mimo to wartość %2?")
                         .arg(range, value)))
        return;
    session_.Store(range, value);
}

// Beside the log, in kalibracje/: the PDF to file and the CSV for a spreadsheet. A fresh
// record gets a name of its own; a store added to the last one rewrites its files.
void TForm1::WriteCalibrationRecord(const CalibrationRecord& record, bool fresh) {
    const QString folder =
        QFileInfo(places_.logPath).absolutePath() + QStringLiteral("/kalibracje");
    if (!QDir().mkpath(folder))
        throw AppError(QString::fromUtf8("Nie można utworzyć folderu \"%1\".").arg(folder));
    if (fresh || recordBase_.isEmpty()) { // no earlier record is overwritten
        const QString name = RecordBaseName(record);
        recordBase_ = folder + '/' + name;
        for (int n = 2; QFileInfo::exists(recordBase_ + QStringLiteral(".pdf")) ||
                        QFileInfo::exists(recordBase_ + QStringLiteral(".csv"));
             ++n)
            recordBase_ = folder + '/' + name + '_' + QString::number(n);
    }
    const QString& base = recordBase_;
    SaveRecordPdf(record, base + QStringLiteral(".pdf"));
    SaveRecordCsv(record, base + QStringLiteral(".csv"));
}

void TForm1::btResetClick() {
    SendReset(engine_);
}

void TForm1::ShowBox(const QString& text, bool error) {
    if (messageSink) {
        messageSink(text, error);
        return;
    }
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon, QStringLiteral("vardel"),
                    text, QMessageBox::Ok, this);
    box.exec();
}

void TForm1::ShowMessage(const QString& text) {
    ShowBox(text, false);
}

void TForm1::Face::ProcessEvents() {
    QCoreApplication::processEvents();
}

void TForm1::Face::SetTxText(const QString& text) {
    w_.lbTX->setText(text);
}

void TForm1::Face::SetRxText(const QString& text) {
    w_.lbRX->setText(text);
}

bool TForm1::Face::MonitorChecked() const {
    return w_.cbMonitor->isChecked();
}

void TForm1::Face::Pause(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

QString TForm1::Face::SlaveText() const {
    return w_.eSlave->text();
}

void TForm1::Face::TransactionEnded(const TransactionOutcome& outcome) {
    w_.ShowLineStatistics();
    w_.FeedTrend(outcome);
    w_.lbRX->setToolTip(OutcomeText(outcome)); // why RX shows what it shows, or nothing
}

void TForm1::AppendLogLine(const QString& line) {
    Memo1->AppendLine(line);
    JournalLine(line);
}

QString TForm1::LogText() const {
    return Memo1->toPlainText();
}

void TForm1::cbxDeviceEnter() {
    RefillSorted(cbxDevice, DeviceFileNames(places_));
}

void TForm1::cbxDeviceSelect(const QString& name) {
    if (engine_.Busy()) { // no node may vanish under a running job
        cbxDevice->setEditText(session_.deviceName());
        return;
    }
    Guarded([&] {
        // A file that cannot be opened leaves the tree, the current register and its label
        // as they were.
        QByteArray bytes;
        try {
            bytes = ReadDeviceFileBytes(DeviceFilePath(places_, name));
        } catch (const AppError&) {
            cbxDevice->setEditText(session_.deviceName());
            throw;
        }
        LoadDevice(name, bytes);
    });
}

void TForm1::LoadDevice(const QString& name, const QByteArray& bytes) {
    lbReg->clear(); // no register of the old tree stays named
    lbReg->setToolTip(QString());
    for (const QPointer<TrendWindow>& trend : std::as_const(trends_))
        if (trend) trend->close(); // their registers go with the tree
    trends_.clear();
    ++loadGeneration_;
    checkPending_ = false;
    RepaintTimer.stop();
    model_->resetAround([&] { session_.LoadDevice(name, bytes); });
    CollapseAll();
    gbKal->setVisible(IsCalibratable(name));
}

void TForm1::CollapseAll() {
    for (TreeNode* node = tree_.First(); node; node = RegisterTree::GetNext(node))
        node->states &= ~NodeState::Expanded;
    VT->collapseAll();
}

void TForm1::SetIndicator(const QColor& colour, const QString& hint) {
    SetFill(shConnect, colour);
    shConnect->setToolTip(hint);
}

// The system's ports, and the TCP servers that opened this run: typed once, chosen again.
void TForm1::ComCBoxEnter() {
    RefillSorted(ComCBox, QStringList{QStringLiteral("None")} + PortNames() + tcpPorts_);
    for (int i = 0; i < ComCBox->count(); ++i) {
        const QString name = ComCBox->itemText(i);
        ComCBox->setItemData(
            i, IsTcpPort(name) ? QStringLiteral("ramki RTU przez TCP") : PortDetails(name),
            Qt::ToolTipRole);
    }
}

void TForm1::ComCBoxSelect() {
    Guarded([this] {
        if (ComCBox->currentText() == QLatin1String("None"))
            Disconnect();
        else
            Connect();
    });
}

// A new baud rate or parity reaches the open port at once, so the line runs as the boxes say.
void TForm1::LineSettingsChanged() {
    if (!StandardBaudRates().contains(cbxBaud->currentText()))
        throw AppError(QStringLiteral("Szybkość \"%1\" nie jest żadną ze standardowych: %2")
                           .arg(cbxBaud->currentText(), StandardBaudRates().join(", ")));
    if (!link_.isOpen()) return;
    const QString settings = LineSettingsFor(cbxBaud->currentText(), cbxParity->currentIndex());
    if (settings == link_.lineSettings()) return;
    if (!link_.ApplyLineSettings(settings)) {
        SetIndicator(kRed, link_.failureReason);
        throw AppError(link_.failureReason);
    }
    session_.LineChanged(settings);
    AppendLogLine(QStringLiteral("Łącze: ") + settings);
}

void TForm1::Connect() {
    if (link_.isOpen()) Disconnect();
    if (!link_.OpenPort(PortPathFor(ComCBox->currentText()),
                        LineSettingsFor(cbxBaud->currentText(), cbxParity->currentIndex()))) {
        SetIndicator(kRed, link_.failureReason);
        return;
    }
    SetIndicator(kLime, link_.portPath());
    if (IsTcpPort(link_.portPath()) && !tcpPorts_.contains(link_.portPath()))
        tcpPorts_ << link_.portPath();
    ApplyLineOptions();
    NoteAdapterLatency();
    NoteDirectionControl();
    session_.PortOpened({link_.portPath(), link_.lineSettings()});
    ShowLineStatistics();
}

// The read window of the line options, with the 30 ms between bytes (less for a shorter
// window), the echo removal and the RS-485 direction.
void TForm1::ApplyLineOptions() {
    link_.removeEcho = lineOptions_.removeEcho;
    link_.SetRs485(lineOptions_.rs485);
    if (!link_.isOpen()) return;
    const auto timeout = static_cast<std::uint16_t>(lineOptions_.timeoutMs);
    if (!link_.SetPortTimeouts(std::min<std::uint16_t>(30, timeout), 0, timeout, 0, 30))
        SetIndicator(kRed, link_.failureReason);
}

void TForm1::SetLineOptions(const LineOptions& options) {
    const bool changed = !(options == lineOptions_);
    lineOptions_ = options;
    ApplyLineOptions();
    ShowLineStatistics();
    if (!changed) return;
    // Like the program's own start-up lines, a settings line alone makes no log worth saving.
    const bool startup = LogText() == startupText_;
    AppendLogLine(QStringLiteral("Łącze: ") + (options.isDefault()
                                                   ? QStringLiteral("ustawienia domyślne")
                                                   : options.Changes()));
    NoteDirectionControl();
    if (startup) startupText_ = LogText();
}

// The " modbus  " group's tool tip: how the line's requests ended, and what of the line is
// not default.
void TForm1::ShowLineStatistics() {
    QString tip = session_.stats().PolishSummary();
    if (!lineOptions_.isDefault()) tip += QStringLiteral("\nŁącze: ") + lineOptions_.Changes();
    GroupBox3->setToolTip(tip);
}

// A group's context menu (a right click in its free space) of guarded actions.
void TForm1::AddGroupMenu(QGroupBox* group, const char* name,
                          const QList<GroupMenuAction>& actions) {
    auto* menu = new QMenu(group);
    menu->setObjectName(QLatin1String(name));
    for (const GroupMenuAction& a : actions) {
        QAction* action = menu->addAction(QString::fromUtf8(a.text));
        action->setObjectName(QLatin1String(a.name));
        connect(action, &QAction::triggered, this,
                [this, run = a.run] { Guarded([this, &run] { (this->*run)(); }); });
    }
    group->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(group, &QWidget::customContextMenuRequested, this,
            [group, menu](const QPoint& at) { menu->popup(group->mapToGlobal(at)); });
}

void TForm1::BuildConnectionMenu() {
    AddGroupMenu(gbPolaczenie, "ConnectionMenu",
                 {{"Ustawienia łącza…", "UstawieniaLacza", &TForm1::OpenLineDialog},
                  {"Diagnostyka łącza…", "DiagnostykaLacza", &TForm1::OpenLineDoctor}});
}

void TForm1::OpenLineDialog() {
    LineDialog dialog(lineOptions_, session_.stats().PolishSummary(), this);
    std::optional<LineOptions> chosen;
    if (runLineDialog)
        chosen = runLineDialog(dialog);
    else if (dialog.exec() == QDialog::Accepted)
        chosen = dialog.options();
    if (chosen) SetLineOptions(*chosen);
}

void TForm1::CheckLineFree(const QString& what) const {
    if (!link_.isOpen()) throw AppError(QStringLiteral("brak połączenia !"));
    if (cbMonitor->isChecked() || engine_.Busy())
        throw AppError(what + QStringLiteral(": najpierw zakończ monitorowanie i bieżący odczyt"));
}

void TForm1::BuildDeviceMenu() {
    AddGroupMenu(gbPrzetwornik, "DeviceMenu",
                 {{"Identyfikacja urządzenia", "IdentyfikacjaUrzadzenia", &TForm1::IdentifyDevice},
                  {"Zrzut ustawień…", "ZrzutUstawien", &TForm1::TakeSnapshotFromMenu},
                  {"Porównaj ze zrzutem…", "PorownajZeZrzutem", &TForm1::CompareWithSnapshot},
                  {"Porównaj dwa zrzuty…", "PorownajDwaZrzuty", &TForm1::CompareTwoSnapshots}});
}

// Functions 43/14 and 17, then what NAME.identity.json beside the loaded device file names.
DeviceIdentity TForm1::IdentifyWithFile(std::uint8_t slave) {
    DeviceIdentity identity = Identify(engine_, slave);
    if (!session_.deviceName().isEmpty()) {
        const QString devicePath = DeviceFilePath(places_, session_.deviceName());
        if (const std::optional<IdentityFile> file =
                ReadIdentityFile(IdentityFilePath(devicePath), tree_))
            ReadIdentityRegisters(engine_, tree_, *file, identity);
    }
    session_.NoteSerialNumber(QString::number(slave), identity.serialNumber);
    return identity;
}

void TForm1::IdentifyDevice() {
    CheckLineFree(QStringLiteral("Identyfikacja urządzenia"));
    const auto slave = static_cast<std::uint8_t>(ParseInteger(eSlave->text()));
    if (slave == 0)
        throw AppError(
            QStringLiteral("Identyfikacja urządzenia: adres 0 to rozgłoszenie, bez odpowiedzi"));
    const DeviceIdentity identity = IdentifyWithFile(slave);
    AppendLogLine(QStringLiteral("Identyfikacja urządzenia: ") + identity.Summary());
    const QString who =
        QStringLiteral("Adres %1, %2, port %3")
            .arg(slave)
            .arg(session_.deviceName().isEmpty() ? QStringLiteral("bez pliku urządzenia")
                                                 : session_.deviceName(),
                 link_.portPath());
    const QList<HistoryRecord> history = HistoryOf(
        ReadHistory(QFileInfo(places_.logPath).absolutePath() + QStringLiteral("/kalibracje")),
        identity.serialNumber, session_.deviceName(), QString::number(slave));
    IdentityDialog dialog(identity, who, history, this);
    if (runIdentityDialog)
        runIdentityDialog(dialog);
    else
        dialog.exec();
}

QString TForm1::SnapshotFolder() const {
    return QFileInfo(places_.logPath).absolutePath() + QStringLiteral("/zrzuty");
}

Snapshot TForm1::SnapshotNow() {
    CheckLineFree(QStringLiteral("Zrzut ustawień"));
    const QList<TreeNode*> registers = SettingRegisters(tree_);
    if (registers.isEmpty())
        throw AppError(QStringLiteral("Zrzut ustawień: typ urządzenia nie ma rejestrów RW ani RP"));
    Snapshot s;
    s.time = QDateTime::currentDateTime();
    s.deviceType = session_.deviceName();
    s.deviceSha256 = session_.deviceSha256();
    s.slave = eSlave->text();
    s.port = link_.portPath();
    const DeviceIdentity identity =
        IdentifyWithFile(static_cast<std::uint8_t>(ParseInteger(eSlave->text())));
    if (identity.answered()) s.identity = identity.Summary();
    s.serialNumber = identity.serialNumber;
    QProgressDialog progress(QStringLiteral("Zrzut ustawień: odczyt rejestrów RW i RP…"),
                             QStringLiteral("Przerwij"), 0, int(registers.size()), this);
    progress.setObjectName(QStringLiteral("SnapshotProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    s.registers = ReadSettings(engine_, registers,
                               {[&progress] { return progress.wasCanceled(); },
                                [&progress](int done, int) {
                                    progress.setValue(done);
                                    QApplication::processEvents();
                                }});
    return s;
}

void TForm1::TakeSnapshotFromMenu() {
    SaveSnapshot();
}

QString TForm1::SaveSnapshot() {
    const Snapshot s = SnapshotNow();
    const QString folder = SnapshotFolder();
    if (!QDir().mkpath(folder))
        throw AppError(QString::fromUtf8("Nie można utworzyć folderu \"%1\".").arg(folder));
    const QString name = QFileInfo(SnapshotFileName(s)).completeBaseName();
    QString path = folder + '/' + name + QStringLiteral(".json");
    for (int n = 2; QFileInfo::exists(path); ++n) // an earlier snapshot is never overwritten
        path = folder + '/' + name + '_' + QString::number(n) + QStringLiteral(".json");
    SaveFileSafely(path, SnapshotJson(s));
    const auto unanswered = std::count_if(s.registers.begin(), s.registers.end(),
                                          [](const SnapshotRegister& r) { return !r.answered; });
    AppendLogLine(QStringLiteral("Zrzut ustawień: %1 (rejestrów %2, bez odpowiedzi %3)")
                      .arg(QDir::toNativeSeparators(path))
                      .arg(s.registers.size())
                      .arg(unanswered));
    return path;
}

void TForm1::CompareTwoSnapshots() {
    const QStringList paths =
        chooseSnapshotFiles
            ? chooseSnapshotFiles()
            : QFileDialog::getOpenFileNames(this, QStringLiteral("Porównaj dwa zrzuty"),
                                            SnapshotFolder(),
                                            QStringLiteral("Zrzut ustawień (*.json)"));
    if (paths.isEmpty()) return;
    if (paths.size() != 2)
        throw AppError(QStringLiteral("Porównanie: wybierz dokładnie dwa zrzuty."));
    Snapshot a = ReadSnapshotFile(paths[0], QFileInfo(paths[0]).fileName()),
             b = ReadSnapshotFile(paths[1], QFileInfo(paths[1]).fileName());
    if (b.time < a.time) std::swap(a, b); // the earlier one is "before"
    const Comparison comparison = Compare(a, b);
    const QString title =
        QStringLiteral("Zrzut z %1 wobec zrzutu z %2 (%3, adres %4)")
            .arg(a.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 b.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), b.deviceType, b.slave);
    CompareDialog dialog(comparison, title, QString(), nullptr, this);
    dialog.SetValueHeadings(a.time.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            b.time.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    if (runCompareDialog)
        runCompareDialog(dialog);
    else
        dialog.exec();
}

void TForm1::CompareWithSnapshot() {
    CheckLineFree(QStringLiteral("Porównanie ze zrzutem"));
    const QString path = chooseSnapshotFile
                             ? chooseSnapshotFile()
                             : QFileDialog::getOpenFileName(
                                   this, QStringLiteral("Porównaj ze zrzutem"), SnapshotFolder(),
                                   QStringLiteral("Zrzut ustawień (*.json)"));
    if (path.isEmpty()) return;
    const Snapshot earlier = ReadSnapshotFile(path, QFileInfo(path).fileName());
    const Snapshot now = SnapshotNow();
    const Comparison comparison = Compare(earlier, now);
    AppendLogLine(QStringLiteral("Porównanie ze zrzutem %1: zmienione %2, bez zmian %3, bez "
                                 "odpowiedzi %4")
                      .arg(QFileInfo(path).fileName())
                      .arg(comparison.changed)
                      .arg(comparison.same)
                      .arg(comparison.unanswered));
    const QString title = QStringLiteral("Zrzut %1 z %2 (%3, adres %4) wobec urządzenia teraz")
                              .arg(QFileInfo(path).fileName(),
                                   earlier.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                   earlier.deviceType, earlier.slave);
    CompareDialog dialog(
        comparison, title, OtherDevice(earlier, now),
        [this](const QList<RegisterChange>& chosen) {
            const QList<RestoreResult> results = Restore(engine_, tree_, chosen);
            for (const RestoreResult& r : results)
                AppendLogLine(QStringLiteral("Przywrócono ") + RestoreText(r));
            return results;
        },
        this);
    if (runCompareDialog)
        runCompareDialog(dialog);
    else
        dialog.exec();
}

void TForm1::OpenLineDoctor() {
    CheckLineFree(QStringLiteral("Diagnostyka łącza"));
    // The register the operator works with answers for the device; a tree without one has
    // holding register 0, as a scan asks.
    const TreeNode* current = engine_.CurrentNode();
    if (!current || TransactionEngine::NodeAccess(current) == acNone) current = nullptr;
    for (TreeNode* n = tree_.First(); n && !current; n = RegisterTree::GetNext(n))
        if (TransactionEngine::NodeAccess(n) != acNone) current = n;
    const RegisterNode probe = current ? current->record : RegisterNode{QStringLiteral("rejestr 0"),
                                                                        {},
                                                                        QStringLiteral("0"),
                                                                        QStringLiteral("WORD"),
                                                                        QStringLiteral("1"),
                                                                        QStringLiteral("RW"),
                                                                        {}};
    DoctorFindings start;
    static const char* const parities[] = {"none", "even", "odd"};
    start.given = {cbxBaud->currentText(),
                   QLatin1String(parities[std::clamp(cbxParity->currentIndex(), 0, 2)])};
    start.timeoutMs = lineOptions_.timeoutMs;
    start.echoRemoved = lineOptions_.removeEcho;
    start.latencyMs = AdapterLatencyMs(link_.portPath());
    DoctorDialog dialog(
        {DoctorLine{link_, [this](const QString& s) { return link_.ApplyLineSettings(s); },
                    [this](bool on) { link_.removeEcho = on; }, link_.lineSettings(),
                    link_.removeEcho},
         [probe](int slave) { return BuildReadRequest(probe, QString::number(slave)); }, start,
         QStringLiteral("%1 (adres %2)").arg(probe.Name, probe.Address), eSlave->text()},
        this);
    if (runDoctorDialog)
        runDoctorDialog(dialog);
    else
        dialog.exec();
    TakeDoctorFindings(dialog);
}

void TForm1::TakeDoctorFindings(const DoctorDialog& dialog) {
    if (!dialog.findings()) return;
    if (dialog.interrupted())
        AppendLogLine(QStringLiteral("Diagnostyka łącza: przerwana przez operatora"));
    for (const QString& sentence : dialog.verdict())
        AppendLogLine(QStringLiteral("Diagnostyka łącza: ") + sentence);
    const DoctorFindings& f = *dialog.findings();
    if (!dialog.applyChosen() || f.answered.isEmpty()) return;
    const DoctorFindings::Answer& found = f.answered.first();
    cbxBaud->setEditText(found.line.baud);
    cbxParity->setCurrentIndex(found.line.parity == QLatin1String("even")  ? 1
                               : found.line.parity == QLatin1String("odd") ? 2
                                                                           : 0);
    eSlave->setText(QString::number(found.slave));
    LineSettingsChanged();
    if (f.echo && !lineOptions_.removeEcho) {
        LineOptions options = lineOptions_;
        options.removeEcho = true;
        SetLineOptions(options);
    }
}

// A USB adapter that holds received bytes for its latency timer (16 ms by default on FTDI)
// slows every exchange: said once a run per port, with how to change it.
void TForm1::NoteAdapterLatency() {
    const QString& path = link_.portPath();
    if (latencyNoted_.contains(path)) return;
    const QString note = AdapterLatencyNote(path, AdapterLatencyMs(path));
    if (note.isEmpty()) return;
    latencyNoted_.insert(path);
    AppendLogLine(note);
}

// A port that cannot turn the line's direction says so once, when it is asked to.
void TForm1::NoteDirectionControl() {
    const QString note = link_.TakeDirectionNote();
    if (!note.isEmpty()) AppendLogLine(QStringLiteral("Łącze: ") + note);
}

void TForm1::Disconnect() {
    if (link_.isOpen()) link_.ClosePort();
    SetIndicator(kGrey, QString());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // A device name typed into "Typ:" is not loaded by Enter: only choosing from the list acts.
    // The key reaches the box first, then its line edit: both are stopped.
    if (event->type() == QEvent::KeyPress &&
        (watched == cbxDevice || watched == cbxDevice->lineEdit())) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && engine_.Busy()) {
        engine_.RequestStop(); // Esc ends the running job after its current request
        return true;
    }
    if (event->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        if (watched == cbxDevice) Guarded([this] { cbxDeviceEnter(); });
        if (watched == ComCBox) Guarded([this] { ComCBoxEnter(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (engine_.Busy()) { // end the job at its next step, then close
        closeAfterJob_ = true;
        engine_.RequestStop(false);
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TForm1::FormClose() {
    if (closed_) return;
    closed_ = true;
    RepaintTimer.stop();
    monitor_.Timer1.stop();
    qApp->removeEventFilter(this);
    Disconnect();
    journalSync_.stop();
    if (!journal_.Sync()) JournalFailed();
    if (journalRewrite_.isActive()) { // the last edits reach the journal before anything else
        journalRewrite_.stop();
        RewriteJournal();
    }
    const QString text = LogText();
    if (text.isEmpty() || text == startupText_) {
        journal_.Remove();
        return;
    }
    try {
        SaveAtClose(text);
        journal_.Remove(); // the log is safe; a failed save keeps the journal
    } catch (const AppError& error) {
        // The window is closing: report why, then let the operator put the log elsewhere.
        ShowBox(BoxText(error.message()), true);
        if (messageSink) return;
        const QString other = askSaveFileName();
        if (!other.isEmpty()) Guarded([&] { SaveLogFile(other, text); });
    }
}

// The log goes to its usual file, unless another window saved that file after this one
// started: then beside it under a dated name, and the operator is told.
QString TForm1::SaveAtClose(const QString& text) {
    const QString usual = places_.logPath;
    if (LogFileStamp(usual) == logStampAtStart_) {
        SaveLogFile(usual, text);
        NoteLogSaved();
        return usual;
    }
    const QString dated = FreeDatedLogPath(usual, QDateTime::currentDateTime());
    SaveLogFile(dated, text);
    NoteLogSaved();
    ShowBox(QStringLiteral("Plik %1 zapisało w tym czasie inne okno programu; dziennik tego okna "
                           "zapisano jako %2")
                .arg(QDir::toNativeSeparators(usual), QDir::toNativeSeparators(dated)),
            false);
    return dated;
}
