// Reading the current user's registry: the Win32 calls the updater makes to
// find where the game was installed, served from a Wine prefix.
//
// HKEY_CURRENT_USER is the text file <prefix>/user.reg that Wine keeps for
// the user. Each section there is one key,
//
//     [Software\\Maker\\Game] 1700000000
//     "InstPath"="C:\\Game"
//     "Build"=dword:0000000a
//
// and its values follow it until the next section. The file is read when a
// key is opened, and the handle keeps that key's values; a change to the file
// after the open is not seen through the handle. Only reads are offered.
//
// Key paths and value names are code page 932 and are matched ignoring the
// case of ASCII letters. A key exists when the file has a section for it or
// for a key below it (Wine leaves out sections for keys that hold nothing
// but subkeys). A missing user.reg, one that cannot be read or one larger
// than 64 MiB holds no keys.
//
// Registry calls return their error code and leave GetLastError alone, as on
// Windows.
#pragma once

#include <string>

#include "win32_types.h"

// An open key. Callers never look inside.
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef BYTE* LPBYTE;

// The predefined root keys are sign-extended 32-bit numbers, as on Windows.
#define HKEY_CURRENT_USER ((HKEY)(LONG_PTR)(LONG)0x80000001)

constexpr DWORD ERROR_MORE_DATA = 234;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights for keys.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001u;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008u;
constexpr REGSAM KEY_NOTIFY = 0x0010u;
constexpr REGSAM KEY_READ = 0x20019u;  // READ_CONTROL | query | enumerate | notify
constexpr REGSAM KEY_WOW64_64KEY = 0x0100u;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200u;

// Opens parent\subKey. parent: HKEY_CURRENT_USER or a key this call opened.
// subKey: a path of names separated by "\"; null or empty opens parent
// itself again. access: any part of KEY_READ, with or without the WOW64
// view bits (HKEY_CURRENT_USER\Software has one view for both); a right to
// change the key is refused with ERROR_ACCESS_DENIED. options is ignored.
// Errors: ERROR_FILE_NOT_FOUND (no such key, no readable user.reg),
// ERROR_INVALID_HANDLE (another root or a closed key), ERROR_INVALID_PARAMETER
// (result is null).
LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);

// Reads a value of an open key; a null or empty name is the key's default
// value ("@" in the file). *type gets the value's type. With data null and
// size not null, *size gets the number of bytes the value takes. Otherwise
// *size holds the buffer's size on entry; when the value does not fit, the
// result is ERROR_MORE_DATA with the size it needs in *size and the buffer
// is left as it was, else the value is copied and *size gets its length.
//
// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ come back as code page 932 with
// their terminating NUL, which the size counts. A string value holding a
// character that code page 932 cannot spell is not served at all: it reads
// as missing, because a path with a stand-in character would name some
// other file. REG_DWORD is 4 bytes, little-endian; other types are returned
// as the bytes the file lists.
//
// Errors: ERROR_FILE_NOT_FOUND (no such value), ERROR_INVALID_HANDLE (not a
// key opened by RegOpenKeyExA), ERROR_INVALID_PARAMETER (reserved not null,
// or data without size).
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size);

// Closes a key from RegOpenKeyExA. ERROR_INVALID_HANDLE for anything else,
// including a key already closed.
LSTATUS WINAPI RegCloseKey(HKEY key);

namespace wq2::platform {

// The string value `valueName` of the key `keyPath` (both UTF-8, ASCII case
// ignored, the path relative to the file's root) in the prefix's registry file
// `fileName` ("system.reg" for HKEY_LOCAL_MACHINE), read with the same rules
// as the calls above, as code page 932 text. Empty when the file, key or value
// is missing or the value is no string.
std::string ReadPrefixRegistryString(const char* fileName, const std::string& keyPath, const std::string& valueName);

}  // namespace wq2::platform
