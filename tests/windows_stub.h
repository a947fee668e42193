// The cross-built Windows updaters the tests read: WQ2_WIN32_UPDATER (i686,
// the one that ships) and WQ2_WIN64_UPDATER (x86_64, the one run under Wine).
// Each is the CMake cache variable of that name, which scripts/test.sh sets
// after building them, unless the environment variable of that name is set.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "updater_manifest.h"

namespace wq2test {

struct WindowsStub {
    const char* variable;
    const char* built;              // the path configured at build time
    std::string_view architecture;  // as the manifest names it
    bool pe32Plus;
};

inline void PrintTo(const WindowsStub& stub, std::ostream* os) { *os << stub.variable; }

inline constexpr WindowsStub kWindowsStubs[] = {
    {"WQ2_WIN32_UPDATER", WQ2_WIN32_UPDATER_BUILT, wq2::resources::kManifestArchitectureX86, false},
    {"WQ2_WIN64_UPDATER", WQ2_WIN64_UPDATER_BUILT, wq2::resources::kManifestArchitectureAmd64, true},
};

// The stub's path; empty when the build has no Windows updater to look at.
inline std::filesystem::path WindowsStubPath(const WindowsStub& stub) {
    const char* value = std::getenv(stub.variable);
    return std::filesystem::path(value != nullptr ? value : stub.built);
}

}  // namespace wq2test
