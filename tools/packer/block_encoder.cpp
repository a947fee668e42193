#include "block_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "block_code_writer.h"
#include "match_finder.h"
#include "optimal_parser.h"

namespace wq2 {
namespace {

using packer::BlockCodeWriter;
using packer::CommonLength;
using packer::EmitLongCopy;

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Both greedy levels find matches by hashing the next four bytes, so they stop
// looking this close to the end; the rest goes out as literals or as part of a
// match that began earlier.
constexpr size_t kTailBytes = 4;

// ---------------------------------------------------------------------------
// Fast: one candidate per hash of the next four bytes, taken greedily.

constexpr uint32_t kFastHashBits = 14;

// Table sizes follow the input while it is small: clearing tables far larger than
// the input would cost more than encoding it.
uint32_t TableBits(size_t size, uint32_t most) {
    return std::clamp<uint32_t>(uint32_t(std::bit_width(size)) - 1, 8, most);
}

// Match tables and the output of small blocks are kept per thread between calls. A
// payload holds thousands of files of a few kilobytes, and getting fresh memory
// from the system for each of them costs more than encoding them.
class Scratch {
public:
    static Scratch& ForThisThread() {
        thread_local Scratch scratch;
        return scratch;
    }

    // `count` words, all 0.
    uint32_t* Tables(size_t count) {
        if (tables_.size() < count) tables_.resize(count);
        std::fill_n(tables_.begin(), count, 0);
        return tables_.data();
    }

    // Room for a block of up to kKeptOutput bytes.
    uint8_t* Output(size_t bound) {
        if (output_.size() < bound) output_.resize(bound);
        return output_.data();
    }

    static constexpr size_t kKeptOutput = size_t(1) << 20;

private:
    std::vector<uint32_t> tables_;
    std::vector<uint8_t> output_;
};

uint32_t Hash4(const uint8_t* p, uint32_t bits) { return (Load32(p) * 2654435761u) >> (32 - bits); }

void EncodeFast(const uint8_t* data, size_t size, BlockCodeWriter& w) {
    if (size <= kTailBytes) {
        w.Literals(data, size);
        return;
    }
    const uint32_t bits = TableBits(size, kFastHashBits);
    uint32_t* table = Scratch::ForThisThread().Tables(size_t(1) << bits);
    const size_t last = size - kTailBytes;  // last position whose four bytes we hash
    size_t pos = 0;
    size_t anchor = 0;  // first byte not yet encoded
    uint32_t misses = 0;
    while (pos <= last) {
        const uint8_t* p = data + pos;
        uint32_t& slot = table[Hash4(p, bits)];
        // Positions are kept in 32 bits; whatever an entry holds, the distance test
        // and the byte compare decide, so wrap-around can cost a match but never
        // produce a wrong one.
        uint32_t distance = uint32_t(pos) - slot;
        slot = uint32_t(pos);
        if (distance - 1 >= kMaxDistance || distance > pos || Load32(p - distance) != Load32(p)) {
            // Incompressible stretches are crossed in growing steps.
            pos += 1 + (misses++ >> 6);
            continue;
        }
        size_t length = 4 + CommonLength(p - distance + 4, p + 4, size - pos - 4);
        // The match may have started before the hashed position.
        while (pos > anchor && pos > distance && data[pos - 1] == data[pos - 1 - distance]) {
            --pos;
            ++length;
        }
        w.Literals(data + anchor, pos - anchor);
        EmitLongCopy(w, data + pos, distance, length);
        pos += length;
        anchor = pos;
        misses = 0;
        // Let the bytes just before the next search point be found later.
        if (pos <= last) table[Hash4(data + pos - 2, bits)] = uint32_t(pos - 2);
    }
    w.Literals(data + anchor, size - anchor);
}

// ---------------------------------------------------------------------------
// Default: hash chains over the window, and lazy matching: a match found at one
// position is held back while the next position offers a better one.

constexpr uint32_t kChainHashBits = 15;
constexpr size_t kChainSize = 2 * kMaxDistance;  // so the oldest link in reach is intact
constexpr uint32_t kChainDepth = 16;
constexpr size_t kChainNice = 96;  // a match this long ends the search
// Only a match shorter than this is held back to see whether the next position
// has a better one. Nearly all that lazy matching gains comes from replacing
// matches of 2 to 4 bytes, and looking one position ahead after every match would
// cost half the speed.
constexpr size_t kLazyBelow = 5;
// After 2^k positions without a copy of 3 or more bytes, the search moves on by
// two positions at a time, after 2 * 2^k by three, and so on.
constexpr uint32_t kChainSkipShift = 8;

uint32_t Hash3(const uint8_t* p, uint32_t bits) {
    return ((Load32(p) & 0xFFFFFF) * 2654435761u) >> (32 - bits);
}

uint32_t Hash2(const uint8_t* p, uint32_t bits) {
    return ((uint32_t(p[0]) | uint32_t(p[1]) << 8) * 2654435761u) >> (32 - bits);
}

struct Found {
    size_t length = 0;  // 0: none
    uint32_t distance = 0;
    int32_t gain = 0;   // bits saved over coding the same bytes as literals
};

// Bits saved by a long code (length 3 or more) over literals. Past the longest
// code the copy is split (EmitLongCopy), and every piece costs at most as much as
// a full-length one.
int32_t LongGain(uint32_t distance, size_t length) {
    if (length <= kMaxLongLength) {
        return int32_t(packer::kLiteralBits * length) -
               int32_t(packer::LongCodeBits(distance, uint32_t(length)));
    }
    size_t pieces = (length + kMaxLongLength - 1) / kMaxLongLength;
    size_t cost = pieces * packer::LongCodeBits(distance, kMaxLongLength);
    size_t gain = packer::kLiteralBits * length - cost;
    return gain > size_t(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                              : int32_t(gain);
}

class ChainMatcher {
public:
    ChainMatcher(const uint8_t* data, size_t size)
        : data_(data),
          size_(size),
          bits_(TableBits(size, kChainHashBits)),
          linkMask_(std::min(kChainSize, std::bit_ceil(size)) - 1) {
        size_t hashSize = size_t(1) << bits_;
        heads_ = Scratch::ForThisThread().Tables(3 * hashSize + linkMask_ + 1);
        triples_ = heads_ + hashSize;
        pairs_ = triples_ + hashSize;
        links_ = pairs_ + hashSize;
    }

    // Makes `pos` available to later searches. Only for pos <= size - kTailBytes.
    void Insert(size_t pos) {
        const uint8_t* p = data_ + pos;
        uint32_t& head = heads_[Hash4(p, bits_)];
        links_[pos & linkMask_] = head;
        head = uint32_t(pos);
        triples_[Hash3(p, bits_)] = uint32_t(pos);
        pairs_[Hash2(p, bits_)] = uint32_t(pos);
    }

    // The match at `pos` that saves the most bits, then inserts `pos`. The chains
    // hold positions by their next four bytes; the last position of each 2- and
    // 3-byte string is kept on its own, since those short matches pay off too.
    // Whatever a table holds, a candidate's distance and bytes are checked before
    // it is used.
    Found FindAndInsert(size_t pos) {
        const uint8_t* p = data_ + pos;
        const size_t limit = size_ - pos;
        const uint32_t here = uint32_t(pos);
        const uint32_t maxDistance = pos < kMaxDistance ? here : kMaxDistance;
        Found best;
        uint32_t candidate = heads_[Hash4(p, bits_)];
        const uint32_t first4 = Load32(p);
        for (uint32_t depth = kChainDepth; depth != 0; --depth) {
            uint32_t distance = here - candidate;
            if (distance - 1 >= maxDistance) break;
            const uint8_t* q = p - distance;
            // Candidates come closest first: a farther one can only save more bits
            // by being longer.
            if (q[best.length] == p[best.length] && Load32(q) == first4) {
                size_t length = 4 + CommonLength(q + 4, p + 4, limit - 4);
                int32_t gain = LongGain(distance, length);
                if (gain > best.gain) {
                    best = {length, distance, gain};
                    if (length >= kChainNice || length == limit) break;
                }
            }
            candidate = links_[candidate & linkMask_];
        }
        // The last position of each 3- and 2-byte string, for the short matches the
        // chains do not hold. Whether they match is data, not a pattern a branch
        // predictor can learn, so both are weighed without branches.
        uint32_t d3 = here - triples_[Hash3(p, bits_)];
        bool ok3 = d3 - 1 < maxDistance;
        d3 = ok3 ? d3 : 1;
        bool match3 = ok3 && ((Load32(p - d3) ^ first4) & 0xFFFFFF) == 0;
        int32_t gain3 = 3 * int32_t(packer::kLiteralBits) - int32_t(packer::LongCodeBits(d3, 3));
        gain3 = match3 ? gain3 : 0;
        uint32_t d2 = here - pairs_[Hash2(p, bits_)];
        bool ok2 = d2 - 1 < std::min(maxDistance, kMaxShortDistance);
        d2 = ok2 ? d2 : 1;
        bool match2 = ok2 && ((Load32(p - d2) ^ first4) & 0xFFFF) == 0;
        int32_t gain2 = d2 <= 256 ? 7 : 4;  // 18 bits of literals against 11 or 14
        gain2 = match2 ? gain2 : 0;
        bool take3 = gain3 > best.gain;
        best.length = take3 ? 3 : best.length;
        best.distance = take3 ? d3 : best.distance;
        best.gain = take3 ? gain3 : best.gain;
        bool take2 = gain2 > best.gain;
        best.length = take2 ? 2 : best.length;
        best.distance = take2 ? d2 : best.distance;
        best.gain = take2 ? gain2 : best.gain;
        Insert(pos);
        return best;
    }

private:
    const uint8_t* data_;
    size_t size_;
    uint32_t bits_;
    size_t linkMask_;
    uint32_t* heads_;
    uint32_t* triples_;
    uint32_t* pairs_;
    uint32_t* links_;
};

void EncodeDefault(const uint8_t* data, size_t size, BlockCodeWriter& w) {
    if (size <= kTailBytes) {
        w.Literals(data, size);
        return;
    }
    ChainMatcher matcher(data, size);
    const size_t last = size - kTailBytes;
    size_t pos = 0;
    size_t anchor = 0;
    size_t lastLong = 0;  // end of the last copy of 3 or more bytes
    while (pos <= last) {
        Found current = matcher.FindAndInsert(pos);
        if (current.length == 0) {
            // Incompressible stretches are crossed in growing steps; the positions
            // stepped over are not searched or remembered. Two-byte copies, which
            // such data still offers now and then, do not count as progress.
            pos += 1 + ((pos - lastLong) >> kChainSkipShift);
            continue;
        }
        // Lazy steps: while the next position offers a match that saves more, a
        // literal goes out instead and that match becomes the one to beat.
        size_t searched = pos + 1;  // first position not yet inserted
        while (current.length < kLazyBelow && pos + 1 <= last) {
            Found next = matcher.FindAndInsert(pos + 1);
            searched = pos + 2;
            if (next.gain <= current.gain) break;
            ++pos;
            current = next;
        }
        w.Literals(data + anchor, pos - anchor);
        EmitLongCopy(w, data + pos, current.distance, current.length);
        pos += current.length;
        anchor = pos;
        if (current.length > 2) lastLong = pos;
        for (size_t i = searched; i < pos && i <= last; ++i) matcher.Insert(i);
    }
    w.Literals(data + anchor, size - anchor);
}

}  // namespace

size_t CompressBound(size_t size) {
    // No code takes more bits than literals for the same bytes (9 per byte), and the
    // end code takes 14, so the codes of a block take at most 9n + 14 bits. Control
    // bits are rounded up to whole 32-bit words, which adds less than 32 bits. Codes
    // that spend more control bits per byte than literals can make a block need one
    // word more than an all-literal one, so the word count is not bounded by n + 6.
    // Past a ninth of the range the result could not be represented (nor allocated).
    constexpr size_t kMax = std::numeric_limits<size_t>::max();
    if (size > kMax / 9 - 64) return kMax;
    return (9 * size + 14 + 31) / 8;
}

std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size, CompressionLevel level) {
    size_t bound = CompressBound(size);
    if (bound == std::numeric_limits<size_t>::max()) throw std::bad_alloc();
    // A larger block is written to memory of its own, not initialised: only the
    // part the block takes is ever touched.
    std::unique_ptr<uint8_t[]> large;
    uint8_t* buffer;
    if (bound <= Scratch::kKeptOutput) {
        buffer = Scratch::ForThisThread().Output(bound);
    } else {
        large.reset(new uint8_t[bound]);
        buffer = large.get();
    }
    BlockCodeWriter writer(buffer);
    switch (level) {
        case CompressionLevel::Fast: EncodeFast(data, size, writer); break;
        case CompressionLevel::Default: EncodeDefault(data, size, writer); break;
        case CompressionLevel::Max: packer::EncodeOptimal(data, size, writer); break;
    }
    return std::vector<uint8_t>(buffer, buffer + writer.Finish());
}

bool ParseCompressionLevel(const char* text, CompressionLevel* level) {
    if (text == nullptr) return false;
    static constexpr CompressionLevel kLevels[] = {CompressionLevel::Fast, CompressionLevel::Default,
                                                   CompressionLevel::Max};
    for (CompressionLevel l : kLevels) {
        if (std::strcmp(text, CompressionLevelName(l)) == 0) {
            *level = l;
            return true;
        }
    }
    return false;
}

const char* CompressionLevelName(CompressionLevel level) {
    switch (level) {
        case CompressionLevel::Fast: return "fast";
        case CompressionLevel::Default: return "default";
        case CompressionLevel::Max: return "max";
    }
    return "unknown";
}

}  // namespace wq2
