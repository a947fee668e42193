// Windows and message boxes, as far as the updater uses them, for builds without
// <windows.h>. Each box goes through one replaceable handler, so tests can record
// and answer boxes while the program shows real ones.
#pragma once

#include "win32_types.h"

struct HWND__;
typedef HWND__* HWND;

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONERROR 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2

// Shows a modal box owned by `owner` (may be null) and returns the button chosen.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// COM has nothing to do here; kept so the start-up reads the same on both systems.
typedef long HRESULT;
HRESULT WINAPI CoInitialize(LPVOID reserved);

// The handler every MessageBoxA call goes to. Returns the previous one; null
// restores the default.
typedef int (*MessageBoxHandler)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
