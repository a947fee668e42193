// Internal to the block encoder: the bit cost of every code and the writer that
// lays codes out in a block. Shared by all compression levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "block_decoder.h"

namespace wq2::packer {

// Bits a literal takes: its selecting bit and its byte.
inline constexpr uint32_t kLiteralBits = 9;

// Bits of a two-byte code (length 2) at `distance`; 0 when no two-byte code reaches
// it. Distance 2304 would need the value reserved for the end code.
constexpr uint32_t ShortCodeBits(uint32_t distance) {
    return distance <= 256 ? 11 : distance <= kMaxShortDistance ? 14 : 0;
}

// Bits of a long code's offset part, selecting bits + byte + extra bits.
constexpr uint32_t OffsetBits(uint32_t distance) {
    return distance <= 512 ? 10 : distance <= 1024 ? 11 : distance <= 2048 ? 13
         : distance <= 4096 ? 15 : 16;
}

// Bits of a long code's length part (3..282).
constexpr uint32_t LengthBits(uint32_t length) {
    return length == 3 ? 1 : length == 4 ? 2 : length <= 6 ? 4 : length <= 10 ? 6
         : length <= 26 ? 9 : 13;
}

// The same costs as lookups, for the searches that weigh many candidates.
struct CostTables {
    uint8_t offsetBits[kMaxDistance / 512];  // by (distance - 1) / 512
    uint8_t lengthBits[kMaxLongLength + 1];  // by length, 3..282

    constexpr CostTables() : offsetBits(), lengthBits() {
        for (uint32_t i = 0; i < kMaxDistance / 512; ++i) offsetBits[i] = uint8_t(OffsetBits(i * 512 + 1));
        for (uint32_t l = kMinLongLength; l <= kMaxLongLength; ++l) lengthBits[l] = uint8_t(LengthBits(l));
    }
};
inline constexpr CostTables kCosts;

// A whole long code: its two selecting bits, the offset and the length.
constexpr uint32_t LongCodeBits(uint32_t distance, uint32_t length) {
    return 2 + kCosts.offsetBits[(distance - 1) >> 9] + kCosts.lengthBits[length];
}

// The cheapest single code for a copy of `length` (2..282) from `distance`, or 0
// when none exists (length 2 beyond the two-byte codes' reach).
constexpr uint32_t MatchBits(uint32_t distance, uint32_t length) {
    return length == 2 ? ShortCodeBits(distance) : LongCodeBits(distance, length);
}

// Lays out the block: data bytes go straight to the output, and each control word
// is reserved at the write position of the moment the first of its bits is needed,
// which is where the decoder will read it. The output buffer must hold
// CompressBound(input size) bytes; no check is made here.
class BlockCodeWriter {
public:
    explicit BlockCodeWriter(uint8_t* out) : out_(out), pos_(4), wordPos_(0) {}

    // `count` literals taken from `bytes`. Their selecting bits are all 1, so a run
    // fills each control word in one step and copies the bytes that go with it.
    void Literals(const uint8_t* bytes, size_t count) {
        while (count != 0) {
            if (used_ == 32) NextWord();
            uint32_t room = 32 - used_;
            uint32_t take = count < room ? uint32_t(count) : room;
            word_ |= uint32_t(((uint64_t(1) << take) - 1) << (room - take));
            used_ += take;
            std::memcpy(out_ + pos_, bytes, take);
            pos_ += take;
            bytes += take;
            count -= take;
        }
    }

    // One copy of `length` (2..282) from `distance` (1..8192); a length of 2 needs a
    // distance of at most 2303.
    void Match(uint32_t distance, uint32_t length) {
        uint32_t v = distance - 1;
        if (length == 2) {
            if (v < 256) {
                Bits(0b010, 3);
                Byte(v);
            } else {
                v -= 256;
                Bits(0b011, 3);
                Byte(v >> 3);
                Bits(v & 7, 3);
            }
            return;
        }
        // Offset class: selecting bits after the long code's 00, and extra bits.
        uint32_t select, selectBits, extraBits;
        if (v < 512) {
            select = 0b001, selectBits = 3, extraBits = 1;
        } else if (v < 1024) {
            v -= 512, select = 0b0001, selectBits = 4, extraBits = 1;
        } else if (v < 2048) {
            v -= 1024, select = 0b00001, selectBits = 5, extraBits = 2;
        } else if (v < 4096) {
            v -= 2048, select = 0b000001, selectBits = 6, extraBits = 3;
        } else {
            v -= 4096, select = 0b000000, selectBits = 6, extraBits = 4;
        }
        Bits(select, selectBits);
        Byte(v >> extraBits);
        // The length code follows the offset's extra bits with no byte between, so
        // both go out as one field.
        uint32_t extra = v & ((1u << extraBits) - 1);
        uint32_t code, codeBits;
        if (length == 3) {
            code = 0b1, codeBits = 1;
        } else if (length == 4) {
            code = 0b01, codeBits = 2;
        } else if (length <= 6) {
            code = 0b0010 | (length - 5), codeBits = 4;
        } else if (length <= 10) {
            code = 0b000100 | (length - 7), codeBits = 6;
        } else if (length <= 26) {
            code = 0b000010000 | (length - 11), codeBits = 9;
        } else {
            code = 0, codeBits = 5;
        }
        Bits(extra << codeBits | code, extraBits + codeBits);
        if (length >= 27) Byte(length - 27);
    }

    // Writes the end code and the last control word; returns the block's size.
    size_t Finish() {
        Bits(0b011, 3);
        Byte(0xFF);
        Bits(0b111, 3);
        StoreWord();
        return pos_;
    }

    size_t Size() const { return pos_; }

private:
    // `count` (1..24) bits of `value`, most significant first. No byte lies between
    // them, so when the current word fills up part way the rest simply opens the
    // next word at the current write position.
    void Bits(uint32_t value, uint32_t count) {
        uint32_t room = 32 - used_;
        if (count <= room) {
            word_ |= value << (room - count);
            used_ += count;
            return;
        }
        uint32_t rest = count - room;
        if (room != 0) word_ |= value >> rest;
        NextWord();
        word_ = value << (32 - rest);
        used_ = rest;
    }

    void Byte(uint32_t b) { out_[pos_++] = uint8_t(b); }

    void StoreWord() {
        out_[wordPos_] = uint8_t(word_);
        out_[wordPos_ + 1] = uint8_t(word_ >> 8);
        out_[wordPos_ + 2] = uint8_t(word_ >> 16);
        out_[wordPos_ + 3] = uint8_t(word_ >> 24);
    }

    void NextWord() {
        StoreWord();
        wordPos_ = pos_;
        pos_ += 4;
        word_ = 0;
        used_ = 0;
    }

    uint8_t* out_;
    size_t pos_;
    size_t wordPos_;
    uint32_t word_ = 0;
    uint32_t used_ = 0;
};

// Emits a copy of any length >= 2 from `distance` as a series of codes of at most
// 282 bytes each, arranging the pieces so that no piece but a final two-byte one
// is shorter than 3. A final piece of 1 byte, or of 2 beyond the two-byte codes'
// reach, goes out as literals from `src` (the input at the copy's start).
inline void EmitLongCopy(BlockCodeWriter& w, const uint8_t* src, uint32_t distance, size_t length) {
    while (length > kMaxLongLength) {
        size_t rest = length - kMaxLongLength;
        uint32_t piece = rest >= kMinLongLength ? kMaxLongLength
                                                : kMaxLongLength - uint32_t(kMinLongLength - rest);
        w.Match(distance, piece);
        src += piece;
        length -= piece;
    }
    if (length >= kMinLongLength || (length == 2 && distance <= kMaxShortDistance)) {
        w.Match(distance, uint32_t(length));
    } else {
        w.Literals(src, length);
    }
}

}  // namespace wq2::packer
