// Internal to the block encoder: the smallest-output level.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_code_writer.h"

namespace wq2::packer {

struct OptimalParserOptions {
    // Nodes of the match finder's tree visited per position.
    uint32_t maxDepth = 96;
    // A match at least this long is taken as it stands, and the positions it covers
    // are not searched; this keeps long repeats from costing time in the square of
    // their length.
    uint32_t niceLength = 160;
    // Positions whose paths are compared at once; bounds the parser's memory.
    size_t segmentSize = size_t(1) << 17;
    // Passed on to the match finder (see TreeMatchFinder).
    size_t resetInterval = size_t(1) << 30;
};

// Encodes data[0, size) as the cheapest sequence of codes by the exact bit costs,
// writing through `writer` (everything but the end code).
void EncodeOptimal(const uint8_t* data, size_t size, BlockCodeWriter& writer,
                   const OptimalParserOptions& options = {});

}  // namespace wq2::packer
