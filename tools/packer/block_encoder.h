// Encoder for the payload's compressed blocks (the format decoded by
// src/archive/block_decoder.h). Only the publisher's tool links this; the updater
// never does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wq2 {

enum class CompressionLevel {
    Fast,     // greedy parse over a hash table
    Default,  // lazy matching over hash chains
    Max,      // optimal parse over the format's exact bit costs
};

// An upper limit on the block any level produces for `size` input bytes: 9 bits
// per byte, the end code, and the rounding of control bits to whole words.
size_t CompressBound(size_t size);

// Encodes `size` bytes at `data` as one block, closed by the end code, and returns
// it. Any input, including an empty one, gives a block that DecompressBounded
// decodes back to exactly the input. Throws std::bad_alloc when memory runs out.
std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size, CompressionLevel level);

// Parses "fast", "default" or "max"; returns false for anything else.
bool ParseCompressionLevel(const char* text, CompressionLevel* level);
const char* CompressionLevelName(CompressionLevel level);

}  // namespace wq2
