// Reading "UPDATE.INI" and "SETUP.INI": the missing-key rule and its box, cutting,
// the integer and size conversions, and the list tokenizer.
#include <climits>
#include <cstring>

#include "fake_install.h"
#include "settings_access.h"

namespace {

using wq2test::FakeInstall;
using wq2test::RecordedBox;
using wq2test::recordedBoxes;

class SettingsAccess : public FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        UseUpdateIni({"[SETUP]", "CompanyName=Maker", "Empty=", "[UPDATE]", "UpdateFile00=a.dat"});
        WriteBytes(C("Game/SETUP.INI"),
                   Ini({"[Setup]", "SetupBMP=title.bmp", "Empty=", "Blank=   ", "Long=" + std::string(300, 'x'),
                        "Abc=abc", "Minus=-5", "Huge=99999999999", "Tiny=-99999999999", "Padded=  42x",
                        "Plus=+7"}));
        lstrcpyA(Updater.SetupIniPath, "C:\\Game\\SETUP.INI");
    }
};

TEST_F(SettingsAccess, StringReadersReportMissingAndEmptyKeysOnlyWhileNotSilent) {
    struct Case {
        const char* what;
        int silent;
        bool setup;  // SETUP.INI, else UPDATE.INI
        const char* section;
        const char* key;
        const char* message;  // null: no box
    } cases[] = {
        {"missing setup key", 0, true, "SETUP", "GameExe", "SETUP.INI : GameExe キーが存在しません"},
        {"empty setup value", 0, true, "SETUP", "Empty", "SETUP.INI : Empty キーが存在しません"},
        {"blank setup value", 0, true, "SETUP", "Blank", "SETUP.INI : Blank キーが存在しません"},
        {"missing update key", 0, false, "SETUP", "GameClass", "SETUP : GameClass キーが存在しません"},
        {"empty update value", 0, false, "SETUP", "Empty", "SETUP : Empty キーが存在しません"},
        {"missing section", 0, false, "NOPE", "CompanyName", "NOPE : CompanyName キーが存在しません"},
        {"silent setup key", 1, true, "SETUP", "GameExe", nullptr},
        {"silent update key", 1, false, "UPDATE", "UpdateFile01", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recordedBoxes.clear();
        Updater.SilentMissingKeys = c.silent;
        char buffer[16];
        std::memset(buffer, 'z', sizeof buffer);
        int result = c.setup ? ReadSetupString(c.key, buffer, sizeof buffer)
                             : ReadUpdateString(c.section, c.key, buffer, sizeof buffer);
        EXPECT_EQ(result, 0);
        // The whole buffer is cleared, not only its first byte.
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
        if (c.message == nullptr) {
            EXPECT_TRUE(recordedBoxes.empty());
        } else {
            ASSERT_EQ(recordedBoxes.size(), 1u);
            EXPECT_EQ(recordedBoxes[0].text, c.message);
            EXPECT_EQ(recordedBoxes[0].caption, "DEDODEDO");
            EXPECT_EQ(recordedBoxes[0].type, UINT(MB_OK | MB_ICONERROR));
            EXPECT_EQ(recordedBoxes[0].owner, nullptr);
        }
    }
}

TEST_F(SettingsAccess, StringReadersFindValuesIgnoringCaseAndCutThem) {
    char buffer[kPathSize];
    EXPECT_EQ(ReadSetupString("SetupBmp", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "title.bmp");
    EXPECT_EQ(ReadUpdateString("update", "UPDATEFILE00", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "a.dat");
    EXPECT_EQ(ReadSetupString("Long", buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer), std::string(259, 'x'));
    EXPECT_TRUE(recordedBoxes.empty());
}

TEST_F(SettingsAccess, MissingKeyBoxIsOwnedByTheWizardWhileItExists) {
    int wizard = 0;
    Updater.WizardWindow = reinterpret_cast<HWND>(&wizard);
    char buffer[8];
    ReadSetupString("Nope", buffer, sizeof buffer);
    ASSERT_EQ(recordedBoxes.size(), 1u);
    EXPECT_EQ(recordedBoxes[0].owner, Updater.WizardWindow);
    Updater.WizardWindow = nullptr;
}

TEST_F(SettingsAccess, IntegerReaderConvertsAsAtoiWithSaturation) {
    struct Case {
        const char* key;
        int result;
        int32_t value;
    } cases[] = {
        {"Abc", 1, 0},          {"Minus", 1, -5},   {"Huge", 1, INT32_MAX}, {"Tiny", 1, INT32_MIN},
        {"Padded", 1, 42},      {"Plus", 1, 7},     {"Empty", 0, 1234},     {"Missing", 0, 1234},
    };
    Updater.SilentMissingKeys = 1;
    for (const Case& c : cases) {
        int32_t value = 1234;
        EXPECT_EQ(ReadSetupInt(c.key, &value), c.result) << c.key;
        EXPECT_EQ(value, c.value) << c.key;
    }
}

TEST(DecimalConversion, FollowsTheCLibrary) {
    struct Case {
        const char* text;
        int32_t asInt;
        uint64_t asSize;
    } cases[] = {
        {"", 0, 0},
        {"12", 12, 12},
        {" \t\r\n12 3", 12, 12},
        {"-1", -1, UINT64_MAX},
        {"+0005", 5, 5},
        {"2147483648", INT32_MAX, 2147483648ull},
        {"-2147483648", INT32_MIN, uint64_t(0) - 2147483648ull},
        {"-2147483649", INT32_MIN, uint64_t(0) - 2147483649ull},
        {"1844674407370955161", INT32_MAX, 1844674407370955161ull},
        {"18446744073709551615", INT32_MAX, UINT64_MAX},
        {"18446744073709551616", INT32_MAX, UINT64_MAX},
        {"99999999999999999999999", INT32_MAX, UINT64_MAX},
        {"- 5", 0, 0},
        {"x5", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecimalToInt32(c.text), c.asInt) << c.text;
        EXPECT_EQ(DecimalToUint64(c.text), c.asSize) << c.text;
    }
}

struct Field {
    std::string text;
    int32_t number;
    bool operator==(const Field&) const = default;
};

void PrintTo(const Field& f, std::ostream* os) { *os << '"' << f.text << "\" #" << f.number; }

// Every field the tokenizer gives for `list`, with the number in force after each.
std::vector<Field> Tokenize(const std::string& list) {
    std::vector<Field> fields;
    const char* cursor = list.c_str();
    char slot[kPathSize];
    Updater.ListFieldNumber = 0;
    while (NextListField(slot, &cursor)) {
        fields.push_back({slot, Updater.ListFieldNumber});
        EXPECT_LE(cursor, list.c_str() + list.size());
        if (fields.size() > 100) break;
    }
    return fields;
}

TEST_F(SettingsAccess, ListTokenizerSplitsFieldsAndTakesPrefixNumbers) {
    const std::string hyo = "\x95\x5C";  // a two-byte character whose trail byte is "\"
    struct Case {
        std::string list;
        std::vector<Field> fields;
    } cases[] = {
        {"  a b ,c", {{"a b ", 0}, {"c", 0}}},
        {"a,,b", {{"a", 0}}},
        {"a, ,b", {{"a", 0}}},
        {"2:x,y", {{"x", 2}, {"y", 2}}},
        {"2:,y", {{"", 2}, {"y", 2}}},
        {"A:file", {{"file", 0}}},
        {"1:a,b,0:c", {{"a", 1}, {"b", 1}, {"c", 0}}},
        {"12:x", {{"12:x", 0}}},
        {"C:\\dir,D:\\x", {{"\\dir", 0}, {"\\x", 0}}},
        {"2: x", {{" x", 2}}},
        {"", {}},
        {"   ", {}},
        {",a", {}},
        {"a\nb", {{"a", 0}, {"b", 0}}},
        {"a\r\n", {{"a", 0}}},
        {"a\tb ,c", {{"a\tb ", 0}, {"c", 0}}},
        {"\tb", {{"\tb", 0}}},
        {hyo + "," + hyo + "n", {{hyo, 0}, {hyo + "n", 0}}},
        {"a:", {{"", 0}}},
        {"x", {{"x", 0}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Tokenize(c.list), c.fields) << '"' << c.list << '"';
    }
}

TEST_F(SettingsAccess, ListTokenizerCutsLongFieldsAtWholeCharacters) {
    const std::string long300(300, 'y');
    // 258 one-byte characters and then two-byte ones: the first two-byte one
    // would end on byte 260, so it is dropped whole.
    const std::string straddling = std::string(258, 'k') + "\x82\xA0\x82\xA0";
    const std::string exact = std::string(257, 'k') + "\x82\xA0" + "\x82\xA0";
    struct Case {
        std::string list;
        std::vector<Field> fields;
    } cases[] = {
        {long300 + ",next", {{std::string(259, 'y'), 0}, {"next", 0}}},
        {std::string(259, 'y'), {{std::string(259, 'y'), 0}}},
        {"5:" + long300, {{std::string(259, 'y'), 5}}},
        {straddling + ",z", {{std::string(258, 'k'), 0}, {"z", 0}}},
        {exact, {{std::string(257, 'k') + "\x82\xA0", 0}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Tokenize(c.list), c.fields) << c.list.size();
    }
}

TEST_F(SettingsAccess, ListTokenizerLeavesCursorAndNumberAloneAtTheEnd) {
    const char text[] = "3:a";
    const char* cursor = text;
    char slot[kPathSize];
    Updater.ListFieldNumber = 0;
    ASSERT_EQ(NextListField(slot, &cursor), 1);
    const char* end = cursor;
    Updater.ListFieldNumber = 9;
    EXPECT_EQ(NextListField(slot, &cursor), 0);
    EXPECT_EQ(NextListField(slot, &cursor), 0);
    EXPECT_EQ(cursor, end);
    EXPECT_EQ(end, text + 3);
    EXPECT_EQ(Updater.ListFieldNumber, 9);
}

}  // namespace
