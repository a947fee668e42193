// The resources of a Windows executable (PE32 or PE32+), read and written back:
// how `wq2 make-updater --target windows` puts the payload into the prebuilt
// updater.
//
// The stub is taken as bytes and never trusted: every offset is checked
// against the file before it is followed, a resource tree that comes back to
// a directory it has seen is refused, and a file that does not add up is
// refused with a sentence that says why.
//
// Rewriting builds a new resource section from the whole tree (the old
// resources and the new one) and points the image's resource directory at it.
// When the old resource section is the image's last one it is replaced where
// it stands; otherwise the new section is added after the last one and the
// old bytes stay where they were, unused. Outside the section headers, the
// resource directory entry, SizeOfImage, NumberOfSections and the checksum,
// the stub's bytes are kept as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wq2::pe {

// A resource type or name: a number, or a string when `text` is not empty.
struct ResourceName {
    uint16_t id = 0;
    std::u16string text;

    static ResourceName Number(uint16_t id) { return {id, {}}; }
    static ResourceName Text(std::u16string text) { return {0, std::move(text)}; }
    bool IsNumber() const { return text.empty(); }
};

// Names as Windows looks them up: ASCII letters without regard to case.
bool SameName(const ResourceName& a, const ResourceName& b);
// How a directory orders its entries, which the loader's binary search needs:
// strings (compared as upper case) before numbers, numbers ascending.
bool NameBefore(const ResourceName& a, const ResourceName& b);
// "UPDATE" or "#24", for messages.
std::string NameText(const ResourceName& name);

// The header fields of one directory of the tree, kept across a rewrite.
struct DirectoryHeader {
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
};

// One resource: a language of a name of a type. `data` points into the file
// the tree was read from, or at bytes its caller keeps alive.
struct ResourceData {
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::span<const uint8_t> data;
};

struct ResourceEntry {
    ResourceName name;
    DirectoryHeader header;
    std::vector<ResourceData> languages;
};

struct ResourceType {
    ResourceName type;
    DirectoryHeader header;
    std::vector<ResourceEntry> entries;
};

struct ResourceTree {
    DirectoryHeader header;
    std::vector<ResourceType> types;
};

struct Section {
    size_t headerOffset = 0;  // of its 40-byte header in the file
    char name[9] = {};
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
    uint32_t characteristics = 0;
};

// What the rewrite needs to know of an image's headers.
struct PeImage {
    bool pe32Plus = false;
    size_t coffHeaderOffset = 0;
    size_t optionalHeaderOffset = 0;
    size_t sectionTableOffset = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t dataDirectoryCount = 0;  // usable entries of the data directory
    size_t dataDirectoryOffset = 0;
    std::vector<Section> sections;

    // Entry `index` of the data directory as {address, size}; {0, 0} when absent.
    std::pair<uint32_t, uint32_t> DataDirectory(std::span<const uint8_t> file, uint32_t index) const;
};

// Data directory entries the rewrite looks at.
inline constexpr uint32_t kResourceDirectoryIndex = 2;
inline constexpr uint32_t kCertificateDirectoryIndex = 4;

// Reads the headers and the section table. False, with `problem` set, for a
// file that is not a PE image or whose headers do not fit in it.
bool ReadPeImage(std::span<const uint8_t> file, PeImage* image, std::string* problem);

// Reads the resource tree (type, name, language). An image without resources
// gives an empty tree. False, with `problem` set, for a tree that leaves its
// section, loops, or is not three levels deep.
bool ReadResourceTree(std::span<const uint8_t> file, const PeImage& image, ResourceTree* tree,
                      std::string* problem);

// Adds the resource, or replaces its data when the tree has it already.
void SetResource(ResourceTree* tree, const ResourceName& type, const ResourceName& name,
                 uint16_t language, std::span<const uint8_t> data);

// The rewritten file, as pieces to write one after the other: the stub's bytes
// with new headers, the new section's directory, then each resource's data.
// Pieces point into the stub, into the resources' data and into `head` and
// `directory` below, which is why this can be moved but not copied.
struct RewrittenImage {
    struct Piece {
        const uint8_t* data;  // null: `size` zero bytes
        uint64_t size;
    };
    std::vector<uint8_t> head;
    std::vector<uint8_t> directory;
    std::vector<Piece> pieces;
    uint32_t sectionAddress = 0;  // where the new resource section is, in memory
    uint32_t sectionFileOffset = 0;
    bool replacedInPlace = false;  // the old section was the last one and was reused

    RewrittenImage() = default;
    RewrittenImage(RewrittenImage&&) = default;
    RewrittenImage& operator=(RewrittenImage&&) = default;
    RewrittenImage(const RewrittenImage&) = delete;
    RewrittenImage& operator=(const RewrittenImage&) = delete;

    uint64_t Size() const;
};

// The image `file` (read into `image`) with `tree` as its resources. False,
// with `problem` set, when the image leaves no room for them: a signed image,
// no free section header, sizes past the format's 32-bit limits.
bool RewriteResources(std::span<const uint8_t> file, const PeImage& image, const ResourceTree& tree,
                      RewrittenImage* out, std::string* problem);

// The image's checksum field as the system computes it: the file's 16-bit
// words summed with end-around carry, the field itself counted as zero, plus
// the file's length. Fed with the file's bytes in order, in pieces of any size.
class ImageChecksum {
public:
    explicit ImageChecksum(uint64_t checksumFieldOffset) : field_(checksumFieldOffset) {}
    void Add(const uint8_t* data, uint64_t size);  // null: zero bytes
    uint32_t Finish() const;

private:
    uint64_t field_;
    uint64_t position_ = 0;
    uint64_t sum_ = 0;
};

}  // namespace wq2::pe
