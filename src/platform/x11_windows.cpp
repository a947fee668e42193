#include "x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <vector>

namespace wq2::platform::x11 {
namespace {

// Xlib reports errors through one handler for the whole process, which GTK
// takes over and which ends the program by default. Windows of other programs
// may vanish while we look at them, so for the span of our own requests the
// errors are only counted.
int errorCount = 0;

int CountError(Display*, XErrorEvent*) {
    ++errorCount;
    return 0;
}

// An own connection to the display, with errors counted while it is open.
class Connection {
public:
    Connection() : display_(XOpenDisplay(nullptr)) {
        if (display_ != nullptr) previous_ = XSetErrorHandler(CountError);
    }
    ~Connection() {
        if (display_ == nullptr) return;
        XSync(display_, False);
        XSetErrorHandler(previous_);
        XCloseDisplay(display_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* get() const { return display_; }
    Atom Intern(const char* name) const { return XInternAtom(display_, name, False); }

private:
    Display* display_;
    XErrorHandler previous_ = nullptr;
};

// A property's items, or nothing when the window lacks it (or is gone).
template <typename Item>
std::vector<Item> Property(Display* display, Window window, Atom name, Atom type) {
    std::vector<Item> items;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, name, 0, 1L << 16, False, type, &actualType, &format, &count,
                           &remaining, &data) == Success &&
        data != nullptr) {
        if (actualType == type) {
            if (format == 32) {
                // Xlib hands 32-bit items out as longs.
                const auto* longs = reinterpret_cast<const unsigned long*>(data);
                for (unsigned long i = 0; i < count; ++i) items.push_back(static_cast<Item>(longs[i]));
            } else if (format == 8) {
                for (unsigned long i = 0; i < count; ++i) items.push_back(static_cast<Item>(data[i]));
            }
        }
        XFree(data);
    }
    return items;
}

// A window manager that follows the desktop conventions names its check window
// on the root, and the check window names itself.
bool HasWindowManager(const Connection& x) {
    const Atom check = x.Intern("_NET_SUPPORTING_WM_CHECK");
    const Window root = DefaultRootWindow(x.get());
    auto named = Property<Window>(x.get(), root, check, XA_WINDOW);
    if (named.empty()) return false;
    auto self = Property<Window>(x.get(), named[0], check, XA_WINDOW);
    return !self.empty() && self[0] == named[0];
}

std::string Latin1ToUtf8(const unsigned char* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The title as UTF-8: _NET_WM_NAME when set, else WM_NAME in whichever
// encoding it carries. False when the window has no title.
bool TitleOf(const Connection& x, Window window, std::string& title) {
    const Atom utf8 = x.Intern("UTF8_STRING");
    auto name = Property<char>(x.get(), window, x.Intern("_NET_WM_NAME"), utf8);
    if (!name.empty()) {
        title.assign(name.begin(), name.end());
        return true;
    }
    XTextProperty property{};
    if (XGetWMName(x.get(), window, &property) == 0 || property.value == nullptr) return false;
    bool found = true;
    if (property.encoding == XA_STRING) {
        title = Latin1ToUtf8(property.value, property.nitems);
    } else if (property.encoding == utf8) {
        title.assign(reinterpret_cast<const char*>(property.value), property.nitems);
    } else {
        char** list = nullptr;
        int count = 0;
        found = Xutf8TextPropertyToTextList(x.get(), &property, &list, &count) >= Success && count > 0;
        if (found) title = list[0];
        if (list != nullptr) XFreeStringList(list);
    }
    XFree(property.value);
    return found;
}

bool EndsWithExe(const char* name) {
    const size_t length = std::strlen(name);
    return length >= 4 && strncasecmp(name + length - 4, ".exe", 4) == 0;
}

// Class rule: the class or instance name equals the one asked for. Wine names
// a program's windows after its file ("game.exe", class "Wine"), so the
// Windows class they were made with cannot be seen: such a window matches any
// class, and is told apart by its title alone.
bool ClassMatches(const Connection& x, Window window, const std::string* wanted, bool& hasClass) {
    XClassHint hint{};
    hasClass = XGetClassHint(x.get(), window, &hint) != 0;
    if (!hasClass) return false;
    const char* name = hint.res_name != nullptr ? hint.res_name : "";
    const char* className = hint.res_class != nullptr ? hint.res_class : "";
    const bool matches = wanted == nullptr || *wanted == className || *wanted == name || EndsWithExe(name) ||
                         EndsWithExe(className);
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
    return matches;
}

bool Viewable(const Connection& x, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(x.get(), window, &attributes) != 0 && attributes.map_state == IsViewable;
}

// Iconified by the window manager (WM_STATE IconicState): unmapped, yet still
// the program's window, as a minimised one is on Windows.
bool Iconic(const Connection& x, Window window) {
    const Atom state = x.Intern("WM_STATE");
    auto values = Property<long>(x.get(), window, state, state);
    return !values.empty() && values[0] == IconicState;
}

bool Matches(const Connection& x, Window window, const WindowQuery& query, bool managed, bool& hasClass) {
    if (!ClassMatches(x, window, query.className, hasClass)) return false;
    if (!Viewable(x, window) && !(managed && Iconic(x, window))) return false;
    if (query.title == nullptr) return true;
    std::string title;
    return TitleOf(x, window, title) && title == *query.title;
}

std::vector<Window> Children(Display* display, Window parent) {
    std::vector<Window> out;
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count) != 0 && children != nullptr) {
        // Bottom to top: look at the topmost window first, as Windows does.
        for (unsigned int i = count; i > 0; --i) out.push_back(children[i - 1]);
        XFree(children);
    }
    return out;
}

}  // namespace

unsigned long FindTopLevel(const WindowQuery& query) {
    Connection x;
    if (x.get() == nullptr) return 0;
    Display* display = x.get();
    const Window root = DefaultRootWindow(display);
    bool hasClass = false;
    // A window manager lists the windows it manages, iconified ones included.
    if (HasWindowManager(x)) {
        auto managed = Property<Window>(display, root, x.Intern("_NET_CLIENT_LIST"), XA_WINDOW);
        if (!managed.empty()) {
            for (Window window : managed) {
                if (Matches(x, window, query, true, hasClass)) return window;
            }
            return 0;
        }
    }
    // Otherwise the root's children are the windows, or the frames a window
    // manager put around them: then the window is a frame's child.
    for (Window window : Children(display, root)) {
        if (Matches(x, window, query, false, hasClass)) return window;
        if (hasClass) continue;
        for (Window inner : Children(display, window)) {
            if (Matches(x, inner, query, false, hasClass)) return inner;
        }
    }
    return 0;
}

bool MapAndRaise(unsigned long window) {
    Connection x;
    if (x.get() == nullptr) return false;
    errorCount = 0;
    XMapRaised(x.get(), window);
    XSync(x.get(), False);
    return errorCount == 0;
}

bool Activate(unsigned long window) {
    Connection x;
    if (x.get() == nullptr) return false;
    Display* display = x.get();
    // Asking about a window manager that has gone may itself fail: not ours.
    const bool managed = HasWindowManager(x);
    XSync(display, False);
    errorCount = 0;
    if (managed) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = x.Intern("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;  // asked for by a pager-like tool, not the window's own program
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    } else {
        XMapRaised(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
    XSync(display, False);
    return errorCount == 0;
}

}  // namespace wq2::platform::x11
