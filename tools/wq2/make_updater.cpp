#include "make_updater.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "../../src/platform/resource_table.h"
#include "native_names.h"
#include "payload_reader.h"
#include "pe_resources.h"
#include "temporary_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace wq2 {
namespace {

namespace fs = std::filesystem;
namespace res = wq2::resources;
namespace pe = wq2::pe;

constexpr int kExitOk = 0;
constexpr int kExitBadData = 1;

// Where the updater looks for its payload: type "UPDATE", id 102, Japanese.
constexpr uint16_t kPayloadId = 102;
constexpr uint16_t kPayloadLanguage = 1041;
constexpr const char* kPayloadType = "UPDATE";

constexpr size_t kCopyChunk = size_t(1) << 20;

void PrintError(std::ostream& err, const std::string& message) { err << "wq2: " << message << '\n'; }

// A whole input file of below 4 GiB (the formats' offsets are 32-bit) into
// `image`. False after one of the three messages, each following the file's name:
// it cannot be opened, it is too large, or reading it failed.
bool ReadWholeInput(const fs::path& path, std::ostream& err, std::vector<uint8_t>* image, const char* unopenable,
                    const char* tooLarge, const char* unreadable) {
    std::error_code error;
    const bool regular = fs::is_regular_file(path, error);
    const uint64_t size = regular ? fs::file_size(path, error) : 0;
    std::ifstream in(path, std::ios::binary);
    if (!in || error || !regular) {
        PrintError(err, DisplayPath(path) + unopenable);
        return false;
    }
    if (size > res::kMaxDataSize) {
        PrintError(err, DisplayPath(path) + tooLarge);
        return false;
    }
    image->resize(size_t(size));
    if (!in.read(reinterpret_cast<char*>(image->data()), std::streamsize(size))) {
        PrintError(err, DisplayPath(path) + unreadable);
        return false;
    }
    return true;
}

// The whole payload, checked as the updater's reader will open it. An archive's
// offsets are 32-bit, so it is below 4 GiB.
bool ReadPayload(const fs::path& path, std::ostream& err, std::vector<uint8_t>* image) {
    if (!ReadWholeInput(path, err, image, ": cannot be opened for reading", ": not a usable archive: larger than 4 GiB",
                        ": cannot be read")) {
        return false;
    }
    size_t blockSize = 0;
    ArchiveStatus status = MeasureArchive(image->data(), image->size(), &blockSize);
    if (status == ArchiveStatus::Ok) {
        std::vector<uint8_t> block(blockSize);
        status = LoadArchiveDirectory(image->data(), image->size(), block.data(), blockSize);
    }
    if (status != ArchiveStatus::Ok) {
        PrintError(err, DisplayPath(path) + ": not a usable archive: " + ArchiveStatusText(status));
        return false;
    }
    return true;
}

// The stub's size without a resource table a previous run appended, so that a
// payload is replaced rather than stacked. A trailer that does not check out is
// no table: the file is taken whole.
bool MeasureStub(std::ifstream& stub, uint64_t fileSize, uint64_t* stubSize) {
    *stubSize = fileSize;
    if (fileSize < res::kTrailerSize) return true;
    uint8_t trailer[res::kTrailerSize];
    if (!stub.seekg(std::streamoff(fileSize - res::kTrailerSize)) ||
        !stub.read(reinterpret_cast<char*>(trailer), sizeof trailer)) {
        return false;
    }
    res::Trailer found;
    if (res::ReadTrailer(trailer, fileSize, &found)) *stubSize = found.tableStart;
    return stub.seekg(0).good();
}

bool CopyBytes(std::ifstream& in, std::ofstream& out, uint64_t size) {
    std::vector<char> buffer(size_t(std::min<uint64_t>(size, kCopyChunk)));
    while (size > 0) {
        const size_t chunk = size_t(std::min<uint64_t>(size, buffer.size()));
        if (!in.read(buffer.data(), std::streamsize(chunk)) ||
            !out.write(buffer.data(), std::streamsize(chunk))) {
            return false;
        }
        size -= chunk;
    }
    return true;
}

void WriteZeros(std::ofstream& out, uint64_t count) {
    static const char kZeros[4096] = {};
    while (count > 0) {
        const size_t chunk = size_t(std::min<uint64_t>(count, sizeof kZeros));
        out.write(kZeros, std::streamsize(chunk));
        count -= chunk;
    }
}

// The whole stub. A Windows program's offsets are 32-bit, so it is below 4 GiB.
bool ReadStub(const fs::path& path, std::ostream& err, std::vector<uint8_t>* image) {
    return ReadWholeInput(path, err, image, ": the updater program cannot be read",
                          ": not a Windows program: larger than 4 GiB", ": the updater program cannot be read");
}

// Writes the image piece by piece beside `output` and moves it there once whole.
bool WriteOutput(const fs::path& output, const pe::RewrittenImage& image, std::ostream& err) {
    fs::path partialPath = output;
    partialPath += ".partial";
    TemporaryFile partial(partialPath);
    std::ofstream file(partial.Path(), std::ios::binary | std::ios::trunc);
    if (!file) {
        PrintError(err, DisplayPath(partial.Path()) + ": cannot be created");
        return false;
    }
    for (const pe::RewrittenImage::Piece& piece : image.pieces) {
        if (piece.data == nullptr) {
            WriteZeros(file, piece.size);
        } else {
            file.write(reinterpret_cast<const char*>(piece.data), std::streamsize(piece.size));
        }
    }
    file.close();
    if (file.fail()) {
        PrintError(err, DisplayPath(partial.Path()) + ": write failed");
        return false;
    }
    if (!partial.MoveTo(output)) {
        PrintError(err, DisplayPath(output) + ": cannot be replaced");
        return false;
    }
    return true;
}

int MakeWindowsUpdater(const MakeUpdaterRequest& request, const std::vector<uint8_t>& payload,
                       std::ostream& out, std::ostream& err) {
    std::vector<uint8_t> stub;
    if (!ReadStub(request.stub, err, &stub)) return kExitBadData;
    pe::PeImage image;
    pe::ResourceTree tree;
    pe::RewrittenImage rewritten;
    std::string problem;
    if (!pe::ReadPeImage(stub, &image, &problem) || !pe::ReadResourceTree(stub, image, &tree, &problem)) {
        PrintError(err, DisplayPath(request.stub) + ": " + problem);
        return kExitBadData;
    }
    pe::SetResource(&tree, pe::ResourceName::Text(u"UPDATE"), pe::ResourceName::Number(kPayloadId),
                    kPayloadLanguage, payload);
    if (!pe::RewriteResources(stub, image, tree, &rewritten, &problem)) {
        PrintError(err, DisplayPath(request.stub) + ": " + problem);
        return kExitBadData;
    }
    if (!WriteOutput(request.output, rewritten, err)) return kExitBadData;
    out << "made updater " << DisplayPath(request.output) << ": program " << stub.size()
        << " bytes + payload " << payload.size() << " bytes -> " << rewritten.Size() << " bytes ("
        << (image.pe32Plus ? "64" : "32") << "-bit Windows, resources "
        << (rewritten.replacedInPlace ? "replaced in place" : "in a new section") << ")\n";
    return kExitOk;
}


}  // namespace

fs::path DefaultUpdaterStub(UpdaterTarget target) {
    const char* const fileName = target == UpdaterTarget::Windows ? "updater.exe" : "updater";
#ifdef _WIN32
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), DWORD(self.size()));
    self.resize(length);
    return fs::path(self).parent_path() / fileName;
#else
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (error ? fs::path(".") : self.parent_path()) / fileName;
#endif
}

int MakeUpdater(const MakeUpdaterRequest& request, std::ostream& out, std::ostream& err) {
    std::vector<uint8_t> payload;
    if (!ReadPayload(request.payload, err, &payload)) return kExitBadData;
    if (request.target == UpdaterTarget::Windows) return MakeWindowsUpdater(request, payload, out, err);

    std::error_code error;
    std::ifstream stub(request.stub, std::ios::binary);
    const uint64_t stubFileSize =
        fs::is_regular_file(request.stub, error) ? fs::file_size(request.stub, error) : 0;
    uint64_t stubSize = 0;
    if (!stub || error || !fs::is_regular_file(request.stub, error) ||
        !MeasureStub(stub, stubFileSize, &stubSize)) {
        PrintError(err, DisplayPath(request.stub) + ": the updater program cannot be read");
        return kExitBadData;
    }

    res::TablePlan plan;
    const res::ResourceSpec resource{{0, kPayloadType}, {kPayloadId, ""}, kPayloadLanguage,
                                     payload.size()};
    if (!res::PlanTable(stubSize, {resource}, &plan)) {
        PrintError(err, DisplayPath(request.payload) + ": too large to carry");
        return kExitBadData;
    }

    fs::path partialPath = request.output;
    partialPath += ".partial";
    TemporaryFile partial(partialPath);
    std::ofstream file(partial.Path(), std::ios::binary | std::ios::trunc);
    if (!file) {
        PrintError(err, DisplayPath(partial.Path()) + ": cannot be created");
        return kExitBadData;
    }
    if (!CopyBytes(stub, file, stubSize)) {
        PrintError(err, DisplayPath(request.stub) + ": cannot be copied");
        return kExitBadData;
    }
    WriteZeros(file, plan.dataOffsets[0] - stubSize);
    file.write(reinterpret_cast<const char*>(payload.data()), std::streamsize(payload.size()));
    file.write(reinterpret_cast<const char*>(plan.tail.data()), std::streamsize(plan.tail.size()));
    file.close();
    if (file.fail()) {
        PrintError(err, DisplayPath(partial.Path()) + ": write failed");
        return kExitBadData;
    }
    using fs::perms;
    fs::permissions(partial.Path(),
                    perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                        perms::others_exec,
                    error);
    if (error) {
        PrintError(err, DisplayPath(partial.Path()) + ": cannot be made executable");
        return kExitBadData;
    }
    stub.close();
    if (!partial.MoveTo(request.output)) {
        PrintError(err, DisplayPath(request.output) + ": cannot be replaced");
        return kExitBadData;
    }
    out << "made updater " << DisplayPath(request.output) << ": program " << stubSize
        << " bytes + payload " << payload.size() << " bytes -> " << plan.FileSize() << " bytes\n";
    return kExitOk;
}

}  // namespace wq2
