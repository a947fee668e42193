// A plain X11 top-level window of some other program, for the window-search
// tests (window_search.sh); needs nothing of ours. Usage:
//   test_window --class CLASS --name NAME --title TITLE [--geometry X,Y,W,H]
//               [--color RRGGBB] [--wm-name-only]
//   test_window --close WINDOW      (asks WINDOW to close, as its close box would)
//   test_window --manage ID,ID...   (plays a window manager that manages those
//                                    windows, until killed)
// Prints "ready 0x<id>" once mapped, "focus" whenever it gets the keyboard
// focus, and unmaps itself on SIGUSR1. Stays until killed.
// --wm-name-only leaves _NET_WM_NAME unset: the title is only in WM_NAME, in
// whichever encoding Xlib picks for it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t unmapRequested = 0;

void OnSignal(int) { unmapRequested = 1; }

int Close(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

// The properties a window manager following the desktop conventions puts on
// the root: its check window (which names itself) and its managed windows.
// They name this process's window, so they stop counting when it ends.
int Manage(Display* display, const char* ids) {
    const Window root = DefaultRootWindow(display);
    const Window check = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    std::vector<unsigned long> managed;
    for (const char* p = ids; *p != '\0';) {
        char* end = nullptr;
        managed.push_back(std::strtoul(p, &end, 0));
        p = (*end == ',') ? end + 1 : end;
    }
    const Atom supporting = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    XChangeProperty(display, root, supporting, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&check), 1);
    XChangeProperty(display, check, supporting, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&check), 1);
    XChangeProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(managed.data()),
                    static_cast<int>(managed.size()));
    XSync(display, False);
    std::printf("ready 0x%lx\n", check);
    std::fflush(stdout);
    for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::string className = "TestWindow";
    std::string name = "test_window";
    std::string title = "Test window";
    int x = 0, y = 0, width = 200, height = 150;
    unsigned long color = 0x3060C0;
    bool wmNameOnly = false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 2;
    for (int i = 1; i + 1 < argc || (i < argc && std::strcmp(argv[i], "--wm-name-only") == 0); ++i) {
        const std::string option = argv[i];
        if (option == "--wm-name-only") {
            wmNameOnly = true;
            continue;
        }
        const char* value = argv[++i];
        if (option == "--class") className = value;
        if (option == "--name") name = value;
        if (option == "--title") title = value;
        if (option == "--color") color = std::strtoul(value, nullptr, 16);
        if (option == "--geometry") std::sscanf(value, "%d,%d,%d,%d", &x, &y, &width, &height);
        if (option == "--close") return Close(display, std::strtoul(value, nullptr, 0));
        if (option == "--manage") return Manage(display, value);
    }
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), x, y,
                                              static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0,
                                              color);
    XClassHint hint{name.data(), className.data()};
    XSetClassHint(display, window, &hint);
    char* list[] = {title.data()};
    XTextProperty property{};
    if (Xutf8TextListToTextProperty(display, list, 1, XStdICCTextStyle, &property) >= Success) {
        XSetWMName(display, window, &property);
        XFree(property.value);
    }
    if (!wmNameOnly) {
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    }
    XSelectInput(display, window, FocusChangeMask | StructureNotifyMask);
    XMapWindow(display, window);
    std::signal(SIGUSR1, OnSignal);
    const int fd = ConnectionNumber(display);
    for (;;) {
        if (unmapRequested) {
            unmapRequested = 0;
            XUnmapWindow(display, window);
            XFlush(display);
        }
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) std::printf("ready 0x%lx\n", window);
            if (event.type == UnmapNotify) std::printf("unmapped\n");
            if (event.type == FocusIn) std::printf("focus\n");
            std::fflush(stdout);
        }
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 100000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
}
