#pragma once
// The register tree's rules, without widgets: the colour of a cell, what a check mark does,
// which values may be edited, which device files can be calibrated. The window only wires its
// widgets to these.
#include "regmap/tree.h"
#include <QString>

// The colour rules, in order: an RW register's address navy (the rest black), an RP register
// maroon, the highlighted register's value red (the rest black). The view's own colour when
// no rule applies.
enum class CellColour { ViewOwn, Black, Navy, Maroon, Red };
CellColour CellColourOf(const TreeNode& node, int column, const TreeNode* highlighted);

// What a check mark asked for, once its values are in the tree.
struct OptionOutcome {
    TreeNode* current = nullptr; // the register reads and writes act on now; none: unchanged
    TreeNode* written = nullptr; // the register to write and highlight; none: nothing is sent
};
// A proposed check state of a node's mark. Radio buttons and buttons are only ever checked.
// Checking an option gives its register the option's value (an option under a byte group sets
// that byte of the register two levels up); then the mark and its neighbours follow: a radio
// button unchecks its siblings, a button springs back, a three-state box takes its children
// along and follows them. Throws AppError for a value that is not an integer.
OptionOutcome CheckOption(TreeNode* node, CheckState proposed);
// The marks after a node's mark changed, as described above.
void ApplyCheckState(TreeNode* node, CheckState state);
// Expanding an unread HEX register shows none of its options as set; true when marks changed.
bool ClearMarksOfUnreadHex(TreeNode* node);
// Only an RW register's value may be edited in the tree.
bool ValueEditable(const TreeNode& node);
// Device files whose name contains "F.dat" can be calibrated.
bool IsCalibratable(const QString& deviceFileName);
