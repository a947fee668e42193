// Message boxes on the desktop, drawn with GTK 3.
#pragma once

#include <string>

#include "win32_ui.h"

namespace wq2::platform {

// The X11 class every window of ours carries (the wizard and each message box),
// standing for the system's dialog class when another copy looks for them.
inline constexpr char kDesktopWindowClass[] = "Wq2Updater";

// Code page 932 text for the desktop, as UTF-8; a byte that does not convert
// becomes "?" rather than losing the whole text.
std::string DesktopText(LPCSTR text);

// UTF-8 text from the desktop in code page 932; a character that code page 932
// lacks becomes "?".
std::string ProgramText(const std::string& utf8);

// Starts GTK once for the process, on X11 (other copies and the game are found
// there). False when no display can be opened.
bool StartDesktop();

// A modal box as a Japanese Windows shows it, transient for (and modal over)
// its owner when that is one of our dialogs: the caption as title, the text
// (code page 932, shown as UTF-8), the icon the style asks for, and the buttons
// "OK" or "OK" and "キャンセル". Escape and the close box answer Cancel when there
// is a Cancel button, OK otherwise. Without a display the box goes to standard
// error and is answered with OK, so a run without a desktop still ends cleanly.
int DesktopMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}  // namespace wq2::platform
