// Codeword lookup: the first-level table of a book, then its node tree.
#pragma once

#include <cstdint>

#include "huffman_trees.h"

inline constexpr uint32_t kLeaf = 1024;

// Leaf entry ((length << 10) | index) of the codeword at the top of a
// left-aligned 32-bit window. The first-level table holds the tree walk's
// state after kFirstLevelBits bits: a leaf, or the node where it goes on.
// The trees are complete codes, so every window ends on a leaf.
inline uint32_t huffmanLookup(const uint16_t* first, const uint16_t* tree, uint32_t window) {
    uint32_t entry = first[window >> (32 - kFirstLevelBits)];
    if (entry >= kLeaf) return entry;
    uint32_t node = entry;
    window <<= kFirstLevelBits;
    entry = tree[4 * node + (window >> 30)];
    while (entry < kLeaf) {
        window <<= 2;
        node += entry;
        entry = tree[4 * node + (window >> 30)];
    }
    return entry;
}

inline int32_t leafLength(uint32_t entry) { return static_cast<int32_t>(entry >> 10); }
inline int32_t leafIndex(uint32_t entry) { return static_cast<int32_t>(entry & 1023); }
