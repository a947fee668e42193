#include "native_names.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace wq2 {
namespace {

#ifdef _WIN32

constexpr UINT kCodePage932 = 932;

bool WideFromCp932(const std::string& bytes, std::wstring* wide) {
    wide->clear();
    if (bytes.empty()) return true;
    const int size = int(bytes.size());
    const int count = MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, bytes.data(), size,
                                          nullptr, 0);
    if (count <= 0) return false;
    wide->resize(size_t(count));
    return MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, bytes.data(), size,
                               wide->data(), count) == count;
}

// Strict: fails rather than substitute a look-alike ("best fit") or the default "?",
// so a packed name always extracts back to the very same file name.
bool Cp932FromWide(const std::wstring& wide, bool strict, std::string* bytes) {
    bytes->clear();
    if (wide.empty()) return true;
    const int size = int(wide.size());
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = strict ? &usedDefault : nullptr;
    const int count = WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                          nullptr, 0, nullptr, usedDefaultOut);
    if (count <= 0) return false;
    bytes->resize(size_t(count));
    const int written = WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                            bytes->data(), count, nullptr, usedDefaultOut);
    return written == count && !usedDefault;
}

#else

// Converts all of `in`; false on any character the target cannot hold exactly, on an
// invalid or incomplete input sequence, or when the conversion is unknown.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
    out->clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(intptr_t(-1))) return false;
    char* source = const_cast<char*>(in.data());
    size_t sourceLeft = in.size();
    bool ok = true;
    while (ok && sourceLeft > 0) {
        char buffer[256];
        char* target = buffer;
        size_t targetLeft = sizeof buffer;
        const size_t result = iconv(cd, &source, &sourceLeft, &target, &targetLeft);
        out->append(buffer, size_t(target - buffer));
        if (result == size_t(-1)) {
            ok = errno == E2BIG;
        } else if (result != 0) {
            ok = false;  // an approximate ("irreversible") conversion would not round-trip
        }
    }
    iconv_close(cd);
    return ok;
}

// Control bytes always become \xNN, so a hostile name cannot break a listing's lines;
// other bytes of 0x80 and above only when `escapeHigh` is set (for undecodable names).
std::string EscapeBytes(const std::string& bytes, bool escapeHigh) {
    std::string text;
    for (unsigned char c : bytes) {
        if ((c >= 0x20 && c < 0x7F) || (c >= 0x80 && !escapeHigh)) {
            text += char(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            text += escape;
        }
    }
    return text;
}

#endif

}  // namespace

#ifdef _WIN32

bool EntryNameFromFileName(const std::filesystem::path& fileName, std::string* entryName) {
    return Cp932FromWide(fileName.native(), true, entryName);
}

bool FileNameFromEntryName(const std::string& entryName, std::filesystem::path* fileName) {
    std::wstring wide;
    if (!WideFromCp932(entryName, &wide)) return false;
    *fileName = std::filesystem::path(wide);
    return true;
}

std::string DisplayEntryName(const std::string& entryName) { return entryName; }

std::string DisplayPath(const std::filesystem::path& path) {
    std::string bytes;
    Cp932FromWide(path.native(), false, &bytes);
    return bytes;
}

#else

bool EntryNameFromFileName(const std::filesystem::path& fileName, std::string* entryName) {
    return Convert("CP932", "UTF-8", fileName.native(), entryName);
}

bool FileNameFromEntryName(const std::string& entryName, std::filesystem::path* fileName) {
    std::string utf8;
    if (!Convert("UTF-8", "CP932", entryName, &utf8)) return false;
    *fileName = std::filesystem::path(utf8);
    return true;
}

std::string DisplayEntryName(const std::string& entryName) {
    std::string utf8;
    const bool decoded = Convert("UTF-8", "CP932", entryName, &utf8);
    return decoded ? EscapeBytes(utf8, false) : EscapeBytes(entryName, true);
}

std::string DisplayPath(const std::filesystem::path& path) { return path.native(); }

#endif

}  // namespace wq2
