#pragma once
// The register tree: nodes with their record and tree state, the queries the other modules
// use, and a nesting update bracket that defers repainting to its outermost end.
#include "record.h"
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
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

class RegisterTree;

// One node of the register tree. Nodes live in their tree's pool: their addresses stay valid
// until the tree is cleared, and they are never copied.
class TreeNode {
public:
    RegisterNode record;
    std::uint16_t states = 0;
    std::uint16_t height = 18;
    std::uint8_t alignment = 0;
    std::uint8_t checkState = csUncheckedNormal;
    std::uint8_t checkKind = ckNone;

    TreeNode() = default;
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    ~TreeNode();

    // None for a top-level node.
    TreeNode* parent() const { return parent_ && parent_->parent_ ? parent_ : nullptr; }
    int row() const { return static_cast<int>(row_); }
    int depth() const;
    std::span<TreeNode* const> children() const { return {children_, count_}; }
    TreeNode* appendChild();
    bool has(std::uint16_t flag) const { return (states & flag) != 0; }

private:
    friend class RegisterTree;
    friend class TreeBuilder;
    void Push(TreeNode* child) {
        if (count_ == capacity_) GrowChildren();
        child->parent_ = this;
        child->row_ = count_;
        children_[count_++] = child;
    }
    void GrowChildren();

    TreeNode* parent_ = nullptr;
    TreeNode** children_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t capacity_ = 0;
    std::uint32_t row_ = 0;
    bool ownsChildren_ = false; // a heap array; otherwise the tree's arena holds it
};

class RegisterTree {
public:
    RegisterTree();
    ~RegisterTree();
    RegisterTree(const RegisterTree&) = delete;
    RegisterTree& operator=(const RegisterTree&) = delete;

    std::span<TreeNode* const> topLevel() const { return root_.children(); }
    TreeNode* appendTopLevel() { return root_.appendChild(); }
    void clear();
    bool isEmpty() const { return root_.count_ == 0; }

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

private:
    friend class TreeNode;
    friend class TreeBuilder;
    struct Root : TreeNode {
        RegisterTree* tree = nullptr;
    };
    struct Storage; // the node pool and the arena
    static RegisterTree& TreeOf(TreeNode* node);
    TreeNode* NewNode();

    Root root_;
    std::unique_ptr<Storage> storage_;
    int updateDepth_ = 0;
    std::function<void()> repaint_;
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
