// Joining paths the way the whole updater does.
#pragma once

#include <cstddef>

// Appends `component` to the NUL-terminated `path` held in `capacity` bytes. When
// `path` is not empty and does not end in "\" or "/" (read as code page 932 text, so
// a two-byte character whose trail byte is 0x5C is not a separator), "\" goes first.
// A second NUL follows the terminating one, so the result is also a one-name list
// closed by two NULs. Returns 1, or 0 with `path` unchanged when the result and
// both NULs would not fit.
int AppendPathComponent(char* path, size_t capacity, const char* component);
