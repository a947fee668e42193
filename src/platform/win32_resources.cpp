#include "win32_resources.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "resource_table.h"
#include "win32_files.h"

namespace {

namespace res = wq2::resources;

struct Module;

// One directory entry, and its mapping once loaded. Its address is the HRSRC.
struct Slot {
    Module* module = nullptr;
    res::Entry entry;                 // keys point into Module::directory
    void* mapping = nullptr;          // what mmap returned; null until loaded
    size_t mappingLength = 0;
    const uint8_t* data = nullptr;    // the first byte of the resource
};

// An executable file and the table found at its end. Its address is the HMODULE.
struct Module {
    explicit Module(std::string p) : path(std::move(p)) {}
    ~Module() {
        for (Slot& slot : slots) {
            if (slot.mapping) munmap(slot.mapping, slot.mappingLength);
        }
        if (fd >= 0) close(fd);
    }

    const std::string path;
    std::mutex mutex;           // guards everything below
    bool read = false;          // the table has been looked for (found or not)
    int fd = -1;                // open once the table is found sound; kept for mapping
    res::Trailer trailer;
    std::vector<uint8_t> directory;
    std::vector<Slot> slots;    // never resized after the table is read
};

std::mutex g_modulesMutex;
std::vector<Module*> g_modules;  // every handle we have given out
Module* g_self = nullptr;        // the running executable; never freed

// Something to point at for a resource of size 0: its handle must not be null.
const uint8_t kNoBytes[1] = {0};

HMODULE HandleOf(Module* module) { return reinterpret_cast<HMODULE>(module); }
HRSRC HandleOf(Slot* slot) { return reinterpret_cast<HRSRC>(slot); }

Module* SelfModule() {
    std::lock_guard<std::mutex> lock(g_modulesMutex);
    if (!g_self) {
        g_self = new Module("/proc/self/exe");
        g_modules.push_back(g_self);
    }
    return g_self;
}

// The module behind a handle (null: the running executable), or null for a
// handle that is not ours, with ERROR_INVALID_HANDLE.
Module* ModuleOf(HMODULE handle) {
    if (!handle) return SelfModule();
    std::lock_guard<std::mutex> lock(g_modulesMutex);
    for (Module* module : g_modules) {
        if (HandleOf(module) == handle) return module;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

bool ReadFully(int fd, uint8_t* buffer, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, buffer, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        size -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

// Finds and checks the table, once. Only the trailer and the directory are
// read; a file without a sound table has no resources. Call with the lock held.
bool ReadTable(Module& module) {
    if (module.read) return module.fd >= 0;
    module.read = true;
    const int fd = open(module.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    uint8_t trailer[res::kTrailerSize];
    bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
              uint64_t(status.st_size) >= res::kTrailerSize &&
              ReadFully(fd, trailer, sizeof trailer, uint64_t(status.st_size) - res::kTrailerSize) &&
              res::ReadTrailer(trailer, uint64_t(status.st_size), &module.trailer);
    if (ok) {
        module.directory.resize(size_t(module.trailer.directorySize));
        ok = ReadFully(fd, module.directory.data(), module.directory.size(),
                       module.trailer.directoryOffset) &&
             res::CheckDirectory(module.directory.data(), module.trailer);
    }
    if (!ok) {
        close(fd);
        module.directory.clear();
        return false;
    }
    const uint32_t count = res::DirectoryEntryCount(module.directory.data());
    module.slots.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        module.slots[i].module = &module;
        res::ReadEntry(module.directory.data(), module.trailer, i, &module.slots[i].entry);
    }
    module.fd = fd;
    return true;
}

// What the caller asked for: an id (text null) or a string.
struct Wanted {
    uint32_t id = 0;
    const char* text = nullptr;
    size_t length = 0;
};

Wanted WantedOf(LPCSTR key) {
    if (IS_INTRESOURCE(key)) return {uint32_t(reinterpret_cast<UINT_PTR>(key)), nullptr, 0};
    // "#123" is the string form of id 123.
    if (key[0] == '#' && key[1] != '\0') {
        uint32_t id = 0;
        const char* p = key + 1;
        while (*p >= '0' && *p <= '9' && id <= res::kMaxId) id = id * 10 + uint32_t(*p++ - '0');
        if (*p == '\0' && id != 0 && id <= res::kMaxId) return {id, nullptr, 0};
    }
    return {0, key, std::strlen(key)};
}

bool Matches(const res::Key& key, const Wanted& wanted) {
    if (!wanted.text && wanted.id == 0) return false;  // no resource has id 0
    return res::KeyMatches(key, wanted.id, wanted.text, wanted.length);
}

HRSRC Find(HMODULE handle, LPCSTR type, LPCSTR name, bool anyLanguage, WORD language) {
    Module* module = ModuleOf(handle);
    if (!module) return nullptr;
    std::lock_guard<std::mutex> lock(module->mutex);
    if (!ReadTable(*module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const Wanted wantedType = WantedOf(type);
    const Wanted wantedName = WantedOf(name);
    bool typeSeen = false, nameSeen = false;
    for (Slot& slot : module->slots) {
        if (!Matches(slot.entry.type, wantedType)) continue;
        typeSeen = true;
        if (!Matches(slot.entry.name, wantedName)) continue;
        nameSeen = true;
        if (anyLanguage || slot.entry.language == language) return HandleOf(&slot);
    }
    SetLastError(!typeSeen   ? ERROR_RESOURCE_TYPE_NOT_FOUND
                 : !nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND
                             : ERROR_RESOURCE_LANG_NOT_FOUND);
    return nullptr;
}

// The slot behind a resource handle, when it belongs to the module. Call with
// the module's lock held.
Slot* SlotOf(Module& module, HRSRC handle) {
    if (module.slots.empty()) return nullptr;
    const Slot* first = module.slots.data();
    const Slot* end = first + module.slots.size();
    const Slot* slot = reinterpret_cast<const Slot*>(handle);
    const std::less<const Slot*> before;
    if (before(slot, first) || !before(slot, end)) return nullptr;
    return &module.slots[size_t(slot - first)];
}

}  // namespace

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return HandleOf(SelfModule());
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    return Find(module, type, name, true, 0);
}

HRSRC WINAPI FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
    return Find(module, type, name, false, language);
}

DWORD WINAPI SizeofResource(HMODULE handle, HRSRC resource) {
    Module* module = ModuleOf(handle);
    if (!module) return 0;
    std::lock_guard<std::mutex> lock(module->mutex);
    const Slot* slot = SlotOf(*module, resource);
    if (!slot) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return DWORD(slot->entry.dataSize);  // below 4 GiB: the table checks it
}

HGLOBAL WINAPI LoadResource(HMODULE handle, HRSRC resource) {
    Module* module = ModuleOf(handle);
    if (!module) return nullptr;
    std::lock_guard<std::mutex> lock(module->mutex);
    Slot* slot = SlotOf(*module, resource);
    if (!slot) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!slot->data && slot->entry.dataSize == 0) slot->data = kNoBytes;
    if (!slot->data) {
        // The table keeps data on 4096-byte boundaries; a system with larger
        // pages maps from the page holding the first byte.
        const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
        const uint64_t start = slot->entry.dataOffset / page * page;
        const size_t length = size_t(slot->entry.dataOffset - start + slot->entry.dataSize);
        void* mapping = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, module->fd, off_t(start));
        if (mapping == MAP_FAILED) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        slot->mapping = mapping;
        slot->mappingLength = length;
        slot->data = static_cast<const uint8_t*>(mapping) + (slot->entry.dataOffset - start);
    }
    return const_cast<uint8_t*>(slot->data);
}

LPVOID WINAPI LockResource(HGLOBAL loaded) { return loaded; }

namespace wq2::platform {

HMODULE OpenModuleForTest(const char* path) {
    if (!path) return nullptr;
    Module* module = new Module(path);
    std::lock_guard<std::mutex> lock(g_modulesMutex);
    g_modules.push_back(module);
    return HandleOf(module);
}

void CloseModuleForTest(HMODULE handle) {
    Module* module = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_modulesMutex);
        const auto found = std::find_if(g_modules.begin(), g_modules.end(),
                                        [&](Module* m) { return HandleOf(m) == handle; });
        if (found == g_modules.end() || *found == g_self) return;
        module = *found;
        g_modules.erase(found);
    }
    delete module;
}

}  // namespace wq2::platform
