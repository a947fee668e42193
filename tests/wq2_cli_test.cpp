// The wq2 tool, run in-process through RunWq2 on files in a scratch folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "native_names.h"
#include "payload_reader.h"
#include "payload_writer.h"
#include "wq2_commands.h"
#include "wq2_run.h"

namespace {

namespace fs = std::filesystem;

using wq2test::RunResult;

struct Entry {
    std::string name;
    bool compressed;
    uint64_t time;
    uint32_t unpackedSize;
    uint32_t storedSize;
    uint64_t dataOffset;
    std::string data;
};

// An entry for an archive built directly with the writer, bypassing the tool.
struct CraftedEntry {
    std::string name;
    uint64_t time;
    std::string data;
    wq2::EntryStorage storage = wq2::EntryStorage::Stored;
};

// FILETIME of a Unix time, straight from its definition: 100 ns ticks since 1601.
constexpr uint64_t FileTimeOf(int64_t unixSeconds, long nanoseconds) {
    return uint64_t(unixSeconds + 11644473600) * 10000000 + uint64_t(nanoseconds) / 100;
}

std::string Compressible(size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "line " + std::to_string(line % 37) + ": the quick brown fox jumps over it\r\n";
    }
    text.resize(size);
    return text;
}

using wq2test::Noise;
using wq2test::ReadFile;

std::set<std::string> FolderContents(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& child : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(child.path(), folder).string());
    }
    return names;
}

class Wq2CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        name = "wq2_cli_test_" + std::to_string(getpid()) + "_" + name;
        root_ = fs::temp_directory_path() / name;
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Path(const std::string& relative) const { return root_ / relative; }

    RunResult Run(const std::vector<std::string>& args) { return wq2test::RunTool(args); }

    fs::path WriteFile(const std::string& relative, const std::string& bytes) {
        const fs::path path = Path(relative);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static void SetMtime(const fs::path& path, int64_t seconds, long nanoseconds) {
        timespec times[2] = {{time_t(seconds), nanoseconds}, {time_t(seconds), nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    }

    static timespec Mtime(const fs::path& path) {
        struct stat status {};
        EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
        return status.st_mtim;
    }

    // Reads an archive with the updater's reader, independently of the tool.
    static std::vector<Entry> ReadEntries(const fs::path& path) {
        const std::string bytes = ReadFile(path);
        const auto* image = reinterpret_cast<const uint8_t*>(bytes.data());
        size_t blockSize = 0;
        if (wq2::MeasureArchive(image, bytes.size(), &blockSize) != wq2::ArchiveStatus::Ok) {
            ADD_FAILURE() << "unreadable archive " << path;
            return {};
        }
        std::vector<uint8_t> block(blockSize);
        if (wq2::LoadArchiveDirectory(image, bytes.size(), block.data(), blockSize) !=
            wq2::ArchiveStatus::Ok) {
            ADD_FAILURE() << "broken directory in " << path;
            return {};
        }
        std::vector<Entry> entries;
        uint64_t offset = wq2::kHeaderSize;
        for (uint32_t i = 0; i < wq2::ArchiveEntryCount(block.data()); ++i) {
            const wq2::ArchiveEntryInfo info = wq2::ReadArchiveEntry(block.data(), i, &offset);
            std::string data(info.unpackedSize + 1, '\0');
            const wq2::DecodeResult result = wq2::ReadArchiveEntryData(
                image, bytes.size(), info, reinterpret_cast<uint8_t*>(data.data()));
            EXPECT_EQ(result.status, wq2::DecodeStatus::Ok) << info.name;
            data.resize(info.unpackedSize);
            entries.push_back({info.name, info.IsCompressed(), info.time, info.unpackedSize,
                               info.storedSize, info.dataOffset, data});
        }
        return entries;
    }

    static const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& name) {
        for (const Entry& entry : entries) {
            if (entry.name == name) return &entry;
        }
        return nullptr;
    }

    fs::path Craft(const std::string& relative, const std::vector<CraftedEntry>& entries) {
        const fs::path path = Path(relative);
        std::ofstream out(path, std::ios::binary);
        wq2::PayloadWriter writer(out, {});
        std::string error;
        for (const CraftedEntry& entry : entries) {
            EXPECT_TRUE(writer.AddEntry(entry.name, entry.time,
                                        reinterpret_cast<const uint8_t*>(entry.data.data()),
                                        entry.data.size(), entry.storage, &error))
                << entry.name << ": " << error;
        }
        EXPECT_TRUE(writer.Finish(&error)) << error;
        return path;
    }

    fs::path root_;
};

// --- Round trip --------------------------------------------------------------------

struct SourceFile {
    std::string path;  // below the "in" folder
    std::string data;
    int64_t seconds;
    long nanoseconds;  // a multiple of 100, so that FILETIME holds it exactly
    bool compressed;   // how the entry is expected to be kept
};

const std::vector<SourceFile>& SourceFiles() {
    static const std::vector<SourceFile> kFiles = {
        {"empty.dat", "", 0, 0, false},
        {"image.png", Compressible(3000), 951868799, 100, false},  // known format: stored
        {"noise.bin", Noise(5000, 1), 1709296496, 789000000, false},  // would not shrink
        {"sub/deeper/readme.md", Compressible(700), -86400, 500, true},  // before 1970
        {"text.txt", Compressible(20000), 4107542400, 999999900, true},
    };
    return kFiles;
}

struct RoundTripCase {
    const char* level;
    bool plainDirectory;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.level << (c.plainDirectory ? " --plain-directory" : "");
}

class Wq2RoundTripTest : public Wq2CliTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(Wq2RoundTripTest, PackListVerifyExtractKeepBytesAndTimes) {
    for (const SourceFile& file : SourceFiles()) {
        SetMtime(WriteFile("in/" + file.path, file.data), file.seconds, file.nanoseconds);
    }
    std::vector<std::string> pack = {"pack", "-o", Path("out.wq2"), "-l", GetParam().level,
                                     Path("in")};
    if (GetParam().plainDirectory) pack.push_back("--plain-directory");
    const RunResult packed = Run(pack);
    ASSERT_EQ(packed.code, 0) << packed.err;
    EXPECT_EQ(packed.err, "");  // no progress line for a quick job on a non-terminal

    const std::string archive = ReadFile(Path("out.wq2"));
    ASSERT_GE(archive.size(), 16u);
    EXPECT_EQ(archive[4] & 1, GetParam().plainDirectory ? 0 : 1);
    const std::vector<Entry> entries = ReadEntries(Path("out.wq2"));
    ASSERT_EQ(entries.size(), SourceFiles().size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const SourceFile& file = SourceFiles()[i];  // walked in sorted order
        SCOPED_TRACE(file.path);
        EXPECT_EQ(entries[i].name, fs::path(file.path).filename().string());
        EXPECT_EQ(entries[i].data, file.data);
        EXPECT_EQ(entries[i].time, FileTimeOf(file.seconds, file.nanoseconds));
        EXPECT_EQ(entries[i].compressed, file.compressed);
    }

    const RunResult listed = Run({"list", Path("out.wq2")});
    ASSERT_EQ(listed.code, 0) << listed.err;
    for (const Entry& entry : entries) {
        const std::string kind = entry.compressed ? "\tcompressed\t" : "\tstored\t";
        EXPECT_NE(listed.out.find(entry.name + kind), std::string::npos) << listed.out;
    }
    const RunResult verified = Run({"verify", Path("out.wq2")});
    EXPECT_EQ(verified.code, 0) << verified.err;
    EXPECT_NE(verified.out.find("OK"), std::string::npos) << verified.out;

    const RunResult extracted = Run({"extract", Path("out.wq2"), "-C", Path("back")});
    ASSERT_EQ(extracted.code, 0) << extracted.err;
    EXPECT_EQ(FolderContents(Path("back")).size(), SourceFiles().size());
    for (const SourceFile& file : SourceFiles()) {
        const fs::path back = Path("back") / fs::path(file.path).filename();
        SCOPED_TRACE(file.path);
        EXPECT_EQ(ReadFile(back), file.data);
        const timespec time = Mtime(back);
        EXPECT_EQ(time.tv_sec, file.seconds);
        EXPECT_EQ(time.tv_nsec, file.nanoseconds);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Wq2RoundTripTest,
                         ::testing::Values(RoundTripCase{"fast", false},
                                           RoundTripCase{"default", false},
                                           RoundTripCase{"max", false},
                                           RoundTripCase{"default", true}),
                         [](const auto& testInfo) {
                             return std::string(testInfo.param.level) +
                                    (testInfo.param.plainDirectory ? "_PlainDirectory" : "");
                         });

TEST_F(Wq2CliTest, SameTreeGivesSameArchiveInSortedOrderWithoutTheArchiveItself) {
    for (const char* name : {"data/z.txt", "data/a.txt", "data/m/inner.txt", "data/B.txt"}) {
        SetMtime(WriteFile(name, Compressible(500)), 1700000000, 0);
    }
    // The archive lands inside the packed folder: packing again must not take it in.
    ASSERT_EQ(Run({"pack", "-o", Path("data/out.wq2"), Path("data")}).code, 0);
    const std::string first = ReadFile(Path("data/out.wq2"));
    const RunResult again = Run({"pack", "-o", Path("data/out.wq2"), Path("data")});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(ReadFile(Path("data/out.wq2")), first);

    std::vector<std::string> names;
    for (const Entry& entry : ReadEntries(Path("data/out.wq2"))) names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::string>{"B.txt", "a.txt", "inner.txt", "z.txt"}));
    EXPECT_FALSE(fs::exists(Path("data/out.wq2.partial")));
}

// --- Listing -----------------------------------------------------------------------

TEST_F(Wq2CliTest, ListShowsUtcTimesSizesAndTotal) {
    struct TimeCase {
        uint64_t fileTime;
        const char* text;
    };
    const TimeCase kTimes[] = {
        {0, "1601-01-01T00:00:00Z"},
        {116444736000000000, "1970-01-01T00:00:00Z"},
        {116444735999999999, "1969-12-31T23:59:59.9999999Z"},
        {125963423990000000, "2000-02-29T23:59:59Z"},   // leap day of a 400-year
        {157520160000000000, "2100-03-01T00:00:00Z"},   // 2100 has no leap day
        {133537700967890000, "2024-03-01T12:34:56.789Z"},
    };
    std::vector<CraftedEntry> entries;
    for (size_t i = 0; i < std::size(kTimes); ++i) {
        entries.push_back({std::string(1, 't').append(std::to_string(i)), kTimes[i].fileTime, "hello"});
    }
    const RunResult listed = Run({"list", Craft("times.wq2", entries)});
    ASSERT_EQ(listed.code, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::string line;
    for (size_t i = 0; i < std::size(kTimes); ++i) {
        ASSERT_TRUE(std::getline(lines, line));
        // Built without operator+ on strings: GCC 12 at -O3 warns falsely about those.
        std::ostringstream expected;
        expected << 't' << i << "\tstored\t" << kTimes[i].text << "\t5\t5";
        EXPECT_EQ(line, expected.str());
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_NE(line.find("6 entries"), std::string::npos) << line;
    EXPECT_NE(line.find("(100.0%)"), std::string::npos) << line;
}

// --- Names -------------------------------------------------------------------------

TEST_F(Wq2CliTest, ShiftJisNamesRoundTripAndTrailBytesAreNotCaseFolded) {
    // ア and ヂ are 83 41 and 83 61 in code page 932: their trail bytes look like "A"
    // and "a", yet they are different characters and both may be packed.
    WriteFile("in/表示.txt", "display");
    WriteFile("in/ア.txt", "a");
    WriteFile("in/ヂ.txt", "di");
    const RunResult packed = Run({"pack", "-o", Path("out.wq2"), Path("in")});
    ASSERT_EQ(packed.code, 0) << packed.err;

    const std::vector<Entry> entries = ReadEntries(Path("out.wq2"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "\x83\x41.txt");
    EXPECT_EQ(entries[1].name, "\x83\x61.txt");
    EXPECT_EQ(entries[2].name, "\x95\x5C\x8E\xA6.txt");  // 表 ends in 0x5C, the code of "\"

    const RunResult listed = Run({"list", Path("out.wq2")});
    EXPECT_NE(listed.out.find("表示.txt\t"), std::string::npos) << listed.out;

    ASSERT_EQ(Run({"extract", Path("out.wq2"), "-C", Path("all")}).code, 0);
    EXPECT_EQ(FolderContents(Path("all")), (std::set<std::string>{"表示.txt", "ア.txt", "ヂ.txt"}));
    EXPECT_EQ(ReadFile(Path("all/表示.txt")), "display");

    const RunResult one = Run({"extract", Path("out.wq2"), "-C", Path("one"), "表示.TXT"});
    ASSERT_EQ(one.code, 0) << one.err;
    EXPECT_EQ(FolderContents(Path("one")), (std::set<std::string>{"表示.txt"}));
}

// --- Stored or compressed ----------------------------------------------------------

TEST_F(Wq2CliTest, KnownFormatsStoreGlobsAndIncompressibleDataAreStored) {
    struct StorageCase {
        const char* name;
        bool compressed;
    };
    const StorageCase kCases[] = {
        {"a.png", false},        {"B.JPG", false},      {"c.Ogg", false},
        {"d.mp3", false},        {"e.zip", false},      {"notes.dat", false},  // *.DAT
        {"keep1.txt", false},    {"keep12.txt", true},  // keep?.txt
        {"x.log", false},        {"z.log", true},       // [xy]*.log
        {"表示.cfg", false},     {"表示です.cfg", true},  // 表?.cfg: "?" is one character
        {"png", true},           {"plain.txt", true},
    };
    for (const StorageCase& c : kCases) WriteFile(std::string("in/") + c.name, Compressible(4000));
    WriteFile("in/noise.bin", Noise(4000, 2));
    const RunResult packed = Run({"pack", "-o", Path("out.wq2"), "--store", "*.DAT", "--store",
                                  "keep?.txt", "--store=[xy]*.log", "--store", "表?.cfg", Path("in")});
    ASSERT_EQ(packed.code, 0) << packed.err;

    const std::vector<Entry> entries = ReadEntries(Path("out.wq2"));
    for (const StorageCase& c : kCases) {
        std::string entryName;
        ASSERT_TRUE(wq2::EntryNameFromFileName(fs::path(c.name), &entryName));
        const Entry* entry = FindEntry(entries, entryName);
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_EQ(entry->compressed, c.compressed) << c.name;
        if (!entry->compressed) {
            EXPECT_EQ(entry->storedSize, entry->unpackedSize) << c.name;
        }
    }
    const Entry* noise = FindEntry(entries, "noise.bin");
    ASSERT_NE(noise, nullptr);
    EXPECT_FALSE(noise->compressed);
}

// --- Faults in archives --------------------------------------------------------------

TEST_F(Wq2CliTest, VerifyAndExtractNameTheCorruptEntry) {
    WriteFile("in/good.txt", Compressible(6000));
    WriteFile("in/bad.txt", Compressible(8000));
    ASSERT_EQ(Run({"pack", "-o", Path("out.wq2"), Path("in")}).code, 0);
    const std::vector<Entry> entries = ReadEntries(Path("out.wq2"));
    const Entry* bad = FindEntry(entries, "bad.txt");
    ASSERT_NE(bad, nullptr);
    ASSERT_TRUE(bad->compressed);

    // A first control word of zeros opens with a long code reaching at least 4097
    // bytes back into an output that is still empty.
    std::string archive = ReadFile(Path("out.wq2"));
    archive.replace(bad->dataOffset, 4, 4, '\0');
    std::ofstream(Path("out.wq2"), std::ios::binary | std::ios::trunc) << archive;

    const RunResult verified = Run({"verify", Path("out.wq2")});
    EXPECT_EQ(verified.code, 1);
    EXPECT_NE(verified.err.find("'bad.txt'"), std::string::npos) << verified.err;
    EXPECT_EQ(verified.err.find("good.txt"), std::string::npos) << verified.err;

    const RunResult extracted = Run({"extract", Path("out.wq2"), "-C", Path("back")});
    EXPECT_EQ(extracted.code, 1);
    EXPECT_NE(extracted.err.find("'bad.txt'"), std::string::npos) << extracted.err;
    EXPECT_EQ(FolderContents(Path("back")), (std::set<std::string>{"good.txt"}));
}

TEST_F(Wq2CliTest, VerifyReportsAnEntryHiddenBySameNameBeforeIt) {
    const fs::path archive = Craft("twins.wq2", {{"Same.txt", 0, "one"}, {"same.TXT", 0, "two"}});
    const RunResult verified = Run({"verify", archive});
    EXPECT_EQ(verified.code, 1);
    EXPECT_NE(verified.err.find("'same.TXT'"), std::string::npos) << verified.err;
    EXPECT_NE(verified.err.find("'Same.txt'"), std::string::npos) << verified.err;
}

struct BrokenArchiveCase {
    const char* label;
    std::string (*bytes)(const std::string& valid);
};

void PrintTo(const BrokenArchiveCase& c, std::ostream* os) { *os << c.label; }

class Wq2BrokenArchiveTest : public Wq2CliTest,
                             public ::testing::WithParamInterface<BrokenArchiveCase> {};

TEST_P(Wq2BrokenArchiveTest, EveryReadingCommandFailsWithAMessage) {
    WriteFile("in/a.txt", Compressible(3000));
    WriteFile("in/b.bin", Noise(3000, 3));
    ASSERT_EQ(Run({"pack", "-o", Path("valid.wq2"), Path("in")}).code, 0);
    WriteFile("broken.wq2", GetParam().bytes(ReadFile(Path("valid.wq2"))));
    for (const char* command : {"list", "verify", "extract"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, Path("broken.wq2")};
        if (std::string(command) == "extract") args.insert(args.end(), {"-C", Path("out")});
        const RunResult result = Run(args);
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err.rfind("wq2: ", 0), 0u) << result.err;
    }
    EXPECT_FALSE(fs::exists(Path("out")) && !fs::is_empty(Path("out")));
}

std::string Header(uint32_t flags, uint32_t directoryOffset, uint32_t count) {
    uint8_t header[16] = {'W', 'Q', '2', 0};
    wq2::StoreLe32(header + 4, flags);
    wq2::StoreLe32(header + 8, directoryOffset);
    wq2::StoreLe32(header + 12, count);
    return std::string(reinterpret_cast<char*>(header), sizeof header);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Wq2BrokenArchiveTest,
    ::testing::Values(
        BrokenArchiveCase{"Empty", [](const std::string&) { return std::string(); }},
        BrokenArchiveCase{"ShorterThanHeader", [](const std::string& v) { return v.substr(0, 9); }},
        BrokenArchiveCase{"Garbage", [](const std::string&) { return Noise(4096, 4); }},
        BrokenArchiveCase{"TruncatedDirectory",
                          [](const std::string& v) { return v.substr(0, v.size() - 7); }},
        BrokenArchiveCase{"CutInHalf",
                          [](const std::string& v) { return v.substr(0, v.size() / 2); }},
        BrokenArchiveCase{"HugeEntryCount",
                          [](const std::string&) {
                              return Header(0, 16, 0xFFFFFFFF) + std::string(280, 'x');
                          }}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

TEST_F(Wq2CliTest, MissingArchiveIsBadData) {
    const RunResult result = Run({"list", Path("nothing.wq2")});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("nothing.wq2"), std::string::npos) << result.err;
}

// --- Extracting --------------------------------------------------------------------

TEST_F(Wq2CliTest, ExtractRefusesNamesThatArePathsAndWritesNothingOutside) {
    const std::vector<std::string> refused = {"..\\evil", "a/b", "..", ".", "C:evil",
                                              "sub\\x", "../up", " . ", "\x81/x"};
    std::vector<CraftedEntry> entries = {{"ok.txt", 0, "ok"}, {"\x95\x5C.txt", 0, "table"}};
    for (const std::string& name : refused) entries.push_back({name, 0, "evil"});
    const fs::path archive = Craft("evil.wq2", entries);
    fs::create_directories(Path("deep/dest"));

    const RunResult result = Run({"extract", archive, "-C", Path("deep/dest")});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(FolderContents(Path("deep/dest")), (std::set<std::string>{"ok.txt", "表.txt"}));
    EXPECT_EQ(FolderContents(root_), (std::set<std::string>{"evil.wq2", "deep", "deep/dest",
                                                            "deep/dest/ok.txt", "deep/dest/表.txt"}));
    for (const char* shown : {"'..\\evil'", "'a/b'", "'..'", "'.'", "'C:evil'", "'../up'"}) {
        EXPECT_NE(result.err.find(shown), std::string::npos) << shown << "\n" << result.err;
    }
}

TEST_F(Wq2CliTest, ExtractFindsNamesIgnoringCaseAndReportsMissingOnesAfterTheRest) {
    SetMtime(WriteFile("in/Readme.txt", "read me"), 1600000000, 0);
    WriteFile("in/other.txt", "other");
    ASSERT_EQ(Run({"pack", "-o", Path("out.wq2"), Path("in")}).code, 0);

    const RunResult result =
        Run({"extract", Path("out.wq2"), "README.TXT", "missing.txt", "-C", Path("dest")});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("missing.txt"), std::string::npos) << result.err;
    EXPECT_EQ(FolderContents(Path("dest")), (std::set<std::string>{"Readme.txt"}));
    EXPECT_EQ(ReadFile(Path("dest/Readme.txt")), "read me");
    EXPECT_EQ(Mtime(Path("dest/Readme.txt")).tv_sec, 1600000000);
}

// --- Failed packs --------------------------------------------------------------------

struct PackFailureCase {
    const char* label;
    std::vector<std::string> files;     // below the scratch folder
    std::vector<std::string> inputs;    // the PATH arguments
    std::vector<std::string> mentioned; // what the message must name
};

void PrintTo(const PackFailureCase& c, std::ostream* os) { *os << c.label; }

class Wq2PackFailureTest : public Wq2CliTest,
                           public ::testing::WithParamInterface<PackFailureCase> {};

// Whatever the fault, an earlier archive stays as it was and no partial file is left.
TEST_P(Wq2PackFailureTest, LeavesEarlierArchiveAloneAndNamesTheCulprit) {
    for (const std::string& file : GetParam().files) {
        if (file.find("huge") != std::string::npos) {
            WriteFile(file, "");
            fs::resize_file(Path(file), uint64_t(1) << 32);  // sparse: takes no disk space
        } else {
            WriteFile(file, Compressible(100));
        }
    }
    WriteFile("out.wq2", "earlier archive");
    std::vector<std::string> args = {"pack", "-o", Path("out.wq2")};
    for (const std::string& input : GetParam().inputs) args.push_back(Path(input));
    const RunResult result = Run(args);
    EXPECT_EQ(result.code, 1);
    for (const std::string& name : GetParam().mentioned) {
        EXPECT_NE(result.err.find(name), std::string::npos) << name << "\n" << result.err;
    }
    EXPECT_EQ(ReadFile(Path("out.wq2")), "earlier archive");
    EXPECT_FALSE(fs::exists(Path("out.wq2.partial")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Wq2PackFailureTest,
    ::testing::Values(
        PackFailureCase{"SameNameIgnoringCase", {"a/Foo.txt", "b/foo.TXT", "b/other.txt"},
                        {"a", "b"}, {"a/Foo.txt", "b/foo.TXT"}},
        PackFailureCase{"NotInCodePage932", {"in/한글.txt", "in/ok.txt"}, {"in"}, {"한글.txt"}},
        PackFailureCase{"MissingInput", {"in/ok.txt"}, {"in", "nothere"}, {"nothere"}},
        PackFailureCase{"FourGiBFile", {"in/ok.txt", "in/huge.bin"}, {"in"},
                        {"huge.bin", "4 GiB"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

// --- Usage ---------------------------------------------------------------------------

TEST_F(Wq2CliTest, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> kCases = {
        {},
        {"frob"},
        {"pack"},
        {"pack", "in"},
        {"pack", "-o"},
        {"pack", "-o", "out.wq2"},
        {"pack", "-o", "out.wq2", "-l", "turbo", "in"},
        {"pack", "-o", "out.wq2", "--bogus", "in"},
        {"pack", "-o", "out.wq2", "--plain-directory=yes", "in"},
        {"list"},
        {"list", "a.wq2", "b.wq2"},
        {"verify"},
        {"verify", "-x", "a.wq2"},
        {"extract"},
        {"extract", "a.wq2", "-C"},
        {"help", "frob"},
    };
    for (const auto& args : kCases) {
        std::string shown;
        for (const std::string& arg : args) shown += arg + " ";
        const RunResult result = Run(args);
        EXPECT_EQ(result.code, 2) << shown;
        EXPECT_EQ(result.err.rfind("wq2: ", 0), 0u) << shown << "\n" << result.err;
    }
}

TEST_F(Wq2CliTest, HelpExitsWithZero) {
    struct HelpCase {
        std::vector<std::string> args;
        const char* mentions;
    };
    const HelpCase kCases[] = {
        {{"--help"}, "wq2 COMMAND"},      {{"-h"}, "wq2 COMMAND"},
        {{"help"}, "wq2 COMMAND"},        {{"help", "pack"}, "wq2 pack"},
        {{"pack", "--help"}, "--store"},  {{"pack", "-o", "x", "-h"}, "wq2 pack"},
        {{"list", "-h"}, "wq2 list"},     {{"verify", "--help"}, "wq2 verify"},
        {{"extract", "--help"}, "-C"},
    };
    for (const HelpCase& c : kCases) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.code, 0) << c.args[0];
        EXPECT_NE(result.out.find(c.mentions), std::string::npos) << c.args[0] << result.out;
        EXPECT_EQ(result.err, "");
    }
}

}  // namespace
