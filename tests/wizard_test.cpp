// The wizard's pages and buttons and the launch sequence around it, driven by
// scripted dialogs: the same controls and messages as the desktop dialog,
// without a display.
#include <sys/statvfs.h>

#include <cstring>
#include <functional>

#include "dialog_script.h"
#include "fake_install.h"
#include "scripted_dialogs.h"
#include "launch_sequence.h"
#include "resource_ids.h"
#include "updater_state.h"
#include "wizard.h"

namespace {

using wq2::platform::ScriptClick;
using wq2::platform::ScriptCloseBox;
using wq2::platform::ScriptKey;
using wq2::platform::ScriptPointerCursor;
using wq2test::FakeInstall;
using wq2test::IniLines;
using wq2test::RecordedBox;
using wq2test::recordedBoxes;

using wq2test::PlainProc;
using wq2test::script;

// Free bytes the fake volume query reports for every drive.
uint64_t freeBytes = uint64_t(1) << 40;
int FakeVolume(const char*, struct statvfs* out) {
    std::memset(out, 0, sizeof *out);
    out->f_frsize = 1;
    out->f_bsize = 1;
    out->f_bavail = freeBytes;
    out->f_bfree = freeBytes;
    out->f_blocks = freeBytes * 2;
    return 0;
}

std::string Text(HWND dialog, int id) {
    char buffer[kMessageSize];
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

std::string Title(HWND dialog) {
    char buffer[kMessageSize];
    GetWindowTextA(dialog, buffer, sizeof buffer);
    return buffer;
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Shown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

// The state of the three buttons as "NBC" letters, lower case when disabled.
std::string Buttons(HWND dialog) {
    std::string s;
    s += Enabled(dialog, IDC_NEXT) ? 'N' : 'n';
    s += Enabled(dialog, IDC_BACK) ? 'B' : 'b';
    s += Enabled(dialog, IDC_CANCEL) ? 'C' : 'c';
    return s;
}

class Wizard : public FakeInstall {
protected:
    void SetUp() override {
        FakeInstall::SetUp();
        previousVolume_ = wq2::platform::SetVolumeQuery(FakeVolume);
        freeBytes = uint64_t(1) << 40;
        UsePayload({{"UPDATE.INI", ""}, {"a.dat", "new"}, {"agree.txt", "規約\r\n第1条"},
                    {"title.txt", "100% 新しい %s"}});
        UseInstallRecord("Software\\Maker\\Demo", {{"InstPath", "\"C:\\\\Game\""}, {"InstMode", "dword:1"}});
        WriteBytes(C("Game/SETUP.INI"),
                   Ini({"[SETUP]", "CompanyName=Maker", "GameTitle=デモ", "GameDir=Demo", "GameExe=demo.exe",
                        "UninstExe=u.exe", "SetupBmp=a.bmp", "InstallSelects=0", "Shortcuts=0"}));
    }

    void TearDown() override {
        wq2::platform::SetVolumeQuery(previousVolume_);
        FakeInstall::TearDown();
    }

    // "UPDATE.INI" with the game's identity, `setup` more keys of section SETUP
    // and `update` keys of section UPDATE (one update entry unless given).
    void Settings(const IniLines& setup, IniLines update = {"UpdateFile00=a.dat"}) {
        IniLines lines = {"[SETUP]", "CompanyName=Maker", "GameTitle=デモ", "GameClass=DemoClass", "GameDir=Demo"};
        lines.insert(lines.end(), setup.begin(), setup.end());
        lines.push_back("[UPDATE]");
        lines.insert(lines.end(), update.begin(), update.end());
        UseUpdateIni(lines);
    }

    // Runs the launch sequence with `body` as the user.
    int Launch(std::function<void(HWND)> body) {
        script = std::move(body);
        return RunLaunchSequence(nullptr);
    }

    wq2test::ScriptedDialogs scripted_;
    wq2::platform::VolumeQuery previousVolume_ = nullptr;
};

TEST_F(Wizard, StartPageFollowsTheAgreementTexts) {
    struct Case {
        const char* what;
        IniLines setup;
        bool agreementControls;  // template 101
        std::string info;
        std::string buttons;
    } cases[] = {
        {"no agreement", {}, false, "「デモ」のアップデートを開始します", "NbC"},
        {"title alone", {"AgreementTitle=title.txt"}, false, "100% 新しい %s", "NbC"},
        {"agreement text", {"AgreementText=agree.txt"}, true, "「デモ」のアップデートを開始します", "nbC"},
        {"both", {"AgreementText=agree.txt", "AgreementTitle=title.txt"}, true, "100% 新しい %s", "nbC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetUpdaterState();
        UsePayload({{"UPDATE.INI", ""}, {"a.dat", "new"}, {"agree.txt", "規約\r\n第1条"},
                    {"title.txt", "100% 新しい %s"}});
        Settings(c.setup);
        bool ran = false;
        Launch([&](HWND dialog) {
            ran = true;
            EXPECT_EQ(Updater.WizardWindow, dialog);
            EXPECT_EQ(Title(dialog), "デモ アップデータ ");
            EXPECT_EQ(Text(dialog, IDC_INFO), c.info);
            EXPECT_EQ(Buttons(dialog), c.buttons);
            EXPECT_EQ(GetFocus(), nullptr);
            for (int id : {IDC_AGREEMENT, IDC_AGREE, IDC_DISAGREE}) {
                EXPECT_EQ(GetDlgItem(dialog, id) != nullptr, c.agreementControls) << id;
            }
            if (c.agreementControls) {
                EXPECT_EQ(Text(dialog, IDC_AGREEMENT), "規約\r\n第1条");
                EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DISAGREE), UINT(BST_CHECKED));
                EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_AGREE), UINT(BST_UNCHECKED));
                for (int id : {IDC_AGREEMENT, IDC_AGREE, IDC_DISAGREE}) {
                    EXPECT_TRUE(Shown(dialog, id)) << id;
                    EXPECT_TRUE(Enabled(dialog, id)) << id;
                }
            }
            ScriptClick(dialog, IDC_CANCEL);
        });
        EXPECT_TRUE(ran);
    }
}

TEST_F(Wizard, AgreementGatesNextAndTheWholeWayToCompletion) {
    Settings({"AgreementText=agree.txt"});
    int result = Launch([](HWND dialog) {
        EXPECT_FALSE(ScriptClick(dialog, IDC_NEXT));
        EXPECT_FALSE(ScriptKey(dialog, VK_RETURN));
        EXPECT_TRUE(ScriptClick(dialog, IDC_AGREE));
        EXPECT_EQ(Buttons(dialog), "NbC");
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_AGREE), UINT(BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DISAGREE), UINT(BST_UNCHECKED));
        EXPECT_TRUE(ScriptClick(dialog, IDC_DISAGREE));
        EXPECT_EQ(Buttons(dialog), "nbC");
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DISAGREE), UINT(BST_CHECKED));
        ScriptClick(dialog, IDC_AGREE);
        ASSERT_TRUE(ScriptClick(dialog, IDC_NEXT));
        // The confirmation page.
        EXPECT_EQ(Text(dialog, IDC_INFO), "アップデートを実行します");
        EXPECT_EQ(Buttons(dialog), "NbC");
        for (int id : {IDC_AGREEMENT, IDC_AGREE, IDC_DISAGREE}) EXPECT_FALSE(Shown(dialog, id)) << id;
        EXPECT_EQ(Updater.WizardPage, 1);
        ASSERT_TRUE(ScriptClick(dialog, IDC_NEXT));
        // The completion page: only "完了" goes on; Escape and the close box do nothing.
        EXPECT_EQ(Text(dialog, IDC_INFO), "アップデートは完了しました");
        EXPECT_EQ(Text(dialog, IDC_NEXT), "完了");
        EXPECT_EQ(Buttons(dialog), "Nbc");
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_NEXT));
        EXPECT_EQ(ScriptPointerCursor(dialog), LoadCursorA(nullptr, IDC_ARROW));
        EXPECT_FALSE(ScriptKey(dialog, VK_ESCAPE));
        EXPECT_FALSE(ScriptCloseBox(dialog));
        EXPECT_FALSE(ScriptClick(dialog, IDC_CANCEL));
        // A cancel command that a dialog manager sends without looking at the
        // button (Wine's, for Escape and the close box) ends nothing either.
        WizardDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_TRUE(ScriptKey(dialog, VK_RETURN));
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(recordedBoxes.empty());
    EXPECT_EQ(Updater.WizardWindow, nullptr);
    EXPECT_EQ(std::filesystem::exists(C("Game/a.dat")), true);
}

TEST_F(Wizard, EveryWayOutBeforeCompletionIsAnInterruption) {
    struct Case {
        const char* what;
        std::function<void(HWND)> user;
    } cases[] = {
        {"Cancel on the start page", [](HWND d) { ScriptClick(d, IDC_CANCEL); }},
        {"Escape on the start page", [](HWND d) { ScriptKey(d, VK_ESCAPE); }},
        {"close box on the confirmation page",
         [](HWND d) {
             ScriptKey(d, VK_RETURN);
             ScriptCloseBox(d);
         }},
        {"Cancel on the confirmation page",
         [](HWND d) {
             ScriptClick(d, IDC_NEXT);
             ScriptClick(d, IDC_CANCEL);
         }},
        {"the user walks away (the dialog ends without EndDialog)", [](HWND) {}},
    };
    Settings({"UpdaterTitle=デモ更新"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recordedBoxes.clear();
        EXPECT_EQ(Launch(c.user), 0);
        EXPECT_EQ(recordedBoxes, (std::vector<RecordedBox>{
                                     {"アップデートが中断されました", "デモ更新", MB_OK | MB_ICONERROR, nullptr}}));
        EXPECT_FALSE(std::filesystem::exists(C("Game/a.dat")));
    }
}

TEST_F(Wizard, CaptionComesFromTheSettingsAndTheInstallersTitle) {
    struct Case {
        IniLines setup;
        std::string setupTitle;
        std::string caption;
    } cases[] = {
        {{"UpdaterTitle=特別版 100%", "UpdaterVersion=2.0"}, "デモ", "特別版 100%"},
        {{"UpdaterVersion=2.0"}, "デモ", "デモ アップデータ 2.0"},
        {{}, "デモ", "デモ アップデータ "},
        {{}, "本当の題名", "本当の題名 アップデータ "},
    };
    for (const Case& c : cases) {
        ResetUpdaterState();
        UsePayload({{"UPDATE.INI", ""}, {"a.dat", "new"}});
        Settings(c.setup);
        WriteBytes(C("Game/SETUP.INI"),
                   Ini({"[SETUP]", "CompanyName=Maker", "GameTitle=" + c.setupTitle, "GameDir=Demo",
                        "GameExe=demo.exe", "UninstExe=u.exe", "SetupBmp=a.bmp", "InstallSelects=0",
                        "Shortcuts=0"}));
        std::string seen;
        Launch([&](HWND dialog) {
            seen = Title(dialog);
            ScriptClick(dialog, IDC_CANCEL);
        });
        EXPECT_EQ(seen, c.caption);
        EXPECT_EQ(std::string(Updater.Caption), c.caption);
    }
}

TEST_F(Wizard, ShortageOffersBackAndTheNextRunStartsAnew) {
    Settings({}, {"RequiredDiskSpace=1000000", "UpdateFile00=a.dat"});
    freeBytes = 400000;
    int result = Launch([](HWND dialog) {
        ScriptClick(dialog, IDC_NEXT);
        ScriptClick(dialog, IDC_NEXT);
        EXPECT_EQ(Text(dialog, IDC_INFO), "ディスク容量が足りません。\rC: ドライブに 600000 バイトの空き容量が必要です");
        EXPECT_EQ(Buttons(dialog), "nBC");
        EXPECT_EQ(ScriptPointerCursor(dialog), LoadCursorA(nullptr, IDC_ARROW));
        EXPECT_EQ(Updater.WizardPage, 2);
        ASSERT_TRUE(ScriptClick(dialog, IDC_BACK));
        EXPECT_EQ(Text(dialog, IDC_INFO), "アップデートを実行します");
        EXPECT_EQ(Buttons(dialog), "NbC");
        EXPECT_EQ(Updater.WizardPage, 1);
        freeBytes = 1000000;  // exactly enough
        ASSERT_TRUE(ScriptClick(dialog, IDC_NEXT));
        EXPECT_EQ(Text(dialog, IDC_INFO), "アップデートは完了しました");
        ScriptClick(dialog, IDC_NEXT);
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(recordedBoxes.empty());
}

TEST_F(Wizard, CommandsWhileTheRunIsBusyDoNothing) {
    // Every entry is for another install mode: the run says so in a box while busy.
    Settings({}, {"UpdateFile00=7,a.dat"});
    HWND wizard = nullptr;
    wq2test::boxAnswer = [&](const RecordedBox&) {
        EXPECT_EQ(Updater.WizardBusy, 1);
        EXPECT_EQ(Buttons(wizard), "nbc");
        EXPECT_EQ(ScriptPointerCursor(wizard), LoadCursorA(nullptr, IDC_WAIT));
        EXPECT_EQ(ScriptPointerCursor(wizard, IDC_INFO), LoadCursorA(nullptr, IDC_WAIT));
        // Commands that reach the procedure anyway (the buttons are disabled).
        for (int id : {IDC_NEXT, IDC_BACK, IDC_CANCEL}) {
            WizardDialogProc(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        }
        EXPECT_EQ(Updater.WizardPage, 1);
        EXPECT_EQ(Text(wizard, IDC_INFO), "アップデートを実行しています");
        return IDOK;
    };
    int result = Launch([&](HWND dialog) {
        wizard = dialog;
        ScriptClick(dialog, IDC_NEXT);
        ScriptClick(dialog, IDC_NEXT);
        EXPECT_EQ(Text(dialog, IDC_INFO), "アップデートは完了しました");
        EXPECT_EQ(Updater.WizardBusy, 0);
        ScriptClick(dialog, IDC_NEXT);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(recordedBoxes.size(), 1u);
    EXPECT_EQ(recordedBoxes[0].text, "アップデートする必要のあるファイルはありません");
    EXPECT_EQ(recordedBoxes[0].owner, wizard);
}

TEST_F(Wizard, CommandsOtherThanClicksAndUnknownIdsAreIgnored) {
    Settings({});
    int result = Launch([](HWND dialog) {
        // A notification other than a click, and an id the wizard does not know.
        WizardDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, 1), 0);
        WizardDialogProc(dialog, WM_COMMAND, MAKEWPARAM(999, BN_CLICKED), 0);
        EXPECT_EQ(Updater.WizardPage, 0);
        // Hiding the agreement controls on template 100 finds none and does nothing.
        ShowConfirmPage(dialog);
        EXPECT_EQ(Text(dialog, IDC_INFO), "アップデートを実行します");
        ScriptClick(dialog, IDC_CANCEL);
    });
    EXPECT_EQ(result, 0);
}

TEST_F(Wizard, InfoTextIsCutToItsBuffer) {
    Settings({});
    Launch([](HWND dialog) {
        std::string longText(2000, 'x');
        SetInfoText(dialog, "%s", longText.c_str());
        EXPECT_EQ(Text(dialog, IDC_INFO).size(), size_t(kMessageSize - 1));
        SetInfoText(dialog, "%s %i", "件数", 42);
        EXPECT_EQ(Text(dialog, IDC_INFO), "件数 42");
        ScriptClick(dialog, IDC_CANCEL);
    });
}

TEST_F(Wizard, WizardThatCannotBeCreatedIsAnInterruption) {
    Settings({});
    wq2::platform::SetDialogScript(nullptr);
    wq2test::SavedVariable display("DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(RunLaunchSequence(nullptr), 0);
    ASSERT_EQ(recordedBoxes.size(), 1u);
    EXPECT_EQ(recordedBoxes[0].text, "アップデートが中断されました");
}

// Top-level windows of pretend programs, found by class (or the dialog class
// atom) and exact title.
struct FakeWindow {
    std::string className;  // "#dialog" for the system dialog class
    std::string title;
};
std::vector<FakeWindow> fakeWindows;
std::vector<std::string> searches;

HWND FindFakeWindow(LPCSTR className, LPCSTR title) {
    std::string wanted = reinterpret_cast<uintptr_t>(className) == 0x8002 ? "#dialog" : className;
    searches.push_back(wanted + "|" + title);
    for (size_t i = 0; i < fakeWindows.size(); ++i) {
        if (fakeWindows[i].className == wanted && fakeWindows[i].title == title) {
            return reinterpret_cast<HWND>(uintptr_t(0x7000 + i));
        }
    }
    return nullptr;
}

class RunningPrograms : public Wizard {
protected:
    void SetUp() override {
        Wizard::SetUp();
        previousFinder_ = wq2::platform::SetWindowFinder(FindFakeWindow);
        fakeWindows.clear();
        searches.clear();
    }
    void TearDown() override {
        wq2::platform::SetWindowFinder(previousFinder_);
        Wizard::TearDown();
    }
    static std::string Question(const std::string& title) {
        return "「" + title +
               "」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
               "を、アップデートを中止する場合は [キャンセル] を押して下さい";
    }
    wq2::platform::WindowFinder previousFinder_ = nullptr;
};

TEST_F(RunningPrograms, AnotherCopyIsBroughtForwardAndThisOneEndsQuietly) {
    Settings({});
    fakeWindows = {{"#dialog", "デモ アップデータ "}};
    bool wizardShown = false;
    EXPECT_EQ(Launch([&](HWND) { wizardShown = true; }), 0);
    EXPECT_FALSE(wizardShown);
    EXPECT_TRUE(recordedBoxes.empty());
    // The check comes after the settings and uses the final caption.
    EXPECT_EQ(searches, (std::vector<std::string>{"#dialog|デモ アップデータ "}));
}

TEST_F(RunningPrograms, GameWindowsAreAskedAboutUntilTheyAreGone) {
    const std::string cancelled = "アップデートが中断されました";
    struct Case {
        const char* what;
        IniLines setup;
        std::vector<FakeWindow> windows;
        std::vector<int> answers;  // to the questions, in order
        // Done when a question has been answered OK this many times: the game's
        // windows close, and these open.
        size_t closeAfter;
        std::vector<FakeWindow> openAfter;
        std::vector<std::string> boxes;
        int exitCode;
        bool wizard;
    } cases[] = {
        {"the game runs until the third OK", {}, {{"デモ", "デモ"}}, {IDOK, IDOK, IDOK}, 3, {},
         {Question("デモ"), Question("デモ"), Question("デモ"), cancelled}, 0, true},
        {"Cancel at the question", {}, {{"デモ", "デモ"}}, {IDCANCEL}, 99, {}, {Question("デモ")}, 0, false},
        {"a window of another class is no game", {}, {{"Other", "デモ"}}, {}, 0, {}, {cancelled}, 0, true},
        {"the second title is asked about with its own name", {"GameTitleA=デモ体験版"},
         {{"デモ", "デモ体験版"}}, {IDOK}, 1, {}, {Question("デモ体験版"), cancelled}, 0, true},
        {"the first title is not looked for again", {"GameTitleA=デモ体験版"}, {{"デモ", "デモ体験版"}}, {IDOK}, 1,
         {{"デモ", "デモ"}}, {Question("デモ体験版"), cancelled}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetUpdaterState();
        UsePayload({{"UPDATE.INI", ""}, {"a.dat", "new"}});
        Settings(c.setup);
        fakeWindows = c.windows;
        recordedBoxes.clear();
        size_t asked = 0, oks = 0;
        wq2test::boxAnswer = [&](const RecordedBox& box) {
            if (box.type != MB_OKCANCEL) return IDOK;
            EXPECT_EQ(box.caption, "デモ アップデータ ");
            EXPECT_EQ(box.owner, nullptr);
            int answer = asked < c.answers.size() ? c.answers[asked] : IDCANCEL;
            ++asked;
            if (answer == IDOK && ++oks == c.closeAfter) fakeWindows = c.openAfter;
            return answer;
        };
        bool wizardShown = false;
        EXPECT_EQ(Launch([&](HWND dialog) {
                      wizardShown = true;
                      ScriptClick(dialog, IDC_CANCEL);
                  }),
                  c.exitCode);
        EXPECT_EQ(wizardShown, c.wizard);
        std::vector<std::string> texts;
        for (const RecordedBox& b : recordedBoxes) texts.push_back(b.text);
        EXPECT_EQ(texts, c.boxes);
    }
    wq2test::boxAnswer = nullptr;
}

}  // namespace
