// The register tree's events and the log window's menu.
#include "logview.h"
#include "mainwindow.h"
#include "tools/logfile.h"
#include "treemodel.h"
#include "txn/loglines.h"
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTreeView>

namespace {
const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kMaroon(128, 0, 0), kRed(255, 0, 0);

bool IsRadioLike(const TreeNode* node) {
    return node->checkKind == ckRadioButton || node->checkKind == ckButton;
}
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
    QColor colour;
    if (node->record.Access() == QLatin1String("RW")) colour = column == 1 ? kNavy : kBlack;
    if (node->record.Access() == QLatin1String("RP")) colour = kMaroon;
    if (node == engine_.state.HighlightNode) colour = column == 2 ? kRed : kBlack;
    return colour.isValid() ? QVariant(colour) : QVariant();
}

void TForm1::VTClick() {
    TreeNode* focused = model_->nodeOf(VT->currentIndex());
    if (engine_.state.Walking || !focused) return;
    engine_.state.CurrentNode = focused;
    engine_.state.CurrentRecord = &focused->record;
    lbReg->setText(ShownText(focused->record.Name()) + ':');
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
        if (AccessCodeOf(node->record.Access()) == acRW) {
            tree_.BeginUpdate();
            tree_.EndUpdate();
            VT->edit(model_->indexOf(node, RegisterTreeModel::ColValue));
        } else {
            ShowMessage(QStringLiteral("rejestr tylko do odczytu"));
        }
    }
}

void TForm1::VTNewText(TreeNode* node, const QString& text) {
    node->record.setValue(text);
}

void TForm1::VTEdited(TreeNode* node) {
    VT->setCurrentIndex(model_->indexOf(node));
    engine_.state.HighlightNode = node;
    RepaintTimer.start();
    engine_.WriteRegister(node); // the node edited, even while a walk holds CurrentNode
}

void TForm1::VTChecking(TreeNode* node, CheckState proposed) {
    VT->setCurrentIndex(model_->indexOf(node));
    if (IsRadioLike(node)) proposed = csCheckedNormal; // a click never unchecks these
    if (proposed == csCheckedNormal) {
        const QString value = node->record.Value().toString();
        TreeNode* parent = node->parent();
        if (!parent) {
            ApplyCheckState(node, proposed);
            return;
        }
        // A walk keeps its position; the option's register is written all the same.
        if (!engine_.state.Walking) engine_.state.CurrentNode = parent;
        if (!parent->record.Type().isEmpty()) {
            parent->record.setValue(value);
            engine_.state.HighlightNode = parent;
            RepaintTimer.start();
            engine_.WriteRegister(parent);
        } else if (TreeNode* reg = parent->parent()) {
            // A byte group: the option sets one byte of the register two levels up.
            const std::int32_t current = ParseInteger(reg->record.Value());
            const std::int32_t v = ParseInteger(value);
            const std::int32_t n = v > 255 ? (v | (current & 0x00FF)) : (v | (current & 0xFF00));
            reg->record.setValue('$' + QString::number(static_cast<std::uint32_t>(n), 16)
                                           .toUpper()
                                           .rightJustified(4, '0'));
        }
    }
    ApplyCheckState(node, proposed);
}

void TForm1::ApplyCheckState(TreeNode* node, CheckState state) {
    if (node->checkKind == ckButton) state = csUncheckedNormal; // a button springs back
    node->checkState = state;
    if (node->checkKind == ckRadioButton && state == csCheckedNormal && node->parent()) {
        for (TreeNode* sibling : node->parent()->children())
            if (sibling != node && sibling->checkKind == ckRadioButton)
                sibling->checkState = csUncheckedNormal;
    }
    if (node->checkKind == ckTriStateCheckBox) // children follow the box, then it follows them
        for (TreeNode* n = RegisterTree::GetNext(node); n && n->depth() > node->depth();
             n = RegisterTree::GetNext(n))
            if (n->checkKind == ckCheckBox || n->checkKind == ckTriStateCheckBox)
                n->checkState = state;
    for (TreeNode* p = node->parent(); p && p->checkKind == ckTriStateCheckBox; p = p->parent()) {
        bool any = false, all = true;
        for (const auto& child : p->children()) {
            if (child->checkKind == ckNone) continue;
            const bool on = child->checkState == csCheckedNormal;
            any |= on || child->checkState == csMixedNormal;
            all &= on;
        }
        p->checkState = all ? csCheckedNormal : any ? csMixedNormal : csUncheckedNormal;
    }
    model_->refreshAll();
}

void TForm1::VTExpanding(const QModelIndex& index) {
    TreeNode* node = model_->nodeOf(index);
    if (!node || node->record.Type() != QLatin1String("HEX") || !node->record.Value().isEmpty())
        return;
    // An unread HEX register shows no option as set.
    for (TreeNode* n = RegisterTree::GetNext(node); n && n->depth() > node->depth();
         n = RegisterTree::GetNext(n))
        n->checkState = csUncheckedNormal;
    model_->refreshAll();
}

void TForm1::RepaintTimerTimer() {
    RepaintTimer.stop();
    engine_.state.HighlightNode = nullptr;
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
    const QString usual = LogPathFor(executablePath_);
    if (QFileInfo(path).absoluteFilePath() == usual) logStampAtStart_ = LogFileStamp(usual);
}
