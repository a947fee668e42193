#include "wq2_commands.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "block_decoder.h"
#include "block_encoder.h"
#include "make_updater.h"
#include "native_names.h"
#include "payload_format.h"
#include "payload_reader.h"
#include "payload_writer.h"
#include "temporary_file.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace wq2 {
namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitBadData = 1;
constexpr int kExitUsage = 2;

// An entry's sizes are 32-bit, so its content must stay below 4 GiB; an archive's
// offsets are 32-bit too, so no archive file is larger.
constexpr uint64_t kFourGiB = uint64_t(1) << 32;

constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns ticks
constexpr uint64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// ---------------------------------------------------------------------------------
// Text

// Command-line arguments are UTF-8 on every platform; on Windows the path holds the
// wide form, so no file name depends on the ANSI code page.
fs::path PathFromArgument(const std::string& argument) {
    return fs::path(std::u8string(argument.begin(), argument.end()));
}

std::string Utf8Name(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

char FoldAsciiLetter(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string FoldAllAsciiLetters(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), FoldAsciiLetter);
    return text;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// "45.3%" for stored/unpacked; "-" when there is nothing to compare with.
std::string FormatRatio(uint64_t stored, uint64_t unpacked) {
    if (unpacked == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", double(stored) * 100.0 / double(unpacked));
    return text;
}

void PrintError(std::ostream& err, const std::string& message) {
    err << "wq2: " << message << '\n';
}

// ---------------------------------------------------------------------------------
// File times

struct CivilDate {
    int64_t year;
    unsigned month;
    unsigned day;
};

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar (400-year eras,
// years starting in March so that the leap day comes last).
CivilDate CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = unsigned(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const unsigned month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    return {int64_t(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// UTC in ISO 8601, with the sub-second ticks as a fraction when there are any.
std::string FormatFileTime(uint64_t fileTime) {
    const uint64_t seconds = fileTime / kTicksPerSecond;
    const unsigned ticks = unsigned(fileTime % kTicksPerSecond);
    const CivilDate date = CivilFromDays(int64_t(seconds / kSecondsPerDay) - kDaysFrom1601To1970);
    const unsigned secondOfDay = unsigned(seconds % kSecondsPerDay);
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02uT%02u:%02u:%02u", date.year,
                  date.month, date.day, secondOfDay / 3600, secondOfDay / 60 % 60,
                  secondOfDay % 60);
    std::string result = text;
    if (ticks != 0) {
        std::snprintf(text, sizeof text, ".%07u", ticks);
        result += text;
        result.erase(result.find_last_not_of('0') + 1);
    }
    return result + "Z";
}

#ifdef _WIN32

bool ReadLastWriteTime(const fs::path& path, uint64_t* fileTime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *fileTime = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 |
                data.ftLastWriteTime.dwLowDateTime;
    return true;
}

// Creation, last access and last write, all three, as the updater stamps its files.
bool SetFileTimes(const fs::path& path, uint64_t fileTime) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME time;
    time.dwLowDateTime = DWORD(fileTime);
    time.dwHighDateTime = DWORD(fileTime >> 32);
    const bool ok = SetFileTime(file, &time, &time, &time) != 0;
    CloseHandle(file);
    return ok;
}

#else

// Unix time counts seconds from 1970-01-01 UTC, FILETIME 100 ns ticks from 1601-01-01
// UTC: FILETIME = seconds * 10^7 + 116444736000000000 + nanoseconds / 100.
constexpr int64_t kSecondsFrom1601To1970 = kDaysFrom1601To1970 * int64_t(kSecondsPerDay);

uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds) {
    if (seconds < -kSecondsFrom1601To1970) return 0;  // before 1601: the earliest FILETIME
    const uint64_t since1601 = uint64_t(seconds + kSecondsFrom1601To1970);
    if (since1601 > (UINT64_MAX - kTicksPerSecond) / kTicksPerSecond) return UINT64_MAX;
    return since1601 * kTicksPerSecond + uint64_t(nanoseconds) / 100;
}

timespec UnixFromFileTime(uint64_t fileTime) {
    timespec time{};
    time.tv_sec = time_t(int64_t(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970);
    time.tv_nsec = long(fileTime % kTicksPerSecond) * 100;
    return time;
}

bool ReadLastWriteTime(const fs::path& path, uint64_t* fileTime) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return false;
    *fileTime = FileTimeFromUnix(int64_t(status.st_mtim.tv_sec), status.st_mtim.tv_nsec);
    return true;
}

// Last access and last write; Linux keeps no settable creation time.
bool SetFileTimes(const fs::path& path, uint64_t fileTime) {
    const timespec times[2] = {UnixFromFileTime(fileTime), UnixFromFileTime(fileTime)};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

#endif

// ---------------------------------------------------------------------------------
// Files and the console

bool IsTerminal(const std::ostream& stream) {
    if (&stream != &std::cerr) return false;
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// Moves `from` over `to`, replacing a file that is already there.
// Reads a whole file of at most `limit` bytes. On failure `problem` says why.
bool ReadWholeFile(const fs::path& path, uint64_t limit, std::vector<uint8_t>* data,
                   std::string* problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in.seekg(0, std::ios::end)) {
        *problem = "cannot be opened for reading";
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || uint64_t(size) > limit) {
        *problem = size < 0 ? "cannot be read" : "is too large for the format (4 GiB)";
        return false;
    }
    data->resize(size_t(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(data->data()), size)) {
        *problem = "cannot be read";
        return false;
    }
    return true;
}

bool WriteWholeFile(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    out.close();
    return !out.fail();
}


// ---------------------------------------------------------------------------------
// Names

// For each name, the index of the first name equal to it as the updater compares them
// (ASCII letters without case, code page 932 trail bytes exactly): its own index when
// it comes first. Folding every ASCII letter, trail bytes too, puts all names that may
// be equal into one bucket; the exact comparison decides within it.
std::vector<size_t> FirstOfSameName(const std::vector<std::string>& names) {
    std::unordered_map<std::string, std::vector<size_t>> buckets;
    std::vector<size_t> first(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        std::vector<size_t>& bucket = buckets[FoldAllAsciiLetters(names[i])];
        first[i] = i;
        for (size_t earlier : bucket) {
            if (NamesEqualIgnoringAsciiCase(names[earlier].c_str(), names[i].c_str())) {
                first[i] = earlier;
                break;
            }
        }
        if (first[i] == i) bucket.push_back(i);
    }
    return first;
}

bool IsCp932TrailByte(uint8_t c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// True for a name that can be joined to a folder without leaving it: no "/" or "\"
// (read as code page 932, so a trail byte 0x5C is part of its character), no colon
// (drive letters, alternate streams), and not only dots and spaces (".", "..", and
// what Windows trims down to them).
bool IsPlainEntryName(const std::string& name) {
    bool onlyDotsAndSpaces = true;
    for (size_t i = 0; i < name.size(); ++i) {
        const uint8_t c = uint8_t(name[i]);
        if (IsCp932LeadByte(c) && i + 1 < name.size() && IsCp932TrailByte(uint8_t(name[i + 1]))) {
            ++i;
            onlyDotsAndSpaces = false;
            continue;
        }
        if (c == '/' || c == '\\' || c == ':') return false;
        if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
    }
    return !onlyDotsAndSpaces;
}

// ---------------------------------------------------------------------------------
// Globs: "*", "?", "[...]" (with ranges and "!" or "^"), "\" escapes; letter case of
// ASCII ignored. Matched by character, so "?" takes one Japanese character.

std::u32string FoldedCharacters(std::string_view utf8) {
    std::u32string characters;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t c = uint8_t(utf8[i]);
        const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        const uint8_t leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t value = c & leadBits[length];
        bool valid = length != 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const uint8_t next = uint8_t(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            value = value << 6 | (next & 0x3F);
        }
        // A byte that starts no valid sequence stands for itself, apart from any character.
        characters += valid ? (value < 0x80 ? char32_t(FoldAsciiLetter(char(value))) : value)
                            : char32_t(0x110000 + c);
        i += valid ? length : 1;
    }
    return characters;
}

// Matches `c` against the bracket expression at pattern[open]. Sets *next past its
// "]"; empty when the bracket is never closed (then "[" is an ordinary character).
std::optional<bool> MatchBracket(std::u32string_view pattern, size_t open, char32_t c,
                                 size_t* next) {
    size_t i = open + 1;
    const bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negate) ++i;
    bool matched = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        if (pattern[i] == '\\' && i + 1 < pattern.size()) ++i;
        char32_t low = pattern[i], high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = pattern[i + 2];
            i += 2;
        }
        matched = matched || (low <= c && c <= high);
        ++i;
    }
    if (i >= pattern.size()) return std::nullopt;
    *next = i + 1;
    return matched != negate;
}

// Matches `c` against the one-character item at pattern[p] (anything but "*").
bool MatchItem(std::u32string_view pattern, size_t p, char32_t c, size_t* next) {
    if (pattern[p] == '?') {
        *next = p + 1;
        return true;
    }
    if (pattern[p] == '[') {
        if (std::optional<bool> matched = MatchBracket(pattern, p, c, next)) return *matched;
    }
    if (pattern[p] == '\\' && p + 1 < pattern.size()) ++p;
    *next = p + 1;
    return pattern[p] == c;
}

bool GlobMatches(std::u32string_view pattern, std::u32string_view name) {
    size_t p = 0, n = 0;
    std::optional<size_t> starP;  // the last "*" seen, to retry with it taking one more
    size_t starN = 0;
    while (n < name.size()) {
        size_t next = 0;
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() && MatchItem(pattern, p, name[n], &next)) {
            p = next;
            ++n;
        } else if (starP) {
            p = *starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// Formats that are compressed already: our blocks would not shrink them, and trying
// costs time. The writer stores anything else that does not shrink anyway.
bool HasCompressedFormatExtension(const std::string& foldedName) {
    static constexpr std::string_view kExtensions[] = {
        "png", "jpg", "jpeg", "gif", "webp", "ogg", "oga", "opus", "mp3", "m4a", "aac",
        "flac", "wma", "zip", "7z",  "gz",   "tgz", "bz2", "xz",   "lzma", "zst", "rar",
        "cab", "lzh", "lha", "mp4", "m4v",  "avi", "wmv", "mpg",  "mpeg", "mkv", "webm",
        "mov", "flv", "ogv", "jar", "apk",
    };
    const size_t dot = foldedName.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string_view extension = std::string_view(foldedName).substr(dot + 1);
    return std::find(std::begin(kExtensions), std::end(kExtensions), extension) !=
           std::end(kExtensions);
}

// ---------------------------------------------------------------------------------
// Arguments

struct OptionSpec {
    char shortName;  // 0: none
    const char* longName;
    bool takesValue;
};

struct ParsedArgs {
    std::map<std::string, std::vector<std::string>> options;  // by long name
    std::vector<std::string> operands;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    const std::vector<std::string>& Values(const std::string& name) const {
        static const std::vector<std::string> kNone;
        const auto found = options.find(name);
        return found == options.end() ? kNone : found->second;
    }
    // The last value given for an option that may appear once; later ones win.
    std::optional<std::string> Value(const std::string& name) const {
        const std::vector<std::string>& values = Values(name);
        return values.empty() ? std::nullopt : std::optional<std::string>(values.back());
    }
};

struct Console {
    std::ostream& out;
    std::ostream& err;
};

struct Command {
    const char* name;
    const char* help;
    std::vector<OptionSpec> options;
    int (*run)(const ParsedArgs& args, Console& console);
};

// Prints a usage problem with a pointer to the help; returns false for the callers
// that report success as a bool.
bool RefuseUsage(std::ostream& err, const std::string& message, const char* command) {
    PrintError(err, message);
    err << "Try 'wq2 " << (command ? std::string("help ") + command : std::string("--help"))
        << "'.\n";
    return false;
}

int UsageError(std::ostream& err, const std::string& message, const char* command) {
    RefuseUsage(err, message, command);
    return kExitUsage;
}

const OptionSpec* FindOption(const Command& command, std::string_view arg) {
    static const OptionSpec kHelp = {'h', "help", false};
    const bool isLong = arg.size() > 2 && arg[1] == '-';
    auto matches = [&](const OptionSpec& option) {
        return isLong ? arg.substr(2) == option.longName : option.shortName == arg[1];
    };
    if (matches(kHelp)) return &kHelp;
    for (const OptionSpec& option : command.options) {
        if (matches(option)) return &option;
    }
    return nullptr;
}

// Options may stand anywhere among the operands, until "--". Forms: "-o VALUE",
// "-oVALUE", "--output VALUE", "--output=VALUE". Prints a usage error and returns
// false on anything else.
bool ParseArguments(const Command& command, const std::vector<std::string>& args,
                    std::ostream& err, ParsedArgs* parsed) {
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed->operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const bool isLong = arg[1] == '-';
        const size_t equals = isLong ? arg.find('=') : std::string::npos;
        const std::string name = isLong ? arg.substr(0, equals) : arg.substr(0, 2);
        const OptionSpec* option = FindOption(command, name);
        if (!option) return RefuseUsage(err, "unknown option " + Quoted(name), command.name);
        std::optional<std::string> value;
        if (equals != std::string::npos) value = arg.substr(equals + 1);
        if (!isLong && arg.size() > 2) value = arg.substr(2);
        if (!option->takesValue && value) {
            return RefuseUsage(err, "option " + Quoted(name) + " takes no value", command.name);
        }
        if (option->takesValue && !value) {
            if (i + 1 == args.size()) {
                return RefuseUsage(err, "option " + Quoted(name) + " needs a value", command.name);
            }
            value = args[++i];
        }
        parsed->options[option->longName].push_back(value.value_or(""));
    }
    return true;
}

// ---------------------------------------------------------------------------------
// Opening an archive

struct LoadedArchive {
    std::vector<uint8_t> image;
    std::vector<uint8_t> block;               // header copy and directory records
    std::vector<ArchiveEntryInfo> entries;    // names point into `block`

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const ArchiveEntryInfo& entry : entries) names.emplace_back(entry.name);
        return names;
    }
};

// Reads the file, checks its header and directory with the bounded reader and lists
// the entries. Prints the fault and returns false when any of that fails.
bool LoadArchive(const fs::path& path, std::ostream& err, LoadedArchive* archive) {
    std::string problem;
    if (!ReadWholeFile(path, kFourGiB, &archive->image, &problem)) {
        PrintError(err, DisplayPath(path) + ": " + problem);
        return false;
    }
    size_t blockSize = 0;
    ArchiveStatus status = MeasureArchive(archive->image.data(), archive->image.size(), &blockSize);
    if (status == ArchiveStatus::Ok) {
        archive->block.resize(blockSize);
        status = LoadArchiveDirectory(archive->image.data(), archive->image.size(),
                                      archive->block.data(), blockSize);
    }
    if (status != ArchiveStatus::Ok) {
        PrintError(err, DisplayPath(path) + ": not a usable archive: " + ArchiveStatusText(status));
        return false;
    }
    uint64_t dataOffset = kHeaderSize;
    const uint32_t count = ArchiveEntryCount(archive->block.data());
    for (uint32_t i = 0; i < count; ++i) {
        archive->entries.push_back(ReadArchiveEntry(archive->block.data(), i, &dataOffset));
    }
    return true;
}

// Decodes (or copies) an entry into `buffer`, sized to it. Returns the decoder's status.
DecodeStatus ReadEntry(const LoadedArchive& archive, const ArchiveEntryInfo& entry,
                       std::vector<uint8_t>* buffer) {
    buffer->reserve(1);  // so that data() points somewhere even for an empty entry
    buffer->resize(entry.unpackedSize);
    return ReadArchiveEntryData(archive.image.data(), archive.image.size(), entry,
                                buffer->data()).status;
}

// The archive, the first operand; further operands only when `moreAllowed`.
bool TakeArchiveOperand(const ParsedArgs& args, const char* command, std::ostream& err,
                        bool moreAllowed, fs::path* archive) {
    if (args.operands.empty()) {
        return RefuseUsage(err, std::string(command) + " needs an archive", command);
    }
    if (args.operands.size() > 1 && !moreAllowed) {
        return RefuseUsage(err, "unexpected argument " + Quoted(args.operands[1]), command);
    }
    *archive = PathFromArgument(args.operands[0]);
    return true;
}

// ---------------------------------------------------------------------------------
// pack

struct PackOptions {
    fs::path output;
    CompressionLevel level = CompressionLevel::Default;
    std::vector<std::u32string> storeGlobs;
    bool plainDirectory = false;
    std::vector<fs::path> inputs;
};

struct InputFile {
    fs::path path;
    std::string entryName;
    uint64_t size = 0;
    uint64_t time = 0;
    EntryStorage storage = EntryStorage::Auto;
};

bool ParsePackOptions(const ParsedArgs& args, std::ostream& err, PackOptions* options) {
    const std::optional<std::string> output = args.Value("output");
    if (!output || output->empty()) return RefuseUsage(err, "pack needs -o OUT", "pack");
    if (args.operands.empty()) return RefuseUsage(err, "pack needs a file or folder", "pack");
    const std::optional<std::string> level = args.Value("level");
    if (level && !ParseCompressionLevel(level->c_str(), &options->level)) {
        return RefuseUsage(err, "unknown level " + Quoted(*level) + " (fast, default or max)",
                           "pack");
    }
    options->output = PathFromArgument(*output);
    for (const std::string& glob : args.Values("store")) {
        options->storeGlobs.push_back(FoldedCharacters(glob));
    }
    options->plainDirectory = args.Has("plain-directory");
    for (const std::string& operand : args.operands) {
        options->inputs.push_back(PathFromArgument(operand));
    }
    return true;
}

// Adds the files under `folder`, each folder's children in byte order of their names,
// so that the same tree always gives the same archive. Links to folders are not
// followed (they could lead round in a circle).
bool WalkFolder(const fs::path& folder, std::ostream& err, std::vector<fs::path>* files) {
    std::error_code error;
    std::vector<fs::directory_entry> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        children.push_back(*it);
    }
    if (error) {
        PrintError(err, DisplayPath(folder) + ": cannot read the folder: " + error.message());
        return false;
    }
    std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
        return a.path().filename().native() < b.path().filename().native();
    });
    bool ok = true;
    for (const fs::directory_entry& child : children) {
        if (child.is_directory(error) && child.is_symlink(error)) {
            PrintError(err, DisplayPath(child.path()) + ": link to a folder, skipped");
        } else if (child.is_directory(error)) {
            ok = WalkFolder(child.path(), err, files) && ok;
        } else if (child.is_regular_file(error)) {
            files->push_back(child.path());
        } else {
            PrintError(err, DisplayPath(child.path()) + ": not a regular file");
            ok = false;
        }
    }
    return ok;
}

bool CollectPaths(const PackOptions& options, std::ostream& err, std::vector<fs::path>* files) {
    bool ok = true;
    for (const fs::path& input : options.inputs) {
        std::error_code error;
        const fs::file_status status = fs::status(input, error);
        if (fs::is_directory(status)) {
            ok = WalkFolder(input, err, files) && ok;
        } else if (fs::is_regular_file(status)) {
            files->push_back(input);
        } else {
            PrintError(err, DisplayPath(input) + (fs::exists(status) ? ": not a regular file"
                                                                     : ": no such file or folder"));
            ok = false;
        }
    }
    // A folder that holds the archive itself, from an earlier run, must not pack it.
    std::error_code error;
    if (fs::exists(options.output, error)) {
        std::erase_if(*files, [&](const fs::path& file) {
            return fs::equivalent(file, options.output, error);
        });
    }
    return ok;
}

EntryStorage ChooseStorage(const PackOptions& options, const std::string& fileName) {
    const std::u32string folded = FoldedCharacters(fileName);
    const bool matchesGlob =
        std::any_of(options.storeGlobs.begin(), options.storeGlobs.end(),
                    [&](const std::u32string& glob) { return GlobMatches(glob, folded); });
    const bool knownFormat = HasCompressedFormatExtension(FoldAllAsciiLetters(fileName));
    return matchesGlob || knownFormat ? EntryStorage::Stored : EntryStorage::Auto;
}

// Fills in what the writer needs and checks everything that can be checked before the
// first byte is compressed. Prints every problem found.
bool DescribeFile(const PackOptions& options, std::ostream& err, InputFile* file) {
    const std::string where = DisplayPath(file->path) + ": ";
    if (!EntryNameFromFileName(file->path.filename(), &file->entryName)) {
        PrintError(err, where + "the name cannot be written in code page 932 (Shift-JIS)");
        return false;
    }
    if (file->entryName.size() >= kEntryNameSize) {
        PrintError(err, where + "the name is longer than " + std::to_string(kEntryNameSize - 1) +
                            " bytes in code page 932");
        return false;
    }
    std::error_code error;
    file->size = fs::file_size(file->path, error);
    if (error || !ReadLastWriteTime(file->path, &file->time)) {
        PrintError(err, where + "cannot be read: " + (error ? error.message() : "no time"));
        return false;
    }
    if (file->size >= kFourGiB) {
        PrintError(err, where + "4 GiB or larger; an entry must be smaller");
        return false;
    }
    file->storage = ChooseStorage(options, Utf8Name(file->path.filename()));
    return true;
}

bool ReportDuplicateNames(const std::vector<InputFile>& files, std::ostream& err) {
    std::vector<std::string> names;
    for (const InputFile& file : files) names.push_back(file.entryName);
    const std::vector<size_t> first = FirstOfSameName(names);
    bool ok = true;
    for (size_t i = 0; i < files.size(); ++i) {
        if (first[i] == i) continue;
        PrintError(err, DisplayPath(files[first[i]].path) + " and " + DisplayPath(files[i].path) +
                            " would both be entry " + Quoted(DisplayEntryName(names[i])) +
                            " (the updater ignores the case of letters)");
        ok = false;
    }
    return ok;
}

// One line on stderr, rewritten in place: drawn from the start on a terminal, and
// elsewhere only once the work has gone on for more than a moment.
class Progress {
public:
    Progress(std::ostream& err, size_t totalFiles, uint64_t totalBytes)
        : err_(err), terminal_(IsTerminal(err)), totalFiles_(totalFiles), totalBytes_(totalBytes) {}

    void Update(size_t filesDone, uint64_t bytesDone) {
        const Clock::time_point now = Clock::now();
        if (!terminal_ && now - start_ < std::chrono::seconds(1)) return;
        if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        Draw(filesDone, bytesDone);
        lastDraw_ = now;
    }

    void Finish(size_t filesDone, uint64_t bytesDone) {
        if (!drawn_) return;
        Draw(filesDone, bytesDone);
        err_ << '\n' << std::flush;
    }

private:
    using Clock = std::chrono::steady_clock;

    void Draw(size_t filesDone, uint64_t bytesDone) {
        char text[128];
        std::snprintf(text, sizeof text, "packing: %zu/%zu files, %.1f/%.1f MiB", filesDone,
                      totalFiles_, double(bytesDone) / 1048576.0, double(totalBytes_) / 1048576.0);
        const std::string line = text;
        err_ << '\r' << line << std::string(width_ > line.size() ? width_ - line.size() : 0, ' ')
             << std::flush;
        width_ = line.size();
        drawn_ = true;
    }

    std::ostream& err_;
    const bool terminal_;
    const size_t totalFiles_;
    const uint64_t totalBytes_;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_;
    bool drawn_ = false;
    size_t width_ = 0;
};

// Compresses the files into `out`; prints the first failure.
bool WriteEntries(const PackOptions& options, const std::vector<InputFile>& files,
                  uint64_t totalBytes, std::ostream& err, PayloadWriter* writer) {
    Progress progress(err, files.size(), totalBytes);
    uint64_t bytesDone = 0;
    std::vector<uint8_t> data;
    std::string problem;
    for (size_t i = 0; i < files.size(); ++i) {
        const InputFile& file = files[i];
        if (!ReadWholeFile(file.path, kFourGiB - 1, &data, &problem) ||
            !writer->AddEntry(file.entryName, file.time, data.data(), data.size(), file.storage,
                              &problem)) {
            progress.Finish(i, bytesDone);
            PrintError(err, DisplayPath(file.path) + ": " + problem);
            return false;
        }
        bytesDone += data.size();
        progress.Update(i + 1, bytesDone);
    }
    progress.Finish(files.size(), bytesDone);
    if (!writer->Finish(&problem)) {
        PrintError(err, DisplayPath(options.output) + ": " + problem);
        return false;
    }
    return true;
}

// Builds the archive in a file beside OUT and moves it into place only when all of it
// was written, so that a failed run leaves an earlier OUT as it was.
bool WriteArchive(const PackOptions& options, const std::vector<InputFile>& files,
                  uint64_t totalBytes, std::ostream& err, uint64_t* archiveSize) {
    fs::path temporaryPath = options.output;
    temporaryPath += ".partial";
    TemporaryFile temporary(temporaryPath);
    std::ofstream stream(temporary.Path(), std::ios::binary | std::ios::trunc);
    if (!stream) {
        PrintError(err, DisplayPath(temporary.Path()) + ": cannot be created");
        return false;
    }
    PayloadWriter writer(stream, {options.level, !options.plainDirectory});
    if (!WriteEntries(options, files, totalBytes, err, &writer)) return false;
    *archiveSize = writer.BytesWritten();
    stream.close();
    if (stream.fail()) {
        PrintError(err, DisplayPath(temporary.Path()) + ": write failed");
        return false;
    }
    if (!temporary.MoveTo(options.output)) {
        PrintError(err, DisplayPath(options.output) + ": cannot be replaced");
        return false;
    }
    return true;
}

int RunPack(const ParsedArgs& args, Console& console) {
    PackOptions options;
    if (!ParsePackOptions(args, console.err, &options)) return kExitUsage;
    std::vector<fs::path> paths;
    bool ok = CollectPaths(options, console.err, &paths);
    std::vector<InputFile> files;
    uint64_t totalBytes = 0;
    for (const fs::path& path : paths) {
        InputFile file;
        file.path = path;
        ok = DescribeFile(options, console.err, &file) && ok;
        totalBytes += file.size;
        files.push_back(std::move(file));
    }
    if (!ok || !ReportDuplicateNames(files, console.err)) return kExitBadData;
    uint64_t archiveSize = 0;
    if (!WriteArchive(options, files, totalBytes, console.err, &archiveSize)) return kExitBadData;
    console.out << "packed " << files.size() << " files into " << DisplayPath(options.output)
                << ": " << totalBytes << " bytes -> " << archiveSize << " bytes ("
                << FormatRatio(archiveSize, totalBytes) << ")\n";
    return kExitOk;
}

// ---------------------------------------------------------------------------------
// list

int RunList(const ParsedArgs& args, Console& console) {
    fs::path path;
    if (!TakeArchiveOperand(args, "list", console.err, false, &path)) return kExitUsage;
    LoadedArchive archive;
    if (!LoadArchive(path, console.err, &archive)) return kExitBadData;
    uint64_t unpacked = 0, stored = 0;
    for (const ArchiveEntryInfo& entry : archive.entries) {
        console.out << DisplayEntryName(entry.name) << '\t'
                    << (entry.IsCompressed() ? "compressed" : "stored") << '\t'
                    << FormatFileTime(entry.time) << '\t' << entry.unpackedSize << '\t'
                    << entry.storedSize << '\n';
        unpacked += entry.unpackedSize;
        stored += entry.storedSize;
    }
    console.out << "total: " << archive.entries.size() << " entries, " << unpacked
                << " bytes unpacked, " << stored << " bytes stored ("
                << FormatRatio(stored, unpacked) << ")\n";
    return kExitOk;
}

// ---------------------------------------------------------------------------------
// verify

// Reports an entry that no lookup can reach, because an earlier one has the same name.
bool ReportShadowedEntry(const LoadedArchive& archive, const std::vector<size_t>& first,
                         size_t index, const std::string& where, std::ostream& err) {
    if (first[index] == index) return false;
    PrintError(err, where + "entry " + Quoted(DisplayEntryName(archive.entries[index].name)) +
                        " can never be found: entry " +
                        Quoted(DisplayEntryName(archive.entries[first[index]].name)) +
                        " before it has the same name");
    return true;
}

int RunVerify(const ParsedArgs& args, Console& console) {
    fs::path path;
    if (!TakeArchiveOperand(args, "verify", console.err, false, &path)) return kExitUsage;
    LoadedArchive archive;
    if (!LoadArchive(path, console.err, &archive)) return kExitBadData;
    const std::string where = DisplayPath(path) + ": ";
    const std::vector<size_t> first = FirstOfSameName(archive.Names());
    size_t faults = 0;
    uint64_t unpacked = 0;
    std::vector<uint8_t> buffer;
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        const ArchiveEntryInfo& entry = archive.entries[i];
        const DecodeStatus status = ReadEntry(archive, entry, &buffer);
        if (status != DecodeStatus::Ok) {
            PrintError(console.err, where + "entry " + Quoted(DisplayEntryName(entry.name)) +
                                        ": " + DecodeStatusText(status));
            ++faults;
        }
        faults += ReportShadowedEntry(archive, first, i, where, console.err) ? 1 : 0;
        unpacked += entry.unpackedSize;
    }
    if (faults != 0) {
        PrintError(console.err, where + std::to_string(faults) + " fault(s) in " +
                                    std::to_string(archive.entries.size()) + " entries");
        return kExitBadData;
    }
    console.out << DisplayPath(path) << ": OK, " << archive.entries.size() << " entries, "
                << unpacked << " bytes\n";
    return kExitOk;
}

// ---------------------------------------------------------------------------------
// extract

// Writes one entry as `folder`/its name with its time. Prints the problem on failure.
bool ExtractEntry(const LoadedArchive& archive, const ArchiveEntryInfo& entry,
                  const fs::path& folder, std::ostream& err, std::vector<uint8_t>* buffer) {
    const std::string name = Quoted(DisplayEntryName(entry.name));
    fs::path fileName;
    if (!IsPlainEntryName(entry.name) || !FileNameFromEntryName(entry.name, &fileName)) {
        PrintError(err, "entry " + name + " is not a plain file name; not written");
        return false;
    }
    const DecodeStatus status = ReadEntry(archive, entry, buffer);
    if (status != DecodeStatus::Ok) {
        PrintError(err, "entry " + name + ": " + DecodeStatusText(status) + "; not written");
        return false;
    }
    const fs::path target = folder / fileName;
    std::error_code error;
    if (fs::is_symlink(target, error)) fs::remove(target, error);  // write here, not where it leads
    if (!WriteWholeFile(target, buffer->data(), buffer->size())) {
        PrintError(err, DisplayPath(target) + ": cannot be written");
        return false;
    }
    if (!SetFileTimes(target, entry.time)) {
        PrintError(err, DisplayPath(target) + ": cannot set its time");
        return false;
    }
    return true;
}

// The entries to write, by index: every reachable one, or those named (found as the
// updater finds them), each once. Prints each name that finds nothing and each
// unreachable entry.
bool SelectEntries(const LoadedArchive& archive, const std::vector<std::string>& names,
                   const std::string& where, std::ostream& err, std::vector<size_t>* selected) {
    bool ok = true;
    if (names.empty()) {
        const std::vector<size_t> first = FirstOfSameName(archive.Names());
        for (size_t i = 0; i < archive.entries.size(); ++i) {
            if (ReportShadowedEntry(archive, first, i, where, err)) {
                ok = false;
            } else {
                selected->push_back(i);
            }
        }
        return ok;
    }
    for (const std::string& name : names) {
        std::string entryName;
        ArchiveEntryInfo found;
        if (!EntryNameFromFileName(PathFromArgument(name), &entryName) ||
            !FindArchiveEntry(archive.block.data(), entryName.c_str(), &found)) {
            PrintError(err, where + "no entry named " + Quoted(name));
            ok = false;
            continue;
        }
        const auto sameRecord = [&](const ArchiveEntryInfo& e) { return e.name == found.name; };
        const size_t index = size_t(std::find_if(archive.entries.begin(), archive.entries.end(),
                                                 sameRecord) - archive.entries.begin());
        if (std::find(selected->begin(), selected->end(), index) == selected->end()) {
            selected->push_back(index);
        }
    }
    return ok;
}

int RunExtract(const ParsedArgs& args, Console& console) {
    fs::path path;
    if (!TakeArchiveOperand(args, "extract", console.err, true, &path)) return kExitUsage;
    const fs::path folder = PathFromArgument(args.Value("directory").value_or("."));
    LoadedArchive archive;
    if (!LoadArchive(path, console.err, &archive)) return kExitBadData;
    std::vector<size_t> selected;
    const std::vector<std::string> names(args.operands.begin() + 1, args.operands.end());
    bool ok = SelectEntries(archive, names, DisplayPath(path) + ": ", console.err, &selected);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        PrintError(console.err,
                   DisplayPath(folder) + ": cannot create the folder: " + error.message());
        return kExitBadData;
    }
    size_t written = 0;
    std::vector<uint8_t> buffer;
    for (size_t index : selected) {
        const bool extracted =
            ExtractEntry(archive, archive.entries[index], folder, console.err, &buffer);
        written += extracted ? 1 : 0;
        ok = extracted && ok;
    }
    console.out << "extracted " << written << " of " << selected.size() << " entries into "
                << DisplayPath(folder) << '\n';
    return ok ? kExitOk : kExitBadData;
}

// ---------------------------------------------------------------------------------
// make-updater

int RunMakeUpdater(const ParsedArgs& args, Console& console) {
    const char* const command = "make-updater";
    const std::optional<std::string> target = args.Value("target");
    if (target && *target != "linux" && *target != "windows") {
        return UsageError(console.err, "unknown target " + Quoted(*target) + " (linux or windows)",
                          command);
    }
    const std::optional<std::string> payload = args.Value("payload");
    const std::optional<std::string> output = args.Value("output");
    const std::optional<std::string> stub = args.Value("stub");
    if (!payload || payload->empty()) {
        return UsageError(console.err, "make-updater needs --payload P.wq2", command);
    }
    if (!output || output->empty()) {
        return UsageError(console.err, "make-updater needs -o OUT", command);
    }
    if (stub && stub->empty()) return UsageError(console.err, "--stub needs a path", command);
    if (!args.operands.empty()) {
        return UsageError(console.err, "unexpected argument " + Quoted(args.operands[0]), command);
    }
    MakeUpdaterRequest request;
    request.payload = PathFromArgument(*payload);
    request.output = PathFromArgument(*output);
    request.target = target && *target == "windows" ? UpdaterTarget::Windows : UpdaterTarget::Linux;
    request.stub = stub ? PathFromArgument(*stub) : DefaultUpdaterStub(request.target);
    return MakeUpdater(request, console.out, console.err);
}

// ---------------------------------------------------------------------------------
// Help and dispatch

constexpr const char* kToolHelp =
    "Usage: wq2 COMMAND [ARGUMENT]...\n"
    "Builds and inspects WQ2 payload archives for the updater.\n"
    "\n"
    "Commands:\n"
    "  pack      build an archive from files and folders\n"
    "  list      list an archive's entries\n"
    "  verify    check an archive and decode every entry\n"
    "  extract   write an archive's entries to files\n"
    "  make-updater  join the updater program and a payload into one executable\n"
    "  help      show a command's options\n"
    "\n"
    "Run 'wq2 help COMMAND' (or 'wq2 COMMAND --help') for a command's options.\n"
    "Exit status: 0 success, 1 bad data or a failed read or write, 2 bad usage.\n";

constexpr const char* kPackHelp =
    "Usage: wq2 pack -o OUT [-l fast|default|max] [--store GLOB]... [--plain-directory] PATH...\n"
    "Packs files, and folders walked recursively in sorted order, into the archive OUT.\n"
    "Each entry is named by its file's name alone: the updater looks entries up by name,\n"
    "ignoring the case of letters, so two such files cannot go into one archive.\n"
    "Names are stored in code page 932 (Shift-JIS); times as the files' last-write times.\n"
    "\n"
    "  -o, --output OUT       the archive to write; an existing OUT is replaced only\n"
    "                         when packing succeeds\n"
    "  -l, --level LEVEL      compression: fast, default (the default) or max\n"
    "      --store GLOB       keep files whose name matches GLOB uncompressed (*, ?, [...];\n"
    "                         letter case ignored); may be repeated. Already-compressed\n"
    "                         formats (png, jpg, ogg, mp3, zip, ...) and data that would not\n"
    "                         shrink are always kept as they are\n"
    "      --plain-directory  write the directory uncompressed\n"
    "  -h, --help             show this help\n";

constexpr const char* kListHelp =
    "Usage: wq2 list IN\n"
    "Prints one line per entry: name, \"stored\" or \"compressed\", time (UTC), unpacked\n"
    "size and stored size, separated by tabs; then the totals with the ratio of stored\n"
    "to unpacked size.\n";

constexpr const char* kVerifyHelp =
    "Usage: wq2 verify IN\n"
    "Checks the archive's header and directory, decodes every entry and reports each\n"
    "fault with the entry's name. Exits with 1 when there is any.\n";

constexpr const char* kExtractHelp =
    "Usage: wq2 extract IN [-C DIR] [NAME]...\n"
    "Writes all entries, or those named (letter case ignored, as the updater finds\n"
    "them), into DIR, each with its stored time. Entries whose names are paths rather\n"
    "than file names are refused.\n"
    "\n"
    "  -C, --directory DIR    where to write (default: the current folder; created if\n"
    "                         missing)\n"
    "  -h, --help             show this help\n";

constexpr const char* kMakeUpdaterHelp =
    "Usage: wq2 make-updater --payload P.wq2 -o OUT [--stub PATH] [--target linux|windows]\n"
    "Writes OUT: the updater program carrying the archive P.wq2 as its payload\n"
    "(resource \"UPDATE\", id 102, language 1041). A payload the program already\n"
    "carries is replaced, so an updater made before can serve as the program.\n"
    "\n"
    "  linux    the Linux updater; the payload goes in a table appended to the\n"
    "           program, and OUT gets mode 0755\n"
    "  windows  the Windows updater (32- or 64-bit .exe); the program's resource\n"
    "           section is rebuilt with the payload added, its dialogs and manifest\n"
    "           kept. A signed program is refused: sign OUT instead\n"
    "\n"
    "      --payload P.wq2    the archive to carry; it must open as a WQ2 archive\n"
    "  -o, --output OUT       the updater to write; an existing OUT is replaced only\n"
    "                         when all of it was written\n"
    "      --stub PATH        the updater program (default: 'updater', or\n"
    "                         'updater.exe' for windows, in the folder that holds wq2)\n"
    "      --target TARGET    linux (the default) or windows\n"
    "  -h, --help             show this help\n";

const std::vector<Command>& Commands() {
    static const std::vector<Command> kCommands = {
        {"pack", kPackHelp,
         {{'o', "output", true}, {'l', "level", true}, {0, "store", true},
          {0, "plain-directory", false}},
         RunPack},
        {"list", kListHelp, {}, RunList},
        {"verify", kVerifyHelp, {}, RunVerify},
        {"extract", kExtractHelp, {{'C', "directory", true}}, RunExtract},
        {"make-updater", kMakeUpdaterHelp,
         {{0, "payload", true}, {'o', "output", true}, {0, "stub", true}, {0, "target", true}},
         RunMakeUpdater},
    };
    return kCommands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands()) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

int RunHelp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() > 2) return UsageError(err, "help takes one command", nullptr);
    if (args.size() == 1 || args[1] == "help") {
        out << kToolHelp;
        return kExitOk;
    }
    const Command* command = FindCommand(args[1]);
    if (!command) return UsageError(err, "unknown command " + Quoted(args[1]), nullptr);
    out << command->help;
    return kExitOk;
}

int Dispatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return UsageError(err, "no command given", nullptr);
    if (args[0] == "-h" || args[0] == "--help") {
        out << kToolHelp;
        return kExitOk;
    }
    if (args[0] == "help") return RunHelp(args, out, err);
    const Command* command = FindCommand(args[0]);
    if (!command) return UsageError(err, "unknown command " + Quoted(args[0]), nullptr);
    ParsedArgs parsed;
    if (!ParseArguments(*command, args, err, &parsed)) return kExitUsage;
    if (parsed.Has("help")) {
        out << command->help;
        return kExitOk;
    }
    Console console{out, err};
    return command->run(parsed, console);
}

}  // namespace

int RunWq2(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    try {
        return Dispatch(args, out, err);
    } catch (const std::bad_alloc&) {
        PrintError(err, "out of memory");
    } catch (const std::exception& e) {
        PrintError(err, e.what());
    }
    return kExitBadData;
}

}  // namespace wq2
