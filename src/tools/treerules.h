#pragma once
// The register tree's rules, without widgets: the colour of a cell, what a check mark does,
// which values may be edited, which device files can be calibrated. The window only wires its
// widgets to these.
#include "regmap/tree.h"
#include <QString>

// The colour rules, in order: an RW register's address navy (the rest black), an RP register
// maroon, a value not read from the device since the load grey, the highlighted register's
// value red (the rest black). The view's own colour when no rule applies.
enum class CellColour { ViewOwn, Black, Navy, Maroon, Red, Unread };
CellColour CellColourOf(const TreeNode& node, int column, const TreeNode* highlighted);

// What a check mark asked for, once its values are in the tree.
struct OptionOutcome {
    TreeNode* current = nullptr; // the register reads and writes act on now; none: unchanged
    TreeNode* written = nullptr; // the register to write and highlight; none: nothing is sent
};
// A proposed check state of a node's mark. Radio buttons and buttons are only ever checked.
// Checking a radio button gives its register the option's value; ticking a check box sets its
// bits in the register's value and unticking clears them (both are written, and the marks
// then follow the register); an option under a byte group sets that byte of the register two
// levels up, shown as not yet written. The register's value is then in its type's form. The
// options of a read-only register never change. Then the mark and its neighbours follow: a
// radio button unchecks its siblings, a button springs back, a three-state box takes its
// children along and follows them. Throws AppError for a value that is not an integer, and
// for a check box whose register has no value read from the device.
OptionOutcome CheckOption(TreeNode* node, CheckState proposed);
// The register an option sets: its parent, or for an option of a byte group the group's parent.
TreeNode* OptionRegister(const TreeNode* option);
// The options of a register can be changed only when it is RW or RP; marks of no register can.
bool OptionsChangeable(const TreeNode* option);
// The marks after a node's mark changed, as described above.
void ApplyCheckState(TreeNode* node, CheckState state);
// Expanding an unread HEX register shows none of its options as set; true when marks changed.
bool ClearMarksOfUnreadHex(TreeNode* node);
// Only an RW register's value may be edited in the tree.
bool ValueEditable(const TreeNode& node);
// Device files whose name contains "F.dat" can be calibrated.
bool IsCalibratable(const QString& deviceFileName);
