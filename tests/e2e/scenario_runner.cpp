// The scenario suite's Linux driver: runs a made Linux updater's start-up in
// this process, with its message boxes answered and its wizard worked by the
// scenario's actions through the layer's scripted dialogs, and writes the
// transcript (scenario_driver.h). Nothing is drawn: no display is needed.
//
// Usage: scenario_runner UPDATER ACTIONS TRANSCRIPT DISC_STAGED DISC_DRIVE
//   insert-disc moves every entry of DISC_STAGED into DISC_DRIVE (DISC_STAGED
//   itself when DISC_DRIVE is missing).
//   start-game and start-other-copy open a window of another program on
//   $DISPLAY with the program $WQ2_TEST_WINDOW (tests/e2e/test_window.cpp);
//   close-game closes the game's.
// Exits 0 when the run went through, 1 when it was given up, 2 on bad usage.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "dialog_script.h"
#include "gtk_message_box.h"
#include "path_map.h"
#include "platform.h"
#include "resource_ids.h"
#include "scenario_driver.h"
#include "startup.h"

namespace {

namespace fs = std::filesystem;

scenario::Transcript* transcript = nullptr;
scenario::Actions actions;
fs::path discStaged;
fs::path discDrive;

// A window of another program: test_window showing `title` (UTF-8) under the
// X11 class `className`. Its output stays open, as it reports focus changes.
struct OtherWindow {
    pid_t pid = 0;
    std::FILE* output = nullptr;
};
OtherWindow game;
OtherWindow otherCopy;

bool Open(OtherWindow& window, const char* className, const char* title) {
    const char* program = std::getenv("WQ2_TEST_WINDOW");
    if (program == nullptr || std::getenv("DISPLAY") == nullptr || window.pid != 0) return false;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl(program, program, "--class", className, "--name", "scenario", "--title", title, nullptr);
        _exit(127);
    }
    close(pipeEnds[1]);
    window.pid = pid;
    window.output = fdopen(pipeEnds[0], "r");
    char line[256];
    while (window.output != nullptr && std::fgets(line, sizeof line, window.output) != nullptr) {
        if (std::strncmp(line, "ready", 5) == 0) return true;
    }
    return false;
}

void Close(OtherWindow& window) {
    if (window.pid == 0) return;
    kill(window.pid, SIGTERM);
    waitpid(window.pid, nullptr, 0);
    if (window.output != nullptr) std::fclose(window.output);
    window = OtherWindow();
}

bool CloseGame() {
    if (game.pid == 0) return false;
    Close(game);
    // The server drops the window of a program that ended a moment later:
    // done once the updater's own search no longer finds it.
    std::string title;
    if (!wq2::platform::Utf8ToCp932(scenario::Utf8(scenario::kGameWindowTitle), title)) return false;
    for (int i = 0; i < 250; ++i) {
        if (FindWindowA(scenario::kGameWindowClass, title.c_str()) == nullptr) return true;
        usleep(20000);
    }
    return false;
}

bool OnMachine(const std::string& action) {
    if (action == "start-game") return Open(game, scenario::kGameWindowClass, scenario::Utf8(scenario::kGameWindowTitle));
    if (action == "close-game") return CloseGame();
    if (action == "start-other-copy") {
        return Open(otherCopy, wq2::platform::kDesktopWindowClass, scenario::Utf8(scenario::kOtherCopyTitle));
    }
    if (action != "insert-disc") return false;
    std::error_code error;
    // A drive whose folder is missing gets the whole disc as its folder.
    if (!fs::exists(discDrive)) {
        fs::rename(discStaged, discDrive, error);
        return !error && fs::create_directory(discStaged, error);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(discStaged, error)) {
        fs::rename(entry.path(), discDrive / entry.path().filename(), error);
        if (error) return false;
    }
    return !error;
}

void CloseOthers() {
    Close(game);
    Close(otherCopy);
}

// The updater's state is of no interest once a run is given up: the process
// ends where it stands, as the harness ends the Windows updater.
[[noreturn]] void GiveUp() {
    CloseOthers();
    _exit(1);
}

std::string Text(HWND window, int id) {
    char buffer[4096];
    if (id == 0) {
        GetWindowTextA(window, buffer, sizeof buffer);
    } else {
        GetDlgItemTextA(window, id, buffer, sizeof buffer);
    }
    return buffer;
}

int OnBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    const bool hasCancel = (type & 0xF) == MB_OKCANCEL;
    transcript->Box(caption != nullptr ? caption : "", text != nullptr ? text : "", hasCancel);
    std::string action;
    if (!actions.Take(scenario::Target::Box, *transcript, OnMachine, &action)) GiveUp();
    if (action == "cancel" && !hasCancel) {
        transcript->GiveUp("the box has no Cancel button");
        GiveUp();
    }
    transcript->Act(action, true);
    return action == "ok" ? IDOK : IDCANCEL;
}

int ButtonOf(const std::string& action) {
    if (action == "next") return IDC_NEXT;
    if (action == "back") return IDC_BACK;
    if (action == "agree") return IDC_AGREE;
    if (action == "disagree") return IDC_DISAGREE;
    return IDC_CANCEL;  // cancel-wizard
}

// The wizard: one action after another while it shows. A box it opens meanwhile
// is answered by OnBox from the same list.
void OnWizard(HWND wizard) {
    while (IsWindowVisible(wizard)) {
        transcript->Wizard(Text(wizard, 0), Text(wizard, IDC_INFO));
        std::string action;
        if (!actions.Take(scenario::Target::Wizard, *transcript, OnMachine, &action)) GiveUp();
        if (action == "escape") {
            // Whether the key reached the procedure is not visible from outside
            // on Windows; what it did shows in the lines that follow.
            transcript->Act(action, true);
            wq2::platform::ScriptKey(wizard, VK_ESCAPE);
            continue;
        }
        // Written before the click, as boxes the click opens come after it; a
        // user can click only a button that shows and is enabled.
        const int id = ButtonOf(action);
        HWND button = GetDlgItem(wizard, id);
        const bool clickable =
            button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button) && IsWindowEnabled(wizard);
        transcript->Act(action, clickable);
        if (wq2::platform::ScriptClick(wizard, id) != clickable) {
            transcript->GiveUp(clickable ? "the click on an enabled button was refused"
                                         : "a click on a disabled or hidden button was taken");
            GiveUp();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* transcriptFile = nullptr;
    scenario::CommandLine line;
    if (!scenario::StartRun("scenario_runner", argc, argv, actions, &transcriptFile, line)) return 2;
    scenario::Transcript output(transcriptFile);
    transcript = &output;
    discStaged = line.discStaged;
    discDrive = line.discDrive;

    if (!actions.DoLeading(output, OnMachine)) GiveUp();
    HMODULE updater = wq2::platform::OpenModuleForTest(line.updater);
    SetMessageBoxHandler(OnBox);
    wq2::platform::SetDialogScript(OnWizard);
    const int code = RunStartup(updater);
    CloseOthers();
    actions.ReportLeftOver(output);
    output.Exit(static_cast<unsigned long>(code));
    wq2::platform::CloseModuleForTest(updater);
    return 0;
}
