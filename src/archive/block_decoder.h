// Decoder for the payload's compressed blocks.
//
// A block is an LZ77 stream with no header, length or checksum: literal bytes and
// back-references (distance 1..8192, length 2..282) chosen by control bits. The
// control bits come in little-endian 32-bit words used from bit 31 down, and each
// word sits in the byte stream exactly where the decoder first needs one of its
// bits, between the data bytes. An end code closes the block.
//
// The decoder never depends on the encoder; tools/packer holds the other side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wq2 {

inline constexpr uint32_t kMaxDistance = 8192;
inline constexpr uint32_t kMaxShortDistance = 2303;  // two-byte codes: 1..2303
inline constexpr uint32_t kMinLongLength = 3;
inline constexpr uint32_t kMaxLongLength = 282;

// The most bytes any block can decode to per byte of block: a long code of the
// greatest length takes 25 bits (2 + 10 + 13) for 282 bytes, about 90.24 bytes per
// stored byte. Used to reject sizes that no block of a given length can reach.
inline constexpr uint64_t kMaxExpansion = 91;

enum class DecodeStatus {
    Ok,               // the end code came after exactly the expected size
    TruncatedBlock,   // a control word or data byte lies past the block's end
    DistanceTooFar,   // a copy reaches before the start of the output
    OutputOverflow,   // the block produces more than the expected size
    EndedEarly,       // the end code came before the expected size
};

struct DecodeResult {
    DecodeStatus status;
    size_t written;   // bytes produced before the end code or the fault
    size_t consumed;  // block bytes read, through the end code when status is Ok
};

// Decodes the block at `source` (of `sourceSize` bytes) into `destination`, which
// holds `expectedSize` bytes. Never reads outside the block, never writes outside
// destination[0, expectedSize). Returns Ok only when the end code is reached after
// exactly `expectedSize` bytes; otherwise the first fault met. Bytes after the end
// code are not read. On a fault the destination's contents are unspecified.
DecodeResult DecompressBounded(uint8_t* destination, size_t expectedSize, const uint8_t* source,
                               size_t sourceSize);

// The format's own contract: decodes until the end code with no limits at all.
// The caller guarantees that the block is well formed and that destination is large
// enough. Nothing in the updater calls this; it exists for trusted data only
// (tests compare it with the bounded form).
void Decompress(uint8_t* destination, const uint8_t* source);

const char* DecodeStatusText(DecodeStatus status);

}  // namespace wq2
