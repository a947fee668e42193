// The cross-built Windows updaters, read back from their bytes: the dialog
// templates the resource compiler made must be the templates' definition
// field by field, the manifest must be the expected line in its place, and the
// program must need no DLL beyond the system's. Skipped for a build that has
// no Windows updaters (see windows_stub.h).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialog_templates.h"
#include "pe_file.h"
#include "resource_ids.h"
#include "updater_manifest.h"
#include "windows_stub.h"

namespace {

namespace res = wq2::resources;
using wq2test::PeFile;
using wq2test::WindowsStub;

constexpr uint16_t kDialogType = 5;

// Reads a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records. Throws when a field
// runs past the resource.
class DialogReader {
public:
    explicit DialogReader(const std::string& data) : data_(data) {}

    uint16_t Word() {
        if (at_ + 2 > data_.size()) throw std::runtime_error("template cut short at " + std::to_string(at_));
        const uint16_t value = uint16_t(uint8_t(data_[at_]) | uint8_t(data_[at_ + 1]) << 8);
        at_ += 2;
        return value;
    }
    uint32_t Dword() { return Word() | uint32_t(Word()) << 16; }
    int Short() { return int16_t(Word()); }
    uint8_t Byte() {
        if (at_ + 1 > data_.size()) throw std::runtime_error("template cut short at " + std::to_string(at_));
        return uint8_t(data_[at_++]);
    }

    // A zero-terminated UTF-16 string, as UTF-8.
    std::string Text() {
        std::string text;
        for (uint32_t c = Word(); c != 0; c = Word()) {
            if (c >= 0xD800 && c < 0xDC00) c = 0x10000 + ((c - 0xD800) << 10) + (Word() - 0xDC00);
            if (c < 0x80) {
                text += char(c);
            } else if (c < 0x800) {
                text += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
            } else if (c < 0x10000) {
                text += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
            } else {
                text += {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)),
                         char(0x80 | (c & 0x3F))};
            }
        }
        return text;
    }

    // A name field: none (""), an ordinal ("#n") or a string.
    std::string NameOrOrdinal() {
        const uint16_t first = Word();
        if (first == 0) return "";
        if (first == 0xFFFF) return wq2test::ResourceNumber(Word());
        at_ -= 2;
        return Text();
    }

    // Each item starts on a 4-byte boundary of the template.
    void AlignToDword() { at_ = (at_ + 3) & ~size_t(3); }
    size_t Position() const { return at_; }

private:
    const std::string& data_;
    size_t at_ = 0;
};

// The predefined classes a template names by ordinal, by their names.
std::string ClassName(const std::string& field) {
    if (field == "#128") return "button";
    if (field == "#129") return "edit";
    if (field == "#130") return "static";
    std::string lower = field;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class WindowsUpdaterTest : public ::testing::TestWithParam<WindowsStub> {
protected:
    void SetUp() override {
        const std::filesystem::path path = wq2test::WindowsStubPath(GetParam());
        if (path.empty()) GTEST_SKIP() << GetParam().variable << " is not set: no Windows updater was built";
        ASSERT_TRUE(std::filesystem::is_regular_file(path)) << GetParam().variable << "=" << path;
        try {
            file_ = std::make_unique<PeFile>(ReadAll(path));
        } catch (const std::exception& e) {
            FAIL() << path << ": " << e.what();
        }
        ASSERT_EQ(file_->pe32Plus, GetParam().pe32Plus);
    }

    std::unique_ptr<PeFile> file_;
};

TEST_P(WindowsUpdaterTest, DialogTemplatesAreTheDefinitionFieldByField) {
    for (int id : {IDD_WIZARD, IDD_WIZARD_AGREEMENT}) {
        SCOPED_TRACE("dialog " + std::to_string(id));
        const res::DialogTemplate* expected = res::FindDialogTemplate(id);
        ASSERT_NE(expected, nullptr);
        const PeFile::Resource* found =
            file_->Find(wq2test::ResourceNumber(kDialogType), wq2test::ResourceNumber(id), expected->language);
        ASSERT_NE(found, nullptr) << "no RT_DIALOG " << id << " in language " << expected->language;
        DialogReader dialog(found->data);
        try {
            EXPECT_EQ(dialog.Word(), 1) << "dlgVer";
            EXPECT_EQ(dialog.Word(), 0xFFFF) << "signature: not an extended template";
            EXPECT_EQ(dialog.Dword(), expected->helpId) << "helpID";
            EXPECT_EQ(dialog.Dword(), expected->exStyle) << "exStyle";
            EXPECT_EQ(dialog.Dword(), expected->style) << "style";
            const uint16_t count = dialog.Word();
            ASSERT_EQ(count, expected->controlCount) << "cDlgItems";
            EXPECT_EQ(dialog.Short(), expected->x);
            EXPECT_EQ(dialog.Short(), expected->y);
            EXPECT_EQ(dialog.Short(), expected->cx);
            EXPECT_EQ(dialog.Short(), expected->cy);
            EXPECT_EQ(dialog.NameOrOrdinal(), "") << "menu";
            EXPECT_EQ(dialog.NameOrOrdinal(), "") << "window class";
            EXPECT_EQ(dialog.Text(), expected->title);
            ASSERT_NE(expected->style & res::kDsSetFont, 0u);
            EXPECT_EQ(dialog.Word(), expected->pointSize);
            EXPECT_EQ(dialog.Word(), expected->weight);
            EXPECT_EQ(dialog.Byte(), expected->italic ? 1 : 0);
            EXPECT_EQ(dialog.Byte(), expected->charset);
            EXPECT_EQ(dialog.Text(), expected->fontFace);
            for (uint16_t i = 0; i < count; ++i) {
                const res::DialogControl& control = expected->controls[i];
                SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(control.id) + ")");
                dialog.AlignToDword();
                EXPECT_EQ(dialog.Dword(), control.helpId) << "helpID";
                EXPECT_EQ(dialog.Dword(), control.exStyle) << "exStyle";
                EXPECT_EQ(dialog.Dword(), control.style) << "style";
                EXPECT_EQ(dialog.Short(), control.x);
                EXPECT_EQ(dialog.Short(), control.y);
                EXPECT_EQ(dialog.Short(), control.cx);
                EXPECT_EQ(dialog.Short(), control.cy);
                EXPECT_EQ(dialog.Dword(), uint32_t(control.id));
                EXPECT_EQ(ClassName(dialog.NameOrOrdinal()), control.className);
                EXPECT_EQ(dialog.NameOrOrdinal(), control.text);
                EXPECT_EQ(dialog.Word(), 0) << "creation data";
            }
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
        // Nothing after the last control but the padding to a 4-byte boundary.
        EXPECT_LE(dialog.Position(), found->data.size());
        EXPECT_LT(found->data.size() - dialog.Position(), 4u);
    }
}

TEST_P(WindowsUpdaterTest, ManifestIsTheExpectedLineAndTheOnlyOne) {
    const std::string expected = res::UpdaterManifest(GetParam().architecture);
    ASSERT_EQ(expected.find_first_of("\r\n"), std::string::npos);
    const PeFile::Resource* manifest =
        file_->Find(wq2test::ResourceNumber(res::kManifestType), wq2test::ResourceNumber(res::kManifestId),
                    uint16_t(res::kManifestLanguage));
    ASSERT_NE(manifest, nullptr) << "no manifest at type 24, id 1, language 1033";
    EXPECT_EQ(manifest->data, expected);
    // The toolchain's default manifest, in another language, would be a second one.
    int manifests = 0;
    for (const PeFile::Resource& resource : file_->resources) manifests += resource.type == "#24" ? 1 : 0;
    EXPECT_EQ(manifests, 1);
}

TEST_P(WindowsUpdaterTest, StubCarriesNoPayloadAndNeedsOnlySystemDlls) {
    EXPECT_EQ(file_->Find("UPDATE", wq2test::ResourceNumber(IDR_PAYLOAD), res::kLanguageJapanese), nullptr);
    static const std::set<std::string> kSystem = {"ADVAPI32.DLL", "GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL",
                                                  "OLE32.DLL",    "SHELL32.DLL", "USER32.DLL"};
    const std::vector<std::string> dlls = file_->ImportedDlls();
    ASSERT_FALSE(dlls.empty());
    for (std::string name : dlls) {
        for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(kSystem.count(name) != 0) << name << " is not a system DLL: the build must link statically";
    }
}

TEST_P(WindowsUpdaterTest, ChecksumDefinitionAgreesWithTheLinker) {
    // The linker fills in the checksum; the tests' own computation of it, which
    // judges the made updaters' checksums, must agree.
    if (file_->checksum == 0) GTEST_SKIP() << "the linker left the checksum empty";
    EXPECT_EQ(file_->ComputeChecksum(), file_->checksum);
}

INSTANTIATE_TEST_SUITE_P(Builds, WindowsUpdaterTest, ::testing::ValuesIn(wq2test::kWindowsStubs),
                         [](const auto& testInfo) { return std::string(testInfo.param.architecture); });

}  // namespace
