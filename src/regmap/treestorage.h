#pragma once
// The storage behind a RegisterTree, for the tree and for the device file reader that fills
// it: the allocation fast paths are inline, the rare new chunk is not.
#include "tree.h"
#include <cstddef>
#include <memory>
#include <vector>

// Nodes come from chunks of a pool, so a tree of 100,000 nodes costs a hundred allocations,
// not 100,000. The arena holds what the device file reader fills once and never frees on
// its own: record blocks and child arrays.
struct RegisterTree::Storage {
    static constexpr std::size_t kNodesPerChunk = 1024;
    static constexpr std::size_t kArenaChunk = 256 * 1024;

    std::vector<std::unique_ptr<TreeNode[]>> nodes;
    std::size_t usedInLastChunk = kNodesPerChunk;
    std::vector<std::unique_ptr<std::max_align_t[]>> arena;
    char* next = nullptr;
    std::size_t left = 0;

    TreeNode* NewNode() {
        if (usedInLastChunk == kNodesPerChunk) return NewNodeChunk();
        return &nodes.back()[usedInLastChunk++];
    }
    TreeNode* NewNodeChunk();

    void* Allocate(std::size_t bytes, std::size_t alignment) {
        // alignment is a power of two
        const std::size_t pad = (0 - reinterpret_cast<std::uintptr_t>(next)) & (alignment - 1);
        if (pad + bytes > left) return AllocateInNewChunk(bytes, alignment);
        char* p = next + pad;
        next = p + bytes;
        left -= pad + bytes;
        return p;
    }
    void* AllocateInNewChunk(std::size_t bytes, std::size_t alignment);

    // Returns the tail of the newest allocation: of the `bytes` at block, keep only `keep`.
    void GiveBack(char* block, std::size_t bytes, std::size_t keep) {
        if (block + bytes != next || keep > bytes) return; // not the newest: it stays
        next = block + keep;
        left += bytes - keep;
    }
};
