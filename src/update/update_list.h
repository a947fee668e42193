// The update list: "UpdateFile00" to "UpdateFile15" of section UPDATE, files
// written from the payload into the install or data folder.
#pragma once

#include <cstdint>

#include "platform.h"

// Fills Updater.UpdateItems from the list keys up to the first absent one,
// leaving out entries whose install-mode digit differs from Updater.InstMode.
// Returns 1 when "UpdateFile00" has a value (whether or not an entry was taken).
int ParseUpdateList();

// Writes every parsed entry; with `overwriteOnly` set, only over existing files.
// Returns 1, or 0 after "ファイルの書き込みに失敗しました"
// (and the payload's own message) with the wizard ended with -1.
int ApplyUpdateList(HWND dialog, int overwriteOnly);

// The whole file at `path` in a new heap block (released with GlobalFree), its
// byte count through `size` when given; null when it cannot be opened, sized,
// allocated or read. Files of 4 GiB or more are refused.
uint8_t* ReadWholeFile(const char* path, uint32_t* size);
