#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "block_builder.h"
#include "block_decoder.h"

namespace {

using wq2::DecodeStatus;
using wq2test::BlockBuilder;
using Bytes = std::vector<uint8_t>;

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Decodes with the bounded decoder into a buffer of exactly `expected` bytes, and
// checks that the literal reading of the format agrees on well-formed blocks.
Bytes DecodeExact(const Bytes& block, size_t expected, DecodeStatus* status = nullptr) {
    Bytes out(expected);
    auto r = wq2::DecompressBounded(out.data(), out.size(), block.data(), block.size());
    if (status) *status = r.status;
    return out;
}

struct KnownBlock {
    const char* name;
    Bytes block;
    Bytes expected;
};

std::ostream& operator<<(std::ostream& os, const KnownBlock& k) { return os << k.name; }

Bytes Literals(uint8_t first, size_t n) {
    Bytes b;
    for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(first + i * 7));
    return b;
}

std::vector<KnownBlock> KnownBlocks() {
    std::vector<KnownBlock> cases;
    cases.push_back({"worked_example", {0x00, 0x00, 0xDF, 0xCC, 0x61, 0x62, 0x00, 0xFF},
                     {'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'}});
    cases.push_back({"end_code_alone", {0x00, 0x00, 0x00, 0x7C, 0xFF}, {}});
    cases.push_back({"literal_then_two_byte_distance_1",
                     BlockBuilder().Literal('x').Short(1).End().Bytes(), Repeat('x', 3)});
    // Offset code 1, byte 00, bit 0; length code 00000 with byte FF.
    cases.push_back({"literal_then_longest_copy_distance_1",
                     BlockBuilder().Literal('z').Bits(0b001, 3).Byte(0).Bit(0).Bits(0, 5).Byte(0xFF)
                         .End().Bytes(),
                     Repeat('z', 283)});
    // Two-byte codes with byte FF and x = 0..6 are copies from 2297..2303; only x = 7 ends.
    for (uint32_t x = 0; x < 7; ++x) {
        BlockBuilder b;
        Bytes lit = Literals(1, 2303);
        for (uint8_t c : lit) b.Literal(c);
        b.Bits(0b011, 3).Byte(0xFF).Bits(x, 3).End();
        uint32_t distance = 2297 + x;
        Bytes expected = lit;
        for (int i = 0; i < 2; ++i) expected.push_back(expected[expected.size() - distance]);
        cases.push_back({"two_byte_ff_not_end", b.Bytes(), expected});
    }
    {
        BlockBuilder b;
        Bytes lit = Literals(3, 32);
        for (uint8_t c : lit) b.Literal(c);
        b.End();
        cases.push_back({"word_after_32_literals", b.Bytes(), lit});
    }
    {
        Bytes block = BlockBuilder().Literal('q').Short(1).End().Bytes();
        Bytes padded = Concat(block, {0x12, 0x34, 0x56, 0x78, 0x9A});
        cases.push_back({"bytes_after_end_code", padded, Repeat('q', 3)});
    }
    return cases;
}

class KnownBlockTest : public testing::TestWithParam<KnownBlock> {};

TEST_P(KnownBlockTest, DecodesToExpectedBytes) {
    const KnownBlock& k = GetParam();
    DecodeStatus status;
    Bytes out = DecodeExact(k.block, k.expected.size(), &status);
    EXPECT_EQ(status, DecodeStatus::Ok);
    EXPECT_EQ(out, k.expected);
    Bytes reference(k.expected.size() + 1, 0xEE);
    wq2::Decompress(reference.data(), k.block.data());
    reference.pop_back();
    EXPECT_EQ(reference, k.expected);
}

INSTANTIATE_TEST_SUITE_P(Blocks, KnownBlockTest, testing::ValuesIn(KnownBlocks()),
                         [](const auto& p) {
                             return std::string(p.param.name) + "_" + std::to_string(p.index);
                         });

TEST(BlockLayout, SecondWordFollowsThe32ndLiteralByte) {
    BlockBuilder b;
    for (int i = 0; i < 32; ++i) b.Literal(uint8_t(0x40 + i));
    b.End();
    const Bytes& block = b.Bytes();
    ASSERT_GE(block.size(), 40u);
    EXPECT_EQ(block[35], 0x40 + 31);           // the 32nd literal
    EXPECT_EQ(block[36 + 3] & 0xE0, 0x60);      // next word starts with the end code's 0 1 1
    EXPECT_EQ(DecodeExact(block, 32), Bytes(block.begin() + 4, block.begin() + 36));
}

// A code whose last selecting bit is bit 0 of a word: its byte follows directly, and
// the next word comes after that byte, read for the code's first extra bit.
TEST(BlockLayout, WordBoundaryAfterSelectingBits) {
    // 29 literals leave 3 bits: 0 0 1 select a long code with offset class 0 ...
    BlockBuilder b;
    Bytes lit = Literals(9, 29);
    for (uint8_t c : lit) b.Literal(c);
    ASSERT_EQ(b.UsedBits(), 29);
    b.Long(1, 3);
    b.End();
    const Bytes& block = b.Bytes();
    // word 0, 29 literal bytes, the offset byte 00, then word 1.
    EXPECT_EQ(block[4 + 29], 0x00);
    // word 1 begins with the offset's extra bit (0: distance 1), then length bit 1.
    EXPECT_EQ(block[4 + 29 + 1 + 3] >> 6, 0b01);
    Bytes expected = lit;
    for (int i = 0; i < 3; ++i) expected.push_back(lit.back());
    EXPECT_EQ(DecodeExact(block, expected.size()), expected);
}

// Random well-formed blocks: the bounded decoder's fast paths must produce exactly
// what the byte-at-a-time reading of the format produces.
TEST(BlockDecoder, FastPathsMatchLiteralReading) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        BlockBuilder b;
        size_t produced = 0;
        int codes = 1 + int(rng() % 400);
        for (int i = 0; i < codes; ++i) {
            uint32_t pick = rng() % 10;
            if (produced == 0 || pick < 4) {
                b.Literal(uint8_t(rng()));
                ++produced;
                continue;
            }
            uint32_t maxDistance = uint32_t(std::min<size_t>(produced, 8192));
            uint32_t distance;
            switch (rng() % 3) {
                case 0: distance = 1 + rng() % std::min<uint32_t>(maxDistance, 8); break;
                case 1: distance = 1 + rng() % std::min<uint32_t>(maxDistance, 40); break;
                default: distance = 1 + rng() % maxDistance; break;
            }
            if (pick < 6 && distance <= 2303) {
                b.Short(distance);
                produced += 2;
            } else {
                uint32_t length = 3 + (rng() % 4 == 0 ? rng() % 280 : rng() % 30);
                b.Long(distance, length);
                produced += length;
            }
        }
        b.End();
        Bytes reference(produced);
        wq2::Decompress(reference.data(), b.Bytes().data());
        DecodeStatus status;
        Bytes out = DecodeExact(b.Bytes(), produced, &status);
        ASSERT_EQ(status, DecodeStatus::Ok) << "round " << round;
        ASSERT_EQ(out, reference) << "round " << round;
    }
}

// A random well-formed block with long literal runs (across control words) and
// copies of every kind, and the bytes it stands for.
struct RandomBlock {
    Bytes block;
    Bytes expected;
};

RandomBlock MakeRandomBlock(std::mt19937& rng, int codes) {
    BlockBuilder b;
    size_t produced = 0;
    for (int i = 0; i < codes; ++i) {
        uint32_t pick = rng() % 10;
        if (produced == 0 || pick < 3) {
            size_t run = rng() % 4 == 0 ? 1 + rng() % 80 : 1 + rng() % 4;
            for (size_t j = 0; j < run; ++j) b.Literal(uint8_t(rng()));
            produced += run;
            continue;
        }
        uint32_t maxDistance = uint32_t(std::min<size_t>(produced, 8192));
        uint32_t distance;
        switch (rng() % 4) {
            case 0: distance = 1 + rng() % std::min<uint32_t>(maxDistance, 8); break;
            case 1: distance = 1 + rng() % std::min<uint32_t>(maxDistance, 20); break;
            case 2: distance = maxDistance; break;
            default: distance = 1 + rng() % maxDistance; break;
        }
        if (pick < 6 && distance <= 2303) {
            b.Short(distance);
            produced += 2;
        } else {
            uint32_t length = 3 + (rng() % 3 == 0 ? rng() % 280 : rng() % 40);
            b.Long(distance, length);
            produced += length;
        }
    }
    b.End();
    RandomBlock r{b.Bytes(), Bytes(produced)};
    wq2::Decompress(r.expected.data(), r.block.data());
    return r;
}

// Exact-size heap buffers on both sides, so that AddressSanitizer sees any read past
// the block or write past the output, also where the unchecked bulk of a block
// hands over to the checked decoding of its ends.
TEST(BlockDecoder, RandomBlocksInExactBuffers) {
    std::mt19937 rng(777);
    for (int round = 0; round < 200; ++round) {
        RandomBlock r = MakeRandomBlock(rng, 1 + int(rng() % 300));
        auto src = std::make_unique<uint8_t[]>(r.block.size());
        std::copy(r.block.begin(), r.block.end(), src.get());
        auto dst = std::make_unique<uint8_t[]>(r.expected.size());
        auto res = wq2::DecompressBounded(dst.get(), r.expected.size(), src.get(), r.block.size());
        ASSERT_EQ(res.status, DecodeStatus::Ok) << "round " << round;
        ASSERT_EQ(res.written, r.expected.size()) << "round " << round;
        ASSERT_EQ(res.consumed, r.block.size()) << "round " << round;
        ASSERT_TRUE(std::equal(r.expected.begin(), r.expected.end(), dst.get())) << "round " << round;
    }
}

// Blocks whose last codes expand the most (long copies after literal runs of every
// length and starting at every bit of a control word), decoded into an exact-size
// output, from an exact-size block or one with bytes after its end code: the
// decoder must stop writing whole chunks and reading ahead exactly where either
// buffer runs out, whatever the alignment of the tail.
TEST(BlockDecoder, ExpandingTailsInExactBuffers) {
    for (size_t lead = 0; lead < 32; ++lead) {
        for (size_t literals = 0; literals <= 40; ++literals) {
            for (int copies : {1, 3}) {
                for (uint32_t length : {255u, 282u}) {
                    for (uint32_t distance : {1u, 16u}) {
                        BlockBuilder b;
                        for (size_t i = 0; i < 100 + lead; ++i) b.Literal(uint8_t(i * 7 + 1));
                        b.Long(40, 282);
                        for (size_t i = 0; i < literals; ++i) b.Literal(uint8_t(i));
                        for (int i = 0; i < copies; ++i) b.Long(distance, length);
                        b.End();
                        const size_t size = 100 + lead + 282 + literals + copies * length;
                        Bytes reference(size);
                        wq2::Decompress(reference.data(), b.Bytes().data());
                        // Cut short anywhere in its last 48 bytes, the block is truncated.
                        if (copies == 3 && length == 282 && distance == 1) {
                            const Bytes& whole = b.Bytes();
                            for (size_t cut = 1; cut <= 48; ++cut) {
                                const size_t len = whole.size() - cut;
                                auto src = std::make_unique<uint8_t[]>(len);
                                std::copy(whole.begin(), whole.begin() + long(len), src.get());
                                auto dst = std::make_unique<uint8_t[]>(size);
                                auto r = wq2::DecompressBounded(dst.get(), size, src.get(), len);
                                ASSERT_EQ(r.status, DecodeStatus::TruncatedBlock)
                                    << lead << " " << literals << " " << cut;
                            }
                        }
                        for (size_t pad : {0, 64}) {
                            Bytes block = Concat(b.Bytes(), Repeat(0x5A, pad));
                            auto src = std::make_unique<uint8_t[]>(block.size());
                            std::copy(block.begin(), block.end(), src.get());
                            auto dst = std::make_unique<uint8_t[]>(size);
                            auto r = wq2::DecompressBounded(dst.get(), size, src.get(), block.size());
                            ASSERT_EQ(r.status, DecodeStatus::Ok) << lead << " " << literals << " "
                                                                  << copies << " " << length << " "
                                                                  << distance << " " << pad;
                            ASSERT_TRUE(std::equal(reference.begin(), reference.end(), dst.get()))
                                << lead << " " << literals << " " << copies << " " << length << " "
                                << distance << " " << pad;
                        }
                    }
                }
            }
        }
    }
}

// With far more room than the block fills, the end code is met in the bulk of the
// output: the block ends early, after all of its bytes and its exact output.
TEST(BlockDecoder, EndCodeWithRoomToSpare) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 100; ++round) {
        RandomBlock r = MakeRandomBlock(rng, 1 + int(rng() % 300));
        Bytes padded = Concat(r.block, Repeat(0xA5, 64));
        Bytes out(r.expected.size() + 1000);
        auto res = wq2::DecompressBounded(out.data(), out.size(), padded.data(), padded.size());
        ASSERT_EQ(res.status, DecodeStatus::EndedEarly) << "round " << round;
        ASSERT_EQ(res.written, r.expected.size()) << "round " << round;
        ASSERT_EQ(res.consumed, r.block.size()) << "round " << round;
        ASSERT_TRUE(std::equal(r.expected.begin(), r.expected.end(), out.begin())) << "round " << round;
    }
}

// Faults far from both ends of the buffers are found where they are met, with the
// output and block read up to that code.
struct BulkFault {
    const char* name;
    size_t literalsBefore;
    uint32_t distance;  // of the faulty code
    uint32_t length;    // 2: a two-byte code, else a long code
    DecodeStatus status;
};

std::ostream& operator<<(std::ostream& os, const BulkFault& f) { return os << f.name; }

class BulkFaultTest : public testing::TestWithParam<BulkFault> {};

TEST_P(BulkFaultTest, ReportsFaultWhereMet) {
    const BulkFault& f = GetParam();
    BlockBuilder b;
    for (size_t i = 0; i < f.literalsBefore; ++i) b.Literal(uint8_t(i * 31));
    if (f.length == 2) {
        b.Short(f.distance);
    } else {
        b.Long(f.distance, f.length);
    }
    const size_t consumedThroughFault = b.Bytes().size();
    for (int i = 0; i < 200; ++i) b.Literal(uint8_t(i));
    b.End();
    const Bytes& block = b.Bytes();
    const size_t room = f.literalsBefore + 5000;
    auto src = std::make_unique<uint8_t[]>(block.size());
    std::copy(block.begin(), block.end(), src.get());
    auto dst = std::make_unique<uint8_t[]>(room);
    auto r = wq2::DecompressBounded(dst.get(), room, src.get(), block.size());
    EXPECT_EQ(r.status, f.status) << wq2::DecodeStatusText(r.status);
    EXPECT_EQ(r.written, f.literalsBefore);
    EXPECT_EQ(r.consumed, consumedThroughFault);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BulkFaultTest,
    testing::Values(BulkFault{"short_one_too_far", 100, 101, 2, DecodeStatus::DistanceTooFar},
                    BulkFault{"short_widest_too_far", 300, 2303, 2, DecodeStatus::DistanceTooFar},
                    BulkFault{"long_one_too_far", 600, 601, 3, DecodeStatus::DistanceTooFar},
                    BulkFault{"long_farthest_with_length_byte", 1000, 8192, 282,
                              DecodeStatus::DistanceTooFar},
                    BulkFault{"long_class_boundary", 2000, 4097, 26, DecodeStatus::DistanceTooFar}),
    [](const auto& p) { return std::string(p.param.name); });

struct Malformed {
    const char* name;
    Bytes block;
    size_t expectedSize;
    DecodeStatus status;
};

std::ostream& operator<<(std::ostream& os, const Malformed& m) { return os << m.name; }

std::vector<Malformed> MalformedBlocks() {
    Bytes good = BlockBuilder().Literal('a').Literal('b').Long(2, 6).End().Bytes();
    return {
        {"empty", {}, 0, DecodeStatus::TruncatedBlock},
        {"short_first_word", {0x00, 0x00, 0x7C}, 0, DecodeStatus::TruncatedBlock},
        {"missing_literal_byte", {0x00, 0x00, 0x00, 0x80}, 1, DecodeStatus::TruncatedBlock},
        {"end_code_without_byte", {0x00, 0x00, 0x00, 0x7C}, 0, DecodeStatus::TruncatedBlock},
        {"truncated_block", Bytes(good.begin(), good.end() - 1), 8, DecodeStatus::TruncatedBlock},
        {"missing_second_word",
         [] {
             BlockBuilder b;
             for (int i = 0; i < 32; ++i) b.Literal('k');
             return b.Bytes();
         }(),
         33, DecodeStatus::TruncatedBlock},
        {"distance_before_start", BlockBuilder().Literal('a').Short(2).End().Bytes(), 3,
         DecodeStatus::DistanceTooFar},
        {"copy_from_empty_output", BlockBuilder().Long(1, 3).End().Bytes(), 3,
         DecodeStatus::DistanceTooFar},
        {"long_distance_before_start", BlockBuilder().Literal('a').Long(8192, 3).End().Bytes(), 4,
         DecodeStatus::DistanceTooFar},
        {"output_overflow_by_copy", good, 7, DecodeStatus::OutputOverflow},
        {"output_overflow_by_literal", good, 1, DecodeStatus::OutputOverflow},
        {"nothing_expected_but_data", good, 0, DecodeStatus::OutputOverflow},
        {"end_code_too_early", good, 9, DecodeStatus::EndedEarly},
        {"end_code_alone_when_data_expected", {0x00, 0x00, 0x00, 0x7C, 0xFF}, 1,
         DecodeStatus::EndedEarly},
    };
}

class MalformedBlockTest : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedBlockTest, ReportsFault) {
    const Malformed& m = GetParam();
    // Exact-size heap copies let AddressSanitizer catch any read or write outside.
    auto src = std::make_unique<uint8_t[]>(m.block.size());
    std::copy(m.block.begin(), m.block.end(), src.get());
    auto dst = std::make_unique<uint8_t[]>(m.expectedSize);
    auto r = wq2::DecompressBounded(dst.get(), m.expectedSize, src.get(), m.block.size());
    EXPECT_EQ(r.status, m.status) << wq2::DecodeStatusText(r.status);
    EXPECT_LE(r.written, m.expectedSize);
    EXPECT_LE(r.consumed, m.block.size());
}

INSTANTIATE_TEST_SUITE_P(Blocks, MalformedBlockTest, testing::ValuesIn(MalformedBlocks()),
                         [](const auto& p) { return std::string(p.param.name); });

// Every prefix of a valid block, decoded into buffers of every nearby size, must
// give a fault or the right bytes, and never touch memory outside either buffer.
TEST(BlockDecoder, EveryPrefixAndSizeIsSafe) {
    BlockBuilder b;
    for (int i = 0; i < 40; ++i) b.Literal(uint8_t(i * 13));
    for (int i = 0; i < 20; ++i) b.Long(7, 282);
    b.Short(300).Long(5000, 282).Short(1).Long(1, 27).End();
    const Bytes& block = b.Bytes();
    const size_t size = 40 + 20 * 282 + 2 + 282 + 2 + 27;
    Bytes reference(size);
    wq2::Decompress(reference.data(), block.data());
    for (size_t len = 0; len <= block.size(); ++len) {
        for (size_t cap : {size - 1, size, size + 1, size_t(0), size_t(41)}) {
            auto src = std::make_unique<uint8_t[]>(len);
            std::copy(block.begin(), block.begin() + long(len), src.get());
            auto dst = std::make_unique<uint8_t[]>(cap);
            auto r = wq2::DecompressBounded(dst.get(), cap, src.get(), len);
            bool ok = r.status == DecodeStatus::Ok;
            ASSERT_EQ(ok, len == block.size() && cap == size) << len << " " << cap;
            if (ok) {
                ASSERT_TRUE(std::equal(reference.begin(), reference.end(), dst.get()));
            }
        }
    }
}

}  // namespace
