// Files, folders, disks, text and memory: the Win32 calls the updater makes,
// served over POSIX inside a Wine prefix.
//
// Paths are code page 932 byte strings in Windows form ("C:\\Games\\a.bin");
// see path_map.h for how they name files on disk. Every call that can fail
// records the reason for GetLastError, with the Windows error codes.
#pragma once

#include <cstdarg>

#include "win32_types.h"

// ---- Errors ----------------------------------------------------------------

// The calling thread's last error code, as left by the last failing call.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD code);

// ---- Files -----------------------------------------------------------------

// Opens or creates a file. access: GENERIC_READ and/or GENERIC_WRITE (0 opens
// for queries only). share: accepted and not enforced. disposition:
// CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS or TRUNCATE_EXISTING.
// flags: FILE_ATTRIBUTE_READONLY on a new file makes it read-only; the rest
// is ignored. security and templateFile are ignored.
// Returns INVALID_HANDLE_VALUE on failure: ERROR_FILE_NOT_FOUND (no such file
// in an existing folder), ERROR_PATH_NOT_FOUND (a folder on the way or the
// drive is missing), ERROR_FILE_EXISTS (CREATE_NEW on an existing file),
// ERROR_ACCESS_DENIED (a folder, a read-only file opened for writing, or no
// permission), ERROR_INVALID_NAME (a name that has no UTF-8 form).
// After CREATE_ALWAYS or OPEN_ALWAYS on an existing file the last error is
// ERROR_ALREADY_EXISTS, otherwise 0.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);

// Reads up to toRead bytes; *read gets the count (0 at the end of the file,
// which is still success). FALSE with ERROR_INVALID_HANDLE or the I/O error.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);

// Writes all toWrite bytes, looping over short writes. *written gets the
// count written, also on failure. A full disk is FALSE with ERROR_DISK_FULL.
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);

// The file's size: low 32 bits returned, high 32 bits in *sizeHigh when given.
// INVALID_FILE_SIZE with a last error other than 0 on failure.
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);

// The file's times. Linux keeps no creation time: the last-write time stands
// in for it. FALSE with ERROR_INVALID_HANDLE on a bad handle.
BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite);

// Sets the last-access and last-write times, exact to 100 ns. A null time or
// one of 0 leaves that time alone; the creation time is ignored (Linux keeps
// none). FALSE with the error on failure.
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite);

// Writes the file's data to the disk (fsync). FALSE with the error.
BOOL WINAPI FlushFileBuffers(HANDLE file);

// Closes a handle from CreateFileA. FALSE with ERROR_INVALID_HANDLE for a
// handle that is not open.
BOOL WINAPI CloseHandle(HANDLE object);

// ---- Names in folders ------------------------------------------------------

// FILE_ATTRIBUTE_DIRECTORY for a folder; for a file FILE_ATTRIBUTE_READONLY
// when its owner may not write it, else FILE_ATTRIBUTE_NORMAL.
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND.
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);

// FILE_ATTRIBUTE_READONLY takes every write permission from a file; without
// it the owner's write permission is given back. Folders keep their
// permissions. FALSE with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND /
// ERROR_ACCESS_DENIED.
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes);

// Creates one folder (its parent must exist). FALSE with ERROR_ALREADY_EXISTS,
// ERROR_PATH_NOT_FOUND or ERROR_ACCESS_DENIED.
BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);

// Deletes a file. FALSE with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, or
// ERROR_ACCESS_DENIED for a folder or a read-only file.
BOOL WINAPI DeleteFileA(LPCSTR fileName);

// Renames a file or folder. With MOVEFILE_REPLACE_EXISTING an existing file
// at the target is replaced in one step (not a read-only one: ERROR_ACCESS_DENIED);
// without it an existing target is ERROR_ALREADY_EXISTS. With
// MOVEFILE_WRITE_THROUGH the folders are flushed before it returns. Moves
// across file systems are ERROR_NOT_SAME_DEVICE.
BOOL WINAPI MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags);

// The user's private temp folder as a Windows path ending in "\".
// $XDG_RUNTIME_DIR when it is a real folder of ours that nobody else may
// enter, otherwise /tmp/wq2updater-<uid> (created with mode 0700 and checked
// the same way; a link or a foreign folder there is refused). The path is on
// the prefix drive that holds the folder, or on "Z:" mapped to "/".
// Returns the length without the NUL; when bufferLength is too small, the
// size needed including the NUL and the buffer is untouched; 0 on failure
// (ERROR_ACCESS_DENIED for a refused folder, ERROR_INVALID_NAME for one with
// no code page 932 form).
DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer);

// ---- Disks -----------------------------------------------------------------

// Space on the volume holding rootPath (a drive designator such as "C:" or
// "C:\", or any folder; null means the current folder): bytes available to
// the caller, total bytes, free bytes. Outputs may be null. FALSE with
// ERROR_PATH_NOT_FOUND for a missing drive, the outputs untouched.
BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR rootPath, PULARGE_INTEGER availableToCaller, PULARGE_INTEGER totalBytes,
                                PULARGE_INTEGER totalFreeBytes);

// The same space in clusters: cluster = sectorsPerCluster * bytesPerSector,
// free clusters are those available to the caller. Counts beyond 32 bits are
// capped at 0xFFFFFFFF. FALSE as GetDiskFreeSpaceExA.
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR rootPath, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                              LPDWORD freeClusters, LPDWORD totalClusters);

struct statvfs;
namespace wq2::platform {
// The volume query behind both calls, statvfs(3) by default (0 on success, -1
// with errno). Tests put a drive of any size in its place; null restores statvfs.
// Returns the previous query.
typedef int (*VolumeQuery)(const char* unixPath, struct statvfs* out);
VolumeQuery SetVolumeQuery(VolumeQuery query);
}  // namespace wq2::platform

// ---- Modules ---------------------------------------------------------------

// Only "kernel32.dll" (any letter case, ".dll" optional) loads, and from it
// only "GetDiskFreeSpaceExA" resolves: that is all the updater looks up at
// run time. Others: null with ERROR_MOD_NOT_FOUND / ERROR_PROC_NOT_FOUND.
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
// FALSE with ERROR_INVALID_HANDLE for anything LoadLibraryA did not return.
BOOL WINAPI FreeLibrary(HMODULE module);

// ---- Text (code page 932) --------------------------------------------------

// Copy and append; return dest, or null when either pointer is null.
LPSTR WINAPI lstrcpyA(LPSTR dest, LPCSTR src);
LPSTR WINAPI lstrcatA(LPSTR dest, LPCSTR src);
// Length in bytes; 0 for null.
int WINAPI lstrlenA(LPCSTR text);
// Byte order comparisons: <0, 0, >0. The case-insensitive one folds ASCII
// letters only, and never the second byte of a two-byte character.
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
// The next character: two bytes on for a lead byte followed by a second
// byte, one otherwise; the terminator itself is never passed.
LPSTR WINAPI CharNextA(LPCSTR text);
// TRUE for the bytes that start a two-byte character: 0x81-0x9F, 0xE0-0xFC.
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);

// printf-style formatting into out, for %s %c %d %i %u %x %X %% with the
// flags "-" and "0", a width, and "l"/"h" accepted. The output stops at 1023
// bytes plus the NUL, as the Windows formatter's does. Returns the bytes
// stored without the NUL. A null %s prints "(null)".
int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...);
int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args);

// ---- Memory ----------------------------------------------------------------

// GMEM_FIXED blocks, zero-filled with GMEM_ZEROINIT; null with
// ERROR_NOT_ENOUGH_MEMORY, or ERROR_INVALID_PARAMETER for GMEM_MOVEABLE.
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
// Returns null on success (and for null).
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);
