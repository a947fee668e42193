#include "launch_sequence.h"

#include "setup_description.h"
#include "updater_settings.h"

int RunLaunchSequence(HINSTANCE) {
    if (!LoadUpdaterSettings()) return 0;
    if (!ReadSetupDescription()) return 0;
    return 0;
}
