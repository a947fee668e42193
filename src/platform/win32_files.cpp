// Files, folders, disks and modules over POSIX, inside a Wine prefix.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "path_map.h"
#include "win32_files.h"

using wq2::platform::ErrorFromErrno;
using wq2::platform::MappedPath;
using wq2::platform::WindowsToUnixPath;

namespace {

thread_local DWORD g_lastError = 0;

BOOL Fail(DWORD code) {
    g_lastError = code;
    return FALSE;
}

BOOL FailErrno(const std::string& path) { return Fail(ErrorFromErrno(errno, path)); }

// ---- Handles: a small table of descriptors. The handle is the slot's
// number times four, as Windows handles are multiples of four, so null and
// INVALID_HANDLE_VALUE never name a slot.

constexpr std::size_t kHandleSlots = 256;
std::mutex g_handleLock;
int g_handleFds[kHandleSlots];
bool g_handleUsed[kHandleSlots];

HANDLE AddHandle(int fd) {
    std::lock_guard<std::mutex> lock(g_handleLock);
    for (std::size_t i = 0; i < kHandleSlots; ++i) {
        if (!g_handleUsed[i]) {
            g_handleUsed[i] = true;
            g_handleFds[i] = fd;
            return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>((i + 1) * 4));
        }
    }
    return INVALID_HANDLE_VALUE;
}

// The slot a handle names, or -1.
long SlotOf(HANDLE handle) {
    auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > kHandleSlots) {
        return -1;
    }
    return static_cast<long>(value / 4 - 1);
}

// The descriptor behind an open handle, or -1 (and ERROR_INVALID_HANDLE).
int FdOf(HANDLE handle) {
    long slot = SlotOf(handle);
    std::lock_guard<std::mutex> lock(g_handleLock);
    if (slot < 0 || !g_handleUsed[slot]) {
        g_lastError = ERROR_INVALID_HANDLE;
        return -1;
    }
    return g_handleFds[slot];
}

// ---- Times

constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
constexpr std::uint64_t kTicksPerSecond = 10000000ull;

FILETIME FileTimeFromTimespec(const timespec& ts) {
    std::int64_t ticks = static_cast<std::int64_t>(ts.tv_sec) * static_cast<std::int64_t>(kTicksPerSecond) +
                         ts.tv_nsec / 100 + static_cast<std::int64_t>(kUnixEpochAsFileTime);
    std::uint64_t value = ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
    return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// A time to set, or UTIME_OMIT for none: null, 0 and all-ones leave the
// time as it is on Windows.
timespec TimespecFromFileTime(const FILETIME* ft) {
    timespec ts{};
    std::uint64_t value = ft ? (static_cast<std::uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime : 0;
    if (value == 0 || value == ~0ull) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    if (value >= kUnixEpochAsFileTime) {
        std::uint64_t since = value - kUnixEpochAsFileTime;
        ts.tv_sec = static_cast<time_t>(since / kTicksPerSecond);
        ts.tv_nsec = static_cast<long>(since % kTicksPerSecond) * 100;
    } else {  // before 1970: whole seconds round down, the fraction stays positive
        std::uint64_t before = kUnixEpochAsFileTime - value;
        ts.tv_sec = -static_cast<time_t>((before + kTicksPerSecond - 1) / kTicksPerSecond);
        std::uint64_t fraction = (kTicksPerSecond - before % kTicksPerSecond) % kTicksPerSecond;
        ts.tv_nsec = static_cast<long>(fraction) * 100;
    }
    return ts;
}

// ---- Paths

// The Unix path for a caller's path, or empty with the error recorded.
std::string Map(LPCSTR windowsPath) {
    MappedPath mapped = WindowsToUnixPath(windowsPath);
    if (mapped.error != 0) {
        g_lastError = mapped.error;
    }
    return mapped.path;
}

// Wine's reading of the read-only attribute: the owner may not write.
bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

// Flushes a folder's entries, so that a rename in it survives a crash.
bool SyncFolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// The open(2) flags for a disposition, or -1 when it is not one.
int CreationFlags(DWORD disposition) {
    switch (disposition) {
    case CREATE_NEW:
        return O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
        return O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
        return 0;
    case OPEN_ALWAYS:
        return O_CREAT;
    case TRUNCATE_EXISTING:
        return O_TRUNC;
    default:
        return -1;
    }
}

// Whether Windows refuses this open of an existing file before touching it.
DWORD CheckExisting(const struct stat& st, DWORD disposition, bool writes) {
    if (S_ISDIR(st.st_mode)) {
        return ERROR_ACCESS_DENIED;  // folders open only with backup semantics
    }
    if (disposition == CREATE_NEW) {
        return ERROR_FILE_EXISTS;
    }
    // The read-only attribute binds every user, root included: emulate it
    // rather than rely on permissions that root does not feel.
    if (IsReadOnly(st) && (writes || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
        return ERROR_ACCESS_DENIED;
    }
    return 0;
}

}  // namespace

DWORD WINAPI GetLastError() { return g_lastError; }

void WINAPI SetLastError(DWORD code) { g_lastError = code; }

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD /*share*/, LPSECURITY_ATTRIBUTES /*security*/,
                          DWORD disposition, DWORD flags, HANDLE /*templateFile*/) {
    std::string path = Map(fileName);
    int creation = CreationFlags(disposition);
    if (path.empty() || creation < 0) {
        if (creation < 0) {
            g_lastError = ERROR_INVALID_PARAMETER;
        }
        return INVALID_HANDLE_VALUE;
    }
    const bool reads = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    struct stat st;
    const bool existed = stat(path.c_str(), &st) == 0;
    if (!existed && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
        FailErrno(path);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD refusal = existed ? CheckExisting(st, disposition, writes) : 0) {
        Fail(refusal);
        return INVALID_HANDLE_VALUE;
    }
    int mode = writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY;
    mode_t permissions = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = open(path.c_str(), mode | creation | O_CLOEXEC, permissions);
    if (fd < 0) {
        Fail(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = AddHandle(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        close(fd);
        Fail(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    const bool reopened = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    g_lastError = reopened ? ERROR_ALREADY_EXISTS : NO_ERROR;
    return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) {
        *read = 0;
    }
    int fd = FdOf(file);
    if (fd < 0) {
        return FALSE;
    }
    if (overlapped || (!buffer && toRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD done = 0;
    while (done < toRead) {
        ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, toRead - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return FailErrno({});
        }
        if (n == 0) {
            break;  // end of file: success with what there was
        }
        done += static_cast<DWORD>(n);
        if (read) {
            *read = done;
        }
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written) {
        *written = 0;
    }
    int fd = FdOf(file);
    if (fd < 0) {
        return FALSE;
    }
    if (overlapped || (!buffer && toWrite > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, toWrite - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? Fail(ERROR_DISK_FULL) : FailErrno({});
        }
        done += static_cast<DWORD>(n);
        if (written) {
            *written = done;
        }
    }
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    int fd = FdOf(file);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) {
            FailErrno({});
        }
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (sizeHigh) {
        *sizeHigh = static_cast<DWORD>(size >> 32);
    }
    // A size whose low half is INVALID_FILE_SIZE is told apart by the error.
    g_lastError = NO_ERROR;
    return static_cast<DWORD>(size);
}

BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite) {
    int fd = FdOf(file);
    struct stat st;
    if (fd < 0) {
        return FALSE;
    }
    if (fstat(fd, &st) != 0) {
        return FailErrno({});
    }
    if (creation) {
        *creation = FileTimeFromTimespec(st.st_mtim);
    }
    if (lastAccess) {
        *lastAccess = FileTimeFromTimespec(st.st_atim);
    }
    if (lastWrite) {
        *lastWrite = FileTimeFromTimespec(st.st_mtim);
    }
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* /*creation*/, const FILETIME* lastAccess,
                        const FILETIME* lastWrite) {
    int fd = FdOf(file);
    if (fd < 0) {
        return FALSE;
    }
    const timespec times[2] = {TimespecFromFileTime(lastAccess), TimespecFromFileTime(lastWrite)};
    return futimens(fd, times) == 0 ? TRUE : FailErrno({});
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    int fd = FdOf(file);
    if (fd < 0) {
        return FALSE;
    }
    return fsync(fd) == 0 ? TRUE : FailErrno({});
}

BOOL WINAPI CloseHandle(HANDLE object) {
    long slot = SlotOf(object);
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(g_handleLock);
        if (slot < 0 || !g_handleUsed[slot]) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        g_handleUsed[slot] = false;
        fd = g_handleFds[slot];
    }
    return close(fd) == 0 ? TRUE : FailErrno({});
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    std::string path = Map(fileName);
    struct stat st;
    if (path.empty()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (stat(path.c_str(), &st) != 0) {
        FailErrno(path);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
    std::string path = Map(fileName);
    struct stat st;
    if (path.empty()) {
        return FALSE;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (stat(path.c_str(), &st) != 0) {
        return FailErrno(path);
    }
    if (S_ISDIR(st.st_mode)) {
        return TRUE;  // Windows ignores read-only on folders
    }
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    return chmod(path.c_str(), mode) == 0 ? TRUE : FailErrno(path);
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES /*security*/) {
    std::string path = Map(pathName);
    if (path.empty()) {
        return FALSE;
    }
    return mkdir(path.c_str(), 0777) == 0 ? TRUE : FailErrno(path);
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    std::string path = Map(fileName);
    struct stat st;
    if (path.empty()) {
        return FALSE;
    }
    if (lstat(path.c_str(), &st) != 0) {
        return FailErrno(path);
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    return unlink(path.c_str()) == 0 ? TRUE : FailErrno(path);
}

BOOL WINAPI MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags) {
    if (!newName) {
        return Fail(ERROR_INVALID_PARAMETER);  // delaying a delete until reboot is not served
    }
    std::string from = Map(existingName);
    std::string to = from.empty() ? std::string() : Map(newName);
    struct stat st;
    if (to.empty()) {
        return FALSE;
    }
    if (lstat(from.c_str(), &st) != 0) {
        return FailErrno(from);
    }
    if (lstat(to.c_str(), &st) == 0) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
            return Fail(ERROR_ALREADY_EXISTS);
        }
        if (S_ISDIR(st.st_mode) || IsReadOnly(st)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
    }
    if (rename(from.c_str(), to.c_str()) != 0) {
        return FailErrno(to);
    }
    if ((flags & MOVEFILE_WRITE_THROUGH) && !(SyncFolderOf(to) && SyncFolderOf(from))) {
        return FailErrno(to);
    }
    return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer) {
    MappedPath folder = wq2::platform::PrivateTempFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp");
    MappedPath windows = folder.error ? folder : wq2::platform::UnixToWindowsPath(folder.path);
    if (windows.error != 0) {
        g_lastError = windows.error;
        return 0;
    }
    std::string text = windows.path;
    // The last byte may be the second half of a two-byte character, so only
    // a separator that starts a character counts.
    const char* last = nullptr;
    for (const char* p = text.c_str(); *p; p = CharNextA(p)) {
        last = p;
    }
    if (!last || *last != '\\') {
        text += '\\';
    }
    if (!buffer || bufferLength < text.size() + 1) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

namespace {

wq2::platform::VolumeQuery g_volumeQuery = ::statvfs;

// statvfs of the folder a root path names ("C:" meaning the drive's root).
bool VolumeOf(LPCSTR rootPath, struct statvfs& vfs) {
    std::string root = rootPath ? rootPath : ".";
    if (root.size() == 2 && root[1] == ':') {
        root += '\\';
    }
    std::string path = rootPath ? Map(root.c_str()) : std::string(".");
    if (path.empty()) {
        return false;
    }
    if (g_volumeQuery(path.c_str(), &vfs) != 0) {
        g_lastError = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno, path);
        return false;
    }
    return true;
}

DWORD Capped(std::uint64_t value) { return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value); }

}  // namespace

wq2::platform::VolumeQuery wq2::platform::SetVolumeQuery(VolumeQuery query) {
    VolumeQuery previous = g_volumeQuery;
    g_volumeQuery = query != nullptr ? query : ::statvfs;
    return previous;
}

BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR rootPath, PULARGE_INTEGER availableToCaller, PULARGE_INTEGER totalBytes,
                                PULARGE_INTEGER totalFreeBytes) {
    struct statvfs vfs;
    if (!VolumeOf(rootPath, vfs)) {
        return FALSE;
    }
    const std::uint64_t unit = vfs.f_frsize;
    if (availableToCaller) {
        availableToCaller->QuadPart = static_cast<std::uint64_t>(vfs.f_bavail) * unit;
    }
    if (totalBytes) {
        totalBytes->QuadPart = static_cast<std::uint64_t>(vfs.f_blocks) * unit;
    }
    if (totalFreeBytes) {
        totalFreeBytes->QuadPart = static_cast<std::uint64_t>(vfs.f_bfree) * unit;
    }
    return TRUE;
}

BOOL WINAPI GetDiskFreeSpaceA(LPCSTR rootPath, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                              LPDWORD freeClusters, LPDWORD totalClusters) {
    struct statvfs vfs;
    if (!VolumeOf(rootPath, vfs)) {
        return FALSE;
    }
    // One cluster is one file-system block, told in 512-byte sectors where
    // the block size allows.
    const std::uint64_t cluster = vfs.f_frsize;
    const DWORD sector = (cluster >= 512 && cluster % 512 == 0) ? 512 : static_cast<DWORD>(cluster);
    if (sectorsPerCluster) {
        *sectorsPerCluster = static_cast<DWORD>(cluster / sector);
    }
    if (bytesPerSector) {
        *bytesPerSector = sector;
    }
    if (freeClusters) {
        *freeClusters = Capped(vfs.f_bavail);
    }
    if (totalClusters) {
        *totalClusters = Capped(vfs.f_blocks);
    }
    return TRUE;
}

namespace {

// The one module there is; its handle is this object's address.
char g_kernel32;

HMODULE Kernel32() { return reinterpret_cast<HMODULE>(&g_kernel32); }

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    if (fileName && (lstrcmpiA(fileName, "kernel32.dll") == 0 || lstrcmpiA(fileName, "kernel32") == 0)) {
        return Kernel32();
    }
    g_lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module != Kernel32()) {
        g_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    // Values below 0x10000 are ordinals, not names.
    if (reinterpret_cast<std::uintptr_t>(procName) >= 0x10000 && std::strcmp(procName, "GetDiskFreeSpaceExA") == 0) {
        // Through void(*)(), the type every function pointer may pass as.
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&GetDiskFreeSpaceExA));
    }
    g_lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) { return module == Kernel32() ? TRUE : Fail(ERROR_INVALID_HANDLE); }
