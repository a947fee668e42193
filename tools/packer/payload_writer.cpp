#include "payload_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>

#include "payload_format.h"

namespace wq2 {
namespace {

constexpr uint64_t kMaxOffset = std::numeric_limits<uint32_t>::max();

void PutRecord(uint8_t* r, const WrittenEntry& e) {
    std::memset(r, 0, kEntrySize);
    std::memcpy(r + kEntryName, e.name.data(), e.name.size());
    StoreLe32(r + kEntryFlags, e.compressed ? kEntryFlagCompressed : kEntryFlagStored);
    StoreLe32(r + kEntryTimeLow, uint32_t(e.time));
    StoreLe32(r + kEntryTimeHigh, uint32_t(e.time >> 32));
    StoreLe32(r + kEntryUnpackedSize, e.unpackedSize);
    StoreLe32(r + kEntryStoredSize, e.storedSize);
}

}  // namespace

PayloadWriter::PayloadWriter(std::ostream& out, PayloadWriterOptions options)
    : out_(out), options_(options) {
    // The header is written last, once the directory's place is known.
    uint8_t header[kHeaderSize] = {};
    std::string ignored;
    Write(header, sizeof header, &ignored);
}

bool PayloadWriter::Write(const uint8_t* data, size_t size, std::string* error) {
    if (failed_) return false;
    out_.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out_) {
        failed_ = true;
        *error = "write failed";
        return false;
    }
    offset_ += size;
    return true;
}

bool PayloadWriter::AddEntry(const std::string& name, uint64_t time, const uint8_t* data,
                             size_t size, EntryStorage storage, std::string* error) {
    if (failed_ || finished_) {
        *error = "the archive can take no more entries";
        return false;
    }
    if (name.empty() || name.size() >= kEntryNameSize || name.find('\0') != std::string::npos) {
        *error = "entry name \"" + name + "\" must be 1 to 259 bytes without NUL";
        return false;
    }
    if (size > kMaxOffset) {
        *error = "\"" + name + "\" is 4 GiB or larger";
        return false;
    }
    std::vector<uint8_t> packed;
    if (storage == EntryStorage::Auto && size != 0) {
        packed = CompressBlock(data, size, options_.level);
    }
    WrittenEntry e{name, time, uint32_t(size), uint32_t(size), false};
    const uint8_t* stored = data;
    if (!packed.empty() && packed.size() < size) {
        e.compressed = true;
        e.storedSize = uint32_t(packed.size());
        stored = packed.data();
    }
    uint64_t padded = PaddedSize(e.storedSize);
    if (offset_ + padded > kMaxOffset) {
        failed_ = true;
        *error = "the archive would outgrow 4 GiB at \"" + name + "\"";
        return false;
    }
    static const uint8_t kZeros[kDataAlignment] = {};
    if ((e.storedSize != 0 && !Write(stored, e.storedSize, error)) ||
        !Write(kZeros, size_t(padded - e.storedSize), error)) {
        return false;
    }
    entries_.push_back(std::move(e));
    return true;
}

bool PayloadWriter::Finish(std::string* error) {
    if (failed_ || finished_) {
        *error = failed_ ? "the archive is incomplete after an earlier error" : "already finished";
        return false;
    }
    finished_ = true;
    std::vector<uint8_t> directory(entries_.size() * kEntrySize);
    for (size_t i = 0; i < entries_.size(); ++i) PutRecord(&directory[i * kEntrySize], entries_[i]);
    uint32_t flags = 0;
    if (options_.compressDirectory) {
        directory = CompressBlock(directory.data(), directory.size(), options_.level);
        flags |= kHeaderFlagCompressedDirectory;
    }
    uint64_t directoryOffset = offset_;
    if (directoryOffset + directory.size() > kMaxOffset) {
        failed_ = true;
        *error = "the archive would outgrow 4 GiB";
        return false;
    }
    if (!directory.empty() && !Write(directory.data(), directory.size(), error)) return false;
    uint8_t header[kHeaderSize];
    std::memcpy(header + kHeaderMagic, kMagic, sizeof kMagic);
    StoreLe32(header + kHeaderFlags, flags);
    StoreLe32(header + kHeaderDirectoryOffset, uint32_t(directoryOffset));
    StoreLe32(header + kHeaderEntryCount, uint32_t(entries_.size()));
    out_.seekp(0);
    out_.write(reinterpret_cast<const char*>(header), sizeof header);
    out_.seekp(0, std::ios::end);
    out_.flush();
    if (!out_) {
        failed_ = true;
        *error = "write failed";
        return false;
    }
    return true;
}

}  // namespace wq2
