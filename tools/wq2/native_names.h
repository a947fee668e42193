// Entry names and file-system names.
//
// An entry's name is code page 932 (Shift-JIS) bytes, because that is what the updater
// compares against on the player's machine. File-system names are UTF-8 bytes on Linux
// and UTF-16 on Windows; converting through code page 932 explicitly on both keeps the
// tool's behaviour independent of the system's ANSI code page.
#pragma once

#include <filesystem>
#include <string>

namespace wq2 {

// The entry name for a file name (one path component, or any native text such as a
// name given on the command line). False when the name holds a character that code
// page 932 cannot represent.
bool EntryNameFromFileName(const std::filesystem::path& fileName, std::string* entryName);

// The file name an entry is written as. False when the bytes are not valid code page
// 932 text.
bool FileNameFromEntryName(const std::string& entryName, std::filesystem::path* fileName);

// Text for messages and listings in the console's usual encoding: UTF-8 on Linux,
// code page 932 on Windows (where an entry name is printed as its bytes). Never fails:
// what cannot be converted is shown as "?" or as \xNN escapes.
std::string DisplayEntryName(const std::string& entryName);
std::string DisplayPath(const std::filesystem::path& path);

}  // namespace wq2
