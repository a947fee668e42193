#include "disc_copy.h"

#include <cstring>

#include "path_text.h"
#include "settings_access.h"
#include "updater_state.h"
#include "wizard.h"

namespace {

// Room for "Q:", a separator, a check file name of up to 259 bytes and two NULs.
constexpr int kCheckPathSize = kPathSize + 8;

// One entry, "[m,][n:]path", into the next free slot; false when its install-mode
// character refuses it.
bool ParseEntry(const char* value) {
    const char* p = value;
    if (p[0] != '\0' && p[1] == ',') {
        if (int32_t(p[0]) - '0' != Updater.InstMode) return false;
        p += 2;
    }
    int32_t disc = 0;
    if (p[0] != '\0' && p[1] == ':') {
        disc = int32_t(p[0]) - '0';
        p += 2;
    }
    int i = Updater.DiscCopyCount;
    Updater.DiscCopyDiscs[i] = disc;
    lstrcpyA(Updater.DiscCopyPaths[i], p);
    Updater.DiscCopyCount += 1;
    return true;
}

// The first CD-ROM drive, from A: on, where the check file of `disc` exists.
bool SearchDrives(int disc, char* drive) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char candidate[3] = {letter, ':', '\0'};
        if (GetDriveTypeA(candidate) != DRIVE_CDROM) continue;
        char check[kCheckPathSize];
        lstrcpyA(check, candidate);
        if (!AppendPathComponent(check, sizeof check, Updater.SetupDescription.DiskCheckFile[disc])) continue;
        if (GetFileAttributesA(check) != INVALID_FILE_ATTRIBUTES) {
            lstrcpyA(drive, candidate);
            return true;
        }
    }
    return false;
}

int CopyFailed(HWND dialog, const char* path) {
    char message[kMessageSize];
    wsprintfA(message, "SETUP.INI : \"%s\" のコピーに失敗しました", path);
    MessageBoxA(dialog, message, Updater.Caption, MB_ICONERROR);
    EndDialog(dialog, -1);
    return 0;
}

bool IsFolderOrMissing(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int ParseDiscCopyList() {
    Updater.DiscCopyCount = 0;
    int first = 0;
    for (int i = 0; i < kMaxListEntries; ++i) {
        char key[32];
        char value[kPathSize];
        wsprintfA(key, "CopyFile%02i", i);
        if (!ReadUpdateString("UPDATE", key, value, sizeof value)) break;
        if (i == 0) first = 1;
        ParseEntry(value);
    }
    return first;
}

int FindInstallDisc(HWND dialog, int disc, char* drive) {
    for (;;) {
        if (SearchDrives(disc, drive)) return 1;
        char question[kMessageSize];
        wsprintfA(question, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい", Updater.GameTitle, disc);
        if (MessageBoxA(dialog, question, Updater.Caption, MB_OKCANCEL) != IDOK) {
            EndDialog(dialog, -1);
            return 0;
        }
    }
}

int ApplyDiscCopyList(HWND dialog) {
    // No drive until a numbered entry has found one.
    char sourceDrive[3] = "";
    for (int i = 0; i < Updater.DiscCopyCount; ++i) {
        const char* path = Updater.DiscCopyPaths[i];
        int disc = Updater.DiscCopyDiscs[i];
        // A number that selects no check file, and an entry without a number before
        // any drive was found, have no disc to copy from.
        if (disc < 0 || disc >= kDiscCount) return CopyFailed(dialog, path);
        if (disc != 0 && !FindInstallDisc(dialog, disc, sourceDrive)) return 0;
        if (sourceDrive[0] == '\0') return CopyFailed(dialog, path);

        char source[kPathSize];
        lstrcpyA(source, sourceDrive);
        if (!AppendPathComponent(source, sizeof source, path)) return CopyFailed(dialog, path);
        // Both are lists closed by two NULs, as the shell's copy takes them.
        char destination[kPathSize + 1] = {};
        lstrcpyA(destination, Updater.InstPath);
        bool folder = IsFolderOrMissing(source);
        if (!folder && !AppendPathComponent(destination, kPathSize, path)) return CopyFailed(dialog, path);

        SetInfoText(dialog, "%s をコピーしています", path);
        SHFILEOPSTRUCTA operation;
        std::memset(&operation, 0, sizeof operation);
        operation.hwnd = dialog;
        operation.wFunc = FO_COPY;
        operation.pFrom = source;
        operation.pTo = destination;
        operation.fFlags = FILEOP_FLAGS(FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | (folder ? FOF_NOERRORUI : 0));
        int result = SHFileOperationA(&operation);
        if (operation.fAnyOperationsAborted) {
            EndDialog(dialog, -1);
            return 0;
        }
        if (result != 0) return CopyFailed(dialog, path);
        SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
    }
    return 1;
}
