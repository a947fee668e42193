#include "win32_ui.h"

#include "gtk_message_box.h"

namespace {

MessageBoxHandler currentHandler = wq2::platform::DesktopMessageBox;

}  // namespace

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    return currentHandler(owner, text, caption, type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = currentHandler;
    currentHandler = handler ? handler : wq2::platform::DesktopMessageBox;
    return previous;
}

HRESULT WINAPI CoInitialize(LPVOID) { return 0; }
