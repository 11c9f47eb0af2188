#include "registerview.h"
#include "regmap/tree.h"
#include "treemodel.h"
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>

RegisterView::RegisterView(QWidget* parent) : QTreeView(parent) {
    auto* style = new RegisterStyle;
    style->setParent(this);
    setStyle(style);
    setItemDelegate(new RegisterDelegate(this));
    setRootIsDecorated(true);
    setExpandsOnDoubleClick(false);
    setAnimated(false);
    setUniformRowHeights(false);
    setAutoScroll(true);
    setSortingEnabled(false);
    setAcceptDrops(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette p = palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    setPalette(p);
    header()->setStyleSheet(QStringLiteral(
        "QHeaderView::section { background: palette(button); border: none;"
        " border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid);"
        " padding-left: 3px; }"));
}

void RegisterView::drawBranches(QPainter* painter, const QRect& rect,
                                const QModelIndex& index) const {
    const int step = indentation();
    painter->save();
    painter->setPen(QPen(palette().color(QPalette::Dark), 1, Qt::DotLine));
    const int middle = rect.top() + rect.height() / 2;
    int cell = rect.right() + 1 - step; // this node's own branch cell
    const int centre = cell + step / 2;
    const bool hasNext = index.sibling(index.row() + 1, 0).isValid();
    painter->drawLine(centre, middle, cell + step - 2, middle);
    painter->drawLine(centre, rect.top(), centre, hasNext ? rect.bottom() : middle);
    for (QModelIndex a = index.parent(); a.isValid(); a = a.parent()) {
        cell -= step;
        if (a.sibling(a.row() + 1, 0).isValid())
            painter->drawLine(cell + step / 2, rect.top(), cell + step / 2, rect.bottom());
    }
    painter->restore();
    QTreeView::drawBranches(painter, rect, index);
}

void RegisterStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
    if (element != PE_IndicatorItemViewItemCheck || !item) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    QStyleOptionButton mark;
    mark.QStyleOption::operator=(*option);
    if (item->index.data(RegisterTreeModel::MarkDisabledRole).toBool())
        mark.state &= ~State_Enabled;
    switch (item->index.data(RegisterTreeModel::CheckKindRole).toInt()) {
    case ckRadioButton:
        QProxyStyle::drawPrimitive(PE_IndicatorRadioButton, &mark, painter, widget);
        break;
    case ckButton:
        mark.state |= (option->state & State_On) ? State_Sunken : State_Raised;
        QProxyStyle::drawPrimitive(PE_PanelButtonBevel, &mark, painter, widget);
        break;
    default:
        QProxyStyle::drawPrimitive(PE_IndicatorCheckBox, &mark, painter, widget);
        break;
    }
}

void RegisterDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    // The colour rules hold on the selected row too: its text keeps the rule's colour on the
    // selection's background instead of turning white.
    QStyleOptionViewItem shown = option;
    const QVariant rule = index.data(Qt::ForegroundRole);
    if (rule.isValid()) shown.palette.setColor(QPalette::HighlightedText, rule.value<QColor>());
    QStyledItemDelegate::paint(painter, shown, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid)); // vertical grid lines only
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->restore();
}

void RegisterDelegate::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(RegisterTreeModel::ValueOriginRole).toInt() == int(ValueOrigin::Edited) &&
        index.column() == RegisterTreeModel::ColValue)
        option->font.setItalic(true);
}

namespace {
const char* const kTextAtStart = "vardelTextAtStart";
} // namespace

// The view calls this again whenever the edited cell's value changes, as with each reading of
// a monitored register. What the operator has typed is never replaced: Return must write
// that, not the device's last reading with the typing lost or mixed into it. An editor still
// untouched follows the device, its selection kept.
void RegisterDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line && line->property(kTextAtStart).isValid()) {
        const QString now = index.data(Qt::EditRole).toString();
        if (line->text() != line->property(kTextAtStart).toString() || now == line->text()) return;
        const bool allSelected = line->hasSelectedText() && line->selectedText() == line->text();
        line->setText(now);
        line->setProperty(kTextAtStart, now);
        if (allSelected) line->selectAll();
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
    if (line) line->setProperty(kTextAtStart, line->text());
}

bool RegisterDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* line = qobject_cast<QLineEdit*>(object);
    if (line && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason &&
        line->text() == line->property(kTextAtStart).toString()) {
        // Clicking elsewhere is no request to write the value it showed.
        emit closeEditor(line, NoHint);
        return false;
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

bool RegisterDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                 const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem shown = option;
    initStyleOption(&shown, index);
    const QRect room = view->style()->subElementRect(QStyle::SE_ItemViewItemText, &shown, view);
    QStringList lines;
    if (shown.fontMetrics.horizontalAdvance(shown.text) > room.width() - 6)
        lines << index.data(Qt::EditRole).toString(); // the whole text of a cell cut short
    const QString origin = index.data(Qt::ToolTipRole).toString();
    if (!origin.isEmpty()) lines << origin;
    if (lines.isEmpty()) return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), lines.join('\n'), view->viewport(), option.rect);
    return true;
}
