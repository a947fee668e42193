// Windows paths inside a Wine prefix, and back.
//
// The prefix is $WINEPREFIX, or ~/.wine when that is unset. A drive letter
// names the link <prefix>/dosdevices/<letter>: (followed like any symlink),
// so "C:\\Games\\a.bin" is <prefix>/dosdevices/c:/Games/a.bin. A path without
// a drive is relative to the current folder; one that starts with a separator
// is on the current folder's drive. "\" and "/" both separate.
//
// The program's names are code page 932 bytes; names on disk are UTF-8.
// Windows finds "data" when the folder holds "Data", so each component that
// exists is looked up ignoring the case of ASCII letters (the same folding as
// lstrcmpiA); from the first component that does not exist on, the caller's
// spelling is kept, so new files get the name the program asked for.
#pragma once

#include <string>
#include <string_view>

#include "win32_types.h"

namespace wq2::platform {

// ASCII letters folded to lower case; every other byte, and so every byte of
// a multi-byte character in UTF-8 or a lead byte in code page 932, unchanged.
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal but for the case of ASCII letters: the rule of lstrcmpiA and of
// Windows' names of files, keys and drives.
inline bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// A mapped path, or the Windows error code that says why there is none.
struct MappedPath {
    std::string path;  // empty when error != 0
    DWORD error = 0;
};

// The prefix folder (not checked for existence).
std::string WinePrefix();

// Unix path for a Windows path. Errors: ERROR_PATH_NOT_FOUND (null or empty
// path, a missing drive link, a UNC path), ERROR_INVALID_NAME (bytes that are
// not code page 932). A folder or file on the way that does not exist is no
// error here: the path is returned with the caller's spelling, and opening
// it reports what is missing.
MappedPath WindowsToUnixPath(const char* windowsPath);

// Windows path (code page 932) for an existing Unix file or folder: on the
// drive whose link target holds it most closely (the longest target), with
// the drive letter upper-case and "\" separators; "C:\" for a drive's root.
// Outside every drive it is on "Z:", which Wine maps to "/". Errors:
// ERROR_PATH_NOT_FOUND (the path does not exist), ERROR_INVALID_NAME (a name
// with no code page 932 form).
MappedPath UnixToWindowsPath(const std::string& unixPath);

// Code page conversions of whole strings; false when a byte sequence has no
// counterpart in the other code page.
bool Cp932ToUtf8(const std::string& in, std::string& out);
bool Utf8ToCp932(const std::string& in, std::string& out);

// The Windows error code for a failed POSIX call on path (errno value err).
// ENOENT becomes ERROR_FILE_NOT_FOUND when path's folder exists and
// ERROR_PATH_NOT_FOUND when it does not.
DWORD ErrorFromErrno(int err, const std::string& path);

// The private temp folder: runtimeDir when it is a real folder (not a link)
// owned by the effective user with no group or other permissions; otherwise
// <fallbackBase>/wq2updater-<uid>, created with mode 0700 when missing and
// checked the same way. Returns the Unix path, or ERROR_ACCESS_DENIED when
// the fallback is refused (a link, a foreign owner, open permissions, not a
// folder) or cannot be created.
MappedPath PrivateTempFolder(const char* runtimeDir, const std::string& fallbackBase);

}  // namespace wq2::platform
