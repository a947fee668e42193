// What the two drivers of the scenario suite share: the user's actions a
// scenario lists, the other programs' windows some actions open, and the
// transcript each driver writes of what the updater showed and what was
// answered. The Linux runner (scenario_runner.cpp) and the
// Windows harness (scenario_harness.cpp) must write byte-identical transcripts
// for the same run, so both format every line here.
//
// Transcript lines, in order of events:
//   box "CAPTION" "TEXT" ok|ok-cancel   a message box and its buttons
//   wizard "CAPTION" "INFO"             the wizard, before each action on it
//   act NAME [ignored]                  the answer or action; "ignored" when
//                                       the button was disabled or hidden
//   do NAME                             a change to the machine: before the
//                                       updater starts, or between actions
//   ! REASON                            the run was given up (or actions were
//                                       left over)
//   exit CODE                           the updater's exit code
// Texts are the program's code page 932 bytes; backslash, quote and control
// characters are escaped (\\, \", \r, \n, \xHH).
#pragma once

#include <cstdio>
#include <deque>
#include <string>

namespace scenario {

// What an action acts on: a message box, the wizard, or the machine.
enum class Target { Box, Wizard, Machine, Unknown };

inline Target TargetOf(const std::string& action) {
    if (action == "ok" || action == "cancel") return Target::Box;
    if (action == "next" || action == "back" || action == "agree" || action == "disagree" ||
        action == "cancel-wizard" || action == "escape") {
        return Target::Wizard;
    }
    if (action == "insert-disc" || action == "start-game" || action == "close-game" ||
        action == "start-other-copy") {
        return Target::Machine;
    }
    return Target::Unknown;
}

// The demo game's window, as start-game opens it (UTF-8), and the wizard of
// another copy of the demo patch's updater, as start-other-copy opens it.
inline constexpr char kGameWindowClass[] = "DemoGameWindow";
inline constexpr char8_t kGameWindowTitle[] = u8"デモゲーム";
inline constexpr char8_t kOtherCopyTitle[] = u8"デモゲーム アップデータ 1.01";
static_assert(static_cast<unsigned char>(kGameWindowTitle[0]) == 0xE3, "window titles are UTF-8");

inline const char* Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

inline const char* TargetName(Target target) { return target == Target::Box ? "box" : "wizard"; }

inline std::string Quote(const std::string& bytes) {
    std::string out = "\"";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

class Transcript {
public:
    explicit Transcript(const char* path) : file_(std::fopen(path, "wb")) {}
    // Takes over a file opened for writing.
    explicit Transcript(std::FILE* file) : file_(file) {}
    ~Transcript() {
        if (file_ != nullptr) std::fclose(file_);
    }
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    bool IsOpen() const { return file_ != nullptr; }

    void Box(const std::string& caption, const std::string& text, bool hasCancel) {
        Line("box " + Quote(caption) + " " + Quote(text) + (hasCancel ? " ok-cancel" : " ok"));
    }
    void Wizard(const std::string& caption, const std::string& info) {
        Line("wizard " + Quote(caption) + " " + Quote(info));
    }
    void Act(const std::string& action, bool taken) { Line("act " + action + (taken ? "" : " ignored")); }
    void Did(const std::string& action) { Line("do " + action); }
    void GiveUp(const std::string& reason) { Line("! " + reason); }
    void Exit(unsigned long code) { Line("exit " + std::to_string(code)); }

    // Every line reaches the file at once: a driver may be ended right after.
    void Line(const std::string& line) {
        if (file_ == nullptr) return;
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }

private:
    std::FILE* file_;
};

// The scenario's actions, taken one by one as the updater asks for them.
class Actions {
public:
    // Reads whitespace-separated action names. False, with `error` set, when
    // the file cannot be read or names an unknown action.
    bool Load(const char* path, std::string* error) {
        std::FILE* file = std::fopen(path, "rb");
        if (file == nullptr) {
            *error = std::string("cannot read ") + path;
            return false;
        }
        std::string word;
        for (int c; (c = std::fgetc(file)) != EOF;) {
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                if (!word.empty()) pending_.push_back(word);
                word.clear();
            } else {
                word += static_cast<char>(c);
            }
        }
        if (!word.empty()) pending_.push_back(word);
        std::fclose(file);
        for (const std::string& action : pending_) {
            if (TargetOf(action) == Target::Unknown) {
                *error = "unknown action '" + action + "'";
                return false;
            }
        }
        return true;
    }

    // The next action for a box or the wizard (`wanted`). Actions on the
    // machine before it are done first through `machine(name)`, which returns
    // false when it fails. Returns false after a line saying why the run is
    // given up: nothing left, a failed change, or an action for the other
    // kind of window.
    template <typename MachineAction>
    bool Take(Target wanted, Transcript& transcript, MachineAction machine, std::string* action) {
        if (!DoLeading(transcript, machine)) return false;
        if (pending_.empty()) {
            transcript.GiveUp(std::string("no action left for the ") + TargetName(wanted));
            return false;
        }
        if (TargetOf(pending_.front()) != wanted) {
            transcript.GiveUp("the scenario has '" + pending_.front() + "' where the " + TargetName(wanted) +
                              " came");
            return false;
        }
        *action = pending_.front();
        pending_.pop_front();
        return true;
    }

    // The actions on the machine that come before anything the updater shows,
    // done before it starts. False after a line saying which one failed.
    template <typename MachineAction>
    bool DoLeading(Transcript& transcript, MachineAction machine) {
        while (!pending_.empty() && TargetOf(pending_.front()) == Target::Machine) {
            const std::string name = pending_.front();
            pending_.pop_front();
            if (!machine(name)) {
                transcript.GiveUp(name + " failed");
                return false;
            }
            transcript.Did(name);
        }
        return true;
    }

    // Once the updater has ended: a line naming the actions it never asked for.
    void ReportLeftOver(Transcript& transcript) const {
        if (pending_.empty()) return;
        std::string names;
        for (const std::string& action : pending_) names += " " + action;
        transcript.GiveUp("left over:" + names);
    }

private:
    std::deque<std::string> pending_;
};

// The command line both drivers take, and the start of their run: the usage
// line, the scenario's actions and the transcript file. False after a message
// on standard error (the driver then exits with 2).
struct CommandLine {
    const char* updater;
    const char* discStaged;
    const char* discDrive;
};

inline bool StartRun(const char* program, int argc, char** argv, Actions& actions, std::FILE** transcriptFile,
                     CommandLine& line) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s UPDATER ACTIONS TRANSCRIPT DISC_STAGED DISC_DRIVE\n", program);
        return false;
    }
    std::string error;
    if (!actions.Load(argv[2], &error)) {
        std::fprintf(stderr, "%s: %s\n", program, error.c_str());
        return false;
    }
    *transcriptFile = std::fopen(argv[3], "wb");
    if (*transcriptFile == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, argv[3]);
        return false;
    }
    line = {argv[1], argv[4], argv[5]};
    return true;
}

}  // namespace scenario
