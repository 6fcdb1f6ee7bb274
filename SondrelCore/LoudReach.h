#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace sondrel::core {

// How high a file's loudest moments reach. Frame by frame, in 100 Hz bands above 11 kHz, it
// keeps each band's level; a band counts where its loudest frame stands well above the band's
// usual (median) level and above anything 16-bit rounding makes. Content that comes and goes
// (a cymbal, a bright note, a breath) shows in a few frames even where the long-term spectrum
// has nothing, as when an MP3 encoder drops quiet highs frame by frame; a lossy source's
// low-pass leaves every frame empty above it.
//
// Not synchronised: one file at a time.
class LoudReach {
public:
    // Bands of BrickWallDetector::kBandWidth from here up.
    static constexpr double kLowest = 11000.0;
    static constexpr double kHighest = 22000.0;
    // How far a band's loudest frame stands above its median, and above the rounding noise, to
    // count (dB).
    static constexpr double kAboveMedian = 15.0;
    static constexpr double kAboveRounding = 10.0;

    // One FFT frame's power (bins of sampleRate / (2 * power.size()) Hz, in the analyzer's
    // scale). Frames of another size than the first, and empty ones, are ignored.
    void addFrame(std::span<const float> power, double sampleRate);

    // The top of the highest band that counts, in Hz, or nothing.
    [[nodiscard]] std::optional<float> reach() const;

    [[nodiscard]] std::size_t frameCount() const noexcept { return m_frames; }

private:
    std::vector<std::vector<float>> m_levels; // per band, one dB level per frame
    std::vector<double> m_power; // the frame being added
    std::size_t m_binCount = 0;
    std::size_t m_frames = 0;
    double m_roundingDb = 0.0;
};

} // namespace sondrel::core
