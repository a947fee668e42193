// Hand-assembles compressed blocks code by code, so tests can place every control
// bit and data byte exactly where they want them, including codes the encoder
// would never choose and malformed ones.
#pragma once

#include <cstdint>
#include <vector>

namespace wq2test {

class BlockBuilder {
public:
    BlockBuilder() { NewWord(); }

    // Mirrors the decoder: a word is reserved where the stream stands when a bit is
    // wanted and the current word is used up.
    BlockBuilder& Bit(uint32_t b) {
        if (used_ == 32) NewWord();
        if (b) out_[word_ + 3 - used_ / 8] |= uint8_t(0x80 >> (used_ % 8));
        ++used_;
        return *this;
    }
    BlockBuilder& Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) Bit((value >> i) & 1);
        return *this;
    }
    BlockBuilder& Byte(uint32_t b) {
        out_.push_back(uint8_t(b));
        return *this;
    }

    BlockBuilder& Literal(uint8_t b) { return Bit(1).Byte(b); }
    // Two-byte code for distance 1..2303 (2304 would be the end code's value + 1).
    BlockBuilder& Short(uint32_t distance) {
        uint32_t v = distance - 1;
        Bit(0).Bit(1);
        if (v < 256) return Bit(0).Byte(v);
        v -= 256;
        return Bit(1).Byte(v >> 3).Bits(v & 7, 3);
    }
    BlockBuilder& Long(uint32_t distance, uint32_t length) {
        static constexpr uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
        static constexpr int kExtra[5] = {1, 1, 2, 3, 4};
        uint32_t v = distance - 1;
        int cls = v < 512 ? 0 : v < 1024 ? 1 : v < 2048 ? 2 : v < 4096 ? 3 : 4;
        Bit(0).Bit(0);
        for (int i = 0; i < cls; ++i) Bit(0);
        if (cls < 4) Bit(1);
        v -= kBase[cls];
        Byte(v >> kExtra[cls]).Bits(v & ((1u << kExtra[cls]) - 1), kExtra[cls]);
        if (length == 3) return Bit(1);
        if (length == 4) return Bits(0b01, 2);
        if (length <= 6) return Bits(0b001, 3).Bits(length - 5, 1);
        if (length <= 10) return Bits(0b0001, 4).Bits(length - 7, 2);
        if (length <= 26) return Bits(0b00001, 5).Bits(length - 11, 4);
        return Bits(0, 5).Byte(length - 27);
    }
    BlockBuilder& End() { return Bit(0).Bit(1).Bit(1).Byte(0xFF).Bits(7, 3); }

    // Bits already used in the current control word (0..32).
    int UsedBits() const { return used_; }
    const std::vector<uint8_t>& Bytes() const { return out_; }

private:
    void NewWord() {
        word_ = out_.size();
        out_.insert(out_.end(), 4, 0);
        used_ = 0;
    }

    std::vector<uint8_t> out_;
    size_t word_ = 0;
    int used_ = 0;
};

}  // namespace wq2test
