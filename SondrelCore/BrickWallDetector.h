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

    // The wall in everything added so far, else a 16-bit rounding floor in it, or nothing.
    [[nodiscard]] std::optional<LossyEvidence> detect(double sampleRate) const;

    // The wall in a long-term power spectrum whose bins are binWidth Hz apart, or nothing.
    // Bad input (no bins, a bin width that is not positive and finite) gives nothing.
    [[nodiscard]] static std::optional<LossyEvidence> findWall(std::span<const double> power, double binWidth);

    // The top of a lossy file copied to 16 bits: nothing but the rounding noise of 16-bit samples
    // (powerDb, in the analyzer's scale) from some frequency up to 19 kHz, under content that
    // stands clearly above it. A genuine recording carries its own noise there (tape, room,
    // dither), never bare rounding. The evidence's frequency is where the floor starts, its
    // depth how far the loudest content below stands above the floor and its width how far
    // below the floor's start that content lies. Bad input gives nothing.
    [[nodiscard]] static std::optional<LossyEvidence> findRoundingFloor(
        std::span<const double> power, double binWidth, double roundingDb);

    // Levels in dB of consecutive kBandWidth bands from `first` Hz up to `last` Hz, for bins
    // binWidth Hz apart; empty when a band would hold no bin.
    [[nodiscard]] static std::vector<double> bandLevels(
        std::span<const double> power, double binWidth, double first, double last);

    // The power in dB, in the analyzer's scale, of the noise that rounding to 16 bits adds to
    // a full-scale float signal, for an FFT of fftSize samples.
    [[nodiscard]] static double roundingNoiseDb(std::size_t fftSize);

private:
    std::vector<double> m_power;
    std::int64_t m_frames = 0;
};

} // namespace sondrel::core
