// Message boxes on the desktop, drawn with GTK 3.
#pragma once

#include "win32_ui.h"

namespace wq2::platform {

// Starts GTK once for the process. False when no display can be opened.
bool StartDesktop();

// A modal box as a Japanese Windows shows it: the caption as title, the text
// (code page 932, shown as UTF-8), the icon the style asks for, and the buttons
// "OK" or "OK" and "キャンセル". Escape and the close box answer Cancel when there
// is a Cancel button, OK otherwise. Without a display the box goes to standard
// error and is answered with OK, so a run without a desktop still ends cleanly.
int DesktopMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}  // namespace wq2::platform
