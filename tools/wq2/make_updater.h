// `wq2 make-updater`: joins the updater program and a payload archive into the
// one executable that is shipped.
#pragma once

#include <filesystem>
#include <iosfwd>

namespace wq2 {

// The system the updater program runs on.
enum class UpdaterTarget {
    Linux,    // an ELF program; the payload rides in a table appended to it
    Windows,  // a PE program (32- or 64-bit); the payload is one of its resources
};

struct MakeUpdaterRequest {
    std::filesystem::path payload;  // a WQ2 archive
    std::filesystem::path output;
    std::filesystem::path stub;     // the updater program, with or without a payload
    UpdaterTarget target = UpdaterTarget::Linux;
};

// "updater" (Linux) or "updater.exe" (Windows) in the folder that holds the
// running program.
std::filesystem::path DefaultUpdaterStub(UpdaterTarget target);

// Writes the stub carrying the payload as resource "UPDATE" / 102 / 1041, and
// moves the result over `output` only once all of it is written.
//
// Linux: copies the stub without any resource table it already carries and
// appends the payload with its table (resource_table.h); the output gets mode
// 0755. Windows: rebuilds the stub's resource section with the payload added
// (pe_resources.h), refusing a file that is not a PE program or whose
// resources are damaged.
//
// Either way a payload the stub carries already is replaced, and a payload
// that does not open as an archive is refused. Messages go to `err` as
// "wq2: ...", the summary to `out`. Returns 0, or 1 for bad data or a failed
// read or write.
int MakeUpdater(const MakeUpdaterRequest& request, std::ostream& out, std::ostream& err);

}  // namespace wq2
