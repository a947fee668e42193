#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "block_builder.h"
#include "block_encoder.h"
#include "payload_reader.h"
#include "payload_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using wq2::ArchiveStatus;

struct Record {
    std::string name;
    uint32_t flags = wq2::kEntryFlagStored;
    uint64_t time = 0;
    uint32_t unpacked = 0;
    uint32_t stored = 0;
};

Bytes RecordBytes(const Record& r) {
    Bytes b(wq2::kEntrySize, 0);
    std::memcpy(b.data(), r.name.data(), std::min<size_t>(r.name.size(), wq2::kEntryNameSize));
    wq2::StoreLe32(&b[wq2::kEntryFlags], r.flags);
    wq2::StoreLe32(&b[wq2::kEntryTimeLow], uint32_t(r.time));
    wq2::StoreLe32(&b[wq2::kEntryTimeHigh], uint32_t(r.time >> 32));
    wq2::StoreLe32(&b[wq2::kEntryUnpackedSize], r.unpacked);
    wq2::StoreLe32(&b[wq2::kEntryStoredSize], r.stored);
    return b;
}

// Lays out an image by hand: header, `data` bytes, then a plain directory of
// `records`. Header fields can be overridden to make broken images.
Bytes HandImage(const std::vector<Record>& records, size_t dataBytes, uint32_t flags = 0,
                const char* magic = "WQ2") {
    Bytes image(wq2::kHeaderSize + dataBytes, 0);
    for (size_t i = wq2::kHeaderSize; i < image.size(); ++i) image[i] = uint8_t(i * 31);
    std::memcpy(image.data(), magic, 4);
    wq2::StoreLe32(&image[wq2::kHeaderFlags], flags);
    wq2::StoreLe32(&image[wq2::kHeaderDirectoryOffset], uint32_t(image.size()));
    wq2::StoreLe32(&image[wq2::kHeaderEntryCount], uint32_t(records.size()));
    for (const Record& r : records) {
        Bytes b = RecordBytes(r);
        image.insert(image.end(), b.begin(), b.end());
    }
    return image;
}

// An opened archive: the block the updater would hold.
struct Opened {
    ArchiveStatus status;
    Bytes block;
};

Opened Open(const Bytes& image) {
    // An exact-size heap copy so AddressSanitizer sees every stray read.
    auto copy = std::make_unique<uint8_t[]>(image.size());
    if (!image.empty()) std::memcpy(copy.get(), image.data(), image.size());
    size_t size = 0;
    Opened o{wq2::MeasureArchive(copy.get(), image.size(), &size), {}};
    if (o.status != ArchiveStatus::Ok) return o;
    o.block.resize(size);
    o.status = wq2::LoadArchiveDirectory(copy.get(), image.size(), o.block.data(), size);
    return o;
}

Bytes Pack(const std::vector<std::pair<std::string, Bytes>>& files, bool compressDirectory,
           wq2::EntryStorage storage = wq2::EntryStorage::Auto) {
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    wq2::PayloadWriter w(out, {wq2::CompressionLevel::Fast, compressDirectory});
    std::string error;
    uint64_t time = 0x01D9123456789ABCull;
    for (const auto& [name, content] : files) {
        EXPECT_TRUE(w.AddEntry(name, time++, content.data(), content.size(), storage, &error))
            << error;
    }
    EXPECT_TRUE(w.Finish(&error)) << error;
    std::string s = out.str();
    return Bytes(s.begin(), s.end());
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class WrittenArchive : public testing::TestWithParam<bool> {};

TEST_P(WrittenArchive, RoundTripsEveryEntry) {
    Bytes big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t((i / 7) ^ (i % 13));
    std::vector<std::pair<std::string, Bytes>> files = {
        {"UPDATE.INI", Text("[SETUP]\r\nCompanyName=Maker\r\n")},
        {"empty.dat", {}},
        {"one.bin", {0x42}},
        {"big.bmp", big},
        {"\x95\x5C\x8E\xA6.txt", Text("shift-jis name")},
    };
    Bytes image = Pack(files, GetParam());
    EXPECT_EQ(0, std::memcmp(image.data(), "WQ2\0", 4));
    Opened o = Open(image);
    ASSERT_EQ(o.status, ArchiveStatus::Ok) << wq2::ArchiveStatusText(o.status);
    ASSERT_EQ(wq2::ArchiveEntryCount(o.block.data()), files.size());
    uint64_t time = 0x01D9123456789ABCull;
    for (const auto& [name, content] : files) {
        wq2::ArchiveEntryInfo e;
        ASSERT_TRUE(wq2::FindArchiveEntry(o.block.data(), name.c_str(), &e)) << name;
        EXPECT_EQ(e.time, time++);
        EXPECT_EQ(e.dataOffset % 16, 0u);
        Bytes out(e.unpackedSize);
        auto r = wq2::ReadArchiveEntryData(image.data(), image.size(), e, out.data());
        EXPECT_EQ(r.status, wq2::DecodeStatus::Ok) << name;
        EXPECT_EQ(out, content) << name;
    }
    wq2::ArchiveEntryInfo e;
    ASSERT_TRUE(wq2::FindArchiveEntry(o.block.data(), "big.bmp", &e));
    EXPECT_TRUE(e.IsCompressed());
    EXPECT_EQ(e.flags, wq2::kEntryFlagCompressed);
    ASSERT_TRUE(wq2::FindArchiveEntry(o.block.data(), "one.bin", &e));
    EXPECT_FALSE(e.IsCompressed()) << "an entry that would grow is stored";
    EXPECT_EQ(e.flags, wq2::kEntryFlagStored);
}

INSTANTIATE_TEST_SUITE_P(Directory, WrittenArchive, testing::Bool(),
                         [](const auto& p) { return p.param ? "compressed" : "plain"; });

TEST(ArchiveWriter, PadsEachEntryWithZerosAndPlacesDirectoryAfterThem) {
    Bytes image = Pack({{"a", {1, 2, 3}}, {"b", Bytes(17, 9)}}, false, wq2::EntryStorage::Stored);
    ASSERT_EQ(image.size(), 16 + 16 + 32 + 2 * wq2::kEntrySize);
    EXPECT_EQ(wq2::LoadLe32(&image[wq2::kHeaderDirectoryOffset]), 64u);
    EXPECT_EQ(Bytes(image.begin() + 19, image.begin() + 32), Bytes(13, 0));
    EXPECT_EQ(Bytes(image.begin() + 49, image.begin() + 64), Bytes(15, 0));
    // The record: name zero-filled, flags 1, time low then high.
    const uint8_t* r = &image[64];
    EXPECT_EQ(r[0], 'a');
    EXPECT_EQ(Bytes(r + 1, r + 260), Bytes(259, 0));
    EXPECT_EQ(wq2::LoadLe32(r + 260), 1u);
    EXPECT_EQ(wq2::LoadLe32(r + 264), 0x56789ABCu);
    EXPECT_EQ(wq2::LoadLe32(r + 268), 0x01D91234u);
}

TEST(ArchiveWriter, RefusesNamesTheFormatCannotHold) {
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    wq2::PayloadWriter w(out, {});
    std::string error;
    uint8_t byte = 0;
    for (const std::string& name : {std::string(), std::string(260, 'n'), std::string("a\0b", 3)}) {
        EXPECT_FALSE(w.AddEntry(name, 0, &byte, 1, wq2::EntryStorage::Auto, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(w.AddEntry(std::string(259, 'n'), 0, &byte, 1, wq2::EntryStorage::Auto, &error));
}

TEST(ArchiveLookup, WalksPaddedOffsetsAndMatchesLikeTheUpdater) {
    // Stored sizes 0, 1, 16 and 17 advance the data offset by 0, 16, 16 and 32.
    std::vector<Record> records = {
        {"zero", 1, 0, 0, 0},         {"one", 1, 0, 1, 1},  {"sixteen", 1, 0, 16, 16},
        {"seventeen", 1, 0, 17, 17},  {"last", 1, 0, 1, 1}, {"ZERO", 1, 5, 0, 0},
        {"\x83\x61.bin", 1, 0, 1, 1},
    };
    Bytes image = HandImage(records, 16 + 16 + 32 + 16 + 16);
    Opened o = Open(image);
    ASSERT_EQ(o.status, ArchiveStatus::Ok) << wq2::ArchiveStatusText(o.status);
    struct Case {
        const char* name;
        bool found;
        uint64_t offset;
        uint64_t time;
    } cases[] = {
        {"zero", true, 16, 0},      {"one", true, 16, 0},       {"sixteen", true, 32, 0},
        {"seventeen", true, 48, 0}, {"last", true, 80, 0},      {"LaSt", true, 80, 0},
        {"Zero", true, 16, 0},      // the first of two equal names wins
        {"\x83\x61.BIN", true, 96, 0},
        {"\x83\x41.bin", false, 0, 0},  // a trail byte is not a letter
        {"las", false, 0, 0},       {"lastt", false, 0, 0},     {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        wq2::ArchiveEntryInfo e{};
        EXPECT_EQ(wq2::FindArchiveEntry(o.block.data(), c.name, &e), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(e.dataOffset, c.offset) << c.name;
            EXPECT_EQ(e.time, c.time) << c.name;
        }
    }
}

TEST(ArchiveOpen, TakesPlainRecordsAsTheyAreAndIgnoresMagic) {
    Bytes image = HandImage({{"x.dat", 1, 7, 3, 3}}, 16, 0, "ZZZ");
    wq2::StoreLe32(&image[wq2::kHeaderFlags], 0xFFFFFFFEu);  // only bit 0 matters
    Opened o = Open(image);
    ASSERT_EQ(o.status, ArchiveStatus::Ok);
    EXPECT_EQ(Bytes(o.block.begin(), o.block.begin() + 16), Bytes(image.begin(), image.begin() + 16));
    EXPECT_EQ(Bytes(o.block.begin() + 16, o.block.end()), Bytes(image.begin() + 32, image.end()));
}

TEST(ArchiveOpen, EmptyDirectoryFindsNothing) {
    Opened o = Open(HandImage({}, 0));
    ASSERT_EQ(o.status, ArchiveStatus::Ok);
    wq2::ArchiveEntryInfo e;
    EXPECT_FALSE(wq2::FindArchiveEntry(o.block.data(), "UPDATE.INI", &e));
}

struct BrokenImage {
    const char* name;
    Bytes image;
    ArchiveStatus status;
};

std::ostream& operator<<(std::ostream& os, const BrokenImage& b) { return os << b.name; }

Bytes WithHeaderField(Bytes image, size_t field, uint32_t value) {
    wq2::StoreLe32(&image[field], value);
    return image;
}

std::vector<BrokenImage> BrokenImages() {
    Bytes good = HandImage({{"a.txt", 1, 0, 5, 5}}, 16);
    Bytes unterminated = good;
    std::memset(&unterminated[32], 'A', wq2::kEntryNameSize);
    Bytes compressed = Pack({{"a.txt", Text("hello hello hello hello")}}, true);
    uint32_t dirOffset = wq2::LoadLe32(&compressed[wq2::kHeaderDirectoryOffset]);
    Bytes cutDirectory(compressed.begin(), compressed.end() - 3);
    Bytes garbageDirectory = compressed;
    for (size_t i = dirOffset; i < garbageDirectory.size(); ++i) garbageDirectory[i] = 0;
    return {
        {"empty", {}, ArchiveStatus::ImageTooSmall},
        {"short_header", Bytes(good.begin(), good.begin() + 15), ArchiveStatus::ImageTooSmall},
        {"directory_past_end", WithHeaderField(good, wq2::kHeaderDirectoryOffset, 10000),
         ArchiveStatus::DirectoryOutsideImage},
        {"count_past_end", WithHeaderField(good, wq2::kHeaderEntryCount, 2),
         ArchiveStatus::CountTooLarge},
        {"huge_count", WithHeaderField(good, wq2::kHeaderEntryCount, 0xFFFFFFFFu),
         ArchiveStatus::CountTooLarge},
        {"huge_count_compressed",
         WithHeaderField(compressed, wq2::kHeaderEntryCount, 0x01000000u),
         ArchiveStatus::CountTooLarge},
        {"name_without_terminator", unterminated, ArchiveStatus::NameUnterminated},
        {"data_past_end", HandImage({{"a", 1, 0, 300, 300}}, 16),
         ArchiveStatus::EntryDataOutsideImage},
        {"data_offset_overflows", HandImage({{"a", 1, 0, 0xFFFFFFF0u, 0xFFFFFFF0u}, {"b", 1, 0, 1, 1}}, 16),
         ArchiveStatus::EntryDataOutsideImage},
        {"stored_sizes_differ", HandImage({{"a", 1, 0, 9, 5}}, 16), ArchiveStatus::EntrySizesInvalid},
        {"compressed_size_impossible", HandImage({{"a", 2, 0, 100000, 5}}, 16),
         ArchiveStatus::EntrySizesInvalid},
        {"compressed_directory_cut", cutDirectory, ArchiveStatus::DirectoryBroken},
        {"compressed_directory_garbage", garbageDirectory, ArchiveStatus::DirectoryBroken},
        {"compressed_directory_count_too_small",
         WithHeaderField(compressed, wq2::kHeaderEntryCount, 0), ArchiveStatus::DirectoryBroken},
    };
}

class BrokenArchive : public testing::TestWithParam<BrokenImage> {};

TEST_P(BrokenArchive, IsRefusedWithItsFault) {
    Opened o = Open(GetParam().image);
    EXPECT_EQ(o.status, GetParam().status) << wq2::ArchiveStatusText(o.status);
}

INSTANTIATE_TEST_SUITE_P(Images, BrokenArchive, testing::ValuesIn(BrokenImages()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ArchiveEntryData, CorruptCompressedEntryIsReportedNotTrusted) {
    Bytes content(5000);
    for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i % 251 * (i % 3));
    Bytes image = Pack({{"c.bin", content}}, false);
    Opened o = Open(image);
    ASSERT_EQ(o.status, ArchiveStatus::Ok);
    wq2::ArchiveEntryInfo e;
    ASSERT_TRUE(wq2::FindArchiveEntry(o.block.data(), "c.bin", &e));
    ASSERT_TRUE(e.IsCompressed());
    e.storedSize /= 2;  // as if the block were cut short
    Bytes out(e.unpackedSize);
    EXPECT_NE(wq2::ReadArchiveEntryData(image.data(), image.size(), e, out.data()).status,
              wq2::DecodeStatus::Ok);
}

}  // namespace
