// The register tree's events and the log window's menu.
#include "logview.h"
#include "mainwindow.h"
#include "tools/logfile.h"
#include "tools/treerules.h"
#include "tools/trend.h"
#include "treemodel.h"
#include "trendwindow.h"
#include "txn/loglines.h"
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

namespace {
const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kMaroon(128, 0, 0), kRed(255, 0, 0);
const QColor kUnreadGrey(0x80, 0x80, 0x80);
} // namespace

void TForm1::WireTree() {
    model_->foreground = [this](const TreeNode* node, int column) {
        return VTPaintText(node, column);
    };
    model_->onNewText = [this](TreeNode* node, const QString& text) {
        const QString before = node->record.Value;
        const ValueOrigin originBefore = node->valueOrigin;
        VTNewText(node, text);
        Later([this, node, before, originBefore] { VTEdited(node, before, originBefore); });
    };
    model_->onChecking = [this](TreeNode* node, CheckState proposed) {
        checkPending_ = true;
        Later([this, node, proposed] {
            checkPending_ = false;
            VTChecking(node, proposed);
        });
    };
    // A click on a check mark runs the check rule first, then the click rule.
    connect(VT, &QTreeView::clicked, this, [this] {
        if (checkPending_)
            Later([this] { VTClick(); });
        else
            Guarded([this] { VTClick(); });
    });
    connect(VT, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { Guarded([&] { VTColumnDblClick(index); }); });
    connect(VT, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        Guarded([&] { VTExpanding(index); });
        // Once the view has laid out the new rows.
        QTimer::singleShot(0, this, [this, node = QPersistentModelIndex(index)] {
            if (node.isValid()) ScrollChildrenIntoView(node);
        });
    });
    tree_.setNodeChangedHandler([this](const TreeNode* node) { model_->refreshNode(node); });
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this,
            [this] { Guarded([this] { ReadCurrentFromKeyboard(); }); });
}

// F5 reads the row the keyboard is on, register or group, as a double click on its name does.
void TForm1::ReadCurrentFromKeyboard() {
    VTClick();
    TreeNode* current = engine_.CurrentNode();
    if (!current) return;
    VTColumnDblClick(model_->indexOf(current, RegisterTreeModel::ColName));
}

// The children of a node just expanded come into view, the node itself staying in sight.
void TForm1::ScrollChildrenIntoView(const QModelIndex& index) {
    const int rows = model_->rowCount(index);
    if (rows == 0) return;
    VT->scrollTo(model_->index(rows - 1, 0, index), QAbstractItemView::EnsureVisible);
    const QRect node = VT->visualRect(index);
    if (!VT->viewport()->rect().contains(node.topLeft()))
        VT->scrollTo(index, QAbstractItemView::PositionAtTop);
}

QVariant TForm1::VTPaintText(const TreeNode* node, int column) const {
    switch (CellColourOf(*node, column, engine_.HighlightNode())) {
    case CellColour::Unread:
        return kUnreadGrey;
    case CellColour::Black:
        return kBlack;
    case CellColour::Navy:
        return kNavy;
    case CellColour::Maroon:
        return kMaroon;
    case CellColour::Red:
        return kRed;
    case CellColour::ViewOwn:
        break;
    }
    return {};
}

void TForm1::VTClick() {
    TreeNode* focused = model_->nodeOf(VT->currentIndex());
    if (engine_.Walking() || !focused) return;
    engine_.MakeCurrent(focused);
    // While monitoring, the label names the register monitored: a group is not monitored.
    if (cbMonitor->isChecked() && TransactionEngine::NodeAccess(focused) == acNone) return;
    const QString label = ShownText(focused->record.Name) + ':';
    lbReg->setText(label);
    const bool cut = lbReg->fontMetrics().horizontalAdvance(label) > lbReg->width();
    lbReg->setToolTip(cut ? label : QString());
}

void TForm1::VTColumnDblClick(const QModelIndex& index) {
    if (!link_.isOpen()) return;
    if (index.column() == RegisterTreeModel::ColName) {
        engine_.ReadFromNode(engine_.CurrentNode());
        if (TreeNode* current = engine_.CurrentNode()) {
            const QModelIndex at = model_->indexOf(current);
            if (VT->isExpanded(at)) VT->collapse(at);
        }
    } else if (index.column() == RegisterTreeModel::ColValue) {
        TreeNode* node = model_->nodeOf(index);
        if (!node || node != model_->nodeOf(VT->currentIndex())) return;
        if (ValueEditable(*node)) {
            tree_.BeginUpdate();
            tree_.EndUpdate();
            VT->edit(model_->indexOf(node, RegisterTreeModel::ColValue));
        } else {
            ShowMessage(QStringLiteral("rejestr tylko do odczytu"));
        }
    }
}

void TForm1::VTNewText(TreeNode* node, const QString& text) {
    node->record.Value = text;
    node->valueOrigin = ValueOrigin::Edited; // until the device takes it
}

void TForm1::VTEdited(TreeNode* node, const QString& before, ValueOrigin originBefore) {
    VT->setCurrentIndex(model_->indexOf(node));
    engine_.Highlight(node);
    RepaintTimer.start();
    try {
        engine_.WriteRegister(node); // the node edited, even while a walk holds CurrentNode
    } catch (const AppError&) {
        // Refused before anything was sent: the cell shows its last value again.
        if (engine_.HighlightNode() == node) engine_.Highlight(nullptr);
        node->record.Value = before;
        node->valueOrigin = originBefore;
        model_->refreshNode(node);
        throw;
    }
}

void TForm1::VTChecking(TreeNode* node, CheckState proposed) {
    VT->setCurrentIndex(model_->indexOf(node));
    OptionOutcome outcome;
    try {
        outcome = CheckOption(node, proposed);
    } catch (const AppError&) {
        model_->refreshAll(); // the marks as they were
        throw;
    }
    // A walk keeps its position; the option's register is written all the same.
    if (outcome.current && !engine_.Walking()) engine_.SetCurrentNode(outcome.current);
    if (outcome.written) {
        engine_.Highlight(outcome.written);
        RepaintTimer.start();
    }
    model_->refreshAll();
    if (outcome.written) engine_.WriteRegister(outcome.written);
}

void TForm1::VTExpanding(const QModelIndex& index) {
    if (ClearMarksOfUnreadHex(model_->nodeOf(index))) model_->refreshAll();
}

void TForm1::RepaintTimerTimer() {
    RepaintTimer.stop();
    engine_.Highlight(nullptr);
    model_->refreshAll();
}

void TForm1::BuildLogMenu() {
    PopupMenu1 = new QMenu(Memo1);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [this](const char* name, const QString& caption, void (TForm1::*handler)()) {
        QAction* action = PopupMenu1->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    add("Wyczy1", QStringLiteral("Wyczyść"), &TForm1::Wyczy1Click);
    add("Kopiuj1", QStringLiteral("Kopiuj"), &TForm1::Kopiuj1Click);
    add("Zapiszdopliku1", QStringLiteral("Zapisz do pliku"), &TForm1::Zapiszdopliku1Click);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(Memo1->viewport()->mapToGlobal(at)); });
}

// The tree's own context menu: "Wykres" on a register whose type decodes to a number, and
// the folder where the log and the calibration records go.
void TForm1::BuildTreeMenu() {
    TreeMenu = new QMenu(VT);
    TreeMenu->setObjectName(QStringLiteral("TreeMenu"));
    QAction* chart = TreeMenu->addAction(QStringLiteral("Wykres"));
    chart->setObjectName(QStringLiteral("Wykres"));
    QAction* folder = TreeMenu->addAction(QStringLiteral("Otwórz folder dziennika i kalibracji"));
    folder->setObjectName(QStringLiteral("OtworzFolder"));
    connect(folder, &QAction::triggered, this,
            [this] { Guarded([this] { OpenRecordsFolder(); }); });
    VT->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(VT, &QWidget::customContextMenuRequested, this, [this, chart](const QPoint& at) {
        const QModelIndex index = VT->indexAt(at);
        if (index.isValid()) { // a right click makes the row current, as a click does
            VT->setCurrentIndex(index);
            Guarded([this] { VTClick(); });
        }
        TreeNode* node = model_->nodeOf(index);
        chart->disconnect();
        chart->setVisible(node && IsNumericType(TypeCodeOf(node->record.Type)));
        if (chart->isVisible())
            connect(chart, &QAction::triggered, this,
                    [this, node] { Guarded([&] { OpenTrend(node); }); });
        TreeMenu->popup(VT->viewport()->mapToGlobal(at));
    });
}

// Where the log is saved and kalibracje/ beside it: beside the program in a portable folder,
// else the user's own data folder.
void TForm1::OpenRecordsFolder() {
    const QString folder = QFileInfo(places_.logPath).absolutePath();
    const QString records = folder + QStringLiteral("/kalibracje");
    const QString shown = QFileInfo(records).isDir() ? records : folder;
    if (!(openFolder ? openFolder : QDesktopServices::openUrl)(QUrl::fromLocalFile(shown)))
        ShowMessage(
            QStringLiteral("Nie można otworzyć folderu %1.").arg(QDir::toNativeSeparators(shown)));
}

void TForm1::OpenTrend(TreeNode* node) {
    QPointer<TrendWindow>& trend = trends_[node];
    if (!trend) trend = new TrendWindow(ShownText(node->record.Name), this);
    trend->show();
    trend->raise();
}

// Every read of a register with a trend window open reaches it: a value, or a failure mark.
void TForm1::FeedTrend(const TransactionOutcome& outcome) {
    TrendWindow* trend = trends_.value(outcome.node).data();
    if (!trend || !IsReadFunction(outcome.function)) return;
    const QDateTime now = QDateTime::currentDateTime();
    if (outcome.kind != ReplyOutcome::Valid) {
        trend->AddFailure(now);
        return;
    }
    if (const std::optional<double> value = NumberOfValue(outcome.node->record))
        trend->AddValue(now, *value);
}

void TForm1::Wyczy1Click() {
    if (LogHasUnsavedLines() &&
        !askQuestion(QStringLiteral("Dziennik zawiera wiersze niezapisane w żadnym pliku. "
                                    "Wyczyścić go mimo to?")))
        return;
    Memo1->clear();
}

bool TForm1::LogHasUnsavedLines() const {
    const QString text = LogText();
    return !text.isEmpty() && text != startupText_ && text != savedText_;
}

void TForm1::Kopiuj1Click() {
    Memo1->selectAll();
} // the operator copies with the keyboard

void TForm1::Zapiszdopliku1Click() {
    const QString path = askSaveFileName();
    if (path.isEmpty()) return;
    SaveLogFile(path, LogText());
    NoteLogSaved();
    const QString usual = places_.logPath;
    if (QFileInfo(path).absoluteFilePath() == usual) logStampAtStart_ = LogFileStamp(usual);
}
