#include <iostream>
#include <string>
#include <vector>

#include "wq2_commands.h"

#ifdef _WIN32
#include <windows.h>

// The narrow argv of a Windows program is in the ANSI code page and loses every
// character outside it; take the wide command line and hand the commands UTF-8.
int main() {
    int argc = 0;
    wchar_t** wideArgv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!wideArgv) {
        std::cerr << "wq2: cannot read the command line\n";
        return 2;
    }
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, wideArgv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size_t(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wideArgv[i], -1, arg.data(), size, nullptr, nullptr);
        arg.resize(arg.size() - 1);  // the terminator counted by the conversion
        args.push_back(std::move(arg));
    }
    LocalFree(wideArgv);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return wq2::RunWq2(argc, argv.data(), std::cout, std::cerr);
}

#else

int main(int argc, char** argv) { return wq2::RunWq2(argc, argv, std::cout, std::cerr); }

#endif
