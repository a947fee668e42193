#include "setup_description.h"

#include <cstring>

#include "platform.h"
#include "settings_access.h"
#include "updater_state.h"

namespace {

// A number of up to 19 characters, as the C library reads an unsigned 64-bit one.
constexpr int kNumberSize = 20;

SetupDescriptionData& Description() { return Updater.SetupDescription; }

void ShowSetupFault(const char* format, const char* key) {
    char message[kMessageSize];
    wsprintfA(message, format, key);
    SetupErrorBox(message);
}

// Splits `list` into `count` slots of `slots`. Returns the number of fields found;
// when it is less than `count`, the slot after the last field is emptied.
int SplitList(const char* list, char (*slots)[kPathSize], int count, int32_t* numbers) {
    const char* cursor = list;
    for (int i = 0; i < count; ++i) {
        if (!NextListField(slots[i], &cursor)) {
            slots[i][0] = '\0';
            return i;
        }
        if (numbers != nullptr) numbers[i] = Updater.ListFieldNumber;
    }
    return count;
}

// One install choice's file list (or the add-on list) into slot `choice`, with the
// "N:" numbers of its names. False when the list has no first name.
bool SplitFileList(const char* list, int choice) {
    SetupDescriptionData& d = Description();
    Updater.ListFieldNumber = 0;
    d.InstallFilesNumbered[choice] = 0;
    int found = SplitList(list, d.InstallFiles[choice], kMaxInstallFiles, d.InstallFileNumbers[choice]);
    for (int j = 0; j < found; ++j) {
        if (d.InstallFileNumbers[choice][j] != 0) d.InstallFilesNumbered[choice] = 1;
    }
    return found > 0;
}

// An optional unsigned 64-bit size; 0 when absent.
uint64_t ReadSize(const char* key) {
    char text[kNumberSize];
    return ReadSetupString(key, text, sizeof text) ? DecimalToUint64(text) : 0;
}

// An optional flag: 1 when present and not 0.
int32_t ReadFlag(const char* key) {
    int32_t value = 0;
    return ReadSetupInt(key, &value) && value != 0 ? 1 : 0;
}

// An optional text with a default.
void ReadWithDefault(const char* key, char* buffer, int size, const char* fallback) {
    if (!ReadSetupString(key, buffer, size)) lstrcpyA(buffer, fallback);
}

// Steps that need every key: identity, images, install choices, shortcuts.
bool ReadRequiredPart() {
    SetupDescriptionData& d = Description();
    if (!ReadSetupString("CompanyName", Updater.CompanyName, kPathSize) ||
        !ReadSetupString("GameTitle", Updater.GameTitle, kPathSize) ||
        !ReadSetupString("GameDir", Updater.GameDir, kPathSize) ||
        !ReadSetupString("GameExe", d.GameExe, kPathSize) ||
        !ReadSetupString("UninstExe", d.UninstExe, kPathSize)) {
        return false;
    }
    char list[kMessageSize];
    if (!ReadSetupString("SetupBmp", list, sizeof list)) return false;
    if (SplitList(list, d.SetupBmp, kMaxSetupImages, nullptr) == 0) {
        SetupErrorBox("SETUP.INI : SetupBmps エラー");
        return false;
    }
    if (!ReadSetupInt("InstallSelects", &d.InstallSelects)) return false;
    if (d.InstallSelects > kMaxInstallChoices) {
        SetupErrorBox("SETUP.INI : InstallSelect オーバー");
        return false;
    }
    for (int s = 0; s < d.InstallSelects; ++s) {
        char key[32];
        wsprintfA(key, "InstallTitle%i", s);
        if (!ReadSetupString(key, d.InstallTitle[s], kPathSize)) return false;
        wsprintfA(key, "InstallFiles%i", s);
        if (!ReadSetupString(key, list, sizeof list)) return false;
        if (!SplitFileList(list, s)) {
            ShowSetupFault("SETUP.INI : %s エラー", key);
            return false;
        }
    }
    if (!ReadSetupInt("Shortcuts", &d.Shortcuts)) return false;
    if (d.Shortcuts > kMaxShortcuts) {
        SetupErrorBox("SETUP.INI : Shortcuts オーバー");
        return false;
    }
    for (int k = 0; k < d.Shortcuts; ++k) {
        char key[32];
        wsprintfA(key, "Shortcut%i", k);
        if (!ReadSetupString(key, list, kPathSize)) return false;
        if (SplitList(list, d.Shortcut[k], kShortcutFields, nullptr) < 2) {
            ShowSetupFault("SETUP.INI : %s エラー", key);
            return false;
        }
    }
    return true;
}

// The optional keys, read silently. False only for a malformed ExecApp.
bool ReadOptionalPart() {
    SetupDescriptionData& d = Description();
    if (!ReadSetupString("GameClass", Updater.GameClass, kPathSize)) lstrcpyA(Updater.GameClass, Updater.GameTitle);
    d.GameClassIsEngineWindow = lstrcmpA(Updater.GameClass, "TTVPWindowForm") == 0 ? 1 : 0;
    if (!ReadSetupInt("DefaultSelect", &d.DefaultSelect)) d.DefaultSelect = 0;
    for (int s = 0; s < d.InstallSelects; ++s) {
        char key[32];
        wsprintfA(key, "InstallSize%i", s);
        d.InstallSize[s] = ReadSize(key);
    }
    for (int i = 0; i < kDiscCount; ++i) {
        char key[32];
        wsprintfA(key, "DiskCheckFile%i", i);
        ReadSetupString(key, d.DiskCheckFile[i], kPathSize);
    }
    char list[kPathSize];
    if (ReadSetupString("ExecApp", list, sizeof list) &&
        SplitList(list, d.ExecApp, kExecAppFields, nullptr) < kExecAppFields) {
        ShowSetupFault("SETUP.INI : %s エラー", "ExecApp");
        return false;
    }
    int32_t directX = 0;
    d.InstallDirectX = 0;
    if (ReadSetupInt("InstallDirectX", &directX)) {
        // The runtime always; DirectDraw and DirectSound drivers by bits 0 and 1.
        d.InstallDirectX = 0x10000u | ((directX & 1) ? 0x8u : 0u) | ((directX & 2) ? 0x10u : 0u);
    }
    ReadWithDefault("InstallDXMessage", d.InstallDXMessage, kMessageSize, "ＤｉｒｅｃｔＸをインストールする");
    ReadWithDefault("SelectSetupMessage", d.SelectSetupMessage, kMessageSize, "インストール方法を選択して下さい");
    d.UseCompanyNameForShortcutGroup = ReadFlag("UseCompanyNameForShortcutGroup");
    d.ChooseSaveDataFolder = ReadFlag("ChooseSaveDataFolder");
    ReadWithDefault("SaveDataFolderNameInInstall", d.SaveDataFolderNameInInstall, kPathSize, "savedata");
    ReadWithDefault("SaveDataFolderName", d.SaveDataFolderName, kPathSize, Updater.GameDir);
    // Kept as the installer reads it; the updater has no use for it.
    d.CancelSaveData = ReadFlag("CancelSaveData");
    d.InstallAfterAdd = ReadFlag("InstallAfterAdd");
    return true;
}

// The add-on list, over the last install choice's list. Its key is required once
// InstallAfterAdd is set.
bool ReadAddOnPart() {
    SetupDescriptionData& d = Description();
    char list[kMessageSize];
    Updater.SilentMissingKeys = 0;
    bool present = ReadSetupString("InstallAddFiles", list, sizeof list);
    Updater.SilentMissingKeys = 1;
    if (!present) return false;
    if (!SplitFileList(list, kAddOnChoice)) {
        SetupErrorBox("SETUP.INI : InstallAddFiles エラー");
        return false;
    }
    d.InstallAddSize = ReadSize("InstallAddSize");
    return true;
}

}  // namespace

int ReadSetupDescription() {
    if (!ReadRequiredPart()) return 0;
    Updater.SilentMissingKeys = 1;
    if (!ReadOptionalPart()) return 0;
    if (Description().InstallAfterAdd == 0) return 1;
    return ReadAddOnPart() ? 1 : 0;
}
