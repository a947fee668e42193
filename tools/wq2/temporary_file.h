// An output built beside its final place and moved there only once it is whole,
// so a failed command never leaves a half-written file under the final name.
#pragma once

#include <filesystem>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace wq2 {

// Renames `from` over `to`, replacing an existing file.
inline bool ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return !error;
#endif
}

// The file being built; removed unless it was moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        std::error_code ignored;
        if (!kept_) std::filesystem::remove(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }
    bool MoveTo(const std::filesystem::path& target) {
        kept_ = ReplaceFile(path_, target);
        return kept_;
    }

private:
    std::filesystem::path path_;
    bool kept_ = false;
};

}  // namespace wq2
