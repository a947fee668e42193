// Text in code page 932, the formatter and heap blocks.
#include <cstdlib>
#include <cstring>

#include "win32_files.h"

namespace {

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Compares character by character, so that a two-byte character's second
// byte (which may look like an ASCII letter or "\") is never folded.
int Compare(LPCSTR a, LPCSTR b, bool ignoreCase) {
    const auto* x = reinterpret_cast<const unsigned char*>(a ? a : "");
    const auto* y = reinterpret_cast<const unsigned char*>(b ? b : "");
    bool inCharacter = false;  // x and y are at a second byte
    for (;; ++x, ++y) {
        unsigned char cx = (ignoreCase && !inCharacter) ? FoldAscii(*x) : *x;
        unsigned char cy = (ignoreCase && !inCharacter) ? FoldAscii(*y) : *y;
        if (cx != cy) {
            return cx < cy ? -1 : 1;
        }
        if (cx == 0) {
            return 0;
        }
        inCharacter = !inCharacter && IsLead(*x);
    }
}

// ---- The formatter: an output cursor that stops at the cap.

constexpr std::size_t kFormatCap = 1024;  // bytes, the terminator included

struct Output {
    char* out;
    std::size_t length = 0;

    void Put(char c) {
        if (length < kFormatCap - 1) {
            out[length++] = c;
        }
    }
    void Put(const char* text, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            Put(text[i]);
        }
    }
    void Pad(char c, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            Put(c);
        }
    }
};

struct Conversion {
    bool left = false;
    bool zero = false;
    std::size_t width = 0;
    long precision = -1;
};

// Reads flags, width, precision and size letters; returns the conversion
// letter's position.
const char* ParseConversion(const char* f, Conversion& conv) {
    for (;; ++f) {
        if (*f == '-') {
            conv.left = true;
        } else if (*f == '0') {
            conv.zero = true;
        } else {
            break;
        }
    }
    for (; *f >= '0' && *f <= '9'; ++f) {
        conv.width = conv.width < kFormatCap ? conv.width * 10 + static_cast<std::size_t>(*f - '0') : conv.width;
    }
    if (*f == '.') {
        conv.precision = 0;
        for (++f; *f >= '0' && *f <= '9'; ++f) {
            conv.precision = conv.precision < static_cast<long>(kFormatCap) ? conv.precision * 10 + (*f - '0')
                                                                            : conv.precision;
        }
    }
    // "l" and "h" change nothing: an int and a long are both 32 bits on Windows.
    while (*f == 'l' || *f == 'h') {
        ++f;
    }
    return f;
}

// Writes sign and digits padded to the width: zeros go between the sign
// and the digits, spaces before the sign (or after everything with "-").
void PutNumber(Output& out, const Conversion& conv, bool negative, unsigned long value, unsigned base, bool upper) {
    char digits[24];
    std::size_t count = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[count++] = set[value % base];
        value /= base;
    } while (value != 0);
    std::size_t length = count + (negative ? 1 : 0);
    std::size_t pad = conv.width > length ? conv.width - length : 0;
    if (!conv.left && !conv.zero) {
        out.Pad(' ', pad);
    }
    if (negative) {
        out.Put('-');
    }
    if (!conv.left && conv.zero) {
        out.Pad('0', pad);
    }
    while (count > 0) {
        out.Put(digits[--count]);
    }
    if (conv.left) {
        out.Pad(' ', pad);
    }
}

void PutText(Output& out, const Conversion& conv, const char* text, std::size_t length) {
    if (conv.precision >= 0 && length > static_cast<std::size_t>(conv.precision)) {
        length = static_cast<std::size_t>(conv.precision);
    }
    std::size_t pad = conv.width > length ? conv.width - length : 0;
    if (!conv.left) {
        out.Pad(conv.zero ? '0' : ' ', pad);
    }
    out.Put(text, length);
    if (conv.left) {
        out.Pad(' ', pad);
    }
}

}  // namespace

LPSTR WINAPI lstrcpyA(LPSTR dest, LPCSTR src) {
    if (!dest || !src) {
        return nullptr;
    }
    return std::strcpy(dest, src);
}

LPSTR WINAPI lstrcatA(LPSTR dest, LPCSTR src) {
    if (!dest || !src) {
        return nullptr;
    }
    return std::strcat(dest, src);
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return Compare(a, b, false); }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return Compare(a, b, true); }

LPSTR WINAPI CharNextA(LPCSTR text) {
    if (!text || *text == '\0') {
        return const_cast<LPSTR>(text);
    }
    bool pair = IsLead(static_cast<unsigned char>(text[0])) && text[1] != '\0';
    return const_cast<LPSTR>(text + (pair ? 2 : 1));
}

BOOL WINAPI IsDBCSLeadByte(BYTE testChar) { return IsLead(testChar) ? TRUE : FALSE; }

int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
    Output o{out};
    for (const char* f = format; f && *f;) {
        if (*f != '%') {
            o.Put(*f++);
            continue;
        }
        Conversion conv;
        f = ParseConversion(f + 1, conv);
        const char conversion = *f;
        if (conversion == '\0') {
            break;
        }
        ++f;
        switch (conversion) {
        case 's': {
            const char* text = va_arg(args, const char*);
            text = text ? text : "(null)";
            PutText(o, conv, text, std::strlen(text));
            break;
        }
        case 'c': {
            const char c = static_cast<char>(va_arg(args, int));
            PutText(o, conv, &c, 1);
            break;
        }
        case 'd':
        case 'i': {
            const int value = va_arg(args, int);
            const long wide = value;
            PutNumber(o, conv, wide < 0, static_cast<unsigned long>(wide < 0 ? -wide : wide), 10, false);
            break;
        }
        case 'u':
            PutNumber(o, conv, false, va_arg(args, unsigned), 10, false);
            break;
        case 'x':
        case 'X':
            PutNumber(o, conv, false, va_arg(args, unsigned), 16, conversion == 'X');
            break;
        default:  // "%%", and any other letter, stands for itself
            o.Put(conversion);
            break;
        }
    }
    out[o.length] = '\0';
    return static_cast<int>(o.length);
}

int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(out, format, args);
    va_end(args);
    return length;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (flags & GMEM_MOVEABLE) {
        SetLastError(ERROR_INVALID_PARAMETER);  // only fixed blocks: callers use the pointer directly
        return nullptr;
    }
    const SIZE_T size = bytes == 0 ? 1 : bytes;
    void* block = (flags & GMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
    std::free(memory);
    return nullptr;
}
