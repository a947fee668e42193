// A Windows executable read back for the tests: its headers, sections,
// imported DLLs and every resource, walked from the raw bytes with no help from
// the tool's own reader, so that the two cannot share a mistake. Anything out
// of bounds throws std::runtime_error.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace wq2test {

// "#5": how PeFile names a resource type or name given by number.
inline std::string ResourceNumber(uint32_t number) {
    std::string text = "#";
    return text.append(std::to_string(number));
}

class PeFile {
public:
    struct Section {
        std::string name;
        uint32_t virtualSize, virtualAddress, sizeOfRawData, pointerToRawData;
    };
    // A type or name is "#<number>" or the string as UTF-8.
    struct Resource {
        std::string type, name;
        uint16_t language;
        uint32_t codePage;
        uint64_t fileOffset;
        std::string data;
    };

    explicit PeFile(std::string bytes) : bytes_(std::move(bytes)) {
        if (U16(0) != 0x5A4D) throw std::runtime_error("no MZ");
        const uint64_t pe = U32(0x3C);
        if (U32(pe) != 0x00004550) throw std::runtime_error("no PE signature");
        sectionCountOffset = pe + 6;
        const uint16_t sectionCount = U16(pe + 6);
        const uint64_t optional = pe + 24;
        pe32Plus = U16(optional) == 0x20B;
        if (!pe32Plus && U16(optional) != 0x10B) throw std::runtime_error("unknown optional header");
        sectionAlignment = U32(optional + 32);
        fileAlignment = U32(optional + 36);
        sizeOfImageOffset = optional + 56;
        sizeOfImage = U32(sizeOfImageOffset);
        checksumOffset = optional + 64;
        checksum = U32(checksumOffset);
        directoriesOffset = optional + (pe32Plus ? 112 : 96);
        directoryCount = U32(optional + (pe32Plus ? 108 : 92));
        sectionTableOffset = optional + U16(pe + 20);
        for (uint16_t i = 0; i < sectionCount; ++i) {
            const uint64_t at = sectionTableOffset + 40 * i;
            Need(at, 40);
            sections.push_back({std::string(bytes_.c_str() + at, strnlen(bytes_.c_str() + at, 8)), U32(at + 8),
                                U32(at + 12), U32(at + 16), U32(at + 20)});
        }
        ReadResources();
    }

    const std::string& Bytes() const { return bytes_; }

    uint32_t DirectoryAddress(uint32_t index) const {
        return index < directoryCount ? U32(directoriesOffset + 8 * index) : 0;
    }
    uint32_t DirectorySize(uint32_t index) const {
        return index < directoryCount ? U32(directoriesOffset + 8 * index + 4) : 0;
    }

    const Resource* Find(const std::string& type, const std::string& name, uint16_t language) const {
        for (const Resource& r : resources) {
            if (r.type == type && r.name == name && r.language == language) return &r;
        }
        return nullptr;
    }

    // The file offset of an address inside some section's file data.
    uint64_t FileOffset(uint64_t address, uint64_t size) const {
        // Memory past a section's virtual size is not its file data; a virtual
        // size of zero means the file size.
        for (const Section& s : sections) {
            const uint64_t mapped = s.virtualSize != 0 ? std::min(s.virtualSize, s.sizeOfRawData) : s.sizeOfRawData;
            if (address >= s.virtualAddress && address + size <= s.virtualAddress + mapped) {
                return s.pointerToRawData + (address - s.virtualAddress);
            }
        }
        throw std::runtime_error("address " + std::to_string(address) + " is in no section's data");
    }

    // The names of the DLLs the import directory lists.
    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> names;
        const uint32_t address = DirectoryAddress(1);
        if (address == 0) return names;
        for (uint64_t at = FileOffset(address, 20);; at += 20) {
            const uint32_t nameAddress = U32(at + 12);
            if (nameAddress == 0) break;
            names.emplace_back(bytes_.c_str() + FileOffset(nameAddress, 1));
        }
        return names;
    }

    // The checksum as the system computes it, straight from its definition:
    // 16-bit words added with the carry folded back, the field as zero, plus
    // the file's length.
    uint32_t ComputeChecksum() const {
        uint32_t sum = 0;
        for (uint64_t i = 0; i < bytes_.size(); i += 2) {
            if (i >= checksumOffset && i < checksumOffset + 4) continue;
            uint32_t word = uint8_t(bytes_[i]);
            if (i + 1 < bytes_.size()) word |= uint32_t(uint8_t(bytes_[i + 1])) << 8;
            sum += word;
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        return sum + uint32_t(bytes_.size());
    }

    bool pe32Plus = false;
    uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfImage = 0, checksum = 0, directoryCount = 0;
    uint64_t sectionCountOffset = 0, sizeOfImageOffset = 0, checksumOffset = 0, directoriesOffset = 0;
    uint64_t sectionTableOffset = 0;
    std::vector<Section> sections;
    std::vector<Resource> resources;

private:
    void Need(uint64_t at, uint64_t size) const {
        if (at > bytes_.size() || size > bytes_.size() - at) throw std::runtime_error("read past the end");
    }
    uint16_t U16(uint64_t at) const {
        Need(at, 2);
        return uint16_t(uint8_t(bytes_[at]) | uint8_t(bytes_[at + 1]) << 8);
    }
    uint32_t U32(uint64_t at) const { return U16(at) | uint32_t(U16(at + 2)) << 16; }

    static void AppendUtf8(std::string* out, uint32_t c) {
        if (c < 0x80) {
            *out += char(c);
        } else if (c < 0x800) {
            *out += char(0xC0 | c >> 6);
            *out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out += char(0xE0 | c >> 12);
            *out += char(0x80 | (c >> 6 & 0x3F));
            *out += char(0x80 | (c & 0x3F));
        } else {
            *out += char(0xF0 | c >> 18);
            *out += char(0x80 | (c >> 12 & 0x3F));
            *out += char(0x80 | (c >> 6 & 0x3F));
            *out += char(0x80 | (c & 0x3F));
        }
    }

    std::string Name(uint64_t root, uint32_t field) const {
        if ((field & 0x80000000u) == 0) return ResourceNumber(field);
        const uint64_t at = root + (field & 0x7FFFFFFFu);
        std::string text;
        const uint16_t length = U16(at);
        for (uint16_t i = 0; i < length; ++i) AppendUtf8(&text, U16(at + 2 + 2 * i));
        return text;
    }

    std::u16string SortKey(uint64_t root, uint32_t field) const {
        if ((field & 0x80000000u) == 0) return std::u16string(1, char16_t(field));
        const uint64_t at = root + (field & 0x7FFFFFFFu);
        std::u16string key;
        for (uint16_t i = 0, length = U16(at); i < length; ++i) {
            const char16_t c = char16_t(U16(at + 2 + 2 * i));
            key += c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
        }
        return key;
    }

    // Type, name and language: three levels of directories, each entry of the
    // first two leading to a directory, each of the last to a data record.
    void ReadResources() {
        const uint32_t address = DirectoryAddress(2);
        if (address == 0) return;
        const uint64_t root = FileOffset(address, 16);
        std::set<uint64_t> seen;
        const auto entries = [&](uint64_t directory) {
            if (!seen.insert(directory).second) throw std::runtime_error("a directory seen twice");
            std::vector<std::pair<uint32_t, uint32_t>> list;
            const uint16_t named = U16(directory + 12);
            const uint32_t count = uint32_t(named) + U16(directory + 14);
            for (uint32_t i = 0; i < count; ++i) {
                list.emplace_back(U32(directory + 16 + 8 * i), U32(directory + 20 + 8 * i));
                // The loader searches by halves: strings first, then numbers,
                // each strictly ascending (strings in upper case).
                if (((list.back().first & 0x80000000u) != 0) != (i < named)) {
                    throw std::runtime_error("a string entry among the numbers, or the other way round");
                }
                if (i > 0 && i != named && !(SortKey(root, list[i - 1].first) < SortKey(root, list.back().first))) {
                    throw std::runtime_error("directory entries out of order");
                }
            }
            return list;
        };
        const auto below = [&](uint32_t target) {
            if ((target & 0x80000000u) == 0) throw std::runtime_error("data where a directory belongs");
            return root + (target & 0x7FFFFFFFu);
        };
        for (const auto& [typeField, typeTarget] : entries(root)) {
            for (const auto& [nameField, nameTarget] : entries(below(typeTarget))) {
                for (const auto& [language, record] : entries(below(nameTarget))) {
                    if ((record & 0x80000000u) != 0 || language > 0xFFFF) {
                        throw std::runtime_error("a fourth level");
                    }
                    const uint32_t dataAddress = U32(root + record);
                    const uint32_t size = U32(root + record + 4);
                    const uint64_t offset = FileOffset(dataAddress, size);
                    Need(offset, size);
                    resources.push_back({Name(root, typeField), Name(root, nameField), uint16_t(language),
                                         U32(root + record + 8), offset, bytes_.substr(offset, size)});
                }
            }
        }
    }

    std::string bytes_;
};

}  // namespace wq2test
