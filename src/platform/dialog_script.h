// Dialogs without a display, driven by a test.
//
// While a script is set, DialogBoxParamA builds the same dialog as on the
// desktop (controls, texts, states, focus, cursor) without drawing it, sends
// WM_INITDIALOG, then calls the script once with the dialog. The script acts
// through the functions below, which go through the same checks and messages
// as the user's actions on a real window, and reads the dialog through the
// usual calls (GetDlgItemTextA, IsWindowEnabled, IsDlgButtonChecked, ...).
// When the script returns without EndDialog having been called, the dialog is
// destroyed and DialogBoxParamA returns -1. The functions may also be called
// from a message box handler (SetMessageBoxHandler) while the procedure is
// inside a command, as a user clicking a busy dialog would.
#pragma once

#include "win32_dialogs.h"

namespace wq2::platform {

typedef void (*DialogScript)(HWND dialog);

// Sets the script every later dialog runs; null goes back to the desktop.
// Returns the previous one.
DialogScript SetDialogScript(DialogScript script);

// A click on the control `id`: WM_COMMAND when the dialog takes input (not
// disabled, not ended) and the control is enabled and visible. True when the
// command was sent.
bool ScriptClick(HWND dialog, int id);

// A key press on the dialog: VK_RETURN or VK_ESCAPE. True when a command was
// sent.
bool ScriptKey(HWND dialog, int virtualKey);

// The window's close box; as Escape. True when a command was sent.
bool ScriptCloseBox(HWND dialog);

// The pointer moving over the control `id` (0: over the dialog itself):
// sends WM_SETCURSOR and returns the cursor then shown (compare with
// LoadCursorA(nullptr, IDC_WAIT) and friends).
HCURSOR ScriptPointerCursor(HWND dialog, int id = 0);

// Where FindWindowA looks: the desktop by default; a test puts the windows of
// its pretend programs in its place (null restores the desktop). Returns the
// previous finder.
typedef HWND (*WindowFinder)(LPCSTR className, LPCSTR windowName);
WindowFinder SetWindowFinder(WindowFinder finder);

}  // namespace wq2::platform
