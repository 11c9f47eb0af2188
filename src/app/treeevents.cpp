// The register tree's events and the log window's menu.
#include "logview.h"
#include "mainwindow.h"
#include "tools/logfile.h"
#include "tools/treerules.h"
#include "tools/trend.h"
#include "treemodel.h"
#include "trendwindow.h"
#include "txn/loglines.h"
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTreeView>

namespace {
const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kMaroon(128, 0, 0), kRed(255, 0, 0);
} // namespace

void TForm1::WireTree() {
    model_->foreground = [this](const TreeNode* node, int column) {
        return VTPaintText(node, column);
    };
    model_->onNewText = [this](TreeNode* node, const QString& text) {
        VTNewText(node, text);
        Later([this, node] { VTEdited(node); });
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
    connect(VT, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { Guarded([&] { VTExpanding(index); }); });
}

QVariant TForm1::VTPaintText(const TreeNode* node, int column) const {
    switch (CellColourOf(*node, column, engine_.state.HighlightNode)) {
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
    lbReg->setText(ShownText(focused->record.Name) + ':');
}

void TForm1::VTColumnDblClick(const QModelIndex& index) {
    if (!link_.isOpen()) return;
    if (index.column() == RegisterTreeModel::ColName) {
        engine_.ReadFromNode(engine_.state.CurrentNode);
        if (TreeNode* current = engine_.state.CurrentNode) {
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
}

void TForm1::VTEdited(TreeNode* node) {
    VT->setCurrentIndex(model_->indexOf(node));
    engine_.Highlight(node);
    RepaintTimer.start();
    engine_.WriteRegister(node); // the node edited, even while a walk holds CurrentNode
}

void TForm1::VTChecking(TreeNode* node, CheckState proposed) {
    VT->setCurrentIndex(model_->indexOf(node));
    const OptionOutcome outcome = CheckOption(node, proposed);
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

// The tree's own context menu: "Wykres" on a register whose type decodes to a number.
void TForm1::BuildTreeMenu() {
    TreeMenu = new QMenu(VT);
    TreeMenu->setObjectName(QStringLiteral("TreeMenu"));
    QAction* chart = TreeMenu->addAction(QStringLiteral("Wykres"));
    chart->setObjectName(QStringLiteral("Wykres"));
    VT->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(VT, &QWidget::customContextMenuRequested, this, [this, chart](const QPoint& at) {
        TreeNode* node = model_->nodeOf(VT->indexAt(at));
        if (!node || !IsNumericType(TypeCodeOf(node->record.Type))) return;
        chart->disconnect();
        connect(chart, &QAction::triggered, this,
                [this, node] { Guarded([&] { OpenTrend(node); }); });
        TreeMenu->popup(VT->viewport()->mapToGlobal(at));
    });
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
    if (!trend || !IsReadFunction(engine_.state.frame.FunctionCode())) return;
    const QDateTime now = QDateTime::currentDateTime();
    if (outcome.kind != ReplyOutcome::Valid) {
        trend->AddFailure(now);
        return;
    }
    if (const std::optional<double> value = NumberOfValue(outcome.node->record))
        trend->AddValue(now, *value);
}

void TForm1::Wyczy1Click() {
    Memo1->clear();
}

void TForm1::Kopiuj1Click() {
    Memo1->selectAll();
} // the operator copies with the keyboard

void TForm1::Zapiszdopliku1Click() {
    const QString path = askSaveFileName();
    if (path.isEmpty()) return;
    SaveLogFile(path, LogText());
    const QString usual = places_.logPath;
    if (QFileInfo(path).absoluteFilePath() == usual) logStampAtStart_ = LogFileStamp(usual);
}
