// Reading a WQ2 payload archive held in memory. Portable: no allocation and no
// operating-system calls; the caller provides every buffer, so the updater can use
// its own heap and the tools can use std::vector.
//
// Opening is two steps: MeasureArchive checks the header and tells how large the
// open archive block is (the 16-byte header copy followed by the directory records);
// LoadArchiveDirectory fills such a block and checks every record against the image.
// After that, FindArchiveEntry and the entry accessors only read the block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_decoder.h"
#include "payload_format.h"

namespace wq2 {

enum class ArchiveStatus {
    Ok,
    ImageTooSmall,          // fewer than 16 bytes: no header
    DirectoryOutsideImage,  // DirectoryOffset lies past the image's end
    CountTooLarge,          // EntryCount records cannot come from what follows DirectoryOffset
    DirectoryBroken,        // the compressed directory does not decode to EntryCount records
    NameUnterminated,       // a Name has no NUL within its 260 bytes
    EntryDataOutsideImage,  // an entry's data runs past the image's end
    EntrySizesInvalid,      // stored entry with StoredSize != UnpackedSize, or a compressed
                            // entry claiming more than its block can produce
    BlockTooSmall,          // the caller's block is smaller than MeasureArchive said
};

const char* ArchiveStatusText(ArchiveStatus status);

// Reads the header. On Ok, *blockSize is 16 + EntryCount * 280, already checked to be
// reachable from the image (so a hostile count cannot ask for gigabytes).
ArchiveStatus MeasureArchive(const uint8_t* image, size_t imageSize, size_t* blockSize);

// Fills `block` (blockSize bytes from MeasureArchive) with the header copy and the
// directory records, decoding a compressed directory, then checks every record:
// terminated name, data inside the image, plausible sizes. On failure the block's
// contents are unspecified and must not be used.
ArchiveStatus LoadArchiveDirectory(const uint8_t* image, size_t imageSize, uint8_t* block,
                                   size_t blockSize);

struct ArchiveEntryInfo {
    const char* name;       // points into the block; NUL-terminated
    uint32_t flags;
    uint64_t time;          // FILETIME
    uint32_t unpackedSize;
    uint32_t storedSize;
    uint64_t dataOffset;    // from the start of the image, by the 16-byte walk
    bool IsCompressed() const { return (flags & kEntryFlagCompressed) != 0; }
};

uint32_t ArchiveEntryCount(const uint8_t* block);

// Visits entries in directory order: `index` from 0 to ArchiveEntryCount - 1, with
// `dataOffset` carried from the previous call (start with kHeaderSize). Returns the
// record's fields and advances *dataOffset past its padded data.
ArchiveEntryInfo ReadArchiveEntry(const uint8_t* block, uint32_t index, uint64_t* dataOffset);

// Finds the first entry whose name equals `name`, ignoring the case of ASCII letters
// only (both bytes of a two-byte code page 932 character compare exactly). Returns
// false when none matches.
bool FindArchiveEntry(const uint8_t* block, const char* name, ArchiveEntryInfo* entry);

// True when a and b are equal ignoring the case of ASCII letters, reading both as
// code page 932 text (a lead byte and its trail byte are compared exactly).
bool NamesEqualIgnoringAsciiCase(const char* a, const char* b);

// True for a byte that leads a two-byte code page 932 character.
inline bool IsCp932LeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Decodes a compressed entry into `destination` (entry.unpackedSize bytes). For a
// stored entry, copies it. Never reads outside the image.
DecodeResult ReadArchiveEntryData(const uint8_t* image, size_t imageSize,
                                  const ArchiveEntryInfo& entry, uint8_t* destination);

}  // namespace wq2
