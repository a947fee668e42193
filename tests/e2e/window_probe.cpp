// FindWindowA from the command line, and what the start-up does with the
// window it finds, for the window-search tests (window_search.sh). Usage:
//   window_probe CLASS TITLE [wait] [show] [foreground]
// CLASS "dialog" is the system's dialog class MAKEINTATOM(0x8002) and "-" any
// class; TITLE is UTF-8 (passed on in code page 932) and "-" any title.
// Prints "found" or "none" (exit 0 or 1); "wait" then reads a line from
// standard input before going on; "show" and "foreground" report the call's
// answer.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "path_map.h"
#include "platform.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* className = argv[1];
    if (std::strcmp(argv[1], "dialog") == 0) className = MAKEINTATOM(0x8002);
    if (std::strcmp(argv[1], "-") == 0) className = nullptr;
    std::string title;
    if (std::strcmp(argv[2], "-") != 0 && !wq2::platform::Utf8ToCp932(argv[2], title)) return 2;
    HWND window = FindWindowA(className, std::strcmp(argv[2], "-") == 0 ? nullptr : title.c_str());
    std::printf("%s\n", window != nullptr ? "found" : "none");
    std::fflush(stdout);
    if (window == nullptr) return 1;
    for (int i = 3; i < argc; ++i) {
        const std::string action = argv[i];
        if (action == "wait") {
            std::string line;
            std::getline(std::cin, line);
        } else if (action == "show") {
            std::printf("show %d\n", ShowWindow(window, SW_SHOW));
        } else if (action == "foreground") {
            std::printf("foreground %d\n", SetForegroundWindow(window));
        }
        std::fflush(stdout);
    }
    return 0;
}
