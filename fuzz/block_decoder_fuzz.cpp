// Feeds arbitrary blocks to the bounded decoder. The first two bytes choose the
// expected size, so outputs of every size meet every kind of damaged block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "block_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t expected = size_t(data[0]) | size_t(data[1]) << 8;
    std::vector<uint8_t> block(data + 2, data + size);  // exact size: no slack to hide reads
    std::vector<uint8_t> out(expected);
    wq2::DecompressBounded(out.data(), out.size(), block.data(), block.size());
    return 0;
}
