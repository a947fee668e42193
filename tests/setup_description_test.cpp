// The installer's "SETUP.INI": every limit and message of the reader, and what it
// leaves in the description.
#include <cstring>
#include <optional>

#include "fake_install.h"
#include "settings_access.h"
#include "setup_description.h"
#include "updater_settings.h"

namespace {

using wq2test::FakeInstall;
using wq2test::IniLines;
using wq2test::RecordedBox;
using wq2test::recordedBoxes;

// A key and its value; no value removes the key from the base file.
using Key = std::pair<std::string, std::optional<std::string>>;

std::string Names(const char* stem, int count) {
    std::string list;
    for (int i = 0; i < count; ++i) {
        if (i != 0) list += ',';
        list += stem;
        list += std::to_string(i);
    }
    return list;
}

class SetupDescription : public FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        lstrcpyA(Updater.SetupIniPath, "C:\\Game\\SETUP.INI");
        // The settings stage leaves the switch set.
        Updater.SilentMissingKeys = 1;
    }

    // Writes the base file with `changes` applied and reads it.
    int Read(const std::vector<Key>& changes) {
        std::vector<Key> keys = {
            {"CompanyName", "SetupMaker"}, {"GameTitle", "デモゲーム"}, {"GameDir", "DemoDir"},
            {"GameExe", "demo.exe"},       {"UninstExe", "uninst.exe"}, {"SetupBmp", "a.bmp,b.bmp"},
            {"InstallSelects", "2"},       {"InstallTitle0", "標準"},    {"InstallFiles0", "1:a.dat,b.dat"},
            {"InstallTitle1", "最小"},     {"InstallFiles1", "c.dat"},  {"Shortcuts", "1"},
            {"Shortcut0", "demo.exe,デモ,-w"},
        };
        for (const Key& change : changes) {
            auto at = std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return k.first == change.first; });
            if (at != keys.end()) {
                at->second = change.second;
            } else {
                keys.push_back(change);
            }
        }
        IniLines lines = {"[SETUP]"};
        for (const Key& k : keys) {
            if (k.second) lines.push_back(k.first + "=" + *k.second);
        }
        WriteBytes(C("Game/SETUP.INI"), Ini(lines));
        std::memset(&Updater.SetupDescription, 0, sizeof Updater.SetupDescription);
        recordedBoxes.clear();
        return ReadSetupDescription();
    }

    const SetupDescriptionData& D() const { return Updater.SetupDescription; }
};

TEST_F(SetupDescription, ReadsASoundFileAndReplacesTheIdentity) {
    lstrcpyA(Updater.GameTitle, "from update");
    lstrcpyA(Updater.GameClass, "UpdateClass");
    ASSERT_EQ(Read({{"DiskCheckFile3", "disc3.chk"}, {"GameClass", "DemoWindow"}}), 1);
    EXPECT_TRUE(recordedBoxes.empty());
    EXPECT_STREQ(Updater.CompanyName, "SetupMaker");
    EXPECT_STREQ(Updater.GameTitle, "デモゲーム");
    EXPECT_STREQ(Updater.GameDir, "DemoDir");
    EXPECT_STREQ(Updater.GameClass, "DemoWindow");
    EXPECT_STREQ(D().GameExe, "demo.exe");
    EXPECT_STREQ(D().UninstExe, "uninst.exe");
    EXPECT_STREQ(D().SetupBmp[0], "a.bmp");
    EXPECT_STREQ(D().SetupBmp[1], "b.bmp");
    EXPECT_STREQ(D().SetupBmp[2], "");
    EXPECT_EQ(D().InstallSelects, 2);
    EXPECT_STREQ(D().InstallTitle[1], "最小");
    EXPECT_STREQ(D().InstallFiles[0][0], "a.dat");
    EXPECT_STREQ(D().InstallFiles[0][1], "b.dat");
    EXPECT_STREQ(D().InstallFiles[0][2], "");
    EXPECT_EQ(D().InstallFileNumbers[0][1], 1);
    EXPECT_EQ(D().InstallFilesNumbered[0], 1);
    EXPECT_EQ(D().InstallFilesNumbered[1], 0);
    EXPECT_STREQ(D().Shortcut[0][1], "デモ");
    EXPECT_STREQ(D().Shortcut[0][2], "-w");
    EXPECT_STREQ(D().DiskCheckFile[3], "disc3.chk");
    EXPECT_STREQ(D().DiskCheckFile[0], "");
    EXPECT_EQ(D().GameClassIsEngineWindow, 0);
    // Defaults of the optional keys.
    EXPECT_EQ(D().DefaultSelect, 0);
    EXPECT_EQ(D().InstallSize[0], 0u);
    EXPECT_STREQ(D().ExecApp[0], "");
    EXPECT_EQ(D().InstallDirectX, 0u);
    EXPECT_STREQ(D().InstallDXMessage, "ＤｉｒｅｃｔＸをインストールする");
    EXPECT_STREQ(D().SelectSetupMessage, "インストール方法を選択して下さい");
    EXPECT_STREQ(D().SaveDataFolderNameInInstall, "savedata");
    EXPECT_STREQ(D().SaveDataFolderName, "DemoDir");
    EXPECT_EQ(D().UseCompanyNameForShortcutGroup, 0);
    EXPECT_EQ(D().ChooseSaveDataFolder, 0);
    EXPECT_EQ(D().InstallAfterAdd, 0);
    EXPECT_EQ(Updater.SilentMissingKeys, 1);
}

TEST_F(SetupDescription, RefusesMalformedFilesWithTheirMessages) {
    struct Case {
        const char* what;
        std::vector<Key> changes;
        const char* message;  // null: refused without a box
    } cases[] = {
        {"no GameExe", {{"GameExe", std::nullopt}}, nullptr},
        {"empty CompanyName", {{"CompanyName", ""}}, nullptr},
        {"no UninstExe", {{"UninstExe", std::nullopt}}, nullptr},
        {"no SetupBmp", {{"SetupBmp", std::nullopt}}, nullptr},
        {"SetupBmp without a first name", {{"SetupBmp", ",a.bmp"}}, "SETUP.INI : SetupBmps エラー"},
        {"no InstallSelects", {{"InstallSelects", std::nullopt}}, nullptr},
        {"InstallSelects 5", {{"InstallSelects", "5"}}, "SETUP.INI : InstallSelect オーバー"},
        {"a choice without its title", {{"InstallTitle1", std::nullopt}}, nullptr},
        {"install list of blanks", {{"InstallFiles1", "   "}}, nullptr},
        {"install list beginning with a comma", {{"InstallFiles1", ",c.dat"}}, "SETUP.INI : InstallFiles1 エラー"},
        {"no Shortcuts", {{"Shortcuts", std::nullopt}}, nullptr},
        {"Shortcuts 11", {{"Shortcuts", "11"}}, "SETUP.INI : Shortcuts オーバー"},
        {"a missing shortcut", {{"Shortcuts", "2"}}, nullptr},
        {"shortcut with a target only", {{"Shortcut0", "demo.exe"}}, "SETUP.INI : Shortcut0 エラー"},
        {"ExecApp with one field", {{"ExecApp", "tool.exe"}}, "SETUP.INI : ExecApp エラー"},
        {"add-on list missing", {{"InstallAfterAdd", "1"}}, "SETUP.INI : InstallAddFiles キーが存在しません"},
        {"add-on list without a first name", {{"InstallAfterAdd", "1"}, {"InstallAddFiles", " ,x"}},
         "SETUP.INI : InstallAddFiles エラー"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(c.changes), 0);
        if (c.message == nullptr) {
            EXPECT_TRUE(recordedBoxes.empty());
        } else {
            EXPECT_EQ(recordedBoxes,
                      (std::vector<RecordedBox>{{c.message, "DEDODEDO", MB_OK | MB_ICONERROR, nullptr}}));
        }
    }
}

TEST_F(SetupDescription, AcceptsEveryLimitAndReadsNoMoreThanItAllows) {
    std::vector<Key> four = {{"InstallSelects", "4"}};
    for (int s = 0; s < 4; ++s) {
        four.push_back({"InstallTitle" + std::to_string(s), "t" + std::to_string(s)});
        four.push_back({"InstallFiles" + std::to_string(s), "f" + std::to_string(s)});
    }
    ASSERT_EQ(Read(four), 1);
    EXPECT_STREQ(D().InstallFiles[3][0], "f3");

    std::vector<Key> ten = {{"Shortcuts", "10"}};
    for (int k = 0; k < 10; ++k) ten.push_back({"Shortcut" + std::to_string(k), "t,c"});
    ASSERT_EQ(Read(ten), 1);
    EXPECT_STREQ(D().Shortcut[9][1], "c");
    EXPECT_STREQ(D().Shortcut[9][2], "");

    // Negative counts: no choice or shortcut keys are needed.
    ASSERT_EQ(Read({{"InstallSelects", "-1"}, {"InstallTitle0", std::nullopt}, {"InstallFiles0", std::nullopt},
                    {"Shortcuts", "-3"}, {"Shortcut0", std::nullopt}, {"InstallSize0", "77"}}),
              1);
    EXPECT_EQ(D().InstallSelects, -1);
    EXPECT_EQ(D().Shortcuts, -3);
    EXPECT_EQ(D().InstallSize[0], 0u);

    ASSERT_EQ(Read({{"InstallSelects", "0"}, {"Shortcuts", "0"}}), 1);

    // 41 install names keep 40; 25 images keep 20; the rest is not looked at.
    ASSERT_EQ(Read({{"InstallFiles0", Names("n", 41)}, {"SetupBmp", Names("b", 25)}}), 1);
    EXPECT_STREQ(D().InstallFiles[0][39], "n39");
    EXPECT_STREQ(D().SetupBmp[19], "b19");
    // Exactly full lists leave no empty slot after them (there is none).
    ASSERT_EQ(Read({{"InstallFiles0", Names("n", 40)}}), 1);
    EXPECT_STREQ(D().InstallFiles[0][39], "n39");
    EXPECT_TRUE(recordedBoxes.empty());
}

TEST_F(SetupDescription, ListNumbersMarkChoicesAsNumbered) {
    ASSERT_EQ(Read({{"InstallFiles0", "1:a,b,0:c"}, {"InstallFiles1", "0:x,y"}}), 1);
    const char* names[] = {"a", "b", "c"};
    const int32_t numbers[] = {1, 1, 0};
    for (int j = 0; j < 3; ++j) {
        EXPECT_STREQ(D().InstallFiles[0][j], names[j]);
        EXPECT_EQ(D().InstallFileNumbers[0][j], numbers[j]);
    }
    EXPECT_EQ(D().InstallFilesNumbered[0], 1);
    // The number starts again at 0 for each choice.
    EXPECT_EQ(D().InstallFilesNumbered[1], 0);
    EXPECT_EQ(D().InstallFileNumbers[1][1], 0);
}

TEST_F(SetupDescription, LongListFieldsAreCutNotOverflowed) {
    std::string name(300, 'L');
    ASSERT_EQ(Read({{"InstallFiles0", name + ",b"}, {"SetupBmp", name}}), 1);
    EXPECT_EQ(std::string(D().InstallFiles[0][0]), std::string(259, 'L'));
    EXPECT_STREQ(D().InstallFiles[0][1], "b");
    EXPECT_EQ(std::string(D().SetupBmp[0]), std::string(259, 'L'));
}

TEST_F(SetupDescription, OptionalKeysAndTheirConversions) {
    struct Case {
        const char* what;
        std::vector<Key> changes;
        std::function<void(const SetupDescriptionData&)> check;
    } cases[] = {
        {"GameClass defaults to this file's title", {}, [](auto&) { EXPECT_STREQ(Updater.GameClass, "デモゲーム"); }},
        {"engine window class", {{"GameClass", "TTVPWindowForm"}},
         [](auto& d) { EXPECT_EQ(d.GameClassIsEngineWindow, 1); }},
        {"engine class compared with case", {{"GameClass", "ttvpwindowform"}},
         [](auto& d) { EXPECT_EQ(d.GameClassIsEngineWindow, 0); }},
        {"DefaultSelect beyond the choices", {{"DefaultSelect", "9"}},
         [](auto& d) { EXPECT_EQ(d.DefaultSelect, 9); }},
        {"20-digit size read from 19 digits", {{"InstallSize0", "12345678901234567890"}, {"InstallSize1", "-1"}},
         [](auto& d) {
             EXPECT_EQ(d.InstallSize[0], 1234567890123456789ull);
             EXPECT_EQ(d.InstallSize[1], UINT64_MAX);
         }},
        {"ExecApp with more than two fields", {{"ExecApp", "tool.exe, -x ,more"}},
         [](auto& d) {
             EXPECT_STREQ(d.ExecApp[0], "tool.exe");
             EXPECT_STREQ(d.ExecApp[1], "-x ");
         }},
        {"texts and flags", {{"InstallDXMessage", "DX"}, {"SelectSetupMessage", "選んで"},
                             {"UseCompanyNameForShortcutGroup", "2"}, {"ChooseSaveDataFolder", "0"},
                             {"SaveDataFolderNameInInstall", "save"}, {"SaveDataFolderName", "セーブ"},
                             {"CancelSaveData", "1"}},
         [](auto& d) {
             EXPECT_STREQ(d.InstallDXMessage, "DX");
             EXPECT_STREQ(d.SelectSetupMessage, "選んで");
             EXPECT_EQ(d.UseCompanyNameForShortcutGroup, 1);
             EXPECT_EQ(d.ChooseSaveDataFolder, 0);
             EXPECT_STREQ(d.SaveDataFolderNameInInstall, "save");
             EXPECT_STREQ(d.SaveDataFolderName, "セーブ");
             EXPECT_EQ(d.CancelSaveData, 1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Read(c.changes), 1);
        EXPECT_TRUE(recordedBoxes.empty());
        c.check(D());
    }
}

TEST_F(SetupDescription, DirectXFlagsFromTheLowTwoBits) {
    struct Case {
        std::optional<std::string> value;
        uint32_t flags;
    } cases[] = {
        {std::nullopt, 0u}, {"0", 0x10000u}, {"1", 0x10008u}, {"2", 0x10010u},
        {"3", 0x10018u},    {"4", 0x10000u}, {"-1", 0x10018u}, {"abc", 0x10000u},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Read({{"InstallDirectX", c.value}}), 1);
        EXPECT_EQ(D().InstallDirectX, c.flags) << c.value.value_or("(absent)");
    }
}

TEST_F(SetupDescription, AddOnListReplacesTheFourthChoiceList) {
    std::vector<Key> keys = {{"InstallSelects", "4"}, {"InstallAfterAdd", "1"},
                             {"InstallAddFiles", "2:add1,add2"}, {"InstallAddSize", "4096"}};
    for (int s = 0; s < 4; ++s) {
        keys.push_back({"InstallTitle" + std::to_string(s), "t" + std::to_string(s)});
        keys.push_back({"InstallFiles" + std::to_string(s), s == 3 ? "x,y,z" : "f"});
        keys.push_back({"InstallSize" + std::to_string(s), std::to_string(100 + s)});
    }
    ASSERT_EQ(Read(keys), 1);
    EXPECT_TRUE(recordedBoxes.empty());
    EXPECT_STREQ(D().InstallFiles[3][0], "add1");
    EXPECT_STREQ(D().InstallFiles[3][1], "add2");
    EXPECT_STREQ(D().InstallFiles[3][2], "");
    EXPECT_EQ(D().InstallFileNumbers[3][1], 2);
    EXPECT_EQ(D().InstallFilesNumbered[3], 1);
    EXPECT_STREQ(D().InstallTitle[3], "t3");
    EXPECT_EQ(D().InstallSize[3], 103u);
    EXPECT_EQ(D().InstallAddSize, 4096u);
    EXPECT_EQ(Updater.SilentMissingKeys, 1);

    // Without InstallAfterAdd the add-on keys are not read.
    ASSERT_EQ(Read({{"InstallAddFiles", "q"}, {"InstallAddSize", "5"}}), 1);
    EXPECT_EQ(D().InstallAddSize, 0u);
}

// The switch over a whole start: the updater's own missing keys are reported, the
// installer's required keys then fail silently.
TEST_F(SetupDescription, MissingKeyReportingFollowsTheStages) {
    UsePayload({{"UPDATE.INI", ""}});
    UseInstallRecord("Software\\Maker\\Demo", {{"InstPath", "\"C:\\\\Game\""}, {"InstMode", "dword:00000001"}});
    WriteBytes(C("Game/SETUP.INI"), Ini({"[SETUP]", "CompanyName=M", "GameTitle=T", "GameDir=D"}));
    Updater.SilentMissingKeys = 0;

    UseUpdateIni({"[SETUP]", "CompanyName=Maker", "GameTitle=Demo", "GameDir=Demo"});
    EXPECT_EQ(LoadUpdaterSettings(), 0);
    EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{
                                 {"SETUP : GameClass キーが存在しません", "DEDODEDO", MB_OK | MB_ICONERROR, nullptr}}));

    recordedBoxes.clear();
    UseUpdateIni({"[SETUP]", "CompanyName=Maker", "GameTitle=Demo", "GameClass=C", "GameDir=Demo"});
    ASSERT_EQ(LoadUpdaterSettings(), 1);
    EXPECT_EQ(ReadSetupDescription(), 0);
    EXPECT_TRUE(recordedBoxes.empty());
}

}  // namespace
