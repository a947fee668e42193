#include "dialog_core.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "dialog_script.h"
#include "gtk_message_box.h"
#include "path_map.h"
#include "win32_files.h"
#include "x11_windows.h"

namespace wq2::platform::dialogs {
namespace {

using resources::DialogControl;
using resources::DialogTemplate;

// ---- Handles: numbers in a table, never addresses ----------------------------

// What a handle stands for: a dialog, one of its controls, or a window of
// another program found by FindWindowA.
struct Entry {
    Dialog* dialog = nullptr;
    int control = -1;  // index into dialog->controls; -1 for the dialog itself
    unsigned long foreign = 0;
};

std::unordered_map<UINT_PTR, Entry>& Table() {
    static std::unordered_map<UINT_PTR, Entry> table;
    return table;
}

// Handles are never reused, so one kept past its window's end finds nothing.
HWND NewHandle(const Entry& entry) {
    static UINT_PTR next = 0x10010;
    const UINT_PTR value = next;
    next += 4;
    Table()[value] = entry;
    return reinterpret_cast<HWND>(value);
}

const Entry* Lookup(HWND handle) {
    auto found = Table().find(reinterpret_cast<UINT_PTR>(handle));
    if (found == Table().end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return &found->second;
}

std::vector<Dialog*>& LiveDialogs() {
    static std::vector<Dialog*> dialogs;
    return dialogs;
}

// A control or dialog of ours: the dialog, and the control when it is one.
struct Target {
    Dialog* dialog = nullptr;
    Control* control = nullptr;
};

Target TargetOf(HWND handle) {
    const Entry* entry = Lookup(handle);
    if (entry == nullptr || entry->dialog == nullptr) return {};
    Target target{entry->dialog, nullptr};
    if (entry->control >= 0) target.control = &entry->dialog->controls[static_cast<size_t>(entry->control)];
    return target;
}

unsigned long ForeignOf(HWND handle) {
    const Entry* entry = Lookup(handle);
    return entry != nullptr ? entry->foreign : 0;
}

HWND ForeignHandle(unsigned long window) {
    for (const auto& [value, entry] : Table()) {
        if (entry.foreign == window) return reinterpret_cast<HWND>(value);
    }
    Entry entry;
    entry.foreign = window;
    return NewHandle(entry);
}

Control* ControlById(Dialog& dialog, int id) {
    for (Control& control : dialog.controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

// ---- Focus and cursor: one of each for the whole program, as on Windows ------

HWND focus = nullptr;

HCURSOR CursorHandle(int id) { return reinterpret_cast<HCURSOR>(static_cast<UINT_PTR>(0x20000 + id)); }
constexpr int kArrowId = 32512;
constexpr int kIBeamId = 32513;
constexpr int kWaitId = 32514;

HCURSOR cursor = CursorHandle(kArrowId);

void ShowCursor(HCURSOR shown) {
    cursor = shown;
    for (Dialog* dialog : LiveDialogs()) {
        if (dialog->view != nullptr) dialog->view->CursorChanged(shown);
    }
}

// ---- Text --------------------------------------------------------------------

bool IsLead(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Copies as much of `text` as fits in size - 1 bytes without splitting a
// two-byte character, and a terminator.
int CopyText(const std::string& text, LPSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    const size_t limit = static_cast<size_t>(size) - 1;
    size_t length = 0;
    while (length < text.size()) {
        const size_t step = (IsLead(text[length]) && length + 1 < text.size()) ? 2 : 1;
        if (length + step > limit) break;
        length += step;
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

ControlKind KindOf(const DialogControl& control) {
    const std::string className = control.className;
    if (className == "button") {
        switch (control.style & resources::kBsTypeMask) {
            case resources::kBsDefPushButton: return ControlKind::DefaultButton;
            case resources::kBsRadioButton: return ControlKind::RadioButton;
            default: return ControlKind::PushButton;
        }
    }
    if (className == "edit") return ControlKind::Edit;
    return ControlKind::Text;
}

// ---- Messages -----------------------------------------------------------------

INT_PTR Send(Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return dialog.procedure(dialog.handle, message, wParam, lParam);
}

bool TakesInput(const Dialog& dialog) { return dialog.enabled && dialog.visible && !dialog.ended; }

void Command(Dialog& dialog, const Control& control) {
    Send(dialog, WM_COMMAND, MAKEWPARAM(control.id, BN_CLICKED), reinterpret_cast<LPARAM>(control.handle));
}

bool IsPushButton(const Control& control) {
    return control.kind == ControlKind::PushButton || control.kind == ControlKind::DefaultButton;
}

// The dialog's focused control, when the focus is in it.
Control* FocusedControl(Dialog& dialog) {
    Target target = TargetOf(focus);
    return target.dialog == &dialog ? target.control : nullptr;
}

void MoveFocus(HWND to) {
    Target from = TargetOf(focus);
    focus = to;
    Target target = TargetOf(to);
    if (from.dialog != nullptr && from.dialog != target.dialog && from.dialog->view != nullptr) {
        from.dialog->view->FocusChanged(nullptr);
    }
    if (target.dialog != nullptr && target.dialog->view != nullptr) target.dialog->view->FocusChanged(target.control);
}

// A control that is disabled or hidden loses the focus, as it can take no keys.
void DropFocusIfUnable(const Control& control) {
    if (focus == control.handle && (!control.enabled || !control.visible)) focus = nullptr;
}

// ---- The scripted dialogs of tests ---------------------------------------------

DialogScript script = nullptr;

// Base units of the templates' font on Windows at 96 dots per inch.
constexpr int kScriptBaseX = 6;
constexpr int kScriptBaseY = 13;

INT_PTR RunScripted(const DialogTemplate& source, DLGPROC procedure, HWND owner, LPARAM initParam) {
    std::unique_ptr<Dialog> dialog = Build(source, procedure, owner, kScriptBaseX, kScriptBaseY);
    Initialise(*dialog, initParam);
    if (!dialog->ended) script(dialog->handle);
    const INT_PTR result = dialog->ended ? dialog->result : -1;
    Destroy(*dialog);
    return result;
}

const DialogTemplate* TemplateNamed(LPCSTR name) {
    if (name == nullptr) return nullptr;
    if (IS_INTRESOURCE(name)) return resources::FindDialogTemplate(LOWORD(name));
    // "#100" names template 100, as with FindResourceA.
    if (name[0] != '#' || name[1] == '\0') return nullptr;
    int id = 0;
    for (const char* p = name + 1; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || id > 0xFFFF) return nullptr;
        id = id * 10 + (*p - '0');
    }
    return resources::FindDialogTemplate(id);
}

}  // namespace

std::unique_ptr<Dialog> Build(const DialogTemplate& source, DLGPROC procedure, HWND owner, int baseX, int baseY) {
    auto dialog = std::make_unique<Dialog>();
    dialog->source = &source;
    dialog->procedure = procedure;
    dialog->owner = owner;
    // Template texts are UTF-8; the program sees code page 932.
    dialog->title = ProgramText(source.title);
    dialog->width = source.cx * baseX / 4;
    dialog->height = source.cy * baseY / 8;
    dialog->controls.reserve(source.controlCount);
    for (size_t i = 0; i < source.controlCount; ++i) {
        const DialogControl& item = source.controls[i];
        Control control;
        control.source = &item;
        control.id = item.id;
        control.kind = KindOf(item);
        control.text = ProgramText(item.text);
        control.enabled = true;
        control.visible = (item.style & resources::kWsVisible) != 0;
        control.tabStop = (item.style & resources::kWsTabStop) != 0;
        control.x = item.x * baseX / 4;
        control.y = item.y * baseY / 8;
        control.width = item.cx * baseX / 4;
        control.height = item.cy * baseY / 8;
        dialog->controls.push_back(std::move(control));
    }
    Entry entry;
    entry.dialog = dialog.get();
    dialog->handle = NewHandle(entry);
    for (size_t i = 0; i < dialog->controls.size(); ++i) {
        entry.control = static_cast<int>(i);
        dialog->controls[i].handle = NewHandle(entry);
    }
    LiveDialogs().push_back(dialog.get());
    return dialog;
}

void Initialise(Dialog& dialog, LPARAM initParam) {
    // wParam names the control that gets the focus when the procedure answers
    // non-zero: the first one a user could tab to.
    Control* first = nullptr;
    for (Control& control : dialog.controls) {
        if (control.tabStop && control.enabled && control.visible) {
            first = &control;
            break;
        }
    }
    const INT_PTR answer =
        Send(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->handle : nullptr), initParam);
    if (dialog.ended) return;
    dialog.visible = true;
    if (answer != 0 && first != nullptr && first->enabled && first->visible) MoveFocus(first->handle);
}

void Destroy(Dialog& dialog) {
    Send(dialog, WM_DESTROY, 0, 0);
    if (TargetOf(focus).dialog == &dialog) focus = nullptr;
    Table().erase(reinterpret_cast<UINT_PTR>(dialog.handle));
    for (const Control& control : dialog.controls) Table().erase(reinterpret_cast<UINT_PTR>(control.handle));
    auto& live = LiveDialogs();
    live.erase(std::remove(live.begin(), live.end(), &dialog), live.end());
}

Dialog* DialogOf(HWND handle) {
    Target target = TargetOf(handle);
    return target.control == nullptr ? target.dialog : nullptr;
}

bool Click(Dialog& dialog, Control& control) {
    if (!TakesInput(dialog) || !control.enabled || !control.visible) return false;
    if (control.kind == ControlKind::Text) return false;
    if (focus != control.handle) MoveFocus(control.handle);
    if (control.kind == ControlKind::Edit) return false;
    Command(dialog, control);
    return true;
}

bool Key(Dialog& dialog, int virtualKey) {
    if (!TakesInput(dialog)) return false;
    const Control* target = nullptr;
    if (virtualKey == VK_RETURN) {
        // A focused push button is the default one while it has the focus.
        Control* focused = FocusedControl(dialog);
        if (focused != nullptr && IsPushButton(*focused) && focused->enabled && focused->visible) {
            target = focused;
        } else {
            for (const Control& control : dialog.controls) {
                if (control.kind == ControlKind::DefaultButton) {
                    if (control.enabled) target = &control;
                    break;
                }
            }
        }
    } else if (virtualKey == VK_ESCAPE) {
        const Control* cancel = ControlById(dialog, IDCANCEL);
        if (cancel != nullptr && cancel->enabled) target = cancel;
    }
    if (target == nullptr) {
        if (dialog.view != nullptr) dialog.view->Beep();
        return false;
    }
    Command(dialog, *target);
    return true;
}

bool CloseBox(Dialog& dialog) { return Key(dialog, VK_ESCAPE); }

HCURSOR PointerMoved(Dialog& dialog, const Control* under) {
    if (dialog.ended) return cursor;
    const HWND handle = under != nullptr ? under->handle : dialog.handle;
    const INT_PTR answer =
        Send(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(handle), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    // The procedure has set its own cursor; otherwise the window's own one.
    if (answer == 0) {
        const bool text = under != nullptr && under->kind == ControlKind::Edit;
        ShowCursor(CursorHandle(text ? kIBeamId : kArrowId));
    }
    return cursor;
}

void TextEdited(Control& control, std::string text) { control.text = std::move(text); }

void FocusMoved(Dialog& dialog, const Control* focused) {
    if (focused != nullptr) {
        focus = focused->handle;
    } else if (TargetOf(focus).dialog == &dialog) {
        focus = nullptr;
    }
}

HCURSOR CurrentCursor() { return cursor; }

PointerShape ShapeOf(HCURSOR shown) {
    if (shown == nullptr) return PointerShape::Hidden;
    if (shown == CursorHandle(kWaitId)) return PointerShape::Wait;
    if (shown == CursorHandle(kIBeamId)) return PointerShape::IBeam;
    return PointerShape::Arrow;
}

}  // namespace wq2::platform::dialogs

// ---- The scripted dialogs' actions -----------------------------------------------

namespace wq2::platform {

DialogScript SetDialogScript(DialogScript next) { return std::exchange(dialogs::script, next); }

bool ScriptClick(HWND dialog, int id) {
    dialogs::Dialog* target = dialogs::DialogOf(dialog);
    if (target == nullptr) return false;
    dialogs::Control* control = dialogs::ControlById(*target, id);
    return control != nullptr && dialogs::Click(*target, *control);
}

bool ScriptKey(HWND dialog, int virtualKey) {
    dialogs::Dialog* target = dialogs::DialogOf(dialog);
    return target != nullptr && dialogs::Key(*target, virtualKey);
}

bool ScriptCloseBox(HWND dialog) {
    dialogs::Dialog* target = dialogs::DialogOf(dialog);
    return target != nullptr && dialogs::CloseBox(*target);
}

HCURSOR ScriptPointerCursor(HWND dialog, int id) {
    dialogs::Dialog* target = dialogs::DialogOf(dialog);
    if (target == nullptr) return dialogs::CurrentCursor();
    const dialogs::Control* under = nullptr;
    if (id != 0) {
        under = dialogs::ControlById(*target, id);
        // The pointer cannot rest on a control that is not shown.
        if (under != nullptr && !under->visible) under = nullptr;
    }
    return dialogs::PointerMoved(*target, under);
}

}  // namespace wq2::platform

// ---- The Win32 calls ---------------------------------------------------------------

using wq2::platform::dialogs::Control;
using wq2::platform::dialogs::Dialog;
namespace dialogs = wq2::platform::dialogs;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM initParam) {
    const wq2::resources::DialogTemplate* source = dialogs::TemplateNamed(templateName);
    if (source == nullptr || procedure == nullptr) {
        SetLastError(source == nullptr ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return -1;
    }
    // The owner takes no input while its modal dialog runs.
    const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disableOwner) EnableWindow(owner, FALSE);
    const INT_PTR result = dialogs::script != nullptr
                               ? dialogs::RunScripted(*source, procedure, owner, initParam)
                               : dialogs::RunOnDesktop(*source, procedure, owner, initParam);
    if (disableOwner) EnableWindow(owner, TRUE);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Dialog* target = dialogs::DialogOf(dialog);
    if (target == nullptr) return FALSE;
    target->ended = true;
    target->result = result;
    target->visible = false;
    if (target->view != nullptr) target->view->DialogChanged();
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Dialog* target = dialogs::DialogOf(dialog);
    if (target == nullptr) return nullptr;
    const Control* control = dialogs::ControlById(*target, id);
    if (control == nullptr) {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return nullptr;
    }
    return control->handle;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && SetWindowTextA(control, text);
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(control, buffer, size));
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    dialogs::Target target = dialogs::TargetOf(window);
    if (target.dialog == nullptr) return FALSE;
    const std::string value = text != nullptr ? text : "";
    if (target.control != nullptr) {
        target.control->text = value;
        if (target.dialog->view != nullptr) target.dialog->view->ControlChanged(*target.control);
    } else {
        target.dialog->title = value;
        if (target.dialog->view != nullptr) target.dialog->view->DialogChanged();
    }
    return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
    dialogs::Target target = dialogs::TargetOf(window);
    if (target.dialog == nullptr) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return 0;
    }
    return dialogs::CopyText(target.control != nullptr ? target.control->text : target.dialog->title, buffer, size);
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    dialogs::Target target = dialogs::TargetOf(window);
    if (target.dialog == nullptr) return FALSE;
    bool& enabled = target.control != nullptr ? target.control->enabled : target.dialog->enabled;
    const bool wasDisabled = !enabled;
    enabled = enable != FALSE;
    if (target.control != nullptr) {
        dialogs::DropFocusIfUnable(*target.control);
        if (target.dialog->view != nullptr) target.dialog->view->ControlChanged(*target.control);
    } else if (target.dialog->view != nullptr) {
        target.dialog->view->DialogChanged();
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    dialogs::Target target = dialogs::TargetOf(window);
    if (target.dialog == nullptr) return FALSE;
    return (target.control != nullptr ? target.control->enabled : target.dialog->enabled) ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    if (const unsigned long foreign = dialogs::ForeignOf(window)) {
        return wq2::platform::x11::MapAndRaise(foreign) ? TRUE : FALSE;
    }
    dialogs::Target target = dialogs::TargetOf(window);
    if (target.dialog == nullptr) return FALSE;
    const bool show = command != SW_HIDE;
    if (target.control != nullptr) {
        const bool was = target.control->visible;
        target.control->visible = show;
        dialogs::DropFocusIfUnable(*target.control);
        if (target.dialog->view != nullptr) target.dialog->view->ControlChanged(*target.control);
        return was ? TRUE : FALSE;
    }
    const bool was = target.dialog->visible;
    // An ended dialog is gone from the screen for good.
    target.dialog->visible = show && !target.dialog->ended;
    if (target.dialog->view != nullptr) target.dialog->view->DialogChanged();
    return was ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    dialogs::Target target = dialogs::TargetOf(window);
    if (target.dialog == nullptr) return FALSE;
    const bool visible = target.dialog->visible && (target.control == nullptr || target.control->visible);
    return visible ? TRUE : FALSE;
}

BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check) {
    Dialog* target = dialogs::DialogOf(dialog);
    if (target == nullptr) return FALSE;
    for (Control& control : target->controls) {
        if (control.kind != dialogs::ControlKind::RadioButton || control.id < first || control.id > last) continue;
        const bool checked = control.id == check;
        if (control.checked == checked) continue;
        control.checked = checked;
        if (target->view != nullptr) target->view->ControlChanged(control);
    }
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    Dialog* target = dialogs::DialogOf(dialog);
    if (target == nullptr) return BST_UNCHECKED;
    const Control* control = dialogs::ControlById(*target, id);
    return (control != nullptr && control->checked) ? BST_CHECKED : BST_UNCHECKED;
}

HWND WINAPI SetFocus(HWND window) {
    const HWND previous = dialogs::focus;
    if (window != nullptr && dialogs::TargetOf(window).dialog == nullptr) return nullptr;
    dialogs::MoveFocus(window);
    return previous;
}

HWND WINAPI GetFocus() { return dialogs::focus; }

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance == nullptr && IS_INTRESOURCE(name)) {
        const int id = LOWORD(name);
        if (id == dialogs::kArrowId || id == dialogs::kIBeamId || id == dialogs::kWaitId) {
            return dialogs::CursorHandle(id);
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    const HCURSOR previous = dialogs::cursor;
    dialogs::ShowCursor(cursor);
    return previous;
}

namespace {
wq2::platform::WindowFinder g_windowFinder = nullptr;
}  // namespace

wq2::platform::WindowFinder wq2::platform::SetWindowFinder(WindowFinder finder) {
    WindowFinder previous = g_windowFinder;
    g_windowFinder = finder;
    return previous;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    if (g_windowFinder != nullptr) return g_windowFinder(className, windowName);
    wq2::platform::x11::WindowQuery query;
    std::string wantedClass;
    std::string wantedTitle;
    if (className != nullptr) {
        if (IS_INTRESOURCE(className)) {
            // The one class atom this program knows: the system's dialogs.
            if (LOWORD(className) != 0x8002) return nullptr;
            wantedClass = wq2::platform::kDesktopWindowClass;
        } else if (std::strcmp(className, "#32770") == 0) {
            wantedClass = wq2::platform::kDesktopWindowClass;
        } else if (!wq2::platform::Cp932ToUtf8(className, wantedClass)) {
            return nullptr;
        }
        query.className = &wantedClass;
    }
    if (windowName != nullptr) {
        if (!wq2::platform::Cp932ToUtf8(windowName, wantedTitle)) return nullptr;
        query.title = &wantedTitle;
    }
    const unsigned long window = wq2::platform::x11::FindTopLevel(query);
    if (window == 0) return nullptr;
    for (const Dialog* dialog : dialogs::LiveDialogs()) {
        if (dialog->nativeWindow == window) return dialog->handle;
    }
    return dialogs::ForeignHandle(window);
}

BOOL WINAPI SetForegroundWindow(HWND window) {
    if (const unsigned long foreign = dialogs::ForeignOf(window)) {
        return wq2::platform::x11::Activate(foreign) ? TRUE : FALSE;
    }
    Dialog* target = dialogs::DialogOf(window);
    if (target == nullptr) return FALSE;
    if (target->view != nullptr) target->view->Raise();
    return TRUE;
}
