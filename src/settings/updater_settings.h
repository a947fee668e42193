// The settings stage of the start-up: the updater's own settings, the agreement
// texts, the installation record and the presence of the installer's "SETUP.INI".
#pragma once

// Reads section SETUP of the temporary "UPDATE.INI", loads the agreement texts
// from the payload, finds the installation record under
// HKEY_CURRENT_USER\Software\<CompanyName>\<GameDir>, shows the start notice and
// checks that "SETUP.INI" exists in the install folder. Returns 1 to go on, or 0
// after exactly one message of its own (a payload error box may come first).
// Leaves Updater.SilentMissingKeys at 1.
int LoadUpdaterSettings();

// The start notice as shown: each one-byte "\" directly followed by "n" becomes a
// carriage return; everything else, two-byte characters whole, is copied. `out`
// holds `size` bytes and always receives a NUL-terminated text.
void ConvertLineBreaks(const char* text, char* out, int size);
