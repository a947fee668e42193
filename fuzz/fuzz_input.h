// What the file-reader fuzz targets share: a failed promise stops the run
// where the fuzzer sees it, and each input becomes the file the reader reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzinput {

inline void Check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

// Replaces the file at `path` with the input's bytes.
inline void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::abort();
    }
    if (size) {
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);
}

}  // namespace fuzzinput
