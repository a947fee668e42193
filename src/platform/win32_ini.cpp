// Settings files: a small parser over code page 932 bytes.
#include "win32_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "path_map.h"

namespace {

// Anything bigger is no settings file of ours; reading it as missing keeps a
// hostile or broken file from costing more than this much memory.
constexpr std::size_t kMaxFileBytes = 1u << 20;

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Bytes in the character at text[i]: a lead byte counts as two only when a
// valid second byte follows, so a stray lead byte before a line end or "="
// can never swallow it.
std::size_t CharLength(std::string_view text, std::size_t i) {
    return IsLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                   IsTrail(static_cast<unsigned char>(text[i + 1]))
               ? 2
               : 1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Blanks are ASCII and no second byte is a blank (every second byte is
// 0x40 or above), so trimming byte by byte never cuts into a character.
std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal ignoring ASCII case. A second byte in 0x41-0x5A or 0x61-0x7A looks
// like a letter but belongs to a different character per case, so it must
// match exactly.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size();) {
        std::size_t n = CharLength(a, i);
        if (n == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
                return false;
            }
        } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

// A value wrapped in a matching pair of quotes loses them; a lone quote or
// mismatched pair is data. A quote byte (0x22, 0x27) is never a second byte,
// so looking at the last byte is safe.
std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The name of a section header line (already trimmed), or nothing when the
// line is no header. The name ends at the last "]" that is a character of
// its own, not the second byte of a two-byte character such as 0x83 0x5D.
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    std::size_t close = std::string_view::npos;
    for (std::size_t i = 1; i < line.size(); i += CharLength(line, i)) {
        if (line[i] == ']') {
            close = i;
        }
    }
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return TrimBlanks(line.substr(1, close - 1));
}

// The value of key in section, or nothing. "=" and ";" are below 0x40 and
// CR and LF below that, so none of them is ever a second byte and a plain
// byte search for them is exact.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section, std::string_view key) {
    std::string_view current;  // keys before any header are in section ""
    bool seenWanted = false;   // the first section of the name has ended
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = TrimBlanks(text.substr(pos, end - pos));
        pos = end + 1;

        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (std::optional<std::string_view> name = SectionName(line)) {
            if (SameName(current, section)) {
                seenWanted = true;
            }
            current = *name;
            continue;
        }
        // A repeated section adds nothing: the first one has all the keys.
        if (seenWanted || !SameName(current, section)) {
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        if (SameName(TrimBlanks(line.substr(0, equals)), key)) {
            return TrimBlanks(line.substr(equals + 1));
        }
    }
    return std::nullopt;
}

// The whole file, or nothing when it is missing, not a plain file, unreadable
// or larger than the cap.
std::optional<std::string> ReadSmallFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not hang the updater; it is refused below.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
        close(fd);
        return std::nullopt;
    }
    // Sized from fstat (settings files are small and read often), growing if
    // the file grew since, up to one byte past the cap, so a file that grew
    // beyond it is still caught.
    std::string data(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            if (data.size() > kMaxFileBytes) break;
            data.resize(std::min(data.size() * 2, kMaxFileBytes + 1));
        }
        ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got > kMaxFileBytes) {
        return std::nullopt;
    }
    data.resize(got);
    return data;
}

// True when name is a bare file name: no drive and no separator. A 0x5C
// that is the second byte of a character such as "表" is no separator.
bool IsBareName(std::string_view name) {
    if (name.size() >= 2 && name[1] == ':') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); i += CharLength(name, i)) {
        if (name[i] == '\\' || name[i] == '/') {
            return false;
        }
    }
    return true;
}

std::optional<std::string> ReadSettingsFile(LPCSTR fileName) {
    if (!fileName || !*fileName) {
        return std::nullopt;
    }
    std::string windowsPath = fileName;
    if (IsBareName(windowsPath)) {
        windowsPath = "C:\\windows\\" + windowsPath;
    }
    wq2::platform::MappedPath mapped = wq2::platform::WindowsToUnixPath(windowsPath.c_str());
    if (mapped.error != 0) {
        return std::nullopt;
    }
    return ReadSmallFile(mapped.path);
}

// The default as Windows hands it over: trailing spaces dropped (only
// spaces, not tabs), then a quote pair stripped.
std::string_view CleanDefault(LPCSTR defaultValue) {
    std::string_view value = defaultValue ? defaultValue : "";
    while (!value.empty() && value.back() == ' ') {
        value.remove_suffix(1);
    }
    return StripQuotes(value);
}

// Copies as many whole characters of value as fit in size - 1 bytes.
// Cutting a two-byte character in half would leave a lead byte that
// swallows the terminator for any code that steps by characters, so a
// character that does not fit whole is left out.
//
// The value also ends at a NUL byte in the file: the caller gets a C string
// and takes the count for its length, so bytes after an inner NUL would be
// counted but never seen (a "k=" followed by a NUL would read as present and
// empty with a count above zero). A NUL is below 0x40, never a second byte,
// so stopping there is a character boundary.
DWORD CopyWholeCharacters(std::string_view value, LPSTR buffer, DWORD size) {
    std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t length = 0;
    value = value.substr(0, value.find('\0'));
    while (length < value.size()) {
        std::size_t n = CharLength(value, length);
        if (length + n > room) {
            break;
        }
        length += n;
    }
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                                      LPCSTR fileName) {
    if (!buffer || size == 0) {
        return 0;
    }
    std::optional<std::string_view> value;
    std::optional<std::string> text;
    if (section && key) {
        text = ReadSettingsFile(fileName);
        if (text) {
            value = FindValue(*text, TrimBlanks(section), TrimBlanks(key));
        }
    }
    return CopyWholeCharacters(value ? StripQuotes(*value) : CleanDefault(defaultValue), buffer, size);
}
