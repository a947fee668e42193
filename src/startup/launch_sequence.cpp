#include "launch_sequence.h"

#include "resource_ids.h"
#include "setup_description.h"
#include "startup.h"
#include "updater_settings.h"
#include "updater_state.h"
#include "wizard.h"

namespace {

// The class atom of the system's dialogs: the wizard and every message box.
const char* const kDialogClass = MAKEINTATOM(0x8002);

void ComposeCaption() {
    if (Updater.UpdaterTitle[0] != '\0') {
        lstrcpyA(Updater.Caption, Updater.UpdaterTitle);
    } else {
        wsprintfA(Updater.Caption, "%s アップデータ %s", Updater.GameTitle, Updater.UpdaterVersion);
    }
}

void BringForward(HWND window) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

// Another copy shows its wizard, or one of its boxes, under the same caption.
bool AnotherCopyRuns() {
    HWND other = FindWindowA(kDialogClass, Updater.Caption);
    if (other == nullptr) return false;
    BringForward(other);
    return true;
}

// Asks the user to close the game while its window titled `title` exists. False
// when the user gives up; the game's window then comes forward.
bool WaitForGameToEnd(const char* title) {
    for (;;) {
        HWND game = FindWindowA(Updater.GameClass, title);
        if (game == nullptr) return true;
        char question[kMessageSize];
        wsprintfA(question,
                  "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
                  "を、アップデートを中止する場合は [キャンセル] を押して下さい",
                  title);
        if (MessageBoxA(nullptr, question, Updater.Caption, MB_OKCANCEL) != IDOK) {
            BringForward(game);
            return false;
        }
    }
}

}  // namespace

int RunLaunchSequence(HINSTANCE instance) {
    if (!LoadUpdaterSettings()) return 0;
    if (!ReadSetupDescription()) return 0;
    ComposeCaption();
    if (AnotherCopyRuns()) return 0;
    if (!WaitForGameToEnd(Updater.GameTitle)) return 0;
    if (Updater.GameTitleA[0] != '\0' && !WaitForGameToEnd(Updater.GameTitleA)) return 0;
    int templateId = Updater.AgreementText != nullptr ? IDD_WIZARD_AGREEMENT : IDD_WIZARD;
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, WizardDialogProc, 0);
    Updater.WizardWindow = nullptr;
    if (result == 0) return 1;
    ShowErrorBox("アップデートが中断されました");
    return 0;
}
