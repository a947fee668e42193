// Resources: the Win32 calls through which the updater reaches the payload it
// carries, served from the resource table that `wq2 make-updater` appends to
// the Linux executable (layout in resource_table.h).
//
// A resource's bytes are mapped read-only straight from the executable, page
// by page as they are touched, so a payload of any size costs neither a copy
// nor start-up time. Mappings stay until the process ends, as a loaded
// module's resources do on Windows.
#pragma once

#include "win32_types.h"

// A resource found in a module; opaque to callers.
struct HRSRC__;
typedef HRSRC__* HRSRC;

// An integer id passed where a name is expected: a pointer value below
// 0x10000, which no real string lives at.
#define MAKEINTRESOURCEA(i) ((LPSTR)((UINT_PTR)((WORD)(i))))
#define IS_INTRESOURCE(p) ((((UINT_PTR)(p)) >> 16) == 0)

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// Null: the running executable (/proc/self/exe), opened on first use and kept
// open. Any other name: null with ERROR_MOD_NOT_FOUND.
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);

// Finds a resource by name and type, each an id from MAKEINTRESOURCEA, a
// string "#123" meaning id 123, or a string matched ignoring the case of
// ASCII letters. A null module is the running executable. When several
// languages carry the resource, the first in the table is taken.
// Null when there is none: ERROR_RESOURCE_DATA_NOT_FOUND (the module carries
// no table, or a damaged one), ERROR_RESOURCE_TYPE_NOT_FOUND,
// ERROR_RESOURCE_NAME_NOT_FOUND, or ERROR_INVALID_HANDLE for a module that
// is not one of ours.
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);

// The same for one language (ERROR_RESOURCE_LANG_NOT_FOUND when the resource
// exists in others only). Note the order: type before name.
HRSRC WINAPI FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language);

// The resource's size in bytes; 0 with ERROR_INVALID_HANDLE for a handle not
// found in that module (a resource of size 0 also gives 0, with no error).
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

// Maps the resource and returns its handle, which LockResource turns into the
// address of its first byte. Loading again returns the same handle. A
// resource of size 0 gives a valid handle whose memory must not be read.
// Null with ERROR_INVALID_HANDLE, or ERROR_NOT_ENOUGH_MEMORY when mapping
// fails.
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);

// The address of the loaded resource's first byte; null for null.
LPVOID WINAPI LockResource(HGLOBAL loaded);

namespace wq2::platform {

// A module read from the executable file at `path` instead of the running one,
// for tests and tools. Nothing is read until the first FindResourceA. Null when
// path is null. Release it with CloseModuleForTest, which also unmaps its
// resources.
HMODULE OpenModuleForTest(const char* path);
void CloseModuleForTest(HMODULE module);

}  // namespace wq2::platform
