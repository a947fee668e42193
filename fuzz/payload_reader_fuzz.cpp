// Opens arbitrary images as archives and, when that succeeds, reads every entry
// the way the updater would.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    size_t blockSize = 0;
    if (wq2::MeasureArchive(image.data(), image.size(), &blockSize) != wq2::ArchiveStatus::Ok) {
        return 0;
    }
    std::vector<uint8_t> block(blockSize);
    if (wq2::LoadArchiveDirectory(image.data(), image.size(), block.data(), block.size()) !=
        wq2::ArchiveStatus::Ok) {
        return 0;
    }
    uint64_t offset = wq2::kHeaderSize;
    for (uint32_t i = 0; i < wq2::ArchiveEntryCount(block.data()); ++i) {
        wq2::ArchiveEntryInfo e = wq2::ReadArchiveEntry(block.data(), i, &offset);
        wq2::ArchiveEntryInfo found;
        wq2::FindArchiveEntry(block.data(), e.name, &found);
        std::vector<uint8_t> out(e.unpackedSize);
        wq2::ReadArchiveEntryData(image.data(), image.size(), e, out.data());
    }
    return 0;
}
