// Dialogs built from the templates and driven by scripts, with a dialog
// procedure of the test's own that logs what reaches it. The scripted dialog
// shares its model and dispatch with the window on the desktop, so these are
// the rules a user's clicks and keys go through there too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "dialog_script.h"
#include "platform.h"
#include "resource_ids.h"
#include "saved_variable.h"

namespace {

using wq2::platform::ScriptClick;
using wq2::platform::ScriptCloseBox;
using wq2::platform::ScriptKey;
using wq2::platform::ScriptPointerCursor;

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// What the procedure has been sent, and how it answers.
std::vector<Message> received;
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> answer;
std::function<void(HWND)> script;

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({message, wParam, lParam});
    return answer ? answer(dialog, message, wParam, lParam) : 0;
}

void RunScript(HWND dialog) { script(dialog); }

std::vector<int> Commands() {
    std::vector<int> ids;
    for (const Message& m : received) {
        if (m.message == WM_COMMAND) ids.push_back(LOWORD(m.wParam));
    }
    return ids;
}

std::string ItemText(HWND dialog, int id) {
    char buffer[512];
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

class ScriptedDialog : public ::testing::Test {
protected:
    void SetUp() override {
        received.clear();
        answer = nullptr;
        wq2::platform::SetDialogScript(RunScript);
    }
    void TearDown() override {
        wq2::platform::SetDialogScript(nullptr);
        SetMessageBoxHandler(nullptr);
        answer = nullptr;
        script = nullptr;
    }

    static INT_PTR Run(int templateId, std::function<void(HWND)> body) {
        script = std::move(body);
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(templateId), nullptr, Procedure, 42);
    }
};

// ---- Building ------------------------------------------------------------------

TEST_F(ScriptedDialog, BuildsEveryControlOfEachTemplateWithItsTexts) {
    struct Case {
        int templateId;
        std::vector<std::pair<int, std::string>> controls;  // id, code page 932 text
        std::vector<int> absent;
    };
    const Case cases[] = {
        {IDD_WIZARD,
         {{IDC_NEXT, "\x8E\x9F\x82\xD6"}, {IDC_CANCEL, "\x92\x86\x8E\x7E"}, {IDC_BACK, "\x96\xDF\x82\xE9"},
          {IDC_INFO, "Info"}},
         {IDC_AGREEMENT, IDC_AGREE, IDC_DISAGREE, 3, 9999}},
        {IDD_WIZARD_AGREEMENT,
         {{IDC_NEXT, "\x8E\x9F\x82\xD6"},
          {IDC_CANCEL, "\x92\x86\x8E\x7E"},
          {IDC_BACK, "\x96\xDF\x82\xE9"},
          {IDC_INFO, "Info"},
          {IDC_AGREEMENT, ""},
          {IDC_AGREE, "\x93\xAF\x88\xD3\x82\xB7\x82\xE9"},
          {IDC_DISAGREE, "\x93\xAF\x88\xD3\x82\xB5\x82\xC8\x82\xA2"}},
         {3, 9999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateId);
        bool visibleDuringInit = true;
        answer = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
            if (message == WM_INITDIALOG) visibleDuringInit = IsWindowVisible(dialog) != FALSE;
            return 0;
        };
        received.clear();
        const INT_PTR result = Run(c.templateId, [&](HWND dialog) {
            char title[16];
            EXPECT_EQ(GetWindowTextA(dialog, title, sizeof title), 6);
            EXPECT_STREQ(title, "UPDATE");
            EXPECT_TRUE(IsWindowVisible(dialog));
            for (const auto& [id, text] : c.controls) {
                HWND control = GetDlgItem(dialog, id);
                ASSERT_NE(control, nullptr) << id;
                EXPECT_NE(control, dialog);
                EXPECT_EQ(ItemText(dialog, id), text) << id;
                EXPECT_TRUE(IsWindowEnabled(control)) << id;
                EXPECT_TRUE(IsWindowVisible(control)) << id;
                EXPECT_EQ(IsDlgButtonChecked(dialog, id), static_cast<UINT>(BST_UNCHECKED)) << id;
            }
            for (int id : c.absent) {
                SetLastError(0);
                EXPECT_EQ(GetDlgItem(dialog, id), nullptr) << id;
                EXPECT_EQ(GetLastError(), ERROR_CONTROL_ID_NOT_FOUND) << id;
                EXPECT_FALSE(SetDlgItemTextA(dialog, id, "x")) << id;
                char buffer[4] = "zzz";
                EXPECT_EQ(GetDlgItemTextA(dialog, id, buffer, sizeof buffer), 0u) << id;
                EXPECT_STREQ(buffer, "") << id;
            }
            EXPECT_EQ(GetFocus(), nullptr);  // WM_INITDIALOG answered 0
        });
        EXPECT_EQ(result, -1);  // the script did not end the dialog
        EXPECT_FALSE(visibleDuringInit);
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received.front().message, static_cast<UINT>(WM_INITDIALOG));
        EXPECT_EQ(received.front().lParam, 42);
        EXPECT_EQ(received.back().message, static_cast<UINT>(WM_DESTROY));
    }
}

TEST_F(ScriptedDialog, UnknownTemplateFailsWithoutCallingTheProcedure) {
    bool ran = false;
    for (LPCSTR name : std::initializer_list<LPCSTR>{MAKEINTRESOURCEA(99), MAKEINTRESOURCEA(0), "WIZARD"}) {
        script = [&](HWND) { ran = true; };
        SetLastError(0);
        EXPECT_EQ(DialogBoxParamA(nullptr, name, nullptr, Procedure, 0), -1);
        EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    // "#101" names the template as a string.
    script = [&](HWND dialog) {
        ran = true;
        EndDialog(dialog, 5);
    };
    EXPECT_EQ(DialogBoxParamA(nullptr, "#101", nullptr, Procedure, 0), 5);
    EXPECT_TRUE(ran);
    EXPECT_EQ(received.front().message, static_cast<UINT>(WM_INITDIALOG));
}

TEST_F(ScriptedDialog, HandlesEndWithTheirDialog) {
    HWND kept = nullptr;
    HWND keptControl = nullptr;
    EXPECT_EQ(Run(IDD_WIZARD,
                  [&](HWND dialog) {
                      kept = dialog;
                      keptControl = GetDlgItem(dialog, IDC_NEXT);
                      EndDialog(dialog, 3);
                  }),
              3);
    SetLastError(0);
    EXPECT_EQ(GetDlgItem(kept, IDC_NEXT), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(SetWindowTextA(keptControl, "x"));
    EXPECT_FALSE(EnableWindow(keptControl, TRUE));
    EXPECT_FALSE(IsWindowVisible(kept));
    EXPECT_FALSE(EndDialog(kept, 1));
    EXPECT_EQ(SetFocus(keptControl), nullptr);
}

// ---- Text ----------------------------------------------------------------------

// Code page 932 texts whose second bytes are "\" (表 0x95 0x5C, ソ 0x83 0x5C) and
// line breaks come back byte for byte.
TEST_F(ScriptedDialog, TextsRoundTripInCodePage932) {
    const std::string texts[] = {
        "\x95\x5C\x8E\xA6",                   // 表示
        "\x83\x5C\x83\x74\x83\x67\\path\\",   // ソフト\path\ .
        "line 1\r\nline 2\r\n",               //
        "",
    };
    Run(IDD_WIZARD_AGREEMENT, [&](HWND dialog) {
        for (const std::string& text : texts) {
            for (int id : {IDC_INFO, IDC_AGREEMENT, IDC_NEXT, IDC_AGREE}) {
                ASSERT_TRUE(SetDlgItemTextA(dialog, id, text.c_str()));
                EXPECT_EQ(ItemText(dialog, id), text) << id;
            }
            ASSERT_TRUE(SetWindowTextA(dialog, text.c_str()));
            char title[64];
            EXPECT_EQ(GetWindowTextA(dialog, title, sizeof title), static_cast<int>(text.size()));
            EXPECT_EQ(std::string(title), text);
        }
        SetDlgItemTextA(dialog, IDC_INFO, nullptr);
        EXPECT_EQ(ItemText(dialog, IDC_INFO), "");
    });
}

// A buffer of exactly `size` bytes, so a write past it is caught by the
// address sanitizer; the text "aソb" has a two-byte character whose second
// byte is "\".
TEST_F(ScriptedDialog, TextIsCutAtAWholeCharacter) {
    struct Case {
        int size;
        std::string expected;
    };
    const Case cases[] = {{1, ""}, {2, "a"}, {3, "a"}, {4, "a\x83\x5C"}, {5, "a\x83\x5C" "b"}, {64, "a\x83\x5C" "b"}};
    Run(IDD_WIZARD, [&](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_INFO, "a\x83\x5C" "b");
        SetWindowTextA(dialog, "a\x83\x5C" "b");
        for (const Case& c : cases) {
            SCOPED_TRACE(c.size);
            auto buffer = std::make_unique<char[]>(static_cast<size_t>(c.size));
            EXPECT_EQ(GetDlgItemTextA(dialog, IDC_INFO, buffer.get(), c.size), c.expected.size());
            EXPECT_EQ(std::string(buffer.get()), c.expected);
            auto title = std::make_unique<char[]>(static_cast<size_t>(c.size));
            EXPECT_EQ(GetWindowTextA(dialog, title.get(), c.size), static_cast<int>(c.expected.size()));
            EXPECT_EQ(std::string(title.get()), c.expected);
        }
        // No room at all: nothing is written.
        char untouched = '*';
        EXPECT_EQ(GetDlgItemTextA(dialog, IDC_INFO, &untouched, 0), 0u);
        EXPECT_EQ(untouched, '*');
    });
}

// ---- Input ---------------------------------------------------------------------

// Each case prepares the dialog, acts as the user would, and names the one
// command expected (0: none).
TEST_F(ScriptedDialog, UserActionsReachTheProcedureOnlyWhereTheControlTakesThem) {
    struct Case {
        const char* name;
        std::function<void(HWND)> prepare;
        std::function<bool(HWND)> act;
        int command;
    };
    auto disable = [](int id) { return [id](HWND dialog) { EnableWindow(GetDlgItem(dialog, id), FALSE); }; };
    auto hide = [](int id) { return [id](HWND dialog) { ShowWindow(GetDlgItem(dialog, id), SW_HIDE); }; };
    auto none = [](HWND) {};
    auto click = [](int id) { return [id](HWND dialog) { return ScriptClick(dialog, id); }; };
    auto key = [](int vk) { return [vk](HWND dialog) { return ScriptKey(dialog, vk); }; };
    const Case cases[] = {
        {"click Next", none, click(IDC_NEXT), IDC_NEXT},
        {"click Back", none, click(IDC_BACK), IDC_BACK},
        {"click disabled Back", disable(IDC_BACK), click(IDC_BACK), 0},
        {"click hidden Back", hide(IDC_BACK), click(IDC_BACK), 0},
        {"click a radio button", none, click(IDC_AGREE), IDC_AGREE},
        {"click disabled radio button", disable(IDC_DISAGREE), click(IDC_DISAGREE), 0},
        {"click the text", none, click(IDC_INFO), 0},
        {"click the agreement box", none, click(IDC_AGREEMENT), 0},
        {"click in a disabled dialog", [](HWND dialog) { EnableWindow(dialog, FALSE); }, click(IDC_NEXT), 0},
        {"click an unknown id", none, click(77), 0},
        {"Enter", none, key(VK_RETURN), IDC_NEXT},
        {"Enter, Next hidden but enabled", hide(IDC_NEXT), key(VK_RETURN), IDC_NEXT},
        {"Enter, Next disabled", disable(IDC_NEXT), key(VK_RETURN), 0},
        {"Enter on focused Cancel", [](HWND dialog) { SetFocus(GetDlgItem(dialog, IDC_CANCEL)); },
         key(VK_RETURN), IDC_CANCEL},
        {"Enter on focused radio button", [](HWND dialog) { SetFocus(GetDlgItem(dialog, IDC_AGREE)); },
         key(VK_RETURN), IDC_NEXT},
        {"Enter on the focused box, Next disabled",
         [](HWND dialog) {
             EnableWindow(GetDlgItem(dialog, IDC_NEXT), FALSE);
             SetFocus(GetDlgItem(dialog, IDC_AGREEMENT));
         },
         key(VK_RETURN), 0},
        {"Escape", none, key(VK_ESCAPE), IDC_CANCEL},
        {"Escape, Cancel disabled", disable(IDC_CANCEL), key(VK_ESCAPE), 0},
        {"Escape, Cancel hidden but enabled", hide(IDC_CANCEL), key(VK_ESCAPE), IDC_CANCEL},
        {"close box", none, [](HWND dialog) { return ScriptCloseBox(dialog); }, IDC_CANCEL},
        {"close box, Cancel disabled", disable(IDC_CANCEL), [](HWND dialog) { return ScriptCloseBox(dialog); }, 0},
        {"another key", none, key('A'), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        Run(IDD_WIZARD_AGREEMENT, [&](HWND dialog) {
            c.prepare(dialog);
            EXPECT_EQ(c.act(dialog), c.command != 0);
            if (c.command == 0) {
                EXPECT_TRUE(Commands().empty());
                return;
            }
            ASSERT_EQ(Commands(), std::vector<int>{c.command});
            const Message& m = received.back();
            EXPECT_EQ(HIWORD(m.wParam), BN_CLICKED);
            EXPECT_EQ(reinterpret_cast<HWND>(m.lParam), GetDlgItem(dialog, c.command));
        });
    }
}

TEST_F(ScriptedDialog, AnEndedDialogTakesNoMoreInput) {
    answer = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_NEXT) EndDialog(dialog, 9);
        return 0;
    };
    EXPECT_EQ(Run(IDD_WIZARD,
                  [](HWND dialog) {
                      EXPECT_TRUE(ScriptClick(dialog, IDC_NEXT));
                      EXPECT_FALSE(IsWindowVisible(dialog));
                      EXPECT_FALSE(ScriptClick(dialog, IDC_CANCEL));
                      EXPECT_FALSE(ScriptKey(dialog, VK_ESCAPE));
                  }),
              9);
    EXPECT_EQ(Commands(), std::vector<int>{IDC_NEXT});
}

// Plain radio buttons: a click reports and leaves the marks alone; only
// CheckRadioButton moves them, within its range.
TEST_F(ScriptedDialog, RadioMarksMoveOnlyByCheckRadioButton) {
    Run(IDD_WIZARD_AGREEMENT, [](HWND dialog) {
        auto marks = [dialog] {
            return std::make_pair(IsDlgButtonChecked(dialog, IDC_AGREE), IsDlgButtonChecked(dialog, IDC_DISAGREE));
        };
        using Marks = std::pair<UINT, UINT>;
        ScriptClick(dialog, IDC_AGREE);
        EXPECT_EQ(marks(), Marks(BST_UNCHECKED, BST_UNCHECKED));
        ASSERT_TRUE(CheckRadioButton(dialog, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE));
        EXPECT_EQ(marks(), Marks(BST_UNCHECKED, BST_CHECKED));
        ScriptClick(dialog, IDC_AGREE);
        EXPECT_EQ(marks(), Marks(BST_UNCHECKED, BST_CHECKED));
        CheckRadioButton(dialog, IDC_AGREE, IDC_DISAGREE, IDC_AGREE);
        EXPECT_EQ(marks(), Marks(BST_CHECKED, BST_UNCHECKED));
        // A range that leaves IDC_AGREE out does not touch it.
        CheckRadioButton(dialog, IDC_DISAGREE, IDC_DISAGREE, IDC_DISAGREE);
        EXPECT_EQ(marks(), Marks(BST_CHECKED, BST_CHECKED));
        // Push buttons in the range have no mark.
        CheckRadioButton(dialog, IDC_NEXT, IDC_DISAGREE, IDC_NEXT);
        EXPECT_EQ(marks(), Marks(BST_UNCHECKED, BST_UNCHECKED));
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_NEXT), static_cast<UINT>(BST_UNCHECKED));
    });
    std::vector<int> expected{IDC_AGREE, IDC_AGREE};
    EXPECT_EQ(Commands(), expected);
}

TEST_F(ScriptedDialog, EnableAndShowReportThePreviousState) {
    Run(IDD_WIZARD, [](HWND dialog) {
        HWND back = GetDlgItem(dialog, IDC_BACK);
        EXPECT_FALSE(EnableWindow(back, FALSE));  // was enabled
        EXPECT_FALSE(IsWindowEnabled(back));
        EXPECT_TRUE(EnableWindow(back, FALSE));  // was disabled
        EXPECT_TRUE(EnableWindow(back, TRUE));
        EXPECT_TRUE(IsWindowEnabled(back));
        EXPECT_TRUE(ShowWindow(back, SW_HIDE));  // was visible
        EXPECT_FALSE(IsWindowVisible(back));
        EXPECT_FALSE(ShowWindow(back, SW_SHOW));
        EXPECT_TRUE(IsWindowVisible(back));
        // A control is visible only while its dialog is.
        ShowWindow(dialog, SW_HIDE);
        EXPECT_FALSE(IsWindowVisible(back));
        EXPECT_FALSE(ScriptClick(dialog, IDC_BACK));
        ShowWindow(dialog, SW_SHOW);
        EXPECT_TRUE(IsWindowVisible(back));
    });
}

TEST_F(ScriptedDialog, FocusFollowsTheAnswerToInitDialogClicksAndStates) {
    // A non-zero answer focuses the first tab stop, which wParam names.
    answer = [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR { return message == WM_INITDIALOG ? 1 : 0; };
    Run(IDD_WIZARD_AGREEMENT, [](HWND dialog) {
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_NEXT));
        EXPECT_EQ(reinterpret_cast<HWND>(received.front().wParam), GetDlgItem(dialog, IDC_NEXT));
        ScriptClick(dialog, IDC_CANCEL);
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_CANCEL));
        ScriptClick(dialog, IDC_AGREEMENT);
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_AGREEMENT));
        // A control that can take no keys loses the focus.
        EnableWindow(GetDlgItem(dialog, IDC_AGREEMENT), FALSE);
        EXPECT_EQ(GetFocus(), nullptr);
        EXPECT_EQ(SetFocus(GetDlgItem(dialog, IDC_BACK)), nullptr);
        EXPECT_EQ(SetFocus(nullptr), GetDlgItem(dialog, IDC_BACK));
        EXPECT_EQ(GetFocus(), nullptr);
    });
    EXPECT_EQ(GetFocus(), nullptr);
}

// ---- Cursor --------------------------------------------------------------------

TEST_F(ScriptedDialog, PointerAsksTheProcedureForTheCursor) {
    const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    const HCURSOR ibeam = LoadCursorA(nullptr, IDC_IBEAM);
    ASSERT_NE(arrow, nullptr);
    ASSERT_NE(wait, nullptr);
    ASSERT_NE(arrow, wait);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(32650)), nullptr);
    EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(1), IDC_WAIT), nullptr);

    bool busy = false;
    answer = [&](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message != WM_SETCURSOR || !busy) return 0;
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        return 1;
    };
    Run(IDD_WIZARD_AGREEMENT, [&](HWND dialog) {
        EXPECT_EQ(ScriptPointerCursor(dialog), arrow);
        const Message& m = received.back();
        EXPECT_EQ(m.message, static_cast<UINT>(WM_SETCURSOR));
        EXPECT_EQ(reinterpret_cast<HWND>(m.wParam), dialog);
        EXPECT_EQ(LOWORD(m.lParam), HTCLIENT);
        EXPECT_EQ(HIWORD(m.lParam), WM_MOUSEMOVE);
        EXPECT_EQ(ScriptPointerCursor(dialog, IDC_NEXT), arrow);
        EXPECT_EQ(reinterpret_cast<HWND>(received.back().wParam), GetDlgItem(dialog, IDC_NEXT));
        EXPECT_EQ(ScriptPointerCursor(dialog, IDC_AGREEMENT), ibeam);

        // Set while busy, kept until the pointer asks again.
        EXPECT_EQ(SetCursor(wait), ibeam);
        busy = true;
        EXPECT_EQ(ScriptPointerCursor(dialog, IDC_AGREEMENT), wait);
        EXPECT_EQ(ScriptPointerCursor(dialog, IDC_NEXT), wait);
        busy = false;
        EXPECT_EQ(SetCursor(arrow), wait);
        EXPECT_EQ(ScriptPointerCursor(dialog), arrow);
    });
}

// ---- Ending, also from nested loops ----------------------------------------------

TEST_F(ScriptedDialog, EndDialogFromInitDialogSkipsTheScript) {
    answer = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) EndDialog(dialog, 11);
        return 0;
    };
    bool ran = false;
    EXPECT_EQ(Run(IDD_WIZARD, [&](HWND) { ran = true; }), 11);
    EXPECT_FALSE(ran);
}

TEST_F(ScriptedDialog, EndDialogValueIsReturnedAfterTheHandlerFinishes) {
    std::vector<std::string> order;
    answer = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_CANCEL) {
            EndDialog(dialog, -1);
            // The handler goes on with a live dialog after EndDialog.
            order.push_back(IsWindowEnabled(GetDlgItem(dialog, IDC_NEXT)) ? "alive" : "gone");
        }
        if (message == WM_DESTROY) order.push_back("destroy");
        return 0;
    };
    EXPECT_EQ(Run(IDD_WIZARD,
                  [](HWND dialog) {
                      ScriptClick(dialog, IDC_CANCEL);
                  }),
              -1);
    EXPECT_EQ(order, (std::vector<std::string>{"alive", "destroy"}));
}

// A command handler opens a message box; while it is up, the user clicks the
// dialog again (Next, then Cancel), and Cancel's handler ends the dialog from
// inside the box. The outer handler then finishes, and the dialog returns
// Cancel's value.
HWND boxDialog = nullptr;
std::vector<std::string>* trace = nullptr;

int BoxClicksTheDialog(HWND owner, LPCSTR, LPCSTR, UINT) {
    EXPECT_EQ(owner, boxDialog);
    trace->push_back("box");
    ScriptClick(boxDialog, IDC_NEXT);
    ScriptClick(boxDialog, IDC_CANCEL);
    return IDOK;
}

TEST_F(ScriptedDialog, CommandsArriveWhileAHandlerWaitsInAMessageBox) {
    std::vector<std::string> order;
    trace = &order;
    int depth = 0;
    answer = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message != WM_COMMAND) return 0;
        const int id = LOWORD(wParam);
        order.push_back("command " + std::to_string(id) + " at depth " + std::to_string(depth));
        if (id == IDC_NEXT && depth == 0) {
            ++depth;
            boxDialog = dialog;
            MessageBoxA(dialog, "?", "UPDATE", MB_OKCANCEL);
            --depth;
            order.push_back("box closed");
        }
        if (id == IDC_CANCEL) EndDialog(dialog, 2);
        return 0;
    };
    SetMessageBoxHandler(BoxClicksTheDialog);
    EXPECT_EQ(Run(IDD_WIZARD, [](HWND dialog) { ScriptClick(dialog, IDC_NEXT); }), 2);
    EXPECT_EQ(order, (std::vector<std::string>{"command 1 at depth 0", "box", "command 1 at depth 1",
                                               "command 2 at depth 1", "box closed"}));
}

// A dialog run from a command of another (its owner) disables the owner while
// it runs, as Windows does.
TEST_F(ScriptedDialog, ANestedDialogDisablesItsOwnerWhileItRuns) {
    HWND outer = nullptr;
    bool ownerEnabledInside = true;
    answer = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && dialog == outer && LOWORD(wParam) == IDC_NEXT) {
            EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), dialog, Procedure, 0), 4);
        }
        return 0;
    };
    Run(IDD_WIZARD_AGREEMENT, [&](HWND dialog) {
        if (outer == nullptr) {
            outer = dialog;
            ScriptClick(dialog, IDC_NEXT);
            EXPECT_TRUE(IsWindowEnabled(dialog));
            return;
        }
        ownerEnabledInside = IsWindowEnabled(outer) != FALSE;
        EXPECT_FALSE(ScriptClick(outer, IDC_CANCEL));
        EndDialog(dialog, 4);
    });
    EXPECT_FALSE(ownerEnabledInside);
}

// ---- No display ------------------------------------------------------------------

TEST(WindowsWithoutDisplay, FindNothingAndOpenNoDialog) {
    wq2test::SavedVariable display("DISPLAY");
    wq2test::SavedVariable wayland("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(FindWindowA(MAKEINTATOM(0x8002), "UPDATE"), nullptr);
    EXPECT_EQ(FindWindowA("GameClass", nullptr), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, nullptr), nullptr);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, Procedure, 0), -1);
    EXPECT_FALSE(ShowWindow(nullptr, SW_SHOW));
    EXPECT_FALSE(SetForegroundWindow(nullptr));
}

}  // namespace
