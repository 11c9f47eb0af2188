#include "treerules.h"

namespace {
bool IsRadioLike(const TreeNode* node) {
    return node->checkKind == ckRadioButton || node->checkKind == ckButton;
}

// The byte an option under a byte group sets: values above 255 are the high byte.
QString WithByte(const QString& registerValue, const QString& optionValue) {
    const std::int32_t current = ParseInteger(registerValue);
    const std::int32_t v = ParseInteger(optionValue);
    const std::int32_t n = v > 255 ? (v | (current & 0x00FF)) : (v | (current & 0xFF00));
    return '$' +
           QString::number(static_cast<std::uint32_t>(n), 16).toUpper().rightJustified(4, '0');
}
} // namespace

CellColour CellColourOf(const TreeNode& node, int column, const TreeNode* highlighted) {
    CellColour colour = CellColour::ViewOwn;
    if (IsExactlyRW(node.record)) colour = column == 1 ? CellColour::Navy : CellColour::Black;
    if (IsExactlyRP(node.record)) colour = CellColour::Maroon;
    if (&node == highlighted) colour = column == 2 ? CellColour::Red : CellColour::Black;
    return colour;
}

OptionOutcome CheckOption(TreeNode* node, CheckState proposed) {
    OptionOutcome outcome;
    if (IsRadioLike(node)) proposed = csCheckedNormal; // a click never unchecks these
    TreeNode* parent = node->parent();
    if (proposed == csCheckedNormal && parent) {
        const QString value = node->record.Value;
        outcome.current = parent;
        if (!parent->record.Type.isEmpty()) {
            parent->record.Value = value;
            outcome.written = parent;
        } else if (TreeNode* reg = parent->parent()) { // a byte group: nothing is written
            reg->record.Value = WithByte(reg->record.Value, value);
        }
    }
    ApplyCheckState(node, proposed);
    return outcome;
}

void ApplyCheckState(TreeNode* node, CheckState state) {
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
}

bool ClearMarksOfUnreadHex(TreeNode* node) {
    if (!node || !IsExactlyHex(node->record) || !node->record.Value.isEmpty()) return false;
    for (TreeNode* n = RegisterTree::GetNext(node); n && n->depth() > node->depth();
         n = RegisterTree::GetNext(n))
        n->checkState = csUncheckedNormal;
    return true;
}

bool ValueEditable(const TreeNode& node) {
    return AccessCodeOf(node.record.Access) == acRW;
}

bool IsCalibratable(const QString& deviceFileName) {
    return deviceFileName.contains(QLatin1String("F.dat"));
}
