#include "win32_ui.h"

#include <cstdio>
#include <string>

#include "path_map.h"

namespace {

// Until the desktop dialogs exist, a box is written to standard error, converted
// to UTF-8, and answered with OK.
std::string Readable(LPCSTR text) {
    std::string utf8;
    if (text == nullptr) return utf8;
    if (!wq2::platform::Cp932ToUtf8(text, utf8)) utf8 = text;
    return utf8;
}

int StderrBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "[%s] %s\n", Readable(caption).c_str(), Readable(text).c_str());
    return IDOK;
}

MessageBoxHandler currentHandler = StderrBox;

}  // namespace

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    return currentHandler(owner, text, caption, type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = currentHandler;
    currentHandler = handler ? handler : StderrBox;
    return previous;
}

HRESULT WINAPI CoInitialize(LPVOID) { return 0; }
