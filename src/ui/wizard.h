// The update wizard: one modal dialog whose pages lead from the start page (with
// an optional agreement) over the confirmation page to the update and its result.
#pragma once

#include "platform.h"

// Formats `format` with wvsprintfA into 1024 bytes (a longer text is cut) and
// shows it as the wizard's message line.
void SetInfoText(HWND window, const char* format, ...);

// Enables (1) or disables (0) the control `id`; nothing for a control the
// template lacks.
void EnableControl(HWND window, int id, int enable);

// Shows (SW_SHOW) or hides (SW_HIDE) the control `id`; nothing for a control the
// template lacks.
void ShowControl(HWND window, int id, int showState);

// The wizard's initialisation and first page.
void ShowStartPage(HWND window);

// The confirmation page.
void ShowConfirmPage(HWND window);

// The dialog procedure handed to DialogBoxParamA. Ends the dialog with 0 when the
// user finishes on the completion page and with -1 on Cancel.
INT_PTR CALLBACK WizardDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
