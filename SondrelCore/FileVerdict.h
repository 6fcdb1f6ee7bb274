#pragma once

#include "AnalysisModel.h"
#include "Result.h"
#include "SpectrumAnalyzer.h"

#include <filesystem>
#include <functional>
#include <string_view>

namespace sondrel::core {

enum class AnalysisError { analyzerInitFailed };

// "Failed to initialise audio analyzer".
[[nodiscard]] std::string_view description(AnalysisError error) noexcept;

// What one file's analysis delivers once classified.
struct FileVerdict {
    AnalysisResult result;
    AnalysisMetrics metrics;
};

// One file's full analysis; tests stand in their own.
using FileAnalysis
    = std::function<Result<SpectrumAnalyzer::FullAnalysisResult>(const std::filesystem::path&)>;

// The one road from a file to its verdict, for a scan, a re-scan and `sondrel analyze` alike:
// `analysis` runs (empty: a SpectrumAnalyzer made for this file alone, or analyzerInitFailed
// when none can be made), then the classifier rates its cutoff and clipping for `format`.
// Synchronous; decodes on the caller's thread.
[[nodiscard]] Result<FileVerdict> analyzeAndClassify(
    const std::filesystem::path& path, AudioFormat format, const FileAnalysis& analysis = {});

} // namespace sondrel::core
