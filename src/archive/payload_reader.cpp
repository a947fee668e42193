#include "payload_reader.h"

#include <cstring>

namespace wq2 {
namespace {

struct Header {
    uint32_t flags;
    uint32_t directoryOffset;
    uint32_t entryCount;
    bool Compressed() const { return (flags & kHeaderFlagCompressedDirectory) != 0; }
};

Header ReadHeader(const uint8_t* p) {
    return {LoadLe32(p + kHeaderFlags), LoadLe32(p + kHeaderDirectoryOffset),
            LoadLe32(p + kHeaderEntryCount)};
}

const uint8_t* Record(const uint8_t* block, uint32_t index) {
    return block + kHeaderSize + size_t(index) * kEntrySize;
}

uint8_t FoldAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 'a' + 'A') : c; }

ArchiveStatus CheckRecords(const uint8_t* block, size_t imageSize) {
    uint32_t count = ArchiveEntryCount(block);
    uint64_t offset = kHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = Record(block, i);
        if (std::memchr(record + kEntryName, 0, kEntryNameSize) == nullptr) {
            return ArchiveStatus::NameUnterminated;
        }
        ArchiveEntryInfo e = ReadArchiveEntry(block, i, &offset);
        if (e.dataOffset + e.storedSize > imageSize) return ArchiveStatus::EntryDataOutsideImage;
        bool sizesOk = e.IsCompressed() ? uint64_t(e.unpackedSize) <= kMaxExpansion * e.storedSize
                                        : e.unpackedSize == e.storedSize;
        if (!sizesOk) return ArchiveStatus::EntrySizesInvalid;
    }
    return ArchiveStatus::Ok;
}

}  // namespace

const char* ArchiveStatusText(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Ok: return "ok";
        case ArchiveStatus::ImageTooSmall: return "too small to hold an archive header";
        case ArchiveStatus::DirectoryOutsideImage: return "the directory offset lies past the end";
        case ArchiveStatus::CountTooLarge: return "the entry count does not fit the directory";
        case ArchiveStatus::DirectoryBroken: return "the compressed directory is damaged";
        case ArchiveStatus::NameUnterminated: return "an entry name has no terminator";
        case ArchiveStatus::EntryDataOutsideImage: return "an entry's data runs past the end";
        case ArchiveStatus::EntrySizesInvalid: return "an entry's sizes contradict each other";
        case ArchiveStatus::BlockTooSmall: return "the directory buffer is too small";
    }
    return "unknown archive fault";
}

ArchiveStatus MeasureArchive(const uint8_t* image, size_t imageSize, size_t* blockSize) {
    if (imageSize < kHeaderSize) return ArchiveStatus::ImageTooSmall;
    Header h = ReadHeader(image);
    if (h.directoryOffset > imageSize) return ArchiveStatus::DirectoryOutsideImage;
    uint64_t available = imageSize - h.directoryOffset;
    uint64_t needed = uint64_t(h.entryCount) * kEntrySize;
    // A compressed directory cannot expand past the format's best ratio, so a count
    // that would need more is a lie, whatever the allocation would have cost.
    uint64_t limit = h.Compressed() ? available * kMaxExpansion : available;
    if (needed > limit) return ArchiveStatus::CountTooLarge;
    uint64_t total = kHeaderSize + needed;
    if (total > SIZE_MAX) return ArchiveStatus::CountTooLarge;
    *blockSize = size_t(total);
    return ArchiveStatus::Ok;
}

ArchiveStatus LoadArchiveDirectory(const uint8_t* image, size_t imageSize, uint8_t* block,
                                   size_t blockSize) {
    size_t needed = 0;
    ArchiveStatus status = MeasureArchive(image, imageSize, &needed);
    if (status != ArchiveStatus::Ok) return status;
    if (blockSize < needed) return ArchiveStatus::BlockTooSmall;
    Header h = ReadHeader(image);
    const uint8_t* directory = image + h.directoryOffset;
    size_t directoryBytes = needed - kHeaderSize;
    std::memcpy(block, image, kHeaderSize);
    if (h.Compressed()) {
        DecodeResult r = DecompressBounded(block + kHeaderSize, directoryBytes, directory,
                                           imageSize - h.directoryOffset);
        if (r.status != DecodeStatus::Ok) return ArchiveStatus::DirectoryBroken;
    } else if (directoryBytes != 0) {
        std::memcpy(block + kHeaderSize, directory, directoryBytes);
    }
    return CheckRecords(block, imageSize);
}

uint32_t ArchiveEntryCount(const uint8_t* block) { return LoadLe32(block + kHeaderEntryCount); }

ArchiveEntryInfo ReadArchiveEntry(const uint8_t* block, uint32_t index, uint64_t* dataOffset) {
    const uint8_t* r = Record(block, index);
    ArchiveEntryInfo e;
    e.name = reinterpret_cast<const char*>(r + kEntryName);
    e.flags = LoadLe32(r + kEntryFlags);
    e.time = uint64_t(LoadLe32(r + kEntryTimeHigh)) << 32 | LoadLe32(r + kEntryTimeLow);
    e.unpackedSize = LoadLe32(r + kEntryUnpackedSize);
    e.storedSize = LoadLe32(r + kEntryStoredSize);
    e.dataOffset = *dataOffset;
    *dataOffset += PaddedSize(e.storedSize);
    return e;
}

bool FindArchiveEntry(const uint8_t* block, const char* name, ArchiveEntryInfo* entry) {
    uint32_t count = ArchiveEntryCount(block);
    uint64_t offset = kHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        ArchiveEntryInfo e = ReadArchiveEntry(block, i, &offset);
        if (NamesEqualIgnoringAsciiCase(e.name, name)) {
            *entry = e;
            return true;
        }
    }
    return false;
}

bool NamesEqualIgnoringAsciiCase(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const uint8_t*>(a);
    const auto* y = reinterpret_cast<const uint8_t*>(b);
    for (;;) {
        if (IsCp932LeadByte(*x)) {
            // A two-byte character: its trail byte may look like an ASCII letter.
            if (x[0] != y[0]) return false;
            if (x[1] == 0 || x[1] != y[1]) return x[1] == y[1];
            x += 2;
            y += 2;
            continue;
        }
        if (FoldAscii(*x) != FoldAscii(*y)) return false;
        if (*x == 0) return true;
        ++x;
        ++y;
    }
}

DecodeResult ReadArchiveEntryData(const uint8_t* image, size_t imageSize,
                                  const ArchiveEntryInfo& entry, uint8_t* destination) {
    if (entry.dataOffset > imageSize || entry.storedSize > imageSize - entry.dataOffset) {
        return {DecodeStatus::TruncatedBlock, 0, 0};
    }
    const uint8_t* data = image + entry.dataOffset;
    if (entry.IsCompressed()) {
        return DecompressBounded(destination, entry.unpackedSize, data, entry.storedSize);
    }
    if (entry.unpackedSize > entry.storedSize) return {DecodeStatus::TruncatedBlock, 0, 0};
    if (entry.unpackedSize != 0) std::memcpy(destination, data, entry.unpackedSize);
    return {DecodeStatus::Ok, entry.unpackedSize, entry.unpackedSize};
}

}  // namespace wq2
