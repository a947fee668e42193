// The model behind every dialog: its controls and their states, the handle
// table, and the rules by which the user's actions become messages to the
// dialog procedure. The desktop (gtk_dialog.cpp) and the scripted dialogs of
// tests (dialog_script.h) both drive dialogs through this one model, so tests
// exercise the same dispatch as a real window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dialog_templates.h"
#include "win32_dialogs.h"

namespace wq2::platform::dialogs {

enum class ControlKind { PushButton, DefaultButton, RadioButton, Text, Edit };

struct Control {
    HWND handle = nullptr;
    const resources::DialogControl* source = nullptr;
    int id = 0;
    ControlKind kind = ControlKind::Text;
    std::string text;  // code page 932
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    bool tabStop = false;
    int x = 0, y = 0, width = 0, height = 0;  // pixels, in the dialog's client area
};

class DialogView;

struct Dialog {
    HWND handle = nullptr;
    const resources::DialogTemplate* source = nullptr;
    DLGPROC procedure = nullptr;
    HWND owner = nullptr;
    std::string title;  // code page 932
    std::vector<Control> controls;  // template order; never resized after Build
    bool enabled = true;
    bool visible = false;  // from after WM_INITDIALOG until EndDialog
    bool ended = false;
    INT_PTR result = 0;
    int width = 0, height = 0;  // client area, pixels
    DialogView* view = nullptr;  // null for a scripted dialog
    unsigned long nativeWindow = 0;  // the X11 window once shown, for FindWindowA
};

// How a drawn dialog learns of changes the program makes through the Win32
// calls. Changes the user makes on the window come the other way, through the
// input functions below, and are not echoed back.
class DialogView {
public:
    virtual ~DialogView() = default;
    // Text, enabled, visible or check mark.
    virtual void ControlChanged(const Control& control) = 0;
    // Title, enabled or visible.
    virtual void DialogChanged() = 0;
    // The focus moved to `focus` (a control of this dialog), or off every control.
    virtual void FocusChanged(const Control* focus) = 0;
    virtual void CursorChanged(HCURSOR cursor) = 0;
    virtual void Raise() = 0;
    virtual void Beep() = 0;
};

// A dialog's model from its template, with handles for it and its controls;
// dialog units become pixels with the font's base units.
std::unique_ptr<Dialog> Build(const resources::DialogTemplate& source, DLGPROC procedure, HWND owner, int baseX,
                              int baseY);

// Sends WM_INITDIALOG and puts the default focus as the answer asks. The dialog
// counts as visible afterwards, unless it was ended meanwhile.
void Initialise(Dialog& dialog, LPARAM initParam);

// Sends WM_DESTROY and withdraws the handles.
void Destroy(Dialog& dialog);

Dialog* DialogOf(HWND handle);

// ---- The user's actions; each checks whether the dialog takes it -------------

// A click on a control. True when a command went to the procedure.
bool Click(Dialog& dialog, Control& control);
// VK_RETURN or VK_ESCAPE. True when a command went to the procedure.
bool Key(Dialog& dialog, int virtualKey);
// The close box: as Escape.
bool CloseBox(Dialog& dialog);
// The pointer moved over `under` (null: the dialog itself). Returns the cursor
// now shown.
HCURSOR PointerMoved(Dialog& dialog, const Control* under);
// The user typed into an edit box (text in code page 932) or moved the focus.
void TextEdited(Control& control, std::string text);
void FocusMoved(Dialog& dialog, const Control* focus);

// The cursor shown over our dialogs now, and the shapes cursors stand for.
HCURSOR CurrentCursor();
enum class PointerShape { Arrow, IBeam, Wait, Hidden };
PointerShape ShapeOf(HCURSOR cursor);

// Runs a dialog on the desktop (gtk_dialog.cpp): -1 when there is no display.
INT_PTR RunOnDesktop(const resources::DialogTemplate& source, DLGPROC procedure, HWND owner, LPARAM initParam);

// The GTK window showing one of our dialogs, for message boxes it owns; null
// for any other handle.
void* DesktopWindowOf(HWND handle);

}  // namespace wq2::platform::dialogs
