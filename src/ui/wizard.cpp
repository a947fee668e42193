#include "wizard.h"

#include <cstdarg>

#include "resource_ids.h"
#include "update_run.h"
#include "updater_state.h"

namespace {

// What WizardPage says the next Next press does.
enum WizardStep : int32_t { kConfirm = 0, kUpdate = 1, kFinish = 2 };

void ShowAgreementControls(HWND window, int showState) {
    ShowControl(window, IDC_AGREEMENT, showState);
    ShowControl(window, IDC_AGREE, showState);
    ShowControl(window, IDC_DISAGREE, showState);
}

// Next and Back: one step of the page machine. Back steps two back first, so the
// step it performs is the confirmation page again.
void Step(HWND window, int id) {
    if (Updater.WizardBusy) return;
    Updater.WizardBusy = 1;
    SetInfoText(window, "");
    if (id == IDC_BACK) Updater.WizardPage -= 2;
    switch (Updater.WizardPage) {
        case kConfirm: ShowConfirmPage(window); break;
        case kUpdate: RunUpdate(window); break;
        case kFinish: EndDialog(window, 0); break;
        default: break;
    }
    Updater.WizardPage += 1;
    Updater.WizardBusy -= 1;
}

void OnCommand(HWND window, int id) {
    switch (id) {
        case IDC_NEXT:
        case IDC_BACK: Step(window, id); break;
        case IDC_CANCEL:
            // Escape and the close box arrive as this command even where the
            // dialog manager does not check the button (Wine's does not); a
            // disabled Cancel, as on the completion page, ends nothing.
            if (!Updater.WizardBusy && IsWindowEnabled(GetDlgItem(window, IDC_CANCEL))) EndDialog(window, -1);
            break;
        case IDC_AGREE:
            EnableControl(window, IDC_NEXT, 1);
            CheckRadioButton(window, IDC_AGREE, IDC_DISAGREE, IDC_AGREE);
            break;
        case IDC_DISAGREE:
            EnableControl(window, IDC_NEXT, 0);
            CheckRadioButton(window, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE);
            break;
        default: break;
    }
}

}  // namespace

void SetInfoText(HWND window, const char* format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    wvsprintfA(text, format, args);
    va_end(args);
    SetDlgItemTextA(window, IDC_INFO, text);
}

void EnableControl(HWND window, int id, int enable) {
    HWND control = GetDlgItem(window, id);
    if (control != nullptr) EnableWindow(control, enable);
}

void ShowControl(HWND window, int id, int showState) {
    HWND control = GetDlgItem(window, id);
    if (control != nullptr) ShowWindow(control, showState);
}

void ShowStartPage(HWND window) {
    Updater.WizardWindow = window;
    Updater.WizardBusy = 0;
    Updater.WizardPage = kConfirm;
    SetWindowTextA(window, Updater.Caption);
    // Either text is shown as it is: a "%" in a title is no directive.
    if (Updater.AgreementTitle != nullptr) {
        SetInfoText(window, "%s", Updater.AgreementTitle);
    } else {
        SetInfoText(window, "「%s」のアップデートを開始します", Updater.GameTitle);
    }
    EnableControl(window, IDC_BACK, 0);
    EnableControl(window, IDC_CANCEL, 1);
    if (Updater.AgreementText != nullptr) {
        EnableControl(window, IDC_NEXT, 0);
        SetDlgItemTextA(window, IDC_AGREEMENT, Updater.AgreementText);
        EnableControl(window, IDC_AGREEMENT, 1);
        EnableControl(window, IDC_AGREE, 1);
        EnableControl(window, IDC_DISAGREE, 1);
        CheckRadioButton(window, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE);
        ShowAgreementControls(window, SW_SHOW);
    } else {
        EnableControl(window, IDC_NEXT, 1);
        ShowAgreementControls(window, SW_HIDE);
    }
}

void ShowConfirmPage(HWND window) {
    SetInfoText(window, "アップデートを実行します");
    EnableControl(window, IDC_BACK, 0);
    EnableControl(window, IDC_NEXT, 1);
    EnableControl(window, IDC_CANCEL, 1);
    ShowAgreementControls(window, SW_HIDE);
}

INT_PTR CALLBACK WizardDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            ShowStartPage(window);
            return 0;
        case WM_SETCURSOR:
            if (!Updater.WizardBusy) return 0;
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            return 1;
        case WM_COMMAND:
            // Button clicks only; their notification code is 0, so the id is the
            // whole parameter.
            if (HIWORD(wParam) == 0) OnCommand(window, int(wParam));
            return 0;
        default: return 0;
    }
}
