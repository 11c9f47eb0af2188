#include "treerules.h"
#include "regmap/error.h"
#include "txn/codec.h"

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
    if (column == 2 && node.valueOrigin == ValueOrigin::File && !node.record.Value.isEmpty())
        colour = CellColour::Unread;
    if (&node == highlighted) colour = column == 2 ? CellColour::Red : CellColour::Black;
    return colour;
}

TreeNode* OptionRegister(const TreeNode* option) {
    TreeNode* parent = option->parent();
    if (!parent) return nullptr;
    if (!parent->record.Type.isEmpty()) return parent;
    return parent->parent(); // a byte group's register
}

bool OptionsChangeable(const TreeNode* option) {
    const TreeNode* reg = OptionRegister(option);
    if (!reg || reg->record.Type.isEmpty()) return true; // a mark of no register
    const AccessCode access = AccessCodeOf(reg->record.Access);
    return access == acRW || access == acRP;
}

namespace {
// A check box changes its bits in the value the device gave; without that value there is
// nothing to change them in.
std::int32_t ValueForBits(const TreeNode* reg) {
    if (reg->record.Value.isEmpty() || reg->valueOrigin == ValueOrigin::File)
        throw AppError(QStringLiteral("Najpierw odczytaj rejestr %1: opcja zmienia bity jego "
                                      "wartości odczytanej z urządzenia")
                           .arg(reg->record.Name));
    return ParseInteger(reg->record.Value);
}
} // namespace

OptionOutcome CheckOption(TreeNode* node, CheckState proposed) {
    OptionOutcome outcome;
    TreeNode* parent = node->parent();
    if (parent && !OptionsChangeable(node)) return outcome; // a read-only register's options
    if (IsRadioLike(node)) proposed = csCheckedNormal;      // a click never unchecks these
    const bool checking = proposed == csCheckedNormal;
    if (parent && !parent->record.Type.isEmpty()) {
        const std::int32_t v = ParseInteger(node->record.Value);
        std::int32_t n = v;
        if (node->checkKind == ckCheckBox) { // its bits, on or off, in the register's value
            const std::int32_t c = ValueForBits(parent);
            n = checking ? (c | v) : (c & ~v);
        } else if (!checking) {
            ApplyCheckState(node, proposed);
            return outcome;
        }
        outcome.current = parent;
        outcome.written = parent;
        parent->record.Value = IntegerValueText(n, parent->record);
        parent->valueOrigin = ValueOrigin::Edited;
        if (IsExactlyHex(parent->record)) MarkOptionsOf(parent, n); // the marks follow it
        ApplyCheckState(node, proposed);
        return outcome;
    }
    if (checking && parent) {
        outcome.current = parent;
        if (TreeNode* reg = parent->parent()) { // a byte group: nothing is written
            reg->record.Value = WithByte(reg->record.Value, node->record.Value);
            reg->valueOrigin = ValueOrigin::Edited;
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
