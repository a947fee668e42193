// Dialogs run by a test's own lambda: DialogBoxParamA hands each dialog to
// `script` instead of the desktop while a ScriptedDialogs guard lives.
#pragma once

#include <functional>

#include "dialog_script.h"

namespace wq2test {

inline std::function<void(HWND)> script;

inline void RunScript(HWND dialog) {
    if (script) script(dialog);
}

// A dialog procedure that does nothing, for dialogs the test drives itself.
inline INT_PTR CALLBACK PlainProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

class ScriptedDialogs {
public:
    ScriptedDialogs() : previous_(wq2::platform::SetDialogScript(RunScript)) {}
    ~ScriptedDialogs() {
        wq2::platform::SetDialogScript(previous_);
        script = nullptr;
    }
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

private:
    wq2::platform::DialogScript previous_;
};

}  // namespace wq2test
