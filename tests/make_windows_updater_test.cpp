// `wq2 make-updater --target windows`: the payload put into a Windows program's
// resources, read back with the tests' own PE reader (pe_file.h). The stubs
// are small images built here, in both formats and in the layouts the tool
// must handle, and the cross-built updaters when the build has them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "payload_writer.h"
#include "pe_file.h"
#include "pe_resources.h"
#include "stored_archive.h"
#include "windows_stub.h"
#include "wq2_run.h"

namespace {

namespace fs = std::filesystem;
using wq2test::PeFile;
using wq2test::RunResult;

// --- Stubs built here ---------------------------------------------------------------

void Put16(std::string* bytes, size_t at, uint16_t value) {
    (*bytes)[at] = char(value);
    (*bytes)[at + 1] = char(value >> 8);
}

void Put32(std::string* bytes, size_t at, uint32_t value) {
    Put16(bytes, at, uint16_t(value));
    Put16(bytes, at + 2, uint16_t(value >> 16));
}

uint32_t Get32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// A resource of a stub: type and name are "#<number>" or an ASCII string.
struct StubResource {
    std::string type, name;
    uint16_t language;
    std::string data;
};

const std::vector<StubResource>& StubResources() {
    static const std::vector<StubResource> kResources = {
        {"#5", "#100", 1041, std::string("dialog one\0\x01\x02", 13)},
        {"#5", "#101", 1041, "dialog two, a little longer"},
        {"#24", "#1", 1033, "<assembly/>"},
        {"TEXTS", "INTRO", 1041, "named type, named entry"},
    };
    return kResources;
}

// Where a resource section built here keeps the records tests damage, as file
// offsets: the first of each kind.
struct TreeOffsets {
    size_t root = 0, typeDirectory = 0, nameDirectory = 0, languageEntry = 0, dataRecord = 0, nameString = 0;
};

// Encodes a resource tree laid out unlike the tool's: names at the very end,
// after data aligned to 4 bytes only. Entries are sorted as the loader wants.
std::string EncodeTree(const std::vector<StubResource>& resources, uint32_t address, TreeOffsets* offsets) {
    const auto before = [](const std::string& a, const std::string& b) {
        const bool aNumber = a[0] == '#', bNumber = b[0] == '#';
        if (aNumber != bNumber) return !aNumber;
        return aNumber ? std::stoi(a.substr(1)) < std::stoi(b.substr(1)) : a < b;
    };
    std::map<std::string, std::map<std::string, std::vector<const StubResource*>, decltype(before)>,
             decltype(before)>
        tree(before);
    for (const StubResource& r : resources) {
        tree.try_emplace(r.type, before).first->second[r.name].push_back(&r);
    }
    size_t directories = 16 + 8 * tree.size(), records = 0, data = 0, strings = 0;
    for (const auto& [type, names] : tree) {
        directories += 16 + 8 * names.size();
        strings += type[0] == '#' ? 0 : 2 + 2 * type.size();
        for (const auto& [name, leaves] : names) {
            directories += 16 + 8 * leaves.size();
            strings += name[0] == '#' ? 0 : 2 + 2 * name.size();
            records += leaves.size();
            for (const StubResource* leaf : leaves) data += AlignUp(leaf->data.size(), 4);
        }
    }
    const size_t recordsAt = directories, dataAt = recordsAt + 16 * records, stringsAt = dataAt + data;
    std::string out(stringsAt + strings, '\0');
    size_t nextDirectory = 0, nextRecord = recordsAt, nextData = dataAt, nextString = stringsAt;
    const auto header = [&](size_t named, size_t numbered) {
        Put16(&out, nextDirectory + 4, 0x1234);  // a time stamp the rewrite must keep
        Put16(&out, nextDirectory + 12, uint16_t(named));
        Put16(&out, nextDirectory + 14, uint16_t(numbered));
        const size_t entries = nextDirectory + 16;
        nextDirectory = entries + 8 * (named + numbered);
        return entries;
    };
    const auto nameField = [&](const std::string& name) -> uint32_t {
        if (name[0] == '#') return uint32_t(std::stoi(name.substr(1)));
        if (offsets->nameString == 0) offsets->nameString = nextString;
        Put16(&out, nextString, uint16_t(name.size()));
        for (size_t i = 0; i < name.size(); ++i) Put16(&out, nextString + 2 + 2 * i, uint8_t(name[i]));
        const uint32_t field = uint32_t(nextString) | 0x80000000u;
        nextString += 2 + 2 * name.size();
        return field;
    };
    const auto countNamed = [](const auto& map) {
        size_t named = 0;
        for (const auto& item : map) named += item.first[0] == '#' ? 0 : 1;
        return named;
    };
    size_t entry = header(countNamed(tree), tree.size() - countNamed(tree));
    size_t child = nextDirectory;
    for (const auto& [type, names] : tree) {
        Put32(&out, entry, nameField(type));
        Put32(&out, entry + 4, uint32_t(child) | 0x80000000u);
        entry += 8;
        child += 16 + 8 * names.size();
    }
    offsets->typeDirectory = nextDirectory;
    for (const auto& [type, names] : tree) {
        entry = header(countNamed(names), names.size() - countNamed(names));
        for (const auto& [name, leaves] : names) {
            Put32(&out, entry, nameField(name));
            Put32(&out, entry + 4, uint32_t(child) | 0x80000000u);
            entry += 8;
            child += 16 + 8 * leaves.size();
        }
    }
    offsets->nameDirectory = nextDirectory;
    offsets->languageEntry = nextDirectory + 16;
    offsets->dataRecord = recordsAt;
    for (const auto& [type, names] : tree) {
        for (const auto& [name, leaves] : names) {
            entry = header(0, leaves.size());
            for (const StubResource* leaf : leaves) {
                Put32(&out, entry, leaf->language);
                Put32(&out, entry + 4, uint32_t(nextRecord));
                entry += 8;
                Put32(&out, nextRecord, address + uint32_t(nextData));
                Put32(&out, nextRecord + 4, uint32_t(leaf->data.size()));
                nextRecord += 16;
                out.replace(nextData, leaf->data.size(), leaf->data);
                nextData += AlignUp(leaf->data.size(), 4);
            }
        }
    }
    return out;
}

struct StubOptions {
    bool pe32Plus = false;
    bool resourcesLast = true;   // else a .reloc section follows .rsrc
    bool trailingBytes = false;  // bytes after the last section, as a symbol table is
    bool withResources = true;   // else no .rsrc at all
};

struct Stub {
    std::string bytes;
    size_t peHeader = 0, optionalHeader = 0, sectionTable = 0, dataDirectories = 0;
    TreeOffsets tree;  // file offsets
};

constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSizeOfHeaders = 0x400;

// A small image as a linker lays one out: headers, .text, .rsrc, maybe .reloc.
Stub BuildStub(const StubOptions& options) {
    Stub stub;
    std::string& b = stub.bytes;
    b.assign(kSizeOfHeaders, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    b.replace(0x10, 14, "DOS stub bytes");  // header bytes the rewrite must keep
    stub.peHeader = 0x80;
    Put32(&b, 0x3C, uint32_t(stub.peHeader));
    b.replace(stub.peHeader, 4, std::string("PE\0\0", 4));
    const size_t coff = stub.peHeader + 4;
    const uint16_t optionalSize = options.pe32Plus ? 240 : 224;
    Put16(&b, coff, options.pe32Plus ? 0x8664 : 0x14C);
    Put32(&b, coff + 4, 0x5F5E100);  // time stamp
    Put16(&b, coff + 16, optionalSize);
    Put16(&b, coff + 18, 0x0102);
    stub.optionalHeader = coff + 20;
    const size_t o = stub.optionalHeader;
    Put16(&b, o, options.pe32Plus ? 0x20B : 0x10B);
    Put32(&b, o + 16, 0x1000);  // entry point
    Put32(&b, o + 32, kSectionAlignment);
    Put32(&b, o + 36, kFileAlignment);
    Put32(&b, o + 60, kSizeOfHeaders);
    Put16(&b, o + 68, 2);  // a windowed program
    Put32(&b, o + (options.pe32Plus ? 108 : 92), 16);
    stub.dataDirectories = o + (options.pe32Plus ? 112 : 96);
    stub.sectionTable = o + optionalSize;

    struct Part {
        const char* name;
        std::string data;
        uint32_t characteristics;
    };
    std::vector<Part> parts = {{".text", std::string(0x300, '\xC3'), 0x60000020u}};
    if (options.withResources) parts.push_back({".rsrc", "", 0x40000040u});
    if (!options.resourcesLast) parts.push_back({".reloc", std::string(0x40, '\x11'), 0x42000040u});
    uint32_t address = kSectionAlignment;
    for (size_t i = 0; i < parts.size(); ++i) {
        Part& part = parts[i];
        const size_t header = stub.sectionTable + 40 * i;
        const size_t fileOffset = b.size();
        if (std::string(part.name) == ".rsrc") {
            part.data = EncodeTree(StubResources(), address, &stub.tree);
            for (size_t* offset : {&stub.tree.root, &stub.tree.typeDirectory, &stub.tree.nameDirectory,
                                   &stub.tree.languageEntry, &stub.tree.dataRecord, &stub.tree.nameString}) {
                *offset += fileOffset;
            }
            Put32(&b, stub.dataDirectories + 8 * 2, address);
            Put32(&b, stub.dataDirectories + 8 * 2 + 4, uint32_t(part.data.size()));
        }
        if (std::string(part.name) == ".reloc") {
            Put32(&b, stub.dataDirectories + 8 * 5, address);
            Put32(&b, stub.dataDirectories + 8 * 5 + 4, uint32_t(part.data.size()));
        }
        b.replace(header, std::strlen(part.name), part.name);
        Put32(&b, header + 8, uint32_t(part.data.size()));
        Put32(&b, header + 12, address);
        Put32(&b, header + 16, uint32_t(AlignUp(part.data.size(), kFileAlignment)));
        Put32(&b, header + 20, uint32_t(fileOffset));
        Put32(&b, header + 36, part.characteristics);
        b += part.data;
        b.resize(AlignUp(b.size(), kFileAlignment), '\0');
        address = uint32_t(AlignUp(address + part.data.size(), kSectionAlignment));
    }
    Put16(&b, coff + 2, uint16_t(parts.size()));
    Put32(&b, o + 56, address);
    if (options.trailingBytes) b += "symbols and their names, after every section";
    Put32(&b, o + 64, PeFile(b).ComputeChecksum());
    return stub;
}

// --- Checks ---------------------------------------------------------------------------

using ResourceKey = std::tuple<std::string, std::string, uint16_t>;

std::map<ResourceKey, std::pair<uint32_t, std::string>> ResourceMap(const PeFile& file) {
    std::map<ResourceKey, std::pair<uint32_t, std::string>> map;
    for (const PeFile::Resource& r : file.resources) {
        EXPECT_TRUE(map.emplace(ResourceKey{r.type, r.name, r.language}, std::pair(r.codePage, r.data)).second)
            << r.type << "/" << r.name << "/" << r.language << " twice";
    }
    return map;
}

// The made image's headers add up: sections follow one another in memory,
// SizeOfImage ends with the last one, every section's data is aligned and in
// the file, the resources are the last section, and the checksum is right.
void ExpectSoundImage(const PeFile& made) {
    std::vector<PeFile::Section> sections = made.sections;
    std::sort(sections.begin(), sections.end(),
              [](const auto& a, const auto& b) { return a.virtualAddress < b.virtualAddress; });
    for (size_t i = 0; i < sections.size(); ++i) {
        const PeFile::Section& s = sections[i];
        SCOPED_TRACE("section " + std::to_string(i) + " " + s.name);
        if (i > 0) {
            const PeFile::Section& p = sections[i - 1];
            EXPECT_EQ(s.virtualAddress, AlignUp(p.virtualAddress + std::max(p.virtualSize, p.sizeOfRawData),
                                                made.sectionAlignment));
        }
        EXPECT_EQ(s.pointerToRawData % made.fileAlignment, 0u);
        EXPECT_EQ(s.sizeOfRawData % made.fileAlignment, 0u);
        EXPECT_LE(uint64_t(s.pointerToRawData) + s.sizeOfRawData, made.Bytes().size());
    }
    const PeFile::Section& last = sections.back();
    EXPECT_EQ(made.sizeOfImage, AlignUp(last.virtualAddress + last.virtualSize, made.sectionAlignment));
    EXPECT_EQ(made.DirectoryAddress(2), last.virtualAddress);
    EXPECT_EQ(made.DirectorySize(2), last.virtualSize);
    EXPECT_EQ(made.checksum, made.ComputeChecksum());
}

// Every byte of `before` up to where the made image's resource section starts
// is unchanged, except the header fields a new resource section must change.
void ExpectKeptBytes(const PeFile& before, const PeFile& made) {
    const auto isResources = [&](const PeFile::Section& s) { return s.virtualAddress == made.DirectoryAddress(2); };
    const auto resources = std::find_if(made.sections.begin(), made.sections.end(), isResources);
    ASSERT_NE(resources, made.sections.end());
    const size_t slot = made.sectionTableOffset + 40 * size_t(resources - made.sections.begin());
    const std::vector<std::pair<uint64_t, uint64_t>> changing = {
        {made.sectionCountOffset, 2}, {made.sizeOfImageOffset, 4}, {made.checksumOffset, 4},
        {made.directoriesOffset + 16, 8}, {slot, 40}};
    const uint64_t end = std::min<uint64_t>(before.Bytes().size(), resources->pointerToRawData);
    size_t differences = 0;
    for (uint64_t i = 0; i < end; ++i) {
        const bool mayChange = std::any_of(changing.begin(), changing.end(), [&](const auto& field) {
            return i >= field.first && i < field.first + field.second;
        });
        if (!mayChange && before.Bytes()[i] != made.Bytes()[i] && ++differences <= 5) {
            ADD_FAILURE() << "byte " << i << " changed";
        }
    }
    EXPECT_EQ(differences, 0u);
}

// --- Fixture --------------------------------------------------------------------------

class MakeWindowsUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        root_ = fs::temp_directory_path() / ("make_windows_updater_test_" + std::to_string(getpid()) + "_" + name);
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Path(const std::string& relative) const { return root_ / relative; }

    fs::path WriteFile(const std::string& relative, const std::string& bytes) {
        const fs::path path = Path(relative);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // A stored archive, so its bytes are the entry's plus a little.
    fs::path MakeArchive(const std::string& relative, const std::string& content) {
        const fs::path path = Path(relative);
        wq2test::WriteStoredArchive(path, content);
        return path;
    }

    RunResult Make(const fs::path& stub, const fs::path& payload, const fs::path& output) {
        return wq2test::RunTool({"make-updater", "--target", "windows", "--stub", stub.string(), "--payload",
                                 payload.string(), "-o", output.string()});
    }

    fs::path root_;
};

// --- Round trips ------------------------------------------------------------------------

struct RoundTripCase {
    const char* label;
    StubOptions options;
    const wq2test::WindowsStub* builtStub = nullptr;  // a cross-built updater instead
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.label; }

class MakeWindowsUpdaterRoundTripTest : public MakeWindowsUpdaterTest,
                                        public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(MakeWindowsUpdaterRoundTripTest, AddThenReplaceKeepsEverythingElse) {
    std::string stubBytes;
    if (GetParam().builtStub != nullptr) {
        const fs::path path = wq2test::WindowsStubPath(*GetParam().builtStub);
        if (path.empty()) GTEST_SKIP() << GetParam().builtStub->variable << " is not set";
        stubBytes = wq2test::ReadFile(path);
        ASSERT_FALSE(stubBytes.empty()) << path;
    } else {
        stubBytes = BuildStub(GetParam().options).bytes;
    }
    const fs::path stub = WriteFile("stub.exe", stubBytes);
    const std::string first = wq2test::Noise(3000, 1), second = wq2test::Noise(70000, 2);
    const fs::path payloadA = MakeArchive("a.wq2", first), payloadB = MakeArchive("b.wq2", second);
    const std::string bytesA = wq2test::ReadFile(payloadA), bytesB = wq2test::ReadFile(payloadB);

    // Added: the stub's resources stay as they were, the payload joins them.
    const RunResult made = Make(stub, payloadA, Path("one.exe"));
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_NE(made.out.find("made updater"), std::string::npos) << made.out;
    const PeFile before(stubBytes), one(wq2test::ReadFile(Path("one.exe")));
    auto expected = ResourceMap(before);
    expected[{"UPDATE", "#102", 1041}] = {0, bytesA};
    EXPECT_EQ(ResourceMap(one), expected);
    const PeFile::Resource* payload = one.Find("UPDATE", "#102", 1041);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(one.Bytes().substr(payload->fileOffset, bytesA.size()), bytesA);
    EXPECT_EQ(one.pe32Plus, before.pe32Plus);
    ExpectSoundImage(one);
    ExpectKeptBytes(before, one);

    // Replaced: one payload, not two, in the same section, the file ending with it.
    const RunResult remade = Make(Path("one.exe"), payloadB, Path("two.exe"));
    ASSERT_EQ(remade.code, 0) << remade.err;
    const PeFile two(wq2test::ReadFile(Path("two.exe")));
    expected[{"UPDATE", "#102", 1041}] = {0, bytesB};
    EXPECT_EQ(ResourceMap(two), expected);
    EXPECT_EQ(two.sections.size(), one.sections.size());
    const PeFile::Section& section = two.sections.back();
    EXPECT_EQ(two.Bytes().size(), uint64_t(section.pointerToRawData) + section.sizeOfRawData);
    ExpectSoundImage(two);
    ExpectKeptBytes(one, two);

    // And back: the first payload again gives the first updater, byte for byte.
    ASSERT_EQ(Make(Path("two.exe"), payloadA, Path("three.exe")).code, 0);
    EXPECT_TRUE(wq2test::ReadFile(Path("three.exe")) == one.Bytes());
}

StubOptions Options(bool pe32Plus, bool resourcesLast, bool trailingBytes, bool withResources) {
    StubOptions options;
    options.pe32Plus = pe32Plus;
    options.resourcesLast = resourcesLast;
    options.trailingBytes = trailingBytes;
    options.withResources = withResources;
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Stubs, MakeWindowsUpdaterRoundTripTest,
    ::testing::Values(RoundTripCase{"Pe32ResourcesLast", Options(false, true, false, true)},
                      RoundTripCase{"Pe32PlusResourcesLast", Options(true, true, false, true)},
                      RoundTripCase{"Pe32RelocationsAfterResources", Options(false, false, false, true)},
                      RoundTripCase{"Pe32PlusRelocationsAndSymbolsAfter", Options(true, false, true, true)},
                      RoundTripCase{"ResourcesLastThenSymbols", Options(false, true, true, true)},
                      RoundTripCase{"NoResourcesAtAll", Options(true, false, false, false)},
                      RoundTripCase{"BuiltI686Updater", {}, &wq2test::kWindowsStubs[0]},
                      RoundTripCase{"BuiltX8664Updater", {}, &wq2test::kWindowsStubs[1]}),
    [](const auto& testInfo) { return std::string(testInfo.param.label); });

// --- Refusals -----------------------------------------------------------------------------

struct DamageCase {
    const char* label;
    std::function<void(Stub*)> damage;
    const char* message;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.label; }

class MakeWindowsUpdaterDamageTest : public MakeWindowsUpdaterTest,
                                     public ::testing::WithParamInterface<DamageCase> {};

TEST_P(MakeWindowsUpdaterDamageTest, IsRefusedWithAMessage) {
    Stub stub = BuildStub(Options(false, false, false, true));
    GetParam().damage(&stub);
    const fs::path stubPath = WriteFile("stub.exe", stub.bytes);
    const RunResult result = Make(stubPath, MakeArchive("p.wq2", "payload"), Path("out.exe"));
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err.rfind("wq2: " + stubPath.string() + ": ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(Path("out.exe")));
    EXPECT_FALSE(fs::exists(Path("out.exe.partial")));
}

const DamageCase kDamageCases[] = {
    {"Empty", [](Stub* s) { s->bytes.clear(); }, "not a Windows program"},
    {"ElfProgram", [](Stub* s) { s->bytes.replace(0, 4, "\x7f" "ELF"); }, "not a Windows program"},
    {"CutInDosHeader", [](Stub* s) { s->bytes.resize(0x30); }, "not a Windows program"},
    {"CutInPeHeader", [](Stub* s) { s->bytes.resize(s->peHeader + 10); }, "no PE header"},
    {"PeHeaderOutsideFile", [](Stub* s) { Put32(&s->bytes, 0x3C, 0xFFFFFFF0u); }, "no PE header"},
    {"CutInOptionalHeader", [](Stub* s) { s->bytes.resize(s->optionalHeader + 50); }, "optional header runs past"},
    {"UnknownOptionalHeader", [](Stub* s) { Put16(&s->bytes, s->optionalHeader, 0x107); }, "unknown optional header"},
    {"CutInSectionTable", [](Stub* s) { s->bytes.resize(s->sectionTable + 50); }, "section table runs past"},
    {"CutInResourceSection", [](Stub* s) { s->bytes.resize(s->tree.root + 20); }, "runs past the end of the file"},
    {"FileAlignmentNotAPowerOfTwo", [](Stub* s) { Put32(&s->bytes, s->optionalHeader + 36, 0x300); },
     "do not go together"},
    {"ResourceDirectoryInNoSection", [](Stub* s) { Put32(&s->bytes, s->dataDirectories + 16, 0x7FFF0000u); },
     "lies outside the file's sections"},
    {"RootWithTooManyEntries", [](Stub* s) { Put16(&s->bytes, s->tree.root + 14, 0xFFFF); },
     "run past the resource section"},
    {"TypeDirectoryOutsideSection", [](Stub* s) { Put32(&s->bytes, s->tree.root + 20, 0xFFFFFFF0u); },
     "lies outside the resource section"},
    {"NameDirectoryLeadsBackToRoot",
     [](Stub* s) { Put32(&s->bytes, s->tree.typeDirectory + 20, 0x80000000u); }, "leads back"},
    {"TypeDirectoryLeadsToItself",
     [](Stub* s) {
         const uint32_t self = uint32_t(s->tree.typeDirectory - s->tree.root) | 0x80000000u;
         Put32(&s->bytes, s->tree.typeDirectory + 20, self);
     },
     "leads back"},
    {"LanguageLeadsToADirectory",
     [](Stub* s) {
         Put32(&s->bytes, s->tree.languageEntry + 4, uint32_t(s->tree.nameDirectory - s->tree.root) | 0x80000000u);
     },
     "more than three levels"},
    {"DataWhereADirectoryBelongs", [](Stub* s) { Put32(&s->bytes, s->tree.root + 20, 0x10); },
     "data where a directory belongs"},
    {"NameOutsideSection", [](Stub* s) { Put32(&s->bytes, s->tree.root + 16, 0xFFFFFF00u); },
     "lies outside the resource section"},
    {"EmptyName", [](Stub* s) { Put16(&s->bytes, s->tree.nameString, 0); }, "empty name"},
    {"TwoEntriesOfOneName",
     [](Stub* s) {  // the second type (#5) renumbered to the third's (#24)
         Put32(&s->bytes, s->tree.root + 24, Get32(s->bytes, s->tree.root + 32));
     },
     "two entries named #24"},
    {"DataInNoSection", [](Stub* s) { Put32(&s->bytes, s->tree.dataRecord, 0x7FFFFF00u); },
     "lies outside the file's sections"},
    {"DataLargerThanItsSection", [](Stub* s) { Put32(&s->bytes, s->tree.dataRecord + 4, 0xFFFFFFF0u); },
     "lies outside the file's sections"},
    {"Signed", [](Stub* s) { Put32(&s->bytes, s->dataDirectories + 8 * 4 + 4, 0x100); }, "signed"},
    {"NoRoomForAnotherSectionHeader",
     [](Stub* s) { Put32(&s->bytes, s->optionalHeader + 60, uint32_t(s->sectionTable + 40 * 3)); },
     "no room for another section"},
};

INSTANTIATE_TEST_SUITE_P(Stubs, MakeWindowsUpdaterDamageTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.label); });

TEST_F(MakeWindowsUpdaterTest, PayloadThatIsNoArchiveIsRefused) {
    const fs::path stub = WriteFile("stub.exe", BuildStub({}).bytes);
    const RunResult result = Make(stub, WriteFile("p.wq2", "not an archive at all"), Path("out.exe"));
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("not a usable archive"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(Path("out.exe")));
}

TEST_F(MakeWindowsUpdaterTest, UsageAndHelpNameBothTargets) {
    const RunResult unknown = wq2test::RunTool({"make-updater", "--target", "mac", "--payload", "p", "-o", "o"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_NE(unknown.err.find("linux or windows"), std::string::npos) << unknown.err;
    const RunResult missing = wq2test::RunTool({"make-updater", "--target", "windows", "--payload", "p"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("-o OUT"), std::string::npos) << missing.err;
    const RunResult help = wq2test::RunTool({"help", "make-updater"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--target TARGET    linux (the default) or windows"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("updater.exe"), std::string::npos) << help.out;
}

TEST_F(MakeWindowsUpdaterTest, SectionTableInsideTheLastSectionsDataIsKept) {
    // The section table moved into the padding after the resource tree, in the
    // last section's file data: that data cannot be cut off and rewritten.
    Stub stub = BuildStub(Options(false, true, false, true));
    const PeFile original(stub.bytes);
    const size_t tableSize = 40 * original.sections.size();
    const size_t moved = stub.tree.root + AlignUp(original.DirectorySize(2), 8);
    ASSERT_LE(moved + tableSize, stub.bytes.size());
    stub.bytes.replace(moved, tableSize, stub.bytes.substr(stub.sectionTable, tableSize));
    Put16(&stub.bytes, stub.optionalHeader - 4, uint16_t(moved - stub.optionalHeader));
    ASSERT_EQ(PeFile(stub.bytes).sections.size(), original.sections.size());

    const std::string payload = wq2test::ReadFile(MakeArchive("p.wq2", "payload"));
    const RunResult result = Make(WriteFile("stub.exe", stub.bytes), Path("p.wq2"), Path("out.exe"));
    ASSERT_EQ(result.code, 0) << result.err;
    const PeFile made(wq2test::ReadFile(Path("out.exe")));
    ASSERT_NE(made.Find("UPDATE", "#102", 1041), nullptr);
    EXPECT_EQ(made.Find("UPDATE", "#102", 1041)->data, payload);
    EXPECT_EQ(made.sections.size(), original.sections.size());
    EXPECT_EQ(made.Bytes().substr(0, stub.bytes.size()).substr(moved + tableSize),
              stub.bytes.substr(moved + tableSize));
    ExpectSoundImage(made);
}

// --- Damage anywhere --------------------------------------------------------------------

// Runs the whole rewrite in-process on `bytes`. When the tool accepts them, the
// image it writes must read back, with the payload in place.
void RewriteMustNotCrash(const std::string& bytes, const std::string& payload) {
    const std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    wq2::pe::PeImage image;
    wq2::pe::ResourceTree tree;
    wq2::pe::RewrittenImage rewritten;
    std::string problem;
    if (!wq2::pe::ReadPeImage(file, &image, &problem) || !wq2::pe::ReadResourceTree(file, image, &tree, &problem)) {
        EXPECT_FALSE(problem.empty());
        return;
    }
    wq2::pe::SetResource(&tree, wq2::pe::ResourceName::Text(u"UPDATE"), wq2::pe::ResourceName::Number(102), 1041,
                         std::span(reinterpret_cast<const uint8_t*>(payload.data()), payload.size()));
    if (!wq2::pe::RewriteResources(file, image, tree, &rewritten, &problem)) {
        EXPECT_FALSE(problem.empty());
        return;
    }
    std::string out;
    for (const auto& piece : rewritten.pieces) {
        out += piece.data ? std::string(reinterpret_cast<const char*>(piece.data), size_t(piece.size))
                          : std::string(size_t(piece.size), '\0');
    }
    try {
        const PeFile made(out);
        const PeFile::Resource* found = made.Find("UPDATE", "#102", 1041);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->data, payload);
        EXPECT_EQ(made.checksum, made.ComputeChecksum());
    } catch (const std::exception& e) {
        FAIL() << "accepted, but the result does not read back: " << e.what();
    }
}

TEST_F(MakeWindowsUpdaterTest, EveryTruncationIsRefusedOrHandled) {
    for (bool pe32Plus : {false, true}) {
        const std::string bytes = BuildStub(Options(pe32Plus, false, true, true)).bytes;
        for (size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE(std::to_string(length) + " bytes");
            RewriteMustNotCrash(bytes.substr(0, length), "payload");
            if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
    }
}

TEST_F(MakeWindowsUpdaterTest, RandomDamageToHeadersAndTreeIsRefusedOrHandled) {
    const Stub stub = BuildStub(Options(false, false, false, true));
    const size_t treeEnd = stub.tree.nameString + 64;
    std::mt19937 random(20240601);
    for (int round = 0; round < 4000; ++round) {
        std::string bytes = stub.bytes;
        const int changes = 1 + int(random() % 4);
        for (int i = 0; i < changes; ++i) {
            // Half in the headers, half in the resource tree.
            const size_t at = random() % 2 == 0 ? random() % kSizeOfHeaders
                                                : stub.tree.root + random() % (treeEnd - stub.tree.root);
            bytes[at] = char(random() % 3 == 0 ? 0xFF : random());
        }
        SCOPED_TRACE("round " + std::to_string(round));
        RewriteMustNotCrash(bytes, "payload");
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

}  // namespace
