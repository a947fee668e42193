// Reads arbitrary bytes as a Wine prefix's user.reg through RegOpenKeyExA and
// RegQueryValueExA, for a few keys and values and buffers of several sizes,
// and checks what every answer promises: a size query and a read agree, a
// short buffer gets ERROR_MORE_DATA with the size needed and is left alone,
// and nothing is written past the value.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "win32_registry.h"

namespace {

constexpr LSTATUS kOk = static_cast<LSTATUS>(ERROR_SUCCESS);
constexpr LSTATUS kMissing = static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
constexpr LSTATUS kMoreData = static_cast<LSTATUS>(ERROR_MORE_DATA);

std::string MakePrefix() {
    char pattern[] = "/tmp/wq2-reg-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::abort();
    }
    setenv("WINEPREFIX", pattern, 1);
    return std::string(pattern) + "/user.reg";
}

using fuzzinput::Check;

void Query(HKEY key, const char* name) {
    constexpr BYTE kFill = 0xA5;
    DWORD type = 0;
    DWORD needed = 0;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &needed);
    if (status != kOk) {
        Check(status == kMissing);
        return;
    }
    for (DWORD size : {DWORD{0}, DWORD{1}, needed ? needed - 1 : 0, needed, needed + 8}) {
        std::vector<BYTE> buffer(size + 1, kFill);  // one guard byte past the size passed
        DWORD got = size;
        DWORD gotType = 0;
        status = RegQueryValueExA(key, name, nullptr, &gotType, buffer.data(), &got);
        Check(gotType == type);
        Check(got == needed);
        if (size < needed) {
            Check(status == kMoreData);
            for (BYTE b : buffer) {
                Check(b == kFill);
            }
        } else {
            Check(status == kOk);
            for (std::size_t i = needed; i < buffer.size(); ++i) {
                Check(buffer[i] == kFill);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = MakePrefix();
    fuzzinput::WriteInput(path, data, size);

    static const struct {
        const char* key;
        const char* values[3];
    } keys[] = {
        {"Software\\Maker\\Game", {"InstPath", "InstMode", nullptr}},
        // "Software\デモ工房\表示デモ Game" in code page 932, as the seed from Wine spells it.
        {"SOFTWARE\\\x83\x66\x83\x82\x8D\x48\x96\x5B\\\x95\x5C\x8E\xA6\x83\x66\x83\x82 game",
         {"InstPath", "DataPath", "InstMode"}},
        {"Control Panel\\Desktop\\WindowMetrics", {"CaptionFont", "BorderWidth", ""}},
        {"", {nullptr, "K", "\x83\x41"}},
    };
    for (const auto& k : keys) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, k.key, 0, KEY_READ, &key);
        if (status != kOk) {
            Check(status == kMissing && key == nullptr);
            continue;
        }
        for (const char* value : k.values) {
            Query(key, value);
        }
        // A subkey below it, opened through the handle.
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, "Sub", 0, KEY_QUERY_VALUE, &sub) == kOk) {
            Query(sub, "V");
            Check(RegCloseKey(sub) == kOk);
        }
        Check(RegCloseKey(key) == kOk);
    }
    return 0;
}
