#pragma once

#include "AnalysisModel.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sondrel::core {

// Looks for the brick wall a lossy encoder leaves in a file's long-term power spectrum: a fall
// of many dB within a few hundred Hz onto a flat floor that reaches the top of the spectrum.
// Everything is judged against neighbouring bands, never against fixed levels, so quiet and
// soft material is judged like loud material. A natural roll-off (a steady slope), a quiet
// passage sinking into its noise floor (a soft knee) and a genuine file's hiss (no fall at all)
// show no wall.
//
// Fed with the averaged power spectra that the cutoff search already computes for each
// excerpt, so it costs no extra decoding or transforms. Not synchronised: one file at a time.
class BrickWallDetector {
public:
    // Width of the bands the wall is looked for in, and the lowest and highest wall it reports.
    static constexpr double kBandWidth = 100.0;
    static constexpr double kLowestWall = 11500.0;
    static constexpr double kHighestWall = 20000.0;
    // Smallest fall, in dB, that counts as a wall.
    static constexpr double kMinimumDepth = 10.0;

    // Adds one excerpt's averaged power spectrum (bins of sampleRate / (2 * power.size()) Hz),
    // weighted by the number of FFT frames it averages. Empty or frameless spectra, and spectra
    // of another size than the first, are ignored.
    void addSpectrum(std::span<const float> power, std::int64_t frames);

    // The wall in everything added so far, or nothing.
    [[nodiscard]] std::optional<LossyEvidence> detect(double sampleRate) const;

    // The wall in a long-term power spectrum whose bins are binWidth Hz apart, or nothing.
    // Bad input (no bins, a bin width that is not positive and finite) gives nothing.
    [[nodiscard]] static std::optional<LossyEvidence> findWall(std::span<const double> power, double binWidth);

private:
    std::vector<double> m_power;
    std::int64_t m_frames = 0;
};

} // namespace sondrel::core
