#include "updater_settings.h"

#include <cstring>

#include "path_text.h"
#include "payload_archive.h"
#include "platform.h"
#include "settings_access.h"
#include "startup.h"
#include "updater_state.h"

namespace {

constexpr char kSection[] = "SETUP";
constexpr char kSetupIniName[] = "SETUP.INI";

// Reads an optional key of section SETUP; a missing one leaves an empty string.
void ReadOptional(const char* key, char* buffer, int size) { ReadUpdateString(kSection, key, buffer, size); }

// Loads the payload entry named by the key `key` into a new zero-filled block two
// bytes longer than the text. True with `*text` null when the key is absent; false
// after a box when the entry cannot be had.
bool LoadPayloadText(const char* key, char** text) {
    char name[kPathSize];
    if (!ReadUpdateString(kSection, key, name, sizeof name)) return true;
    uint32_t size = 0;
    uint8_t* content = ExtractEntryToMemory(name, &size);
    if (content == nullptr) {
        char message[kMessageSize];
        wsprintfA(message, "'%s' not found at UPDATE.WQ3", name);
        ShowErrorBox(message);
        return false;
    }
    auto* block = static_cast<char*>(GlobalAlloc(GPTR, SIZE_T(size) + 2));
    if (block == nullptr) {
        GlobalFree(content);
        ShowErrorBox("Can't Allocate Memory !!");
        return false;
    }
    std::memcpy(block, content, size);
    GlobalFree(content);
    *text = block;
    return true;
}

// Queries `name` of the open key into `buffer` of `size` bytes. A value that does
// not fit reads as absent, like a missing one.
bool QueryValue(HKEY key, const char* name, void* buffer, DWORD size) {
    DWORD length = size;
    return RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &length) == ERROR_SUCCESS;
}

// Reads InstPath, DataPath and InstMode of the installation record. False when the
// key is missing or the game counts as not installed.
bool ReadInstallRecord() {
    char keyPath[kMessageSize];
    wsprintfA(keyPath, "Software\\%s\\%s", Updater.CompanyName, Updater.GameDir);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool installed = QueryValue(key, "InstPath", Updater.InstPath, sizeof Updater.InstPath);
    if (installed) {
        if (!QueryValue(key, "DataPath", Updater.DataPath, sizeof Updater.DataPath)) Updater.DataPath[0] = '\0';
        installed = QueryValue(key, "InstMode", &Updater.InstMode, sizeof Updater.InstMode);
    }
    if (installed) {
        // Asked for as the installer's record has it; neither value nor absence matters.
        uint32_t added = 0;
        QueryValue(key, "InstAdd", &added, sizeof added);
    }
    RegCloseKey(key);
    // A registry string need not end in a NUL; the fields are used as strings.
    Updater.InstPath[kPathSize - 1] = '\0';
    Updater.DataPath[kPathSize - 1] = '\0';
    if (!installed) Updater.InstPath[0] = '\0';
    return installed;
}

// Forms SetupIniPath and checks that something exists there. An install folder too
// long to take the name is reported as the missing file rather than overflowing.
bool FindSetupIni() {
    char path[kPathSize];
    lstrcpyA(path, Updater.InstPath);
    if (AppendPathComponent(path, sizeof path, kSetupIniName) &&
        GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        std::memcpy(Updater.SetupIniPath, path, sizeof path);
        return true;
    }
    ShowErrorBox("インストール先に \"SETUP.INI\" ファイルが見つかりません");
    return false;
}

}  // namespace

void ConvertLineBreaks(const char* text, char* out, int size) {
    if (size <= 0) return;
    int length = 0;
    for (const char* p = text; *p != '\0';) {
        const char* next = CharNextA(p);
        int width = int(next - p);
        if (width == 1 && p[0] == '\\' && p[1] == 'n') {
            if (length + 1 > size - 1) break;
            out[length++] = '\r';
            p += 2;
            continue;
        }
        if (length + width > size - 1) break;
        std::memcpy(out + length, p, size_t(width));
        length += width;
        p = next;
    }
    out[length] = '\0';
}

int LoadUpdaterSettings() {
    Updater.SilentMissingKeys = 0;
    if (!ReadUpdateString(kSection, "CompanyName", Updater.CompanyName, kPathSize) ||
        !ReadUpdateString(kSection, "GameTitle", Updater.GameTitle, kPathSize) ||
        !ReadUpdateString(kSection, "GameClass", Updater.GameClass, kPathSize) ||
        !ReadUpdateString(kSection, "GameDir", Updater.GameDir, kPathSize)) {
        return 0;
    }
    Updater.SilentMissingKeys = 1;
    ReadOptional("GameTitleA", Updater.GameTitleA, kPathSize);
    ReadOptional("UpdaterVersion", Updater.UpdaterVersion, kPathSize);
    ReadOptional("UpdaterTitle", Updater.UpdaterTitle, kPathSize);
    ReadOptional("DataFolder", Updater.DataFolder, kPathSize);
    ReadOptional("UpdateMessage", Updater.UpdateMessage, kMessageSize);

    // Before the registry, so a missing agreement entry is reported even when the
    // game is not installed.
    if (!LoadPayloadText("AgreementText", &Updater.AgreementText)) return 0;
    if (!LoadPayloadText("AgreementTitle", &Updater.AgreementTitle)) return 0;

    if (!ReadInstallRecord()) {
        char message[kMessageSize];
        wsprintfA(message, "「%s」がインストールされていません", Updater.GameTitle);
        ShowErrorBox(message);
        return 0;
    }
    if (Updater.UpdateMessage[0] != '\0') {
        char notice[kMessageSize];
        ConvertLineBreaks(Updater.UpdateMessage, notice, sizeof notice);
        ShowErrorBox(notice);
    }
    return FindSetupIni() ? 1 : 0;
}
