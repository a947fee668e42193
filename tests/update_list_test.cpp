// The update list: how entries are parsed, and what each mode does to the install
// and data folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstring>
#include <functional>

#include "dialog_script.h"
#include "fake_install.h"
#include "scripted_dialogs.h"
#include "resource_ids.h"
#include "update_list.h"
#include "update_run.h"
#include "updater_state.h"

namespace {

using wq2test::FakeInstall;
using wq2test::IniLines;
using wq2test::RecordedBox;
using wq2test::recordedBoxes;

using wq2test::PlainProc;
using wq2test::script;

constexpr uint64_t kOld = 0x01D0000000000000ull;  // 2014
constexpr uint64_t kNew = 0x01DB000000000000ull;  // 2024

class UpdateList : public FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        UsePayload({{"UPDATE.INI", ""}, {"a.dat", "new a"}, {"b.dat", "new b"}, {"表.dat", "new hyo"},
                    {"save.dat", "default save"}});
        lstrcpyA(Updater.InstPath, "C:\\Game");
        lstrcpyA(Updater.DataPath, "C:\\Data");
        Updater.InstMode = 2;
        Updater.SilentMissingKeys = 1;
        std::filesystem::create_directories(C("Game/sub"));
        std::filesystem::create_directories(C("Data"));
    }

    void TearDown() override {
        FakeInstall::TearDown();
    }

    void UpdateSection(const IniLines& keys) {
        IniLines lines = {"[UPDATE]"};
        lines.insert(lines.end(), keys.begin(), keys.end());
        UseUpdateIni(lines);
    }

    // Applies the list inside a wizard-like dialog; returns ApplyUpdateList's result.
    int Apply(int overwriteOnly = 0) {
        int result = -2;
        script = [&](HWND dialog) { result = ApplyUpdateList(dialog, overwriteOnly); };
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, PlainProc, 0);
        return result;
    }

    static void SetTime(const std::filesystem::path& p, uint64_t fileTime) {
        uint64_t ns100 = fileTime - 116444736000000000ull;
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = time_t(ns100 / 10000000);
        times[0].tv_nsec = times[1].tv_nsec = long(ns100 % 10000000) * 100;
        ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    }

    static std::string Read(const std::filesystem::path& p) { return ReadBytes(p); }

    wq2test::ScriptedDialogs scripted_;
};

struct Parsed {
    uint32_t mode;
    std::string path;
    std::string entry;
    bool operator==(const Parsed&) const = default;
};

void PrintTo(const Parsed& p, std::ostream* os) { *os << p.mode << " \"" << p.path << "\" \"" << p.entry << '"'; }

TEST_F(UpdateList, EntriesParseIntoModePathAndEntryName) {
    struct Case {
        std::string value;
        int32_t instMode;
        std::vector<Parsed> parsed;  // empty: refused
    } cases[] = {
        {"readme.txt", 5, {{ModePlain, "readme.txt", "readme.txt"}}},
        {"u,data\\a.bin", 5, {{ModeUpdate, "data\\a.bin", "a.bin"}}},
        {"D,save.dat", 5, {{ModeData, "save.dat", "save.dat"}}},
        {"2,o,b.dat", 2, {{ModeOverwrite, "b.dat", "b.dat"}}},
        {"2,o,b.dat", 1, {}},
        {"12,b.dat", 2, {{ModePlain, "12", "12"}}},
        {"u ,c.dat", 2, {{ModePlain, "u ", "u "}}},
        {"2,b.dat", 2, {{ModePlain, "b.dat", "b.dat"}}},
        {"sub\\\x95\x5C.dat", 2, {{ModePlain, "sub\\\x95\x5C.dat", "\x95\x5C.dat"}}},
        {"\x95\x5C\\x.dat", 2, {{ModePlain, "\x95\x5C\\x.dat", "x.dat"}}},
        {"a\\b\\c.dat,extra,more", 2, {{ModePlain, "a\\b\\c.dat", "c.dat"}}},
        {"x,u", 2, {{ModePlain, "x", "x"}}},
        {"u", 2, {{ModeUpdate, "", ""}}},
    };
    for (const Case& c : cases) {
        UpdateSection({"UpdateFile00=" + c.value});
        Updater.InstMode = c.instMode;
        EXPECT_EQ(ParseUpdateList(), 1) << c.value;
        std::vector<Parsed> got;
        for (int i = 0; i < Updater.UpdateItemCount; ++i) {
            const UpdateItem& item = Updater.UpdateItems[i];
            got.push_back({item.Mode, item.Path, item.Path + item.NameOffset});
        }
        EXPECT_EQ(got, c.parsed) << c.value;
    }
}

TEST_F(UpdateList, ScanStopsAtTheFirstAbsentKeyAndSkipsRefusedEntries) {
    struct Case {
        IniLines keys;
        int first;
        std::vector<std::string> paths;
    } cases[] = {
        {{"UpdateFile00=a", "UpdateFile02=c"}, 1, {"a"}},
        {{"UpdateFile00=a", "UpdateFile01=", "UpdateFile02=c"}, 1, {"a"}},
        {{"UpdateFile01=b"}, 0, {}},
        {{"UpdateFile00=a", "UpdateFile01=9,b", "UpdateFile02=c"}, 1, {"a", "c"}},
        {{"UpdateFile00=9,a"}, 1, {}},
    };
    for (const Case& c : cases) {
        UpdateSection(c.keys);
        EXPECT_EQ(ParseUpdateList(), c.first);
        std::vector<std::string> paths;
        for (int i = 0; i < Updater.UpdateItemCount; ++i) paths.push_back(Updater.UpdateItems[i].Path);
        EXPECT_EQ(paths, c.paths);
    }
    // Sixteen keys at most: number 16 is never read.
    IniLines all;
    for (int i = 0; i <= 16; ++i) all.push_back("UpdateFile" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "=f" + std::to_string(i));
    UpdateSection(all);
    ParseUpdateList();
    EXPECT_EQ(Updater.UpdateItemCount, 16);
    EXPECT_STREQ(Updater.UpdateItems[15].Path, "f15");
}

TEST_F(UpdateList, EachModeDecidesWhetherTheTargetIsWritten) {
    struct Case {
        const char* what;
        std::string entry;
        int overwriteOnly;
        std::function<void(UpdateList&)> prepare;
        const char* target;      // under drive C:
        std::string expected;    // content afterwards; "" means absent
    } cases[] = {
        {"plain into a missing file", "a.dat", 0, nullptr, "Game/a.dat", "new a"},
        {"plain over a newer file", "a.dat", 0,
         [](UpdateList& t) {
             t.WriteBytes(t.C("Game/a.dat"), "mine");
             SetTime(t.C("Game/a.dat"), kNew);
         },
         "Game/a.dat", "new a"},
        {"update over a newer file", "u,a.dat", 0,
         [](UpdateList& t) {
             t.WriteBytes(t.C("Game/a.dat"), "mine");
             SetTime(t.C("Game/a.dat"), kNew);
         },
         "Game/a.dat", "mine"},
        {"update over an older file", "u,a.dat", 0,
         [](UpdateList& t) {
             t.WriteBytes(t.C("Game/a.dat"), "mine");
             SetTime(t.C("Game/a.dat"), kOld);
         },
         "Game/a.dat", "new a"},
        {"overwrite with nothing there", "o,a.dat", 0, nullptr, "Game/a.dat", ""},
        {"overwrite over a folder", "o,sub", 0, nullptr, "Game/sub/a.dat", ""},
        {"overwrite over a file", "o,a.dat", 0, [](UpdateList& t) { t.WriteBytes(t.C("Game/a.dat"), "old"); },
         "Game/a.dat", "new a"},
        {"overwrite-only with nothing there", "b.dat", 1, nullptr, "Game/b.dat", ""},
        {"overwrite-only over an older file", "u,b.dat", 1,
         [](UpdateList& t) {
             t.WriteBytes(t.C("Game/b.dat"), "old");
             SetTime(t.C("Game/b.dat"), kOld);
         },
         "Game/b.dat", "new b"},
        {"data with no file there", "d,save.dat", 0, nullptr, "Data/save.dat", "default save"},
        {"data keeps the player's file", "d,save.dat", 0,
         [](UpdateList& t) { t.WriteBytes(t.C("Data/save.dat"), "player's progress"); }, "Data/save.dat",
         "player's progress"},
        {"subfolder with a two-byte name", "sub\\\x95\x5C.dat", 0, nullptr, "Game/sub/\xE8\xA1\xA8.dat", "new hyo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(C("Game"));
        std::filesystem::remove_all(C("Data"));
        std::filesystem::create_directories(C("Game/sub"));
        std::filesystem::create_directories(C("Data"));
        if (c.prepare) c.prepare(*this);
        UpdateSection({"UpdateFile00=" + c.entry});
        recordedBoxes.clear();
        ParseUpdateList();
        EXPECT_EQ(Apply(c.overwriteOnly), 1);
        EXPECT_TRUE(recordedBoxes.empty());
        if (c.expected.empty()) {
            EXPECT_FALSE(std::filesystem::exists(C(c.target)));
        } else {
            EXPECT_EQ(Read(C(c.target)), c.expected);
        }
    }
}

TEST_F(UpdateList, DataFolderIsJoinedAndCreatedUnderEitherBase) {
    lstrcpyA(Updater.DataFolder, "v2");
    UpdateSection({"UpdateFile00=a.dat", "UpdateFile01=d,save.dat"});
    ParseUpdateList();
    EXPECT_EQ(Apply(), 1);
    EXPECT_EQ(Read(C("Game/v2/a.dat")), "new a");
    EXPECT_EQ(Read(C("Data/v2/save.dat")), "default save");
}

TEST_F(UpdateList, KeptDataFileIsRewrittenWithItsOwnContentByASafeReplace) {
    WriteBytes(C("Data/save.dat"), "player's progress");
    SetTime(C("Data/save.dat"), kOld);
    UpdateSection({"UpdateFile00=d,save.dat"});
    ParseUpdateList();
    ASSERT_EQ(Apply(), 1);
    EXPECT_EQ(Read(C("Data/save.dat")), "player's progress");
    struct stat st {};
    ASSERT_EQ(stat(C("Data/save.dat").c_str(), &st), 0);
    EXPECT_GT(uint64_t(st.st_mtim.tv_sec), uint64_t(1700000000));  // the time of the rewrite
    for (const auto& e : std::filesystem::directory_iterator(C("Data"))) {
        EXPECT_EQ(e.path().filename().string().find("~upd"), std::string::npos);
    }
}

TEST_F(UpdateList, KeptReadOnlyDataFileIsNotRewritten) {
    // A rename cannot replace a read-only file on Windows; the file stays as it
    // is, time and mark included, on every system.
    WriteBytes(C("Data/save.dat"), "player's progress");
    SetTime(C("Data/save.dat"), kOld);
    ASSERT_TRUE(SetFileAttributesA("C:\\Data\\save.dat", FILE_ATTRIBUTE_READONLY));
    UpdateSection({"UpdateFile00=d,save.dat"});
    ParseUpdateList();
    ASSERT_EQ(Apply(), 1);
    EXPECT_EQ(Read(C("Data/save.dat")), "player's progress");
    EXPECT_NE(GetFileAttributesA("C:\\Data\\save.dat") & FILE_ATTRIBUTE_READONLY, 0u);
    struct stat st {};
    ASSERT_EQ(stat(C("Data/save.dat").c_str(), &st), 0);
    EXPECT_LT(uint64_t(st.st_mtim.tv_sec), uint64_t(1500000000));
}

TEST_F(UpdateList, FailuresEndTheWizardAfterTheirMessages) {
    const RecordedBox writeFailed = {"ファイルの書き込みに失敗しました", "UPDATE", MB_OK | MB_ICONERROR, nullptr};
    struct Case {
        const char* what;
        IniLines keys;
        std::vector<std::string> boxes;
        const char* notWritten;
    } cases[] = {
        {"missing subfolder", {"UpdateFile00=nosuch\\a.dat"}, {writeFailed.text}, nullptr},
        {"entry not in the payload", {"UpdateFile00=a.dat", "UpdateFile01=gone.dat", "UpdateFile02=b.dat"},
         {"Can't Find File in Resource !!", writeFailed.text}, "Game/b.dat"},
        {"target is a folder", {"UpdateFile00=sub\\b.dat"}, {writeFailed.text}, nullptr},
        {"path field too long for its buffer", {"UpdateFile00=" + std::string(300, 'p')}, {writeFailed.text}, nullptr},
        {"joined path too long", {"UpdateFile00=" + std::string(255, 'p')}, {writeFailed.text}, nullptr},
    };
    std::filesystem::create_directories(C("Game/sub/b.dat"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateSection(c.keys);
        recordedBoxes.clear();
        ParseUpdateList();
        HWND seenOwner = nullptr;
        int result = -2;
        script = [&](HWND dialog) {
            Updater.WizardWindow = dialog;
            seenOwner = dialog;
            result = ApplyUpdateList(dialog, 0);
        };
        INT_PTR ended = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, PlainProc, 0);
        Updater.WizardWindow = nullptr;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ended, -1);
        std::vector<std::string> texts;
        for (const RecordedBox& b : recordedBoxes) {
            texts.push_back(b.text);
            EXPECT_EQ(b.owner, seenOwner);
        }
        EXPECT_EQ(texts, c.boxes);
        if (c.notWritten) {
            EXPECT_FALSE(std::filesystem::exists(C(c.notWritten)));
        }
    }
    // What was written before a failure stays.
    EXPECT_EQ(Read(C("Game/a.dat")), "new a");
}

TEST_F(UpdateList, ReadWholeFileGivesTheBytesOrNothing) {
    WriteBytes(C("Game/f.bin"), std::string("\0\1\2three", 8));
    WriteBytes(C("Game/empty.bin"), "");
    uint32_t size = 99;
    uint8_t* bytes = ReadWholeFile("C:\\Game\\f.bin", &size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), size), std::string("\0\1\2three", 8));
    GlobalFree(bytes);
    bytes = ReadWholeFile("C:\\Game\\empty.bin", &size);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(size, 0u);
    GlobalFree(bytes);
    EXPECT_EQ(ReadWholeFile("C:\\Game\\none.bin", &size), nullptr);
    EXPECT_EQ(ReadWholeFile("C:\\Game\\sub", &size), nullptr);
    bytes = ReadWholeFile("C:\\Game\\f.bin", nullptr);
    EXPECT_NE(bytes, nullptr);
    GlobalFree(bytes);
}

}  // namespace
