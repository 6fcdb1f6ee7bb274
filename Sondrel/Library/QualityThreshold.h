#pragma once

#include "AnalysisModel.h"
#include "ScanStatus.h"

#include <array>
#include <optional>
#include <string>

namespace sondrel::app {

// The quality a file must reach to pass, as a bitrate in kbps (the raw value).
enum class QualityThreshold : int {
    kbps64 = 64,
    kbps96 = 96,
    kbps128 = 128,
    kbps160 = 160,
    kbps192 = 192,
    kbps224 = 224,
    kbps256 = 256,
    kbps320 = 320,
};

inline constexpr std::array<QualityThreshold, 8> kAllQualityThresholds = { QualityThreshold::kbps64,
    QualityThreshold::kbps96, QualityThreshold::kbps128, QualityThreshold::kbps160, QualityThreshold::kbps192,
    QualityThreshold::kbps224, QualityThreshold::kbps256, QualityThreshold::kbps320 };

// Also the threshold's identity in lists and pickers.
[[nodiscard]] constexpr int rawValue(QualityThreshold threshold) noexcept
{
    return static_cast<int>(threshold);
}

// Exactly the eight raw values; any other integer gives none.
[[nodiscard]] constexpr std::optional<QualityThreshold> qualityThresholdFromRawValue(int raw) noexcept
{
    for (QualityThreshold threshold : kAllQualityThresholds) {
        if (rawValue(threshold) == raw)
            return threshold;
    }
    return std::nullopt;
}

// The cutoff frequency in Hz that an analysis must reach to pass. Not evenly spaced: these are
// where encoders at each bitrate put their low-pass filter.
[[nodiscard]] constexpr float minimumCutoffFrequency(QualityThreshold threshold) noexcept
{
    switch (threshold) {
    case QualityThreshold::kbps64:
        return 11000.0f;
    case QualityThreshold::kbps96:
        return 13000.0f;
    case QualityThreshold::kbps128:
        return 15500.0f;
    case QualityThreshold::kbps160:
        return 16500.0f;
    case QualityThreshold::kbps192:
        return 17500.0f;
    case QualityThreshold::kbps224:
        return 18500.0f;
    case QualityThreshold::kbps256:
        return 19000.0f;
    case QualityThreshold::kbps320:
        return 20000.0f;
    }
    return 20000.0f;
}

// The one pass rule of a scan: the cutoff reaches the threshold's minimum. A cutoff that is not
// a number fails.
[[nodiscard]] constexpr bool meetsThreshold(float cutoffFrequency, QualityThreshold threshold) noexcept
{
    return cutoffFrequency >= minimumCutoffFrequency(threshold);
}

// The same for a result, on the frequency it is judged by (a brick wall's, where one was found).
[[nodiscard]] inline bool meetsThreshold(
    const core::AnalysisResult& result, QualityThreshold threshold) noexcept
{
    return meetsThreshold(result.judgedCutoff(), threshold);
}

// The status a result earns under the threshold: the scan's, discovery's and a threshold
// change's one verdict.
[[nodiscard]] inline ScanStatus verdict(const core::AnalysisResult& result, QualityThreshold threshold)
{
    return meetsThreshold(result, threshold) ? ScanStatus::passed() : ScanStatus::failed();
}

// "320 kbps": the text a settings picker shows.
[[nodiscard]] inline std::string label(QualityThreshold threshold)
{
    return std::to_string(rawValue(threshold)) + " kbps";
}

} // namespace sondrel::app
