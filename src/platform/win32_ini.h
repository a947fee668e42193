// Reading settings files (".ini"): the one call the updater makes.
//
// A settings file is code page 932 text in lines ended by CR LF, LF or CR:
//
//   [Section]
//   Key = value
//   ; a comment
//
// The file is parsed afresh on every call; settings files are small, and a
// fresh read means a file the updater has just written is never seen stale.
#pragma once

#include "win32_types.h"

// Copies the value of key in section of fileName into buffer and returns the
// bytes stored, without the NUL.
//
// fileName is a Windows path (see path_map.h). A bare name with no folder
// ("setup.ini") is looked for in the Windows folder, C:\windows, as Windows
// does; it is never taken relative to the current folder.
//
// Section and key names are compared ignoring the case of ASCII letters (never
// folding the second byte of a two-byte character), after blanks around the
// requested names are removed. The first of duplicate sections or keys wins:
// a later "[Section]" with the same name adds nothing. Lines before the first
// section header belong to a section named "".
//
// Parsing: blanks (spaces and tabs) around section names, key names and
// values are removed. A section header is "[" then the name up to the line's
// last "]"; a "[" line without "]" is no header. A line whose first non-blank
// character is ";" is a comment; a line without "=" is not a key. A value
// enclosed in a matching pair of quotes (both " or both ') is handed over
// without them; an unmatched quote is part of the value. Bytes are copied
// untouched, and the second byte of a two-byte character (lead bytes
// 0x81-0x9F, 0xE0-0xFC) is never taken for "[", "]" or a letter to fold.
// A NUL byte inside a value ends it, so the count returned is always the
// length of the string stored.
//
// A missing or unreadable file, a file larger than 1 MiB, a missing section
// or key, or a null section or key gives defaultValue instead, with trailing
// spaces removed and a quote pair stripped as for a value; a null default is
// "".
//
// The result is cut to size - 1 bytes, at a character boundary: a two-byte
// character that does not fit whole is left out, so the buffer never ends in
// a lone lead byte, and the count returned is always the length of what is
// in the buffer. A null buffer or a size of 0 returns 0 and writes nothing.
DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                                      LPCSTR fileName);
