// The resource table that carries the updater's payload inside its Linux
// executable. `wq2 make-updater` appends it to the end of the ELF file; the
// updater's resource calls find it again by reading only the file's last
// bytes. The ELF loader never looks past the program's own segments, so the
// table rides along untouched.
//
// Header-only and portable: the tool (on Linux and Windows) writes with it,
// the Linux resource layer reads with it. No operating-system calls.
//
// All integers are little-endian; offsets count from the first byte of the
// file.
//
//   0                the executable as built (the stub)
//   TableStart       the end of the stub: the table begins here
//   (data)           each resource's bytes, starting on a multiple of 4096 so
//                    that they can be mapped read-only straight from the file;
//                    zero bytes fill the gaps
//   DirectoryOffset  the directory, DirectorySize bytes
//   FileSize - 48    the trailer, the file's last 48 bytes
//
// Trailer (48 bytes)
//   0   Magic              "WQ2RSRC\x1A"
//   8   Version            1
//   12  TrailerSize        48
//   16  DirectoryOffset    the directory ends exactly where the trailer starts
//   24  DirectorySize      8 + 32 * EntryCount + string bytes; at most 1 MiB
//   32  TableStart         where the stub ends; cutting the file here restores it
//   40  DirectoryChecksum  CRC-32 of the directory's bytes
//   44  TrailerChecksum    CRC-32 of trailer bytes 0..43
//
// Directory
//   0   EntryCount
//   4   Reserved           0
//   8   EntryCount entries of 32 bytes, then the strings
//
// Entry (32 bytes)
//   0   Type               an id (1..0xFFFF), or kStringKey | offset of a string
//   4   Name               the same
//   8   Language           a Windows language id (1041: Japanese)
//   10  Reserved           0 (16 bits)
//   12  Reserved           0 (32 bits)
//   16  DataOffset         a multiple of 4096, at or after TableStart
//   24  DataSize           below 4 GiB (Windows tells resource sizes in 32
//                          bits); DataOffset + DataSize <= DirectoryOffset
//
// String (at its offset from the directory's start): a 16-bit length (1 or
// more), then that many bytes, no terminator. Strings are matched ignoring the
// case of ASCII letters, as Windows matches resource names.
//
// Anything that does not add up (bad magic, version or checksums, an offset
// or size outside the file, an unaligned resource) means the file carries no
// resources: damaged input is refused, never followed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wq2::resources {

inline constexpr uint64_t kDataAlignment = 4096;
inline constexpr uint64_t kMaxDirectorySize = 1 << 20;

inline constexpr size_t kTrailerSize = 48;
inline constexpr size_t kTrailerMagic = 0;
inline constexpr size_t kTrailerVersion = 8;
inline constexpr size_t kTrailerSizeField = 12;
inline constexpr size_t kTrailerDirectoryOffset = 16;
inline constexpr size_t kTrailerDirectorySize = 24;
inline constexpr size_t kTrailerTableStart = 32;
inline constexpr size_t kTrailerDirectoryChecksum = 40;
inline constexpr size_t kTrailerChecksum = 44;
inline constexpr uint8_t kTrailerMagicBytes[8] = {'W', 'Q', '2', 'R', 'S', 'R', 'C', 0x1A};
inline constexpr uint32_t kVersion = 1;

inline constexpr size_t kDirectoryHeaderSize = 8;
inline constexpr size_t kDirectoryEntryCount = 0;
inline constexpr size_t kDirectoryReserved = 4;

inline constexpr size_t kEntrySize = 32;
inline constexpr size_t kEntryType = 0;
inline constexpr size_t kEntryName = 4;
inline constexpr size_t kEntryLanguage = 8;
inline constexpr size_t kEntryReserved16 = 10;
inline constexpr size_t kEntryReserved32 = 12;
inline constexpr size_t kEntryDataOffset = 16;
inline constexpr size_t kEntryDataSize = 24;

inline constexpr uint32_t kStringKey = 0x80000000u;
inline constexpr uint32_t kMaxId = 0xFFFF;
inline constexpr size_t kMaxStringLength = 0xFFFF;
inline constexpr uint64_t kMaxDataSize = 0xFFFFFFFFu;

// ---- Little-endian fields --------------------------------------------------

inline uint16_t LoadLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t LoadLe64(const uint8_t* p) { return LoadLe32(p) | uint64_t(LoadLe32(p + 4)) << 32; }

inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
    StoreLe32(p, uint32_t(v));
    StoreLe32(p + 4, uint32_t(v >> 32));
}

// ---- CRC-32 (the common reflected 0xEDB88320 polynomial) ---------------------

inline constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}();

inline uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

inline uint64_t AlignUp(uint64_t value) {
    return (value + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
}

// ---- Reading ---------------------------------------------------------------

struct Trailer {
    uint64_t tableStart = 0;
    uint64_t directoryOffset = 0;
    uint64_t directorySize = 0;
    uint32_t directoryChecksum = 0;
};

// Reads the trailer from the file's last kTrailerSize bytes. False unless the
// magic, version, size and checksum match and the directory lies between the
// table's start and the trailer.
inline bool ReadTrailer(const uint8_t* trailer, uint64_t fileSize, Trailer* out) {
    if (fileSize < kTrailerSize) return false;
    for (size_t i = 0; i < sizeof kTrailerMagicBytes; ++i) {
        if (trailer[kTrailerMagic + i] != kTrailerMagicBytes[i]) return false;
    }
    if (LoadLe32(trailer + kTrailerVersion) != kVersion ||
        LoadLe32(trailer + kTrailerSizeField) != kTrailerSize ||
        LoadLe32(trailer + kTrailerChecksum) != Crc32(trailer, kTrailerChecksum)) {
        return false;
    }
    Trailer t;
    t.tableStart = LoadLe64(trailer + kTrailerTableStart);
    t.directoryOffset = LoadLe64(trailer + kTrailerDirectoryOffset);
    t.directorySize = LoadLe64(trailer + kTrailerDirectorySize);
    t.directoryChecksum = LoadLe32(trailer + kTrailerDirectoryChecksum);
    const uint64_t trailerStart = fileSize - kTrailerSize;
    // Each comparison keeps the next subtraction from wrapping.
    if (t.directorySize < kDirectoryHeaderSize || t.directorySize > kMaxDirectorySize ||
        t.directorySize > trailerStart || t.directoryOffset != trailerStart - t.directorySize ||
        t.tableStart > t.directoryOffset) {
        return false;
    }
    *out = t;
    return true;
}

// A resource's type or name as stored: an id, or a string in the directory.
struct Key {
    uint32_t id = 0;              // 0 for a string
    const uint8_t* text = nullptr;
    size_t length = 0;
};

struct Entry {
    Key type;
    Key name;
    uint16_t language = 0;
    uint64_t dataOffset = 0;
    uint64_t dataSize = 0;
};

inline bool ReadKey(const uint8_t* directory, uint64_t directorySize, uint32_t field, Key* key) {
    if ((field & kStringKey) == 0) {
        if (field == 0 || field > kMaxId) return false;
        *key = Key{field, nullptr, 0};
        return true;
    }
    const uint64_t offset = field & ~kStringKey;
    if (offset < kDirectoryHeaderSize || offset > directorySize || directorySize - offset < 2) {
        return false;
    }
    const size_t length = LoadLe16(directory + offset);
    if (length == 0 || directorySize - offset - 2 < length) return false;
    *key = Key{0, directory + offset + 2, length};
    return true;
}

inline uint32_t DirectoryEntryCount(const uint8_t* directory) {
    return LoadLe32(directory + kDirectoryEntryCount);
}

// Reads entry `index` of a directory that CheckDirectory accepted. False for
// an entry that does not add up (CheckDirectory calls it on every entry).
inline bool ReadEntry(const uint8_t* directory, const Trailer& trailer, uint32_t index, Entry* out) {
    const uint8_t* e = directory + kDirectoryHeaderSize + size_t(index) * kEntrySize;
    Entry entry;
    entry.language = LoadLe16(e + kEntryLanguage);
    entry.dataOffset = LoadLe64(e + kEntryDataOffset);
    entry.dataSize = LoadLe64(e + kEntryDataSize);
    if (!ReadKey(directory, trailer.directorySize, LoadLe32(e + kEntryType), &entry.type) ||
        !ReadKey(directory, trailer.directorySize, LoadLe32(e + kEntryName), &entry.name)) {
        return false;
    }
    if (entry.dataSize > kMaxDataSize || entry.dataOffset % kDataAlignment != 0 ||
        entry.dataOffset < trailer.tableStart ||
        entry.dataOffset > trailer.directoryOffset ||
        entry.dataSize > trailer.directoryOffset - entry.dataOffset) {
        return false;
    }
    *out = entry;
    return true;
}

// Checks the directory's bytes (trailer.directorySize of them) against the
// trailer: the checksum, the entry count, and every entry.
inline bool CheckDirectory(const uint8_t* directory, const Trailer& trailer) {
    if (Crc32(directory, size_t(trailer.directorySize)) != trailer.directoryChecksum) return false;
    const uint64_t count = DirectoryEntryCount(directory);
    if (count > (trailer.directorySize - kDirectoryHeaderSize) / kEntrySize) return false;
    for (uint32_t i = 0; i < count; ++i) {
        Entry entry;
        if (!ReadEntry(directory, trailer, i, &entry)) return false;
    }
    return true;
}

inline char FoldAscii(uint8_t c) { return char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }

// True when a stored key is the id `id` (when text is null) or the string
// `text` of `length` bytes, ignoring the case of ASCII letters.
inline bool KeyMatches(const Key& key, uint32_t id, const char* text, size_t length) {
    if (!text) return key.id != 0 && key.id == id;
    if (key.id != 0 || key.length != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (FoldAscii(key.text[i]) != FoldAscii(uint8_t(text[i]))) return false;
    }
    return true;
}

// ---- Writing ---------------------------------------------------------------

// A type or name to write: an id when `text` is empty.
struct KeySpec {
    uint16_t id = 0;
    std::string text;
};

struct ResourceSpec {
    KeySpec type;
    KeySpec name;
    uint16_t language = 0;
    uint64_t size = 0;
};

// Where everything goes when a table with `resources` follows a stub of
// `stubSize` bytes: each resource's data at dataOffsets[i] (zero bytes fill
// every gap from the stub's end), then `tail` (the directory and the
// trailer) at tailOffset, which ends the file.
struct TablePlan {
    std::vector<uint64_t> dataOffsets;
    uint64_t tailOffset = 0;
    std::vector<uint8_t> tail;
    uint64_t FileSize() const { return tailOffset + tail.size(); }
};

// False when a key is neither a valid id nor a string of 1..65535 bytes, a
// resource is 4 GiB or larger, or the directory would be larger than
// kMaxDirectorySize.
inline bool PlanTable(uint64_t stubSize, const std::vector<ResourceSpec>& resources, TablePlan* plan) {
    std::vector<uint8_t> directory(kDirectoryHeaderSize + resources.size() * kEntrySize, 0);
    auto keyField = [&](const KeySpec& key, uint32_t* field) {
        if (key.text.empty()) {
            *field = key.id;
            return key.id != 0;
        }
        if (key.text.size() > kMaxStringLength) return false;
        *field = kStringKey | uint32_t(directory.size());
        uint8_t length[2];
        StoreLe16(length, uint16_t(key.text.size()));
        directory.insert(directory.end(), length, length + 2);
        directory.insert(directory.end(), key.text.begin(), key.text.end());
        return directory.size() <= kMaxDirectorySize;
    };
    TablePlan result;
    uint64_t offset = stubSize;
    StoreLe32(directory.data() + kDirectoryEntryCount, uint32_t(resources.size()));
    for (size_t i = 0; i < resources.size(); ++i) {
        const ResourceSpec& resource = resources[i];
        if (resource.size > kMaxDataSize) return false;
        offset = AlignUp(offset);
        result.dataOffsets.push_back(offset);
        uint32_t typeField = 0, nameField = 0;
        if (!keyField(resource.type, &typeField) || !keyField(resource.name, &nameField)) return false;
        uint8_t* e = directory.data() + kDirectoryHeaderSize + i * kEntrySize;
        StoreLe32(e + kEntryType, typeField);
        StoreLe32(e + kEntryName, nameField);
        StoreLe16(e + kEntryLanguage, resource.language);
        StoreLe64(e + kEntryDataOffset, offset);
        StoreLe64(e + kEntryDataSize, resource.size);
        offset += resource.size;
    }
    if (directory.size() > kMaxDirectorySize) return false;
    result.tailOffset = offset;
    uint8_t trailer[kTrailerSize] = {};
    for (size_t i = 0; i < sizeof kTrailerMagicBytes; ++i) trailer[kTrailerMagic + i] = kTrailerMagicBytes[i];
    StoreLe32(trailer + kTrailerVersion, kVersion);
    StoreLe32(trailer + kTrailerSizeField, kTrailerSize);
    StoreLe64(trailer + kTrailerDirectoryOffset, offset);
    StoreLe64(trailer + kTrailerDirectorySize, directory.size());
    StoreLe64(trailer + kTrailerTableStart, stubSize);
    StoreLe32(trailer + kTrailerDirectoryChecksum, Crc32(directory.data(), directory.size()));
    StoreLe32(trailer + kTrailerChecksum, Crc32(trailer, kTrailerChecksum));
    result.tail = std::move(directory);
    result.tail.insert(result.tail.end(), trailer, trailer + kTrailerSize);
    *plan = std::move(result);
    return true;
}

}  // namespace wq2::resources
