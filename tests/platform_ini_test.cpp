// Settings files read through GetPrivateProfileStringA, inside a fake Wine
// prefix: WINEPREFIX names a scratch folder whose dosdevices/c: links to
// another scratch folder.
//
// Results land in heap buffers of exactly the size passed, so a write past
// the end is caught by AddressSanitizer, and the bytes after the terminator
// are pre-filled to show they are left alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform.h"
#include "saved_variable.h"

namespace {

namespace fs = std::filesystem;

constexpr char kFill = '*';

using wq2test::SavedVariable;

struct Result {
    DWORD count;
    std::string text;  // the buffer up to its terminator
};

class IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/wq2-ini-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = fs::canonical(pattern).string();
        driveC_ = root_ + "/drive_c";
        fs::create_directories(root_ + "/prefix/dosdevices");
        fs::create_directories(driveC_);
        fs::create_symlink(driveC_, root_ + "/prefix/dosdevices/c:");
        setenv("WINEPREFIX", (root_ + "/prefix").c_str(), 1);
        oldFolder_ = fs::current_path();
    }

    void TearDown() override {
        fs::current_path(oldFolder_);
        fs::remove_all(root_);
    }

    // Writes content to a path under drive C: (a Unix path, UTF-8 names).
    void WriteOnC(const std::string& rest, const std::string& content) const {
        std::string path = driveC_ + "/" + rest;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    // Calls with a buffer of exactly size bytes and checks that nothing after
    // the terminator was touched.
    static Result Get(const char* section, const char* key, const char* defaultValue, DWORD size,
                      const char* fileName) {
        std::vector<char> buffer(size, kFill);
        DWORD count = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size, fileName);
        std::string text(buffer.data(), strnlen(buffer.data(), size));
        EXPECT_LT(text.size(), size) << "no terminator";
        EXPECT_EQ(count, text.size()) << "count differs from the stored length";
        for (std::size_t i = text.size() + 1; i < size; ++i) {
            EXPECT_EQ(buffer[i], kFill) << "byte " << i << " past the terminator was written";
        }
        return {count, text};
    }

    std::string root_, driveC_;
    fs::path oldFolder_;
    SavedVariable savedPrefix_{"WINEPREFIX"};
};

// ---- What a file's text means ------------------------------------------------

struct ParseCase {
    const char* what;
    std::string text;
    std::string section;
    std::string key;
    std::string expected;  // "<def>" is the default passed in
};

TEST_F(IniTest, ReadsValuesAsWindowsParsesTheFile) {
    // Code page 932 pieces. Each has a second byte that a byte-wise parser
    // takes for something else.
    const std::string cho = "\x83\x5B";    // "ー": second byte "["
    const std::string zo = "\x83\x5D";     // "ゾ": second byte "]"
    const std::string hyo = "\x95\x5C";    // "表": second byte "\"
    const std::string bo = "\x83\x7B";     // "ボ": second byte "{"
    const std::string a = "\x83\x41";      // "ア": second byte "A"
    const std::string chi = "\x83\x61";    // "ヂ": second byte "a", the same letter folded
    const ParseCase cases[] = {
        {"exact names", "[Setup]\r\nCompanyName=Maker\r\n", "Setup", "CompanyName", "Maker"},
        {"names ignore ASCII case", "[Setup]\r\nCompanyName=Maker\r\n", "SETUP", "companyname", "Maker"},
        {"blanks around requested names", "[Setup]\nName=v\n", " Setup\t", "\tName ", "v"},
        {"first duplicate key wins", "[s]\nk=one\nK=two\n", "s", "k", "one"},
        {"first duplicate section wins", "[s]\na=1\n[t]\nb=2\n[S]\na=3\nb=4\n", "s", "a", "1"},
        {"a repeated section adds no keys", "[s]\na=1\n[t]\nb=2\n[S]\na=3\nb=4\n", "s", "b", "<def>"},
        {"keys stay in their section", "[s]\na=1\n[t]\nb=2\n", "t", "a", "<def>"},
        {"keys before any header are in section \"\"", "k=top\n[s]\nk=in\n", "", "k", "top"},
        {"and not in the first section", "k=top\n[s]\nk=in\n", "s", "k", "in"},
        {"blanks around all names and values", " \t[ s\t] \t\n \t k \t= \t v a l \t\n", "s", "k", "v a l"},
        {"blank inside a name", "[s]\nmy key=v\n", "s", "my key", "v"},
        {"empty value is found, not the default", "[s]\nk=\n", "s", "k", ""},
        {"value holding \"=\"", "[s]\nk=a=b\n", "s", "k", "a=b"},
        {"double quotes removed", "[s]\nk=\"v\"\n", "s", "k", "v"},
        {"single quotes removed", "[s]\nk='v'\n", "s", "k", "v"},
        {"blanks inside quotes kept", "[s]\nk=\" v \"\n", "s", "k", " v "},
        {"empty quoted value", "[s]\nk=\"\"\n", "s", "k", ""},
        {"mismatched quotes kept", "[s]\nk=\"v'\n", "s", "k", "\"v'"},
        {"lone quote kept", "[s]\nk=\"\n", "s", "k", "\""},
        {"quote on one side kept", "[s]\nk=\"v\n", "s", "k", "\"v"},
        {"inner quotes kept", "[s]\nk=a\"b\"\n", "s", "k", "a\"b\""},
        {"LF lines", "[s]\na=1\nb=2\n", "s", "b", "2"},
        {"CR LF lines", "[s]\r\na=1\r\nb=2\r\n", "s", "b", "2"},
        {"CR lines", "[s]\ra=1\rb=2\r", "s", "b", "2"},
        {"no line end at the end", "[s]\nb=2", "s", "b", "2"},
        {"line without \"=\" is no key", "[s]\nflag\n", "s", "flag", "<def>"},
        {"comment line is no key", "[s]\n;k=hidden\n", "s", ";k", "<def>"},
        {"indented comment is no key", "[s]\n \t; k=hidden\nk=v\n", "s", "; k", "<def>"},
        {"key after a comment", "[s]\n;k=hidden\nk=v\n", "s", "k", "v"},
        {"\";\" inside a value is data", "[s]\nk=a ; b\n", "s", "k", "a ; b"},
        {"\"[\" line without \"]\" is no header", "[s]\n[t\nk=v\n", "s", "k", "v"},
        {"header ends at the last \"]\"", "[a]b]\nk=v\n", "a]b", "k", "v"},
        {"empty file", "", "s", "k", "<def>"},
        // Code page 932.
        {"two-byte value passed through", "[s]\nk=" + cho + hyo + bo + "\n", "s", "k", cho + hyo + bo},
        {"two-byte value in quotes", "[s]\nk=\"" + hyo + zo + "\"\n", "s", "k", hyo + zo},
        {"two-byte section and key names", "[" + hyo + "]\n" + bo + "=v\n", hyo, bo, "v"},
        {"second byte \"]\" ends no header", "[" + zo + "x]\nk=v\n", zo + "x", "k", "v"},
        {"header whose only \"]\" is a second byte", "[s]\n[" + zo + "\nk=v\n", "s", "k", "v"},
        {"second byte \"[\" starts no header", "[s]\n" + cho + "=v\n", "s", cho, "v"},
        {"second bytes are not folded", "[s]\n" + chi + "=v\n", "s", a, "<def>"},
        {"second bytes match themselves", "[s]\n" + chi + "=v\n", "s", chi, "v"},
        {"stray lead byte before \"=\"", "[s]\nk\x81=v\n", "s", "k\x81", "v"},
        {"stray lead byte before a line end", "[s]\na=1\x81\nb=2\n", "s", "b", "2"},
    };
    for (const ParseCase& c : cases) {
        WriteOnC("conf/test.ini", c.text);
        Result r = Get(c.section.c_str(), c.key.c_str(), "<def>", 256, "C:\\conf\\test.ini");
        EXPECT_EQ(r.text, c.expected) << c.what;
    }
}

// ---- Cutting to the buffer ----------------------------------------------------

TEST_F(IniTest, CutsToTheBufferAtWholeCharacters) {
    // "abc" then "表" (0x95 0x5C): five bytes. A character that does not fit
    // whole is left out, so the buffer never ends in a lone lead byte.
    WriteOnC("cut.ini", "[s]\nk=abc\x95\x5C\nq=\"ab\"\n");
    struct Row {
        const char* key;
        DWORD size;
        std::string expected;
    } rows[] = {
        {"k", 1, ""},
        {"k", 2, "a"},
        {"k", 4, "abc"},
        {"k", 5, "abc"},  // four bytes of room: "表" would be split
        {"k", 6, "abc\x95\x5C"},
        {"k", 100, "abc\x95\x5C"},
        // Quotes go before the cut, so the closing one never uses room.
        {"q", 3, "ab"},
        {"q", 2, "a"},
        // The default is cut the same way.
        {"missing", 3, "de"},
        {"missing", 100, "def\x95\x5C"},
        {"missing", 5, "def"},
    };
    for (const Row& row : rows) {
        Result r = Get("s", row.key, "def\x95\x5C", row.size, "C:\\cut.ini");
        EXPECT_EQ(r.text, row.expected) << row.key << " size " << row.size;
        EXPECT_EQ(r.count, row.expected.size()) << row.key << " size " << row.size;
    }
}

TEST_F(IniTest, NullOrEmptyBufferGetsNothing) {
    WriteOnC("a.ini", "[s]\nk=value\n");
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", nullptr, 10, "C:\\a.ini"), 0u);
    char untouched = kFill;
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", &untouched, 0, "C:\\a.ini"), 0u);
    EXPECT_EQ(untouched, kFill);
}

// ---- The default --------------------------------------------------------------

TEST_F(IniTest, DefaultStandsInForWhatIsMissing) {
    WriteOnC("conf/a.ini", "[s]\nk=value\n");
    fs::create_directories(driveC_ + "/conf/folder.ini");
    struct Row {
        const char* what;
        const char* section;
        const char* key;
        const char* fileName;
    } rows[] = {
        {"missing file", "s", "k", "C:\\conf\\none.ini"},
        {"missing folder", "s", "k", "C:\\none\\a.ini"},
        {"missing drive", "s", "k", "Q:\\conf\\a.ini"},
        {"a folder, not a file", "s", "k", "C:\\conf\\folder.ini"},
        {"null file name", "s", "k", nullptr},
        {"missing section", "t", "k", "C:\\conf\\a.ini"},
        {"missing key", "s", "x", "C:\\conf\\a.ini"},
        {"null section", nullptr, "k", "C:\\conf\\a.ini"},
        {"null key", "s", nullptr, "C:\\conf\\a.ini"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Get(row.section, row.key, "fallback", 64, row.fileName).text, "fallback") << row.what;
    }
}

TEST_F(IniTest, DefaultIsCleanedLikeAValue) {
    struct Row {
        const char* defaultValue;
        std::string expected;
    } rows[] = {
        {nullptr, ""},
        {"", ""},
        {"d  ", "d"},         // trailing spaces go
        {"  d", "  d"},       // leading ones stay
        {"d\t", "d\t"},       // only spaces are dropped from the end
        {"\"d\"", "d"},       // a quote pair goes
        {"\" d \"  ", " d "}, // spaces first, then the quotes
        {"'d\"", "'d\""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Get("s", "k", row.defaultValue, 64, "C:\\none.ini").text, row.expected)
            << (row.defaultValue ? row.defaultValue : "(null)");
    }
}

// ---- Finding and reading the file ---------------------------------------------

TEST_F(IniTest, FindsTheFileThroughThePrefix) {
    WriteOnC("Game/Data/Setup.ini", "[s]\nk=mapped\n");
    WriteOnC("\xE8\xA1\xA8/a.ini", "[s]\nk=two-byte folder\n");  // "表" in UTF-8 on disk
    struct Row {
        const char* fileName;
        const char* expected;
    } rows[] = {
        {"C:\\Game\\Data\\Setup.ini", "mapped"},
        {"c:\\GAME\\data\\SETUP.INI", "mapped"},
        {"C:/Game/Data/Setup.ini", "mapped"},
        {"C:\\\x95\x5C\\a.ini", "two-byte folder"},  // the 0x5C inside "表" is no separator
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Get("s", "k", "<def>", 64, row.fileName).text, row.expected) << row.fileName;
    }
}

TEST_F(IniTest, BareNameIsInTheWindowsFolderNotTheCurrentOne) {
    WriteOnC("windows/bare.ini", "[s]\nk=windows folder\n");
    WriteOnC("work/bare.ini", "[s]\nk=current folder\n");
    WriteOnC("windows/\xE8\xA1\xA8.ini", "[s]\nk=two-byte name\n");
    WriteOnC("work/sub/rel.ini", "[s]\nk=relative\n");
    fs::current_path(driveC_ + "/work");
    EXPECT_EQ(Get("s", "k", "<def>", 64, "bare.ini").text, "windows folder");
    EXPECT_EQ(Get("s", "k", "<def>", 64, "\x95\x5C.ini").text, "two-byte name");
    // With a folder in it, the name is relative to the current folder.
    EXPECT_EQ(Get("s", "k", "<def>", 64, "sub\\rel.ini").text, "relative");
    EXPECT_EQ(Get("s", "k", "<def>", 64, ".\\bare.ini").text, "current folder");
}

TEST_F(IniTest, RereadsTheFileOnEveryCall) {
    WriteOnC("a.ini", "[s]\nk=old\n");
    EXPECT_EQ(Get("s", "k", "<def>", 64, "C:\\a.ini").text, "old");
    WriteOnC("a.ini", "[s]\nk=new\n");
    EXPECT_EQ(Get("s", "k", "<def>", 64, "C:\\a.ini").text, "new");
}

TEST_F(IniTest, FilesOverTheCapAreReadAsMissing) {
    const std::size_t cap = 1u << 20;
    std::string atCap = "[s]\nk=found\n";
    atCap.resize(cap, ' ');
    WriteOnC("at_cap.ini", atCap);
    WriteOnC("over_cap.ini", atCap + " ");
    EXPECT_EQ(Get("s", "k", "<def>", 64, "C:\\at_cap.ini").text, "found");
    EXPECT_EQ(Get("s", "k", "<def>", 64, "C:\\over_cap.ini").text, "<def>");
}

TEST_F(IniTest, FifoIsReadAsMissingWithoutBlocking) {
    ASSERT_EQ(mkfifo((driveC_ + "/pipe.ini").c_str(), 0600), 0);
    EXPECT_EQ(Get("s", "k", "<def>", 64, "C:\\pipe.ini").text, "<def>");
}

}  // namespace

namespace {

// ---- Hostile files ------------------------------------------------------------

// size bytes from a fixed seed: NULs, CRs, brackets, "=" and code page 932
// lead bytes all turn up.
std::string Junk(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

struct HostileCase {
    const char* what;
    std::string text;
    std::string section;
    std::string key;
    std::optional<std::string> expected;  // none: any sane answer
};

TEST_F(IniTest, HostileFilesGiveSaneAnswers) {
    // Junk that ends in code page 932 lead bytes, the last with no byte after it.
    const std::string junk = Junk(64 * 1024, 20240611) + std::string("\0\x81\x9F\xE0\xFC", 5);
    const std::size_t cap = 1u << 20;
    const std::string nearCap(cap - 100, 'x');
    std::string manySections;
    for (int i = 0; i < 50000; ++i) {
        manySections += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    }

    const HostileCase cases[] = {
        {"junk", junk, "s", "k", std::nullopt},
        {"junk, section \"\"", junk, "", "k", std::nullopt},
        {"junk after the value", "[s]\nk=v\n" + junk, "s", "k", "v"},
        {"junk before the value", junk + "\n[s]\nk=v\n", "s", "k", "v"},
        {"nothing but NULs", std::string(cap, '\0'), "s", "k", "<def>"},
        // Headers.
        {"header not closed", "[SETUP\nk=v\n", "SETUP", "k", "<def>"},
        {"header not closed leaves the keys in section \"\"", "[SETUP\nk=v\n", "", "k", "v"},
        {"header not closed at the end of the file", "k=v\n[SETUP", "", "k", "v"},
        {"header whose \"]\" follows a lead byte", "[s\x81]\nk=v\n", "", "k", "v"},
        {"NUL inside a section name", std::string("[s\0t]\nk=v\n", 10), "s", "k", "<def>"},
        // Keys and values.
        {"line without \"=\"", "[s]\nflag\nk=v\n", "s", "flag", "<def>"},
        {"and the key after it", "[s]\nflag\nk=v\n", "s", "k", "v"},
        {"quoted value not closed at the end of the file", "[s]\nk=\"abc", "s", "k", "\"abc"},
        {"quoted value not closed, next line", "[s]\nk=\"abc\nj=w\n", "s", "j", "w"},
        {"lone lead byte at the end of a line", "[s]\nk=v\x81\nj=w\n", "s", "k", "v\x81"},
        {"and the line after it", "[s]\nk=v\x81\nj=w\n", "s", "j", "w"},
        {"lone lead byte before CR LF", "[s]\r\nk=v\x81\r\nj=w\r\n", "s", "k", "v\x81"},
        {"lone lead byte at the end of the file", "[s]\nk=v\xFC", "s", "k", "v\xFC"},
        {"lone lead byte before the closing quote", "[s]\nk=\"v\x81\"\n", "s", "k", "v\x81"},
        {"NUL inside a value", std::string("[s]\nk=ab\0cd\n", 12), "s", "k", "ab"},
        {"NUL inside a quoted value", std::string("[s]\nk=\"ab\0cd\"\n", 14), "s", "k", "ab"},
        {"NUL first in a value", std::string("[s]\nk=\0cd\n", 10), "s", "k", ""},
        {"empty key name", "[s]\n=v\n", "s", "k", "<def>"},
        // Line ends.
        {"CR-only line ends", "[s]\rk=v\rj=w", "s", "j", "w"},
        {"CR CR LF line ends", "[s]\r\r\nk=v\r\r\nj=w\r\r\n", "s", "j", "w"},
        {"LF CR line ends", "[s]\n\rk=v\n\rj=w\n\r", "s", "j", "w"},
        // Size.
        {"a value just under the cap", "[s]\nk=" + nearCap + "\n", "s", "k", nearCap},
        {"a line of several megabytes", "[s]\nk=" + std::string(3 * cap, 'x') + "\n", "s", "k", "<def>"},
        {"one byte over the cap", "[s]\nk=v\n" + std::string(cap - 7, ' '), "s", "k", "<def>"},
        {"50000 sections, the wanted one last", manySections, "s49999", "k", "49999"},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        WriteOnC("hostile.ini", c.text);
        // The whole answer first, then buffers of every kind of small size:
        // each must hold a whole-character beginning of the whole answer.
        const DWORD full = static_cast<DWORD>((c.expected ? c.expected->size() : 0) + 4096);
        Result whole = Get(c.section.c_str(), c.key.c_str(), "<def>", full, "C:\\hostile.ini");
        if (c.expected) {
            EXPECT_EQ(whole.text, *c.expected);
        }
        for (DWORD size : {1u, 2u, 3u, 4u, 7u, 64u}) {
            Result cut = Get(c.section.c_str(), c.key.c_str(), "<def>", size, "C:\\hostile.ini");
            EXPECT_EQ(whole.text.compare(0, cut.text.size(), cut.text), 0) << "size " << size;
            // At most one two-byte character that did not fit is left out.
            EXPECT_GE(cut.text.size() + 1, std::min<std::size_t>(whole.text.size(), size - 1)) << "size " << size;
        }
    }
}

}  // namespace
