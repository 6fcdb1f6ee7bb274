#pragma once

#include <filesystem>
#include <iosfwd>
#include <vector>

namespace sondrel::app {

struct AnalyzeOptions {
    std::vector<std::filesystem::path> files;
    bool json = false;
    bool quick = false;
    unsigned jobs = 0; // 0: one per core
};

// Analyses the files in parallel and prints one line per file, in argument order, as soon
// as it and every file before it are done. Returns 0 when every file was analysed, 1 when
// any could not be.
[[nodiscard]] int runAnalyze(const AnalyzeOptions& options, std::ostream& out);

} // namespace sondrel::app
