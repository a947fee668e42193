#include "path_map.h"

#include <dirent.h>
#include <iconv.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace wq2::platform {

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    out.assign(in.size() * 4 + 4, '\0');  // a CP932 byte never takes more than 3 UTF-8 bytes
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(ok ? out.size() - dstLeft : 0);
    return ok;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DosDevices() { return WinePrefix() + "/dosdevices"; }

std::string DriveLink(char letter) { return DosDevices() + "/" + AsciiLower(letter) + ":"; }

std::string CurrentFolder() {
    char* cwd = getcwd(nullptr, 0);
    std::string result = cwd ? cwd : "";
    std::free(cwd);
    return result;
}

// Splits on both separators, dropping empty and "." components and taking
// ".." back one step (never above the start), as Windows does before it
// looks at the disk.
void AppendComponents(const std::string& text, std::size_t from, std::vector<std::string>& parts) {
    std::size_t i = from;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) {
            ++i;
        }
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        std::string part = text.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end;
    }
}

// The entry of folder whose name equals name ignoring ASCII case; when
// several do, the smallest in byte order, so the choice does not depend on
// the order readdir happens to return. Empty when none.
std::string FindIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) {
        return {};
    }
    std::string best;
    while (const dirent* entry = readdir(dir)) {
        if (SameIgnoringAsciiCase(name, entry->d_name) && (best.empty() || best > entry->d_name)) {
            best = entry->d_name;
        }
    }
    closedir(dir);
    return best;
}

// Walks the components from base, matching existing ones ignoring case.
std::string Resolve(const std::string& base, const std::vector<std::string>& parts) {
    std::string current = base;
    bool lookUp = true;
    for (const std::string& part : parts) {
        std::string exact = current + "/" + part;
        struct stat st;
        if (lookUp && lstat(exact.c_str(), &st) != 0) {
            std::string found = errno == ENOENT ? FindIgnoringCase(current, part) : std::string();
            if (!found.empty()) {
                exact = current + "/" + found;
            } else {
                lookUp = false;  // nothing below a missing name can exist
            }
        }
        current = exact;
    }
    if (parts.empty()) {
        current += "/";
    }
    return current;
}

std::string RealPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    std::string result = real ? real : "";
    std::free(real);
    return result;
}

// How many leading bytes of path the drive target covers, or -1 when the
// path is not inside it.
long CoveredLength(const std::string& path, const std::string& target) {
    if (target == "/") {
        return 0;
    }
    if (path.compare(0, target.size(), target) != 0) {
        return -1;
    }
    if (path.size() != target.size() && path[target.size()] != '/') {
        return -1;
    }
    return static_cast<long>(target.size());
}

}  // namespace

bool Cp932ToUtf8(const std::string& in, std::string& out) { return Convert("UTF-8", "CP932", in, out); }

bool Utf8ToCp932(const std::string& in, std::string& out) { return Convert("CP932", "UTF-8", in, out); }

std::string WinePrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix) {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "";
    }
    return std::string(home) + "/.wine";
}

MappedPath WindowsToUnixPath(const char* windowsPath) {
    if (!windowsPath || !*windowsPath) {
        return {{}, ERROR_PATH_NOT_FOUND};
    }
    std::string text;
    if (!Cp932ToUtf8(windowsPath, text)) {
        return {{}, ERROR_INVALID_NAME};
    }
    std::vector<std::string> parts;
    std::string base;
    if (text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == ':') {
        // "C:name" (relative to the drive's current folder on Windows) is
        // taken from the drive's root: there is no per-drive current folder.
        base = DriveLink(text[0]);
        AppendComponents(text, 2, parts);
    } else if (IsSeparator(text[0])) {
        if (text.size() > 1 && IsSeparator(text[1])) {
            return {{}, ERROR_PATH_NOT_FOUND};  // network paths are not served
        }
        MappedPath here = UnixToWindowsPath(CurrentFolder());
        if (here.error != 0) {
            return {{}, ERROR_PATH_NOT_FOUND};
        }
        base = DriveLink(here.path[0]);
        AppendComponents(text, 1, parts);
    } else {
        // Relative: the current folder's own components come first, so that
        // ".." can climb out of it.
        AppendComponents(CurrentFolder(), 0, parts);
        AppendComponents(text, 0, parts);
    }
    if (!base.empty() && !IsFolder(base)) {
        return {{}, ERROR_PATH_NOT_FOUND};
    }
    return {Resolve(base, parts), 0};
}

MappedPath UnixToWindowsPath(const std::string& unixPath) {
    std::string path = RealPath(unixPath);
    if (path.empty()) {
        return {{}, ERROR_PATH_NOT_FOUND};
    }
    char letter = 'z';  // Wine's "Z:" is "/", which holds everything
    long covered = 0;
    long best = -1;
    if (DIR* dir = opendir(DosDevices().c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (!IsAsciiLetter(name[0]) || name[1] != ':' || name[2] != '\0') {
                continue;
            }
            std::string target = RealPath(DosDevices() + "/" + name);
            long length = target.empty() ? -1 : CoveredLength(path, target);
            char candidate = AsciiLower(name[0]);
            if (length > best || (length == best && length >= 0 && candidate < letter)) {
                best = length;
                covered = length;
                letter = candidate;
            }
        }
        closedir(dir);
    }
    std::string rest = path.substr(static_cast<std::size_t>(covered));
    for (char& c : rest) {
        if (c == '/') {
            c = '\\';
        }
    }
    std::string windows = std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":" + (rest.empty() ? "\\" : rest);
    std::string cp932;
    if (!Utf8ToCp932(windows, cp932)) {
        return {{}, ERROR_INVALID_NAME};
    }
    return {cp932, 0};
}

DWORD ErrorFromErrno(int err, const std::string& path) {
    switch (err) {
    case ENOENT: {
        std::size_t slash = path.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        return IsFolder(folder) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

MappedPath PrivateTempFolder(const char* runtimeDir, const std::string& fallbackBase) {
    const uid_t uid = geteuid();
    // lstat, not stat: a link planted in a shared folder must never lead us
    // into somebody else's folder.
    auto isPrivate = [uid](const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
               (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
    };
    if (runtimeDir && runtimeDir[0] == '/' && isPrivate(runtimeDir)) {
        return {runtimeDir, 0};
    }
    std::string folder = fallbackBase + "/wq2updater-" + std::to_string(uid);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {{}, ErrorFromErrno(errno, folder)};
    }
    if (!isPrivate(folder)) {
        return {{}, ERROR_ACCESS_DENIED};
    }
    return {folder, 0};
}

}  // namespace wq2::platform
