// Builds WQ2 payload archives (layout in src/archive/payload_format.h).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "block_encoder.h"

namespace wq2 {

struct PayloadWriterOptions {
    CompressionLevel level = CompressionLevel::Default;
    bool compressDirectory = true;
};

enum class EntryStorage {
    Auto,    // compressed unless that would not make it smaller
    Stored,  // kept as it is (already-compressed formats)
};

struct WrittenEntry {
    std::string name;  // code page 932 bytes, 1..259 of them, no NUL
    uint64_t time = 0; // FILETIME
    uint32_t unpackedSize = 0;
    uint32_t storedSize = 0;
    bool compressed = false;
};

// Writes entries to `out` in the order they are added, each padded to 16 bytes,
// then the directory and, last, the header (the stream must be seekable).
// Errors are returned as text; after an error the writer accepts nothing more.
class PayloadWriter {
public:
    PayloadWriter(std::ostream& out, PayloadWriterOptions options);

    // Adds one entry. Fails for an empty name or one of 260 bytes or more, a name
    // holding a NUL, content of 4 GiB or more, an archive that would outgrow the
    // format's 32-bit offsets, or a failed write.
    bool AddEntry(const std::string& name, uint64_t time, const uint8_t* data, size_t size,
                  EntryStorage storage, std::string* error);

    // Writes the directory and the header. Returns false with a message on failure.
    bool Finish(std::string* error);

    const std::vector<WrittenEntry>& Entries() const { return entries_; }
    uint64_t BytesWritten() const { return offset_; }

private:
    bool Write(const uint8_t* data, size_t size, std::string* error);

    std::ostream& out_;
    PayloadWriterOptions options_;
    std::vector<WrittenEntry> entries_;
    uint64_t offset_ = 0;
    bool failed_ = false;
    bool finished_ = false;
};

}  // namespace wq2
