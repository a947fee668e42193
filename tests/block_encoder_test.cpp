#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "block_builder.h"
#include "block_code_writer.h"
#include "block_decoder.h"
#include "block_encoder.h"
#include "match_finder.h"
#include "optimal_parser.h"

namespace {

using wq2::CompressBlock;
using wq2::CompressionLevel;
using wq2::DecodeStatus;
using wq2test::BlockBuilder;
using Bytes = std::vector<uint8_t>;

constexpr CompressionLevel kLevels[] = {CompressionLevel::Fast, CompressionLevel::Default,
                                        CompressionLevel::Max};

// Deterministic on every platform, unlike the standard distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return uint32_t(state_ >> 32);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }

private:
    uint64_t state_;
};

// Decodes `block` into a buffer of exactly `expected.size()` bytes and checks that
// the bounded decoder reaches the end code right there, having read the whole block.
void ExpectDecodesTo(const Bytes& block, const Bytes& expected) {
    Bytes out(expected.size());
    auto r = wq2::DecompressBounded(out.data(), out.size(), block.data(), block.size());
    ASSERT_EQ(r.status, DecodeStatus::Ok) << wq2::DecodeStatusText(r.status) << " after "
                                          << r.written << " of " << expected.size() << " bytes";
    EXPECT_EQ(r.consumed, block.size());
    EXPECT_TRUE(out == expected) << "decoded bytes differ from the input";
}

Bytes Compress(const Bytes& data, CompressionLevel level) {
    return CompressBlock(data.data(), data.size(), level);
}

// ---------------------------------------------------------------------------
// Inputs

Bytes Random(size_t n, uint64_t seed, uint32_t alphabet = 256) {
    Rng rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng.Below(alphabet));
    return b;
}

Bytes Periodic(size_t n, const Bytes& pattern) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = pattern[i % pattern.size()];
    return b;
}

// Words from a small vocabulary, line breaks, and two-byte Shift-JIS characters.
Bytes TextLike(size_t n, uint64_t seed) {
    static const char* const kWords[] = {"the", "quest", "hero", "sword", "castle", "dragon",
                                         "ｶﾞ", "\x82\xa0\x82\xa2", "\x83\x41\x83\x43", "village",
                                         "[name]", "\\n", "gold", "of", "and"};
    Rng rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
        b.insert(b.end(), w, w + std::strlen(w));
        b.push_back(rng.Below(8) == 0 ? '\n' : ' ');
    }
    b.resize(n);
    return b;
}

// 24-bit pixels: smooth gradients with noise, some rows repeating an earlier one.
Bytes ImageLike(size_t width, size_t rows, uint64_t seed) {
    Rng rng(seed);
    Bytes b;
    for (size_t y = 0; y < rows; ++y) {
        if (y > 0 && rng.Below(3) == 0) {
            size_t from = (y - 1 - rng.Below(uint32_t(std::min<size_t>(y, 3)))) * width * 3;
            b.insert(b.end(), b.begin() + from, b.begin() + from + width * 3);
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            b.push_back(uint8_t(x + y + rng.Below(2)));
            b.push_back(uint8_t(2 * y));
            b.push_back(uint8_t(x < width / 2 ? 0 : 255));
        }
    }
    return b;
}

// 16-bit little-endian samples: a slow wave plus noise, with silent stretches.
Bytes AudioLike(size_t samples, uint64_t seed) {
    Rng rng(seed);
    Bytes b;
    int32_t level = 0;
    for (size_t i = 0; i < samples; ++i) {
        bool silent = (i / 2000) % 3 == 2;
        level += int32_t(rng.Below(65)) - 32;
        int32_t v = silent ? 0 : level;
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Appends `length` bytes copied from `distance` back, byte by byte (overlap allowed).
Bytes WithCopy(Bytes b, size_t distance, size_t length) {
    for (size_t i = 0; i < length; ++i) b.push_back(b[b.size() - distance]);
    return b;
}

// Bytes in which no two-byte string occurs twice, so that no copy of any kind is
// possible: a random walk over pairs not used yet, from a fixed seed.
Bytes NoRepeats(size_t n, uint64_t seed) {
    std::vector<bool> used(65536, false);
    Rng rng(seed);
    Bytes out;
    if (n == 0) return out;
    out.push_back(uint8_t(rng.Below(256)));
    while (out.size() < n) {
        size_t prev = out.back();
        uint32_t start = rng.Below(256);
        size_t next = 256;
        for (uint32_t i = 0; i < 256 && next == 256; ++i) {
            size_t c = (start + i) & 255;
            if (!used[prev << 8 | c]) next = c;
        }
        if (next == 256) return {};  // stuck; callers pick another seed
        used[prev << 8 | next] = true;
        out.push_back(uint8_t(next));
    }
    return out;
}

struct Sample {
    std::string name;
    Bytes data;
};

std::ostream& operator<<(std::ostream& os, const Sample& s) { return os << s.name; }

std::vector<Sample> Samples() {
    std::vector<Sample> s;
    s.push_back({"empty", {}});
    for (size_t n = 1; n <= 6; ++n) s.push_back({"zeros_" + std::to_string(n), Bytes(n, 0)});
    s.push_back({"five_distinct", {1, 2, 3, 4, 5}});
    s.push_back({"long_run", Bytes(300000, 0x41)});
    // A run of 1 + 282k + r bytes: one literal, then a copy that has to be split
    // into codes of at most 282 bytes, with 0 to 4 bytes left over.
    for (size_t k = 1; k <= 2; ++k) {
        for (size_t r = 0; r <= 4; ++r) {
            s.push_back({"run_282x" + std::to_string(k) + "_plus_" + std::to_string(r),
                         Bytes(1 + 282 * k + r, 0xEE)});
        }
    }
    s.push_back({"period_2", Periodic(70001, {0x12, 0x34})});
    s.push_back({"period_3", Periodic(70002, {1, 2, 3})});
    s.push_back({"period_2_then_noise", Concat(Periodic(5000, {7, 9}), Random(5000, 1))});
    s.push_back({"random", Random(100000, 2)});
    s.push_back({"random_small_alphabet", Random(40000, 3, 3)});
    s.push_back({"random_binary_alphabet", Random(40000, 4, 2)});
    s.push_back({"text", TextLike(120000, 5)});
    s.push_back({"image", ImageLike(333, 90, 6)});
    s.push_back({"audio", AudioLike(40000, 7)});
    // The same text twice, 8192 and 8193 bytes apart: the second copy is in reach
    // of the window only in the first case.
    for (size_t gap : {8192, 8193}) {
        Bytes text = TextLike(3000, 8);
        Bytes b = Concat(Concat(text, Random(gap - text.size(), 9)), text);
        s.push_back({"repeat_at_" + std::to_string(gap), b});
    }
    // Mixed content well past one segment of the optimal parse.
    s.push_back({"mixed", Concat(Concat(TextLike(200000, 10), Random(50000, 11)),
                                 Concat(ImageLike(640, 120, 12), Bytes(5000, 0)))});
    return s;
}

// ---------------------------------------------------------------------------
// Round trips at every level

class RoundTripTest : public testing::TestWithParam<std::tuple<CompressionLevel, Sample>> {};

TEST_P(RoundTripTest, DecodesToTheInput) {
    auto [level, sample] = GetParam();
    Bytes block = Compress(sample.data, level);
    EXPECT_LE(block.size(), wq2::CompressBound(sample.data.size()));
    ExpectDecodesTo(block, sample.data);
}

std::string RoundTripName(const testing::TestParamInfo<RoundTripTest::ParamType>& info) {
    return std::string(wq2::CompressionLevelName(std::get<0>(info.param))) + "_" +
           std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Samples, RoundTripTest,
                         testing::Combine(testing::ValuesIn(kLevels), testing::ValuesIn(Samples())),
                         RoundTripName);

// Copies at every distance class edge and every length class edge, each after
// random bytes (so that nothing else matches) and followed by more of them.
TEST(RoundTrip, CopiesAtEveryDistanceAndLength) {
    const size_t distances[] = {1, 2, 3, 255, 256, 257, 511, 512, 513, 1023, 1024, 1025, 2047, 2048,
                                2049, 2303, 2304, 4095, 4096, 4097, 8191, 8192};
    const size_t lengths[] = {2, 3, 4, 5, 6, 7, 10, 11, 26, 27, 28, 281, 282, 283, 300};
    for (size_t d : distances) {
        for (size_t l : lengths) {
            Bytes data = Concat(WithCopy(Random(d + 5, d * 1000 + l), d, l), Random(20, l));
            for (CompressionLevel level : kLevels) {
                SCOPED_TRACE(testing::Message() << wq2::CompressionLevelName(level) << " distance "
                                                << d << " length " << l);
                ExpectDecodesTo(Compress(data, level), data);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Exact output of the optimal level

// Input: `prefix` bytes in which no two-byte string repeats, then one copy.
// The cheapest block codes the prefix as literals and the copy as one code, so
// the block is known bit for bit. Moving the prefix by one byte moves the code by
// 9 bits in its control word; 32 prefixes put the code's first bit on every bit of
// a word, and so the word boundary between every two of its bits, before its
// byte and after it.
struct CopyCase {
    uint32_t distance;
    uint32_t length;
    bool coded;  // false: the copy is out of every code's reach and stays literal
};

std::ostream& operator<<(std::ostream& os, const CopyCase& c) {
    return os << "distance " << c.distance << " length " << c.length;
}

Bytes CopyInput(const CopyCase& c, size_t prefix) {
    // The pair formed by the last prefix byte and the first copied one must be new
    // too, or a copy starting a byte early could be cheaper.
    for (uint64_t seed = 1;; ++seed) {
        Bytes b = NoRepeats(prefix, seed);
        if (b.size() != prefix) continue;
        uint8_t last = b.back(), first = b[prefix - c.distance];
        bool seen = false;
        for (size_t i = 0; i + 1 < prefix && !seen; ++i) seen = b[i] == last && b[i + 1] == first;
        if (!seen) return WithCopy(b, c.distance, c.length);
    }
}

class OptimalCopyTest : public testing::TestWithParam<CopyCase> {};

TEST_P(OptimalCopyTest, BlockIsKnownBitForBit) {
    const CopyCase c = GetParam();
    std::vector<bool> startBits(32, false);
    for (size_t extra = 0; extra < 32; ++extra) {
        SCOPED_TRACE(testing::Message() << extra << " extra literals");
        const size_t prefix = c.distance + extra;
        Bytes data = CopyInput(c, prefix);

        BlockBuilder expected;
        for (size_t i = 0; i < prefix; ++i) expected.Literal(data[i]);
        if (c.coded) {
            startBits[expected.UsedBits() % 32] = true;
            if (c.length == 2) {
                expected.Short(c.distance);
            } else {
                expected.Long(c.distance, c.length);
            }
        } else {
            for (size_t i = prefix; i < data.size(); ++i) expected.Literal(data[i]);
        }
        expected.End();

        Bytes block = Compress(data, CompressionLevel::Max);
        EXPECT_TRUE(block == expected.Bytes()) << "block of " << block.size() << " bytes, expected "
                                                << expected.Bytes().size();
        ExpectDecodesTo(block, data);
        // The other levels may choose other codes but must decode all the same. They
        // stop searching a few bytes before the end, so they get a tail after the
        // copy; with it, they too meet the copy's distance.
        Bytes tailed = Concat(data, Random(8, extra));
        ExpectDecodesTo(Compress(tailed, CompressionLevel::Fast), tailed);
        ExpectDecodesTo(Compress(tailed, CompressionLevel::Default), tailed);
    }
    if (c.coded) {
        for (size_t bit = 0; bit < 32; ++bit) EXPECT_TRUE(startBits[bit]) << "bit " << bit;
    }
}

// Every offset class and every length class, both two-byte forms, each at an edge
// of its range, and copies that no code can reach.
INSTANTIATE_TEST_SUITE_P(
    Codes, OptimalCopyTest,
    testing::Values(CopyCase{1, 2, true}, CopyCase{256, 2, true}, CopyCase{257, 2, true},
                    CopyCase{2303, 2, true}, CopyCase{2304, 2, false}, CopyCase{1, 3, true},
                    CopyCase{3, 282, true}, CopyCase{512, 4, true}, CopyCase{513, 5, true},
                    CopyCase{1024, 6, true}, CopyCase{1025, 7, true}, CopyCase{2048, 10, true},
                    CopyCase{2049, 11, true}, CopyCase{4096, 26, true}, CopyCase{4097, 27, true},
                    CopyCase{8192, 282, true}, CopyCase{8192, 3, true}, CopyCase{8193, 3, false}));

// A two-byte code from distance 2304 would carry the end code's value. The input
// offers exactly such a pair, at a point that every level searches (a copy just
// before keeps the greedy levels from stepping over it), next to one at 2303.
TEST(RoundTrip, PairFrom2304NeverBecomesTheEndCode) {
    for (uint64_t seed = 1; seed <= 16; ++seed) {
        for (size_t distance : {2303, 2304}) {
            Bytes data = NoRepeats(2500, seed);
            ASSERT_EQ(data.size(), 2500u);
            const size_t at = 2330;
            data.resize(at - 20);
            data = WithCopy(data, 30, 6);
            data.resize(at, 0x55);
            data = WithCopy(data, distance, 2);
            data = Concat(data, Random(12, seed));
            for (CompressionLevel level : kLevels) {
                SCOPED_TRACE(testing::Message() << wq2::CompressionLevelName(level) << " seed " << seed
                                                << " distance " << distance);
                ExpectDecodesTo(Compress(data, level), data);
            }
        }
    }
}

// Blocks of literals only: one control bit per literal and 6 for the end code, in
// whole 32-bit words, plus the bytes. Shows that words are counted right.
TEST(CompressBound, AllLiteralBlockSizeIsExact) {
    for (size_t n = 0; n <= 100; ++n) {
        Bytes data = NoRepeats(n, 77);
        ASSERT_EQ(data.size(), n);
        Bytes block = Compress(data, CompressionLevel::Max);
        EXPECT_EQ(block.size(), n + 1 + 4 * ((n + 6 + 31) / 32)) << n << " bytes";
        EXPECT_LE(block.size(), wq2::CompressBound(n)) << n << " bytes";
        ExpectDecodesTo(block, data);
    }
}

// Two-byte and short long codes spend more control bits per output byte than
// literals do, so a block can need a control word more than an all-literal one
// although it has fewer bits in all. The bound must hold for such blocks too.
TEST(CompressBound, HoldsForBlocksRichInShortCodes) {
    std::mt19937 rng(99);
    for (int round = 0; round < 3000; ++round) {
        size_t n = rng() % 90;
        uint32_t alphabet = 1 + rng() % 3;
        Bytes data(n);
        for (auto& b : data) b = uint8_t('a' + rng() % alphabet);
        for (CompressionLevel level : kLevels) {
            size_t bound = wq2::CompressBound(n);
            Bytes block = Compress(data, level);
            ASSERT_LE(block.size(), bound) << n << " bytes, level "
                                           << wq2::CompressionLevelName(level);
        }
    }
}

TEST(CompressBlock, EmptyInputIsTheEndCodeAlone) {
    for (CompressionLevel level : kLevels) {
        EXPECT_EQ(CompressBlock(nullptr, 0, level), (Bytes{0x00, 0x00, 0x00, 0x7C, 0xFF}));
    }
}

TEST(CompressBlock, WorkedExampleAtEveryLevel) {
    const Bytes data = {'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'};
    for (CompressionLevel level : kLevels) {
        EXPECT_EQ(Compress(data, level), (Bytes{0x00, 0x00, 0xDF, 0xCC, 0x61, 0x62, 0x00, 0xFF}))
            << wq2::CompressionLevelName(level);
    }
}

// Long runs: the optimal level codes a run as one literal and full-length copies
// from distance 1 (25 bits each); a smaller block would be a miscount, a larger
// one a missed copy.
TEST(OptimalLevel, RunIsOneLiteralAndFullCopies) {
    for (size_t copies : {1, 2, 100}) {
        Bytes data(1 + 282 * copies, 0);
        // A copy is 9 control bits (00, offset class 1, its extra bit, length class
        // 00000) and 2 data bytes (offset, length).
        size_t bits = 1 + 9 * copies + 6;  // control bits: literal, copies, end code
        size_t bytes = 1 + 2 * copies + 1;  // data bytes: literal, copies, end code
        size_t expected = bytes + 4 * ((bits + 31) / 32);
        EXPECT_EQ(Compress(data, CompressionLevel::Max).size(), expected) << copies;
    }
}

// Control bits and data bytes of a well-formed block, read code by code.
struct BlockBits {
    size_t control = 0;
    size_t data = 0;
};

BlockBits CountBits(const Bytes& block) {
    BlockBits r;
    size_t pos = 0;
    uint32_t word = 0;
    int left = 0;
    auto bit = [&]() -> uint32_t {
        if (left == 0) {
            word = uint32_t(block[pos]) | uint32_t(block[pos + 1]) << 8 |
                   uint32_t(block[pos + 2]) << 16 | uint32_t(block[pos + 3]) << 24;
            pos += 4;
            left = 32;
        }
        --left;
        ++r.control;
        return (word >> left) & 1;
    };
    auto bits = [&](int n) {
        uint32_t v = 0;
        while (n-- > 0) v = v << 1 | bit();
        return v;
    };
    auto byte = [&]() -> uint32_t {
        ++r.data;
        return block[pos++];
    };
    for (;;) {
        if (bit()) {
            byte();
        } else if (bit()) {
            uint32_t wide = bit();
            uint32_t b = byte();
            if (wide && 256 + 8 * b + bits(3) == 2303) return r;
        } else {
            int offsetClass = 0;
            while (offsetClass < 4 && !bit()) ++offsetClass;
            byte();
            bits(offsetClass < 2 ? 1 : offsetClass);
            int lengthClass = 0;
            while (lengthClass < 5 && !bit()) ++lengthClass;
            static constexpr int kLengthExtra[5] = {0, 0, 1, 2, 4};
            if (lengthClass < 5) {
                bits(kLengthExtra[lengthClass]);
            } else {
                byte();
            }
        }
    }
}

// The costs the optimal parse weighs must be what the codes take when written:
// one code of every length at a few distances, and of lengths 2 and 3 at every
// distance, counted by reading the block back.
TEST(CodeCosts, MatchTheBitsWritten) {
    std::vector<std::pair<uint32_t, uint32_t>> codes;  // distance, length
    for (uint32_t d = 1; d <= wq2::kMaxDistance; ++d) {
        codes.push_back({d, 3});
        if (d <= wq2::kMaxShortDistance) codes.push_back({d, 2});
    }
    for (uint32_t d : {1u, 600u, 8192u}) {
        for (uint32_t l = 4; l <= wq2::kMaxLongLength; ++l) codes.push_back({d, l});
    }
    for (auto [distance, length] : codes) {
        Bytes block(64);
        wq2::packer::BlockCodeWriter writer(block.data());
        writer.Match(distance, length);
        block.resize(writer.Finish());
        BlockBits bits = CountBits(block);
        ASSERT_EQ(8 * bits.data + bits.control, wq2::packer::MatchBits(distance, length) + 14)
            << "distance " << distance << " length " << length;
    }
}

// The fewest bits any block for `data` can take, by brute force over every
// distance and length, with the costs of the codes as the format defines them.
size_t FewestBits(const Bytes& data) {
    auto offsetBits = [](size_t d) {
        return d <= 512 ? 10 : d <= 1024 ? 11 : d <= 2048 ? 13 : d <= 4096 ? 15 : 16;
    };
    auto lengthBits = [](size_t l) {
        return l == 3 ? 1 : l == 4 ? 2 : l <= 6 ? 4 : l <= 10 ? 6 : l <= 26 ? 9 : 13;
    };
    const size_t n = data.size();
    std::vector<size_t> best(n + 1, SIZE_MAX);
    best[0] = 0;
    auto relax = [&](size_t to, size_t bits) { best[to] = std::min(best[to], bits); };
    for (size_t i = 0; i < n; ++i) {
        relax(i + 1, best[i] + 9);
        size_t limit = std::min<size_t>(282, n - i);
        for (size_t d = 1; d <= i && d <= 8192; ++d) {
            size_t common = 0;
            while (common < limit && data[i + common] == data[i + common - d]) ++common;
            if (common >= 2 && d <= 2303) relax(i + 2, best[i] + (d <= 256 ? 11 : 14));
            for (size_t l = 3; l <= common; ++l) relax(i + l, best[i] + 2 + offsetBits(d) + lengthBits(l));
        }
    }
    return best[n] + 14;  // the end code
}

// A block of random bytes repeated with every byte changed at random one time in
// `changeOneIn`: copies from exactly `period` back of all lengths, next to other
// choices of nearly the same cost.
Bytes NoisyPeriod(size_t period, size_t repeats, uint32_t changeOneIn, uint64_t seed) {
    Rng rng(seed);
    Bytes b = Random(period, seed, 4);
    for (size_t i = period; i < period * (repeats + 1); ++i) {
        b.push_back(rng.Below(changeOneIn) == 0 ? uint8_t(rng.Below(4)) : b[i - period]);
    }
    return b;
}

TEST(OptimalLevel, TakesTheFewestBitsOfAnyParse) {
    std::vector<Bytes> inputs = {Random(2500, 40, 4), Random(2500, 41, 2), TextLike(2500, 42),
                                 AudioLike(1200, 43)};
    // Copies at the edges of the code classes, where a wrong cost would tip the
    // choice between nearly equal paths.
    for (size_t period : {256, 257, 512, 513, 1024, 1025}) {
        inputs.push_back(NoisyPeriod(period, 2, 12, period));
        inputs.push_back(NoisyPeriod(period, 2, 40, period + 1));
    }
    for (const Bytes& data : inputs) {
        Bytes block = Compress(data, CompressionLevel::Max);
        ExpectDecodesTo(block, data);
        BlockBits got = CountBits(block);
        EXPECT_EQ(8 * got.data + got.control, FewestBits(data)) << data.size() << " bytes";
    }
}

class LevelOrderTest : public testing::TestWithParam<Sample> {};

// The optimal parse weighs every path the lazy parse could take, so it must never
// do worse.
TEST_P(LevelOrderTest, MaxIsNeverLargerThanDefault) {
    const Bytes& data = GetParam().data;
    size_t max = Compress(data, CompressionLevel::Max).size();
    size_t def = Compress(data, CompressionLevel::Default).size();
    EXPECT_LE(max, def);
}

std::string SampleName(const testing::TestParamInfo<Sample>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Samples, LevelOrderTest, testing::ValuesIn(Samples()), SampleName);

// ---------------------------------------------------------------------------
// Internals of the optimal level

// Every position's candidates against a brute-force search of the window: for each
// reachable length, the closest distance (for length 2, only within two-byte
// reach).
TEST(TreeMatchFinder, ReportsClosestDistanceForEveryLength) {
    using wq2::packer::CommonLength;
    using wq2::packer::MatchCandidate;
    // Chunks of 300 to 400 bytes recurring in any order: matches reach the longest
    // length, where a node hands its place and both its subtrees to the newer
    // position, and later searches go through those subtrees.
    Rng rng(23);
    std::vector<Bytes> chunks;
    for (uint64_t i = 0; i < 4; ++i) chunks.push_back(Random(300 + rng.Below(100), 24 + i, 4));
    Bytes repeats;
    for (int i = 0; i < 12; ++i) {
        repeats = Concat(repeats, chunks[rng.Below(4)]);
        repeats = Concat(repeats, Random(rng.Below(20), 30 + i, 4));
    }
    const Bytes inputs[] = {TextLike(2500, 20), Random(2500, 21, 3), Periodic(700, {1, 2, 3}),
                            Concat(Random(300, 22, 4), Bytes(400, 9)), repeats};
    for (const Bytes& data : inputs) {
        std::vector<uint32_t> storage;
        wq2::packer::TreeMatchFinder finder(data.data(), data.size(), 1u << 20, storage);
        MatchCandidate got[wq2::kMaxLongLength];
        for (size_t pos = 0; pos < data.size(); ++pos) {
            size_t count = finder.FindAndInsert(pos, got);
            size_t limit = std::min<size_t>(wq2::kMaxLongLength, data.size() - pos);
            // closest[l]: the closest distance with at least l common bytes.
            std::vector<uint32_t> closest(limit + 1, 0);
            for (uint32_t d = 1; d <= pos && d <= wq2::kMaxDistance; ++d) {
                size_t common = CommonLength(&data[pos - d], &data[pos], limit);
                for (size_t l = 2; l <= common; ++l) {
                    if (closest[l] == 0) closest[l] = d;
                }
            }
            std::vector<MatchCandidate> want;
            if (limit >= 2 && closest[2] != 0 && closest[2] <= wq2::kMaxShortDistance) {
                want.push_back({2, closest[2]});
            }
            for (size_t l = 3; l <= limit && closest[l] != 0; ++l) {
                if (l == limit || closest[l + 1] != closest[l]) want.push_back({uint32_t(l), closest[l]});
            }
            ASSERT_EQ(count, want.size()) << "position " << pos;
            for (size_t i = 0; i < count; ++i) {
                EXPECT_EQ(got[i].length, want[i].length) << "position " << pos;
                EXPECT_EQ(got[i].distance, want[i].distance) << "position " << pos;
            }
        }
    }
}

// Small segments, a short nice length, a shallow tree and frequent table resets
// put many segment ends, taken matches and restarts into one input; the block
// must still decode to it.
TEST(OptimalParser, SegmentsResetsAndTakenMatchesKeepTheStreamIntact) {
    Bytes data = Concat(Concat(TextLike(30000, 30), Bytes(3000, 1)),
                        Concat(Periodic(3001, {5, 6}), ImageLike(100, 40, 31)));
    struct Setting {
        uint32_t depth, nice;
        size_t segment, reset;
    };
    for (Setting s : {Setting{4, 3, 1, 1000}, Setting{8, 20, 777, 1000}, Setting{1, 282, 5000, 9000},
                      Setting{96, 160, 1 << 17, 300}}) {
        SCOPED_TRACE(testing::Message() << "segment " << s.segment << " reset " << s.reset);
        Bytes out(wq2::CompressBound(data.size()));
        wq2::packer::BlockCodeWriter writer(out.data());
        wq2::packer::OptimalParserOptions options;
        options.maxDepth = s.depth;
        options.niceLength = s.nice;
        options.segmentSize = s.segment;
        options.resetInterval = s.reset;
        wq2::packer::EncodeOptimal(data.data(), data.size(), writer, options);
        out.resize(writer.Finish());
        ExpectDecodesTo(out, data);
    }
}

TEST(CompressionLevelText, ParsesItsOwnNames) {
    for (CompressionLevel level : kLevels) {
        CompressionLevel parsed = CompressionLevel::Fast;
        ASSERT_TRUE(wq2::ParseCompressionLevel(wq2::CompressionLevelName(level), &parsed));
        EXPECT_EQ(parsed, level);
    }
    CompressionLevel unchanged = CompressionLevel::Default;
    for (const char* bad : {"", "Max", "fastest", "max ", "1"}) {
        EXPECT_FALSE(wq2::ParseCompressionLevel(bad, &unchanged)) << bad;
    }
    EXPECT_FALSE(wq2::ParseCompressionLevel(nullptr, &unchanged));
    EXPECT_EQ(unchanged, CompressionLevel::Default);
}

}  // namespace
