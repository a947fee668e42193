// The scenario suite's Windows driver: starts the Windows updater, answers its
// message boxes and works its wizard through their windows with the
// scenario's actions, and writes the same transcript as the Linux runner
// (scenario_driver.h). Built with the Windows cross build; under Wine it
// runs beside the updater in the same prefix.
//
// Usage: scenario_harness UPDATER.EXE ACTIONS TRANSCRIPT DISC_STAGED DISC_DRIVE
//   insert-disc moves every entry of DISC_STAGED into DISC_DRIVE (DISC_STAGED
//   itself when DISC_DRIVE is missing); start-game
//   and start-other-copy open a window as those programs would, close-game
//   closes the game's.
// Exits 0 when the run went through, 1 when it was given up, 2 on bad usage.
//
// A wizard action is sent from a second thread, as the click's message returns
// only once the wizard has handled it; meanwhile this thread answers the boxes
// the wizard opens. So the transcript follows the updater step by step, as the
// Linux runner's does, and never reads a page that is still changing.
#include <windows.h>

#include <cstdio>
#include <string>

#include "resource_ids.h"
#include "scenario_driver.h"

namespace {

// The static control that holds a message box's text.
constexpr int kBoxTextId = 0xFFFF;
constexpr ULONGLONG kRunLimitMs = 60000;

std::string discStaged;
std::string discDrive;

std::wstring Wide(const char* utf8) {
    wchar_t buffer[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, 256);
    return buffer;
}

// A window of another program, owned by a thread of its own that answers the
// messages the updater sends it (bringing it forward) until it is closed.
struct OtherWindow {
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HANDLE ready = nullptr;
    bool dialog = false;  // of the system's dialog class, as an updater's wizard
    std::wstring title;
    bool created = false;
};
OtherWindow game;
OtherWindow otherCopy;

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

DWORD WINAPI RunWindow(LPVOID param) {
    auto* window = static_cast<OtherWindow*>(param);
    HWND handle = nullptr;
    if (window->dialog) {
        // A template without controls: style, extended style, count, position,
        // size, then menu, class and the title as UTF-16.
        alignas(4) WORD buffer[128] = {};
        auto* header = reinterpret_cast<DLGTEMPLATE*>(buffer);
        header->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME;
        header->cx = 200;
        header->cy = 60;
        WORD* p = buffer + sizeof(DLGTEMPLATE) / sizeof(WORD);
        *p++ = 0;  // no menu
        *p++ = 0;  // the dialog class
        for (wchar_t c : window->title) *p++ = WORD(c);
        *p++ = 0;
        handle = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), header, nullptr, PlainDialogProc, 0);
    } else {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        const std::wstring className = Wide(scenario::kGameWindowClass);
        windowClass.lpszClassName = className.c_str();
        RegisterClassW(&windowClass);
        handle = CreateWindowExW(0, className.c_str(), window->title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 320, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    window->created = handle != nullptr;
    SetEvent(window->ready);
    if (handle == nullptr) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(handle);
    return 0;
}

bool Open(OtherWindow& window, bool dialog, const char8_t* title) {
    if (window.thread != nullptr) return false;
    window.dialog = dialog;
    window.title = Wide(scenario::Utf8(title));
    window.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    window.thread = CreateThread(nullptr, 0, RunWindow, &window, 0, &window.threadId);
    if (window.thread == nullptr) return false;
    return WaitForSingleObject(window.ready, 10000) == WAIT_OBJECT_0 && window.created;
}

bool Close(OtherWindow& window) {
    if (window.thread == nullptr) return false;
    PostThreadMessageW(window.threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(window.thread, 10000);
    CloseHandle(window.thread);
    CloseHandle(window.ready);
    window = OtherWindow();
    return true;
}

bool OnMachine(const std::string& action) {
    if (action == "start-game") return Open(game, false, scenario::kGameWindowTitle);
    if (action == "close-game") return Close(game);
    if (action == "start-other-copy") return Open(otherCopy, true, scenario::kOtherCopyTitle);
    if (action != "insert-disc") return false;
    // A drive whose folder is missing gets the whole disc as its folder.
    if (GetFileAttributesA(discDrive.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return MoveFileA(discStaged.c_str(), discDrive.c_str()) && CreateDirectoryA(discStaged.c_str(), nullptr);
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((discStaged + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        ok = MoveFileA((discStaged + "\\" + name).c_str(), (discDrive + "\\" + name).c_str()) && ok;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return ok;
}

std::string WindowText(HWND window) {
    char buffer[4096] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

std::string ItemText(HWND dialog, int id) {
    char buffer[4096] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM result) {
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0) return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return TRUE;
    *reinterpret_cast<HWND*>(result) = child;
    return FALSE;
}

// A message box's text: its text control, by the id the system gives it, or
// else its one static control that is no icon.
std::string BoxText(HWND box) {
    HWND text = GetDlgItem(box, kBoxTextId);
    if (text == nullptr) EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&text));
    return text != nullptr ? WindowText(text) : std::string();
}

bool Shows(HWND window) { return window != nullptr && IsWindowVisible(window) && IsWindowEnabled(window); }

// The updater's dialogs that take input now: its wizard, and a message box.
struct Dialogs {
    DWORD processId = 0;
    HWND wizard = nullptr;
    HWND box = nullptr;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto* dialogs = reinterpret_cast<Dialogs*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != dialogs->processId || !Shows(window)) return TRUE;
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") != 0) return TRUE;
    // The wizard has its info text; message boxes have none.
    if (GetDlgItem(window, IDC_INFO) != nullptr) {
        dialogs->wizard = window;
    } else if (GetDlgItem(window, IDOK) != nullptr) {
        dialogs->box = window;
    }
    return TRUE;
}

Dialogs Scan(DWORD processId) {
    Dialogs dialogs;
    dialogs.processId = processId;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

// One message sent to the wizard from the worker thread.
struct Send {
    HWND target;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

DWORD WINAPI SendFromWorker(LPVOID param) {
    const Send* send = static_cast<const Send*>(param);
    SendMessageA(send->target, send->message, send->wParam, send->lParam);
    return 0;
}

int ButtonOf(const std::string& action) {
    if (action == "next") return IDC_NEXT;
    if (action == "back") return IDC_BACK;
    if (action == "agree") return IDC_AGREE;
    if (action == "disagree") return IDC_DISAGREE;
    return IDC_CANCEL;  // cancel-wizard
}

}  // namespace

int main(int argc, char** argv) {
    scenario::Actions actions;
    std::FILE* transcriptFile = nullptr;
    scenario::CommandLine line;
    if (!scenario::StartRun("scenario_harness", argc, argv, actions, &transcriptFile, line)) return 2;
    scenario::Transcript transcript(transcriptFile);
    discStaged = line.discStaged;
    discDrive = line.discDrive;
    if (!actions.DoLeading(transcript, OnMachine)) return 1;

    std::string commandLine = std::string("\"") + line.updater + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(line.updater, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child)) {
        std::fprintf(stderr, "scenario_harness: cannot start %s (error %lu)\n", line.updater, GetLastError());
        return 2;
    }
    CloseHandle(child.hThread);

    const ULONGLONG deadline = GetTickCount64() + kRunLimitMs;
    HANDLE worker = nullptr;
    Send send = {};
    HWND answered = nullptr;  // the box answered last, until it is gone
    bool givenUp = false;
    auto giveUp = [&](const char* reason) {
        if (reason != nullptr) transcript.GiveUp(reason);
        TerminateProcess(child.hProcess, 255);
        givenUp = true;
    };
    while (!givenUp) {
        if (GetTickCount64() > deadline) {
            giveUp("timed out");
            break;
        }
        if (answered != nullptr && IsWindow(answered) && IsWindowVisible(answered)) {
            Sleep(5);
            continue;
        }
        answered = nullptr;
        const Dialogs dialogs = Scan(child.dwProcessId);
        if (dialogs.box != nullptr) {
            HWND cancel = GetDlgItem(dialogs.box, IDCANCEL);
            const bool hasCancel = cancel != nullptr && IsWindowVisible(cancel);
            transcript.Box(WindowText(dialogs.box), BoxText(dialogs.box), hasCancel);
            std::string action;
            if (!actions.Take(scenario::Target::Box, transcript, OnMachine, &action)) {
                giveUp(nullptr);
                break;
            }
            if (action == "cancel" && !hasCancel) {
                giveUp("the box has no Cancel button");
                break;
            }
            transcript.Act(action, true);
            HWND button = GetDlgItem(dialogs.box, action == "ok" ? IDOK : IDCANCEL);
            SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, nullptr);
            answered = dialogs.box;
            continue;
        }
        if (worker != nullptr) {
            if (WaitForSingleObject(worker, 5) == WAIT_OBJECT_0) {
                CloseHandle(worker);
                worker = nullptr;
            }
            continue;
        }
        if (dialogs.wizard != nullptr) {
            HWND wizard = dialogs.wizard;
            transcript.Wizard(WindowText(wizard), ItemText(wizard, IDC_INFO));
            std::string action;
            if (!actions.Take(scenario::Target::Wizard, transcript, OnMachine, &action)) {
                giveUp(nullptr);
                break;
            }
            bool taken = true;
            if (action == "escape") {
                // What the dialog manager makes of the key.
                send = {wizard, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(wizard, IDC_CANCEL))};
            } else {
                // A user can click only a button that shows and is enabled.
                HWND button = GetDlgItem(wizard, ButtonOf(action));
                taken = button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button);
                send = {button, BM_CLICK, 0, 0};
            }
            transcript.Act(action, taken);
            if (taken) worker = CreateThread(nullptr, 0, SendFromWorker, &send, 0, nullptr);
            continue;
        }
        if (WaitForSingleObject(child.hProcess, 5) == WAIT_OBJECT_0) break;
    }
    if (worker != nullptr) {
        WaitForSingleObject(worker, 5000);
        CloseHandle(worker);
    }
    WaitForSingleObject(child.hProcess, 10000);
    Close(game);
    Close(otherCopy);
    if (!givenUp) {
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        actions.ReportLeftOver(transcript);
        transcript.Exit(code);
    }
    CloseHandle(child.hProcess);
    return givenUp ? 1 : 0;
}
