#include "settings_access.h"

#include <cstring>

#include "platform.h"
#include "updater_state.h"

namespace {

constexpr char kSetupSection[] = "SETUP";
// A number is read through a buffer of this size, so at most 19 characters count.
constexpr int kNumberSize = 20;

bool IsListTerminator(char c) { return c == '\0' || c == '\n' || c == '\r' || c == ','; }

bool IsCLocaleSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The shared body of both string readers: the buffer is cleared first, so a
// missing value always leaves an empty string.
int ReadIniString(const char* path, const char* section, const char* key, char* buffer, int size,
                  const char* missingFormat, const char* first, const char* second) {
    if (size <= 0) return 0;
    std::memset(buffer, 0, size_t(size));
    if (GetPrivateProfileStringA(section, key, "", buffer, DWORD(size), path) != 0) return 1;
    if (Updater.SilentMissingKeys == 0) {
        char message[kMessageSize];
        wsprintfA(message, missingFormat, first, second);
        SetupErrorBox(message);
    }
    return 0;
}

// Where the digits of `text` begin: past leading white space and the sign, which
// goes to `*negative`.
const char* SkipToDigits(const char* text, bool* negative) {
    while (IsCLocaleSpace(*text)) ++text;
    *negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    return text;
}

}  // namespace

void SetupErrorBox(const char* text) {
    MessageBoxA(Updater.WizardWindow, text, "DEDODEDO", MB_ICONERROR);
}

int ReadSetupString(const char* key, char* buffer, int size) {
    return ReadIniString(Updater.SetupIniPath, kSetupSection, key, buffer, size,
                         "SETUP.INI : %s キーが存在しません", key, nullptr);
}

int ReadUpdateString(const char* section, const char* key, char* buffer, int size) {
    return ReadIniString(Updater.TempSettingsPath, section, key, buffer, size, "%s : %s キーが存在しません",
                         section, key);
}

int ReadSetupInt(const char* key, int32_t* value) {
    char text[kNumberSize];
    if (!ReadSetupString(key, text, sizeof text)) return 0;
    *value = DecimalToInt32(text);
    return 1;
}

int32_t DecimalToInt32(const char* text) {
    bool negative = false;
    const char* p = SkipToDigits(text, &negative);
    // Accumulated as a magnitude that stops growing past the 32-bit range.
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= int64_t(INT32_MAX) + 1) magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative) return magnitude > int64_t(INT32_MAX) ? INT32_MIN : int32_t(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : int32_t(magnitude);
}

uint64_t DecimalToUint64(const char* text) {
    bool negative = false;
    const char* p = SkipToDigits(text, &negative);
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned digit = unsigned(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? uint64_t(0) - value : value;
}

int NextListField(char* field, const char** cursor) {
    int cut = 0;
    return NextListFieldChecked(field, cursor, &cut);
}

int NextListFieldChecked(char* field, const char** cursor, int* cut) {
    *cut = 0;
    const char* p = *cursor;
    while (*p == ' ') ++p;
    if (IsListTerminator(*p)) return 0;
    // One character and a colon: a number for the field. The second byte is looked
    // at only when the first is not a terminator, so the read stays in the text.
    if (p[1] == ':') {
        Updater.ListFieldNumber = (p[0] >= '0' && p[0] <= '9') ? p[0] - '0' : 0;
        p += 2;
    }
    // Copied up to the terminator; what does not fit the slot is dropped at a whole
    // character, so a cut never leaves half of a two-byte character behind.
    size_t length = 0;
    bool fits = true;
    while (!IsListTerminator(*p)) {
        size_t width = (IsDBCSLeadByte(BYTE(*p)) && !IsListTerminator(p[1])) ? 2 : 1;
        if (fits && length + width <= size_t(kPathSize - 1)) {
            std::memcpy(field + length, p, width);
            length += width;
        } else {
            fits = false;
        }
        p += width;
    }
    field[length] = '\0';
    *cut = fits ? 0 : 1;
    // A field ended by the end of the text leaves the cursor on the NUL, so the
    // next call ends the list instead of reading past the text.
    *cursor = *p == '\0' ? p : p + 1;
    return 1;
}
