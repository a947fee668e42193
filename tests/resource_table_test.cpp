// The resource table the Linux updater carries its payload in: written by
// `wq2 make-updater` (or directly with the table's planner), read back through
// FindResourceA, SizeofResource, LoadResource and LockResource.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "payload_reader.h"
#include "payload_writer.h"
#include "resource_table.h"
#include "stored_archive.h"
#include "win32_files.h"
#include "win32_resources.h"
#include "wq2_commands.h"
#include "wq2_run.h"

namespace {

namespace fs = std::filesystem;
namespace res = wq2::resources;

constexpr uint64_t kGiB = uint64_t(1) << 30;

using wq2test::RunResult;

using wq2test::Noise;
using wq2test::ReadFile;

// Resident memory of this process, from /proc/self/statm (in pages).
uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t total = 0, resident = 0;
    statm >> total >> resident;
    return resident * uint64_t(sysconf(_SC_PAGESIZE));
}

class ResourceTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        root_ = fs::temp_directory_path() /
                ("resource_table_test_" + std::to_string(getpid()) + "_" + name);
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        for (HMODULE module : opened_) wq2::platform::CloseModuleForTest(module);
        fs::remove_all(root_);
    }

    fs::path Path(const std::string& relative) const { return root_ / relative; }

    fs::path WriteFile(const std::string& relative, const std::string& bytes) {
        const fs::path path = Path(relative);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    RunResult Run(const std::vector<std::string>& args) { return wq2test::RunTool(args); }

    // A small stored archive, so its bytes are easy to tell apart.
    fs::path MakeArchive(const std::string& relative, const std::string& content) {
        const fs::path path = Path(relative);
        wq2test::WriteStoredArchive(path, content);
        return path;
    }

    RunResult MakeUpdater(const fs::path& payload, const fs::path& stub, const fs::path& output) {
        return Run({"make-updater", "--payload", payload.string(), "--stub", stub.string(), "-o",
                    output.string()});
    }

    HMODULE Open(const fs::path& path) {
        HMODULE module = wq2::platform::OpenModuleForTest(path.c_str());
        opened_.push_back(module);
        return module;
    }

    // The bytes of resource UPDATE / 102 as the updater reaches them, or
    // nothing when the lookup fails.
    std::optional<std::string> Payload(HMODULE module) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "UPDATE");
        if (!found) return std::nullopt;
        const DWORD size = SizeofResource(module, found);
        const void* data = LockResource(LoadResource(module, found));
        if (!data) {
            ADD_FAILURE() << "found but not loaded";
            return std::nullopt;
        }
        return std::string(static_cast<const char*>(data), size);
    }

    fs::path root_;
    std::vector<HMODULE> opened_;
};

// --- make-updater and the reader together -------------------------------------------

TEST_F(ResourceTableTest, MadeUpdaterKeepsTheProgramAndCarriesThePayloadOnAPage) {
    const std::string program = Noise(5000, 1);  // ends off a page boundary
    const fs::path stub = WriteFile("program", program);
    const fs::path payload = MakeArchive("payload.wq2", Noise(3000, 2));
    const fs::path output = Path("updater");

    const RunResult result = MakeUpdater(payload, stub, output);
    ASSERT_EQ(result.code, 0) << result.err;

    const std::string made = ReadFile(output);
    EXPECT_EQ(made.substr(0, program.size()), program);
    EXPECT_EQ(fs::status(output).permissions() & fs::perms::all, fs::perms(0755));
    EXPECT_FALSE(fs::exists(Path("updater.partial")));

    HMODULE module = Open(output);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "UPDATE");
    ASSERT_NE(found, nullptr);
    const std::string expected = ReadFile(payload);
    ASSERT_EQ(SizeofResource(module, found), expected.size());
    HGLOBAL loaded = LoadResource(module, found);
    const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % res::kDataAlignment, 0u);
    EXPECT_EQ(std::memcmp(data, expected.data(), expected.size()), 0);
    EXPECT_EQ(LoadResource(module, found), loaded) << "a second load maps again";

    // The updater opens the archive where it lies in the mapping.
    size_t blockSize = 0;
    EXPECT_EQ(wq2::MeasureArchive(data, expected.size(), &blockSize), wq2::ArchiveStatus::Ok);
}

TEST_F(ResourceTableTest, LookupsByIdStringAndLanguage) {
    const fs::path output = Path("updater");
    ASSERT_EQ(MakeUpdater(MakeArchive("p.wq2", "abc"), WriteFile("program", "ELF"), output).code, 0);
    HMODULE module = Open(output);

    struct Case {
        const char* what;
        LPCSTR name;
        LPCSTR type;
        DWORD error;  // 0: found
    };
    const Case cases[] = {
        {"id and type", MAKEINTRESOURCEA(102), "UPDATE", 0},
        {"id written as #102", "#102", "UPDATE", 0},
        {"type in other letter case", MAKEINTRESOURCEA(102), "upDate", 0},
        {"other id", MAKEINTRESOURCEA(103), "UPDATE", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"id 0", MAKEINTRESOURCEA(0), "UPDATE", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"\"102\" is a string, not the id", "102", "UPDATE", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"#id beyond 16 bits", "#65638", "UPDATE", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"other type", MAKEINTRESOURCEA(102), "UPDATES", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"type as id", MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(10), ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        HRSRC found = FindResourceA(module, c.name, c.type);
        EXPECT_EQ(found != nullptr, c.error == 0);
        EXPECT_EQ(GetLastError(), c.error);
    }

    EXPECT_NE(FindResourceExA(module, "UPDATE", MAKEINTRESOURCEA(102), 1041), nullptr);
    EXPECT_EQ(FindResourceExA(module, "UPDATE", MAKEINTRESOURCEA(102), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
}

TEST_F(ResourceTableTest, RemakingReplacesThePayloadInsteadOfStackingIt) {
    const fs::path stub = WriteFile("program", Noise(9000, 3));
    const fs::path first = MakeArchive("first.wq2", Noise(40000, 4));
    const fs::path second = MakeArchive("second.wq2", Noise(700, 5));

    // Made once with the first payload, then again in place with the second.
    const fs::path remade = Path("remade");
    ASSERT_EQ(MakeUpdater(first, stub, remade).code, 0);
    const RunResult again = MakeUpdater(second, remade, remade);
    ASSERT_EQ(again.code, 0) << again.err;

    const fs::path direct = Path("direct");
    ASSERT_EQ(MakeUpdater(second, stub, direct).code, 0);
    EXPECT_EQ(ReadFile(remade), ReadFile(direct)) << "nothing of the first payload may remain";
    EXPECT_EQ(Payload(Open(remade)), ReadFile(second));
}

// --- Tables that do not add up --------------------------------------------------------

// A program followed by a sound table of two resources, one with string keys,
// and the means to damage it in one place while every checksum stays right,
// so that each case reaches the check it is about.
class DamagedTable {
public:
    DamagedTable() {
        const std::vector<res::ResourceSpec> specs = {
            {{0, "UPDATE"}, {102, ""}, 1041, 300},
            {{0, "TEXT"}, {0, "README"}, 1041, 5000},
        };
        res::TablePlan plan;
        EXPECT_TRUE(res::PlanTable(100, specs, &plan));
        bytes = Noise(100, 6);
        for (size_t i = 0; i < specs.size(); ++i) {
            bytes.resize(plan.dataOffsets[i], '\0');
            bytes += Noise(specs[i].size, 7 + unsigned(i));
        }
        EXPECT_EQ(bytes.size(), plan.tailOffset);
        bytes.append(plan.tail.begin(), plan.tail.end());
    }

    uint8_t* Trailer() { return Raw() + bytes.size() - res::kTrailerSize; }
    uint64_t DirectoryOffset() { return res::LoadLe64(Trailer() + res::kTrailerDirectoryOffset); }
    uint64_t DirectorySize() { return res::LoadLe64(Trailer() + res::kTrailerDirectorySize); }
    uint8_t* Directory() { return Raw() + DirectoryOffset(); }
    uint8_t* Entry(size_t index) {
        return Directory() + res::kDirectoryHeaderSize + index * res::kEntrySize;
    }
    // The first string: entry 1's type, "TEXT".
    uint8_t* String() { return Directory() + (res::LoadLe32(Entry(1)) & ~res::kStringKey); }

    // Recomputes both checksums after a change.
    void Reseal() {
        const uint64_t size = DirectorySize();
        if (DirectoryOffset() <= bytes.size() && size <= bytes.size() - DirectoryOffset()) {
            res::StoreLe32(Trailer() + res::kTrailerDirectoryChecksum,
                           res::Crc32(Directory(), size_t(size)));
        }
        res::StoreLe32(Trailer() + res::kTrailerChecksum, res::Crc32(Trailer(), res::kTrailerChecksum));
    }

    std::string bytes;

private:
    uint8_t* Raw() { return reinterpret_cast<uint8_t*>(bytes.data()); }
};

TEST_F(ResourceTableTest, SoundTableFindsEveryResourceAndResealingChangesNothing) {
    DamagedTable table;
    const std::string sound = table.bytes;
    table.Reseal();
    ASSERT_EQ(table.bytes, sound);
    HMODULE module = Open(WriteFile("sound", sound));
    EXPECT_EQ(Payload(module), sound.substr(4096, 300));
    HRSRC readme = FindResourceA(module, "readme", "text");
    ASSERT_NE(readme, nullptr);
    EXPECT_EQ(SizeofResource(module, readme), 5000u);
    EXPECT_EQ(std::memcmp(LockResource(LoadResource(module, readme)), sound.data() + 8192, 5000), 0);
}

struct DamageCase {
    const char* name;
    std::function<void(DamagedTable&)> damage;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class ResourceTableDamageTest : public ResourceTableTest,
                                public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ResourceTableDamageTest, CarriesNoResource) {
    DamagedTable table;
    GetParam().damage(table);
    HMODULE module = Open(WriteFile("damaged", table.bytes));
    SetLastError(0);
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(102), "UPDATE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
    EXPECT_EQ(FindResourceA(module, "README", "TEXT"), nullptr);
}

void SetTrailer64(DamagedTable& t, size_t field, uint64_t value) {
    res::StoreLe64(t.Trailer() + field, value);
    t.Reseal();
}

void SetEntry32(DamagedTable& t, size_t index, size_t field, uint32_t value) {
    res::StoreLe32(t.Entry(index) + field, value);
    t.Reseal();
}

void SetEntry64(DamagedTable& t, size_t index, size_t field, uint64_t value) {
    res::StoreLe64(t.Entry(index) + field, value);
    t.Reseal();
}

uint64_t EntryOffset(DamagedTable& t, size_t index) {
    return res::LoadLe64(t.Entry(index) + res::kEntryDataOffset);
}

const DamageCase kDamageCases[] = {
    {"NoTable", [](DamagedTable& t) { t.bytes.resize(100); }},
    {"EmptyFile", [](DamagedTable& t) { t.bytes.clear(); }},
    {"OnlyPartOfTrailer", [](DamagedTable& t) { t.bytes = t.bytes.substr(t.bytes.size() - 40); }},
    {"LastByteCutOff", [](DamagedTable& t) { t.bytes.pop_back(); }},
    {"TrailerCutInHalf", [](DamagedTable& t) { t.bytes.resize(t.bytes.size() - 24); }},
    {"ByteAppended", [](DamagedTable& t) { t.bytes += '\0'; }},
    {"WrongMagic",
     [](DamagedTable& t) {
         t.Trailer()[res::kTrailerMagic] ^= 0x20;
         t.Reseal();
     }},
    {"UnknownVersion",
     [](DamagedTable& t) {
         res::StoreLe32(t.Trailer() + res::kTrailerVersion, 2);
         t.Reseal();
     }},
    {"TrailerChecksumWrong", [](DamagedTable& t) { t.Trailer()[res::kTrailerTableStart] ^= 1; }},
    {"DirectoryChecksumWrong", [](DamagedTable& t) { t.Entry(0)[res::kEntryLanguage] ^= 1; }},
    {"DirectoryPastTheEnd",
     [](DamagedTable& t) { SetTrailer64(t, res::kTrailerDirectoryOffset, t.bytes.size() + 4096); }},
    {"GapBetweenDirectoryAndTrailer",
     [](DamagedTable& t) {
         const std::string trailer = t.bytes.substr(t.bytes.size() - res::kTrailerSize);
         t.bytes.resize(t.bytes.size() - res::kTrailerSize + 8, '\0');
         t.bytes += trailer;
     }},
    {"DirectorySizeHuge",
     [](DamagedTable& t) { SetTrailer64(t, res::kTrailerDirectorySize, uint64_t(1) << 63); }},
    {"DirectorySizeLargerThanFile",
     [](DamagedTable& t) {
         res::StoreLe64(t.Trailer() + res::kTrailerDirectoryOffset, 0);
         SetTrailer64(t, res::kTrailerDirectorySize, t.bytes.size());
     }},
    {"DirectorySmallerThanItsHeader",
     [](DamagedTable& t) {
         const uint64_t end = t.DirectoryOffset() + t.DirectorySize();
         res::StoreLe64(t.Trailer() + res::kTrailerDirectoryOffset, end - 4);
         SetTrailer64(t, res::kTrailerDirectorySize, 4);
     }},
    {"TableStartsAfterDirectory",
     [](DamagedTable& t) { SetTrailer64(t, res::kTrailerTableStart, t.DirectoryOffset() + 1); }},
    {"MoreEntriesThanDirectoryHolds",
     [](DamagedTable& t) {
         res::StoreLe32(t.Directory() + res::kDirectoryEntryCount, 1000);
         t.Reseal();
     }},
    {"EntryCountWrapsWhenMultiplied",
     [](DamagedTable& t) {
         res::StoreLe32(t.Directory() + res::kDirectoryEntryCount, 0x80000001u);
         t.Reseal();
     }},
    {"ResourceRunsPastTheEnd",
     [](DamagedTable& t) { SetEntry64(t, 1, res::kEntryDataSize, t.bytes.size()); }},
    {"ResourceRunsIntoDirectory",
     [](DamagedTable& t) {
         SetEntry64(t, 1, res::kEntryDataSize, t.DirectoryOffset() - EntryOffset(t, 1) + 1);
     }},
    {"ResourceSizeWrapsAround",
     [](DamagedTable& t) { SetEntry64(t, 0, res::kEntryDataSize, ~uint64_t(0) - 4095); }},
    {"ResourceOffsetPastTheEnd",
     [](DamagedTable& t) { SetEntry64(t, 0, res::kEntryDataOffset, uint64_t(1) << 40); }},
    {"ResourceNotOnPageBoundary",
     [](DamagedTable& t) { SetEntry64(t, 0, res::kEntryDataOffset, EntryOffset(t, 0) + 16); }},
    {"ResourceInsideProgram", [](DamagedTable& t) { SetEntry64(t, 0, res::kEntryDataOffset, 0); }},
    {"StringOffsetPastDirectory",
     [](DamagedTable& t) {
         SetEntry32(t, 1, res::kEntryType, res::kStringKey | uint32_t(t.DirectorySize()));
     }},
    {"StringOffsetInsideDirectoryHeader",
     [](DamagedTable& t) { SetEntry32(t, 1, res::kEntryType, res::kStringKey | 2); }},
    {"StringLongerThanDirectory",
     [](DamagedTable& t) {
         res::StoreLe16(t.String(), 0xFFFF);
         t.Reseal();
     }},
    {"EmptyString",
     [](DamagedTable& t) {
         res::StoreLe16(t.String(), 0);
         t.Reseal();
     }},
    {"IdZero", [](DamagedTable& t) { SetEntry32(t, 0, res::kEntryName, 0); }},
    {"IdBeyond16Bits", [](DamagedTable& t) { SetEntry32(t, 0, res::kEntryName, 0x10000); }},
};

INSTANTIATE_TEST_SUITE_P(Damage, ResourceTableDamageTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& param) { return std::string(param.param.name); });

// --- The calls themselves ---------------------------------------------------------------

TEST_F(ResourceTableTest, ResourceOfSizeZeroExistsAndLoads) {
    res::TablePlan plan;
    ASSERT_TRUE(res::PlanTable(10, {{{0, "UPDATE"}, {102, ""}, 1041, 0}}, &plan));
    std::string bytes = "0123456789";
    bytes.resize(plan.tailOffset, '\0');
    bytes.append(plan.tail.begin(), plan.tail.end());
    HMODULE module = Open(WriteFile("empty-resource", bytes));

    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "UPDATE");
    ASSERT_NE(found, nullptr);
    SetLastError(0);
    EXPECT_EQ(SizeofResource(module, found), 0u);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_NE(LockResource(LoadResource(module, found)), nullptr);
}

TEST_F(ResourceTableTest, HandlesFromElsewhereAreRefused) {
    const fs::path stub = WriteFile("program", "ELF");
    const fs::path made = Path("updater");
    ASSERT_EQ(MakeUpdater(MakeArchive("p.wq2", "abc"), stub, made).code, 0);
    HMODULE one = Open(made);
    HMODULE other = Open(made);
    HRSRC found = FindResourceA(one, MAKEINTRESOURCEA(102), "UPDATE");
    ASSERT_NE(found, nullptr);
    ASSERT_NE(FindResourceA(other, MAKEINTRESOURCEA(102), "UPDATE"), found);  // other's own table

    SetLastError(0);
    EXPECT_EQ(SizeofResource(other, found), 0u) << "a resource of another module";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LoadResource(other, found), nullptr);
    EXPECT_EQ(LoadResource(one, nullptr), nullptr);
    int notAModule = 0;
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(&notAModule), MAKEINTRESOURCEA(102), "UPDATE"),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

TEST_F(ResourceTableTest, RunningExecutableWithoutTableHasNoResource) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), self);
    SetLastError(0);
    EXPECT_EQ(FindResourceA(self, MAKEINTRESOURCEA(102), "UPDATE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(102), "UPDATE"), nullptr);
}

// A 1 GiB payload, sparse on disk, is mapped: reaching its first, middle and
// last bytes must not read the rest into memory.
TEST_F(ResourceTableTest, GigabytePayloadIsMappedNotRead) {
    constexpr uint64_t kProgramSize = 200;
    res::TablePlan plan;
    ASSERT_TRUE(res::PlanTable(kProgramSize, {{{0, "UPDATE"}, {102, ""}, 1041, kGiB}}, &plan));
    const fs::path path = Path("big");
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const uint64_t start = plan.dataOffsets[0];
    const std::string program(kProgramSize, 'P');
    bool written = pwrite(fd, program.data(), program.size(), 0) == ssize_t(program.size()) &&
                   ftruncate(fd, off_t(plan.tailOffset)) == 0 &&
                   pwrite(fd, plan.tail.data(), plan.tail.size(), off_t(plan.tailOffset)) ==
                       ssize_t(plan.tail.size());
    for (const auto& [offset, marker] : {std::pair<uint64_t, char>{0, 'F'}, {kGiB / 2, 'M'},
                                         {kGiB - 1, 'L'}}) {
        written = written && pwrite(fd, &marker, 1, off_t(start + offset)) == 1;
    }
    close(fd);
    ASSERT_TRUE(written);

    HMODULE module = Open(path);
    const uint64_t before = ResidentBytes();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "UPDATE");
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(SizeofResource(module, found), kGiB);
    const auto* data = static_cast<const volatile char*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 'F');
    EXPECT_EQ(data[kGiB / 2], 'M');
    EXPECT_EQ(data[kGiB / 2 + 1], '\0');
    EXPECT_EQ(data[kGiB - 1], 'L');
    const uint64_t grown = ResidentBytes() - std::min(before, ResidentBytes());
    EXPECT_LT(grown, uint64_t(32) << 20) << "resident memory grew by " << grown << " bytes";
}

// --- make-updater's refusals --------------------------------------------------------------

TEST_F(ResourceTableTest, PayloadThatIsNoArchiveIsRefusedAndLeavesOutputAlone) {
    const fs::path stub = WriteFile("program", "ELF");
    const fs::path output = WriteFile("updater", "earlier");
    const struct {
        const char* what;
        std::string bytes;
    } payloads[] = {
        {"noise", Noise(5000, 9)},
        {"empty", ""},
        {"header only", std::string("WQ2\0\0\0\0\0\xFF\xFF\0\0\x01\0\0\0", 16)},
    };
    for (const auto& payload : payloads) {
        SCOPED_TRACE(payload.what);
        const RunResult result = MakeUpdater(WriteFile("payload.wq2", payload.bytes), stub, output);
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find("payload.wq2"), std::string::npos) << result.err;
        EXPECT_EQ(ReadFile(output), "earlier");
        EXPECT_FALSE(fs::exists(Path("updater.partial")));
    }
    const RunResult noStub = MakeUpdater(MakeArchive("p.wq2", "abc"), Path("missing"), output);
    EXPECT_EQ(noStub.code, 1);
    EXPECT_NE(noStub.err.find("missing"), std::string::npos) << noStub.err;
    EXPECT_EQ(ReadFile(output), "earlier");
}

TEST_F(ResourceTableTest, BadUsageExitsWithTwo) {
    const std::string payload = MakeArchive("p.wq2", "abc").string();
    const std::string stub = WriteFile("program", "ELF").string();
    const std::string out = Path("updater").string();
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"make-updater"}, "--payload"},
        {{"make-updater", "-o", out, "--stub", stub}, "--payload"},
        {{"make-updater", "--payload", payload, "--stub", stub}, "-o OUT"},
        {{"make-updater", "--payload", payload, "-o", out, "--stub", stub, "extra"}, "extra"},
        {{"make-updater", "--payload", payload, "-o", out, "--stub", stub, "--target", "mac"}, "mac"},
        {{"make-updater", "--payload", payload, "-o", out, "--stub", ""}, "--stub"},
        {{"make-updater", "--payload", payload, "-o", out, "--bogus"}, "--bogus"},
        {{"make-updater", "--payload"}, "--payload"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.code, 2);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("wq2 help make-updater"), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(out));

    const RunResult help = Run({"make-updater", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("Usage: wq2 make-updater", 0), 0u) << help.out;
    EXPECT_EQ(Run({"help", "make-updater"}).out, help.out);
}

}  // namespace
