// The shell's copy over POSIX: the names are mapped into the prefix once, the
// whole tree to copy is listed before anything is written (so a folder copied
// into itself cannot chase its own copies, and the progress bar knows the
// total), then each file goes through a temporary file beside its target.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "gtk_copy_progress.h"
#include "gtk_message_box.h"
#include "path_map.h"
#include "win32_shell.h"

namespace {

using wq2::platform::CopyProgress;
using wq2::platform::CopyProgressWindow;
using wq2::platform::ErrorFromErrno;

constexpr std::size_t kPieceSize = 1 << 20;

wq2::platform::CopyProgressHandler g_progressHandler = nullptr;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(const std::string& name) {
    std::string out = name;
    std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
    return out;
}

std::string LastName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Where a path leads once every link on the way is followed, for the part of
// it that exists; the rest is appended as it is.
std::string Absolute(const std::string& path) {
    std::string head = path;
    std::string tail;
    while (!head.empty() && head != "/") {
        if (char* real = realpath(head.c_str(), nullptr)) {
            std::string result = real;
            std::free(real);
            return result + tail;
        }
        tail.insert(0, LastName(head));
        tail.insert(tail.begin(), '/');
        head = FolderOf(head);
    }
    return tail.empty() ? "/" : tail;
}

// Names in the destination folders. Windows finds "data" when asked for
// "DATA", so a name that matches an existing one ignoring the case of ASCII
// letters is that one (of several, the first in byte order, as path_map.h
// picks). Each folder is read once; names this copy will create are added.
class DestinationNames {
public:
    std::string Child(const std::string& folder, const std::string& name) {
        auto [entries, fresh] = folders_.try_emplace(folder);
        if (fresh) Read(folder, entries->second);
        auto [entry, added] = entries->second.try_emplace(Folded(name), name);
        (void)added;
        return (folder == "/" ? "" : folder) + "/" + entry->second;
    }

private:
    static void Read(const std::string& folder, std::map<std::string, std::string>& entries) {
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) return;
        while (const dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            auto [at, added] = entries.try_emplace(Folded(name), name);
            if (!added && name < at->second) at->second = name;
        }
        closedir(dir);
    }

    std::unordered_map<std::string, std::map<std::string, std::string>> folders_;
};

// One step of the copy: a folder to make or a file to copy.
struct Item {
    std::string from;  // Unix paths
    std::string to;
    bool folder = false;
    ULONGLONG size = 0;
};

// The first name of a list closed by two NULs; null when the list is null,
// the name empty, or a second name follows.
const char* OnlyName(LPCSTR list) {
    if (list == nullptr || list[0] == '\0') return nullptr;
    return list[std::strlen(list) + 1] == '\0' ? list : nullptr;
}

// Japanese texts for the desktop are written here in UTF-8; the program's
// calls take code page 932.
std::string Cp932(const std::string& utf8) { return wq2::platform::ProgramText(utf8); }

class Copy {
public:
    Copy(const SHFILEOPSTRUCTA& operation, std::string fromUnix, std::string toUnix)
        : operation_(operation), fromUnix_(std::move(fromUnix)), toUnix_(std::move(toUnix)) {}

    ~Copy() {
        if (tempFd_ >= 0) close(tempFd_);
        if (!temp_.empty()) unlink(temp_.c_str());
    }

    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

    // 0, or the Windows error; failed_ names what it concerns.
    DWORD Run() {
        DWORD error = Plan();
        for (std::size_t i = 0; error == 0 && i < items_.size(); ++i) {
            error = items_[i].folder ? MakeFolders(items_[i].to) : CopyFile(items_[i]);
        }
        // The files' data reached the disk before each rename; now the renames.
        for (const std::string& folder : touched_) {
            int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                fsync(fd);
                close(fd);
            }
        }
        window_.reset();
        return error;
    }

    bool cancelled() const { return cancelled_; }
    const std::string& failedName() const { return failed_; }

private:
    void OpenWindow() {
        const bool simple = (operation_.fFlags & FOF_SIMPLEPROGRESS) != 0;
        std::string title = "コピーしています...";
        if (simple && operation_.lpszProgressTitle != nullptr) {
            title = wq2::platform::DesktopText(operation_.lpszProgressTitle);
        }
        std::string fromTo;
        if (!simple) {
            fromTo = wq2::platform::DesktopText(operation_.pFrom) + " から " +
                     wq2::platform::DesktopText(operation_.pTo) + " へ";
        }
        window_ = CopyProgressWindow::Open(operation_.hwnd, title, fromTo);
    }

    // Lists what to do, in order; 0 or the error.
    DWORD Plan() {
        struct stat st;
        // A missing source is told by the name the caller gave.
        if (stat(fromUnix_.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, fromUnix_), {});
        // From here on the copy may take a while: the window shows it.
        if ((operation_.fFlags & FOF_SILENT) == 0) OpenWindow();
        if (S_ISREG(st.st_mode)) {
            std::string to = IsFolder(toUnix_) ? names_.Child(toUnix_, LastName(fromUnix_)) : toUnix_;
            items_.push_back({fromUnix_, to, false, static_cast<ULONGLONG>(st.st_size)});
            total_ = items_.back().size;
            return 0;
        }
        if (!S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED, fromUnix_);
        // A drive's root has no name of its own: its contents go straight in.
        const std::string name = LastName(fromUnix_);
        const std::string root = name.empty() ? toUnix_ : names_.Child(toUnix_, name);
        const std::string source = Absolute(fromUnix_);
        const std::string target = Absolute(root);
        if (target.size() > source.size() && target.compare(0, source.size(), source) == 0 &&
            (source == "/" || target[source.size()] == '/')) {
            return Fail(ERROR_INVALID_PARAMETER, fromUnix_);
        }
        std::vector<std::pair<dev_t, ino_t>> ancestors;
        return PlanFolder(fromUnix_, root, st, ancestors);
    }

    DWORD PlanFolder(const std::string& from, const std::string& to, const struct stat& self,
                     std::vector<std::pair<dev_t, ino_t>>& ancestors) {
        items_.push_back({from, to, true, 0});
        if (!Report(std::string(), 0, 0)) return Cancel();
        ancestors.emplace_back(self.st_dev, self.st_ino);
        DIR* dir = opendir(from.c_str());
        if (dir == nullptr) return Fail(ErrorFromErrno(errno, from), from);
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(std::move(name));
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = from + "/" + name;
            struct stat st;
            if (stat(path.c_str(), &st) != 0) {
                if (errno == ENOENT) continue;  // a link to nothing: Windows would see no file
                return Fail(ErrorFromErrno(errno, path), path);
            }
            if (S_ISDIR(st.st_mode)) {
                // A link back to a folder above would never end.
                if (std::find(ancestors.begin(), ancestors.end(), std::make_pair(st.st_dev, st.st_ino)) !=
                    ancestors.end()) {
                    continue;
                }
                if (DWORD error = PlanFolder(path, names_.Child(to, name), st, ancestors)) return error;
            } else if (S_ISREG(st.st_mode)) {
                items_.push_back({path, names_.Child(to, name), false, static_cast<ULONGLONG>(st.st_size)});
                total_ += items_.back().size;
            }
            // Pipes, sockets and devices have no counterpart on a Windows disk.
        }
        ancestors.pop_back();
        return 0;
    }

    // Makes the folder and every missing one above it.
    DWORD MakeFolders(const std::string& path) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0) {
            return S_ISDIR(st.st_mode) ? 0 : Fail(ERROR_ALREADY_EXISTS, path);
        }
        if (errno != ENOENT) return Fail(ErrorFromErrno(errno, path), path);
        const std::string parent = FolderOf(path);
        if (parent != path) {
            if (DWORD error = MakeFolders(parent)) return error;
        }
        if (mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && IsFolder(path))) {
            return Fail(ErrorFromErrno(errno, path), path);
        }
        touched_.insert(parent);
        return 0;
    }

    DWORD CopyFile(const Item& item) {
        const std::string folder = FolderOf(item.to);
        if (DWORD error = MakeFolders(folder)) return error;
        if (IsFolder(item.to)) return Fail(ERROR_ACCESS_DENIED, item.to);
        const std::string name = LastName(item.from);
        if (!Report(name, item.size, 0)) return Cancel();

        int in = open(item.from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return Fail(ErrorFromErrno(errno, item.from), item.from);
        DWORD error = CopyData(in, item, name, folder);
        close(in);
        return error;
    }

    DWORD CopyData(int in, const Item& item, const std::string& name, const std::string& folder) {
        struct stat source;
        if (fstat(in, &source) != 0) return Fail(ErrorFromErrno(errno, item.from), item.from);
        if (DWORD error = CreateTemp(item.to)) return error;
        std::unique_ptr<char[]> piece(new char[kPieceSize]);
        ULONGLONG done = 0;
        for (;;) {
            ssize_t got = read(in, piece.get(), kPieceSize);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return Fail(ErrorFromErrno(errno, item.from), item.from);
            if (got == 0) break;
            for (ssize_t put = 0; put < got;) {
                ssize_t n = write(tempFd_, piece.get() + put, static_cast<std::size_t>(got - put));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return Fail(n == 0 ? ERROR_DISK_FULL : ErrorFromErrno(errno, temp_), item.to);
                put += n;
            }
            done += static_cast<ULONGLONG>(got);
            if (!Report(name, item.size, done)) return Cancel();
        }
        // Windows' copy keeps the last-write time; the last-access time is now.
        const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
        if (futimens(tempFd_, times) != 0) return Fail(ErrorFromErrno(errno, temp_), item.to);
        // The read-only attribute (no write permission for the owner) goes
        // with a new file, as a disc's files are copied read-only. A file that
        // replaces one already there keeps that file's cleared mark: the shell
        // clears the mark to replace it, as Wine's copy does.
        struct stat written;
        struct stat existing;
        const bool replacing = stat(item.to.c_str(), &existing) == 0;
        if ((source.st_mode & S_IWUSR) == 0 && !replacing &&
            (fstat(tempFd_, &written) != 0 || fchmod(tempFd_, written.st_mode & 07555) != 0)) {
            return Fail(ErrorFromErrno(errno, temp_), item.to);
        }
        if (fsync(tempFd_) != 0) return Fail(ErrorFromErrno(errno, temp_), item.to);
        const int fd = tempFd_;
        tempFd_ = -1;
        if (close(fd) != 0) return Fail(ErrorFromErrno(errno, temp_), item.to);
        // rename replaces whatever file is there, read-only or not.
        if (rename(temp_.c_str(), item.to.c_str()) != 0) return Fail(ErrorFromErrno(errno, item.to), item.to);
        temp_.clear();
        touched_.insert(folder);
        completed_ += item.size;
        return 0;
    }

    // A new file beside the target, under a hidden name made from the target's,
    // so a copy killed part-way leaves a leftover that the next copy of the same
    // file takes over (and renames away) instead of one that lingers forever.
    DWORD CreateTemp(const std::string& target) {
        const size_t slash = target.rfind('/');
        std::string path = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".~wq2copy";
        // A leftover may carry the read-only bit of the file it was copying.
        if (unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(ErrorFromErrno(errno, path), target);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) return Fail(ErrorFromErrno(errno, path), target);
        tempFd_ = fd;
        temp_ = std::move(path);
        return 0;
    }

    // Tells the handler and the window; false when either cancels.
    bool Report(const std::string& name, ULONGLONG fileBytes, ULONGLONG fileDone) {
        bool go = true;
        if (g_progressHandler != nullptr && !name.empty()) {
            const std::string cp932 = Cp932(name);
            const CopyProgress progress{cp932.c_str(), fileBytes, fileDone, total_, completed_ + fileDone};
            go = g_progressHandler(progress);
        }
        if (window_ != nullptr) {
            const double fraction = total_ == 0 ? 0.0 : double(completed_ + fileDone) / double(total_);
            const bool simple = (operation_.fFlags & FOF_SIMPLEPROGRESS) != 0;
            go = window_->Update(simple ? std::string() : name, fraction) && go;
        }
        return go;
    }

    DWORD Cancel() {
        cancelled_ = true;
        return ERROR_CANCELLED;
    }

    DWORD Fail(DWORD error, const std::string& path) {
        failed_ = path;
        return error;
    }

    const SHFILEOPSTRUCTA& operation_;
    const std::string fromUnix_;
    const std::string toUnix_;
    std::unique_ptr<CopyProgressWindow> window_;
    DestinationNames names_;
    std::vector<Item> items_;
    std::set<std::string> touched_;
    ULONGLONG total_ = 0;
    ULONGLONG completed_ = 0;
    std::string temp_;
    int tempFd_ = -1;
    std::string failed_;
    bool cancelled_ = false;
};

std::string Reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND: return "指定されたファイルが見つかりません。";
        case ERROR_PATH_NOT_FOUND: return "指定されたパスが見つかりません。";
        case ERROR_ACCESS_DENIED: return "アクセスが拒否されました。";
        case ERROR_DISK_FULL: return "ディスクに十分な空き領域がありません。";
        case ERROR_ALREADY_EXISTS: return "同じ名前のファイルが既にあります。";
        case ERROR_INVALID_PARAMETER: return "パラメータが間違っています。";
        case ERROR_INVALID_NAME: return "ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。";
        default: return "エラー " + std::to_string(error) + " が発生しました。";
    }
}

void ShowError(const SHFILEOPSTRUCTA& operation, DWORD error, const std::string& unixPath) {
    std::string name;
    if (!unixPath.empty()) {
        wq2::platform::MappedPath windows = wq2::platform::UnixToWindowsPath(unixPath);
        name = windows.error == 0 ? wq2::platform::DesktopText(windows.path.c_str()) : LastName(unixPath);
    }
    if (name.empty()) name = wq2::platform::DesktopText(operation.pFrom);
    const std::string text = name + " をコピーできません: " + Reason(error);
    MessageBoxA(operation.hwnd, Cp932(text).c_str(), Cp932("ファイルのコピー エラー").c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA operation) {
    if (operation == nullptr) return static_cast<int>(ERROR_INVALID_PARAMETER);
    operation->fAnyOperationsAborted = FALSE;
    if (operation->wFunc != FO_COPY) return static_cast<int>(ERROR_NOT_SUPPORTED);
    const bool errorUi = (operation->fFlags & FOF_NOERRORUI) == 0;
    const char* from = OnlyName(operation->pFrom);
    const char* to = OnlyName(operation->pTo);
    if (from == nullptr || to == nullptr) {
        if (errorUi) ShowError(*operation, ERROR_INVALID_PARAMETER, {});
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    }
    wq2::platform::MappedPath fromUnix = wq2::platform::WindowsToUnixPath(from);
    wq2::platform::MappedPath toUnix = fromUnix.error ? fromUnix : wq2::platform::WindowsToUnixPath(to);
    DWORD error = toUnix.error;
    std::string failed;
    bool cancelled = false;
    if (error == 0) {
        Copy copy(*operation, fromUnix.path, toUnix.path);
        error = copy.Run();
        cancelled = copy.cancelled();
        failed = copy.failedName();
    }
    if (cancelled) {
        operation->fAnyOperationsAborted = TRUE;
    } else if (error != 0 && errorUi) {
        ShowError(*operation, error, failed);
    }
    return static_cast<int>(error);
}

wq2::platform::CopyProgressHandler wq2::platform::SetCopyProgressHandler(CopyProgressHandler handler) {
    CopyProgressHandler previous = g_progressHandler;
    g_progressHandler = handler;
    return previous;
}
