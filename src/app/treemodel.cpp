#include "treemodel.h"
#include "tools/treerules.h"
#include "txn/loglines.h"
#include <QSize>

RegisterTreeModel::RegisterTreeModel(RegisterTree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree) {}

void RegisterTreeModel::resetAround(const std::function<void()>& change) {
    beginResetModel();
    struct End {
        RegisterTreeModel* model;
        ~End() { model->endResetModel(); }
    } end{this};
    change();
}

void RegisterTreeModel::refreshAll() {
    // The shape is unchanged; every visible cell is asked again.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

void RegisterTreeModel::refreshNode(const TreeNode* node) {
    if (!node) return;
    emit dataChanged(indexOf(node, ColName), indexOf(node, ColValue));
}

TreeNode* RegisterTreeModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<TreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex RegisterTreeModel::indexOf(const TreeNode* node, int column) const {
    return node ? createIndex(node->row(), column, const_cast<TreeNode*>(node)) : QModelIndex();
}

TreeNodeList RegisterTreeModel::childrenOf(const QModelIndex& parent) const {
    return parent.isValid() ? nodeOf(parent)->children() : tree_.topLevel();
}

QModelIndex RegisterTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column < 0 || column > ColValue || row < 0 || row >= rowCount(parent)) return {};
    return createIndex(row, column, childrenOf(parent)[row]);
}

QModelIndex RegisterTreeModel::parent(const QModelIndex& child) const {
    const TreeNode* node = nodeOf(child);
    return node ? indexOf(node->parent()) : QModelIndex();
}

int RegisterTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    // A node without its has-children flag shows no children, as the first-child query says.
    if (parent.isValid() && !nodeOf(parent)->has(NodeState::HasChildren)) return 0;
    return static_cast<int>(childrenOf(parent).size());
}

int RegisterTreeModel::columnCount(const QModelIndex&) const {
    return 3;
}

QVariant RegisterTreeModel::data(const QModelIndex& index, int role) const {
    const TreeNode* node = nodeOf(index);
    if (!node) return {};
    const RegisterNode& r = node->record;
    switch (role) {
    case Qt::DisplayRole: // drawn printable and cut short; the editor gets the whole text
        return ShownText(index.column() == ColName      ? r.Name
                         : index.column() == ColAddress ? r.Address
                                                        : r.Value);
    case Qt::EditRole:
        return index.column() == ColName      ? r.Name
               : index.column() == ColAddress ? r.Address
                                              : r.Value;
    case Qt::CheckStateRole:
        if (index.column() != ColName || node->checkKind == ckNone) return {};
        return QtState(node->checkState);
    case CheckKindRole:
        return node->checkKind;
    case MarkDisabledRole:
        return node->has(NodeState::Disabled) || !OptionsChangeable(node);
    case Qt::ForegroundRole:
        return foreground ? foreground(node, index.column()) : QVariant();
    case Qt::ToolTipRole: // where a value came from, when not from the device
        if (index.column() != ColValue || r.Value.isEmpty()) return {};
        if (node->valueOrigin == ValueOrigin::File)
            return QStringLiteral("wartość z pliku urządzenia, nieodczytana");
        if (node->valueOrigin == ValueOrigin::Edited)
            return QStringLiteral("wartość zmieniona, niezapisana w urządzeniu");
        return {};
    case ValueOriginRole:
        return int(node->valueOrigin);
    case Qt::SizeHintRole: // heights in the file are at 120 pixels per inch
        return QSize(-1, std::max(1, (node->height * 4 + 2) / 5));
    default:
        return {};
    }
}

QVariant RegisterTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const captions[] = {"Rejestr", "Adres", "Wartość"};
    return section >= 0 && section < 3 ? QString::fromUtf8(captions[section]) : QVariant();
}

Qt::CheckState RegisterTreeModel::QtState(std::uint8_t checkState) {
    switch (checkState) {
    case csCheckedNormal:
    case csCheckedPressed:
        return Qt::Checked;
    case csMixedNormal:
    case csMixedPressed:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

Qt::ItemFlags RegisterTreeModel::flags(const QModelIndex& index) const {
    const TreeNode* node = nodeOf(index);
    if (!node) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const AccessCode access = AccessCodeOf(node->record.Access);
    // Only the value column of RW and RP registers can be edited.
    if (index.column() == ColValue && (access == acRW || access == acRP))
        flags |= Qt::ItemIsEditable;
    if (index.column() == ColName && node->checkKind != ckNone && !node->has(NodeState::Disabled) &&
        OptionsChangeable(node))
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool RegisterTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TreeNode* node = nodeOf(index);
    if (!node) return false;
    if (role == Qt::EditRole && index.column() == ColValue) {
        if (onNewText) onNewText(node, value.toString());
        return true;
    }
    if (role == Qt::CheckStateRole && index.column() == ColName && onChecking) {
        const auto state = static_cast<Qt::CheckState>(value.toInt());
        onChecking(node, state == Qt::Checked            ? csCheckedNormal
                         : state == Qt::PartiallyChecked ? csMixedNormal
                                                         : csUncheckedNormal);
        return true;
    }
    return false;
}
