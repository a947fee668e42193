// Runs the wq2 tool's commands in-process, as the command line would.
#pragma once

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

}  // namespace wq2test
