// The updater's application manifest: the one place its exact bytes are
// written down. The resource script embeds it (type 24, id 1, English), and
// the tests compare the built executables' copies with it byte for byte.
//
// One line with no line break: it asks for administrator rights, since the
// game usually lives under Program Files, and declares no dependency, so the
// system's default common controls are the ones the wizard gets.
#pragma once

#include <string>
#include <string_view>

namespace wq2::resources {

// Windows' name of the processor a build is for: "X86" for the 32-bit updater
// that ships, "amd64" for the 64-bit build that tests run under Wine.
inline constexpr std::string_view kManifestArchitectureX86 = "X86";
inline constexpr std::string_view kManifestArchitectureAmd64 = "amd64";

inline std::string UpdaterManifest(std::string_view processorArchitecture) {
    std::string text =
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
        "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"";
    text += processorArchitecture;
    text +=
        "\" name=\"HALCYON.Updater.UPDATE\" type=\"win32\"/>"
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
        "</requestedPrivileges></security></trustInfo></assembly>";
    return text;
}

// The manifest's place among the resources.
inline constexpr int kManifestType = 24;
inline constexpr int kManifestId = 1;
inline constexpr unsigned kManifestLanguage = 1033;  // English (United States)

}  // namespace wq2::resources
