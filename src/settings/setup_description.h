// The installer's description of the installed game, "SETUP.INI" in the install
// folder: read whole, validated, and stored in Updater.SetupDescription.
#pragma once

// Reads section SETUP of the file at Updater.SetupIniPath. Replaces CompanyName,
// GameTitle, GameDir and GameClass with the file's values. Returns 1 when the file
// is sound, or 0 at the first fault, after a "DEDODEDO" box where the fault has a
// message (a missing required key has none while SilentMissingKeys is set, as the
// settings stage leaves it). Leaves SilentMissingKeys at 1.
int ReadSetupDescription();
