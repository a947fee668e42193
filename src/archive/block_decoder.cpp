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
        const uint8_t* from = op - distance;
        uint8_t* to = op;
        op += length;
        if (size_t(oend - to) < length + kCopySlack) {
            for (size_t i = 0; i < length; ++i) to[i] = from[i];
            return DecodeStatus::Ok;
        }
        if (distance >= 16) {
            // Each 16-byte step reads only bytes written before it.
            for (size_t i = 0; i < length; i += 16) std::memcpy(to + i, from + i, 16);
        } else if (distance >= 8) {
            for (size_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
        } else {
            // Distances 1 to 7 repeat a short pattern: lay out 16 bytes of it and
            // step by the largest multiple of the period that fits, so every store
            // continues the pattern exactly where the previous one left it.
            uint8_t pattern[16];
            for (size_t i = 0; i < 16; ++i) pattern[i] = from[i % distance];
            size_t step = 16 - 16 % distance;
            for (size_t i = 0; i < length; i += step) std::memcpy(to + i, pattern, 16);
        }
        return DecodeStatus::Ok;
    }

    DecodeStatus Run();
};

DecodeStatus BoundedDecoder::Run() {
    constexpr DecodeStatus kTruncated = DecodeStatus::TruncatedBlock;
    if (!Refill()) return kTruncated;
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
