// Copies with the shell's copy from inside a wizard dialog, as the updater
// does, for the tests on a virtual display (copy_window.sh). Usage:
//   copy_probe FROM TO [--slow MS]
// FROM and TO are Windows paths (UTF-8 on the command line). The dialog is
// the wizard's template titled "Copy probe"; its Next button (Enter) starts
// the copy, owned by the dialog, with the updater's flags for a file. --slow
// waits MS milliseconds after each piece, so a person (or xdotool) has time to
// act on the progress window. Reports "copy result=N aborted=B" and ends with
// exit code 0 once the dialog is closed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "path_map.h"
#include "platform.h"
#include "resource_ids.h"

namespace {

std::string from;
std::string to;
int slowMs = 0;

std::string Cp932(const char* utf8) {
    std::string out;
    if (!wq2::platform::Utf8ToCp932(utf8, out)) std::abort();
    return out;
}

bool Slowly(const wq2::platform::CopyProgress&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
    return true;
}

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowTextA(dialog, "Copy probe");
            SetDlgItemTextA(dialog, IDC_INFO, Cp932("次へ でコピーを始めます").c_str());
            return 1;
        case WM_COMMAND: {
            if (LOWORD(wParam) != IDC_NEXT) return 1;
            // Lists closed by two NULs.
            const std::string fromList = from + '\0';
            const std::string toList = to + '\0';
            SHFILEOPSTRUCTA operation{};
            operation.hwnd = dialog;
            operation.wFunc = FO_COPY;
            operation.pFrom = fromList.c_str();
            operation.pTo = toList.c_str();
            operation.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
            const int result = SHFileOperationA(&operation);
            std::printf("copy result=%d aborted=%d\n", result, operation.fAnyOperationsAborted);
            std::fflush(stdout);
            EndDialog(dialog, 0);
            return 1;
        }
        default: return 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 100;
    from = Cp932(argv[1]);
    to = Cp932(argv[2]);
    for (int i = 3; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--slow") == 0) slowMs = std::atoi(argv[i + 1]);
    }
    if (slowMs > 0) wq2::platform::SetCopyProgressHandler(Slowly);
    const INT_PTR result = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_WIZARD), nullptr, Procedure, 0);
    return result == 0 ? 0 : 1;
}
