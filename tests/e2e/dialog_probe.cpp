// Opens one of the wizard's templates through DialogBoxParamA with a procedure
// of its own and reports on standard output what reaches it, for the tests on
// a virtual display (dialog_window.sh). Usage:
//   dialog_probe TEMPLATE [--box-on-next] [--end-on-cancel] [--wait-cursor]
// The title becomes "Probe <TEMPLATE>", Back starts disabled, the agreement's
// radio buttons start with "同意しない" marked and are left alone on a click.
// Cancel ends the dialog with 7 when asked to; the exit code is the result.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "path_map.h"
#include "platform.h"
#include "resource_ids.h"

namespace {

bool boxOnNext = false;
bool endOnCancel = false;
bool waitCursor = false;
int templateId = IDD_WIZARD;
HWND lastUnder = nullptr;

std::string Cp932(const char* utf8) {
    std::string out;
    if (!wq2::platform::Utf8ToCp932(utf8, out)) std::abort();
    return out;
}

void Report(const char* format, int value) {
    std::printf(format, value);
    std::fflush(stdout);
}

void ReportCommand(HWND dialog, int id) {
    std::printf("command %d", id);
    if (templateId == IDD_WIZARD_AGREEMENT) {
        std::printf(" agree=%u disagree=%u", IsDlgButtonChecked(dialog, IDC_AGREE),
                    IsDlgButtonChecked(dialog, IDC_DISAGREE));
    }
    char text[4096];
    GetDlgItemTextA(dialog, IDC_AGREEMENT, text, sizeof text);
    std::string utf8;
    wq2::platform::Cp932ToUtf8(text, utf8);
    // One line per command: the box's line breaks (CR LF) show as "|".
    std::string line;
    for (char c : utf8) {
        if (c != '\r') line += (c == '\n') ? '|' : c;
    }
    if (!line.empty()) std::printf(" agreement=%s", line.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

int IdOf(HWND dialog, HWND control) {
    for (int id : {IDC_NEXT, IDC_CANCEL, IDC_BACK, IDC_AGREEMENT, IDC_INFO, IDC_AGREE, IDC_DISAGREE}) {
        if (control != nullptr && GetDlgItem(dialog, id) == control) return id;
    }
    return 0;
}

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const std::string title = "Probe " + std::to_string(templateId);
            SetWindowTextA(dialog, title.c_str());
            SetDlgItemTextA(dialog, IDC_INFO,
                            Cp932("表示のテスト: ソフトウェア使用許諾契約書をお読みください。"
                                  "同意される場合は「同意する」を選んでから [次へ] を押して下さい。")
                                .c_str());
            SetDlgItemTextA(dialog, IDC_AGREEMENT,
                            Cp932("第1条 (表示)\r\n本ソフトウェアの著作権は作者に帰属します。\r\n第2条\r\n"
                                  "予告なく変更することがあります。")
                                .c_str());
            EnableWindow(GetDlgItem(dialog, IDC_BACK), FALSE);
            CheckRadioButton(dialog, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE);
            Report("init %d\n", static_cast<int>(lParam));
            return 0;
        }
        case WM_SETCURSOR: {
            const HWND under = reinterpret_cast<HWND>(wParam);
            if (under != lastUnder) {
                lastUnder = under;
                Report("setcursor %d\n", under == dialog ? -1 : IdOf(dialog, under));
            }
            if (!waitCursor) return 0;
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            return 1;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dialog, id)) Report("wrong handle for %d\n", id);
            ReportCommand(dialog, id);
            if (id == IDC_NEXT && boxOnNext) {
                const int answer = MessageBoxA(dialog, Cp932("確認の表示です").c_str(), "Probe box", MB_OKCANCEL);
                Report("box answered %d\n", answer);
            }
            if (id == IDC_CANCEL && endOnCancel) EndDialog(dialog, 7);
            return 1;
        }
        default: return 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 100;
    templateId = std::atoi(argv[1]);
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--box-on-next") == 0) boxOnNext = true;
        if (std::strcmp(argv[i], "--end-on-cancel") == 0) endOnCancel = true;
        if (std::strcmp(argv[i], "--wait-cursor") == 0) waitCursor = true;
    }
    const INT_PTR result = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(templateId), nullptr, Procedure, 42);
    Report("result %d\n", static_cast<int>(result));
    return static_cast<int>(result & 0xFF);
}
