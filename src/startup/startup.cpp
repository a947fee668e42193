#include "startup.h"

#include <cstring>

#include "launch_sequence.h"
#include "path_text.h"
#include "payload_archive.h"
#include "updater_state.h"

namespace {

constexpr int kPayloadId = 102;
constexpr char kPayloadType[] = "UPDATE";
constexpr char kSettingsName[] = "UPDATE.INI";

// Locates the payload resource and records where the platform maps it. False when
// it is missing, empty, or cannot be loaded.
bool LocatePayload(HINSTANCE instance) {
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(kPayloadId), kPayloadType);
    if (found == nullptr) return false;
    DWORD size = SizeofResource(instance, found);
    HGLOBAL loaded = size != 0 ? LoadResource(instance, found) : nullptr;
    const void* image = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (image == nullptr) return false;
    Updater.PayloadImage = static_cast<const uint8_t*>(image);
    Updater.PayloadSize = size;
    return true;
}

// Writes "UPDATE.INI" from the payload into the temporary folder.
bool WriteSettingsFile() {
    char folder[kPathSize] = {};
    DWORD length = GetTempPathA(kPathSize, folder);
    if (length == 0 || length >= DWORD(kPathSize)) return false;
    // Composed aside, so TempSettingsPath names a file only once it is a whole path.
    char path[kPathSize];
    lstrcpyA(path, folder);
    if (!AppendPathComponent(path, sizeof path, kSettingsName)) return false;
    std::memcpy(Updater.TempSettingsPath, path, sizeof path);
    return ExtractEntryToFile(kSettingsName, Updater.TempSettingsPath, 0) != 0;
}

int End(int code) {
    CleanUp();
    return code;
}

}  // namespace

int RunStartup(HINSTANCE instance) {
    ResetUpdaterState();
    CoInitialize(nullptr);
    if (!LocatePayload(instance)) return End(0);
    Updater.PayloadArchive = OpenPayloadArchive();
    if (Updater.PayloadArchive == nullptr) {
        ShowErrorBox("RESOURCE READ ERROR");
        return End(0);
    }
    if (!WriteSettingsFile()) return End(0);
    return End(RunLaunchSequence(instance));
}
