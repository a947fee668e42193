// Top-level windows of any program on the X11 display, found and brought
// forward without help from GTK, so that the search works before our own
// windows (or GTK) exist.
#pragma once

#include <string>

namespace wq2::platform::x11 {

// What FindTopLevel looks for. A null pointer matches anything.
struct WindowQuery {
    const std::string* className = nullptr;  // WM_CLASS class or instance name
    const std::string* title = nullptr;      // UTF-8, compared exactly
};

// Window id of the first matching top-level window: viewable, or, under a
// window manager, iconified. 0 when none matches or no display can be opened.
// A window whose class or instance name ends in ".exe" (any case) belongs to
// a program under Wine and matches any class.
unsigned long FindTopLevel(const WindowQuery& query);

// Maps and raises the window. False when it cannot be reached.
bool MapAndRaise(unsigned long window);

// Raises the window and gives it the keyboard focus: through the window
// manager (_NET_ACTIVE_WINDOW) when there is one, directly otherwise.
bool Activate(unsigned long window);

}  // namespace wq2::platform::x11
