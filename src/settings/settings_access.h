// Reading the two ini files the updater depends on: its own "UPDATE.INI" in the
// temporary folder and the installer's "SETUP.INI" in the install folder. A key
// that is missing or empty is reported with a box titled "DEDODEDO" unless
// Updater.SilentMissingKeys is set.
#pragma once

#include <cstddef>
#include <cstdint>

// The missing-key and malformed-file box: error icon, one OK button, titled
// "DEDODEDO", owned by the wizard while it exists.
void SetupErrorBox(const char* text);

// Reads `key` of section SETUP of "SETUP.INI" (Updater.SetupIniPath) into
// `buffer` of `size` bytes; a longer value arrives cut to `size` - 1 bytes.
// Returns 1 when the value has at least one character; 0 with an empty buffer
// otherwise, after the box "SETUP.INI : <key> キーが存在しません" unless silent.
int ReadSetupString(const char* key, char* buffer, int size);

// Reads `key` of `section` of the temporary "UPDATE.INI" like ReadSetupString;
// its box reads "<section> : <key> キーが存在しません".
int ReadUpdateString(const char* section, const char* key, char* buffer, int size);

// Reads `key` of section SETUP of "SETUP.INI" as a decimal integer (as atoi reads
// it, saturating at the 32-bit limits; text without digits is 0). Returns 1 with
// `*value` set, or 0 with `*value` untouched when the key is missing or empty.
int ReadSetupInt(const char* key, int32_t* value);

// Takes the next comma-separated field of a list value at `*cursor` into `field`
// (kPathSize bytes; a longer field is cut to whole characters within kPathSize - 1
// bytes) and moves `*cursor` past the field's terminator. Leading spaces are
// skipped; a field of exactly one character and a colon before it ("2:name")
// stores that character's number in Updater.ListFieldNumber and leaves the rest.
// Returns 0, with the cursor and the number unchanged, at an empty field or the
// end of the text.
int NextListField(char* field, const char** cursor);

// NextListField that also tells, through `*cut`, whether the field was longer than
// its slot, for callers that must refuse rather than use a cut name.
int NextListFieldChecked(char* field, const char** cursor, int* cut);

// The C library's conversions as the settings use them, independent of the
// process's locale: optional leading white space, an optional sign, decimal digits
// up to the first other character. The 32-bit form saturates; the 64-bit one
// negates modulo 2^64 after a minus and gives the largest value on overflow.
int32_t DecimalToInt32(const char* text);
uint64_t DecimalToUint64(const char* text);
