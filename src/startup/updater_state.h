// The updater's one process-wide state record. Each group of fields belongs to
// the part of the program that writes it; the rest only read them.
#pragma once

#include <cstdint>

#include "platform.h"

inline constexpr int kPathSize = 260;      // paths, names and most values, NUL included
inline constexpr int kMessageSize = 1024;  // messages, list values and the caption

// Limits of the installer's description file.
inline constexpr int kMaxSetupImages = 20;
inline constexpr int kMaxInstallChoices = 4;
inline constexpr int kMaxInstallFiles = 40;
inline constexpr int kMaxShortcuts = 10;
inline constexpr int kShortcutFields = 3;
inline constexpr int kDiscCount = 10;
inline constexpr int kExecAppFields = 2;
// The add-on list takes the place of the last install choice's list.
inline constexpr int kAddOnChoice = kMaxInstallChoices - 1;

// Update entries and disc copy entries: at most one per key number 00 to 15.
inline constexpr int kMaxListEntries = 16;

enum UpdateMode : uint32_t {
    ModePlain = 0,      // written from the payload into the install folder
    ModeUpdate = 1,     // ... unless the existing file is newer
    ModeData = 2,       // into the data folder, only where no readable file is
    ModeOverwrite = 3,  // into the install folder, only over an existing file
};

struct UpdateItem {
    uint32_t Mode;
    char Path[kPathSize];  // target below the base folder
    int32_t NameOffset;    // where the payload entry's name starts in Path
    // A field of the entry did not fit its buffer: writing it fails rather than
    // writing to a cut path.
    int32_t PathTooLong;
};

// What the game's installer wrote into "SETUP.INI" in the install folder. Most of
// it is read only to be validated; the title, the class and the disc check files
// are used later.
struct SetupDescriptionData {
    char GameExe[kPathSize];
    char UninstExe[kPathSize];
    char SetupBmp[kMaxSetupImages][kPathSize];
    int32_t InstallSelects;
    char InstallTitle[kMaxInstallChoices][kPathSize];
    char InstallFiles[kMaxInstallChoices][kMaxInstallFiles][kPathSize];
    int32_t InstallFileNumbers[kMaxInstallChoices][kMaxInstallFiles];
    int32_t InstallFilesNumbered[kMaxInstallChoices];
    int32_t Shortcuts;
    char Shortcut[kMaxShortcuts][kShortcutFields][kPathSize];
    int32_t GameClassIsEngineWindow;
    int32_t DefaultSelect;
    uint64_t InstallSize[kMaxInstallChoices];
    char DiskCheckFile[kDiscCount][kPathSize];
    char ExecApp[kExecAppFields][kPathSize];
    uint32_t InstallDirectX;
    char InstallDXMessage[kMessageSize];
    char SelectSetupMessage[kMessageSize];
    int32_t UseCompanyNameForShortcutGroup;
    int32_t ChooseSaveDataFolder;
    char SaveDataFolderNameInInstall[kPathSize];
    char SaveDataFolderName[kPathSize];
    int32_t CancelSaveData;
    int32_t InstallAfterAdd;
    uint64_t InstallAddSize;
};

struct UpdaterState {
    // Start-up: the payload as the platform maps it (never copied or freed), the
    // open archive (header copy and directory), the temporary settings file, the
    // caption of every error box and the wizard that owns the boxes.
    const uint8_t* PayloadImage;
    uint32_t PayloadSize;
    uint8_t* PayloadArchive;
    char TempSettingsPath[kPathSize];
    char Caption[kMessageSize];
    HWND WizardWindow;

    // Settings access: whether a missing key is reported, the number of the last
    // "N:" list prefix, and the installed "SETUP.INI".
    int32_t SilentMissingKeys;
    int32_t ListFieldNumber;
    char SetupIniPath[kPathSize];

    // The updater's own settings ("UPDATE.INI", section SETUP). The first four are
    // replaced by the values of "SETUP.INI" once that has been read.
    char CompanyName[kPathSize];
    char GameTitle[kPathSize];
    char GameClass[kPathSize];
    char GameDir[kPathSize];
    char GameTitleA[kPathSize];
    char UpdaterVersion[kPathSize];
    char UpdaterTitle[kPathSize];
    char DataFolder[kPathSize];
    char UpdateMessage[kMessageSize];
    // Payload texts in heap blocks followed by at least two NULs; null when the
    // update has none. They live until the process ends.
    char* AgreementText;
    char* AgreementTitle;

    // The installation record.
    char InstPath[kPathSize];
    char DataPath[kPathSize];
    int32_t InstMode;

    SetupDescriptionData SetupDescription;

    // The update run's two lists, parsed afresh by every run.
    UpdateItem UpdateItems[kMaxListEntries];
    int32_t UpdateItemCount;
    int32_t DiscCopyDiscs[kMaxListEntries];
    char DiscCopyPaths[kMaxListEntries][kPathSize];
    int32_t DiscCopyCount;

    // The wizard: the step the next Next press performs, and whether a Next or
    // Back command is being handled (commands arriving meanwhile do nothing).
    int32_t WizardPage;
    int32_t WizardBusy;
};

extern UpdaterState Updater;

// Puts every field back to its state at process start ("UPDATE" as the caption).
void ResetUpdaterState();
