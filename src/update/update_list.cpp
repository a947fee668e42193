#include "update_list.h"

#include <cstring>

#include "path_text.h"
#include "payload_archive.h"
#include "settings_access.h"
#include "startup.h"
#include "updater_state.h"

namespace {

constexpr int kFields = 3;

// Where the file name starts: one past the last "\" that is a character of its
// own, not the trail byte of a two-byte one.
int32_t NameOffsetOf(const char* path) {
    int32_t offset = 0;
    for (int32_t i = 0; path[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(BYTE(path[i]))) {
            if (path[i + 1] == '\0') break;
            ++i;
        } else if (path[i] == '\\') {
            offset = i + 1;
        }
    }
    return offset;
}

uint32_t ModeOfLetter(const char* field, bool* matched) {
    *matched = true;
    if (lstrcmpiA(field, "d") == 0) return ModeData;
    if (lstrcmpiA(field, "u") == 0) return ModeUpdate;
    if (lstrcmpiA(field, "o") == 0) return ModeOverwrite;
    *matched = false;
    return ModePlain;
}

// One entry's value into the next free slot; false when the install-mode digit
// refuses it.
bool ParseEntry(const char* value) {
    char fields[kFields][kPathSize];
    int cut[kFields] = {};
    const char* cursor = value;
    for (int f = 0; f < kFields; ++f) {
        if (!NextListFieldChecked(fields[f], &cursor, &cut[f])) {
            for (; f < kFields; ++f) fields[f][0] = '\0';
            break;
        }
    }
    int type = 0;
    if (fields[0][0] >= '0' && fields[0][0] <= '9' && fields[0][1] == '\0') {
        if (Updater.InstMode != fields[0][0] - '0') return false;
        type = 1;
    }
    UpdateItem& item = Updater.UpdateItems[Updater.UpdateItemCount];
    bool matched = false;
    item.Mode = ModeOfLetter(fields[type], &matched);
    int pathField = matched ? type + 1 : type;
    lstrcpyA(item.Path, fields[pathField]);
    item.NameOffset = NameOffsetOf(item.Path);
    item.PathTooLong = cut[pathField];
    Updater.UpdateItemCount += 1;
    return true;
}

void WriteFailed(HWND dialog) {
    ShowErrorBox("ファイルの書き込みに失敗しました");
    EndDialog(dialog, -1);
}

// The target of `item`: base folder, data folder (created when missing) and path.
// False when it does not fit a path buffer.
bool ComposeTarget(const UpdateItem& item, char* target) {
    lstrcpyA(target, item.Mode == ModeData ? Updater.DataPath : Updater.InstPath);
    if (!AppendPathComponent(target, kPathSize, Updater.DataFolder)) return false;
    CreateDirectoryA(target, nullptr);
    return AppendPathComponent(target, kPathSize, item.Path) != 0;
}

bool IsExistingFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A data file the player already has stays as it is. It is written back through
// the same replace-by-rename as every other write, so the player's data is never
// half-written. False when there is no readable file to keep.
bool KeepDataFile(const char* target) {
    // A read-only file cannot be replaced by a rename on Windows, so the rewrite
    // would fail there; it is left as it is everywhere, which is that outcome.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return true;
    }
    uint32_t size = 0;
    uint8_t* content = ReadWholeFile(target, &size);
    if (content == nullptr) return false;
    WriteWholeFile(target, content, size, nullptr);
    GlobalFree(content);
    return true;
}

}  // namespace

int ParseUpdateList() {
    Updater.UpdateItemCount = 0;
    int first = 0;
    for (int i = 0; i < kMaxListEntries; ++i) {
        char key[32];
        char value[kMessageSize];
        wsprintfA(key, "UpdateFile%02i", i);
        if (!ReadUpdateString("UPDATE", key, value, sizeof value)) break;
        if (i == 0) first = 1;
        ParseEntry(value);
    }
    return first;
}

int ApplyUpdateList(HWND dialog, int overwriteOnly) {
    for (int i = 0; i < Updater.UpdateItemCount; ++i) {
        const UpdateItem& item = Updater.UpdateItems[i];
        char target[kPathSize];
        if (item.PathTooLong || !ComposeTarget(item, target)) {
            WriteFailed(dialog);
            return 0;
        }
        if ((overwriteOnly || item.Mode == ModeOverwrite) && !IsExistingFile(target)) continue;
        if (item.Mode == ModeData && KeepDataFile(target)) continue;
        if (!ExtractEntryToFile(item.Path + item.NameOffset, target, item.Mode == ModeUpdate ? 1 : 0)) {
            WriteFailed(dialog);
            return 0;
        }
    }
    return 1;
}

uint8_t* ReadWholeFile(const char* path, uint32_t* size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    uint8_t* buffer = nullptr;
    if (length != INVALID_FILE_SIZE && high == 0) {
        // One byte more, so an empty file still gets a block.
        buffer = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, SIZE_T(length) + 1));
    }
    DWORD read = 0;
    if (buffer != nullptr && !ReadFile(file, buffer, length, &read, nullptr)) {
        GlobalFree(buffer);
        buffer = nullptr;
    }
    CloseHandle(file);
    // A file that shrank meanwhile gives what was read, never unread bytes.
    if (buffer != nullptr && size != nullptr) *size = read;
    return buffer;
}
