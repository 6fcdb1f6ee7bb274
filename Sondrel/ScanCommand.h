#pragma once

#include "QualityThreshold.h"
#include "ScannerViewModel.h"

#include <filesystem>
#include <iosfwd>
#include <optional>

namespace sondrel::app {

struct ScanOptions {
    std::filesystem::path folder;
    std::optional<std::filesystem::path> subfolder; // absolute, or relative to folder
    std::optional<QualityThreshold> threshold; // this run only; the stored setting stays
    enum class Output { table, json, csv } output = Output::table;
    bool failedOnly = false;
    bool noCache = false;
    int jobs = 0; // 0: one per core
};

// Discovers the library, scans it (or the sub-folder) through ScannerViewModel on a
// QCoreApplication that must exist, and prints one line per file. A progress line goes to
// `progress` when it is a terminal; the summary goes to `err`. Ctrl-C cancels the scan (the
// cache is flushed) and gives 130; a second Ctrl-C exits at once.
// Returns 0 when the scan completed and no file failed or errored, 1 when any did, 2 when
// the scan could not run.
// The services of a headless run: the shared cache (or none), the shared read-ahead, a fixed
// threshold and `jobs` analyses at once (0: one per core).
[[nodiscard]] ScannerViewModel::Services scanServices(bool noCache, QualityThreshold threshold, int jobs);

struct ScanRun {
    bool completed = false; // the scan ran to its end
    bool interrupted = false; // Ctrl-C cancelled it
};

// Discovers `folder` and scans it (or `subfolder`, an existing folder below it) with `model`,
// running the QCoreApplication's event loop until the scan ends. Ctrl-C cancels the scan; a
// second Ctrl-C exits at once with 130.
[[nodiscard]] ScanRun scanLibrary(ScannerViewModel& model, const std::filesystem::path& folder,
    const std::optional<std::filesystem::path>& subfolder, bool showProgress);

// `subfolder` as a folder below `folder` when it is relative; none when it is not a folder.
[[nodiscard]] std::optional<std::filesystem::path> resolveSubfolder(
    const std::filesystem::path& folder, const std::filesystem::path& subfolder);

[[nodiscard]] int runScan(
    const ScanOptions& options, std::ostream& out, std::ostream& err, bool showProgress);

} // namespace sondrel::app
