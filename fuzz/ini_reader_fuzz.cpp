// Reads arbitrary bytes as a settings file through GetPrivateProfileStringA,
// for a few section and key names and buffers of several sizes, and checks
// what every answer promises: a terminated string whose length is the count,
// nothing written past the terminator, and a short buffer holding the start
// of what a long one holds, short by at most one two-byte character.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "win32_ini.h"

namespace {

// A scratch prefix whose drive C: is a scratch folder; made once per process.
std::string MakePrefix() {
    char pattern[] = "/tmp/wq2-ini-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::abort();
    }
    std::string root = pattern;
    for (const char* folder : {"/prefix", "/prefix/dosdevices", "/c"}) {
        if (mkdir((root + folder).c_str(), 0700) != 0) {
            std::abort();
        }
    }
    if (symlink((root + "/c").c_str(), (root + "/prefix/dosdevices/c:").c_str()) != 0) {
        std::abort();
    }
    setenv("WINEPREFIX", (root + "/prefix").c_str(), 1);
    return root + "/c/fuzz.ini";
}

using fuzzinput::Check;

std::string Get(const char* section, const char* key, DWORD size) {
    constexpr char kFill = '\x7F';
    std::vector<char> buffer(size, kFill);
    DWORD count = GetPrivateProfileStringA(section, key, "def\x95\x5C", buffer.data(), size, "C:\\fuzz.ini");
    Check(count < size);
    Check(buffer[count] == '\0');
    Check(std::strlen(buffer.data()) == count);
    for (std::size_t i = count + 1; i < size; ++i) {
        Check(buffer[i] == kFill);
    }
    return std::string(buffer.data(), count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = MakePrefix();
    fuzzinput::WriteInput(path, data, size);

    static const struct {
        const char* section;
        const char* key;
    } names[] = {
        {"SETUP", "CompanyName"},
        {"update", "UpdateFile00"},
        {"", "k"},
        {"\x95\x5C", "\x83\x5D"},  // "表", "ゾ": second bytes "\" and "]"
    };
    std::string whole[4];
    for (std::size_t i = 0; i < 4; ++i) {
        whole[i] = Get(names[i].section, names[i].key, 4096);
    }
    // Every call reads the file afresh, so only one short buffer per input:
    // its name pair and size come from the input's length.
    const std::size_t pick = size % 4;
    const DWORD small = static_cast<DWORD>(1 + (size / 4) % 6);
    const std::string cut = Get(names[pick].section, names[pick].key, small);
    Check(whole[pick].compare(0, cut.size(), cut) == 0);
    Check(cut.size() + 1 >= std::min<std::size_t>(whole[pick].size(), small - 1));
    return 0;
}
