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
        const double top = std::min(kHighest, sampleRate / 2.0);
        m_levels.assign(top > kLowest ? static_cast<std::size_t>((top - kLowest) / kBandWidth) : 0, {});
    }
    if (power.size() != m_binCount)
        return;
    const double binWidth = sampleRate / (2.0 * static_cast<double>(power.size()));
    for (std::size_t band = 0; band < m_levels.size(); ++band) {
        const double low = kLowest + static_cast<double>(band) * kBandWidth;
        const auto begin = std::min(power.size(), static_cast<std::size_t>(std::ceil(low / binWidth)));
        const auto end
            = std::min(power.size(), static_cast<std::size_t>(std::ceil((low + kBandWidth) / binWidth)));
        double sum = 0.0;
        for (std::size_t k = begin; k < end; ++k)
            sum += static_cast<double>(power[k]);
        const double mean = end > begin ? sum / static_cast<double>(end - begin) : 0.0;
        m_levels[band].push_back(static_cast<float>(10.0 * std::log10(std::max(mean, 1e-30))));
    }
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
            return static_cast<float>(kLowest + static_cast<double>(band + 1) * kBandWidth);
    }
    return std::nullopt;
}

} // namespace sondrel::core
