#include "update_run.h"

#include "disc_copy.h"
#include "payload_archive.h"
#include "resource_ids.h"
#include "settings_access.h"
#include "startup.h"
#include "update_list.h"
#include "updater_state.h"
#include "wizard.h"

namespace {

// A number of section UPDATE, as strtol reads it; 0 when the key is absent.
int32_t ReadUpdateNumber(const char* key) {
    char value[kPathSize];
    return ReadUpdateString("UPDATE", key, value, sizeof value) ? DecimalToInt32(value) : 0;
}

// True when the install drive lacks the space RequiredDiskSpace asks for; the page
// then says so and offers Back. A drive whose free space cannot be learned passes:
// a disk that is really full is reported by the write itself.
bool ShortOfSpace(HWND dialog) {
    int32_t required = ReadUpdateNumber("RequiredDiskSpace");
    if (required == 0) return false;
    char drive[3] = {Updater.InstPath[0], Updater.InstPath[0] != '\0' ? Updater.InstPath[1] : '\0', '\0'};
    uint64_t available = 0;
    if (!DiskFreeSpace(drive, &available, nullptr, nullptr)) return false;
    if (uint64_t(uint32_t(required)) <= available) return false;
    SetInfoText(dialog, "ディスク容量が足りません。\r%s ドライブに %i バイトの空き容量が必要です", drive,
                int(uint32_t(required) - uint32_t(available)));
    EnableControl(dialog, IDC_BACK, 1);
    EnableControl(dialog, IDC_NEXT, 0);
    EnableControl(dialog, IDC_CANCEL, 1);
    return true;
}

void ShowBusyPage(HWND dialog) {
    SetInfoText(dialog, "アップデートを実行しています");
    EnableControl(dialog, IDC_BACK, 0);
    EnableControl(dialog, IDC_NEXT, 0);
    EnableControl(dialog, IDC_CANCEL, 0);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

// The completion page: Next becomes "完了", the only way on.
void ShowCompletionPage(HWND dialog) {
    SetInfoText(dialog, "アップデートは完了しました");
    SetDlgItemTextA(dialog, IDC_NEXT, "完了");
    EnableControl(dialog, IDC_NEXT, 1);
    SetFocus(GetDlgItem(dialog, IDC_NEXT));
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

}  // namespace

void RunUpdate(HWND dialog) {
    if (ShortOfSpace(dialog)) return;
    ShowBusyPage(dialog);
    int overwriteOnly = ReadUpdateNumber("OverwriteOnly") != 0 ? 1 : 0;
    int hasUpdateKeys = ParseUpdateList();
    int hasCopyKeys = ParseDiscCopyList();
    if (!hasUpdateKeys && !hasCopyKeys) {
        ShowErrorBox("No 'UpdateFileXX' and 'CopyFileXX'");
        EndDialog(dialog, -1);
        return;
    }
    // Lists whose every entry is for another install mode: nothing to do is no
    // failure.
    if (Updater.UpdateItemCount == 0 && Updater.DiscCopyCount == 0) {
        ShowErrorBox("アップデートする必要のあるファイルはありません");
        ShowCompletionPage(dialog);
        return;
    }
    if (Updater.UpdateItemCount != 0 && !ApplyUpdateList(dialog, overwriteOnly)) return;
    if (Updater.DiscCopyCount != 0 && !ApplyDiscCopyList(dialog)) return;
    ShowCompletionPage(dialog);
}
