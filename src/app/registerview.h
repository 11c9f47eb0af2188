#pragma once
// The tree view of the registers: tree lines, vertical grid lines and every check kind.
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QTreeView>

class RegisterView : public QTreeView {
    Q_OBJECT
public:
    explicit RegisterView(QWidget* parent);

protected:
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;
};

// Draws the item check indicator as the node's check kind asks: check box, radio button or
// button, dimmed when the node's mark is disabled.
class RegisterStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};

// Draws the cells with the colour rules and grid lines; a value not yet written in italics.
// Its editor writes nothing when it loses the focus with its text unchanged (Enter always
// writes), and a cell cut short shows its whole text in a tool tip.
class RegisterDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    bool eventFilter(QObject* object, QEvent* event) override;
};
