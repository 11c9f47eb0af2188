#pragma once
// Item model of the register tree: three columns, Name, Address and Value.
#include "regmap/tree.h"
#include <QAbstractItemModel>
#include <functional>

class RegisterTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { ColName = 0, ColAddress = 1, ColValue = 2 };
    enum Role { CheckKindRole = Qt::UserRole + 1, MarkDisabledRole, ValueOriginRole };

    explicit RegisterTreeModel(RegisterTree& tree, QObject* parent = nullptr);

    // Runs a change of the tree's shape (a load) inside a model reset, even if it throws.
    void resetAround(const std::function<void()>& change);
    // Every cell may have changed: new values, check marks, colours.
    void refreshAll();
    // The cells of one node changed.
    void refreshNode(const TreeNode* node);

    TreeNode* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const TreeNode* node, int column = ColName) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Colours of a cell, as the window's paint rule decides; invalid keeps the view's own.
    std::function<QVariant(const TreeNode*, int column)> foreground;
    // An accepted edit of the value column; the write follows once the editor has closed.
    std::function<void(TreeNode*, const QString&)> onNewText;
    // The operator proposes a check state for a node's mark.
    std::function<void(TreeNode*, CheckState)> onChecking;

    static Qt::CheckState QtState(std::uint8_t checkState);

private:
    TreeNodeList childrenOf(const QModelIndex& parent) const;
    RegisterTree& tree_;
};
