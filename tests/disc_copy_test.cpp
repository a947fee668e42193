// The disc copy list: its syntax, finding the install disc among CD-ROM drives
// (declared in the prefix's system.reg, as Wine records them), the prompt, and
// the shell's copy of files and folders.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstring>
#include <functional>

#include "dialog_script.h"
#include "disc_copy.h"
#include "fake_install.h"
#include "scripted_dialogs.h"
#include "resource_ids.h"
#include "update_run.h"
#include "updater_state.h"

namespace {

using wq2test::FakeInstall;
using wq2test::IniLines;
using wq2test::RecordedBox;
using wq2test::recordedBoxes;

using wq2test::PlainProc;
using wq2test::script;

std::function<bool(const wq2::platform::CopyProgress&)> onCopy;
bool CopyHandler(const wq2::platform::CopyProgress& p) { return onCopy ? onCopy(p) : true; }

const char kPrompt[] = "ＣＤ－ＲＯＭドライブに「デモ」ディスク 1 を入れて下さい";

class DiscCopy : public FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        previousCopy_ = wq2::platform::SetCopyProgressHandler(CopyHandler);
        onCopy = nullptr;
        // Two CD-ROM drives, P: empty and Q: with the disc; D: a plain drive that
        // also holds a check file, which must not count.
        for (const char* d : {"p", "q", "d"}) {
            std::filesystem::create_directories(root_ / d);
            std::filesystem::create_directory_symlink(root_ / d, root_ / "prefix" / "dosdevices" / (std::string(d) + ":"));
        }
        WriteBytes(root_ / "prefix" / "system.reg",
                   "WINE REGISTRY Version 2\n\n[Software\\\\Wine\\\\Drives] 1700000000\n\"p:\"=\"cdrom\"\n"
                   "\"Q:\"=\"cdrom\"\n\"d:\"=\"hd\"\n");
        Disc("DEMO.CHK", "disc 1");
        WriteBytes(root_ / "d" / "DEMO.CHK", "not a disc");
        Disc("movie/op.mpg", "opening");
        Disc("dir/sub/a.txt", "in sub");
        Disc("dir/sub/deeper/b.txt", "deeper");
        Disc("a.dat", "a from q");
        Disc("b.dat", "b from q");
        std::filesystem::create_directories(C("Game"));
        lstrcpyA(Updater.InstPath, "C:\\Game");
        lstrcpyA(Updater.GameTitle, "デモ");
        lstrcpyA(Updater.Caption, "デモ アップデータ ");
        lstrcpyA(Updater.SetupDescription.DiskCheckFile[1], "DEMO.CHK");
        Updater.InstMode = 2;
        Updater.SilentMissingKeys = 1;
        UsePayload({{"UPDATE.INI", ""}});
    }

    void TearDown() override {
        wq2::platform::SetCopyProgressHandler(previousCopy_);
        onCopy = nullptr;
        FakeInstall::TearDown();
    }

    // A read-only file on the disc in Q:.
    void Disc(const std::string& path, const std::string& content) {
        WriteBytes(root_ / "q" / path, content);
        chmod((root_ / "q" / path).c_str(), 0444);
    }

    void Copies(const IniLines& keys) {
        IniLines lines = {"[UPDATE]"};
        lines.insert(lines.end(), keys.begin(), keys.end());
        UseUpdateIni(lines);
    }

    // Parses and applies the list inside a dialog; the dialog's end value and
    // what ApplyDiscCopyList returned.
    std::pair<INT_PTR, int> Apply() {
        int result = -2;
        script = [&](HWND dialog) {
            dialog_ = dialog;
            Updater.WizardWindow = dialog;
            ParseDiscCopyList();
            result = ApplyDiscCopyList(dialog);
            if (result) EndDialog(dialog, 0);
        };
        INT_PTR ended = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, PlainProc, 0);
        Updater.WizardWindow = nullptr;
        return {ended, result};
    }

    HWND dialog_ = nullptr;
    wq2test::ScriptedDialogs scripted_;
    wq2::platform::CopyProgressHandler previousCopy_ = nullptr;
};

TEST_F(DiscCopy, EntriesParseIntoDiscAndPath) {
    struct Case {
        std::string value;
        int32_t instMode;
        bool accepted;
        int32_t disc;
        std::string path;
    } cases[] = {
        {"1:movie\\op.mpg", 7, true, 1, "movie\\op.mpg"},
        {"2,1:bonus", 2, true, 1, "bonus"},
        {"2,1:bonus", 3, false, 0, ""},
        {"extra.dat", 2, true, 0, "extra.dat"},
        {"0:extra.dat", 2, true, 0, "extra.dat"},
        {"1:a, b.txt", 2, true, 1, "a, b.txt"},
        {"C:\\x", 2, true, 'C' - '0', "\\x"},
        {"x,1:y", 2, false, 0, ""},
        {"2,", 2, true, 0, ""},
    };
    for (const Case& c : cases) {
        Copies({"CopyFile00=" + c.value});
        Updater.InstMode = c.instMode;
        EXPECT_EQ(ParseDiscCopyList(), 1) << c.value;
        ASSERT_EQ(Updater.DiscCopyCount, c.accepted ? 1 : 0) << c.value;
        if (!c.accepted) continue;
        EXPECT_EQ(Updater.DiscCopyDiscs[0], c.disc) << c.value;
        EXPECT_EQ(std::string(Updater.DiscCopyPaths[0]), c.path) << c.value;
    }
}

TEST_F(DiscCopy, ScanStopsAtTheFirstAbsentKeyAndSkipsRefusedEntries) {
    Copies({"CopyFile01=1:a.dat"});
    EXPECT_EQ(ParseDiscCopyList(), 0);
    EXPECT_EQ(Updater.DiscCopyCount, 0);
    Copies({"CopyFile00=1:a.dat", "CopyFile01=9,1:x", "CopyFile02=b.dat", "CopyFile04=c.dat"});
    EXPECT_EQ(ParseDiscCopyList(), 1);
    ASSERT_EQ(Updater.DiscCopyCount, 2);
    EXPECT_STREQ(Updater.DiscCopyPaths[1], "b.dat");
    // A value longer than its buffer arrives cut, as the settings reader cuts it.
    Copies({"CopyFile00=1:" + std::string(300, 'n')});
    ParseDiscCopyList();
    EXPECT_EQ(std::strlen(Updater.DiscCopyPaths[0]), 257u);
}

TEST_F(DiscCopy, CopiesFilesAndFoldersFromTheDisc) {
    WriteBytes(C("Game/movie/op.mpg"), "old movie");
    chmod(C("Game/movie/op.mpg").c_str(), 0444);
    Copies({"CopyFile00=1:movie\\op.mpg", "CopyFile01=1:dir\\sub", "CopyFile02=a.dat"});
    auto [ended, result] = Apply();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(recordedBoxes.empty());
    // A file lands at its own path below the install folder, replacing what was there.
    EXPECT_EQ(ReadBytes(C("Game/movie/op.mpg")), "opening");
    // A folder lands under its own last name.
    EXPECT_EQ(ReadBytes(C("Game/sub/a.txt")), "in sub");
    EXPECT_EQ(ReadBytes(C("Game/sub/deeper/b.txt")), "deeper");
    EXPECT_FALSE(std::filesystem::exists(C("Game/dir")));
    // An entry without a number after a numbered one: from the same drive.
    EXPECT_EQ(ReadBytes(C("Game/a.dat")), "a from q");
    // A copied file is writable again; after a folder copy only the install
    // folder itself is reset, so the folder's files keep the disc's attribute.
    auto readOnly = [](const char* path) { return (GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY) != 0; };
    EXPECT_FALSE(readOnly("C:\\Game\\movie\\op.mpg"));
    EXPECT_FALSE(readOnly("C:\\Game\\a.dat"));
    EXPECT_TRUE(readOnly("C:\\Game\\sub\\a.txt"));
}

TEST_F(DiscCopy, EveryNumberedEntrySearchesAgainFromA) {
    // While the first copy runs, the disc also appears in P:, which comes first.
    onCopy = [&](const wq2::platform::CopyProgress&) {
        if (!std::filesystem::exists(root_ / "p" / "DEMO.CHK")) {
            WriteBytes(root_ / "p" / "DEMO.CHK", "disc 1");
            WriteBytes(root_ / "p" / "b.dat", "b from p");
        }
        return true;
    };
    Copies({"CopyFile00=1:a.dat", "CopyFile01=1:b.dat"});
    auto [ended, result] = Apply();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadBytes(C("Game/a.dat")), "a from q");
    EXPECT_EQ(ReadBytes(C("Game/b.dat")), "b from p");
}

TEST_F(DiscCopy, EmptyCheckFileTakesTheFirstCdRomDrive) {
    Updater.SetupDescription.DiskCheckFile[1][0] = '\0';
    WriteBytes(root_ / "p" / "b.dat", "b from p");
    Copies({"CopyFile00=1:b.dat"});
    EXPECT_EQ(Apply().second, 1);
    EXPECT_EQ(ReadBytes(C("Game/b.dat")), "b from p");
}

TEST_F(DiscCopy, PromptRepeatsUntilTheDiscIsThereOrTheUserGivesUp) {
    std::filesystem::remove(root_ / "q" / "DEMO.CHK");
    int prompts = 0;
    wq2test::boxAnswer = [&](const RecordedBox& box) {
        if (box.text == kPrompt && ++prompts == 3) WriteBytes(root_ / "q" / "DEMO.CHK", "disc 1");
        return IDOK;
    };
    Copies({"CopyFile00=1:a.dat"});
    auto [ended, result] = Apply();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(prompts, 3);
    ASSERT_FALSE(recordedBoxes.empty());
    EXPECT_EQ(recordedBoxes[0], (RecordedBox{kPrompt, "デモ アップデータ ", MB_OKCANCEL, dialog_}));
    EXPECT_EQ(ReadBytes(C("Game/a.dat")), "a from q");

    // Cancel at the prompt ends the wizard with -1 and nothing more.
    std::filesystem::remove(root_ / "q" / "DEMO.CHK");
    std::filesystem::remove(C("Game/a.dat"));
    recordedBoxes.clear();
    wq2test::boxAnswer = [](const RecordedBox&) { return IDCANCEL; };
    auto [ended2, result2] = Apply();
    EXPECT_EQ(result2, 0);
    EXPECT_EQ(ended2, -1);
    EXPECT_EQ(recordedBoxes.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(C("Game/a.dat")));
}

TEST_F(DiscCopy, FailuresAndCancelEndTheWizard) {
    auto failed = [](const std::string& path) { return "SETUP.INI : \"" + path + "\" のコピーに失敗しました"; };
    struct Case {
        const char* what;
        IniLines keys;
        bool cancelCopy;
        std::vector<std::string> boxes;
        const char* copied;  // a file an earlier entry wrote, which stays
    } cases[] = {
        {"missing source", {"CopyFile00=1:nothing"}, false, {failed("nothing")}, nullptr},
        {"no number before any numbered entry", {"CopyFile00=a.dat", "CopyFile01=1:b.dat"}, false,
         {failed("a.dat")}, nullptr},
        {"a drive letter for a number", {"CopyFile00=1:a.dat", "CopyFile01=C:\\x"}, false, {failed("\\x")},
         "Game/a.dat"},
        {"source path too long", {"CopyFile00=1:" + std::string(257, 's')}, false, {failed(std::string(257, 's'))},
         nullptr},
        {"cancel in the progress window", {"CopyFile00=1:movie\\op.mpg"}, true, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(C("Game"));
        std::filesystem::create_directories(C("Game"));
        recordedBoxes.clear();
        onCopy = [&](const wq2::platform::CopyProgress&) { return !c.cancelCopy; };
        Copies(c.keys);
        auto [ended, result] = Apply();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ended, -1);
        std::vector<std::string> texts;
        for (const RecordedBox& b : recordedBoxes) {
            texts.push_back(b.text);
            EXPECT_EQ(b.type, UINT(MB_ICONERROR));
            EXPECT_EQ(b.owner, dialog_);
        }
        EXPECT_EQ(texts, c.boxes);
        if (c.copied) {
            EXPECT_TRUE(std::filesystem::exists(C(c.copied)));
        }
        if (c.cancelCopy) {
            EXPECT_FALSE(std::filesystem::exists(C("Game/movie/op.mpg")));
        }
    }
}

// The whole run through the wizard: the free-space check, then both lists.
class UpdateRun : public DiscCopy {
protected:
    void SetUp() override {
        DiscCopy::SetUp();
        previousVolume_ = wq2::platform::SetVolumeQuery(FakeVolume);
        freeBytes = 400000;
        UsePayload({{"UPDATE.INI", ""}, {"new.dat", "new"}});
    }
    void TearDown() override {
        wq2::platform::SetVolumeQuery(previousVolume_);
        DiscCopy::TearDown();
    }
    static int FakeVolume(const char*, struct statvfs* out) {
        std::memset(out, 0, sizeof *out);
        out->f_frsize = out->f_bsize = 1;
        out->f_bavail = out->f_bfree = freeBytes;
        out->f_blocks = freeBytes * 2;
        return 0;
    }
    static int NoVolume(const char*, struct statvfs*) {
        errno = EIO;
        return -1;
    }

    // Presses Next on the confirmation page; the info text and buttons afterwards.
    std::string Run(std::string* buttons = nullptr) {
        std::string info;
        script = [&](HWND dialog) {
            Updater.WizardWindow = dialog;
            RunUpdate(dialog);
            char text[kMessageSize];
            GetDlgItemTextA(dialog, IDC_INFO, text, sizeof text);
            info = text;
            if (buttons) {
                *buttons = "";
                for (int id : {IDC_NEXT, IDC_BACK, IDC_CANCEL}) {
                    *buttons += IsWindowEnabled(GetDlgItem(dialog, id)) ? '1' : '0';
                }
            }
        };
        ended_ = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, PlainProc, 0);
        Updater.WizardWindow = nullptr;
        return info;
    }

    static inline uint64_t freeBytes = 0;
    INT_PTR ended_ = 0;
    wq2::platform::VolumeQuery previousVolume_ = nullptr;
};

TEST_F(UpdateRun, FreeSpaceCheck) {
    const std::string done = "アップデートは完了しました";
    struct Case {
        std::string required;  // "-" for absent
        uint64_t available;
        std::string info;
    } cases[] = {
        {"-", 1u << 30, done},
        {"0", 1u << 30, done},
        {"abc", 1u << 30, done},
        {"1000000", 1000000, done},
        {"1000000", 400000, "ディスク容量が足りません。\rC: ドライブに 600000 バイトの空き容量が必要です"},
        {"  1000000 bytes", 999999, "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.required);
        IniLines keys = {"[UPDATE]", "UpdateFile00=new.dat"};
        if (c.required != "-") keys.push_back("RequiredDiskSpace=" + c.required);
        UseUpdateIni(keys);
        freeBytes = c.available;
        std::string buttons;
        EXPECT_EQ(Run(&buttons), c.info);
        EXPECT_EQ(buttons, c.info == done ? "100" : "011");
    }
    // A drive whose free space cannot be learned does not stop the run.
    wq2::platform::SetVolumeQuery(NoVolume);
    UseUpdateIni({"[UPDATE]", "UpdateFile00=new.dat", "RequiredDiskSpace=1000000"});
    EXPECT_EQ(Run(), done);
}

TEST_F(UpdateRun, ListsDecideHowTheRunEnds) {
    struct Case {
        const char* what;
        IniLines keys;
        std::vector<std::string> boxes;
        INT_PTR ended;  // -2: the script returned, the wizard was not ended
    } cases[] = {
        {"no list at all", {}, {"No 'UpdateFileXX' and 'CopyFileXX'"}, -1},
        {"lists that start late", {"UpdateFile01=new.dat", "CopyFile01=1:a.dat"},
         {"No 'UpdateFileXX' and 'CopyFileXX'"}, -1},
        {"every entry for another install mode", {"UpdateFile00=5,new.dat", "CopyFile00=5,1:a.dat"},
         {"アップデートする必要のあるファイルはありません"}, -2},
        {"copies only", {"CopyFile00=1:a.dat"}, {}, -2},
        {"both lists", {"UpdateFile00=new.dat", "CopyFile00=1:a.dat"}, {}, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IniLines keys = {"[UPDATE]"};
        keys.insert(keys.end(), c.keys.begin(), c.keys.end());
        UseUpdateIni(keys);
        recordedBoxes.clear();
        Run();
        std::vector<std::string> texts;
        for (const RecordedBox& b : recordedBoxes) texts.push_back(b.text);
        EXPECT_EQ(texts, c.boxes);
        EXPECT_EQ(ended_, c.ended == -2 ? INT_PTR(-1) : c.ended);
    }
}

TEST_F(UpdateRun, EmptyDataPathWritesBelowTheCurrentFolder) {
    Updater.DataPath[0] = '\0';
    UseUpdateIni({"[UPDATE]", "UpdateFile00=d,new.dat"});
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(C("Game"));
    std::string info = Run();
    std::filesystem::current_path(previous);
    EXPECT_EQ(info, "アップデートは完了しました");
    EXPECT_EQ(ReadBytes(C("Game/new.dat")), "new");
}

}  // namespace
