#include "BrickWallDetector.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sondrel::core {
namespace {

// Bands before the fall that give the level it falls from.
constexpr int kLeadBands = 5;
// The fall itself may spread over this many bands (an encoder's low-pass is steep, not ideal).
constexpr int kMaxTransitionBands = 4;
// The floor after the wall reaches the top of the examined range, at least kMinFloorBands wide;
// its level is that of its first kFloorBands. Above those it may fall again (a transcode's second
// encoder cuts again higher up) but never rise.
constexpr int kMinFloorBands = 8;
constexpr int kFloorBands = 4;
// Above this the examined range ends: a 48 kHz file's anti-aliasing filter is no wall.
constexpr double kHighestExamined = 22000.0;
// Anything this far below the level before the wall counts as nothing: a float decode of a
// lossy file may carry exact zeros or rounding dust above its wall, a 16-bit copy of it dither.
constexpr double kNothingBelow = 60.0;
// A floor is flat: the halves of its first bands within kFloorTilt of each other, and no band
// after the wall this far above its level (or 30 % of the wall's depth, for deep walls whose
// floor is rounding dust).
constexpr double kFloorRipple = 6.0;
constexpr double kFloorRippleShare = 0.3;
constexpr double kFloorTilt = 3.0;
// The fall is at least this many times what the slope of the bands before it would give over
// the same distance, so that a steep natural roll-off is no wall.
constexpr double kSlopeMargin = 4.0;
// A wider fall has to be this much deeper per extra band to be preferred.
constexpr double kWidthPenalty = 2.0;
// Powers are floored here before taking logarithms.
constexpr double kTinyPower = 1e-30;
// A rounding floor: every band from its start up to kRoundingTop within kRoundingTolerance dB of
// the 16-bit rounding noise, starting no higher than kLatestRoundingStart, under content at
// least kContentAboveRounding dB above it. Bands average nine bins or more over a few dozen
// frames, so noise alone stays within about 1 dB of its level. Plain rounding only: TPDF dither
// sits 4.8 dB higher, as loud as a quiet recording's own hiss.
constexpr double kRoundingTop = 19000.0;
constexpr double kLatestRoundingStart = 18500.0;
constexpr double kRoundingTolerance = 2.5;
constexpr double kContentAboveRounding = 6.0;

double mean(std::span<const double> values)
{
    return values.empty() ? 0.0 : std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

struct Candidate {
    double depth = 0.0;
    int transition = 0;
};

// The wall whose fall ends after band `edge - 1` and whose floor starts at band
// `edge + transition`, if it is one.
std::optional<Candidate> judge(const std::vector<double>& levels, std::size_t edge, int transition)
{
    const std::size_t floorStart = edge + static_cast<std::size_t>(transition);
    if (floorStart + kMinFloorBands > levels.size())
        return std::nullopt;
    const std::span<const double> lead(levels.data() + edge - kLeadBands, kLeadBands);
    const double leadLevel = mean(lead);

    std::vector<double> floor(levels.begin() + static_cast<std::ptrdiff_t>(floorStart), levels.end());
    for (double& level : floor)
        level = std::max(level, leadLevel - kNothingBelow);
    const std::span<const double> start = std::span(floor).first(kFloorBands);
    const double floorLevel = mean(start);
    const double depth = leadLevel - floorLevel;
    if (depth < BrickWallDetector::kMinimumDepth)
        return std::nullopt;

    const double tilt = mean(start.first(kFloorBands / 2)) - mean(start.subspan(kFloorBands / 2));
    if (std::fabs(tilt) > kFloorTilt)
        return std::nullopt;
    const double ripple = std::max(kFloorRipple, kFloorRippleShare * depth);
    if (*std::max_element(floor.begin(), floor.end()) > floorLevel + ripple)
        return std::nullopt;

    // Slope of the lead per band, from its first two bands to its last two (three bands apart).
    const double leadFall = ((lead[0] + lead[1]) - (lead[3] + lead[4])) / 2.0 / 3.0;
    const double distance = kLeadBands / 2.0 + transition + 1;
    if (depth < kSlopeMargin * leadFall * distance)
        return std::nullopt;
    return Candidate { depth, transition };
}

} // namespace

void BrickWallDetector::addSpectrum(std::span<const float> power, std::int64_t frames)
{
    if (power.empty() || frames < 1)
        return;
    if (m_power.empty())
        m_power.assign(power.size(), 0.0);
    if (m_power.size() != power.size())
        return;
    const auto weight = static_cast<double>(frames);
    for (std::size_t k = 0; k < power.size(); ++k)
        m_power[k] += weight * static_cast<double>(power[k]);
    m_frames += frames;
}

std::optional<LossyEvidence> BrickWallDetector::detect(double sampleRate) const
{
    if (m_frames < 1 || !(sampleRate > 0.0))
        return std::nullopt;
    // Bins cover 0 to half the sample rate.
    const double binWidth = sampleRate / (2.0 * static_cast<double>(m_power.size()));
    if (auto wall = findWall(m_power, binWidth))
        return wall;
    // The rounding floor is an absolute level: the frame-weighted average it is judged on.
    std::vector<double> average(m_power);
    for (double& power : average)
        power /= static_cast<double>(m_frames);
    return findRoundingFloor(average, binWidth, roundingNoiseDb(2 * m_power.size()));
}

std::vector<double> BrickWallDetector::bandLevels(
    std::span<const double> power, double binWidth, double first, double last)
{
    std::vector<double> levels;
    for (double low = first; low + kBandWidth <= last; low += kBandWidth) {
        const auto begin = static_cast<std::size_t>(std::ceil(low / binWidth));
        const auto end
            = std::min(power.size(), static_cast<std::size_t>(std::ceil((low + kBandWidth) / binWidth)));
        if (begin >= end)
            return {};
        const double average = mean(power.subspan(begin, end - begin));
        levels.push_back(10.0 * std::log10(std::max(average, kTinyPower)));
    }
    return levels;
}

double BrickWallDetector::roundingNoiseDb(std::size_t fftSize)
{
    // Rounding to steps of q = 2^-15 adds white noise of variance q^2 / 12. The window has unit
    // mean power and a bin's power is |2 X|^2, so each bin holds 4 * fftSize times that variance.
    constexpr double kStep = 1.0 / 32768.0;
    return 10.0 * std::log10(4.0 * static_cast<double>(fftSize) * kStep * kStep / 12.0);
}

std::optional<LossyEvidence> BrickWallDetector::findRoundingFloor(
    std::span<const double> power, double binWidth, double roundingDb)
{
    if (power.empty() || !std::isfinite(binWidth) || !(binWidth > 0.0) || !std::isfinite(roundingDb))
        return std::nullopt;
    const double first = kLowestWall - kLeadBands * kBandWidth;
    if (binWidth * static_cast<double>(power.size()) < kRoundingTop)
        return std::nullopt;
    const std::vector<double> levels = bandLevels(power, binWidth, first, kRoundingTop);
    if (levels.empty())
        return std::nullopt;

    // The floor reaches down from the top for as long as bands sit at the rounding level.
    std::size_t start = levels.size();
    while (start > 0 && std::fabs(levels[start - 1] - roundingDb) <= kRoundingTolerance)
        --start;
    const auto latest = static_cast<std::size_t>(std::lround((kLatestRoundingStart - first) / kBandWidth));
    const auto earliest = static_cast<std::size_t>(kLeadBands);
    start = std::max(start, earliest);
    if (start > latest)
        return std::nullopt;
    const auto loudest
        = std::max_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(start));
    const double depth = *loudest - roundingDb;
    if (depth < kContentAboveRounding)
        return std::nullopt;
    const auto loudestBand = static_cast<double>(loudest - levels.begin());
    const double floorStart = first + static_cast<double>(start) * kBandWidth;
    return LossyEvidence {
        static_cast<float>(floorStart),
        static_cast<float>(std::round(depth * 10.0) / 10.0),
        static_cast<float>(floorStart - (first + loudestBand * kBandWidth)),
        LossyEvidence::Kind::roundingFloor,
    };
}

std::optional<LossyEvidence> BrickWallDetector::findWall(std::span<const double> power, double binWidth)
{
    if (power.empty() || !std::isfinite(binWidth) || !(binWidth > 0.0))
        return std::nullopt;
    const double first = kLowestWall - kLeadBands * kBandWidth;
    const double top = std::min(kHighestExamined, binWidth * static_cast<double>(power.size()));
    const std::vector<double> levels = bandLevels(power, binWidth, first, top);
    if (levels.empty())
        return std::nullopt;

    // The lowest wall counts: above a transcode's source wall the last encoder may cut again.
    // Near it, the sharpest and deepest fall places it.
    std::optional<Candidate> best;
    std::size_t bestEdge = 0;
    const auto lastEdge = static_cast<std::size_t>(std::lround((kHighestWall - first) / kBandWidth));
    for (std::size_t edge = kLeadBands; edge <= lastEdge && edge < levels.size(); ++edge) {
        if (best && edge >= bestEdge + kLeadBands)
            break;
        for (int transition = 0; transition <= kMaxTransitionBands; ++transition) {
            const auto candidate = judge(levels, edge, transition);
            const auto score = [](const Candidate& c) { return c.depth - kWidthPenalty * c.transition; };
            if (candidate && (!best || score(*candidate) > score(*best))) {
                best = candidate;
                bestEdge = edge;
            }
        }
    }
    if (!best)
        return std::nullopt;
    return LossyEvidence {
        static_cast<float>(first + static_cast<double>(bestEdge) * kBandWidth),
        static_cast<float>(std::round(best->depth * 10.0) / 10.0),
        static_cast<float>((best->transition + 1) * kBandWidth),
    };
}

} // namespace sondrel::core
