#include "pe_resources.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace wq2::pe {
namespace {

// Where the headers keep the fields used here.
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosNewHeaderOffset = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kCoffNumberOfSections = 2;
constexpr size_t kCoffSizeOfOptionalHeader = 16;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kOptionalSectionAlignment = 32;
constexpr size_t kOptionalFileAlignment = 36;
constexpr size_t kOptionalSizeOfImage = 56;
constexpr size_t kOptionalSizeOfHeaders = 60;
constexpr size_t kOptionalCheckSum = 64;
constexpr size_t kPe32DirectoryCount = 92;
constexpr size_t kPe32Directories = 96;
constexpr size_t kPe32PlusDirectoryCount = 108;
constexpr size_t kPe32PlusDirectories = 112;
constexpr size_t kDataDirectorySize = 8;

constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionVirtualSize = 8;
constexpr size_t kSectionVirtualAddress = 12;
constexpr size_t kSectionSizeOfRawData = 16;
constexpr size_t kSectionPointerToRawData = 20;
constexpr size_t kSectionCharacteristics = 36;
// Initialised data, readable: what resource compilers give .rsrc.
constexpr uint32_t kResourceSectionCharacteristics = 0x40000040u;

// The resource tree's records.
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;  // a string name; a subdirectory
// Each resource's data starts on this boundary, as the linkers place it.
constexpr uint64_t kDataAlignment = 8;

constexpr uint64_t kMax32 = 0xFFFFFFFFu;

uint16_t Read16(std::span<const uint8_t> bytes, uint64_t at) {
    return uint16_t(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Read32(std::span<const uint8_t> bytes, uint64_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

void Write16(uint8_t* at, uint16_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void Write32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

std::string Hex(uint64_t value) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 15]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

// The bytes of the image at `address` for `size` bytes, when they all lie in
// the file data of one section (beyond a section's virtual size nothing is
// mapped; beyond its raw size only zeros are).
bool MapAddress(const PeImage& image, uint64_t address, uint64_t size, uint64_t* fileOffset) {
    for (const Section& section : image.sections) {
        const uint64_t mapped = section.virtualSize != 0
                                    ? std::min(section.virtualSize, section.sizeOfRawData)
                                    : section.sizeOfRawData;
        if (address >= section.virtualAddress &&
            address + size <= uint64_t(section.virtualAddress) + mapped) {
            *fileOffset = section.pointerToRawData + (address - section.virtualAddress);
            return true;
        }
    }
    return false;
}

// Reads the tree below the resource directory at `base` in the file, `limit`
// bytes long. Each directory is read once: a tree that comes back to one is
// refused, which also bounds the work by the size of the file.
class TreeReader {
public:
    TreeReader(std::span<const uint8_t> file, const PeImage& image, uint64_t base, uint64_t limit,
               std::string* problem)
        : file_(file), image_(image), base_(base), limit_(limit), problem_(problem) {}

    bool Read(ResourceTree* tree) {
        std::vector<Entry> types;
        if (!ReadDirectory(0, "the root", &tree->header, &types)) return false;
        for (const Entry& typeEntry : types) {
            ResourceType type{typeEntry.name, {}, {}};
            const std::string typeText = "type " + NameText(type.type);
            std::vector<Entry> names;
            if (!Subdirectory(typeEntry, typeText) ||
                !ReadDirectory(typeEntry.target & ~kHighBit, typeText, &type.header, &names)) {
                return false;
            }
            for (const Entry& nameEntry : names) {
                ResourceEntry entry{nameEntry.name, {}, {}};
                const std::string entryText = typeText + " name " + NameText(entry.name);
                std::vector<Entry> languages;
                if (!Subdirectory(nameEntry, entryText) ||
                    !ReadDirectory(nameEntry.target & ~kHighBit, entryText, &entry.header, &languages)) {
                    return false;
                }
                for (const Entry& languageEntry : languages) {
                    ResourceData data;
                    if (!ReadLanguage(languageEntry, entryText, &data)) return false;
                    entry.languages.push_back(data);
                }
                type.entries.push_back(std::move(entry));
            }
            tree->types.push_back(std::move(type));
        }
        return true;
    }

private:
    struct Entry {
        ResourceName name;
        uint32_t target;
    };

    bool Fail(const std::string& text) {
        *problem_ = "damaged resources: " + text;
        return false;
    }

    bool Fits(uint64_t offset, uint64_t size) const { return offset <= limit_ && size <= limit_ - offset; }

    bool Subdirectory(const Entry& entry, const std::string& what) {
        return (entry.target & kHighBit) != 0 ||
               Fail(what + " has data where a directory belongs");
    }

    bool ReadDirectory(uint32_t offset, const std::string& what, DirectoryHeader* header,
                       std::vector<Entry>* entries) {
        if (!seen_.insert(offset).second) {
            return Fail(what + " leads back to the directory at offset " + Hex(offset));
        }
        if (!Fits(offset, kDirectoryHeaderSize)) {
            return Fail("the directory of " + what + " lies outside the resource section");
        }
        const uint64_t at = base_ + offset;
        header->characteristics = Read32(file_, at);
        header->timeDateStamp = Read32(file_, at + 4);
        header->majorVersion = Read16(file_, at + 8);
        header->minorVersion = Read16(file_, at + 10);
        const uint64_t count = uint64_t(Read16(file_, at + 12)) + Read16(file_, at + 14);
        if (!Fits(offset + uint64_t(kDirectoryHeaderSize), count * kDirectoryEntrySize)) {
            return Fail("the entries of " + what + " run past the resource section");
        }
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t entryAt = at + kDirectoryHeaderSize + i * kDirectoryEntrySize;
            Entry entry{{}, Read32(file_, entryAt + 4)};
            if (!ReadName(Read32(file_, entryAt), what, &entry.name)) return false;
            entries->push_back(std::move(entry));
        }
        // Two entries of one name would leave the loader to pick either.
        std::vector<const ResourceName*> sorted;
        for (const Entry& entry : *entries) sorted.push_back(&entry.name);
        std::sort(sorted.begin(), sorted.end(),
                  [](const ResourceName* a, const ResourceName* b) { return NameBefore(*a, *b); });
        for (size_t i = 1; i < sorted.size(); ++i) {
            if (SameName(*sorted[i - 1], *sorted[i])) {
                return Fail(what + " has two entries named " + NameText(*sorted[i]));
            }
        }
        return true;
    }

    bool ReadName(uint32_t field, const std::string& what, ResourceName* name) {
        if ((field & kHighBit) == 0) {
            if (field > 0xFFFF) return Fail(what + " has an entry number wider than 16 bits");
            *name = ResourceName::Number(uint16_t(field));
            return true;
        }
        const uint64_t offset = field & ~kHighBit;
        if (!Fits(offset, 2)) return Fail("a name in " + what + " lies outside the resource section");
        const uint16_t length = Read16(file_, base_ + offset);
        if (length == 0) return Fail(what + " has an entry with an empty name");
        if (!Fits(offset + 2, uint64_t(length) * 2)) {
            return Fail("a name in " + what + " runs past the resource section");
        }
        name->id = 0;
        name->text.resize(length);
        for (uint16_t i = 0; i < length; ++i) name->text[i] = char16_t(Read16(file_, base_ + offset + 2 + 2 * i));
        return true;
    }

    bool ReadLanguage(const Entry& entry, const std::string& what, ResourceData* data) {
        if (!entry.name.IsNumber()) return Fail(what + " has a language given as a string");
        if ((entry.target & kHighBit) != 0) return Fail(what + " is more than three levels deep");
        if (!Fits(entry.target, kDataEntrySize)) {
            return Fail("the data record of " + what + " lies outside the resource section");
        }
        const uint64_t at = base_ + entry.target;
        const uint32_t address = Read32(file_, at);
        const uint32_t size = Read32(file_, at + 4);
        uint64_t offset = 0;
        if (!MapAddress(image_, address, size, &offset)) {
            return Fail("the data of " + what + " (" + std::to_string(size) + " bytes at " + Hex(address) +
                        ") lies outside the file's sections");
        }
        data->language = entry.name.id;
        data->codePage = Read32(file_, at + 8);
        data->data = file_.subspan(size_t(offset), size);
        return true;
    }

    std::span<const uint8_t> file_;
    const PeImage& image_;
    uint64_t base_;
    uint64_t limit_;
    std::string* problem_;
    std::set<uint32_t> seen_;
};

template <typename T, typename Less>
std::vector<const T*> SortedPointers(const std::vector<T>& items, Less less) {
    std::vector<const T*> sorted;
    for (const T& item : items) sorted.push_back(&item);
    std::stable_sort(sorted.begin(), sorted.end(), [&](const T* a, const T* b) { return less(*a, *b); });
    return sorted;
}

// The new resource section: its directories, data records and names, then
// each resource's data, at the offsets given.
struct SectionLayout {
    std::vector<uint8_t> directory;  // a multiple of kDataAlignment long
    std::vector<std::pair<uint64_t, std::span<const uint8_t>>> data;
    uint64_t size = 0;  // a multiple of kDataAlignment
};

// Lays out the tree as resource compilers do: every directory, breadth first,
// then the data records, then the names, then the data. Each directory lists
// its string names first and its numbers after, both sorted, since the loader
// searches them by halves. False when the data would reach past 4 GiB or a
// directory would have more entries than it can count.
bool LayOutSection(const ResourceTree& tree, uint32_t sectionAddress, SectionLayout* layout) {
    const auto byType = [](const ResourceType& a, const ResourceType& b) { return NameBefore(a.type, b.type); };
    const auto byName = [](const ResourceEntry& a, const ResourceEntry& b) { return NameBefore(a.name, b.name); };
    const auto byLanguage = [](const ResourceData& a, const ResourceData& b) { return a.language < b.language; };
    const std::vector<const ResourceType*> types = SortedPointers(tree.types, byType);

    // Sizes first, to know where each part begins.
    uint64_t directories = kDirectoryHeaderSize + kDirectoryEntrySize * types.size();
    uint64_t nameDirectories = 0, leaves = 0, strings = 0;
    const auto stringSize = [](const ResourceName& name) { return name.IsNumber() ? 0 : 2 + 2 * name.text.size(); };
    for (const ResourceType* type : types) {
        directories += kDirectoryHeaderSize + kDirectoryEntrySize * type->entries.size();
        strings += stringSize(type->type);
        for (const ResourceEntry& entry : type->entries) {
            nameDirectories += kDirectoryHeaderSize + kDirectoryEntrySize * entry.languages.size();
            strings += stringSize(entry.name);
            leaves += entry.languages.size();
        }
    }
    const uint64_t dataRecordsAt = directories + nameDirectories;
    const uint64_t stringsAt = dataRecordsAt + kDataEntrySize * leaves;
    const uint64_t dataAt = AlignUp(stringsAt + strings, kDataAlignment);
    if (dataAt >= kHighBit) return false;
    std::vector<uint8_t>& out = layout->directory;
    out.assign(size_t(dataAt), 0);

    uint64_t nextDirectory = 0, nextRecord = dataRecordsAt, nextString = stringsAt, nextData = dataAt;
    const auto writeHeader = [&](const DirectoryHeader& header, size_t named, size_t numbered) {
        uint8_t* at = &out[size_t(nextDirectory)];
        Write32(at, header.characteristics);
        Write32(at + 4, header.timeDateStamp);
        Write16(at + 8, header.majorVersion);
        Write16(at + 10, header.minorVersion);
        Write16(at + 12, uint16_t(named));
        Write16(at + 14, uint16_t(numbered));
        const uint64_t entries = nextDirectory + kDirectoryHeaderSize;
        nextDirectory = entries + kDirectoryEntrySize * (named + numbered);
        return entries;
    };
    const auto nameField = [&](const ResourceName& name) -> uint32_t {
        if (name.IsNumber()) return name.id;
        const uint64_t at = nextString;
        Write16(&out[size_t(at)], uint16_t(name.text.size()));
        for (size_t i = 0; i < name.text.size(); ++i) Write16(&out[size_t(at + 2 + 2 * i)], name.text[i]);
        nextString += 2 + 2 * name.text.size();
        return uint32_t(at) | kHighBit;
    };
    const auto counts = [](const auto& sorted, const auto& nameOf) {
        size_t named = 0;
        for (const auto* item : sorted) named += nameOf(*item).IsNumber() ? 0 : 1;
        return std::pair<size_t, size_t>(named, sorted.size() - named);
    };
    // A directory counts its entries of each kind in 16 bits.
    bool countsFit = types.size() <= 0xFFFF;
    for (const ResourceType* type : types) {
        countsFit = countsFit && type->entries.size() <= 0xFFFF;
        for (const ResourceEntry& entry : type->entries) countsFit = countsFit && entry.languages.size() <= 0xFFFF;
    }
    if (!countsFit) return false;

    // The root, then every type's directory, then every name's, each directory's
    // entries pointing at the next level in the same order.
    const auto [namedTypes, numberedTypes] = counts(types, [](const ResourceType& t) -> const ResourceName& { return t.type; });
    uint64_t entryAt = writeHeader(tree.header, namedTypes, numberedTypes);
    uint64_t childDirectory = nextDirectory;
    for (const ResourceType* type : types) {
        Write32(&out[size_t(entryAt)], nameField(type->type));
        Write32(&out[size_t(entryAt + 4)], uint32_t(childDirectory) | kHighBit);
        entryAt += kDirectoryEntrySize;
        childDirectory += kDirectoryHeaderSize + kDirectoryEntrySize * type->entries.size();
    }
    std::vector<std::vector<const ResourceEntry*>> sortedEntries;
    for (const ResourceType* type : types) {
        sortedEntries.push_back(SortedPointers(type->entries, byName));
        const auto [named, numbered] =
            counts(sortedEntries.back(), [](const ResourceEntry& e) -> const ResourceName& { return e.name; });
        entryAt = writeHeader(type->header, named, numbered);
        for (const ResourceEntry* entry : sortedEntries.back()) {
            Write32(&out[size_t(entryAt)], nameField(entry->name));
            // Name directories come after all type directories, in this same order.
            Write32(&out[size_t(entryAt + 4)], uint32_t(childDirectory) | kHighBit);
            entryAt += kDirectoryEntrySize;
            childDirectory += kDirectoryHeaderSize + kDirectoryEntrySize * entry->languages.size();
        }
    }
    for (size_t t = 0; t < types.size(); ++t) {
        for (const ResourceEntry* entry : sortedEntries[t]) {
            entryAt = writeHeader(entry->header, 0, entry->languages.size());
            for (const ResourceData* data : SortedPointers(entry->languages, byLanguage)) {
                const uint64_t address = uint64_t(sectionAddress) + nextData;
                if (address + data->data.size() > kMax32) return false;
                Write32(&out[size_t(entryAt)], data->language);
                Write32(&out[size_t(entryAt + 4)], uint32_t(nextRecord));
                entryAt += kDirectoryEntrySize;
                uint8_t* record = &out[size_t(nextRecord)];
                Write32(record, uint32_t(address));
                Write32(record + 4, uint32_t(data->data.size()));
                Write32(record + 8, data->codePage);
                nextRecord += kDataEntrySize;
                layout->data.emplace_back(nextData, data->data);
                nextData = AlignUp(nextData + data->data.size(), kDataAlignment);
            }
        }
    }
    layout->size = nextData;
    return uint64_t(sectionAddress) + layout->size <= kMax32;
}

// True when a data directory other than the resources' points into `section`,
// which then holds more than resources and cannot simply be replaced.
bool HoldsOtherDirectories(std::span<const uint8_t> file, const PeImage& image, const Section& section) {
    const uint64_t end = uint64_t(section.virtualAddress) + std::max(section.virtualSize, section.sizeOfRawData);
    for (uint32_t i = 0; i < image.dataDirectoryCount; ++i) {
        // The certificate table is a file offset, not an address.
        if (i == kResourceDirectoryIndex || i == kCertificateDirectoryIndex) continue;
        const auto [address, size] = image.DataDirectory(file, i);
        if (size != 0 && address >= section.virtualAddress && address < end) return true;
    }
    return false;
}

}  // namespace

bool SameName(const ResourceName& a, const ResourceName& b) {
    if (a.IsNumber() || b.IsNumber()) return a.IsNumber() == b.IsNumber() && a.id == b.id;
    return a.text.size() == b.text.size() &&
           std::equal(a.text.begin(), a.text.end(), b.text.begin(),
                      [](char16_t x, char16_t y) { return UpperAscii(x) == UpperAscii(y); });
}

bool NameBefore(const ResourceName& a, const ResourceName& b) {
    if (a.IsNumber() != b.IsNumber()) return !a.IsNumber();
    if (a.IsNumber()) return a.id < b.id;
    return std::lexicographical_compare(a.text.begin(), a.text.end(), b.text.begin(), b.text.end(),
                                        [](char16_t x, char16_t y) { return UpperAscii(x) < UpperAscii(y); });
}

std::string NameText(const ResourceName& name) {
    std::string text = name.IsNumber() ? "#" : "\"";
    if (name.IsNumber()) return text.append(std::to_string(name.id));
    for (char16_t c : name.text) text += c >= 0x20 && c < 0x7F ? char(c) : '?';
    return text + "\"";
}

std::pair<uint32_t, uint32_t> PeImage::DataDirectory(std::span<const uint8_t> file, uint32_t index) const {
    if (index >= dataDirectoryCount) return {0, 0};
    const size_t at = dataDirectoryOffset + kDataDirectorySize * index;
    return {Read32(file, at), Read32(file, at + 4)};
}

bool ReadPeImage(std::span<const uint8_t> file, PeImage* image, std::string* problem) {
    *image = PeImage{};
    if (file.size() < kDosHeaderSize || file[0] != 'M' || file[1] != 'Z') {
        *problem = "not a Windows program: no MZ header";
        return false;
    }
    const uint64_t signature = Read32(file, kDosNewHeaderOffset);
    if (signature > file.size() || file.size() - signature < 4 + kCoffHeaderSize ||
        std::memcmp(&file[size_t(signature)], "PE\0\0", 4) != 0) {
        *problem = "not a Windows program: no PE header";
        return false;
    }
    const size_t coff = size_t(signature) + 4;
    const uint16_t sectionCount = Read16(file, coff + kCoffNumberOfSections);
    const uint16_t optionalSize = Read16(file, coff + kCoffSizeOfOptionalHeader);
    const size_t optional = coff + kCoffHeaderSize;
    if (optionalSize < 2 || file.size() - optional < optionalSize) {
        *problem = "damaged headers: the optional header runs past the end of the file";
        return false;
    }
    const uint16_t magic = Read16(file, optional);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        *problem = "damaged headers: unknown optional header kind " + Hex(magic);
        return false;
    }
    image->pe32Plus = magic == kMagicPe32Plus;
    const size_t countField = image->pe32Plus ? kPe32PlusDirectoryCount : kPe32DirectoryCount;
    const size_t directories = image->pe32Plus ? kPe32PlusDirectories : kPe32Directories;
    if (optionalSize < directories) {
        *problem = "damaged headers: the optional header is too short";
        return false;
    }
    image->coffHeaderOffset = coff;
    image->optionalHeaderOffset = optional;
    image->sectionAlignment = Read32(file, optional + kOptionalSectionAlignment);
    image->fileAlignment = Read32(file, optional + kOptionalFileAlignment);
    image->sizeOfHeaders = Read32(file, optional + kOptionalSizeOfHeaders);
    if (!IsPowerOfTwo(image->sectionAlignment) || !IsPowerOfTwo(image->fileAlignment) ||
        image->fileAlignment > image->sectionAlignment) {
        *problem = "damaged headers: section alignment " + Hex(image->sectionAlignment) + " and file alignment " +
                   Hex(image->fileAlignment) + " do not go together";
        return false;
    }
    image->dataDirectoryOffset = optional + directories;
    image->dataDirectoryCount = uint32_t(
        std::min<uint64_t>(Read32(file, optional + countField), (optionalSize - directories) / kDataDirectorySize));
    image->sectionTableOffset = optional + optionalSize;
    if ((file.size() - image->sectionTableOffset) / kSectionHeaderSize < sectionCount) {
        *problem = "damaged headers: the section table runs past the end of the file";
        return false;
    }
    for (uint16_t i = 0; i < sectionCount; ++i) {
        Section section;
        section.headerOffset = image->sectionTableOffset + kSectionHeaderSize * i;
        std::memcpy(section.name, &file[section.headerOffset], 8);
        section.virtualSize = Read32(file, section.headerOffset + kSectionVirtualSize);
        section.virtualAddress = Read32(file, section.headerOffset + kSectionVirtualAddress);
        section.sizeOfRawData = Read32(file, section.headerOffset + kSectionSizeOfRawData);
        section.pointerToRawData = Read32(file, section.headerOffset + kSectionPointerToRawData);
        section.characteristics = Read32(file, section.headerOffset + kSectionCharacteristics);
        if (section.sizeOfRawData != 0 &&
            uint64_t(section.pointerToRawData) + section.sizeOfRawData > file.size()) {
            *problem = "damaged headers: section '" + std::string(section.name) + "' runs past the end of the file";
            return false;
        }
        if (uint64_t(section.virtualAddress) + std::max(section.virtualSize, section.sizeOfRawData) > kMax32) {
            *problem = "damaged headers: section '" + std::string(section.name) + "' reaches past 4 GiB";
            return false;
        }
        image->sections.push_back(section);
    }
    return true;
}

bool ReadResourceTree(std::span<const uint8_t> file, const PeImage& image, ResourceTree* tree,
                      std::string* problem) {
    *tree = ResourceTree{};
    const auto [address, size] = image.DataDirectory(file, kResourceDirectoryIndex);
    if (address == 0 && size == 0) return true;
    // The tree's offsets count from the directory and stay inside its section.
    for (const Section& section : image.sections) {
        const uint64_t mapped = section.virtualSize != 0 ? std::min(section.virtualSize, section.sizeOfRawData)
                                                         : section.sizeOfRawData;
        if (address >= section.virtualAddress && address < uint64_t(section.virtualAddress) + mapped) {
            const uint64_t skip = address - section.virtualAddress;
            TreeReader reader(file, image, section.pointerToRawData + skip, mapped - skip, problem);
            return reader.Read(tree);
        }
    }
    *problem = "damaged resources: the resource directory at " + Hex(address) + " lies outside the file's sections";
    return false;
}

void SetResource(ResourceTree* tree, const ResourceName& type, const ResourceName& name, uint16_t language,
                 std::span<const uint8_t> data) {
    auto typeAt = std::find_if(tree->types.begin(), tree->types.end(),
                               [&](const ResourceType& t) { return SameName(t.type, type); });
    if (typeAt == tree->types.end()) typeAt = tree->types.insert(typeAt, ResourceType{type, {}, {}});
    std::vector<ResourceEntry>& entries = typeAt->entries;
    auto entryAt = std::find_if(entries.begin(), entries.end(),
                                [&](const ResourceEntry& e) { return SameName(e.name, name); });
    if (entryAt == entries.end()) entryAt = entries.insert(entryAt, ResourceEntry{name, {}, {}});
    std::vector<ResourceData>& languages = entryAt->languages;
    auto dataAt = std::find_if(languages.begin(), languages.end(),
                               [&](const ResourceData& d) { return d.language == language; });
    if (dataAt == languages.end()) dataAt = languages.insert(dataAt, ResourceData{language, 0, {}});
    dataAt->codePage = 0;
    dataAt->data = data;
}

uint64_t RewrittenImage::Size() const {
    uint64_t size = 0;
    for (const Piece& piece : pieces) size += piece.size;
    return size;
}

bool RewriteResources(std::span<const uint8_t> file, const PeImage& image, const ResourceTree& tree,
                      RewrittenImage* out, std::string* problem) {
    *out = RewrittenImage{};
    if (image.DataDirectory(file, kCertificateDirectoryIndex).second != 0) {
        *problem = "the program is signed, and a new resource would break its signature: sign the updater "
                   "after making it";
        return false;
    }
    if (image.dataDirectoryCount <= kResourceDirectoryIndex) {
        *problem = "the program's headers have no entry for resources";
        return false;
    }
    if (image.sections.empty()) {
        *problem = "the program has no sections";
        return false;
    }
    const Section* last = &*std::max_element(image.sections.begin(), image.sections.end(),
                                             [](const Section& a, const Section& b) {
                                                 return a.virtualAddress < b.virtualAddress;
                                             });
    // Where the image's memory ends: a section's size in memory is its virtual
    // size, or its file size when that is zero.
    const auto memoryEnd = [](const Section& section) {
        return uint64_t(section.virtualAddress) +
               (section.virtualSize != 0 ? section.virtualSize : section.sizeOfRawData);
    };
    uint64_t imageEnd = 0, othersEnd = 0;
    for (const Section& section : image.sections) {
        imageEnd = std::max(imageEnd, memoryEnd(section));
        if (&section != last) othersEnd = std::max(othersEnd, memoryEnd(section));
    }
    const uint32_t oldAddress = image.DataDirectory(file, kResourceDirectoryIndex).first;
    // The old resource section is replaced where it stands when it is the last
    // in memory and holds nothing else; its file data is overwritten when
    // nothing follows it in the file either.
    const bool inPlace = oldAddress != 0 && last->virtualAddress == oldAddress &&
                         othersEnd <= last->virtualAddress && !HoldsOtherDirectories(file, image, *last);
    // The headers this writes to must stay in the part of the file that is kept.
    const uint64_t headersEnd = image.sectionTableOffset + kSectionHeaderSize * image.sections.size();
    uint64_t keep = file.size();
    if (inPlace && last->sizeOfRawData != 0 && last->pointerToRawData >= image.sizeOfHeaders &&
        last->pointerToRawData >= headersEnd &&
        last->pointerToRawData % image.fileAlignment == 0 &&
        uint64_t(last->pointerToRawData) + last->sizeOfRawData >= file.size()) {
        keep = last->pointerToRawData;
        for (const Section& section : image.sections) {
            if (&section != last && section.sizeOfRawData != 0 &&
                uint64_t(section.pointerToRawData) + section.sizeOfRawData > last->pointerToRawData) {
                keep = file.size();
            }
        }
    }

    uint64_t headerAt = 0;
    uint64_t address = 0;
    if (inPlace) {
        headerAt = last->headerOffset;
        address = last->virtualAddress;
    } else {
        headerAt = image.sectionTableOffset + kSectionHeaderSize * image.sections.size();
        uint64_t firstData = file.size();
        for (const Section& section : image.sections) {
            if (section.sizeOfRawData != 0) firstData = std::min<uint64_t>(firstData, section.pointerToRawData);
        }
        const bool free = image.sections.size() < 0xFFFF && headerAt + kSectionHeaderSize <= image.sizeOfHeaders &&
                          headerAt + kSectionHeaderSize <= firstData &&
                          std::all_of(file.begin() + ptrdiff_t(headerAt),
                                      file.begin() + ptrdiff_t(headerAt + kSectionHeaderSize),
                                      [](uint8_t b) { return b == 0; });
        if (!free) {
            *problem = "the program's headers have no room for another section";
            return false;
        }
        address = AlignUp(imageEnd, image.sectionAlignment);
    }

    SectionLayout layout;
    const uint64_t dataAt = AlignUp(keep, image.fileAlignment);
    if (address > kMax32 || !LayOutSection(tree, uint32_t(address), &layout) ||
        AlignUp(address + layout.size, image.sectionAlignment) > kMax32 ||
        dataAt + AlignUp(layout.size, image.fileAlignment) > kMax32) {
        *problem = "the resources do not fit in a Windows program (4 GiB in all, 65535 entries of a kind in "
                   "a directory)";
        return false;
    }
    const uint64_t sectionFileSize = AlignUp(layout.size, image.fileAlignment);

    out->head.assign(file.begin(), file.begin() + ptrdiff_t(keep));
    out->head.resize(size_t(dataAt), 0);
    uint8_t* header = &out->head[size_t(headerAt)];
    if (!inPlace) {
        std::memcpy(header, ".rsrc\0\0\0", 8);
        Write32(header + kSectionCharacteristics, kResourceSectionCharacteristics);
        Write16(&out->head[image.coffHeaderOffset + kCoffNumberOfSections], uint16_t(image.sections.size() + 1));
    }
    Write32(header + kSectionVirtualSize, uint32_t(layout.size));
    Write32(header + kSectionVirtualAddress, uint32_t(address));
    Write32(header + kSectionSizeOfRawData, uint32_t(sectionFileSize));
    Write32(header + kSectionPointerToRawData, uint32_t(dataAt));
    uint8_t* resources = &out->head[image.dataDirectoryOffset + kDataDirectorySize * kResourceDirectoryIndex];
    Write32(resources, uint32_t(address));
    Write32(resources + 4, uint32_t(layout.size));
    Write32(&out->head[image.optionalHeaderOffset + kOptionalSizeOfImage],
            uint32_t(AlignUp(address + layout.size, image.sectionAlignment)));

    out->directory = std::move(layout.directory);
    out->pieces.push_back({out->head.data(), out->head.size()});
    out->pieces.push_back({out->directory.data(), out->directory.size()});
    uint64_t written = out->directory.size();
    for (const auto& [offset, bytes] : layout.data) {
        if (offset > written) out->pieces.push_back({nullptr, offset - written});
        out->pieces.push_back({bytes.data(), bytes.size()});
        written = offset + bytes.size();
    }
    if (sectionFileSize > written) out->pieces.push_back({nullptr, sectionFileSize - written});

    // The checksum covers everything, so it is the last field written.
    const uint64_t checksumAt = image.optionalHeaderOffset + kOptionalCheckSum;
    Write32(&out->head[size_t(checksumAt)], 0);
    ImageChecksum checksum(checksumAt);
    for (const RewrittenImage::Piece& piece : out->pieces) checksum.Add(piece.data, piece.size);
    Write32(&out->head[size_t(checksumAt)], checksum.Finish());
    out->sectionAddress = uint32_t(address);
    out->sectionFileOffset = uint32_t(dataAt);
    out->replacedInPlace = inPlace;
    return true;
}

void ImageChecksum::Add(const uint8_t* data, uint64_t size) {
    if (data == nullptr) {  // zeros add nothing
        position_ += size;
        return;
    }
    uint64_t i = 0;
    while (i < size) {
        const bool inField = position_ >= field_ && position_ < field_ + 4;
        uint64_t run = size - i;
        if (position_ < field_) run = std::min(run, field_ - position_);
        run &= ~uint64_t(1);
        if (inField || (position_ & 1) != 0 || run == 0) {
            if (!inField) sum_ += (position_ & 1) != 0 ? uint64_t(data[i]) << 8 : data[i];
            ++i;
            ++position_;
            continue;
        }
        for (uint64_t k = 0; k < run; k += 2) sum_ += uint64_t(data[i + k]) | uint64_t(data[i + k + 1]) << 8;
        i += run;
        position_ += run;
    }
}

uint32_t ImageChecksum::Finish() const {
    uint64_t sum = sum_;
    while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + position_);
}

}  // namespace wq2::pe
