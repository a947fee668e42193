// The publisher's tool "wq2": builds, lists, checks and unpacks payload archives.
#pragma once

#include <iosfwd>

namespace wq2 {

// Runs one command line (argv[0] is the program). Arguments are UTF-8 on every
// platform (the Windows entry point converts its wide command line). Normal output
// goes to `out`, messages ("wq2: ...") and the progress line to `err`.
// Returns 0 on success, 1 for bad data or a failed read or write, 2 for bad usage.
int RunWq2(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace wq2
