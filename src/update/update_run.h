// The update run behind the wizard's confirmation page.
#pragma once

#include "platform.h"

// Runs the update with the wizard `dialog`: checks the free space the settings ask
// for, writes the update list and copies the disc copy list. Ends on the
// completion page; on a shortage the page offers Back instead; on an error (or
// when the user gives up) the wizard is ended with -1 after the run's message.
void RunUpdate(HWND dialog);
