// Runs the wq2 tool's commands in-process, as the command line would, and the
// small file helpers its tests share.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "wq2_commands.h"

namespace wq2test {

struct RunResult {
    int code;
    std::string out;
    std::string err;
};

// `args` are the words after "wq2".
inline RunResult RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> storage = {"wq2"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    const int code = wq2::RunWq2(int(storage.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

// `size` bytes that do not compress, the same for the same seed.
inline std::string Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = char(random());
    return bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace wq2test
