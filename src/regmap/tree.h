#pragma once
// The register tree: nodes with their record and tree state, the queries the other modules
// use, and a nesting update bracket that defers repainting to its outermost end.
#include "record.h"
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

enum CheckState : std::uint8_t {
    csUncheckedNormal = 0,
    csUncheckedPressed = 1,
    csCheckedNormal = 2,
    csCheckedPressed = 3,
    csMixedNormal = 4,
    csMixedPressed = 5
};

enum CheckKind : std::uint8_t {
    ckNone = 0,
    ckTriStateCheckBox = 1,
    ckCheckBox = 2,
    ckRadioButton = 3,
    ckButton = 4
};

namespace NodeState {
constexpr std::uint16_t Initialized = 1 << 0;
constexpr std::uint16_t Disabled = 1 << 3;
constexpr std::uint16_t Expanded = 1 << 5;
constexpr std::uint16_t HasChildren = 1 << 6;
constexpr std::uint16_t Visible = 1 << 7;
constexpr std::uint16_t Selected = 1 << 8;
// Bits the writer never stores: they only mean something while the program runs.
constexpr std::uint16_t Transient = (1 << 1) | (1 << 2) | (1 << 4) | (1 << 9) | (1 << 13);
} // namespace NodeState

// Where a register's Value came from since the device file was loaded: the file, the device
// (a reply, or a write it acknowledged), or the operator, not yet written.
enum class ValueOrigin : std::uint8_t { File, Device, Edited };

class TreeNode;

// The children of a node as TreeNode pointers, in order: for, [i], size() and empty() work on
// it. A view: it stays valid while the node keeps its children.
class TreeNodeList {
public:
    using Owned = std::vector<std::unique_ptr<TreeNode>>;
    class iterator {
    public:
        explicit iterator(Owned::const_iterator at) : at_(at) {}
        TreeNode* operator*() const { return at_->get(); }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const iterator&) const = default;

    private:
        Owned::const_iterator at_;
    };

    explicit TreeNodeList(const Owned& nodes) : nodes_(&nodes) {}
    iterator begin() const { return iterator(nodes_->begin()); }
    iterator end() const { return iterator(nodes_->end()); }
    std::size_t size() const { return nodes_->size(); }
    bool empty() const { return nodes_->empty(); }
    TreeNode* operator[](std::size_t i) const { return (*nodes_)[i].get(); }

private:
    const Owned* nodes_;
};

// One node of the register tree. A node owns its children; its address stays valid until it
// or an ancestor is removed, so other modules may keep pointers to nodes of the loaded tree.
class TreeNode {
public:
    RegisterNode record;
    std::uint16_t states = 0;
    std::uint16_t height = 18;
    std::uint8_t alignment = 0;
    std::uint8_t checkState = csUncheckedNormal;
    std::uint8_t checkKind = ckNone;
    ValueOrigin valueOrigin = ValueOrigin::File;

    TreeNode() = default;
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    // None for a top-level node.
    TreeNode* parent() const { return parent_ && parent_->parent_ ? parent_ : nullptr; }
    int row() const { return row_; }
    int depth() const;
    TreeNodeList children() const { return TreeNodeList(children_); }
    TreeNode* appendChild();
    bool has(std::uint16_t flag) const { return (states & flag) != 0; }

private:
    friend class RegisterTree;
    TreeNode* parent_ = nullptr;
    int row_ = 0;
    std::vector<std::unique_ptr<TreeNode>> children_;
};

class RegisterTree {
public:
    RegisterTree() = default;
    RegisterTree(const RegisterTree&) = delete;
    RegisterTree& operator=(const RegisterTree&) = delete;

    TreeNodeList topLevel() const { return root_.children(); }
    TreeNode* appendTopLevel() { return root_.appendChild(); }
    void clear() { root_.children_.clear(); }
    bool isEmpty() const { return root_.children_.empty(); }

    // None when the node's has-children flag is clear, even if it holds children.
    static TreeNode* FirstChild(const TreeNode* node);
    static TreeNode* NextSibling(const TreeNode* node);
    // Depth-first order over every node: children before the next sibling.
    TreeNode* First() const;
    static TreeNode* GetNext(const TreeNode* node);
    // First node in depth-first order whose Name equals the text exactly.
    TreeNode* FindNodeByName(const QString& name) const;

    void BeginUpdate() { ++updateDepth_; }
    void EndUpdate();
    void Repaint() const;
    void setRepaintHandler(std::function<void()> handler) { repaint_ = std::move(handler); }
    // One node's cells changed; shown at the next paint, whatever the update bracket.
    void NodeChanged(const TreeNode* node) const {
        if (nodeChanged_) nodeChanged_(node);
    }
    void setNodeChangedHandler(std::function<void(const TreeNode*)> handler) {
        nodeChanged_ = std::move(handler);
    }

private:
    TreeNode root_; // holds the top-level nodes; never shown
    int updateDepth_ = 0;
    std::function<void()> repaint_;
    std::function<void(const TreeNode*)> nodeChanged_;
};

// Closes the update bracket even when the code inside it throws.
class UpdateBracket {
public:
    explicit UpdateBracket(RegisterTree& tree) : tree_(tree) { tree_.BeginUpdate(); }
    ~UpdateBracket() { tree_.EndUpdate(); }
    UpdateBracket(const UpdateBracket&) = delete;
    UpdateBracket& operator=(const UpdateBracket&) = delete;

private:
    RegisterTree& tree_;
};
