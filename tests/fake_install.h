// A throw-away Wine-style prefix for the updater's logic: drive C: is a temporary
// folder, the installation record goes into the prefix's user.reg, the payload is
// packed in memory and opened as the running program's, and every message box is
// recorded (and answered by a replaceable rule) instead of shown.
//
// Text literals in the suites that use this are code page 932 bytes, as the
// updater's own are, so files written from them are what an installer writes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "payload_archive.h"
#include "payload_writer.h"
#include "platform.h"
#include "saved_variable.h"
#include "startup.h"
#include "updater_state.h"

namespace wq2test {

namespace fs = std::filesystem;

struct RecordedBox {
    std::string text;
    std::string caption;
    UINT type;
    HWND owner;
    bool operator==(const RecordedBox&) const = default;
};

// Boxes of the current test, and how they are answered (OK unless a test says).
inline std::vector<RecordedBox> recordedBoxes;
inline std::function<int(const RecordedBox&)> boxAnswer;

inline int RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    recordedBoxes.push_back({text, caption, type, owner});
    return boxAnswer ? boxAnswer(recordedBoxes.back()) : IDOK;
}

// One ini line list: "[SECTION]" lines and "Key=Value" lines, joined with CR LF.
using IniLines = std::vector<std::string>;

struct PayloadFile {
    std::string name;
    std::string content;
    bool stored = false;  // kept as it is rather than compressed where that helps
};

// A registry value as user.reg keeps it: the text after "=" (e.g. "\"C:\\\\Game\""
// for a string, "dword:00000002").
struct RegValue {
    std::string name;
    std::string data;
};

class FakeInstall : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("wq2-install-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "prefix" / "dosdevices");
        fs::create_directories(root_ / "c");
        fs::create_directory_symlink(root_ / "c", root_ / "prefix" / "dosdevices" / "c:");
        setenv("WINEPREFIX", (root_ / "prefix").c_str(), 1);
        ResetUpdaterState();
        recordedBoxes.clear();
        boxAnswer = nullptr;
        previousHandler_ = SetMessageBoxHandler(RecordBox);
    }

    void TearDown() override {
        CleanUp();
        ResetUpdaterState();
        SetMessageBoxHandler(previousHandler_);
        boxAnswer = nullptr;
        fs::remove_all(root_);
    }

public:
    // The Unix path of a path under drive C: given with "/" separators.
    fs::path C(const std::string& rest) const { return root_ / "c" / rest; }

    static void WriteBytes(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    static std::string ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

protected:
    static std::string Ini(const IniLines& lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        return text;
    }

    // Packs `files` and opens the result as the running program's payload.
    void UsePayload(const std::vector<PayloadFile>& files) {
        std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
        wq2::PayloadWriter writer(out, {});
        std::string error;
        for (const PayloadFile& f : files) {
            ASSERT_TRUE(writer.AddEntry(f.name, kEntryTime, reinterpret_cast<const uint8_t*>(f.content.data()),
                                        f.content.size(),
                                        f.stored ? wq2::EntryStorage::Stored : wq2::EntryStorage::Auto, &error));
        }
        ASSERT_TRUE(writer.Finish(&error)) << error;
        std::string bytes = out.str();
        image_.assign(bytes.begin(), bytes.end());
        Updater.PayloadImage = image_.data();
        Updater.PayloadSize = uint32_t(image_.size());
        if (Updater.PayloadArchive != nullptr) GlobalFree(Updater.PayloadArchive);
        Updater.PayloadArchive = OpenPayloadArchive();
        ASSERT_NE(Updater.PayloadArchive, nullptr);
    }

    // Writes `settings` as the temporary "UPDATE.INI" the start-up would have made.
    void UseUpdateIni(const IniLines& settings) {
        fs::path path = C("temp/UPDATE.INI");
        WriteBytes(path, Ini(settings));
        lstrcpyA(Updater.TempSettingsPath, "C:\\temp\\UPDATE.INI");
    }

    // Writes the prefix's user.reg with one key under HKEY_CURRENT_USER, its path
    // given with single backslashes ("Software\\Maker\\Game").
    void UseInstallRecord(const std::string& keyPath, const std::vector<RegValue>& values) {
        std::string escaped;
        for (char c : keyPath) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n";
        text += "#arch=win64\n\n[" + escaped + "] 1700000000\n#time=1d9a1b2c3d4e5f6\n";
        for (const RegValue& v : values) text += "\"" + v.name + "\"=" + v.data + "\n";
        WriteBytes(root_ / "prefix" / "user.reg", text);
    }

    static constexpr uint64_t kEntryTime = 0x01D9A1B2C3D4E5F6ull;  // a FILETIME in 2023

    fs::path root_;
    std::vector<uint8_t> image_;
    SavedVariable savedPrefix_{"WINEPREFIX"};
    MessageBoxHandler previousHandler_ = nullptr;
};

}  // namespace wq2test
