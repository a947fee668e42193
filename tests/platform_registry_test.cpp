// The current user's registry read from a Wine prefix's user.reg.
//
// Every test writes its own user.reg into a scratch prefix named by
// WINEPREFIX. The file texts follow what Wine itself writes (observed with
// its "reg add"): doubled backslashes in key paths, "\xHHHH" for everything
// beyond ASCII, padded to four digits only before a hex digit, octal and
// "\e" for control characters, and long hex lists folded over indented
// lines.
#include <gtest/gtest.h>

#include <unistd.h>

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

const char kHeader[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                       "#arch=win64\n\n";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/wq2-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        prefix_ = pattern;
        setenv("WINEPREFIX", prefix_.c_str(), 1);
    }

    void TearDown() override { fs::remove_all(prefix_); }

    void WriteRaw(const std::string& text) {
        std::ofstream out(prefix_ + "/user.reg", std::ios::binary | std::ios::trunc);
        out << text;
    }

    void WriteUserReg(const std::string& body) { WriteRaw(kHeader + body); }

    std::string prefix_;
    wq2test::SavedVariable savedPrefix_{"WINEPREFIX"};
};

// Opens key under HKEY_CURRENT_USER, reads one value and closes the key.
struct Read {
    LSTATUS open = -1;
    LSTATUS query = -1;
    DWORD type = 0xFFFFFFFFu;
    std::string data;
};

Read ReadValue(const char* keyPath, const char* valueName) {
    Read r;
    HKEY key = nullptr;
    r.open = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key);
    if (r.open != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        EXPECT_EQ(key, nullptr);
        return r;
    }
    std::vector<BYTE> buffer(4096);
    auto size = static_cast<DWORD>(buffer.size());
    r.query = RegQueryValueExA(key, valueName, nullptr, &r.type, buffer.data(), &size);
    if (r.query == static_cast<LSTATUS>(ERROR_SUCCESS)) {
        r.data.assign(reinterpret_cast<const char*>(buffer.data()), size);
    }
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_SUCCESS));
    return r;
}

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

const char kGameKey[] = "[Software\\\\Maker\\\\Game] 1700000000\n#time=1dd893e91137c56\n";

struct ValueCase {
    const char* what;
    std::string body;  // after the header
    const char* key;
    const char* value;
    LSTATUS open;
    LSTATUS query;  // when the open succeeds
    DWORD type;     // when the query succeeds
    std::string data;
};

TEST_F(RegistryTest, ReadsValuesAsWineWritesThem) {
    const std::string game = kGameKey;
    const LSTATUS ok = ERROR_SUCCESS;
    const LSTATUS missing = ERROR_FILE_NOT_FOUND;
    std::string longHex =
        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
        "  15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,\\\n"
        "  2d,2e,2f\n";
    std::string longBytes;
    for (int i = 0; i < 0x30; ++i) {
        longBytes.push_back(static_cast<char>(i));
    }

    const ValueCase cases[] = {
        {"path and name ignore ASCII case", game + "\"InstPath\"=\"C:\\\\Game\"\n", "software\\MAKER\\game",
         "INSTPATH", ok, ok, REG_SZ, Bytes("C:\\Game", 8)},
        {"doubled backslashes", game + "\"Dir\"=\"C:\\\\Games\\\\Foo\"\n", "Software\\Maker\\Game", "Dir", ok, ok,
         REG_SZ, Bytes("C:\\Games\\Foo", 13)},
        {"UTF-16 escape to CP932", game + "\"Kana\"=\"\\x30a2\\x30a4\"\n", "Software\\Maker\\Game", "Kana", ok, ok,
         REG_SZ, Bytes("\x83\x41\x83\x43", 5)},
        {"an escape takes at most four hex digits", game + "\"K\"=\"\\x30a2ab\"\n", "Software\\Maker\\Game", "K",
         ok, ok, REG_SZ, Bytes("\x83\x41" "ab", 5)},
        {"plain UTF-8 outside escapes", game + "\"K\"=\"\xE3\x82\xA2x\"\n", "Software\\Maker\\Game", "K", ok, ok,
         REG_SZ, Bytes("\x83\x41x", 4)},
        {"C-style escapes", game + "\"K\"=\"a\\\"b\\\\c\\n\\r\\t\\0d\"\n", "Software\\Maker\\Game", "K", ok, ok,
         REG_SZ, Bytes("a\"b\\c\n\r\t\0d", 11)},
        {"octal and \\e", game + "\"K\"=\"\\1b\\ec\\101\\0777\"\n", "Software\\Maker\\Game", "K", ok, ok, REG_SZ,
         Bytes("\x01" "b\x1b" "cA\x3f" "7", 8)},
        {"no CP932 form", game + "\"K\"=\"caf\\xe9\"\n", "Software\\Maker\\Game", "K", ok, missing, 0, ""},
        {"surrogate pair with no CP932 form", game + "\"K\"=\"\\xd83d\\xde00\"\n", "Software\\Maker\\Game", "K", ok,
         missing, 0, ""},
        {"lone surrogate", game + "\"K\"=\"\\xd83dx\"\n", "Software\\Maker\\Game", "K", ok, missing, 0, ""},
        {"empty string", game + "\"K\"=\"\"\n", "Software\\Maker\\Game", "K", ok, ok, REG_SZ, Bytes("", 1)},
        {"dword", game + "\"Dw\"=dword:0000000a\n", "Software\\Maker\\Game", "Dw", ok, ok, REG_DWORD,
         Bytes("\x0a\0\0\0", 4)},
        {"dword is little-endian", game + "\"Dw\"=dword:12345678\n", "Software\\Maker\\Game", "Dw", ok, ok,
         REG_DWORD, Bytes("\x78\x56\x34\x12", 4)},
        {"hex", game + "\"Bin\"=hex:01,02,ff\n", "Software\\Maker\\Game", "Bin", ok, ok, REG_BINARY,
         Bytes("\x01\x02\xff", 3)},
        {"empty hex", game + "\"Bin\"=hex:\n", "Software\\Maker\\Game", "Bin", ok, ok, REG_BINARY, ""},
        {"hex over continuation lines", game + longHex, "Software\\Maker\\Game", "Long", ok, ok, REG_BINARY,
         longBytes},
        {"str(2)", game + "\"Exp\"=str(2):\"%WINDIR%\\\\x\"\n", "Software\\Maker\\Game", "Exp", ok, ok,
         REG_EXPAND_SZ, Bytes("%WINDIR%\\x", 11)},
        {"str(7) keeps its NULs", game + "\"Multi\"=str(7):\"a\\0b\\0\"\n", "Software\\Maker\\Game", "Multi", ok,
         ok, REG_MULTI_SZ, Bytes("a\0b\0", 5)},
        {"hex(2) string is UTF-16LE", game + "\"Exp\"=hex(2):41,00,a2,30,00,00\n", "Software\\Maker\\Game", "Exp",
         ok, ok, REG_EXPAND_SZ, Bytes("A\x83\x41", 4)},
        {"hex(b) keeps its type", game + "\"Q\"=hex(b):05,00,00,00,00,00,00,00\n", "Software\\Maker\\Game", "Q",
         ok, ok, REG_QWORD, Bytes("\x05\0\0\0\0\0\0\0", 8)},
        {"default value by null name", game + "@=\"Default\"\n\"Other\"=\"x\"\n", "Software\\Maker\\Game",
         nullptr, ok, ok, REG_SZ, Bytes("Default", 8)},
        {"default value by empty name", game + "\"Other\"=\"x\"\n@=\"Default\"\n", "Software\\Maker\\Game", "",
         ok, ok, REG_SZ, Bytes("Default", 8)},
        {"no default value", game + "\"Other\"=\"x\"\n", "Software\\Maker\\Game", nullptr, ok, missing, 0, ""},
        {"escaped quote in a name", game + "\"Quote\\\"Name\"=\"a\\\"b\"\n", "Software\\Maker\\Game",
         "Quote\"Name", ok, ok, REG_SZ, Bytes("a\"b", 4)},
        {"CP932 value name", game + "\"\\x30b2\\x30fc\\x30e0\"=\"x\"\n", "Software\\Maker\\Game",
         "\x83\x51\x81\x5B\x83\x80", ok, ok, REG_SZ, Bytes("x", 2)},
        {"missing value", game + "\"InstPath\"=\"C:\\\\Game\"\n", "Software\\Maker\\Game", "InstPat", ok,
         missing, 0, ""},
        {"missing key", game + "\"InstPath\"=\"x\"\n", "Software\\Maker\\Gam", "InstPath", missing, 0, 0, ""},
        {"CRLF line ends", "[Software\\\\Maker\\\\Game] 1700000000\r\n\"InstPath\"=\"C:\\\\Game\"\r\n",
         "Software\\Maker\\Game", "InstPath", ok, ok, REG_SZ, Bytes("C:\\Game", 8)},
        {"a later line replaces an earlier one", game + "\"K\"=\"old\"\n\"k\"=\"new\"\n", "Software\\Maker\\Game",
         "K", ok, ok, REG_SZ, Bytes("new", 4)},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        WriteUserReg(c.body);
        Read r = ReadValue(c.key, c.value);
        ASSERT_EQ(r.open, c.open);
        if (c.open != ok) {
            continue;
        }
        ASSERT_EQ(r.query, c.query);
        if (c.query == ok) {
            EXPECT_EQ(r.type, c.type);
            EXPECT_EQ(r.data, c.data);
        }
    }
}

struct KeyCase {
    const char* what;
    const char* key;
    LSTATUS open;
    const char* instPath;  // the key's "InstPath" when it opens, or null when it has none
};

// Which request opens which section.
TEST_F(RegistryTest, FindsKeysBySection) {
    WriteUserReg(
        "[Software\\\\Aaa] 1700000000\n\"InstPath\"=\"before\"\n\n"
        "[Software\\\\Maker\\\\Game] 1700000000\n#time=1dd893e91137c56\n\"InstPath\"=\"game\"\n\n"
        "[Software\\\\Maker\\\\Game\\\\Sub Key] 1700000000\n\"InstPath\"=\"sub\"\n\n"
        "[Software\\\\Br\\[a\\]ck=et\"] 1700000000\n\"InstPath\"=\"brackets\"\n\n"
        "[Software\\\\\\x30c2] 1700000000\n\"InstPath\"=\"di\"\n\n"
        "[Software\\\\\\x8868\\x793a] 1700000000\n\"InstPath\"=\"hyoji\"\n\n"
        "[Software\\\\Zzz] 1700000000\n\"InstPath\"=\"after\"\n");
    const LSTATUS ok = ERROR_SUCCESS;
    const LSTATUS missing = ERROR_FILE_NOT_FOUND;
    const KeyCase cases[] = {
        {"exact", "Software\\Maker\\Game", ok, "game"},
        {"another case", "SOFTWARE\\maker\\GAME", ok, "game"},
        {"a subkey's values stay in the subkey", "Software\\Maker\\Game\\Sub Key", ok, "sub"},
        {"a key with only subkeys has no section but exists", "Software\\Maker", ok, nullptr},
        {"the root", "", ok, nullptr},
        {"a name that is a prefix of a key's name", "Software\\Mak", missing, nullptr},
        {"a key's name followed by more", "Software\\Maker\\Games", missing, nullptr},
        {"below an existing key", "Software\\Maker\\Game\\None", missing, nullptr},
        {"escaped brackets", "Software\\Br[a]ck=et\"", ok, "brackets"},
        // 0x83 0x41 is "ア"; folding its trail byte as an ASCII letter would
        // give 0x83 0x61, which is "ヂ".
        {"CP932 trail bytes are not letters", "Software\\\x83\x41", missing, nullptr},
        {"CP932 key", "Software\\\x83\x61", ok, "di"},
        // "表示" in CP932 has 0x5C, the byte of "\", as its second byte.
        {"CP932 trail byte 0x5C is no separator", "Software\\\x95\x5C\x8E\xA6", ok, "hyoji"},
        {"bytes that are not CP932", "Software\\\xFF", missing, nullptr},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.what);
        Read r = ReadValue(c.key, "InstPath");
        ASSERT_EQ(r.open, c.open);
        if (c.open != ok) {
            continue;
        }
        if (c.instPath) {
            ASSERT_EQ(r.query, ok);
            EXPECT_EQ(r.data, std::string(c.instPath) + '\0');
        } else {
            EXPECT_EQ(r.query, missing);
        }
    }
}

// Files that hold no readable key.
TEST_F(RegistryTest, UnreadableFileIsMissingKey) {
    const LSTATUS missing = ERROR_FILE_NOT_FOUND;
    const std::string key = kGameKey;

    EXPECT_EQ(ReadValue("Software\\Maker\\Game", "InstPath").open, missing) << "no user.reg";
    EXPECT_EQ(ReadValue("", "InstPath").open, missing) << "no user.reg, the root";

    fs::create_directory(prefix_ + "/user.reg");
    EXPECT_EQ(ReadValue("Software\\Maker\\Game", "InstPath").open, missing) << "a folder";
    fs::remove(prefix_ + "/user.reg");

    WriteRaw(key + "\"InstPath\"=\"x\"\n");
    EXPECT_EQ(ReadValue("Software\\Maker\\Game", "InstPath").open, missing) << "no header";

    WriteUserReg(key + "\"InstPath\"=\"x\"\n");
    ASSERT_EQ(ReadValue("Software\\Maker\\Game", "InstPath").query, static_cast<LSTATUS>(ERROR_SUCCESS));
    fs::resize_file(prefix_ + "/user.reg", 64 * 1024 * 1024 + 1);  // sparse; never read
    EXPECT_EQ(ReadValue("Software\\Maker\\Game", "InstPath").open, missing) << "over 64 MiB";
}

TEST_F(RegistryTest, BufferSizes) {
    WriteUserReg(std::string(kGameKey) + "\"InstPath\"=\"C:\\\\Game\"\n\"Dw\"=dword:00000007\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Game", 0, KEY_QUERY_VALUE, &key),
              static_cast<LSTATUS>(ERROR_SUCCESS));
    const DWORD needed = 8;  // "C:\Game" and its NUL

    // One byte short: only room for the text without its NUL.
    BYTE buffer[16];
    std::memset(buffer, 'z', sizeof buffer);
    DWORD size = needed - 1;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "InstPath", nullptr, &type, buffer, &size), static_cast<LSTATUS>(ERROR_MORE_DATA));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer[0], 'z') << "the buffer is left alone";

    size = needed;
    ASSERT_EQ(RegQueryValueExA(key, "InstPath", nullptr, &type, buffer, &size), static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), Bytes("C:\\Game", 8));
    EXPECT_EQ(buffer[needed], 'z') << "nothing past the value";

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Dw", nullptr, nullptr, buffer, &size), static_cast<LSTATUS>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 4u);

    size = 12345;
    EXPECT_EQ(RegQueryValueExA(key, "InstPath", nullptr, nullptr, nullptr, &size), static_cast<LSTATUS>(ERROR_SUCCESS))
        << "size only";
    EXPECT_EQ(size, needed);

    type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Dw", nullptr, &type, nullptr, nullptr), static_cast<LSTATUS>(ERROR_SUCCESS))
        << "type only";
    EXPECT_EQ(type, REG_DWORD);

    EXPECT_EQ(RegQueryValueExA(key, "Dw", nullptr, nullptr, buffer, nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER))
        << "data without a size";
    DWORD reserved = 0;
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Dw", &reserved, nullptr, buffer, &size),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_SUCCESS));
}

TEST_F(RegistryTest, Handles) {
    WriteUserReg(std::string(kGameKey) + "\"InstPath\"=\"old\"\n\n[Software\\\\Maker\\\\Game\\\\Sub] 1\n\"V\"=\"sub\"\n");
    const LSTATUS ok = ERROR_SUCCESS;

    HKEY maker = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker", 0, KEY_READ, &maker), ok);
    HKEY game = nullptr;
    ASSERT_EQ(RegOpenKeyExA(maker, "game", 0, KEY_READ, &game), ok) << "relative to an open key";
    HKEY sub = nullptr;
    ASSERT_EQ(RegOpenKeyExA(game, "Sub", 0, KEY_READ, &sub), ok);
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExA(game, nullptr, 0, KEY_READ, &again), ok) << "the same key again";

    // The values were read at the open; a later change to the file is not seen.
    WriteUserReg("");
    BYTE buffer[16];
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(again, "InstPath", nullptr, nullptr, buffer, &size), ok);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), Bytes("old", 4));
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(sub, "V", nullptr, nullptr, buffer, &size), ok);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), Bytes("sub", 4));
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(game, "Sub", 0, KEY_READ, &gone), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND))
        << "a new open reads the file anew";

    for (HKEY key : {again, sub, game, maker}) {
        EXPECT_EQ(RegCloseKey(key), ok);
    }
    EXPECT_EQ(RegCloseKey(game), static_cast<LSTATUS>(ERROR_INVALID_HANDLE)) << "closed twice";
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(game, "InstPath", nullptr, nullptr, buffer, &size),
              static_cast<LSTATUS>(ERROR_INVALID_HANDLE))
        << "closed key";
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "InstPath", nullptr, nullptr, buffer, &size),
              static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegOpenKeyExA(game, "Sub", 0, KEY_READ, &gone), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
}

TEST_F(RegistryTest, OnlyReadAccessIsServed) {
    WriteUserReg(std::string(kGameKey) + "\"InstPath\"=\"x\"\n");
    const REGSAM kSetValue = 0x0002;
    const REGSAM kWrite = 0x20006;
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Game", 0, kSetValue, &key),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Game", 0, KEY_READ | kWrite, &key),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));

    // Opened to list subkeys only: its values cannot be read.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Game", 0, KEY_ENUMERATE_SUB_KEYS, &key),
              static_cast<LSTATUS>(ERROR_SUCCESS));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "InstPath", nullptr, nullptr, nullptr, &size),
              static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_SUCCESS));

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Game", 0, KEY_READ | KEY_WOW64_32KEY, &key),
              static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_SUCCESS));
}

// Broken lines are passed over without harming the lines around them.
TEST_F(RegistryTest, GarbageLines) {
    const std::string body =
        "[Software\\\\Maker\\\\Game] 1700000000\n"
        "\"Before\"=\"ok\"\n"
        "\"Open=\"x\"\n"
        "\"NoEquals\"\"x\"\n"
        "\"Unclosed\"=\"abc\n"
        "\"BadDword\"=dword:xyz\n"
        "\"LongDword\"=dword:123456789\n"
        "\"BadHex\"=hex:01,,02\n"
        "\"BadHex2\"=hex:0g\n"
        "\"BadType\"=hex(:01\n"
        "\"Trailing\"=\"a\"b\n"
        "\"EndsInEscape\"=\"abc\\\n"
        "\"Utf8\"=\"\xE3\x82\"\n"
        "\"Unknown\"=float:1.0\n"
        "\"HexEndsInBackslash\"=hex:01,\\\n"
        "[Software\\\\Maker\\\\Next] 1700000000\n"
        "\"InNext\"=\"next\"\n"
        "[Software\\\\Maker\\\\Game] 1700000000\n"
        "\"After\"=\"ok\"\n"
        "[Software\\\\Unclosed\n"
        "\"Lost\"=\"x\"\n"
        "@\n"
        "\"\n"
        "[\n"
        "\\\n";
    WriteUserReg(body);
    for (const char* name : {"Before", "After"}) {
        SCOPED_TRACE(name);
        Read r = ReadValue("Software\\Maker\\Game", name);
        EXPECT_EQ(r.query, static_cast<LSTATUS>(ERROR_SUCCESS));
        EXPECT_EQ(r.data, Bytes("ok", 3));
    }
    for (const char* name : {"Open", "NoEquals", "Unclosed", "BadDword", "LongDword", "BadHex", "BadHex2", "BadType",
                             "Trailing", "EndsInEscape", "Utf8", "Unknown", "HexEndsInBackslash", "Lost"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadValue("Software\\Maker\\Game", name).query, static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    }
    Read next = ReadValue("Software\\Maker\\Next", "InNext");
    EXPECT_EQ(next.query, static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(ReadValue("Software\\Maker\\Game", "InNext").query, static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND))
        << "a stray \"\\\" at the end of a hex line swallows no section header";
    EXPECT_EQ(ReadValue("Software\\Unclosed", "Lost").open, static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));

    // Cut short anywhere, the file still reads without a fault (ASan watches).
    const std::string whole = kHeader + body;
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        WriteRaw(whole.substr(0, cut));
        ReadValue("Software\\Maker\\Game", "After");
        ReadValue("Software\\Maker\\Game", "HexEndsInBackslash");
    }
}

}  // namespace

// ---- A user.reg that Wine itself wrote --------------------------------------
//
// tests/fixtures/wine_user.reg is a new prefix's user.reg after
// tests/fixtures/make_wine_user_reg.sh added one game's key with "reg add".
// It holds everything a fresh prefix has around that key: folded hex lists,
// str(2) values, keys with only subkeys.
class WineWrittenRegistryTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        fs::copy_file(WQ2_FIXTURE_DIR "/wine_user.reg", prefix_ + "/user.reg");
    }
};

TEST_F(WineWrittenRegistryTest, ReadsTheGameKeyInCodePage932) {
    // "デモ工房": "房" is 0x96 0x5B, a second byte that looks like "[".
    const std::string company = "\x83\x66\x83\x82\x8D\x48\x96\x5B";
    // "表示デモ": "表" is 0x95 0x5C, a second byte that looks like "\".
    const std::string hyojiDemo = "\x95\x5C\x8E\xA6\x83\x66\x83\x82";
    const std::string install = "C:\\Games\\" + hyojiDemo;
    // "C:\Games\表示デモ\データ\ソース": "ソ" is 0x83 0x5C, "ー" 0x81 0x5B.
    const std::string data = install + "\\\x83\x66\x81\x5B\x83\x5E\\\x83\x5C\x81\x5B\x83\x58";

    const std::string spellings[] = {
        "Software\\" + company + "\\" + hyojiDemo + " Game",
        "SOFTWARE\\" + company + "\\" + hyojiDemo + " GAME",
        "software\\" + company + "\\" + hyojiDemo + " gAmE",
    };
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } values[] = {
        {"InstPath", REG_SZ, install + '\0'},
        {"DataPath", REG_SZ, data + '\0'},
        {"InstMode", REG_DWORD, Bytes("\x02\0\0\0", 4)},
        {"instadd", REG_DWORD, Bytes("\xCD\xAB\x34\x12", 4)},
    };
    for (const std::string& key : spellings) {
        for (const auto& v : values) {
            SCOPED_TRACE(key + " " + v.name);
            Read r = ReadValue(key.c_str(), v.name);
            ASSERT_EQ(r.open, static_cast<LSTATUS>(ERROR_SUCCESS));
            ASSERT_EQ(r.query, static_cast<LSTATUS>(ERROR_SUCCESS));
            EXPECT_EQ(r.type, v.type);
            EXPECT_EQ(r.data, v.data);
        }
    }

    // Wine writes no section for the company key, which holds only the
    // game's key; it opens all the same, and the game opens below it.
    HKEY maker = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, ("Software\\" + company).c_str(), 0, KEY_READ, &maker),
              static_cast<LSTATUS>(ERROR_SUCCESS));
    HKEY game = nullptr;
    ASSERT_EQ(RegOpenKeyExA(maker, (hyojiDemo + " game").c_str(), 0, KEY_READ, &game),
              static_cast<LSTATUS>(ERROR_SUCCESS));
    BYTE buffer[64];
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(game, "InstPath", nullptr, nullptr, buffer, &size),
              static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), install + '\0');
    EXPECT_EQ(RegCloseKey(game), static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(maker), static_cast<LSTATUS>(ERROR_SUCCESS));
}

TEST_F(WineWrittenRegistryTest, ReadsTheOtherFormsWineWrites) {
    // A LOGFONTW (92 bytes) listed over four folded lines.
    Read font = ReadValue("Control Panel\\Desktop\\WindowMetrics", "CaptionFont");
    ASSERT_EQ(font.query, static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(font.type, REG_BINARY);
    ASSERT_EQ(font.data.size(), 92u);
    EXPECT_EQ(font.data.substr(0, 4), "\xF4\xFF\xFF\xFF");  // height -12
    EXPECT_EQ(font.data.substr(88), Bytes("\0\0\0\0", 4));

    Read fonts = ReadValue("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "Fonts");
    ASSERT_EQ(fonts.query, static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_EQ(fonts.type, REG_EXPAND_SZ);
    EXPECT_EQ(fonts.data, Bytes("C:\\windows\\Fonts", 17));
}

// ---- Hostile files ------------------------------------------------------------

// size bytes from a fixed seed: NULs, CRs, quotes, brackets, backslashes and
// code page 932 lead bytes all turn up.
std::string Junk(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// What a hostile case must give; kAnything only asks for no fault and a
// consistent answer.
struct Outcome {
    enum Kind { kAnything, kNoKey, kNoValue, kValue } kind;
    DWORD type = 0;
    std::string data;
};

const Outcome kAnything{Outcome::kAnything, 0, ""};
const Outcome kNoKey{Outcome::kNoKey, 0, ""};
const Outcome kNoValue{Outcome::kNoValue, 0, ""};
Outcome Sz(const std::string& text) { return {Outcome::kValue, REG_SZ, text + '\0'}; }
Outcome Binary(DWORD type, const std::string& bytes) { return {Outcome::kValue, type, bytes}; }

struct HostileCase {
    const char* what;
    std::string file;  // the whole user.reg
    const char* key;
    const char* value;
    Outcome outcome;
};

// Opens key and asks for value as callers do: the size alone, a heap buffer
// one byte short, and one of exactly the size, so a write past the end or a
// disagreement between the answers shows.
Read Probe(const char* keyPath, const char* valueName) {
    Read r;
    HKEY key = nullptr;
    r.open = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key);
    if (r.open != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        return r;
    }
    DWORD size = 0;
    r.query = RegQueryValueExA(key, valueName, nullptr, &r.type, nullptr, &size);
    if (r.query == static_cast<LSTATUS>(ERROR_SUCCESS)) {
        const DWORD needed = size;
        if (needed > 1) {
            std::vector<BYTE> small(needed - 1);
            size = needed - 1;
            EXPECT_EQ(RegQueryValueExA(key, valueName, nullptr, nullptr, small.data(), &size),
                      static_cast<LSTATUS>(ERROR_MORE_DATA));
            EXPECT_EQ(size, needed);
        }
        std::vector<BYTE> exact(needed + 1);  // never empty, so data() is a real pointer
        size = needed;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExA(key, valueName, nullptr, &type, exact.data(), &size),
                  static_cast<LSTATUS>(ERROR_SUCCESS));
        EXPECT_EQ(size, needed);
        EXPECT_EQ(type, r.type);
        r.data.assign(reinterpret_cast<const char*>(exact.data()), size);
    }
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_SUCCESS));
    return r;
}

TEST_F(RegistryTest, HostileFilesGiveSaneAnswers) {
    const std::string head = kHeader;
    const std::string game = head + kGameKey;
    const char* const gameKey = "Software\\Maker\\Game";
    // Junk that ends in code page 932 lead bytes, the last with no byte after it.
    const std::string junk = Junk(64 * 1024, 20240611) + std::string("\0\x81\x9F\xE0\xFC", 5);

    std::string manyKeys = head;
    for (int i = 0; i < 100000; ++i) {
        manyKeys += "[Software\\\\Maker\\\\Game" + std::to_string(i) + "] 1700000000\n\"InstPath\"=\"" +
                    std::to_string(i) + "\"\n";
    }
    std::string manyValues = game;
    for (int i = 0; i < 200000; ++i) {
        manyValues += "\"Value" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    }
    std::string longHex = game + "\"Bin\"=hex:";
    std::string longBytes;
    for (int i = 0; i < 100000; ++i) {
        longHex += "00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n  ";
        for (char b = 0; b <= 0x16; ++b) {
            longBytes.push_back(b);
        }
    }
    longHex += "ff\n";
    longBytes.push_back('\xFF');
    const std::string bigText(4 * 1024 * 1024, 'x');

    const HostileCase cases[] = {
        // Binary junk.
        {"junk without the header", junk, gameKey, "InstPath", kNoKey},
        {"junk without the header, the root", junk, "", nullptr, kNoKey},
        {"junk after the header", head + junk, gameKey, "InstPath", kAnything},
        {"junk after a good value", game + "\"InstPath\"=\"x\"\n" + junk, gameKey, "InstPath", Sz("x")},
        {"junk for a key name", head + "[" + junk, gameKey, nullptr, kNoKey},
        {"junk for a value", game + "\"InstPath\"=" + junk, gameKey, "InstPath", kNoValue},
        {"NUL bytes inside a string", game + std::string("\"K\"=\"a\0b\"\n", 11), gameKey, "K",
         Sz(std::string("a\0b", 3))},
        // Key headers.
        {"key bracket not closed", head + "[Software\\\\Maker\\\\Game 1700000000\n\"InstPath\"=\"x\"\n", gameKey,
         "InstPath", kNoKey},
        {"key bracket not closed at the end of the file", head + "[Software\\\\Maker\\\\Game", gameKey, nullptr,
         kNoKey},
        {"key name ends in a backslash", head + "[Software\\\\Maker\\\\Game\\", gameKey, nullptr, kNoKey},
        {"an unclosed header ends the key before it",
         game + "\"A\"=\"1\"\n[Software\\\\Maker\\\\Game\n\"B\"=\"2\"\n", gameKey, "B", kNoValue},
        {"and keeps what came before", game + "\"A\"=\"1\"\n[Software\\\\Maker\\\\Game\n\"B\"=\"2\"\n", gameKey,
         "A", Sz("1")},
        // A name with no Unicode form is no key, and makes none of the keys above it.
        {"surrogate half in a key name", head + "[Software\\\\\\xd800] 1\n\"K\"=\"x\"\n", "Software", nullptr,
         kNoKey},
        // Strings.
        {"string not closed", game + "\"InstPath\"=\"abc\n", gameKey, "InstPath", kNoValue},
        {"string not closed at the end of the file", game + "\"InstPath\"=\"abc", gameKey, "InstPath", kNoValue},
        {"string ends in a backslash", game + "\"InstPath\"=\"abc\\", gameKey, "InstPath", kNoValue},
        {"value name not closed", game + "\"InstPath", gameKey, "InstPath", kNoValue},
        {"value name ends in a backslash", game + "\"InstPath\\", gameKey, "InstPath\\", kNoValue},
        {"value name without \"=\"", game + "\"InstPath\"\n", gameKey, "InstPath", kNoValue},
        {"value name and data without \"=\"", game + "\"InstPath\" \"x\"\n", gameKey, "InstPath", kNoValue},
        {"default value without \"=\"", game + "@\n", gameKey, nullptr, kNoValue},
        {"\\x without digits stands for x", game + "\"K\"=\"a\\xg\"\n", gameKey, "K", Sz("axg")},
        {"\\x at the end of the string", game + "\"K\"=\"a\\x\"\n", gameKey, "K", Sz("ax")},
        {"\\x takes four digits at most", game + "\"K\"=\"\\x00410\"\n", gameKey, "K", Sz("A0")},
        {"\\x0000 is a NUL", game + "\"K\"=\"a\\x0000b\"\n", gameKey, "K", Sz(std::string("a\0b", 3))},
        {"high surrogate alone", game + "\"K\"=\"\\xd800\"\n", gameKey, "K", kNoValue},
        {"high surrogate before a letter", game + "\"K\"=\"\\xd800\\x0041\"\n", gameKey, "K", kNoValue},
        {"low surrogate alone", game + "\"K\"=\"\\xdc00a\"\n", gameKey, "K", kNoValue},
        {"surrogates reversed", game + "\"K\"=\"\\xde00\\xd83d\"\n", gameKey, "K", kNoValue},
        {"surrogate half in a value name", game + "\"\\xd800\"=\"x\"\n", gameKey, "?", kNoValue},
        {"octal past a byte", game + "\"K\"=\"\\777\"\n", gameKey, "K", kNoValue},  // U+01FF has no CP932 form
        {"malformed UTF-8", game + "\"K\"=\"\xC0\x80\"\n", gameKey, "K", kNoValue},
        {"UTF-8 cut at the end of the file", game + "\"K\"=\"\xE3\x82", gameKey, "K", kNoValue},
        // Hex lists.
        {"hex byte of three digits", game + "\"Bin\"=hex:012\n", gameKey, "Bin", kNoValue},
        {"hex with a stray letter", game + "\"Bin\"=hex:01,0g\n", gameKey, "Bin", kNoValue},
        {"hex continued at the end of the file", game + "\"Bin\"=hex:01,02,\\", gameKey, "Bin", kNoValue},
        {"hex continued onto the end of the file", game + "\"Bin\"=hex:01,02,\\\n", gameKey, "Bin", kNoValue},
        {"hex continued onto blanks at the end", game + "\"Bin\"=hex:01,\\\n  ", gameKey, "Bin",
         Binary(REG_BINARY, "\x01")},
        {"hex continued twice onto the end", game + "\"Bin\"=hex:01,\\\n  02,\\\n", gameKey, "Bin", kNoValue},
        // Stored without a terminator, so none is added.
        {"hex(1) of odd length drops the last byte", game + "\"S\"=hex(1):41,00,42\n", gameKey, "S",
         Binary(REG_SZ, "A")},
        {"hex type too long", game + "\"Bin\"=hex(123456789):00\n", gameKey, "Bin", kNoValue},
        {"hex type not closed", game + "\"Bin\"=hex(1:00\n", gameKey, "Bin", kNoValue},
        {"str type not closed", game + "\"S\"=str(2:\"x\"\n", gameKey, "S", kNoValue},
        // Numbers.
        {"dword of nine digits", game + "\"Dw\"=dword:123456789\n", gameKey, "Dw", kNoValue},
        {"dword without digits", game + "\"Dw\"=dword:\n", gameKey, "Dw", kNoValue},
        {"dword with a sign", game + "\"Dw\"=dword:-1\n", gameKey, "Dw", kNoValue},
        {"dword at its largest", game + "\"Dw\"=dword:ffffffff", gameKey, "Dw",
         Binary(REG_DWORD, "\xFF\xFF\xFF\xFF")},
        // Lines.
        {"CR-only line ends hide the header", "WINE REGISTRY Version 2\r[Software\\\\Maker\\\\Game] 1\r\"K\"=\"x\"\r",
         gameKey, "K", kNoKey},
        {"header alone", "WINE REGISTRY Version 2", "", nullptr, kNoValue},
        {"a string of several megabytes", game + "\"Big\"=\"" + bigText + "\"\n", gameKey, "Big", Sz(bigText)},
        {"a hex list over 100000 lines", longHex, gameKey, "Bin", Binary(REG_BINARY, longBytes)},
        // Size.
        {"100000 keys, the wanted one last", manyKeys, "Software\\Maker\\Game99999", "InstPath", Sz("99999")},
        {"100000 keys, none wanted", manyKeys, "Software\\Maker\\Game100000", "InstPath", kNoKey},
        {"200000 values in one key", manyValues, gameKey, "Value199999", Binary(REG_DWORD, Bytes("\x09\0\0\0", 4))},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        WriteRaw(c.file);
        Read r = Probe(c.key, c.value);
        switch (c.outcome.kind) {
        case Outcome::kAnything:
            break;
        case Outcome::kNoKey:
            EXPECT_EQ(r.open, static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
            break;
        case Outcome::kNoValue:
            ASSERT_EQ(r.open, static_cast<LSTATUS>(ERROR_SUCCESS));
            EXPECT_EQ(r.query, static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
            break;
        case Outcome::kValue:
            ASSERT_EQ(r.open, static_cast<LSTATUS>(ERROR_SUCCESS));
            ASSERT_EQ(r.query, static_cast<LSTATUS>(ERROR_SUCCESS));
            EXPECT_EQ(r.type, c.outcome.type);
            EXPECT_EQ(r.data, c.outcome.data);
            break;
        }
    }
}
