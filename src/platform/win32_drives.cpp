// Drive types in a Wine prefix: the dosdevices links say which drives exist,
// the drive types Wine's configuration records in system.reg say what they
// are, and where nothing is recorded the file system under the link's folder
// tells a disc or a network share from a disk.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "path_map.h"
#include "win32_registry.h"
#include "win32_shell.h"

namespace {

using wq2::platform::AsciiLower;
using wq2::platform::SameIgnoringAsciiCase;

constexpr char kDefaultMountTable[] = "/proc/self/mountinfo";
const char* g_mountTable = kDefaultMountTable;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The type Wine's configuration recorded for the drive (the value "q:" under
// HKEY_LOCAL_MACHINE\Software\Wine\Drives, kept in <prefix>/system.reg), or
// empty.
std::string RecordedType(char letter) {
    return wq2::platform::ReadPrefixRegistryString("system.reg", "Software\\Wine\\Drives", std::string{letter, ':'});
}

// A mount point as mountinfo writes it: space, tab, newline and backslash as
// three octal digits after a backslash.
std::string DecodeMountPoint(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool Holds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") {
        return true;
    }
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The file system type of the mount holding `path` (a real path): the one with
// the longest mount point that holds it, and of several on one point the last
// mounted, which hides the others. Empty when the table cannot be read.
std::string FileSystemOf(const std::string& path) {
    std::ifstream table(g_mountTable);
    std::string line;
    std::string bestPoint;
    std::string bestType;
    bool found = false;
    while (std::getline(table, line)) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (start <= line.size()) {
            std::size_t end = line.find(' ', start);
            if (end == std::string::npos) {
                end = line.size();
            }
            fields.push_back(line.substr(start, end - start));
            start = end + 1;
        }
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") {
            ++dash;
        }
        if (fields.size() < 5 || dash + 1 >= fields.size()) {
            continue;
        }
        std::string point = DecodeMountPoint(fields[4]);
        if (Holds(point, path) && (!found || point.size() >= bestPoint.size())) {
            found = true;
            bestPoint = point;
            bestType = fields[dash + 1];
        }
    }
    return bestType;
}

bool IsDiscFileSystem(const std::string& type) {
    return type == "iso9660" || type == "udf" || type == "fuse.fuseiso";
}

bool IsNetworkFileSystem(const std::string& type) {
    return type == "nfs" || type == "nfs4" || type == "cifs" || type == "smb3" || type == "smbfs" ||
           type == "fuse.sshfs";
}

// The drive letter a root path names, or 0.
char DriveLetterOf(LPCSTR rootPath) {
    if (rootPath == nullptr) {
        char* cwd = getcwd(nullptr, 0);
        wq2::platform::MappedPath here = wq2::platform::UnixToWindowsPath(cwd ? cwd : "");
        std::free(cwd);
        return here.error == 0 ? here.path[0] : 0;
    }
    const bool letter = IsAsciiLetter(rootPath[0]) && rootPath[1] == ':';
    if (letter && (rootPath[2] == '\0' || ((rootPath[2] == '\\' || rootPath[2] == '/') && rootPath[3] == '\0'))) {
        return rootPath[0];
    }
    return 0;
}

}  // namespace

UINT WINAPI GetDriveTypeA(LPCSTR rootPath) {
    const char letter = DriveLetterOf(rootPath);
    if (letter == 0) {
        return DRIVE_NO_ROOT_DIR;
    }
    const std::string link = wq2::platform::WinePrefix() + "/dosdevices/" + AsciiLower(letter) + ":";
    char* real = realpath(link.c_str(), nullptr);
    const std::string folder = real != nullptr ? real : "";
    std::free(real);
    struct stat st;
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return DRIVE_NO_ROOT_DIR;
    }
    const std::string recorded = RecordedType(AsciiLower(letter));
    const std::string fileSystem = FileSystemOf(folder);
    if (SameIgnoringAsciiCase(recorded, "cdrom") || IsDiscFileSystem(fileSystem)) {
        return DRIVE_CDROM;
    }
    static const struct {
        const char* name;
        UINT type;
    } kRecorded[] = {
        {"floppy", DRIVE_REMOVABLE},
        {"hd", DRIVE_FIXED},
        {"network", DRIVE_REMOTE},
        {"ramdisk", DRIVE_RAMDISK},
    };
    for (const auto& entry : kRecorded) {
        if (SameIgnoringAsciiCase(recorded, entry.name)) {
            return entry.type;
        }
    }
    return IsNetworkFileSystem(fileSystem) ? DRIVE_REMOTE : DRIVE_FIXED;
}

const char* wq2::platform::SetMountTable(const char* path) {
    const char* previous = g_mountTable;
    g_mountTable = path != nullptr ? path : kDefaultMountTable;
    return previous;
}
