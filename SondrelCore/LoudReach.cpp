#include "LoudReach.h"

#include "BrickWallDetector.h"

#include <algorithm>
#include <cmath>

namespace sondrel::core {

void LoudReach::addFrame(std::span<const float> power, double sampleRate)
{
    if (power.empty() || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return;
    if (m_frames == 0) {
        m_binCount = power.size();
        m_roundingDb = BrickWallDetector::roundingNoiseDb(2 * power.size());
    }
    if (power.size() != m_binCount)
        return;
    m_power.assign(power.begin(), power.end());
    const std::vector<double> levels
        = BrickWallDetector::bandLevels(m_power, sampleRate / (2.0 * static_cast<double>(power.size())),
            kLowest, std::min(kHighest, sampleRate / 2.0));
    if (m_frames == 0)
        m_levels.assign(levels.size(), {});
    if (levels.size() != m_levels.size())
        return;
    for (std::size_t band = 0; band < levels.size(); ++band)
        m_levels[band].push_back(static_cast<float>(levels[band]));
    ++m_frames;
}

std::optional<float> LoudReach::reach() const
{
    for (std::size_t band = m_levels.size(); band-- > 0;) {
        std::vector<float> levels = m_levels[band];
        if (levels.empty())
            continue;
        const auto middle = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 2);
        std::nth_element(levels.begin(), middle, levels.end());
        const double median = *middle;
        const double loudest = *std::max_element(levels.begin(), levels.end());
        if (loudest >= median + kAboveMedian && loudest >= m_roundingDb + kAboveRounding)
            return static_cast<float>(
                kLowest + static_cast<double>(band + 1) * BrickWallDetector::kBandWidth);
    }
    return std::nullopt;
}

} // namespace sondrel::core
