#include "path_text.h"

#include <cstring>

#include "platform.h"

namespace {

// The last character of `text`, walked as code page 932: a pointer to its first
// byte, or null for an empty text.
const char* LastCharacter(const char* text) {
    const char* last = nullptr;
    for (const char* p = text; *p != '\0'; p = CharNextA(p)) last = p;
    return last;
}

}  // namespace

int AppendPathComponent(char* path, size_t capacity, const char* component) {
    size_t length = std::strlen(path);
    const char* last = LastCharacter(path);
    bool separator = last != nullptr && !(last + 1 == path + length && (*last == '\\' || *last == '/'));
    size_t added = std::strlen(component);
    if (length + (separator ? 1 : 0) + added + 2 > capacity) return 0;
    char* end = path + length;
    if (separator) *end++ = '\\';
    std::memcpy(end, component, added);
    end[added] = '\0';
    end[added + 1] = '\0';
    return 1;
}
