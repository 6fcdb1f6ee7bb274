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
    enum class Output { table, json, csv, m3u8 } output = Output::table;
    bool failedOnly = false;
    bool noCache = false;
    int jobs = 0; // 0: one per core
};

// Discovers the library, scans it (or the sub-folder) through ScannerViewModel on a
// QCoreApplication that must exist, and prints one line per file. A progress line goes to
// `progress` when it is a terminal; the summary goes to `err`. Ctrl-C cancels the scan (the
// cache is flushed) and gives 130; a second Ctrl-C exits at once.
// Returns 0 when the scan completed and no file failed or errored, 1 when any did or a folder
// was skipped, 2 when the scan could not run (also for a sub-folder outside the library).
// The services of a headless run: the shared cache (or none), the shared read-ahead, a fixed
// threshold and `jobs` analyses at once (0: one per core).
[[nodiscard]] ScannerViewModel::Services scanServices(bool noCache, QualityThreshold threshold, int jobs);

struct ScanRun {
    bool completed = false; // the scan ran to its end
    bool interrupted = false; // Ctrl-C cancelled it
    int skippedFolders = 0; // folders that could not be listed, each reported on `err`
};

// Discovers `folder` and scans it (or `subfolder`, an existing folder below it) with `model`,
// running the QCoreApplication's event loop until the scan ends. Ctrl-C cancels the scan; a
// second Ctrl-C exits at once with 130. Each folder discovery could not list gives one line
// "Skipped folder PATH: REASON" on `err`. `folder` and `subfolder` are in LibraryPath's form.
[[nodiscard]] ScanRun scanLibrary(ScannerViewModel& model, const std::filesystem::path& folder,
    const std::optional<std::filesystem::path>& subfolder, bool showProgress, std::ostream& err);

// `subfolder` (absolute, or relative to `folder`) as an existing folder of the library in
// LibraryPath's form; none when it is missing, not a folder or outside the library.
[[nodiscard]] std::optional<std::filesystem::path> resolveSubfolder(
    const std::filesystem::path& folder, const std::filesystem::path& subfolder);

[[nodiscard]] int runScan(
    const ScanOptions& options, std::ostream& out, std::ostream& err, bool showProgress);

} // namespace sondrel::app
