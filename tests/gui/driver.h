#pragma once
// Drives the main window's register tree as a person does: the row made visible, then a
// click, a double click or a click on its check mark where they land on the screen.
#include "app/mainwindow.h"
#include "app/treemodel.h"
#include <QtTest>
#include <QtWidgets>

inline QModelIndex IndexOf(TForm1& w, TreeNode* node, int column = 0) {
    return w.model()->indexOf(node, column);
}

// The cell on the screen, its ancestors expanded and the view scrolled to it.
inline QRect CellOf(TForm1& w, TreeNode* node, int column) {
    for (TreeNode* p = node->parent(); p; p = p->parent())
        w.VT->expand(IndexOf(w, p));
    w.VT->scrollTo(IndexOf(w, node, column));
    return w.VT->visualRect(IndexOf(w, node, column));
}

inline void ClickCell(TForm1& w, TreeNode* node, int column = 0) {
    QTest::mouseClick(w.VT->viewport(), Qt::LeftButton, {}, CellOf(w, node, column).center());
}

inline void DoubleClickCell(TForm1& w, TreeNode* node, int column) {
    ClickCell(w, node, column);
    QTest::mouseDClick(w.VT->viewport(), Qt::LeftButton, {}, CellOf(w, node, column).center());
}

inline void ClickCheckMark(TForm1& w, TreeNode* node) {
    QStyleOptionViewItem option;
    option.initFrom(w.VT);
    option.rect = CellOf(w, node, 0);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect mark =
        w.VT->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, w.VT);
    QTest::mouseClick(w.VT->viewport(), Qt::LeftButton, {}, mark.center());
}
