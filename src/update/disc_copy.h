// The disc copy list: "CopyFile00" to "CopyFile15" of section UPDATE, files and
// folders copied from the game's install disc into the install folder.
#pragma once

#include "platform.h"

// Fills Updater.DiscCopyDiscs/DiscCopyPaths from the list keys up to the first
// absent one, leaving out entries whose install-mode character differs from
// Updater.InstMode. Returns 1 when "CopyFile00" has a value.
int ParseDiscCopyList();

// Copies every parsed entry with the shell's copy. Returns 1, or 0 with the wizard
// ended with -1 (after a message, unless the user cancelled).
int ApplyDiscCopyList(HWND dialog);

// Finds the CD-ROM drive holding disc `disc` (its check file from SETUP.INI), asking
// the user to insert it until it is there or the user gives up. Returns 1 with the
// drive in `drive` ("Q:"), or 0 with the wizard ended with -1.
int FindInstallDisc(HWND dialog, int disc, char* drive);
