#pragma once

#include "QualityThreshold.h"

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace sondrel::app {

struct ProcessOptions {
    std::filesystem::path folder;
    bool rename = false;
    std::optional<std::filesystem::path> moveTo;
    bool trash = false;
    bool tag = false;
    std::optional<std::string> crate; // the Mixxx crate that takes the failed files
    std::optional<std::filesystem::path> mixxxDatabase; // none: MixxxLibrary::defaultDatabase()
    std::optional<QualityThreshold> threshold;
    std::vector<std::filesystem::path> only; // none: the whole library; else absolute or relative
    bool dryRun = false;
    bool yes = false;
};

// Scans the library as `sondrel scan` does (cache first), then renames, moves, trashes and
// re-tags as asked, and prints the results, one line each. With a crate the failed files that
// Mixxx knows go into that crate first, while their paths are still the ones Mixxx stored.
// Renaming, moving, trashing or filling a crate asks for confirmation on a terminal unless
// `yes`, and is refused when `in` is not a terminal.
// Ctrl-C during the scan cancels it; during processing it lets the file being tagged finish, skips
// the rest of the tag phase and prints the results so far.
// Returns 0 when every step succeeded, 1 when a step recorded an error, a tag write failed or
// the scan skipped a folder, 2 for usage errors (a refused confirmation, an `only` path that
// is missing or outside the library, a Mixxx library that cannot be used or a Mixxx that is
// running), 130 when interrupted.
[[nodiscard]] int runProcess(
    const ProcessOptions& options, std::istream& in, bool interactive, std::ostream& out, std::ostream& err);

} // namespace sondrel::app
