// Drive types and the shell's file copy: what the updater needs to find the
// game's disc and copy files from it, for builds without <windows.h>.
//
// Drives are those of the Wine prefix (path_map.h): the letter A to Z whose
// link <prefix>/dosdevices/<letter>: leads to a folder. Paths are code page
// 932 byte strings in Windows form, as everywhere in this layer.
#pragma once

#include "win32_types.h"
#include "win32_ui.h"

// ---- Drive types -------------------------------------------------------------

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

// The type of the drive whose root is `rootPath`: "Q:", "Q:\" or "q:/" (null:
// the current folder's drive). DRIVE_NO_ROOT_DIR for anything else, and for a
// letter whose link is missing, dangling or leads to no folder.
//
// A drive is DRIVE_CDROM when the prefix's system.reg records it so under
// HKEY_LOCAL_MACHINE\Software\Wine\Drives ("q:"="cdrom", as Wine's
// configuration writes it), or when its folder lies on an iso9660 or udf
// mount, or on an image mounted with fuseiso. The other types Wine records
// there answer as named: "floppy" DRIVE_REMOVABLE, "hd" DRIVE_FIXED,
// "network" DRIVE_REMOTE, "ramdisk" DRIVE_RAMDISK. Without a record, a folder
// on an nfs, cifs/smb3 or sshfs mount is DRIVE_REMOTE and any other
// DRIVE_FIXED.
UINT WINAPI GetDriveTypeA(LPCSTR rootPath);

// ---- The shell's file operations ---------------------------------------------

typedef WORD FILEOP_FLAGS;

// The field order and types Windows uses. Nothing crosses a binary boundary
// here, so the natural alignment is kept.
struct SHFILEOPSTRUCTA {
    HWND hwnd;                   // owner of the progress window and error boxes
    UINT wFunc;                  // FO_COPY; the other operations are not served
    LPCSTR pFrom;                // names, each NUL-terminated, closed by a second NUL
    LPCSTR pTo;                  // the same
    FILEOP_FLAGS fFlags;         // FOF_ values
    BOOL fAnyOperationsAborted;  // set to TRUE when the user cancelled
    LPVOID hNameMappings;        // not used
    LPCSTR lpszProgressTitle;    // the window's title with FOF_SIMPLEPROGRESS
};
typedef SHFILEOPSTRUCTA* LPSHFILEOPSTRUCTA;

#define FO_MOVE 0x0001
#define FO_COPY 0x0002
#define FO_DELETE 0x0003
#define FO_RENAME 0x0004

#define FOF_MULTIDESTFILES 0x0001
#define FOF_SILENT 0x0004
#define FOF_NOCONFIRMATION 0x0010
#define FOF_SIMPLEPROGRESS 0x0100
#define FOF_NOCONFIRMMKDIR 0x0200
#define FOF_NOERRORUI 0x0400

constexpr DWORD ERROR_CANCELLED = 1223;

// FO_COPY of one source (the first name of pFrom; a second name fails) to
// one destination (the first name of pTo; likewise):
//   - a file is copied to the destination path, which names the new file;
//     when the destination is an existing folder the file goes into it under
//     its own name, as Windows does;
//   - a folder is copied, with everything in it, into the destination folder
//     under its own last name ("Q:\a\b" to "C:\d" makes "C:\d\b").
// Missing destination folders are created, all the way down, and existing
// files are replaced, read-only ones too: no confirmation is ever asked, with
// or without FOF_NOCONFIRMATION and FOF_NOCONFIRMMKDIR. Names in the
// destination match existing ones ignoring the case of ASCII letters.
//
// Each file is written beside its target under a temporary name, flushed to
// the disk, given the source's last-write time and read-only attribute (a
// file on a disc stays read-only, as Windows copies it), and then renamed over
// the target, so a failed or cancelled copy leaves the target as it was and no
// partial file. Files already copied when a later one fails stay copied.
//
// Unless FOF_SILENT, a progress window shows the file being copied with a
// "キャンセル" button, modal and centred over `hwnd` when that is one of our
// dialogs (standing alone otherwise); without a display the copy runs without
// one. With FOF_SIMPLEPROGRESS the window names no files and takes
// lpszProgressTitle, when given, as its title.
//
// Returns 0 on success; otherwise a Windows error code: ERROR_CANCELLED (the
// user cancelled; fAnyOperationsAborted is TRUE), ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND (no such source), ERROR_INVALID_PARAMETER (a null
// list, an empty name, more than one name, or a folder to be copied into
// itself), ERROR_NOT_SUPPORTED (another operation), or the error of the step
// that failed (ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ...). A failure other
// than a cancel is told in a message box owned by `hwnd`, unless
// FOF_NOERRORUI.
int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA operation);

namespace wq2::platform {

// Where a copy stands, as told to the progress handler.
struct CopyProgress {
    const char* name;       // the file being copied: its own name, code page 932
    ULONGLONG fileBytes;    // its size
    ULONGLONG fileDone;     // bytes of it copied so far
    ULONGLONG totalBytes;   // all the files of the operation
    ULONGLONG totalDone;
};

// Called at the start of each file and after each piece of it (at most 1 MiB)
// is written, whether or not a window shows the progress; false cancels the
// copy as the window's "キャンセル" does. Tests set one to stop a copy part-way
// without a display. Returns the previous handler; null sets none.
typedef bool (*CopyProgressHandler)(const CopyProgress& progress);
CopyProgressHandler SetCopyProgressHandler(CopyProgressHandler handler);

// The mount table consulted for a drive's file system, in the format of
// /proc/self/mountinfo, which is the default; null restores it. The path is
// kept, not copied: it must stay valid until it is replaced. Tests point it at
// a table of their own. Returns the previous path.
const char* SetMountTable(const char* path);

}  // namespace wq2::platform
