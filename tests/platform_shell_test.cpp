// Drive types and the shell's copy on the Linux side, inside a throw-away Wine
// prefix whose drives link to scratch folders. No window is drawn: the display
// is taken away before the first copy, so the copies run as they do without a
// desktop, and the progress handler stands in for the window's Cancel button.
// The suite runs as root, which ignores permission bits: read-only files are
// checked through the attribute mapping (GetFileAttributesA).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "path_map.h"
#include "platform.h"
#include "saved_variable.h"

namespace {

namespace fs = std::filesystem;
using wq2::platform::CopyProgress;

// "表" in code page 932 ends in 0x5C, the code of "\".
const std::string kHyoCp932 = "\x95\x5C";
const std::string kHyoUtf8 = "\xE8\xA1\xA8";

// The updater's flags for a file.
constexpr FILEOP_FLAGS kQuiet = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

struct Box {
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<Box> boxes;

int RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    boxes.push_back({text, caption, type});
    return IDOK;
}

// What the progress handler saw, and when it cancels.
std::vector<CopyProgress> reports;
std::vector<std::string> reportedNames;
std::function<bool(const CopyProgress&)> goOn;

bool RecordProgress(const CopyProgress& progress) {
    reports.push_back(progress);
    reportedNames.push_back(progress.name);
    reports.back().name = nullptr;  // only valid during the call
    return goOn ? goOn(progress) : true;
}

std::string Cp932(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(wq2::platform::Utf8ToCp932(utf8, out)) << utf8;
    return out;
}

class PrefixTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/wq2-shell-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = fs::canonical(pattern).string();
        fs::create_directories(root_ + "/prefix/dosdevices");
        fs::create_directories(root_ + "/c");
        Link(root_ + "/c", "c:");
        setenv("WINEPREFIX", (root_ + "/prefix").c_str(), 1);
        // No desktop: GTK starts once per process, so this holds for the suite.
        unsetenv("DISPLAY");
        boxes.clear();
        reports.clear();
        reportedNames.clear();
        goOn = nullptr;
        previousBox_ = SetMessageBoxHandler(RecordBox);
        previousProgress_ = wq2::platform::SetCopyProgressHandler(RecordProgress);
        oldFolder_ = fs::current_path();
    }

    void TearDown() override {
        fs::current_path(oldFolder_);
        SetMessageBoxHandler(previousBox_);
        wq2::platform::SetCopyProgressHandler(previousProgress_);
        wq2::platform::SetMountTable(nullptr);
        fs::remove_all(root_);  // removes the drive links, never what they point at
    }

    void Link(const std::string& target, const std::string& drive) {
        fs::create_symlink(target, root_ + "/prefix/dosdevices/" + drive);
    }
    std::string OnC(const std::string& rest) const { return root_ + "/c/" + rest; }

    static void Write(const std::string& path, const std::string& content) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static timespec ModifiedAt(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
        return st.st_mtim;
    }
    // A last-write time with a fraction, as a disc's files have.
    static void Stamp(const std::string& path) {
        const timespec times[2] = {{981173106, 123456700}, {981173106, 123456700}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    static bool SameTime(const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
    // Every name under a folder, relative to it, sorted; folders end in "/".
    static std::vector<std::string> Tree(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            names.push_back(fs::relative(entry.path(), folder).string() + (entry.is_directory() ? "/" : ""));
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Bytes that differ from one MiB to the next, so a shifted piece shows.
    static std::string Pattern(std::size_t size) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 1048576) & 0xFF);
        return data;
    }

    // SHFileOperationA with one name on each side (closed by two NULs).
    static int CopyOne(const std::string& from, const std::string& to, FILEOP_FLAGS flags,
                       BOOL* aborted = nullptr) {
        const std::string fromList = from + '\0';
        const std::string toList = to + '\0';
        SHFILEOPSTRUCTA operation{};
        operation.wFunc = FO_COPY;
        operation.pFrom = fromList.c_str();
        operation.pTo = toList.c_str();
        operation.fFlags = flags;
        operation.fAnyOperationsAborted = 12345;
        int result = SHFileOperationA(&operation);
        if (aborted != nullptr) *aborted = operation.fAnyOperationsAborted;
        return result;
    }

    std::string root_;
    wq2test::SavedVariable savedPrefix_{"WINEPREFIX"};
    wq2test::SavedVariable savedDisplay_{"DISPLAY"};
    MessageBoxHandler previousBox_ = nullptr;
    wq2::platform::CopyProgressHandler previousProgress_ = nullptr;
    fs::path oldFolder_;
};

// ---- Drive types ---------------------------------------------------------------

using DriveTypeTest = PrefixTest;

TEST_F(DriveTypeTest, FromTheLinksAndWhatSystemRegRecords) {
    for (const char* name : {"d", "e", "f", "g", "h", "i", "k", "x"}) fs::create_directories(root_ + "/" + name);
    Write(root_ + "/afile", "not a folder");
    for (std::string letter : {"d", "e", "f", "g", "h", "i", "k"}) Link(root_ + "/" + letter, letter + ":");
    Link(root_ + "/gone", "n:");
    Link(root_ + "/afile", "p:");
    Link(root_ + "/x", "x::");  // Wine's link to a raw device, not a drive
    // As Wine writes it, with drives' names and types in either case.
    Write(root_ + "/prefix/system.reg",
          "WINE REGISTRY Version 2\n"
          ";; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
          "[Software\\\\Wine\\\\Drives] 1700000000\n"
          "#time=1d9a1b2c3d4e5f6\n"
          "\"d:\"=\"CDROM\"\n"
          "\"E:\"=\"cdrom\"\n"
          "\"f:\"=\"floppy\"\n"
          "\"g:\"=\"network\"\n"
          "\"h:\"=\"hd\"\n"
          "\"i:\"=\"ramdisk\"\n"
          "\"m:\"=\"cdrom\"\n"
          "\"n:\"=\"cdrom\"\n"
          "\"p:\"=\"cdrom\"\n\n"
          "[Software\\\\Wine\\\\DrivesOther] 1700000000\n"
          "\"k:\"=\"cdrom\"\n");
    struct Row {
        const char* root;
        UINT type;
    } rows[] = {
        {"C:", DRIVE_FIXED},          // no record: a disk
        {"C:\\", DRIVE_FIXED},
        {"c:/", DRIVE_FIXED},
        {"D:", DRIVE_CDROM},
        {"d:\\", DRIVE_CDROM},
        {"e:/", DRIVE_CDROM},
        {"F:", DRIVE_REMOVABLE},
        {"G:", DRIVE_REMOTE},
        {"H:", DRIVE_FIXED},
        {"I:", DRIVE_RAMDISK},
        {"K:", DRIVE_FIXED},          // recorded under another key
        {"M:", DRIVE_NO_ROOT_DIR},    // recorded, but no link
        {"N:", DRIVE_NO_ROOT_DIR},    // a link to nothing
        {"P:", DRIVE_NO_ROOT_DIR},    // a link to a file
        {"X:", DRIVE_NO_ROOT_DIR},    // only the raw device's link
        {"C:\\Windows", DRIVE_NO_ROOT_DIR},
        {"C", DRIVE_NO_ROOT_DIR},
        {"", DRIVE_NO_ROOT_DIR},
        {"1:", DRIVE_NO_ROOT_DIR},
    };
    for (const Row& row : rows) EXPECT_EQ(GetDriveTypeA(row.root), row.type) << row.root;

    // No root at all: the current folder's drive.
    fs::current_path(root_ + "/d");
    EXPECT_EQ(GetDriveTypeA(nullptr), static_cast<UINT>(DRIVE_CDROM));
    fs::current_path(root_ + "/c");
    EXPECT_EQ(GetDriveTypeA(nullptr), static_cast<UINT>(DRIVE_FIXED));
}

TEST_F(DriveTypeTest, FromTheFileSystemUnderTheLink) {
    for (const char* name : {"disc/sub", "with space", "share/inner", "stack", "discs", "alias-target"}) {
        fs::create_directories(root_ + "/" + name);
    }
    fs::create_directory_symlink(root_ + "/disc", root_ + "/alias");
    Link(root_ + "/disc/sub", "q:");
    Link(root_ + "/with space", "r:");
    Link(root_ + "/share", "s:");
    Link(root_ + "/share/inner", "t:");
    Link(root_ + "/stack", "u:");
    Link(root_ + "/discs", "v:");
    Link(root_ + "/alias", "w:");
    Link(root_ + "/disc", "y:");
    // A record other than "cdrom" does not hide a disc's file system.
    Write(root_ + "/prefix/system.reg", "[Software\\\\Wine\\\\Drives]\n\"y:\"=\"hd\"\n");
    const std::string table = root_ + "/mountinfo";
    Write(table,
          "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
          "45 22 7:0 / " + root_ + "/disc ro,relatime shared:40 - iso9660 /dev/loop0 ro\n"
          "46 22 11:0 / " + root_ + "/with\\040space ro - udf /dev/sr0 ro\n"
          "47 22 0:50 / " + root_ + "/share rw - nfs4 server:/export rw\n"
          "48 47 254:1 / " + root_ + "/share/inner rw - ext4 /dev/vdb rw\n"
          "49 22 7:1 / " + root_ + "/stack ro - iso9660 /dev/loop1 ro\n"
          "50 22 0:51 / " + root_ + "/stack rw - tmpfs none rw\n"
          "garbage line\n");
    wq2::platform::SetMountTable(table.c_str());
    struct Row {
        const char* root;
        UINT type;
    } rows[] = {
        {"Q:", DRIVE_CDROM},   // a folder deep inside the disc
        {"R:", DRIVE_CDROM},   // a mount point with an escaped space
        {"S:", DRIVE_REMOTE},
        {"T:", DRIVE_FIXED},   // the longest mount point wins
        {"U:", DRIVE_FIXED},   // the later mount hides the disc
        {"V:", DRIVE_FIXED},   // "discs" is not inside "disc"
        {"W:", DRIVE_CDROM},   // links are followed to the disc
        {"Y:", DRIVE_CDROM},
        {"C:", DRIVE_FIXED},
    };
    for (const Row& row : rows) EXPECT_EQ(GetDriveTypeA(row.root), row.type) << row.root;

    // Without a readable table nothing is known but the links.
    const std::string missing = root_ + "/missing";
    wq2::platform::SetMountTable(missing.c_str());
    EXPECT_EQ(GetDriveTypeA("Q:"), static_cast<UINT>(DRIVE_FIXED));
}

// ---- Copies --------------------------------------------------------------------

using ShellCopyTest = PrefixTest;

TEST_F(ShellCopyTest, FileIntoMissingNestedFoldersKeepsContentAndTime) {
    const std::string content = Pattern(3 * 1048576 + 17);
    Write(OnC("src/a.bin"), content);
    Stamp(OnC("src/a.bin"));
    ASSERT_EQ(CopyOne("C:\\src\\a.bin", "C:\\x\\y\\z\\copy.bin", kQuiet), 0);
    EXPECT_EQ(Read(OnC("x/y/z/copy.bin")), content);
    EXPECT_TRUE(SameTime(ModifiedAt(OnC("x/y/z/copy.bin")), ModifiedAt(OnC("src/a.bin"))));
    EXPECT_EQ(GetFileAttributesA("C:\\x\\y\\z\\copy.bin"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Tree(OnC("x")), (std::vector<std::string>{"y/", "y/z/", "y/z/copy.bin"}));
    EXPECT_TRUE(boxes.empty());

    // The handler saw the file from its start to its end, a piece at a time.
    ASSERT_GE(reports.size(), 5u);
    EXPECT_EQ(reportedNames.front(), "a.bin");
    EXPECT_EQ(reports.front().fileDone, 0u);
    EXPECT_EQ(reports.back().fileDone, content.size());
    EXPECT_EQ(reports.back().totalDone, content.size());
    EXPECT_EQ(reports.back().totalBytes, content.size());
}

TEST_F(ShellCopyTest, FileToAnExistingFolderGoesIntoIt) {
    Write(OnC("src/a.txt"), "one");
    fs::create_directories(OnC("dest"));
    ASSERT_EQ(CopyOne("C:\\src\\a.txt", "C:\\DEST", kQuiet), 0);
    EXPECT_EQ(Read(OnC("dest/a.txt")), "one");
}

TEST_F(ShellCopyTest, FolderLandsUnderItsOwnNameWithEverythingInIt) {
    Write(OnC("a/b/1.txt"), "one");
    Write(OnC("a/b/sub/2.txt"), "two");
    Write(OnC("a/b/sub/deeper/3.txt"), "three");
    fs::create_directories(OnC("a/b/empty"));
    Write(OnC("a/other.txt"), "not copied");
    Stamp(OnC("a/b/sub/2.txt"));
    ASSERT_EQ(CopyOne("C:\\a\\b", "C:\\d\\e", kQuiet), 0);
    EXPECT_EQ(Tree(OnC("d")), (std::vector<std::string>{"e/", "e/b/", "e/b/1.txt", "e/b/empty/", "e/b/sub/",
                                                        "e/b/sub/2.txt", "e/b/sub/deeper/",
                                                        "e/b/sub/deeper/3.txt"}));
    EXPECT_EQ(Read(OnC("d/e/b/sub/deeper/3.txt")), "three");
    EXPECT_TRUE(SameTime(ModifiedAt(OnC("d/e/b/sub/2.txt")), ModifiedAt(OnC("a/b/sub/2.txt"))));
    EXPECT_EQ(reports.back().totalBytes, 11u);
    EXPECT_EQ(reports.back().totalDone, 11u);
}

TEST_F(ShellCopyTest, FolderMergesIntoExistingNamesIgnoringCase) {
    Write(OnC("disc/DATA/Sub/A.TXT"), "new a");
    Write(OnC("disc/DATA/b.txt"), "new b");
    Write(OnC("game/data/sub/a.txt"), "old a");
    Write(OnC("game/data/keep.txt"), "kept");
    ASSERT_EQ(CopyOne("C:\\disc\\DATA", "C:\\game", kQuiet), 0);
    EXPECT_EQ(Tree(OnC("game")), (std::vector<std::string>{"data/", "data/b.txt", "data/keep.txt", "data/sub/",
                                                           "data/sub/a.txt"}));
    EXPECT_EQ(Read(OnC("game/data/sub/a.txt")), "new a");
}

// A disc's read-only mark goes with a new copy; a copy that replaces a file
// keeps that file's mark cleared, as Wine's shell copy leaves it.
TEST_F(ShellCopyTest, ReplacesTargetsAndCarriesTheReadOnlyAttribute) {
    struct Row {
        const char* name;
        bool sourceReadOnly;
        bool targetExists;
        bool targetReadOnly;
    } rows[] = {
        {"new.txt", false, false, false},
        {"writable.txt", false, true, false},
        {"readonly.txt", false, true, true},
        {"fromdisc.txt", true, false, false},
        {"fromdisc-over-readonly.txt", true, true, true},
        {"fromdisc-over-writable.txt", true, true, false},
    };
    for (const Row& row : rows) {
        const std::string source = std::string("src\\") + row.name;
        const std::string target = std::string("dest\\") + row.name;
        Write(OnC("src/") + row.name, std::string("new ") + row.name);
        if (row.sourceReadOnly) {
            ASSERT_TRUE(SetFileAttributesA(("C:\\" + source).c_str(), FILE_ATTRIBUTE_READONLY));
        }
        if (row.targetExists) Write(OnC("dest/") + row.name, "old, and longer than the new content");
        if (row.targetReadOnly) {
            ASSERT_TRUE(SetFileAttributesA(("C:\\" + target).c_str(), FILE_ATTRIBUTE_READONLY));
        }

        EXPECT_EQ(CopyOne("C:\\" + source, "C:\\" + target, kQuiet), 0) << row.name;
        EXPECT_EQ(Read(OnC("dest/") + row.name), std::string("new ") + row.name);
        EXPECT_EQ(GetFileAttributesA(("C:\\" + target).c_str()),
                  row.sourceReadOnly && !row.targetExists ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL)
            << row.name;
    }
    EXPECT_EQ(Tree(OnC("dest")).size(), std::size(rows));  // no temporary left beside them
}

TEST_F(ShellCopyTest, FailuresReportAnErrorAndWriteNothing) {
    Write(OnC("a/x.txt"), "x");
    Write(OnC("blocker"), "a file where a folder must go");
    const std::string two = std::string("C:\\a\\x.txt") + '\0' + "C:\\a\\x.txt";
    struct Row {
        std::string from;
        std::string to;
        int result;
    } rows[] = {
        {"C:\\missing.txt", "C:\\out\\missing.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\nofolder\\missing.txt", "C:\\out\\missing.txt", ERROR_PATH_NOT_FOUND},
        {"M:\\x.txt", "C:\\out\\x.txt", ERROR_PATH_NOT_FOUND},  // no such drive
        {"C:\\a\\x.txt", "M:\\x.txt", ERROR_PATH_NOT_FOUND},
        {"", "C:\\out\\x.txt", ERROR_INVALID_PARAMETER},
        {two, "C:\\out", ERROR_INVALID_PARAMETER},
        {"C:\\a\\x.txt", two, ERROR_INVALID_PARAMETER},
        {"C:\\a", "C:\\a\\inner", ERROR_INVALID_PARAMETER},  // a folder into itself
        {"C:\\a\\x.txt", "C:\\blocker\\x.txt", ERROR_ALREADY_EXISTS},
    };
    for (const Row& row : rows) {
        boxes.clear();
        BOOL aborted = TRUE;
        EXPECT_EQ(CopyOne(row.from, row.to, kQuiet, &aborted), row.result) << row.from << " -> " << row.to;
        EXPECT_FALSE(aborted) << row.from;
        EXPECT_TRUE(boxes.empty()) << row.from;
        // Without FOF_NOERRORUI one box tells it, owned by the caller's window.
        EXPECT_EQ(CopyOne(row.from, row.to, FOF_NOCONFIRMATION), row.result) << row.from;
        ASSERT_EQ(boxes.size(), 1u) << row.from;
        EXPECT_EQ(boxes[0].caption, Cp932("ファイルのコピー エラー"));
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    }
    EXPECT_FALSE(fs::exists(OnC("out")));
    EXPECT_FALSE(fs::exists(OnC("a/inner")));
    EXPECT_EQ(Tree(OnC("")), (std::vector<std::string>{"a/", "a/x.txt", "blocker"}));

    // Only the copy is served, and a null operation is refused.
    Write(OnC("a/x.txt"), "x");
    SHFILEOPSTRUCTA operation{};
    const char list[] = "C:\\a\\x.txt\0";
    operation.wFunc = FO_DELETE;
    operation.pFrom = list;
    operation.fFlags = kQuiet;
    EXPECT_EQ(SHFileOperationA(&operation), static_cast<int>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(fs::exists(OnC("a/x.txt")));
    EXPECT_NE(SHFileOperationA(nullptr), 0);
}

TEST_F(ShellCopyTest, CancelPartWayLeavesNoPartialFileAndNoTemporary) {
    const std::string content = Pattern(5 * 1048576);
    Write(OnC("src/big.bin"), content);
    Write(OnC("src/folder/1-small.txt"), "small");
    Write(OnC("src/folder/2-big.bin"), content);
    struct Row {
        const char* from;
        const char* to;
        bool targetExists;
    } rows[] = {
        {"C:\\src\\big.bin", "C:\\new\\big.bin", false},
        {"C:\\src\\big.bin", "C:\\old\\big.bin", true},
        {"C:\\src\\folder", "C:\\tree", false},
    };
    Write(OnC("old/big.bin"), "the old content");
    // Stops once 2 MiB of a big file are written.
    goOn = [](const CopyProgress& p) { return p.fileDone < 2 * 1048576; };
    for (const Row& row : rows) {
        BOOL aborted = FALSE;
        EXPECT_EQ(CopyOne(row.from, row.to, FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR, &aborted),
                  static_cast<int>(ERROR_CANCELLED))
            << row.from;
        EXPECT_TRUE(aborted) << row.from;
    }
    EXPECT_TRUE(boxes.empty());  // a cancel is no error to tell
    EXPECT_EQ(Tree(OnC("new")), std::vector<std::string>{});
    EXPECT_EQ(Tree(OnC("old")), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(Read(OnC("old/big.bin")), "the old content");
    // What was copied before the cancel stays.
    EXPECT_EQ(Tree(OnC("tree")), (std::vector<std::string>{"folder/", "folder/1-small.txt"}));
}

TEST_F(ShellCopyTest, JapaneseNamesWhoseSecondByteIsABackslash) {
    const std::string hyoji = kHyoCp932 + "\x8E\xA6";  // 表示
    Write(OnC(kHyoUtf8 + "/" + kHyoUtf8 + ".dat"), "hyo");
    ASSERT_EQ(CopyOne("C:\\" + kHyoCp932, "C:\\out", kQuiet), 0);
    EXPECT_EQ(Read(OnC("out/" + kHyoUtf8 + "/" + kHyoUtf8 + ".dat")), "hyo");
    ASSERT_FALSE(reportedNames.empty());
    EXPECT_EQ(reportedNames.back(), kHyoCp932 + ".dat");

    ASSERT_EQ(CopyOne("C:\\" + kHyoCp932 + "\\" + kHyoCp932 + ".dat", "C:\\" + hyoji + "\\" + hyoji + ".dat",
                      kQuiet),
              0);
    EXPECT_EQ(Read(OnC("\xE8\xA1\xA8\xE7\xA4\xBA/\xE8\xA1\xA8\xE7\xA4\xBA.dat")), "hyo");
}

// ---- A real disc image ---------------------------------------------------------

// Mounts an image made with genisoimage: with the kernel's iso9660 over a loop
// device where the kernel has it, with fuseiso otherwise. Needs root.
class DiscImageTest : public PrefixTest {
protected:
    void SetUp() override {
        PrefixTest::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
        if (std::system("command -v genisoimage >/dev/null 2>&1") != 0) GTEST_SKIP() << "no genisoimage";
        Write(root_ + "/image/DATA/a.txt", "from the disc");
        Write(root_ + "/image/DATA/" + kHyoUtf8 + ".txt", "hyo");
        Stamp(root_ + "/image/DATA/a.txt");
        fs::create_directories(root_ + "/mnt");
        const std::string iso = root_ + "/game.iso";
        // -r: every file readable and no file writable, as discs are made.
        ASSERT_EQ(Run("genisoimage -quiet -r -J -input-charset utf-8 -V GAME -o '" + iso + "' '" + root_ + "/image'"),
                  0);
        if (Run("grep -qw iso9660 /proc/filesystems && mount -o loop,ro -t iso9660 '" + iso + "' '" + root_ +
                "/mnt' 2>/dev/null") == 0) {
            unmount_ = "umount '" + root_ + "/mnt'";
        } else if (Run("command -v fuseiso >/dev/null && test -c /dev/fuse && fuseiso '" + iso + "' '" + root_ +
                       "/mnt'") == 0) {
            unmount_ = "fusermount -u '" + root_ + "/mnt'";
        } else {
            GTEST_SKIP() << "neither a loop mount of iso9660 nor fuseiso is available";
        }
        Link(root_ + "/mnt", "q:");
    }

    void TearDown() override {
        if (!unmount_.empty()) {
            EXPECT_EQ(Run(unmount_), 0);
        }
        PrefixTest::TearDown();
    }

    static int Run(const std::string& command) { return std::system(command.c_str()); }

    std::string unmount_;
};

TEST_F(DiscImageTest, IsACdromDriveAndItsFilesCopyReadOnly) {
    EXPECT_EQ(GetDriveTypeA("Q:\\"), static_cast<UINT>(DRIVE_CDROM));
    EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
    ASSERT_EQ(CopyOne("Q:\\DATA", "C:\\Game", kQuiet), 0);
    EXPECT_EQ(Read(OnC("Game/DATA/a.txt")), "from the disc");
    EXPECT_EQ(Read(OnC("Game/DATA/" + kHyoUtf8 + ".txt")), "hyo");
    EXPECT_EQ(GetFileAttributesA("C:\\Game\\DATA\\a.txt"), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ModifiedAt(OnC("Game/DATA/a.txt")).tv_sec, ModifiedAt(root_ + "/mnt/DATA/a.txt").tv_sec);
    // The folders made for the copy are the game's, and writable, unlike the disc's.
    struct stat st {};
    ASSERT_EQ(stat(OnC("Game/DATA").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

}  // namespace
