// The Win32 types and constants our updater uses, declared for builds
// without <windows.h>. Values are the ones Windows uses, so that numbers
// which cross the seam (error codes, attribute bits) mean the same thing
// on both sides. Integer widths follow 32-bit Windows: DWORD and LONG are
// 32 bits even on LP64 systems.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define WINAPIV

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef unsigned int UINT;
typedef std::uint64_t ULONGLONG;
typedef std::intptr_t INT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::size_t SIZE_T;
typedef char CHAR;

typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;

// A module handle is opaque to callers; only the layer itself looks inside.
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

// What GetProcAddress hands out; callers cast it to the real signature.
typedef INT_PTR(WINAPI* FARPROC)();

// 100-nanosecond intervals since 1 January 1601 UTC, low half first.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;
typedef FILETIME* LPFILETIME;

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};
typedef ULARGE_INTEGER* PULARGE_INTEGER;

// Accepted and ignored: files and folders get the process's default access.
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

// Asynchronous I/O is not offered; only a null pointer is accepted.
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define MAX_PATH 260

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// Access rights.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD GENERIC_EXECUTE = 0x20000000u;
constexpr DWORD GENERIC_ALL = 0x10000000u;

// Share modes.
constexpr DWORD FILE_SHARE_READ = 0x1u;
constexpr DWORD FILE_SHARE_WRITE = 0x2u;
constexpr DWORD FILE_SHARE_DELETE = 0x4u;

// Creation dispositions.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// File attributes.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1u;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2u;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4u;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10u;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20u;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80u;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100u;

// MoveFileExA flags.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1u;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2u;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8u;

// GlobalAlloc flags.
constexpr UINT GMEM_FIXED = 0x0u;
constexpr UINT GMEM_MOVEABLE = 0x2u;
constexpr UINT GMEM_ZEROINIT = 0x40u;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// Error codes reported through GetLastError.
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
