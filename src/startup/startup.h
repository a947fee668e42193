// The updater's entry, its start-up and its clean-up.
#pragma once

#include "platform.h"

// Shows `text` in a box with the error icon and one OK button, titled with the
// current caption and owned by the wizard while it exists.
void ShowErrorBox(const char* text);

// Releases the archive directory and deletes the temporary settings file. Safe to
// call at any point of the start-up; runs once on every way out.
void CleanUp();

// The start-up sequence: finds the payload in the executable `instance`, opens it,
// writes "UPDATE.INI" into the temporary folder and hands over. Returns the exit
// code: 0 on every way out so far.
int RunStartup(HINSTANCE instance);
