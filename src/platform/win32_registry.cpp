// The current user's registry, read from the Wine prefix's user.reg.
//
// The file is UTF-8 text. Inside quotes Wine escapes what is not plain
// ASCII: "\\" and "\"", C-style letters ("\n", "\t", "\e", ...), octal for
// other control characters ("\1") and "\xHHHH" for a UTF-16 code unit
// beyond ASCII, padded to four digits only when a hex digit follows. Names
// are decoded to Unicode and compared as UTF-8, never as code page 932
// bytes: a CP932 trail byte can be an ASCII letter or "\", which a byte-wise
// fold or split would take for part of the name's spelling.
#include "win32_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "path_map.h"

namespace {

using wq2::platform::AsciiLower;
using wq2::platform::SameIgnoringAsciiCase;

// A user.reg beyond this is not a registry Wine wrote; reading it whole for
// every open would only cost memory.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

constexpr REGSAM kServedAccess = KEY_READ | KEY_WOW64_64KEY | KEY_WOW64_32KEY;

struct Value {
    std::string name;  // UTF-8
    DWORD type = REG_NONE;
    std::vector<BYTE> data;  // as RegQueryValueExA returns it
};

}  // namespace

struct HKEY__ {
    std::string path;  // UTF-8, "\"-separated, as the caller spelled it
    REGSAM access = 0;
    std::vector<Value> values;
};

namespace {

// Keys handed out and not yet closed, so that a stale or foreign handle is
// refused instead of being read through.
std::mutex g_keysLock;
std::unordered_set<HKEY__*> g_keys;

bool IsOpenKey(HKEY key) {
    std::lock_guard<std::mutex> lock(g_keysLock);
    return g_keys.count(key) != 0;
}

// The text of one of the prefix's registry files ("user.reg", "system.reg").
std::optional<std::string> ReadRegistryFile(const char* fileName) {
    std::string path = wq2::platform::WinePrefix() + "/" + fileName;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize) {
        std::string buffer(static_cast<std::size_t>(st.st_size), '\0');
        std::size_t got = 0;
        bool failed = false;
        while (got < buffer.size()) {
            ssize_t n = read(fd, buffer.data() + got, buffer.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                failed = n < 0;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        if (!failed) {
            buffer.resize(got);  // the file may have shrunk under us
            text = std::move(buffer);
        }
    }
    close(fd);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One UTF-8 character at text[pos], advancing pos. False on a malformed,
// overlong or surrogate sequence.
bool DecodeUtf8(std::string_view text, std::size_t& pos, char32_t& out) {
    auto lead = static_cast<unsigned char>(text[pos]);
    int extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        out = lead;
        ++pos;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return false;
    }
    if (pos + static_cast<std::size_t>(extra) >= text.size()) {
        return false;
    }
    for (int i = 1; i <= extra; ++i) {
        auto c = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
        if ((c & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    pos += static_cast<std::size_t>(extra) + 1;
    out = cp;
    return true;
}

void PushUtf16(char32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// The quoted text that starts at text[pos] (just past the opening quote or
// bracket) up to the unescaped closer, as UTF-16 code units. pos ends just
// past the closer. False when there is no closer or the bytes are not UTF-8.
bool Unescape(std::string_view text, std::size_t& pos, char closer, std::u16string& out) {
    out.clear();
    while (pos < text.size()) {
        char c = text[pos];
        if (c == closer) {
            ++pos;
            return true;
        }
        if (c != '\\') {
            char32_t cp = 0;
            if (!DecodeUtf8(text, pos, cp)) {
                return false;
            }
            PushUtf16(cp, out);
            continue;
        }
        if (++pos == text.size()) {
            return false;
        }
        c = text[pos++];
        switch (c) {
        case 'a': out.push_back(u'\a'); break;
        case 'b': out.push_back(u'\b'); break;
        case 'e': out.push_back(char16_t{0x1B}); break;
        case 'f': out.push_back(u'\f'); break;
        case 'n': out.push_back(u'\n'); break;
        case 'r': out.push_back(u'\r'); break;
        case 't': out.push_back(u'\t'); break;
        case 'v': out.push_back(u'\v'); break;
        case 'x': {
            unsigned unit = 0;
            int digits = 0;
            for (; digits < 4 && pos < text.size() && HexDigit(text[pos]) >= 0; ++digits) {
                unit = unit * 16 + static_cast<unsigned>(HexDigit(text[pos++]));
            }
            out.push_back(digits ? static_cast<char16_t>(unit) : u'x');
            break;
        }
        default:
            if (c >= '0' && c <= '7') {
                unsigned unit = static_cast<unsigned>(c - '0');
                for (int digits = 1; digits < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7';
                     ++digits) {
                    unit = unit * 8 + static_cast<unsigned>(text[pos++] - '0');
                }
                out.push_back(static_cast<char16_t>(unit));
            } else {
                // "\\", "\"", "\[", "\]" and anything else stand for themselves.
                out.push_back(static_cast<unsigned char>(c));
            }
            break;
        }
    }
    return false;
}

// UTF-16 to UTF-8; false on a surrogate without its partner, which has no
// UTF-8 form.
bool Utf16ToUtf8(const std::u16string& in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            return false;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// What the ANSI query returns for string data: code page 932 bytes.
bool StringData(const std::u16string& units, std::vector<BYTE>& data) {
    std::string utf8;
    std::string cp932;
    if (!Utf16ToUtf8(units, utf8) || !wq2::platform::Utf8ToCp932(utf8, cp932)) {
        return false;
    }
    data.assign(cp932.begin(), cp932.end());
    return true;
}

// A type number in hex up to ")", as in "str(2)" and "hex(b)".
bool ParseType(std::string_view text, std::size_t& pos, DWORD& type) {
    type = 0;
    int digits = 0;
    for (; pos < text.size() && HexDigit(text[pos]) >= 0; ++digits) {
        if (digits == 8) {
            return false;
        }
        type = type * 16 + static_cast<DWORD>(HexDigit(text[pos++]));
    }
    if (digits == 0 || pos >= text.size() || text[pos] != ')') {
        return false;
    }
    ++pos;
    return true;
}

bool OnlySpaceFrom(std::string_view text, std::size_t pos) {
    for (; pos < text.size(); ++pos) {
        if (text[pos] != ' ' && text[pos] != '\t') {
            return false;
        }
    }
    return true;
}

// "01,02,ff" (continuations already joined); an empty list is no bytes.
bool ParseHexBytes(std::string_view text, std::vector<BYTE>& out) {
    out.clear();
    std::size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
            ++pos;
        }
    };
    skipSpace();
    if (pos == text.size()) {
        return true;
    }
    while (true) {
        skipSpace();
        unsigned byte = 0;
        int digits = 0;
        for (; digits < 2 && pos < text.size() && HexDigit(text[pos]) >= 0; ++digits) {
            byte = byte * 16 + static_cast<unsigned>(HexDigit(text[pos++]));
        }
        if (digits == 0) {
            return false;
        }
        out.push_back(static_cast<BYTE>(byte));
        skipSpace();
        if (pos == text.size()) {
            return true;
        }
        if (text[pos++] != ',') {
            return false;
        }
        skipSpace();
        if (pos == text.size()) {
            return true;  // a trailing comma before a line break Wine folded
        }
    }
}

// The data after "=" of a value line. False when it is not one of the forms
// Wine writes, or a string has no code page 932 form.
bool ParseData(std::string_view text, Value& value) {
    std::size_t pos = 0;
    std::u16string units;
    if (text.substr(0, 1) == "\"" || text.substr(0, 4) == "str(") {
        value.type = REG_SZ;
        if (text[0] == 's') {
            pos = 4;
            if (!ParseType(text, pos, value.type) || text.substr(pos, 1) != ":") {
                return false;
            }
            ++pos;
        }
        if (text.substr(pos, 1) != "\"") {
            return false;
        }
        ++pos;
        if (!Unescape(text, pos, '"', units) || !OnlySpaceFrom(text, pos)) {
            return false;
        }
        units.push_back(u'\0');
        if (IsStringType(value.type)) {
            return StringData(units, value.data);
        }
        // A string under another type is handed back as it is stored.
        value.data.clear();
        for (char16_t unit : units) {
            value.data.push_back(static_cast<BYTE>(unit & 0xFF));
            value.data.push_back(static_cast<BYTE>(unit >> 8));
        }
        return true;
    }
    if (text.substr(0, 6) == "dword:") {
        pos = 6;
        DWORD number = 0;
        int digits = 0;
        for (; digits < 8 && pos < text.size() && HexDigit(text[pos]) >= 0; ++digits) {
            number = number * 16 + static_cast<DWORD>(HexDigit(text[pos++]));
        }
        if (digits == 0 || !OnlySpaceFrom(text, pos)) {
            return false;
        }
        value.type = REG_DWORD;
        value.data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                      static_cast<BYTE>(number >> 24)};
        return true;
    }
    if (text.substr(0, 3) == "hex") {
        pos = 3;
        value.type = REG_BINARY;
        if (text.substr(pos, 1) == "(") {
            ++pos;
            if (!ParseType(text, pos, value.type)) {
                return false;
            }
        }
        if (text.substr(pos, 1) != ":" || !ParseHexBytes(text.substr(pos + 1), value.data)) {
            return false;
        }
        if (IsStringType(value.type)) {
            // Strings Wine could not write as text (no terminator, odd length)
            // are listed as their UTF-16LE bytes; a lone last byte is dropped.
            units.clear();
            for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
                units.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
            }
            return StringData(units, value.data);
        }
        return true;
    }
    return false;
}

std::string_view TrimRight(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    return line;
}

struct KeyContents {
    bool exists = false;
    std::vector<Value> values;
};

// Finds the key at path (UTF-8) in the text of a user.reg.
KeyContents FindKey(std::string_view text, const std::string& path) {
    KeyContents key;
    std::size_t next = 0;
    auto nextLine = [&](std::string_view& line) {
        if (next >= text.size()) {
            return false;
        }
        std::size_t end = text.find('\n', next);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        line = text.substr(next, end - next);
        next = end + 1;
        return true;
    };

    std::string_view line;
    // Wine refuses a file without its header; so do we, rather than guess
    // at another format.
    if (!nextLine(line) || TrimRight(line) != "WINE REGISTRY Version 2") {
        return key;
    }
    key.exists = path.empty();  // the root is there whenever the file is

    bool inKey = false;
    std::u16string units;
    std::string name;
    std::unordered_map<std::string, std::size_t> positions;  // folded value name -> index in key.values
    while (nextLine(line)) {
        line = TrimRight(line);
        if (line.empty()) {
            continue;
        }
        if (line[0] == '[') {
            std::size_t pos = 1;
            inKey = false;
            if (!Unescape(line, pos, ']', units) || !Utf16ToUtf8(units, name)) {
                continue;
            }
            if (SameIgnoringAsciiCase(name, path)) {
                key.exists = inKey = true;
            } else if (name.size() > path.size() && name[path.size()] == '\\' &&
                       SameIgnoringAsciiCase(std::string_view(name).substr(0, path.size()), path)) {
                key.exists = true;
            }
            continue;
        }
        if (!inKey || (line[0] != '"' && line[0] != '@')) {
            continue;  // comments, "#time=" and the like, and other keys
        }

        std::string joined;
        std::string_view entry = line;
        std::size_t equals = std::string_view::npos;
        Value value;
        if (line[0] == '@') {
            equals = 1;
        } else {
            std::size_t pos = 1;
            if (!Unescape(line, pos, '"', units) || !Utf16ToUtf8(units, value.name)) {
                continue;
            }
            equals = pos;
        }
        if (equals >= line.size() || line[equals] != '=') {
            continue;
        }
        // Long hex lists go on over lines that end in "\", each following
        // line indented. Only indented lines are taken, so a stray "\" can
        // never swallow the next key's header.
        if (line.substr(equals + 1, 3) == "hex") {
            while (!entry.empty() && entry.back() == '\\' && next < text.size() &&
                   (text[next] == ' ' || text[next] == '\t')) {
                if (joined.empty()) {
                    joined.assign(entry);
                }
                joined.pop_back();
                std::string_view more;
                nextLine(more);
                more = TrimRight(more);
                std::size_t start = more.find_first_not_of(" \t");
                if (start != std::string_view::npos) {
                    joined.append(more.substr(start));
                }
                entry = joined;
            }
        }
        if (!ParseData(entry.substr(equals + 1), value)) {
            continue;
        }
        // A later line for the same name replaces the earlier one. The
        // lookup goes through an index: a scan of the values so far for
        // every line would make a key with a few hundred thousand values
        // (a 64 MiB file holds millions) take minutes to open.
        std::string folded = value.name;
        for (char& c : folded) {
            c = AsciiLower(c);
        }
        auto [slot, added] = positions.try_emplace(std::move(folded), key.values.size());
        if (added) {
            key.values.push_back(std::move(value));
        } else {
            key.values[slot->second] = std::move(value);
        }
    }
    return key;
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result) {
    if (!result) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    std::string path;
    if (parent == HKEY_CURRENT_USER) {
        // the root: an empty path
    } else if (IsOpenKey(parent)) {
        path = parent->path;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if ((access & ~kServedAccess) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (subKey && *subKey) {
        std::string utf8;
        if (!wq2::platform::Cp932ToUtf8(subKey, utf8)) {
            return ERROR_FILE_NOT_FOUND;
        }
        path += path.empty() ? utf8 : "\\" + utf8;
    }

    std::optional<std::string> text = ReadRegistryFile("user.reg");
    if (!text) {
        return ERROR_FILE_NOT_FOUND;
    }
    KeyContents contents = FindKey(*text, path);
    if (!contents.exists) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto* key = new HKEY__{std::move(path), access, std::move(contents.values)};
    {
        std::lock_guard<std::mutex> lock(g_keysLock);
        g_keys.insert(key);
    }
    *result = key;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
    if (!IsOpenKey(key)) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved || (data && !size)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((key->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    std::string name;
    if (valueName && !wq2::platform::Cp932ToUtf8(valueName, name)) {
        return ERROR_FILE_NOT_FOUND;
    }
    for (const Value& value : key->values) {
        if (!SameIgnoringAsciiCase(value.name, name)) {
            continue;
        }
        if (type) {
            *type = value.type;
        }
        auto needed = static_cast<DWORD>(value.data.size());
        if (data && *size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (data && needed) {
            std::memcpy(data, value.data.data(), needed);
        }
        if (size) {
            *size = needed;
        }
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    {
        std::lock_guard<std::mutex> lock(g_keysLock);
        if (g_keys.erase(key) == 0) {
            return ERROR_INVALID_HANDLE;
        }
    }
    delete key;
    return ERROR_SUCCESS;
}

std::string wq2::platform::ReadPrefixRegistryString(const char* fileName, const std::string& keyPath,
                                                    const std::string& valueName) {
    std::optional<std::string> text = ReadRegistryFile(fileName);
    if (!text) return {};
    KeyContents key = FindKey(*text, keyPath);
    for (const Value& value : key.values) {
        if (!SameIgnoringAsciiCase(value.name, valueName) || !IsStringType(value.type)) continue;
        std::string result(value.data.begin(), value.data.end());
        result.resize(std::strlen(result.c_str()));
        return result;
    }
    return {};
}
