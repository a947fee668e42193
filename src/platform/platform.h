// The one header the updater includes for the operating system's services.
//
// The updater is written against the Win32 ANSI entry points. On Windows
// those are the real ones; elsewhere the same names come from our own layer
// over POSIX, which follows a Wine prefix's layout so that the native updater
// can patch a game installed under Wine.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "win32_types.h"
#include "win32_files.h"
#include "win32_registry.h"
#include "win32_ini.h"
#include "win32_resources.h"
#include "win32_ui.h"
#include "win32_dialogs.h"
#include "win32_shell.h"
#endif
