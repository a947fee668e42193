// Dialog boxes built from the program's dialog templates, their controls, the
// cursor and the search for top-level windows: the Win32 calls the wizard and
// the start-up make, for builds without <windows.h>.
//
// All text that crosses these calls is code page 932, as on a Japanese Windows;
// it is converted to UTF-8 only where it meets the desktop. Windows are handles
// from a table: a handle whose window is gone is refused
// (ERROR_INVALID_WINDOW_HANDLE), never followed.
#pragma once

#include "win32_resources.h"
#include "win32_types.h"
#include "win32_ui.h"

#define CALLBACK

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;

struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;

// What a dialog procedure answers: non-zero when it handled the message.
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((UINT_PTR)(l)) >> 16) & 0xFFFF))
#define MAKEWPARAM(low, high) ((WPARAM)(DWORD)(((DWORD)(WORD)(low)) | (((DWORD)(WORD)(high)) << 16)))
#define MAKELPARAM(low, high) ((LPARAM)(DWORD)(((DWORD)(WORD)(low)) | (((DWORD)(WORD)(high)) << 16)))
// A class atom passed where a class name is expected.
#define MAKEINTATOM(i) ((LPSTR)((UINT_PTR)((WORD)(i))))

// Messages a dialog procedure receives.
#define WM_DESTROY 0x0002
#define WM_SETCURSOR 0x0020
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_MOUSEMOVE 0x0200

// WM_SETCURSOR's hit-test code for the client area.
#define HTCLIENT 1

// A button's notification code in WM_COMMAND.
#define BN_CLICKED 0

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define BST_UNCHECKED 0
#define BST_CHECKED 1

// Keys, for the scripted dialogs in tests (dialog_script.h).
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B

// The system's cursors.
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_WAIT MAKEINTRESOURCEA(32514)

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CONTROL_ID_NOT_FOUND = 1421;

// ---- Dialog boxes ------------------------------------------------------------

// Runs a modal dialog built from the template `templateName`
// (MAKEINTRESOURCEA(IDD_WIZARD) or MAKEINTRESOURCEA(IDD_WIZARD_AGREEMENT)):
// sends WM_INITDIALOG (lParam = initParam) to `procedure`, shows the window
// centred on the screen, passes the user's actions to the procedure as
// messages until EndDialog, destroys the window (WM_DESTROY) and returns the
// EndDialog value. A non-zero answer to WM_INITDIALOG puts the focus on the
// first enabled, visible tab stop; 0 leaves it where the procedure put it.
// -1 when the template is unknown (ERROR_RESOURCE_NAME_NOT_FOUND) or no
// display can be opened. `instance` is not used: the templates are built in.
//
// The procedure gets:
//   WM_COMMAND   wParam MAKEWPARAM(id, BN_CLICKED), lParam the button's handle,
//                for a click on an enabled, visible button; for Enter, the
//                focused push button's or else the default push button's, when
//                enabled; for Escape and the close box, IDCANCEL's, when the
//                template has that button and it is enabled. Radio buttons
//                report clicks and change their mark only by CheckRadioButton.
//   WM_SETCURSOR wParam the handle under the pointer (a control or the
//                dialog), lParam MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), whenever the
//                pointer moves over the dialog. Non-zero: the procedure has set
//                the cursor with SetCursor; 0: the control's own cursor is shown
//                (the arrow; the I-beam over an edit box).
// The procedure may be entered again from loops run inside its own handlers
// (message boxes, progress windows), and may call EndDialog from anywhere.
INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                               LPARAM initParam);

// Ends the dialog: DialogBoxParamA returns `result` once the handler running
// now has returned. The window disappears at once and takes no more input.
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);

// The control `id` of the dialog; null (ERROR_CONTROL_ID_NOT_FOUND) when the
// template has none.
HWND WINAPI GetDlgItem(HWND dialog, int id);

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);

// Copies at most size - 1 bytes of the control's text, never half a
// two-byte character, and always a terminator when size > 0. Returns the
// bytes copied, without the terminator.
UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);

// A dialog's title or a control's text; the same rules as GetDlgItemTextA.
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size);

// Both return the window's previous state: EnableWindow non-zero when it was
// disabled, ShowWindow non-zero when it was visible. A disabled or hidden
// control takes no input; a disabled dialog takes none at all. SW_HIDE hides,
// any other command shows. On a window of another program (from FindWindowA),
// ShowWindow maps and raises it.
BOOL WINAPI EnableWindow(HWND window, BOOL enable);
BOOL WINAPI IsWindowEnabled(HWND window);
BOOL WINAPI ShowWindow(HWND window, int command);
// Visible when it and its dialog are (a dialog is from after WM_INITDIALOG
// until EndDialog).
BOOL WINAPI IsWindowVisible(HWND window);

// Marks `check` and clears every other radio button whose id lies in
// [first, last].
BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check);
UINT WINAPI IsDlgButtonChecked(HWND dialog, int id);

// The focus, among the controls of our dialogs; null for none. SetFocus(null)
// leaves no control focused. Both return the previous focus.
HWND WINAPI SetFocus(HWND window);
HWND WINAPI GetFocus();

// ---- Cursor --------------------------------------------------------------------

// The system cursors IDC_ARROW, IDC_IBEAM and IDC_WAIT (instance null); null
// for anything else.
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);

// Shows `cursor` over our dialogs from now until the next pointer movement
// asks the procedure again (WM_SETCURSOR), also while the program is busy and
// handles no events. Returns the previous cursor.
HCURSOR WINAPI SetCursor(HCURSOR cursor);

// ---- Top-level windows -----------------------------------------------------------

// A viewable top-level window on the display with that class and exactly that
// title (code page 932); a null class or title matches any. The class
// MAKEINTATOM(0x8002) or "#32770", the system's dialog class, stands for the
// dialogs and message boxes of any copy of this program. A window of a program
// running under Wine matches on its title alone, whatever class is asked
// for: Wine names a window's X11 class after its program's file ("game.exe"),
// so its Windows class cannot be seen from outside; such a window is known by
// a class name ending in ".exe" (any case). Null when there is none or no
// display.
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);

// Brings the window to the front and gives it the keyboard focus.
BOOL WINAPI SetForegroundWindow(HWND window);
