// The second half of the start-up: settings, the installer's description, the
// checks for running programs and the wizard.
#pragma once

#include "platform.h"

// Runs once after "UPDATE.INI" has been written to the temporary folder. Returns
// the exit code: 1 when the user finished the wizard, 0 on every other way out.
// Never runs the clean-up itself.
int RunLaunchSequence(HINSTANCE instance);
