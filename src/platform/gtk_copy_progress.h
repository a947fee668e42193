// The window that shows a file copy's progress on the desktop, drawn with GTK 3,
// as the shell's copy shows it on a Japanese Windows.
#pragma once

#include <memory>
#include <string>

#include "win32_ui.h"

namespace wq2::platform {

class CopyProgressWindow {
public:
    // Opens the window, modal and centred over `owner` when that is one of our
    // dialogs, standing alone otherwise. Texts are UTF-8: the title, and the
    // line saying where from and where to (empty: none). Null when no display
    // can be opened.
    static std::unique_ptr<CopyProgressWindow> Open(HWND owner, const std::string& title,
                                                    const std::string& fromTo);
    ~CopyProgressWindow();
    CopyProgressWindow(const CopyProgressWindow&) = delete;
    CopyProgressWindow& operator=(const CopyProgressWindow&) = delete;

    // Shows the file being copied (UTF-8; empty shows none) and the part of
    // the whole done (0 to 1), then handles the desktop's pending events so the
    // window draws and its button answers. False once the user has cancelled:
    // the button, Escape or the close box.
    bool Update(const std::string& name, double fraction);

    struct Widgets;  // the window's parts, known only to its drawing code

private:
    CopyProgressWindow() = default;
    std::unique_ptr<Widgets> widgets_;
};

}  // namespace wq2::platform
