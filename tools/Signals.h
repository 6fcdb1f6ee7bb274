#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sondrel::fixtures {

// Interleaved float audio, nominally in [-1, 1].
struct Signal {
    std::vector<float> samples;
    int sampleRate = 0;
    int channels = 0;

    [[nodiscard]] std::size_t frames() const noexcept
    {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
};

// SplitMix64: tiny and fully specified, so fixtures are identical on every platform.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) noexcept
        : m_state(seed)
    {
    }

    [[nodiscard]] std::uint64_t next() noexcept;
    // Uniform in [-1, 1).
    [[nodiscard]] float nextBipolar() noexcept;

private:
    std::uint64_t m_state;
};

// All makers are deterministic for a given argument list. On allocation failure they
// return an empty Signal (frames() == 0) rather than throwing.

// A pink noise bed (-3 dB/octave) under a slow level envelope, a drum pattern (kick, and bright
// hats that keep energy up to Nyquist) at 120 BPM and a few sustained tones. The band above
// 20.5 kHz sits within a few dB of the 10-12 kHz band, like a genuine lossless master. Peak -3 dBFS.
[[nodiscard]] Signal makeMusicLike(
    std::size_t frames, int sampleRate, int channels, std::uint64_t seed) noexcept;

// Dance music's shape: makeMusicLike() cut into sections of 8 to 32 s that alternate between
// full band (drops) and a low-passed, quieter bed (breakdowns, nothing much above 3 kHz), so
// that a VBR encoder's bitrate swings section by section.
[[nodiscard]] Signal makeDanceLike(
    std::size_t frames, int sampleRate, int channels, std::uint64_t seed) noexcept;

// Sine on every channel; the seed only picks the start phase.
[[nodiscard]] Signal makeTone(std::size_t frames, int sampleRate, int channels, std::uint64_t seed,
    double frequencyHz = 1000.0, float amplitude = 0.5f) noexcept;

// All samples exactly 0.0f; the seed is unused and accepted for a uniform signature.
[[nodiscard]] Signal makeSilence(
    std::size_t frames, int sampleRate, int channels, std::uint64_t seed = 0) noexcept;

// makeMusicLike() multiplied by gain and hard-clipped, so many samples are exactly +/-1.0f.
[[nodiscard]] Signal makeClipped(
    std::size_t frames, int sampleRate, int channels, std::uint64_t seed, float gain = 6.0f) noexcept;

// makeMusicLike() with channel 0 replaced by digital silence (meant for channels >= 2).
[[nodiscard]] Signal makeSilentLeft(
    std::size_t frames, int sampleRate, int channels, std::uint64_t seed) noexcept;

} // namespace sondrel::fixtures
