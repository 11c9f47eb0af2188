#include "tree.h"
#include "treestorage.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

TreeNode* RegisterTree::Storage::NewNodeChunk() {
    nodes.push_back(std::make_unique<TreeNode[]>(kNodesPerChunk));
    usedInLastChunk = 1;
    return &nodes.back()[0];
}

void* RegisterTree::Storage::AllocateInNewChunk(std::size_t bytes, std::size_t alignment) {
    // Large blocks get a chunk of their own, so the current one is not abandoned.
    const std::size_t size = std::max(bytes, kArenaChunk);
    auto chunk = std::make_unique_for_overwrite<std::max_align_t[]>(
        (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
    char* start = reinterpret_cast<char*>(chunk.get());
    arena.push_back(std::move(chunk));
    if (bytes > kArenaChunk / 2) return start;
    next = start;
    left = size;
    return Allocate(bytes, alignment);
}

TreeNode::~TreeNode() {
    if (ownsChildren_) std::free(children_);
}

int TreeNode::depth() const {
    int d = 0;
    for (const TreeNode* p = parent(); p; p = p->parent())
        ++d;
    return d;
}

void TreeNode::GrowChildren() {
    const std::uint32_t capacity = capacity_ < 4 ? 4 : 2 * capacity_;
    auto* grown = static_cast<TreeNode**>(std::malloc(capacity * sizeof(TreeNode*)));
    if (!grown) throw std::bad_alloc();
    if (count_) std::memcpy(grown, children_, count_ * sizeof(TreeNode*));
    if (ownsChildren_) std::free(children_);
    children_ = grown;
    capacity_ = capacity;
    ownsChildren_ = true;
}

TreeNode* TreeNode::appendChild() {
    TreeNode* child = RegisterTree::TreeOf(this).NewNode();
    Push(child);
    return child;
}

RegisterTree::RegisterTree() : storage_(std::make_unique<Storage>()) {
    root_.tree = this;
}

RegisterTree::~RegisterTree() = default;

RegisterTree& RegisterTree::TreeOf(TreeNode* node) {
    while (node->parent_)
        node = node->parent_;
    return *static_cast<Root*>(node)->tree;
}

TreeNode* RegisterTree::NewNode() {
    return storage_->NewNode();
}

void RegisterTree::clear() {
    if (root_.ownsChildren_) std::free(root_.children_);
    root_.children_ = nullptr;
    root_.count_ = root_.capacity_ = 0;
    root_.ownsChildren_ = false;
    storage_ = std::make_unique<Storage>();
}

TreeNode* RegisterTree::FirstChild(const TreeNode* node) {
    if (!node || !node->has(NodeState::HasChildren) || node->count_ == 0) return nullptr;
    return node->children_[0];
}

TreeNode* RegisterTree::NextSibling(const TreeNode* node) {
    if (!node || !node->parent_) return nullptr;
    const TreeNode* parent = node->parent_;
    const std::uint32_t next = node->row_ + 1;
    return next < parent->count_ ? parent->children_[next] : nullptr;
}

TreeNode* RegisterTree::First() const {
    return root_.count_ ? root_.children_[0] : nullptr;
}

TreeNode* RegisterTree::GetNext(const TreeNode* node) {
    if (!node) return nullptr;
    if (node->count_) return node->children_[0];
    for (const TreeNode* n = node; n && n->parent_; n = n->parent_)
        if (TreeNode* sibling = NextSibling(n)) return sibling;
    return nullptr;
}

TreeNode* RegisterTree::FindNodeByName(const QString& name) const {
    for (TreeNode* node = First(); node; node = GetNext(node))
        if (node->record.Name() == name) return node;
    return nullptr;
}

void RegisterTree::EndUpdate() {
    if (updateDepth_ > 0 && --updateDepth_ == 0) Repaint();
}

void RegisterTree::Repaint() const {
    if (updateDepth_ == 0 && repaint_) repaint_();
}
