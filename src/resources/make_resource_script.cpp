// Writes the updater's Windows resource script from the dialog templates' one
// definition and the manifest, so that the executable's resources cannot drift
// from what the Linux layer and the tests use. Built for the machine that runs
// the build, and run by it.
//
// Usage: make_resource_script X86|amd64 OUT.rc OUT.manifest
//
// The script is UTF-8 with `#pragma code_page(65001)`: windres reads Shift-JIS
// scripts wrongly wherever a character's second byte is 0x5C (a backslash).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "dialog_templates.h"
#include "resource_ids.h"
#include "updater_manifest.h"

namespace {

namespace res = wq2::resources;

// A string literal of the resource language: quotes doubled, backslashes
// escaped. The texts are UTF-8 and stay so.
std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') {
            quoted += "\"\"";
        } else if (c == '\\') {
            quoted += "\\\\";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// "LANGUAGE primary, sublanguage" for a Windows language id.
std::string LanguageStatement(unsigned language) {
    char text[48];
    std::snprintf(text, sizeof text, "LANGUAGE 0x%02X, 0x%02X", language & 0x3FFu, language >> 10);
    return text;
}

// Every field of the template is written out, the styles whole: a STYLE or
// CONTROL style that left bits to the compiler's defaults could differ from
// the definition without anyone noticing.
void WriteDialog(std::ostream& out, const res::DialogTemplate& dialog) {
    out << LanguageStatement(dialog.language) << '\n'
        << dialog.id << " DIALOGEX " << dialog.x << ", " << dialog.y << ", " << dialog.cx << ", "
        << dialog.cy << ", " << dialog.helpId << '\n'
        << "STYLE " << Hex(dialog.style) << '\n'
        << "EXSTYLE " << Hex(dialog.exStyle) << '\n'
        << "CAPTION " << Quoted(dialog.title) << '\n'
        << "FONT " << dialog.pointSize << ", " << Quoted(dialog.fontFace) << ", " << dialog.weight
        << ", " << (dialog.italic ? 1 : 0) << ", " << dialog.charset << '\n'
        << "BEGIN\n";
    for (std::size_t i = 0; i < dialog.controlCount; ++i) {
        const res::DialogControl& control = dialog.controls[i];
        out << "  CONTROL " << Quoted(control.text) << ", " << control.id << ", "
            << Quoted(control.className) << ", " << Hex(control.style) << ", " << control.x << ", "
            << control.y << ", " << control.cx << ", " << control.cy << ", " << Hex(control.exStyle)
            << ", " << control.helpId << '\n';
    }
    out << "END\n\n";
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    file.close();
    if (file.fail()) std::cerr << "make_resource_script: cannot write " << path << '\n';
    return !file.fail();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::string_view(argv[1]) != res::kManifestArchitectureX86 &&
                      std::string_view(argv[1]) != res::kManifestArchitectureAmd64)) {
        std::cerr << "usage: make_resource_script X86|amd64 OUT.rc OUT.manifest\n";
        return 2;
    }
    const std::string manifestPath = argv[3];
    std::ostringstream script;
    script << "// Made by make_resource_script from the dialog templates' definition\n"
              "// (src/resources/dialog_templates.cpp) and updater_manifest.h. Do not edit.\n"
              "#pragma code_page(65001)\n\n";
    for (int id : {IDD_WIZARD, IDD_WIZARD_AGREEMENT}) {
        const res::DialogTemplate* dialog = res::FindDialogTemplate(id);
        if (dialog == nullptr) {
            std::cerr << "make_resource_script: no template " << id << '\n';
            return 1;
        }
        WriteDialog(script, *dialog);
    }
    // The manifest's bytes come from a file of their own, so that nothing in
    // the script's string syntax can add to them.
    script << LanguageStatement(res::kManifestLanguage) << '\n'
           << res::kManifestId << ' ' << res::kManifestType << ' ' << Quoted(manifestPath) << '\n';
    return WriteFile(argv[2], script.str()) && WriteFile(manifestPath, res::UpdaterManifest(argv[1]))
               ? 0
               : 1;
}
