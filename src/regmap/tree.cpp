#include "tree.h"

int TreeNode::depth() const {
    int d = 0;
    for (const TreeNode* p = parent(); p; p = p->parent())
        ++d;
    return d;
}

TreeNode* TreeNode::appendChild() {
    auto& child = children_.emplace_back(std::make_unique<TreeNode>());
    child->parent_ = this;
    child->row_ = static_cast<int>(children_.size() - 1);
    return child.get();
}

TreeNode* RegisterTree::FirstChild(const TreeNode* node) {
    if (!node || !node->has(NodeState::HasChildren) || node->children_.empty()) return nullptr;
    return node->children_.front().get();
}

TreeNode* RegisterTree::NextSibling(const TreeNode* node) {
    if (!node || !node->parent_) return nullptr;
    const auto& siblings = node->parent_->children_;
    const auto next = static_cast<std::size_t>(node->row_) + 1;
    return next < siblings.size() ? siblings[next].get() : nullptr;
}

TreeNode* RegisterTree::First() const {
    return root_.children_.empty() ? nullptr : root_.children_.front().get();
}

TreeNode* RegisterTree::GetNext(const TreeNode* node) {
    if (!node) return nullptr;
    if (!node->children_.empty()) return node->children_.front().get();
    for (const TreeNode* n = node; n && n->parent_; n = n->parent_)
        if (TreeNode* sibling = NextSibling(n)) return sibling;
    return nullptr;
}

TreeNode* RegisterTree::FindNodeByName(const QString& name) const {
    for (TreeNode* node = First(); node; node = GetNext(node))
        if (node->record.Name == name) return node;
    return nullptr;
}

void RegisterTree::EndUpdate() {
    if (updateDepth_ > 0 && --updateDepth_ == 0) Repaint();
}

void RegisterTree::Repaint() const {
    if (updateDepth_ == 0 && repaint_) repaint_();
}
