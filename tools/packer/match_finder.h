// Internal to the block encoder: the match finder of the optimal parse.
//
// For every position it reports, for each match length that can be reached, the
// closest earlier position with at least that many bytes in common; the closest is
// also the cheapest, since no code gets shorter as the distance grows.
//
//  - Length 2: a table indexed by the two bytes themselves holds the last position
//    of every pair, so the closest pair is exact.
//  - Length 3 and more: a binary tree per 3-byte hash over the positions of the
//    window, kept in lexicographic order of the strings that start there, newest
//    position at the root. The nodes met on the way down from the root come from
//    ever older positions, and between them they include, for every length, the
//    newest position that shares that many bytes; so reporting each node that beats
//    the longest match so far yields exactly the list we want. The walk inserts the
//    current position as the new root at the same time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "block_decoder.h"

namespace wq2::packer {

struct MatchCandidate {
    uint32_t length;
    uint32_t distance;
};

// Number of common bytes of `a` and `b` (a before b in the same buffer), counting no
// further than `limit` bytes from b.
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            uint64_t diff = x ^ y;
            if constexpr (std::endian::native == std::endian::little) {
                return n + size_t(std::countr_zero(diff) >> 3);
            } else {
                return n + size_t(std::countl_zero(diff) >> 3);
            }
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

class TreeMatchFinder {
public:
    // `maxDepth` bounds the nodes visited per position. `resetInterval` is how many
    // positions go by before the tables start over (positions are kept in 32 bits);
    // the default is far beyond any real input, tests lower it. The tables live in
    // `storage`, which the caller may keep from one input to the next.
    TreeMatchFinder(const uint8_t* data, size_t size, uint32_t maxDepth,
                    std::vector<uint32_t>& storage, size_t resetInterval = size_t(1) << 30)
        : data_(data),
          size_(size),
          maxDepth_(maxDepth),
          resetInterval_(std::max<size_t>(resetInterval, 1)),
          hashBits_(std::clamp<uint32_t>(uint32_t(std::bit_width(size)), 8, kHashBits)),
          treeMask_(uint32_t(std::min<size_t>(kCyclic, std::bit_ceil(size))) - 1) {
        // Pairs are looked up by their two bytes, so that table is full size.
        size_t words = (size_t(1) << 16) + (size_t(1) << hashBits_) + 2 * (size_t(treeMask_) + 1);
        if (storage.size() < words) storage.resize(words);
        pairs_ = storage.data();
        heads_ = pairs_ + (size_t(1) << 16);
        tree_ = heads_ + (size_t(1) << hashBits_);
        words_ = words;
        Reset(0);
    }

    // Reports the matches at `pos` into `out` (ascending length, at most
    // kMaxLongLength) and returns their number; then makes `pos` available to later
    // positions. Positions must be visited in order, each exactly once.
    size_t FindAndInsert(size_t pos, MatchCandidate* out) { return Visit(pos, out); }

    // Makes `pos` available to later positions without reporting its matches.
    void Insert(size_t pos) { Visit(pos, nullptr); }

private:
    static constexpr uint32_t kHashBits = 16;
    static constexpr uint32_t kCyclic = 2 * kMaxDistance;
    // Table value meaning "no position": positions are stored as an offset from the
    // last reset plus kOrigin, so an empty entry always lies out of reach.
    static constexpr uint32_t kOrigin = kMaxDistance + 1;

    void Reset(size_t pos) {
        std::fill_n(pairs_, words_, 0);
        base_ = pos;
    }

    uint32_t Hash3(const uint8_t* p) const {
        uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        return (v * 2654435761u) >> (32 - hashBits_);
    }

    size_t Visit(size_t pos, MatchCandidate* out) {
        if (pos - base_ >= resetInterval_) Reset(pos);
        const uint32_t cur = uint32_t(pos - base_) + kOrigin;
        const uint8_t* p = data_ + pos;
        const size_t avail = size_ - pos;
        size_t count = 0;
        if (avail < 2) return 0;

        uint32_t& pair = pairs_[uint32_t(p[0]) | uint32_t(p[1]) << 8];
        uint32_t pairDistance = cur - pair;
        pair = cur;
        if (out && pairDistance <= kMaxShortDistance) out[count++] = {2, pairDistance};
        if (avail < kMinLongLength) return count;

        const uint32_t limit = uint32_t(std::min<size_t>(avail, kMaxLongLength));
        uint32_t& head = heads_[Hash3(p)];
        uint32_t candidate = head;
        head = cur;
        // Each node holds its smaller subtree, then its greater one. The walk splits
        // the old tree into the new root's two subtrees: `smaller` and `greater` are
        // the links where the next node of each kind goes, and smallerLen and
        // greaterLen the bytes that all further nodes of that kind share with p.
        uint32_t* smaller = &tree_[2 * (cur & treeMask_)];
        uint32_t* greater = &tree_[2 * (cur & treeMask_) + 1];
        size_t smallerLen = 0, greaterLen = 0;
        size_t best = 2;
        for (uint32_t depth = maxDepth_;; --depth) {
            uint32_t distance = cur - candidate;
            if (depth == 0 || distance > kMaxDistance) {
                *smaller = 0;
                *greater = 0;
                break;
            }
            uint32_t* node = &tree_[2 * (candidate & treeMask_)];
            const uint8_t* q = p - distance;
            size_t len = std::min(smallerLen, greaterLen);
            len += CommonLength(q + len, p + len, limit - len);
            if (len > best) {
                best = len;
                if (out) out[count++] = {uint32_t(len), distance};
                if (len == limit) {
                    // The same string as far as it matters: take its place.
                    *smaller = node[0];
                    *greater = node[1];
                    break;
                }
            }
            if (q[len] < p[len]) {
                *smaller = candidate;
                smaller = &node[1];
                candidate = *smaller;
                smallerLen = len;
            } else {
                *greater = candidate;
                greater = &node[0];
                candidate = *greater;
                greaterLen = len;
            }
        }
        return count;
    }

    const uint8_t* data_;
    size_t size_;
    uint32_t maxDepth_;
    size_t resetInterval_;
    uint32_t hashBits_;
    uint32_t treeMask_;  // tree slots: enough for the window, or for the whole input
    size_t base_ = 0;
    size_t words_;
    uint32_t* pairs_;
    uint32_t* heads_;
    uint32_t* tree_;
};

}  // namespace wq2::packer
