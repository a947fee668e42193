// The Linux entry point: starts the updater's WinMain as Windows would.
//
// WinMain gets the running executable's instance handle (through which it finds
// the payload it carries) and the command line after the program's name, as one
// code page 932 string quoted the way Windows programs split it again.
#include <string>

#include "path_map.h"
#include "win32_resources.h"
#include "win32_types.h"

#ifndef SW_SHOWNORMAL
#define SW_SHOWNORMAL 1
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace {

// Appends one argument so that the usual Windows splitting gives it back:
// quoted when empty or holding blanks or quotes; inside quotes, a run of
// backslashes is doubled where a quote follows it (the closing one included)
// and each quote is escaped. The second byte of a two-byte character may be
// 0x5C, the backslash: it is part of its character and never doubled.
void AppendQuoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (size_t i = 0; i < arg.size(); ++i) {
        const char c = arg[i];
        const unsigned char byte = static_cast<unsigned char>(c);
        if (((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) && i + 1 < arg.size()) {
            line.append(backslashes, '\\');
            backslashes = 0;
            line += c;
            line += arg[++i];
            continue;
        }
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        line.append(backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

}  // namespace

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        const std::string utf8 = argv[i];
        std::string text;
        // A name with no code page 932 form is passed as it is: whatever the
        // updater does with it then fails as it would for a missing file.
        if (!wq2::platform::Utf8ToCp932(utf8, text)) text = utf8;
        if (i > 1) commandLine += ' ';
        AppendQuoted(commandLine, text);
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWNORMAL);
}
