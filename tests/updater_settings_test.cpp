// The settings stage: the updater's own keys, the agreement texts from the
// payload, the installation record, the start notice and the "SETUP.INI" check.
#include <cstring>

#include "fake_install.h"
#include "updater_settings.h"

namespace {

using wq2test::FakeInstall;
using wq2test::IniLines;
using wq2test::RecordedBox;
using wq2test::recordedBoxes;
using wq2test::RegValue;

const char kNotInstalled[] = "「デモ」がインストールされていません";
const char kNoSetupIni[] = "インストール先に \"SETUP.INI\" ファイルが見つかりません";

class UpdaterSettings : public FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        UsePayload({{"UPDATE.INI", ""}, {"agree.txt", "同意してください\r\n"}, {"empty.txt", ""},
                    {"title.txt", "お知らせ 100%"}});
        UseInstallRecord("Software\\Maker\\Demo",
                         {{"InstPath", "\"C:\\\\Game\""}, {"DataPath", "\"C:\\\\Data\""}, {"InstMode", "dword:00000002"}});
        WriteBytes(C("Game/SETUP.INI"), "[SETUP]\r\n");
    }

    static IniLines Settings(const IniLines& extra = {}) {
        IniLines lines = {"[SETUP]", "CompanyName=Maker", "GameTitle=デモ", "GameClass=DemoClass", "GameDir=Demo"};
        lines.insert(lines.end(), extra.begin(), extra.end());
        return lines;
    }

    static RecordedBox Error(const std::string& text) { return {text, "UPDATE", MB_OK | MB_ICONERROR, nullptr}; }
    static RecordedBox SetupError(const std::string& text) {
        return {text, "DEDODEDO", MB_OK | MB_ICONERROR, nullptr};
    }
};

TEST_F(UpdaterSettings, ReadsTheKeysAndTheRecord) {
    UseUpdateIni(Settings({"GameTitleA=デモ体験版", "UpdaterVersion=1.02", "UpdaterTitle=", "DataFolder=data",
                           "Unrelated=1"}));
    ASSERT_EQ(LoadUpdaterSettings(), 1);
    EXPECT_TRUE(recordedBoxes.empty());
    EXPECT_STREQ(Updater.CompanyName, "Maker");
    EXPECT_STREQ(Updater.GameTitle, "デモ");
    EXPECT_STREQ(Updater.GameClass, "DemoClass");
    EXPECT_STREQ(Updater.GameDir, "Demo");
    EXPECT_STREQ(Updater.GameTitleA, "デモ体験版");
    EXPECT_STREQ(Updater.UpdaterVersion, "1.02");
    EXPECT_STREQ(Updater.UpdaterTitle, "");
    EXPECT_STREQ(Updater.DataFolder, "data");
    EXPECT_STREQ(Updater.InstPath, "C:\\Game");
    EXPECT_STREQ(Updater.DataPath, "C:\\Data");
    EXPECT_EQ(Updater.InstMode, 2);
    EXPECT_STREQ(Updater.SetupIniPath, "C:\\Game\\SETUP.INI");
    EXPECT_EQ(Updater.AgreementText, nullptr);
    EXPECT_EQ(Updater.AgreementTitle, nullptr);
    EXPECT_EQ(Updater.SilentMissingKeys, 1);
}

TEST_F(UpdaterSettings, EachRequiredKeyStopsTheStageWithItsMessage) {
    const char* keys[] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};
    for (const char* missing : keys) {
        SCOPED_TRACE(missing);
        IniLines lines;
        for (const std::string& line : Settings()) {
            if (line.rfind(std::string(missing) + "=", 0) != 0) lines.push_back(line);
        }
        UseUpdateIni(lines);
        recordedBoxes.clear();
        EXPECT_EQ(LoadUpdaterSettings(), 0);
        EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{SetupError(std::string("SETUP : ") + missing +
                                                                      " キーが存在しません")}));
    }
}

TEST_F(UpdaterSettings, AgreementTextsAreCopiedIntoBlocksEndingInTwoNuls) {
    struct Case {
        const char* what;
        IniLines extra;
        std::string text;   // "-" for none
        std::string title;  // "-" for none
    } cases[] = {
        {"text and title", {"AgreementText=agree.txt", "AgreementTitle=title.txt"}, "同意してください\r\n",
         "お知らせ 100%"},
        {"empty entry", {"AgreementText=EMPTY.TXT"}, "", "-"},
        {"title alone", {"AgreementTitle=title.txt"}, "-", "お知らせ 100%"},
        {"empty keys", {"AgreementText=", "AgreementTitle="}, "-", "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetUpdaterState();
        UsePayload({{"UPDATE.INI", ""}, {"agree.txt", "同意してください\r\n"}, {"empty.txt", ""},
                    {"title.txt", "お知らせ 100%"}});
        UseUpdateIni(Settings(c.extra));
        ASSERT_EQ(LoadUpdaterSettings(), 1);
        for (auto [block, expected] : {std::pair{Updater.AgreementText, c.text}, {Updater.AgreementTitle, c.title}}) {
            if (expected == "-") {
                EXPECT_EQ(block, nullptr);
                continue;
            }
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(std::string(block), expected);
            EXPECT_EQ(block[expected.size()], '\0');
            EXPECT_EQ(block[expected.size() + 1], '\0');
        }
    }
    EXPECT_TRUE(recordedBoxes.empty());
}

TEST_F(UpdaterSettings, MissingAgreementEntryIsReportedBeforeTheRecordIsLookedAt) {
    std::filesystem::remove(root_ / "prefix" / "user.reg");
    for (const char* key : {"AgreementText", "AgreementTitle"}) {
        SCOPED_TRACE(key);
        recordedBoxes.clear();
        UseUpdateIni(Settings({std::string(key) + "=gone.txt"}));
        EXPECT_EQ(LoadUpdaterSettings(), 0);
        EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{Error("Can't Find File in Resource !!"),
                                                            Error("'gone.txt' not found at UPDATE.WQ3")}));
    }
}

TEST_F(UpdaterSettings, InstallationRecordDecidesWhetherTheGameIsInstalled) {
    struct Case {
        const char* what;
        const char* keyPath;
        std::vector<RegValue> values;
        int result;
        const char* dataPath;
    } cases[] = {
        {"no key", "Software\\Maker\\Other", {{"InstPath", "\"C:\\\\Game\""}, {"InstMode", "dword:1"}}, 0, ""},
        {"InstPath without InstMode", "Software\\Maker\\Demo", {{"InstPath", "\"C:\\\\Game\""}}, 0, ""},
        {"InstMode without InstPath", "Software\\Maker\\Demo", {{"InstMode", "dword:00000001"}}, 0, ""},
        {"InstMode too long for its field", "Software\\Maker\\Demo",
         {{"InstPath", "\"C:\\\\Game\""}, {"InstMode", "hex:01,00,00,00,00"}}, 0, ""},
        {"DataPath absent", "Software\\Maker\\Demo",
         {{"InstPath", "\"C:\\\\Game\""}, {"InstMode", "dword:00000001"}}, 1, ""},
        {"DataPath too long reads as absent", "Software\\Maker\\Demo",
         {{"InstPath", "\"C:\\\\Game\""}, {"DataPath", "\"" + std::string(300, 'd') + "\""},
          {"InstMode", "dword:00000001"}}, 1, ""},
        {"key path in other case, InstAdd present", "SOFTWARE\\maker\\DEMO",
         {{"InstPath", "\"C:\\\\Game\""}, {"DataPath", "\"C:\\\\\\x30c7\\x30fc\\x30bf\""},
          {"InstMode", "dword:00000001"}, {"InstAdd", "dword:00000003"}}, 1, "C:\\データ"},
    };
    UseUpdateIni(Settings());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recordedBoxes.clear();
        UseInstallRecord(c.keyPath, c.values);
        std::memset(Updater.DataPath, 'q', 8);
        EXPECT_EQ(LoadUpdaterSettings(), c.result);
        if (c.result == 0) {
            EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{Error(kNotInstalled)}));
        } else {
            EXPECT_TRUE(recordedBoxes.empty());
            EXPECT_STREQ(Updater.DataPath, c.dataPath);
        }
    }
}

TEST_F(UpdaterSettings, StartNoticeIsShownWithLineBreaksAndTheStageGoesOn) {
    UseUpdateIni(Settings({"UpdateMessage=新しい版です\\nよろしく\\n"}));
    ASSERT_EQ(LoadUpdaterSettings(), 1);
    EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{Error("新しい版です\rよろしく\r")}));
}

TEST(LineBreaks, OnlyAOneByteBackslashBeforeNBreaksTheLine) {
    struct Case {
        std::string text;
        std::string shown;
    } cases[] = {
        {"a\\nb", "a\rb"},
        {"end\\n", "end\r"},
        {"\\x\\", "\\x\\"},
        {"\\\\n", "\\\r"},
        {"\x95\x5Cn", "\x95\x5Cn"},              // 表 then "n": its trail byte is no escape
        {"\x95\x5C\\n", "\x95\x5C\r"},           // 表 then a real escape
        {"\x83\x5C\x83\x74\x83\x67", "\x83\x5C\x83\x74\x83\x67"},  // ソフト
        {"", ""},
    };
    for (const Case& c : cases) {
        char out[kMessageSize];
        ConvertLineBreaks(c.text.c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), c.shown) << c.text;
    }
    // A small buffer is never overrun and keeps whole characters.
    char small[4];
    ConvertLineBreaks("ab\x95\x5Cz", small, sizeof small);
    EXPECT_STREQ(small, "ab");
}

TEST_F(UpdaterSettings, SetupIniMustExistAtTheJoinedPath) {
    struct Case {
        const char* what;
        std::string instPath;  // as stored in user.reg
        const char* expected;  // SetupIniPath, or null when refused
    } cases[] = {
        {"plain", "\"C:\\\\Game\"", "C:\\Game\\SETUP.INI"},
        {"trailing backslash", "\"C:\\\\Game\\\\\"", "C:\\Game\\SETUP.INI"},
        {"missing file", "\"C:\\\\Nowhere\"", nullptr},
        {"folder named SETUP.INI passes", "\"C:\\\\Folder\"", "C:\\Folder\\SETUP.INI"},
        {"too long to take the name", "\"C:\\\\" + std::string(250, 'p') + "\"", nullptr},
    };
    std::filesystem::create_directories(C("Folder/SETUP.INI"));
    UseUpdateIni(Settings());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recordedBoxes.clear();
        std::memset(Updater.SetupIniPath, 0, sizeof Updater.SetupIniPath);
        UseInstallRecord("Software\\Maker\\Demo", {{"InstPath", c.instPath}, {"InstMode", "dword:00000000"}});
        if (c.expected != nullptr) {
            EXPECT_EQ(LoadUpdaterSettings(), 1);
            EXPECT_STREQ(Updater.SetupIniPath, c.expected);
            EXPECT_TRUE(recordedBoxes.empty());
        } else {
            EXPECT_EQ(LoadUpdaterSettings(), 0);
            EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{Error(kNoSetupIni)}));
        }
    }
}

TEST_F(UpdaterSettings, EmptyInstallFolderLooksForSetupIniInTheCurrentFolder) {
    UseUpdateIni(Settings());
    UseInstallRecord("Software\\Maker\\Demo", {{"InstPath", "\"\""}, {"InstMode", "dword:00000000"}});
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(C("Game"));
    int result = LoadUpdaterSettings();
    std::filesystem::current_path(previous);
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(Updater.SetupIniPath, "SETUP.INI");
}

}  // namespace
