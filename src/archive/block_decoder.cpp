#include "block_decoder.h"

#include <bit>
#include <cstring>

namespace wq2 {
namespace {

uint32_t LoadWord(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Bytes a fast copy may write past the end of a match; such copies are only taken
// when this much room is left in the output.
constexpr size_t kCopySlack = 32;

// Branch-free choice for decisions that follow the data and so defeat prediction
// (the compiler turns a plain ?: on them into a jump).
template <typename T>
T Pick(bool condition, T ifTrue, T ifFalse) {
    T mask = T(0) - T(condition);
    return (ifTrue & mask) | (ifFalse & ~mask);
}

void Copy16(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 16); }
void Copy8(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }

// Copies `length` bytes from `distance` back with the byte-by-byte result, writing
// whole chunks: up to 31 bytes past the match end. The caller has checked the
// distance against the output written so far and left at least `length + 32`
// bytes of room.
inline void ChunkCopy(uint8_t* to, size_t distance, size_t length) {
    const uint8_t* from = to - distance;
    uint8_t* const end = to + length;
    if (distance < 8) [[unlikely]] {
        // A short period: lay down the first eight bytes one by one, then move the
        // source back to a whole number of periods at least eight bytes behind, so
        // eight-byte steps continue the pattern.
        static constexpr uint8_t kAhead[8] = {0, 1, 2, 1, 0, 4, 4, 4};
        static constexpr int8_t kBack[8] = {0, 0, 0, -1, -4, 1, 2, 3};
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = from[3];
        from += kAhead[distance];
        std::memcpy(to + 4, from, 4);
        from -= kBack[distance];
        for (to += 8; to < end; to += 8, from += 8) Copy8(to, from);
        return;
    }
    // Eight-byte steps each read only bytes written before them. Most copies are
    // done after the first four, whatever the distance, which keeps the choice
    // between step sizes off the common path.
    Copy8(to, from);
    Copy8(to + 8, from + 8);
    Copy8(to + 16, from + 16);
    Copy8(to + 24, from + 24);
    if (length > 32) [[unlikely]] {
        to += 32;
        from += 32;
        if (distance >= 16) {
            for (; to < end; to += 16, from += 16) Copy16(to, from);
        } else {
            for (; to < end; to += 8, from += 8) Copy8(to, from);
        }
    }
}

// The decoding state of one block. Control bits live in `ctrl` with the next bit at
// bit 31 and zeros shifted in below, so the count of leading ones never exceeds
// `bits`, the number of bits not yet used.
struct BoundedDecoder {
    const uint8_t* ip;
    const uint8_t* iend;
    uint8_t* op;
    uint8_t* const ostart;
    uint8_t* const oend;
    uint32_t ctrl = 0;
    uint32_t bits = 0;

    // The next control word is read where the read position stands at the moment a
    // bit is wanted, so this must be called only between whole bytes.
    bool Refill() {
        if (iend - ip < 4) return false;
        ctrl = LoadWord(ip);
        ip += 4;
        bits = 32;
        return true;
    }

    bool Bit(uint32_t* bit) {
        if (bits == 0 && !Refill()) return false;
        *bit = ctrl >> 31;
        ctrl <<= 1;
        --bits;
        return true;
    }

    // n bits (1..8), most significant first. No data byte lies between them, so a
    // word boundary inside the field just reloads at the current read position.
    bool Bits(uint32_t n, uint32_t* value) {
        if (bits >= n) {
            *value = ctrl >> (32 - n);
            ctrl <<= n;
            bits -= n;
            return true;
        }
        uint32_t high = bits;
        uint32_t part = high ? ctrl >> (32 - high) : 0;
        if (!Refill()) return false;
        uint32_t low = n - high;
        *value = (part << low) | (ctrl >> (32 - low));
        ctrl <<= low;
        bits -= low;
        return true;
    }

    // Counts zero bits up to `limit`, consuming them and the one that stops the run
    // (when it comes before the limit). Returns the count of zeros.
    bool Unary(uint32_t limit, uint32_t* zeros) {
        uint32_t count = 0;
        for (;;) {
            if (bits == 0 && !Refill()) return false;
            uint32_t run = std::countl_zero(ctrl);
            if (run > bits) run = bits;
            if (count + run >= limit) {
                uint32_t take = limit - count;
                ctrl <<= take;  // take <= bits <= 32 only equals 32 when ctrl is 0
                bits -= take;
                *zeros = limit;
                return true;
            }
            if (run < bits) {
                ctrl = (ctrl << run) << 1;
                bits -= run + 1;
                *zeros = count + run;
                return true;
            }
            count += run;  // the whole rest of the word was zeros
            bits = 0;
            ctrl = 0;
        }
    }

    bool Byte(uint32_t* value) {
        if (ip == iend) return false;
        *value = *ip++;
        return true;
    }

    // Copies `count` literal bytes that follow in the stream.
    DecodeStatus Literals(size_t count) {
        if (size_t(iend - ip) < count) return DecodeStatus::TruncatedBlock;
        if (size_t(oend - op) < count) return DecodeStatus::OutputOverflow;
        if (size_t(iend - ip) >= 32 && size_t(oend - op) >= 32) {
            std::memcpy(op, ip, 16);
            std::memcpy(op + 16, ip + 16, 16);
        } else {
            std::memcpy(op, ip, count);
        }
        op += count;
        ip += count;
        return DecodeStatus::Ok;
    }

    DecodeStatus Copy(size_t distance, size_t length) {
        if (distance > size_t(op - ostart)) return DecodeStatus::DistanceTooFar;
        if (length > size_t(oend - op)) return DecodeStatus::OutputOverflow;
        uint8_t* to = op;
        op += length;
        if (size_t(oend - to) < length + kCopySlack) {
            const uint8_t* from = to - distance;
            for (size_t i = 0; i < length; ++i) to[i] = from[i];
            return DecodeStatus::Ok;
        }
        ChunkCopy(to, distance, length);
        return DecodeStatus::Ok;
    }

    bool Fast(DecodeStatus* status);
    DecodeStatus Careful();
    DecodeStatus Run() {
        DecodeStatus status;
        if (Fast(&status)) return status;
        return Careful();
    }
};

// What the bits of a copy code before its byte say, worked out from the six bits
// after the 0 that starts every copy code (seven bits 0 x x x x x x): how many bits
// the selection takes, the extra bits after the byte, the distance of byte 0 with
// no extra bits, and whether a length code follows (long codes) or the length is 2.
// Small per-class figures are packed into integer constants, a nibble or a byte a
// class, so nothing is looked up in memory and no branch is taken.
struct CodeHead {
    uint32_t selectBits;
    uint32_t extraBits;
    uint32_t isLong;
    uint32_t base;
};

inline CodeHead HeadOf(uint32_t top6) {
    // Bit 5 is the code's second bit: 1 for a two-byte code, whose third bit w says
    // whether 3 extra bits follow the byte. For a long code bits 4..0 start the
    // offset class: 1, 0 1, 0 0 1, 0 0 0 1 or 0 0 0 0.
    uint32_t isShort = top6 >> 5;
    uint32_t wide = (top6 >> 4) & 1;
    uint32_t cls = uint32_t(std::countl_zero(((top6 & 31) << 27) | (1u << 26)));
    cls = cls < 4 ? cls : 4;
    uint32_t longSelect = (0x66543u >> (4 * cls)) & 15;
    uint32_t longExtra = (0x43211u >> (4 * cls)) & 15;
    uint32_t longBase = ((256u << cls) & ~511u) + 1;  // 1, 513, 1025, 2049, 4097
    return {Pick<uint32_t>(isShort, 3, longSelect), Pick<uint32_t>(isShort, 3 * wide, longExtra),
            isShort ^ 1, Pick<uint32_t>(isShort, 1 + 256 * wide, longBase)};
}

// A long code's length code, worked out from its first nine bits: the length (27
// for five 0 bits, to which the following byte is added) in bits 0..8 and the bits
// the code takes in bits 9..12.
inline uint32_t LengthOf(uint32_t peek9) {
    uint32_t zeros = uint32_t(std::countl_zero((peek9 << 23) | (1u << 22)));
    zeros = zeros < 5 ? zeros : 5;
    uint32_t extra = (0x042100u >> (4 * zeros)) & 15;              // 0 0 1 2 4 0
    uint32_t base = uint32_t(0x1B0B07050403ull >> (8 * zeros)) & 255;  // 3 4 5 7 11 27
    uint32_t used = zeros + (zeros < 5);
    uint32_t value = (peek9 >> (9 - used - extra)) & ((1u << extra) - 1);
    return (base + value) | (used + extra) << 9;
}

// The bulk of a block, decoded with no bounds checks inside an iteration: one
// iteration (a run of literals and one code) reads at most 44 bytes from where it
// starts (a used-up word, 31 literals, a word met inside the code, its byte and
// the word after it) and writes at most 319 (31 literals, then a copy of up to 282
// in whole chunks), so it only starts with more than that left of both buffers. It stops
// between codes and leaves the rest of the block to Careful(), with the same state
// the careful decoder would have had there. Returns true when it ended the block
// itself (the end code, or a copy from before the start of the output).
//
// Here the current word is `cur`, of which `used` bits (0..32) are taken. To decode
// the bits of a code before (or after) one of its bytes, the word that would be
// read at the current position is placed right below the current one's unused
// bits: a field that runs off the current word continues there, and only then is
// that word taken, so the read position follows exactly the rule that a word is
// read when its first bit is requested. Whether a field does run off the word is
// left to branch prediction: most do not, and waiting for the answer would put a
// load on the path from one code to the next.
bool BoundedDecoder::Fast(DecodeStatus* status) {
    constexpr size_t kInputMargin = 48;
    constexpr size_t kOutputMargin = 352;
    const uint8_t* in = ip;
    uint8_t* out = op;
    uint32_t used = 32 - bits;
    uint32_t cur = bits == 0 ? 0 : ctrl >> used;

    bool done = false;
    while (size_t(iend - in) >= kInputMargin && size_t(oend - out) >= kOutputMargin) {
        // Reload a used-up word, then take the run of literals (possibly none) at the
        // top of its unused bits; their bytes follow back to back.
        {
            uint32_t next = LoadWord(in);
            bool empty = used == 32;
            cur = empty ? next : cur;
            in += empty ? 4 : 0;
            used = empty ? 0 : used;
        }
        // The unused bits of the current word at the top, zeros below.
        uint64_t top = uint64_t(cur) << 32 << used;
        uint32_t run = uint32_t(std::countl_one(top));
        Copy16(out, in);
        Copy16(out + 16, in + 16);
        out += run;
        in += run;
        used += run;
        if (used == 32) continue;  // the run may go on in the next word

        // The next bit is 0: a copy code. Its selecting bits come before its byte,
        // and only run into the next word (read here, where the byte would be) when
        // fewer than seven bits are left; otherwise the word is not waited for.
        const uint8_t* at = in;
        uint64_t win = top << run;
        if (used > 25) [[unlikely]] win |= uint64_t(LoadWord(at)) << used;
        const CodeHead head = HeadOf(uint32_t(win >> 57) & 63);
        // The byte, and the word that would follow it, are loaded for both places
        // the byte can be in before it is known which.
        uint32_t byteHere = at[0], byteAfterWord = at[4];
        uint32_t wordHere = LoadWord(at + 1), wordAfterWord = LoadWord(at + 5);
        uint32_t sum = used + head.selectBits;
        bool crossed = sum > 32;
        cur = crossed ? LoadWord(at) : cur;
        used = crossed ? sum - 32 : sum;
        uint32_t byte = crossed ? byteAfterWord : byteHere;
        uint32_t next = crossed ? wordAfterWord : wordHere;
        in = at + (crossed ? 5 : 1);

        // After the byte: the extra bits, then for long codes the length code.
        win = (uint64_t(cur) << 32 | next) << used;
        uint32_t extraBits = head.extraBits;
        size_t distance = head.base + (byte << extraBits) + uint32_t((win >> 1) >> (63 - extraBits));
        uint32_t lengthEntry = LengthOf(uint32_t((win << extraBits) >> 55));
        uint32_t isLong = head.isLong;
        uint32_t lengthBits = Pick<uint32_t>(isLong, lengthEntry >> 9, 0);
        size_t length = Pick<uint32_t>(isLong, lengthEntry & 511, 2);
        sum = used + extraBits + lengthBits;
        crossed = sum > 32;
        cur = crossed ? next : cur;
        used = crossed ? sum - 32 : sum;
        in += crossed ? 4 : 0;
        if (length == kMaxLongLength - 255) length += *in++;  // five 0 bits: a byte

        // The end code is the two-byte code with the greatest value.
        bool end = !isLong && distance == kMaxShortDistance + 1;
        if (distance > size_t(out - ostart) || end) [[unlikely]] {
            // The output is far from full, so the end code ends the block early.
            *status = end ? DecodeStatus::EndedEarly : DecodeStatus::DistanceTooFar;
            done = true;
            break;
        }
        ChunkCopy(out, distance, length);
        out += length;
    }
    ip = in;
    op = out;
    ctrl = used == 32 ? 0 : cur << used;
    bits = 32 - used;
    return done;
}

DecodeStatus BoundedDecoder::Careful() {
    constexpr DecodeStatus kTruncated = DecodeStatus::TruncatedBlock;
    for (;;) {
        if (bits == 0 && !Refill()) return kTruncated;
        // A run of 1 bits is a run of literals whose bytes follow back to back.
        uint32_t literals = std::countl_one(ctrl);
        if (literals != 0) {
            DecodeStatus s = Literals(literals);
            if (s != DecodeStatus::Ok) return s;
            ctrl = literals < 32 ? ctrl << literals : 0;
            bits -= literals;
            continue;
        }
        ctrl <<= 1;
        --bits;
        uint32_t kind, byte, extra;
        if (!Bit(&kind)) return kTruncated;
        if (kind == 1) {
            // Two-byte code: distance 1..256, or 257..2303 with 3 extra bits.
            uint32_t wide;
            if (!Bit(&wide) || !Byte(&byte)) return kTruncated;
            uint32_t v = byte;
            if (wide) {
                if (!Bits(3, &extra)) return kTruncated;
                v = 256 + 8 * byte + extra;
                if (v == 2303) {
                    return op == oend ? DecodeStatus::Ok : DecodeStatus::EndedEarly;
                }
            }
            DecodeStatus s = Copy(v + 1, 2);
            if (s != DecodeStatus::Ok) return s;
            continue;
        }
        // Long code: offset class by leading zeros (at most 4), its byte, extra bits.
        uint32_t offsetClass;
        if (!Unary(4, &offsetClass) || !Byte(&byte)) return kTruncated;
        static constexpr uint32_t kExtraBits[5] = {1, 1, 2, 3, 4};
        static constexpr uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
        uint32_t extraBits = kExtraBits[offsetClass];
        if (!Bits(extraBits, &extra)) return kTruncated;
        uint32_t distance = kBase[offsetClass] + (byte << extraBits) + extra + 1;
        // Length class by leading zeros (at most 5).
        uint32_t lengthClass;
        if (!Unary(5, &lengthClass)) return kTruncated;
        uint32_t length;
        switch (lengthClass) {
            case 0: length = 3; break;
            case 1: length = 4; break;
            case 2: if (!Bits(1, &extra)) return kTruncated; length = 5 + extra; break;
            case 3: if (!Bits(2, &extra)) return kTruncated; length = 7 + extra; break;
            case 4: if (!Bits(4, &extra)) return kTruncated; length = 11 + extra; break;
            default: if (!Byte(&byte)) return kTruncated; length = 27 + byte; break;
        }
        DecodeStatus s = Copy(distance, length);
        if (s != DecodeStatus::Ok) return s;
    }
}

}  // namespace

DecodeResult DecompressBounded(uint8_t* destination, size_t expectedSize, const uint8_t* source,
                               size_t sourceSize) {
    BoundedDecoder d{source, source + sourceSize, destination, destination,
                     destination + expectedSize};
    DecodeStatus status = d.Run();
    return {status, size_t(d.op - destination), size_t(d.ip - source)};
}

// A literal reading of the format: one bit at a time, one byte at a time.
void Decompress(uint8_t* destination, const uint8_t* source) {
    const uint8_t* ip = source;
    uint8_t* op = destination;
    uint32_t ctrl = 0;
    int left = 0;
    auto bit = [&]() -> uint32_t {
        if (left == 0) {
            ctrl = LoadWord(ip);
            ip += 4;
            left = 32;
        }
        --left;
        return (ctrl >> left) & 1;
    };
    auto bitsOf = [&](int n) {
        uint32_t v = 0;
        while (n-- > 0) v = v << 1 | bit();
        return v;
    };
    auto copy = [&](uint32_t distance, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i, ++op) *op = *(op - distance);
    };
    ctrl = LoadWord(ip);
    ip += 4;
    left = 32;
    for (;;) {
        if (bit()) {
            *op++ = *ip++;
        } else if (bit()) {
            uint32_t wide = bit();
            uint32_t v = *ip++;
            if (wide) {
                v = 256 + 8 * v + bitsOf(3);
                if (v == 2303) return;
            }
            copy(v + 1, 2);
        } else {
            uint32_t cls = 0;
            while (cls < 4 && !bit()) ++cls;
            static constexpr int kExtraBits[5] = {1, 1, 2, 3, 4};
            static constexpr uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
            uint32_t byte = *ip++;
            uint32_t distance = kBase[cls] + (byte << kExtraBits[cls]) + bitsOf(kExtraBits[cls]) + 1;
            uint32_t lcls = 0;
            while (lcls < 5 && !bit()) ++lcls;
            static constexpr uint32_t kLengthBase[5] = {3, 4, 5, 7, 11};
            static constexpr int kLengthBits[5] = {0, 0, 1, 2, 4};
            uint32_t length = lcls < 5 ? kLengthBase[lcls] + bitsOf(kLengthBits[lcls]) : 27 + *ip++;
            copy(distance, length);
        }
    }
}

const char* DecodeStatusText(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::Ok: return "ok";
        case DecodeStatus::TruncatedBlock: return "the block ends before its end code";
        case DecodeStatus::DistanceTooFar: return "a copy reaches before the start of the output";
        case DecodeStatus::OutputOverflow: return "the block decodes to more than its size";
        case DecodeStatus::EndedEarly: return "the block decodes to less than its size";
    }
    return "unknown decoding fault";
}

}  // namespace wq2
