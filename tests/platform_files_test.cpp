// The Linux side of the Win32 seam: paths in a Wine prefix, files, folders,
// times, attributes, the temp folder, disk space, and code page 932 text.
//
// Every test runs inside a fake prefix of its own: WINEPREFIX names it,
// dosdevices/c: links to a scratch folder and z: to "/". The suite also runs
// as root, which ignores permission bits; read-only files are therefore
// checked through the attribute mapping, never through an open that fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "path_map.h"
#include "platform.h"
#include "saved_variable.h"

namespace {

namespace fs = std::filesystem;
using wq2::platform::MappedPath;

// "表示" ("display") in code page 932: the first character's second byte is
// 0x5C, the code of "\", which a byte-wise path splitter takes for a separator.
const char kHyojiCp932[] = "\x95\x5C\x8E\xA6";
const char kHyojiUtf8[] = "\xE8\xA1\xA8\xE7\xA4\xBA";
const char kHyoCp932[] = "\x95\x5C";     // "表" alone: ends in 0x5C
const char kHyoUtf8[] = "\xE8\xA1\xA8";

using wq2test::SavedVariable;

class WinePrefixTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/wq2-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = fs::canonical(pattern).string();
        prefix_ = root_ + "/prefix";
        driveC_ = root_ + "/drive_c";
        fs::create_directories(prefix_ + "/dosdevices");
        fs::create_directories(driveC_);
        Link(driveC_, "c:");
        Link("/", "z:");
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        oldFolder_ = fs::current_path();
    }

    void TearDown() override {
        fs::current_path(oldFolder_);
        fs::remove_all(root_);  // removes the drive links, never what they point at
    }

    void Link(const std::string& target, const char* drive) {
        fs::create_symlink(target, prefix_ + "/dosdevices/" + drive);
    }
    std::string Dos(const std::string& rest) const { return prefix_ + "/dosdevices/" + rest; }
    std::string OnC(const std::string& rest) const { return driveC_ + "/" + rest; }

    static void WriteDisk(const std::string& path, const std::string& content) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string ReadDisk(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }

    SavedVariable savedPrefix_{"WINEPREFIX"};
    SavedVariable savedHome_{"HOME"};
    SavedVariable savedRuntime_{"XDG_RUNTIME_DIR"};
    std::string root_, prefix_, driveC_;
    fs::path oldFolder_;
};

// ---- Windows path to Unix path ---------------------------------------------

TEST_F(WinePrefixTest, MapsDrivesSeparatorsAndCaseOfExistingComponents) {
    WriteDisk(OnC("Games/Foo/a.bin"), "x");
    fs::create_directories(OnC("Data"));
    fs::create_directories(OnC("Dup"));
    fs::create_directories(OnC("DUP"));
    WriteDisk(OnC(std::string(kHyojiUtf8) + "/x.txt"), "x");
    const std::string hyoji = kHyojiCp932;
    struct Row {
        std::string windows;
        std::string underDosDevices;
    } rows[] = {
        {"C:\\Games\\Foo\\a.bin", "c:/Games/Foo/a.bin"},
        {"c:\\games\\FOO\\A.BIN", "c:/Games/Foo/a.bin"},
        {"C:/Games/Foo/a.bin", "c:/Games/Foo/a.bin"},
        {"C:\\Games/Foo\\a.bin", "c:/Games/Foo/a.bin"},
        {"C:\\Games\\\\Foo\\.\\a.bin", "c:/Games/Foo/a.bin"},
        {"C:\\Games\\Bar\\..\\Foo\\a.bin", "c:/Games/Foo/a.bin"},
        {"C:\\..\\..\\Games", "c:/Games"},
        {"C:\\", "c:/"},
        {"C:", "c:/"},
        // A missing last component keeps the caller's spelling, as does
        // everything below a missing folder.
        {"C:\\data\\New.Txt", "c:/Data/New.Txt"},
        {"C:\\DATA\\Sub\\X.txt", "c:/Data/Sub/X.txt"},
        // An exact match wins; otherwise the smallest of the matches.
        {"C:\\Dup", "c:/Dup"},
        {"C:\\dup", "c:/DUP"},
        // Code page 932 names become UTF-8; 0x5C inside "表" is no separator.
        {"C:\\" + hyoji + "\\X.TXT", "c:/" + std::string(kHyojiUtf8) + "/x.txt"},
        {"C:\\" + hyoji + "\\", "c:/" + std::string(kHyojiUtf8)},
        {"z:\\tmp", "z:/tmp"},
    };
    for (const Row& row : rows) {
        MappedPath mapped = wq2::platform::WindowsToUnixPath(row.windows.c_str());
        EXPECT_EQ(mapped.error, 0u) << row.windows;
        EXPECT_EQ(mapped.path, Dos(row.underDosDevices)) << row.windows;
    }
}

TEST_F(WinePrefixTest, RefusesPathsItCannotMap) {
    fs::create_symlink(root_ + "/nowhere", prefix_ + "/dosdevices/d:");
    struct Row {
        const char* windows;
        DWORD error;
    } rows[] = {
        {"", ERROR_PATH_NOT_FOUND},
        {"Q:\\x", ERROR_PATH_NOT_FOUND},    // no such drive link
        {"D:\\x", ERROR_PATH_NOT_FOUND},    // a link to nothing
        {"\\\\server\\share\\x", ERROR_PATH_NOT_FOUND},
        {"C:\\\xFF", ERROR_INVALID_NAME},   // not a code page 932 byte
        {"C:\\a\x81", ERROR_INVALID_NAME},  // a lead byte without its second byte
    };
    for (const Row& row : rows) {
        MappedPath mapped = wq2::platform::WindowsToUnixPath(row.windows);
        EXPECT_EQ(mapped.error, row.error) << row.windows;
        EXPECT_TRUE(mapped.path.empty()) << row.windows;
    }
    EXPECT_EQ(wq2::platform::WindowsToUnixPath(nullptr).error, ERROR_PATH_NOT_FOUND);
}

TEST_F(WinePrefixTest, MapsPathsWithoutDriveFromTheCurrentFolder) {
    WriteDisk(OnC("Games/Foo/a.bin"), "x");
    fs::create_directories(OnC("Data"));
    fs::current_path(OnC("Games"));
    struct Row {
        const char* windows;
        std::string unix;
    } rows[] = {
        {"foo\\A.bin", OnC("Games/Foo/a.bin")},
        {"..\\data\\n.txt", OnC("Data/n.txt")},
        {".\\", OnC("Games")},
        {"\\DATA", Dos("c:/Data")},  // rooted: the current folder's drive
    };
    for (const Row& row : rows) {
        MappedPath mapped = wq2::platform::WindowsToUnixPath(row.windows);
        EXPECT_EQ(mapped.error, 0u) << row.windows;
        EXPECT_EQ(mapped.path, row.unix) << row.windows;
    }
}

TEST_F(WinePrefixTest, PrefixDefaultsToDotWineInHome) {
    const std::string home = root_ + "/home";
    fs::create_directories(home + "/.wine/dosdevices");
    fs::create_symlink(driveC_, home + "/.wine/dosdevices/c:");
    fs::create_directories(OnC("Games"));
    unsetenv("WINEPREFIX");
    setenv("HOME", home.c_str(), 1);
    MappedPath mapped = wq2::platform::WindowsToUnixPath("c:\\games");
    EXPECT_EQ(mapped.error, 0u);
    EXPECT_EQ(mapped.path, home + "/.wine/dosdevices/c:/Games");
}

// ---- Unix path to Windows path ---------------------------------------------

TEST_F(WinePrefixTest, NamesUnixFoldersOnTheClosestDrive) {
    fs::create_directories(OnC("Data"));
    fs::create_directories(OnC("Games/Foo"));
    fs::create_directories(OnC(kHyojiUtf8));
    fs::create_directories(root_ + "/outside");
    fs::create_directory_symlink(OnC("Data"), root_ + "/via-link");
    Link(OnC("Games"), "d:");  // inside C:, so more specific than C: there
    Link(driveC_, "e:");       // same target as C:: the lower letter wins
    const std::string rootAsZ = "Z:" + [&] {
        std::string s = root_;
        for (char& c : s) c = c == '/' ? '\\' : c;
        return s;
    }();
    struct Row {
        std::string unix;
        std::string windows;
    } rows[] = {
        {driveC_, "C:\\"},
        {OnC("Data"), "C:\\Data"},
        {OnC(kHyojiUtf8), "C:\\" + std::string(kHyojiCp932)},
        {OnC("Games"), "D:\\"},
        {OnC("Games/Foo"), "D:\\Foo"},
        {root_ + "/via-link", "C:\\Data"},
        {root_ + "/outside", rootAsZ + "\\outside"},
        {"/", "Z:\\"},
    };
    for (const Row& row : rows) {
        MappedPath mapped = wq2::platform::UnixToWindowsPath(row.unix);
        EXPECT_EQ(mapped.error, 0u) << row.unix;
        EXPECT_EQ(mapped.path, row.windows) << row.unix;
    }
    EXPECT_EQ(wq2::platform::UnixToWindowsPath(root_ + "/missing").error, ERROR_PATH_NOT_FOUND);
}

TEST_F(WinePrefixTest, FolderOutsideEveryDriveIsOnZEvenWithoutItsLink) {
    fs::remove(prefix_ + "/dosdevices/z:");
    MappedPath mapped = wq2::platform::UnixToWindowsPath("/tmp");
    EXPECT_EQ(mapped.error, 0u);
    EXPECT_EQ(mapped.path, "Z:\\tmp");
}

// ---- Files -----------------------------------------------------------------

HANDLE OpenForRead(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateForWrite(const char* path, DWORD disposition = CREATE_ALWAYS) {
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE h, const std::string& data) {
    DWORD written = 12345;
    return WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
}

TEST_F(WinePrefixTest, WrittenFileReadsBack) {
    fs::create_directories(OnC("Data"));
    HANDLE out = CreateForWrite("C:\\data\\Save.bin");
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    const std::string content("hello\0world\x95\x5C", 13);
    EXPECT_TRUE(WriteAll(out, content));
    EXPECT_TRUE(FlushFileBuffers(out));
    EXPECT_TRUE(CloseHandle(out));
    EXPECT_EQ(ReadDisk(OnC("Data/Save.bin")), content);  // the caller's spelling of the new name

    HANDLE in = OpenForRead("c:\\DATA\\save.BIN");
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(in, &high), content.size());
    EXPECT_EQ(high, 0u);
    char buffer[64] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), content);
    EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // at the end: success, nothing read
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(in));
    EXPECT_FALSE(CloseHandle(in));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(WinePrefixTest, CreateAlwaysTruncatesAndSaysTheFileExisted) {
    WriteDisk(OnC("a.txt"), "0123456789");
    HANDLE out = CreateForWrite("C:\\A.TXT");
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(WriteAll(out, "abc"));
    EXPECT_TRUE(CloseHandle(out));
    EXPECT_EQ(ReadDisk(OnC("a.txt")), "abc");
    EXPECT_FALSE(fs::exists(OnC("A.TXT")));
}

TEST_F(WinePrefixTest, CreateFileNamesOnDiskAreUtf8) {
    HANDLE out = CreateForWrite(("C:\\" + std::string(kHyojiCp932) + ".txt").c_str());
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(out));
    EXPECT_TRUE(fs::exists(OnC(std::string(kHyojiUtf8) + ".txt")));
}

TEST_F(WinePrefixTest, CreateFileFailuresCarryTheWindowsError) {
    WriteDisk(OnC("exists.txt"), "x");
    WriteDisk(OnC("locked.txt"), "x");
    fs::create_directories(OnC("Folder"));
    chmod(OnC("locked.txt").c_str(), 0444);
    struct Row {
        const char* path;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } rows[] = {
        {"C:\\missing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"C:\\NoFolder\\missing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"C:\\NoFolder\\new.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"Q:\\new.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\EXISTS.txt", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {"C:\\folder", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\folder", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        // The read-only attribute refuses writing even to root.
        {"C:\\locked.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\locked.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"C:\\exists.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SetLastError(0);
        HANDLE h = CreateFileA(row.path, row.access, 0, nullptr, row.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << row.path;
        EXPECT_EQ(GetLastError(), row.error) << row.path;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_EQ(ReadDisk(OnC("locked.txt")), "x");
    HANDLE reader = OpenForRead("C:\\locked.txt");  // reading a read-only file is fine
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
}

TEST_F(WinePrefixTest, OpenAlwaysAndCreateNewCreateMissingFiles) {
    for (DWORD disposition : {OPEN_ALWAYS, CREATE_NEW}) {
        fs::remove(OnC("new.txt"));
        HANDLE h = CreateForWrite("C:\\new.txt", disposition);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << disposition;
        EXPECT_EQ(GetLastError(), 0u) << disposition;
        CloseHandle(h);
        EXPECT_TRUE(fs::exists(OnC("new.txt"))) << disposition;
    }
    HANDLE h = CreateForWrite("C:\\new.txt", OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(h);
}

TEST_F(WinePrefixTest, WriteToAFullDiskFailsWithDiskFull) {
    HANDLE full = CreateForWrite("Z:\\dev\\full", OPEN_EXISTING);
    ASSERT_NE(full, INVALID_HANDLE_VALUE);
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(full, "abc", 3, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(written, 0u);
    CloseHandle(full);
}

TEST_F(WinePrefixTest, CallsOnHandlesThatAreNotOpenFail) {
    char byte = 0;
    DWORD count = 5;
    FILETIME ft{};
    for (HANDLE h : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(4 * 200)}) {
        SetLastError(0);
        EXPECT_FALSE(ReadFile(h, &byte, 1, &count, nullptr));
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(WriteFile(h, &byte, 1, &count, nullptr));
        EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
        EXPECT_FALSE(GetFileTime(h, nullptr, nullptr, &ft));
        EXPECT_FALSE(SetFileTime(h, &ft, &ft, &ft));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

// ---- Times -----------------------------------------------------------------

FILETIME AsFileTime(std::uint64_t value) {
    return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::uint64_t AsNumber(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST_F(WinePrefixTest, FileTimesConvertExactlyBothWays) {
    constexpr std::uint64_t kUnixEpoch = 116444736000000000ull;
    struct Row {
        std::uint64_t fileTime;
        std::int64_t seconds;
        long nanoseconds;
    } rows[] = {
        {kUnixEpoch, 0, 0},
        {kUnixEpoch + 17000000001234567ull, 1700000000, 123456700},  // 2023, with 100 ns digits
        {kUnixEpoch + 1, 0, 100},
        {kUnixEpoch - 1, -1, 999999900},  // just before 1970: the second rounds down
        {kUnixEpoch - 10000000ull, -1, 0},
        {0x01C0000000000000ull, 0, 0},  // 1980-ish, computed below
    };
    rows[5].seconds = static_cast<std::int64_t>((rows[5].fileTime - kUnixEpoch) / 10000000ull);
    rows[5].nanoseconds = static_cast<long>((rows[5].fileTime - kUnixEpoch) % 10000000ull) * 100;
    WriteDisk(OnC("t.bin"), "x");
    for (const Row& row : rows) {
        HANDLE h = CreateFileA("C:\\t.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        const FILETIME ft = AsFileTime(row.fileTime);
        EXPECT_TRUE(SetFileTime(h, &ft, &ft, &ft));
        FILETIME creation{}, access{}, write{};
        EXPECT_TRUE(GetFileTime(h, &creation, &access, &write));
        EXPECT_EQ(AsNumber(write), row.fileTime);
        EXPECT_EQ(AsNumber(access), row.fileTime);
        EXPECT_EQ(AsNumber(creation), row.fileTime);  // Linux keeps none: the write time stands in
        CloseHandle(h);
        struct stat st {};
        ASSERT_EQ(stat(OnC("t.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, row.seconds) << row.fileTime;
        EXPECT_EQ(st.st_mtim.tv_nsec, row.nanoseconds) << row.fileTime;
    }
}

TEST_F(WinePrefixTest, SetFileTimeLeavesTimesItIsNotGiven) {
    WriteDisk(OnC("t.bin"), "x");
    HANDLE h = CreateFileA("C:\\t.bin", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME first = AsFileTime(130000000000000000ull);
    const FILETIME second = AsFileTime(131000000000000000ull);
    const FILETIME zero{};
    EXPECT_TRUE(SetFileTime(h, nullptr, &first, &first));
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &second));
    EXPECT_TRUE(SetFileTime(h, &zero, &zero, nullptr));
    FILETIME access{}, write{};
    EXPECT_TRUE(GetFileTime(h, nullptr, &access, &write));
    EXPECT_EQ(AsNumber(access), AsNumber(first));
    EXPECT_EQ(AsNumber(write), AsNumber(second));
    CloseHandle(h);
}

// ---- Attributes and names in folders ---------------------------------------

TEST_F(WinePrefixTest, AttributesFollowTheOwnersWritePermission) {
    WriteDisk(OnC("normal.txt"), "x");
    WriteDisk(OnC("readonly.txt"), "x");
    WriteDisk(OnC("exec.txt"), "x");
    WriteDisk(OnC("groupwrite.txt"), "x");
    fs::create_directories(OnC("Folder"));
    chmod(OnC("normal.txt").c_str(), 0644);
    chmod(OnC("readonly.txt").c_str(), 0444);
    chmod(OnC("exec.txt").c_str(), 0555);
    chmod(OnC("groupwrite.txt").c_str(), 0464);
    struct Row {
        const char* path;
        DWORD attributes;
        DWORD error;
    } rows[] = {
        {"C:\\NORMAL.txt", FILE_ATTRIBUTE_NORMAL, 0},
        {"C:\\readonly.txt", FILE_ATTRIBUTE_READONLY, 0},
        {"C:\\exec.txt", FILE_ATTRIBUTE_READONLY, 0},
        {"C:\\groupwrite.txt", FILE_ATTRIBUTE_READONLY, 0},
        {"C:\\folder", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\missing.txt", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\NoFolder\\missing.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"Q:\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA(row.path), row.attributes) << row.path;
        EXPECT_EQ(GetLastError(), row.error) << row.path;
    }
}

TEST_F(WinePrefixTest, SetAttributesTogglesReadOnly) {
    WriteDisk(OnC("file.txt"), "x");
    chmod(OnC("file.txt").c_str(), 0664);
    EXPECT_TRUE(SetFileAttributesA("C:\\FILE.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ModeOf(OnC("file.txt")), 0444u);
    EXPECT_EQ(GetFileAttributesA("C:\\file.txt"), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CreateForWrite("C:\\file.txt"), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA("C:\\file.txt"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_TRUE(SetFileAttributesA("C:\\file.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ModeOf(OnC("file.txt")), 0644u);
    EXPECT_EQ(GetFileAttributesA("C:\\file.txt"), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = CreateForWrite("C:\\file.txt");
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    EXPECT_FALSE(SetFileAttributesA("C:\\missing.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(WinePrefixTest, CreateDirectoryAndDeleteFile) {
    EXPECT_TRUE(CreateDirectoryA("C:\\New", nullptr));
    EXPECT_TRUE(fs::is_directory(OnC("New")));
    EXPECT_FALSE(CreateDirectoryA("C:\\NEW", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA("C:\\Missing\\New", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    WriteDisk(OnC("New/f.txt"), "x");
    EXPECT_TRUE(DeleteFileA("c:\\new\\F.TXT"));
    EXPECT_FALSE(fs::exists(OnC("New/f.txt")));
    EXPECT_FALSE(DeleteFileA("C:\\New\\f.txt"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA("C:\\New"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(WinePrefixTest, MoveFileExReplacesOnlyWhenAsked) {
    WriteDisk(OnC("new.tmp"), "new");
    WriteDisk(OnC("Game.dat"), "old");
    EXPECT_FALSE(MoveFileExA("C:\\new.tmp", "C:\\game.dat", 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadDisk(OnC("Game.dat")), "old");

    EXPECT_TRUE(MoveFileExA("C:\\NEW.TMP", "C:\\game.dat", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(ReadDisk(OnC("Game.dat")), "new");
    EXPECT_FALSE(fs::exists(OnC("new.tmp")));

    EXPECT_FALSE(MoveFileExA("C:\\new.tmp", "C:\\other.dat", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    WriteDisk(OnC("another.tmp"), "x");
    chmod(OnC("Game.dat").c_str(), 0444);
    EXPECT_FALSE(MoveFileExA("C:\\another.tmp", "C:\\Game.dat", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadDisk(OnC("Game.dat")), "new");
}

// ---- The private temp folder -----------------------------------------------

enum class Kind { Missing, Private, Open, LinkToPrivate, PlainFile, Foreign };

// Makes path into the kind of thing a test needs there.
void Make(const std::string& path, Kind kind, const std::string& spare) {
    switch (kind) {
    case Kind::Missing:
        break;
    case Kind::Private:
        mkdir(path.c_str(), 0700);
        break;
    case Kind::Open:
        mkdir(path.c_str(), 0700);
        chmod(path.c_str(), 0755);
        break;
    case Kind::LinkToPrivate:
        mkdir(spare.c_str(), 0700);
        symlink(spare.c_str(), path.c_str());
        break;
    case Kind::PlainFile:
        close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
        break;
    case Kind::Foreign:
        mkdir(path.c_str(), 0700);
        ASSERT_EQ(chown(path.c_str(), 4242, 4242), 0);
        break;
    }
}

TEST_F(WinePrefixTest, PrivateTempFolderRefusesWhatOthersCouldReach) {
    enum class Use { Runtime, Fallback, Refused };
    struct Row {
        const char* name;
        Kind runtime;
        Kind fallback;
        Use use;
    } rows[] = {
        {"private runtime folder", Kind::Private, Kind::Missing, Use::Runtime},
        {"runtime folder open to others", Kind::Open, Kind::Missing, Use::Fallback},
        {"runtime folder is a link", Kind::LinkToPrivate, Kind::Missing, Use::Fallback},
        {"runtime folder of another user", Kind::Foreign, Kind::Missing, Use::Fallback},
        {"no runtime folder", Kind::Missing, Kind::Missing, Use::Fallback},
        {"fallback already there", Kind::Missing, Kind::Private, Use::Fallback},
        {"fallback is a planted link", Kind::Missing, Kind::LinkToPrivate, Use::Refused},
        {"fallback open to others", Kind::Missing, Kind::Open, Use::Refused},
        {"fallback is a file", Kind::Missing, Kind::PlainFile, Use::Refused},
        {"fallback of another user", Kind::Open, Kind::Foreign, Use::Refused},
    };
    const bool root = geteuid() == 0;
    int n = 0;
    for (const Row& row : rows) {
        if (!root && (row.runtime == Kind::Foreign || row.fallback == Kind::Foreign)) {
            continue;  // only root can give a folder away
        }
        const std::string base = root_ + "/case" + std::to_string(++n);
        fs::create_directories(base + "/shared");
        const std::string runtime = base + "/run";
        const std::string fallback = base + "/shared/wq2updater-" + std::to_string(geteuid());
        Make(runtime, row.runtime, base + "/runtime-target");
        Make(fallback, row.fallback, base + "/planted-target");
        MappedPath got = wq2::platform::PrivateTempFolder(runtime.c_str(), base + "/shared");
        switch (row.use) {
        case Use::Runtime:
            EXPECT_EQ(got.path, runtime) << row.name;
            break;
        case Use::Fallback:
            EXPECT_EQ(got.path, fallback) << row.name;
            EXPECT_EQ(ModeOf(fallback), 0700u) << row.name;
            break;
        case Use::Refused:
            EXPECT_TRUE(got.path.empty()) << row.name;
            EXPECT_EQ(got.error, ERROR_ACCESS_DENIED) << row.name;
            break;
        }
    }
    // Without any runtime folder name at all.
    const std::string base = root_ + "/unset";
    fs::create_directories(base);
    EXPECT_EQ(wq2::platform::PrivateTempFolder(nullptr, base).path, base + "/wq2updater-" + std::to_string(geteuid()));
    EXPECT_EQ(wq2::platform::PrivateTempFolder("relative/run", base).path,
              base + "/wq2updater-" + std::to_string(geteuid()));
}

TEST_F(WinePrefixTest, TempPathIsTheRuntimeFolderAsAWindowsPath) {
    struct Row {
        std::string folder;
        std::string windows;
    } rows[] = {
        {OnC("users/Temp"), "C:\\users\\Temp\\"},
        // The separator goes after "表" although its last byte is 0x5C.
        {OnC(kHyoUtf8), "C:\\" + std::string(kHyoCp932) + "\\"},
        {driveC_, "C:\\"},
    };
    for (const Row& row : rows) {
        fs::create_directories(row.folder);
        chmod(row.folder.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", row.folder.c_str(), 1);
        char buffer[MAX_PATH];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), row.windows.size()) << row.folder;
        EXPECT_EQ(std::string(buffer), row.windows) << row.folder;
        // Too small: the size needed, terminator included, and nothing written.
        std::vector<char> small(row.windows.size(), 'q');
        EXPECT_EQ(GetTempPathA(static_cast<DWORD>(small.size()), small.data()), row.windows.size() + 1)
            << row.folder;
        EXPECT_EQ(small, std::vector<char>(row.windows.size(), 'q')) << row.folder;
    }
}

// ---- Disk space and the run-time lookup --------------------------------------

TEST_F(WinePrefixTest, DiskFreeSpaceMatchesStatvfsOfTheDrive) {
    struct statvfs before {};
    ASSERT_EQ(statvfs(driveC_.c_str(), &before), 0);
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &free));
    const std::uint64_t unit = before.f_frsize;
    EXPECT_EQ(total.QuadPart, before.f_blocks * unit);
    // Other processes write meanwhile: allow some drift, far below the gap
    // between the blocks free and those available to an ordinary user.
    const double drift = 64.0 * 1024 * 1024;
    EXPECT_NEAR(static_cast<double>(available.QuadPart), static_cast<double>(before.f_bavail * unit), drift);
    EXPECT_NEAR(static_cast<double>(free.QuadPart), static_cast<double>(before.f_bfree * unit), drift);

    ULARGE_INTEGER designatorOnly{};
    EXPECT_TRUE(GetDiskFreeSpaceExA("c:", &designatorOnly, nullptr, nullptr));
    EXPECT_NEAR(static_cast<double>(designatorOnly.QuadPart), static_cast<double>(available.QuadPart), drift);

    DWORD sectors = 0, bytes = 0, freeClusters = 0, totalClusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &sectors, &bytes, &freeClusters, &totalClusters));
    EXPECT_EQ(std::uint64_t{sectors} * bytes, unit);
    if (before.f_blocks < 0xFFFFFFFFull) {
        EXPECT_EQ(totalClusters, before.f_blocks);
    }

    ULARGE_INTEGER untouched{};
    untouched.QuadPart = 77;
    EXPECT_FALSE(GetDiskFreeSpaceExA("Q:\\", &untouched, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(untouched.QuadPart, 77u);
    EXPECT_FALSE(GetDiskFreeSpaceA("Q:\\", &sectors, &bytes, &freeClusters, &totalClusters));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(WinePrefixTest, Kernel32ExportsTheFreeSpaceCallOnly) {
    using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(LoadLibraryA("KERNEL32.DLL"), kernel);
    FARPROC proc = GetProcAddress(kernel, "GetDiskFreeSpaceExA");
    ASSERT_NE(proc, nullptr);
    auto call = reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void (*)()>(proc));
    EXPECT_EQ(call, &GetDiskFreeSpaceExA);
    ULARGE_INTEGER total{};
    EXPECT_TRUE(call("Z:\\", nullptr, &total, nullptr));
    EXPECT_GT(total.QuadPart, 0u);

    EXPECT_EQ(GetProcAddress(kernel, "GetDiskFreeSpaceExW"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(kernel, "getdiskfreespaceexa"), nullptr);  // export names are exact
    EXPECT_EQ(GetProcAddress(kernel, reinterpret_cast<LPCSTR>(1)), nullptr);
    EXPECT_TRUE(FreeLibrary(kernel));

    EXPECT_EQ(LoadLibraryA("user32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

// ---- Text in code page 932 -------------------------------------------------

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(Cp932Text, CompareFoldsAsciiLettersButNeverASecondByte) {
    struct Row {
        const char* a;
        const char* b;
        int sensitive;
        int insensitive;
    } rows[] = {
        {"UPDATE.INI", "update.ini", -1, 0},
        {"abc", "abd", -1, -1},
        {"a", "B", 1, -1},
        {"abc", "ab", 1, 1},
        {"", "", 0, 0},
        // "ア" (0x83 0x41) and "ツ" (0x83 0x61): second bytes that look like A / a.
        {"\x83\x41", "\x83\x61", -1, -1},
        {"\x83\x61", "\x83\x41", 1, 1},
        // Folding resumes after a two-byte character.
        {"\x95\x5C" "A.txt", "\x95\x5C" "a.TXT", -1, 0},
        // A lone lead byte at the end is an ordinary byte.
        {"X\x83", "x\x83", -1, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Sign(lstrcmpA(row.a, row.b)), row.sensitive) << row.a << " / " << row.b;
        EXPECT_EQ(Sign(lstrcmpiA(row.a, row.b)), row.insensitive) << row.a << " / " << row.b;
    }
}

TEST(Cp932Text, CharNextStepsOverWholeCharacters) {
    struct Row {
        const char* text;
        int step;
    } rows[] = {
        {"A", 1}, {"\\", 1}, {"", 0}, {"\x95\x5C" "A", 2}, {"\x83\x41", 2},
        {"\xE0\x40", 2}, {"\xA0" "A", 1},  // half-width katakana: one byte
        {"\x95", 1},                       // a lead byte at the end never steps past the NUL
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CharNextA(row.text) - row.text, row.step) << row.text;
    }
    // The one real separator in "表示\x" is the third character's byte.
    const char path[] = "\x95\x5C\x8E\xA6\\x";
    int separators = 0;
    for (const char* p = path; *p; p = CharNextA(p)) {
        separators += *p == '\\';
    }
    EXPECT_EQ(separators, 1);
}

TEST(Cp932Text, LeadBytesAreTheTwoRanges) {
    struct Row {
        BYTE byte;
        BOOL lead;
    } rows[] = {
        {0x41, FALSE}, {0x5C, FALSE}, {0x80, FALSE}, {0x81, TRUE}, {0x9F, TRUE}, {0xA0, FALSE},
        {0xDF, FALSE}, {0xE0, TRUE},  {0xFC, TRUE},  {0xFD, FALSE}, {0xFF, FALSE},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IsDBCSLeadByte(row.byte), row.lead) << int(row.byte);
    }
}

TEST(Cp932Text, CopyConcatenateAndLength) {
    char buffer[32] = "zzzzzzzz";
    EXPECT_EQ(lstrcpyA(buffer, "C:\\"), buffer);
    EXPECT_EQ(lstrcatA(buffer, kHyojiCp932), buffer);
    EXPECT_STREQ(buffer, "C:\\\x95\x5C\x8E\xA6");
    EXPECT_EQ(lstrlenA(buffer), 7);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}

std::string Format(const char* format, ...) {
    char out[1100];
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(out, format, args);
    va_end(args);
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)));
    return out;
}

TEST(Formatter, FormatsTheConversionsTheMessagesUse) {
    struct Row {
        std::string got;
        std::string expected;
    } rows[] = {
        {Format("UpdateFile%02i", 7), "UpdateFile07"},
        {Format("%02i", 12), "12"},
        {Format("%02i", 123), "123"},
        {Format("%02i", -3), "-3"},
        {Format("%04i", -3), "-003"},
        {Format("%i|%d", -2147483647 - 1, 2147483647), "-2147483648|2147483647"},
        {Format("%u", 4294967295u), "4294967295"},
        {Format("%x %X", 0xBEEFu, 0xBEEFu), "beef BEEF"},
        {Format("[%5s][%-5s]", "ab", "ab"), "[   ab][ab   ]"},
        {Format("%c%c", 'o', 'k'), "ok"},
        {Format("100%%"), "100%"},
        {Format("%s", static_cast<const char*>(nullptr)), "(null)"},
        {Format("%lu", DWORD{4000000000u}), "4000000000"},
        {Format("Software\\%s\\%s", "Company", "Game"), "Software\\Company\\Game"},
        // A code page 932 argument passes byte for byte, 0x5C included.
        {Format("\x83\x66\x83\x42\x83\x58\x83\x4E %s %i", kHyojiCp932, 42),
         "\x83\x66\x83\x42\x83\x58\x83\x4E \x95\x5C\x8E\xA6 42"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.got, row.expected);
    }
    char out[64];
    // "%s ドライブ %i" in code page 932.
    const int length = wsprintfA(out, "%s \x83\x68\x83\x89\x83\x43\x83\x75 %i", "C:", 1);
    EXPECT_STREQ(out, "C: \x83\x68\x83\x89\x83\x43\x83\x75 1");
    EXPECT_EQ(length, 13);
}

TEST(Formatter, OutputStopsAt1024BytesWithTheTerminator) {
    const std::string longText(3000, 'a');
    std::vector<char> out(4096, 'Z');
    EXPECT_EQ(wsprintfA(out.data(), "%s%s", longText.c_str(), "tail"), 1023);
    EXPECT_EQ(std::string(out.data()), std::string(1023, 'a'));
    EXPECT_EQ(out[1024], 'Z');

    std::fill(out.begin(), out.end(), 'Z');
    EXPECT_EQ(wsprintfA(out.data(), "%2000i", 5), 1023);
    EXPECT_EQ(out[1023], '\0');
    EXPECT_EQ(out[1024], 'Z');
}

// ---- Heap blocks -----------------------------------------------------------

TEST(Memory, ZeroInitialisedFixedBlocks) {
    auto* block = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 16), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
