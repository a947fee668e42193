// `wq2 make-updater`: joins the updater program and a payload archive into the
// one executable that is shipped.
#pragma once

#include <filesystem>
#include <iosfwd>

namespace wq2 {

struct MakeUpdaterRequest {
    std::filesystem::path payload;  // a WQ2 archive
    std::filesystem::path output;
    std::filesystem::path stub;     // the updater program, with or without a payload
};

// "updater" in the folder that holds the running program.
std::filesystem::path DefaultUpdaterStub();

// Copies the stub without any resource table it already carries, appends the
// payload as resource "UPDATE" / 102 / 1041 with its table (resource_table.h),
// and moves the result over `output` with mode 0755 only once all of it is
// written. Refuses a payload that does not open as an archive. Messages go to
// `err` as "wq2: ...", the summary to `out`. Returns 0, or 1 for bad data or a
// failed read or write.
int MakeUpdater(const MakeUpdaterRequest& request, std::ostream& out, std::ostream& err);

}  // namespace wq2
