// The updater's one process-wide state record. Each group of fields belongs to
// the part of the program that writes it; the rest only read them.
#pragma once

#include <cstdint>

#include "platform.h"

inline constexpr int kPathSize = 260;      // paths, names and most values, NUL included
inline constexpr int kMessageSize = 1024;  // messages, list values and the caption

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
};

extern UpdaterState Updater;

// Puts every field back to its state at process start ("UPDATE" as the caption).
void ResetUpdaterState();
