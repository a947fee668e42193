#include "payload_archive.h"

#include <cstring>

#include "payload_reader.h"
#include "startup.h"
#include "updater_state.h"

namespace {

constexpr char kNotFound[] = "Can't Find File in Resource !!";
constexpr char kNoMemory[] = "Can't Allocate Memory !!";
// A damaged entry is a damaged payload: the same words as an archive that will not open.
constexpr char kDamaged[] = "RESOURCE READ ERROR";

// Finds `name` in the open archive, showing the missing-entry box when it is not there.
bool LookUp(const char* name, wq2::ArchiveEntryInfo* entry) {
    if (Updater.PayloadArchive != nullptr && wq2::FindArchiveEntry(Updater.PayloadArchive, name, entry)) {
        return true;
    }
    ShowErrorBox(kNotFound);
    return false;
}

// The entry's content in a new heap block, or null after an error box.
uint8_t* DecodeEntry(const wq2::ArchiveEntryInfo& entry) {
    // One byte more than the content, so an empty entry still gets a block.
    auto* buffer = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, SIZE_T(entry.unpackedSize) + 1));
    if (buffer == nullptr) {
        ShowErrorBox(kNoMemory);
        return nullptr;
    }
    wq2::DecodeResult r = wq2::ReadArchiveEntryData(Updater.PayloadImage, Updater.PayloadSize, entry, buffer);
    if (r.status != wq2::DecodeStatus::Ok) {
        GlobalFree(buffer);
        ShowErrorBox(kDamaged);
        return nullptr;
    }
    return buffer;
}

uint64_t FileTimeValue(const FILETIME& t) {
    return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value) {
    FILETIME t;
    t.dwLowDateTime = DWORD(value);
    t.dwHighDateTime = DWORD(value >> 32);
    return t;
}

// The free-space check before an entry is written: the drive designator is the
// first two characters of the target. A query that fails lets the write go ahead;
// a disk that really is full then fails the write itself.
bool EnoughSpaceFor(const char* target, uint32_t size) {
    char drive[3] = {target[0], target[0] != '\0' ? target[1] : '\0', '\0'};
    uint64_t available = 0;
    if (!DiskFreeSpace(drive, &available, nullptr, nullptr) || size <= available) return true;
    char message[kMessageSize];
    wsprintfA(message, "ディスク容量が足りません。%s ドライブに %i バイトの空き容量が必要です", drive,
              int(uint32_t(size - available)));
    ShowErrorBox(message);
    return false;
}

// True when `target` exists with a last-write time later than `time`.
bool TargetIsNewer(const char* target, uint64_t time) {
    HANDLE file = CreateFileA(target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written;
    bool newer = GetFileTime(file, nullptr, nullptr, &written) && FileTimeValue(written) > time;
    CloseHandle(file);
    return newer;
}

// The folder part of `path` (through its last separator, read as code page 932)
// into `folder`; empty when the path names no folder.
void FolderOf(const char* path, char* folder) {
    const char* cut = path;
    for (const char* p = path; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/') cut = p + 1;
    }
    size_t length = size_t(cut - path);
    std::memcpy(folder, path, length);
    folder[length] = '\0';
}

// Creates the empty temporary file for `path` beside it: the target's name with
// "~upd" appended, so a run killed part-way leaves a leftover that the next run
// writing the same file takes over and renames away. A name with no room for the
// suffix falls back to a numbered one. The temporary's name goes to `tempPath`.
HANDLE CreateTempBeside(const char* path, char* tempPath) {
    if (lstrlenA(path) + 4 < kPathSize) {
        lstrcpyA(tempPath, path);
        lstrcatA(tempPath, "~upd");
        // A leftover of a killed run may be read-only if the target was.
        SetFileAttributesA(tempPath, FILE_ATTRIBUTE_NORMAL);
        return CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static unsigned counter = 0;
    char folder[kPathSize];
    FolderOf(path, folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        wsprintfA(name, "~upd%04x.tmp", counter++ & 0xFFFF);
        lstrcpyA(tempPath, folder);
        lstrcatA(tempPath, name);
        HANDLE file = CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

uint8_t* OpenPayloadArchive() {
    size_t size = 0;
    if (wq2::MeasureArchive(Updater.PayloadImage, Updater.PayloadSize, &size) != wq2::ArchiveStatus::Ok) {
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, size));
    if (block == nullptr) return nullptr;
    if (wq2::LoadArchiveDirectory(Updater.PayloadImage, Updater.PayloadSize, block, size) !=
        wq2::ArchiveStatus::Ok) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

uint8_t* ExtractEntryToMemory(const char* name, uint32_t* size) {
    wq2::ArchiveEntryInfo entry;
    if (!LookUp(name, &entry)) return nullptr;
    uint8_t* content = DecodeEntry(entry);
    if (content != nullptr && size != nullptr) *size = entry.unpackedSize;
    return content;
}

int ExtractEntryToFile(const char* name, const char* target, int newerOnly) {
    wq2::ArchiveEntryInfo entry;
    if (!LookUp(name, &entry) || !EnoughSpaceFor(target, entry.unpackedSize)) return 0;
    uint8_t* decoded = nullptr;
    const uint8_t* content = Updater.PayloadImage + entry.dataOffset;
    if (entry.IsCompressed()) {
        decoded = DecodeEntry(entry);
        if (decoded == nullptr) return 0;
        content = decoded;
    }
    int result = 0;
    DWORD attributes = GetFileAttributesA(target);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result = 0;
    } else {
        // Cleared before the newer-only rule looks, as the rule may then leave the file.
        if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
        if (newerOnly && exists && TargetIsNewer(target, entry.time)) {
            result = 1;
        } else {
            FILETIME time = ToFileTime(entry.time);
            result = WriteWholeFile(target, content, entry.unpackedSize, &time);
        }
    }
    if (decoded != nullptr) GlobalFree(decoded);
    return result;
}

int DiskFreeSpace(const char* rootPath, uint64_t* available, uint64_t* total, uint64_t* totalFree) {
    using QueryEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    static QueryEx queryEx = nullptr;
    if (queryEx == nullptr) {
        HMODULE kernel = LoadLibraryA("kernel32.dll");
        if (kernel != nullptr) {
            queryEx = reinterpret_cast<QueryEx>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
            FreeLibrary(kernel);
        }
    }
    if (queryEx != nullptr) {
        ULARGE_INTEGER avail, all, free;
        BOOL ok = queryEx(rootPath, &avail, &all, &free);
        if (ok) {
            *available = avail.QuadPart;
            if (total) *total = all.QuadPart;
            if (totalFree) *totalFree = free.QuadPart;
            return ok;
        }
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(rootPath, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
        return 0;
    }
    uint64_t cluster = uint32_t(sectorsPerCluster * bytesPerSector);
    *available = freeClusters * cluster;
    if (total) *total = totalClusters * cluster;
    if (totalFree) *totalFree = *available;
    return 1;
}

int WriteWholeFile(const char* path, const void* buffer, uint32_t count, const FILETIME* time) {
    char tempPath[kPathSize + 32];
    HANDLE file = CreateTempBeside(path, tempPath);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    bool ok = WriteFile(file, buffer, count, &written, nullptr) && written == count;
    if (ok && time != nullptr) ok = SetFileTime(file, time, time, time) != 0;
    if (ok) ok = FlushFileBuffers(file) != 0;
    ok = CloseHandle(file) && ok;
    if (ok) ok = MoveFileExA(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileA(tempPath);
    return ok ? 1 : 0;
}
