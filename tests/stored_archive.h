// A one-entry payload archive for the make-updater tests: the entry
// "data.bin" stored as it is, so the payload's bytes are easy to tell apart.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "payload_writer.h"

namespace wq2test {

inline void WriteStoredArchive(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    wq2::PayloadWriter writer(out, {});
    std::string error;
    EXPECT_TRUE(writer.AddEntry("data.bin", 0, reinterpret_cast<const uint8_t*>(content.data()), content.size(),
                                wq2::EntryStorage::Stored, &error))
        << error;
    EXPECT_TRUE(writer.Finish(&error)) << error;
}

}  // namespace wq2test
