// Byte layout of a WQ2 payload archive.
//
// All integers are little-endian; offsets count from the first byte of the image.
//
//   0                 16-byte header (ArchiveHeader)
//   16                entry data, in directory order; each entry's data is padded
//                     with zero bytes to a multiple of 16
//   DirectoryOffset   the directory up to the end of the image: EntryCount records of
//                     280 bytes, or (header flag bit 0) one compressed block that
//                     decodes to those records
//
// ArchiveHeader (16 bytes)
//   0   Magic            "WQ2\0" (written, never required when reading)
//   4   Flags            bit 0: the directory is a compressed block
//   8   DirectoryOffset
//   12  EntryCount
//
// ArchiveEntry (280 bytes)
//   0   Name             NUL-terminated code page 932 bytes, zero-filled after the NUL
//   260 Flags            bit 1: the data is a compressed block (stored entries carry 1)
//   264 Time             FILETIME: low 32 bits at 264, high 32 bits at 268
//   272 UnpackedSize
//   276 StoredSize
//
// No entry records where its data lies: the first entry's data starts at 16 and each
// following one at the previous start plus its StoredSize rounded up to 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wq2 {

inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kHeaderMagic = 0;
inline constexpr size_t kHeaderFlags = 4;
inline constexpr size_t kHeaderDirectoryOffset = 8;
inline constexpr size_t kHeaderEntryCount = 12;
inline constexpr uint8_t kMagic[4] = {'W', 'Q', '2', 0};
inline constexpr uint32_t kHeaderFlagCompressedDirectory = 1;

inline constexpr size_t kEntrySize = 280;
inline constexpr size_t kEntryName = 0;
inline constexpr size_t kEntryNameSize = 260;
inline constexpr size_t kEntryFlags = 260;
inline constexpr size_t kEntryTimeLow = 264;
inline constexpr size_t kEntryTimeHigh = 268;
inline constexpr size_t kEntryUnpackedSize = 272;
inline constexpr size_t kEntryStoredSize = 276;
inline constexpr uint32_t kEntryFlagStored = 1;
inline constexpr uint32_t kEntryFlagCompressed = 2;

inline constexpr size_t kDataAlignment = 16;

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Size an entry's data occupies in the image: its stored size rounded up to 16.
inline uint64_t PaddedSize(uint32_t storedSize) {
    return (uint64_t(storedSize) + (kDataAlignment - 1)) & ~uint64_t(kDataAlignment - 1);
}

}  // namespace wq2
