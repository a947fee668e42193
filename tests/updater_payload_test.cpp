// The updater's payload operations over the Linux layer, inside a throw-away Wine
// prefix whose drive C: is a temporary folder. Error boxes are recorded, not shown.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_install.h"
#include "path_text.h"
#include "payload_archive.h"
#include "payload_reader.h"
#include "payload_writer.h"
#include "platform.h"
#include "startup.h"
#include "updater_state.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The boxes of the current test, recorded by the shared fixture.
std::vector<wq2test::RecordedBox>& boxes = wq2test::recordedBoxes;

Bytes Compressible(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t("patch data "[i % 11]);
    return b;
}

class UpdaterPayload : public wq2test::FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        Pack({{"UPDATE.INI", Compressible(300), false},
              {"stored.bin", {1, 2, 3, 4, 5}, true},
              {"big.dat", Compressible(50000), false},
              {"empty.txt", {}, true},
              {"Stored.BIN", {9, 9}, true}});
    }

    struct File {
        std::string name;
        Bytes content;
        bool stored;
    };

    void Pack(const std::vector<File>& files) {
        std::vector<wq2test::PayloadFile> payload;
        for (const File& f : files) payload.push_back({f.name, std::string(f.content.begin(), f.content.end()), f.stored});
        UsePayload(payload);
    }

    static Bytes Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    static uint64_t AsFileTime(const timespec& t) {
        return uint64_t(t.tv_sec) * 10000000u + uint64_t(t.tv_nsec) / 100 + 116444736000000000ull;
    }

    static uint64_t LastWrite(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(stat(p.c_str(), &st), 0);
        return AsFileTime(st.st_mtim);
    }

    static uint64_t LastAccess(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(stat(p.c_str(), &st), 0);
        return AsFileTime(st.st_atim);
    }

};

TEST_F(UpdaterPayload, WritesEntriesWithTheirTimeAndContent) {
    struct Case {
        const char* entry;
        const char* target;
        Bytes content;
    } cases[] = {
        {"stored.bin", "C:\\stored.bin", {1, 2, 3, 4, 5}},
        {"BIG.DAT", "C:\\big.dat", Compressible(50000)},  // name differs only in case
        {"empty.txt", "c:/empty.txt", {}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ExtractEntryToFile(c.entry, c.target, 0), 1) << c.entry;
        fs::path written = C(std::string(c.target + 3));
        // Linux keeps no creation time; the two times it keeps are the entry's.
        // (Checked before reading the file, which may move its access time.)
        EXPECT_EQ(LastWrite(written), kEntryTime) << c.entry;
        EXPECT_EQ(LastAccess(written), kEntryTime) << c.entry;
        EXPECT_EQ(Read(written), c.content) << c.entry;
    }
    EXPECT_TRUE(boxes.empty());
    // No temporary file is left beside the targets.
    for (const auto& e : fs::directory_iterator(root_ / "c")) {
        EXPECT_EQ(e.path().filename().string().find("~upd"), std::string::npos) << e.path();
    }
}

TEST_F(UpdaterPayload, FirstOfTwoEqualNamesIsUsed) {
    ASSERT_EQ(ExtractEntryToFile("STORED.bin", "C:\\s.bin", 0), 1);
    EXPECT_EQ(Read(C("s.bin")), (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(UpdaterPayload, MissingEntryShowsItsBoxTitledWithTheCaption) {
    EXPECT_EQ(ExtractEntryToFile("nothing.bin", "C:\\n.bin", 0), 0);
    uint32_t size = 7;
    EXPECT_EQ(ExtractEntryToMemory("nothing.bin", &size), nullptr);
    ASSERT_EQ(boxes.size(), 2u);
    for (const wq2test::RecordedBox& b : boxes) {
        EXPECT_EQ(b.text, "Can't Find File in Resource !!");
        EXPECT_EQ(b.caption, "UPDATE");
        EXPECT_EQ(b.type, UINT(MB_ICONERROR));
    }
    EXPECT_FALSE(fs::exists(C("n.bin")));
}

TEST_F(UpdaterPayload, MemoryExtractionGivesAnOwnedCopy) {
    for (const char* name : {"stored.bin", "big.dat", "empty.txt"}) {
        uint32_t size = 12345;
        uint8_t* content = ExtractEntryToMemory(name, &size);
        ASSERT_NE(content, nullptr) << name;
        Bytes expected = std::string(name) == "stored.bin" ? Bytes{1, 2, 3, 4, 5}
                         : std::string(name) == "big.dat"  ? Compressible(50000)
                                                           : Bytes{};
        EXPECT_EQ(Bytes(content, content + size), expected) << name;
        EXPECT_TRUE(content < image_.data() || content >= image_.data() + image_.size());
        GlobalFree(content);
    }
}

TEST_F(UpdaterPayload, ReadOnlyTargetIsReplacedAndLeftNormal) {
    std::ofstream(C("ro.bin")) << "old";
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.bin", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(GetFileAttributesA("C:\\ro.bin") & FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(ExtractEntryToFile("stored.bin", "C:\\ro.bin", 0), 1);
    EXPECT_EQ(Read(C("ro.bin")), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(GetFileAttributesA("C:\\ro.bin") & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(UpdaterPayload, FolderInTheWayGivesFailureWithoutABox) {
    fs::create_directory(C("dir.bin"));
    EXPECT_EQ(ExtractEntryToFile("stored.bin", "C:\\dir.bin", 0), 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(fs::is_directory(C("dir.bin")));
}

TEST_F(UpdaterPayload, NewerOnlyLeavesALaterFileAlone) {
    struct Case {
        const char* name;
        int64_t offset;  // target's time minus the entry's, in FILETIME units
        bool replaced;
    } cases[] = {{"later", 10000000, false}, {"equal", 0, true}, {"earlier", -10000000, true}};
    for (const Case& c : cases) {
        std::string target = std::string("C:\\") + c.name;
        std::ofstream(C(c.name)) << "keep";
        HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        uint64_t t = kEntryTime + uint64_t(c.offset);
        FILETIME ft{DWORD(t), DWORD(t >> 32)};
        ASSERT_TRUE(SetFileTime(h, &ft, &ft, &ft));
        CloseHandle(h);
        ASSERT_EQ(ExtractEntryToFile("stored.bin", target.c_str(), 1), 1) << c.name;
        EXPECT_EQ(Read(C(c.name)) == (Bytes{1, 2, 3, 4, 5}), c.replaced) << c.name;
    }
    ASSERT_EQ(ExtractEntryToFile("stored.bin", "C:\\missing", 1), 1);
    EXPECT_TRUE(fs::exists(C("missing")));
}

TEST_F(UpdaterPayload, DamagedEntryIsReportedNotWritten) {
    // Cut the compressed entry's block: the archive still opens (the directory is
    // whole), but decoding the entry fails.
    wq2::ArchiveEntryInfo e;
    ASSERT_TRUE(wq2::FindArchiveEntry(Updater.PayloadArchive, "big.dat", &e));
    ASSERT_TRUE(e.IsCompressed());
    for (uint32_t i = 0; i < e.storedSize; ++i) image_[e.dataOffset + i] = 0xFF;
    std::ofstream(C("big.dat")) << "old";
    EXPECT_EQ(ExtractEntryToFile("big.dat", "C:\\big.dat", 0), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "RESOURCE READ ERROR");
    EXPECT_EQ(Read(C("big.dat")), (Bytes{'o', 'l', 'd'}));
}

TEST_F(UpdaterPayload, FailedWriteKeepsTheOldTarget) {
    // The target's folder does not exist: nothing can be created there.
    EXPECT_EQ(WriteWholeFile("C:\\no\\such\\folder\\x.bin", "abc", 3, nullptr), 0);
    // A folder holding the target's name cannot be replaced by a file.
    fs::create_directory(C("taken"));
    std::ofstream(C("taken") / "inside") << "keep";
    EXPECT_EQ(WriteWholeFile("C:\\taken", "abc", 3, nullptr), 0);
    EXPECT_EQ(Read(C("taken") / "inside"), (Bytes{'k', 'e', 'e', 'p'}));
    for (const auto& e : fs::directory_iterator(root_ / "c")) {
        EXPECT_EQ(e.path().filename().string().find("~upd"), std::string::npos) << e.path();
    }
}

TEST_F(UpdaterPayload, DiskFreeSpaceAnswersForADrive) {
    uint64_t available = 0, total = 0, totalFree = 0;
    ASSERT_NE(DiskFreeSpace("C:", &available, &total, &totalFree), 0);
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, total);
    uint64_t untouched = 42;
    EXPECT_EQ(DiskFreeSpace("Q:", &untouched, nullptr, nullptr), 0);
    EXPECT_EQ(untouched, 42u);
}

// Drive D: on a small file system of its own, so free space and a full disk are
// real. Needs root (as the test command runs); skipped elsewhere.
class SmallDrive : public UpdaterPayload {
protected:
    static constexpr size_t kDriveBytes = 64 * 1024;

    void SetUp() override {
        UpdaterPayload::SetUp();
        fs::create_directory(root_ / "d");
        std::string options = "size=" + std::to_string(kDriveBytes);
        if (mount("tmpfs", (root_ / "d").c_str(), "tmpfs", 0, options.c_str()) != 0) {
            GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        }
        mounted_ = true;
        fs::create_directory_symlink(root_ / "d", root_ / "prefix" / "dosdevices" / "d:");
    }

    void TearDown() override {
        if (mounted_) umount((root_ / "d").c_str());
        UpdaterPayload::TearDown();
    }

    bool mounted_ = false;
};

TEST_F(SmallDrive, FreeSpaceEqualToTheContentPassesOneByteMoreFails) {
    Pack({{"UPDATE.INI", {1}, true},
          {"fits.bin", Bytes(kDriveBytes, 7), true},
          {"over.bin", Bytes(kDriveBytes + 1, 7), true}});
    EXPECT_EQ(ExtractEntryToFile("over.bin", "D:\\over.bin", 0), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "ディスク容量が足りません。D: ドライブに 1 バイトの空き容量が必要です");
    EXPECT_EQ(boxes[0].caption, "UPDATE");
    EXPECT_FALSE(fs::exists(root_ / "d" / "over.bin"));
    boxes.clear();
    EXPECT_EQ(ExtractEntryToFile("fits.bin", "D:\\fits.bin", 0), 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(fs::file_size(root_ / "d" / "fits.bin"), kDriveBytes);
}

TEST_F(SmallDrive, WriteThatFillsTheDiskKeepsTheOldFileAndLeavesNoTemporary) {
    Bytes old(20000, 'o');
    std::ofstream(root_ / "d" / "game.dat", std::ios::binary).write(reinterpret_cast<const char*>(old.data()), long(old.size()));
    // Room for the old file, but not for it and a 50 KB new one side by side.
    Bytes fresh(50000, 'n');
    EXPECT_EQ(WriteWholeFile("D:\\game.dat", fresh.data(), uint32_t(fresh.size()), nullptr), 0);
    EXPECT_EQ(Read(root_ / "d" / "game.dat"), old);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_ / "d")) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"game.dat"});
}

TEST(AppendPathComponent, JoinsLikeTheUpdater) {
    struct Case {
        const char* path;
        const char* component;
        const char* joined;
    } cases[] = {
        {"C:\\Game", "a.bin", "C:\\Game\\a.bin"},
        {"C:\\Game\\", "a.bin", "C:\\Game\\a.bin"},
        {"C:/Game/", "a.bin", "C:/Game/a.bin"},
        {"", "a.bin", "a.bin"},
        {"C:\\Game", "", "C:\\Game\\"},
        {"C:\\\x95\x5C", "a.bin", "C:\\\x95\x5C\\a.bin"},  // trail byte 0x5C is no separator
        {"C:\\\x95\x5C\\", "a.bin", "C:\\\x95\x5C\\a.bin"},
    };
    for (const Case& c : cases) {
        char buffer[64] = {};
        std::memset(buffer, 'x', sizeof buffer);
        std::strcpy(buffer, c.path);
        ASSERT_EQ(AppendPathComponent(buffer, sizeof buffer, c.component), 1) << c.path;
        EXPECT_STREQ(buffer, c.joined);
        EXPECT_EQ(buffer[std::strlen(c.joined) + 1], '\0') << "second NUL";
    }
    char small[12] = "C:\\Game";
    EXPECT_EQ(AppendPathComponent(small, sizeof small, "ab"), 1);  // 10 + 2 NULs = 12
    char tooSmall[12] = "C:\\Game";
    EXPECT_EQ(AppendPathComponent(tooSmall, sizeof tooSmall, "abc"), 0);
    EXPECT_STREQ(tooSmall, "C:\\Game");
}

}  // namespace
