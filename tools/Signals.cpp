#include "Signals.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numbers>

namespace sondrel::fixtures {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr float kMusicPeak = 0.70794578f; // -3 dBFS
constexpr double kBeatSeconds = 0.5; // 120 BPM

// Paul Kellet's economy-free pink filter: within ~0.05 dB of -3 dB/octave over the audio band
// and it keeps energy all the way to Nyquist, which the lossless fixtures need.
class PinkFilter {
public:
    [[nodiscard]] double process(double white) noexcept
    {
        m_b[0] = 0.99886 * m_b[0] + white * 0.0555179;
        m_b[1] = 0.99332 * m_b[1] + white * 0.0750759;
        m_b[2] = 0.96900 * m_b[2] + white * 0.1538520;
        m_b[3] = 0.86650 * m_b[3] + white * 0.3104856;
        m_b[4] = 0.55000 * m_b[4] + white * 0.5329522;
        m_b[5] = -0.7616 * m_b[5] - white * 0.0168980;
        const double out = m_b[0] + m_b[1] + m_b[2] + m_b[3] + m_b[4] + m_b[5] + m_b[6] + white * 0.5362;
        m_b[6] = white * 0.115926;
        return out;
    }

private:
    std::array<double, 7> m_b {};
};

[[nodiscard]] Signal emptySignal(int sampleRate, int channels) noexcept
{
    Signal s;
    s.sampleRate = sampleRate;
    s.channels = channels;
    return s;
}

[[nodiscard]] bool validShape(std::size_t frames, int sampleRate, int channels) noexcept
{
    return frames > 0 && sampleRate > 0 && channels > 0;
}

// Per-beat accent, derived from the seed so it does not depend on how many samples came before.
[[nodiscard]] double beatAccent(std::uint64_t seed, std::uint64_t beat) noexcept
{
    SplitMix64 rng(seed ^ (beat * 0x9E3779B97F4A7C15ULL));
    return 0.6 + 0.4 * (0.5 + 0.5 * static_cast<double>(rng.nextBipolar()));
}

void normalizePeak(std::vector<float>& samples, float targetPeak) noexcept
{
    float peak = 0.0f;
    for (const float v : samples) {
        peak = std::max(peak, std::fabs(v));
    }
    if (peak <= 0.0f) {
        return;
    }
    const float gain = targetPeak / peak;
    for (float& v : samples) {
        v *= gain;
    }
}

} // namespace

std::uint64_t SplitMix64::next() noexcept
{
    m_state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = m_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

float SplitMix64::nextBipolar() noexcept
{
    // 24 random bits map exactly onto float's mantissa.
    const auto bits = static_cast<std::uint32_t>(next() >> 40);
    return static_cast<float>(bits) * (2.0f / 16777216.0f) - 1.0f;
}

Signal makeMusicLike(std::size_t frames, int sampleRate, int channels, std::uint64_t seed) noexcept
{
    if (!validShape(frames, sampleRate, channels)) {
        return emptySignal(sampleRate, channels);
    }
    try {
        Signal out = emptySignal(sampleRate, channels);
        out.samples.resize(frames * static_cast<std::size_t>(channels));

        SplitMix64 rng(seed);
        const auto nextPhase
            = [&rng] { return kTwoPi * (0.5 + 0.5 * static_cast<double>(rng.nextBipolar())); };
        const double envPhase = nextPhase();
        // A-major-ish chord; the seed detunes it slightly so different seeds differ in pitch too.
        const double detune = 1.0 + 0.01 * static_cast<double>(rng.nextBipolar());
        const std::array<double, 4> toneHz { 110.0 * detune, 277.18 * detune, 329.63 * detune,
            440.0 * detune };
        std::array<double, 4> tonePhase {};
        for (double& p : tonePhase) {
            p = nextPhase();
        }

        std::vector<PinkFilter> pink(static_cast<std::size_t>(channels));
        std::vector<double> prevWhite(static_cast<std::size_t>(channels), 0.0);
        const double fs = sampleRate;

        for (std::size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / fs;
            const double envelope = 0.6 + 0.4 * std::sin(kTwoPi * 0.11 * t + envPhase);

            const double beatIndex = std::floor(t / kBeatSeconds);
            const double sinceBeat = t - beatIndex * kBeatSeconds;
            const double accent = beatAccent(seed, static_cast<std::uint64_t>(beatIndex));
            // Kick: pitch drops from ~120 Hz to 50 Hz; phase is the integral of that sweep.
            const double kickPhase
                = kTwoPi * (50.0 * sinceBeat + 70.0 * 0.03 * (1.0 - std::exp(-sinceBeat / 0.03)));
            const double kick = 1.6 * accent * std::exp(-sinceBeat / 0.12) * std::sin(kickPhase);

            const double sinceOffbeat = std::fmod(t + kBeatSeconds * 0.5, kBeatSeconds);
            const double hatEnvelope = 2.5 * accent * std::exp(-sinceOffbeat / 0.02);

            double tones = 0.0;
            for (std::size_t k = 0; k < toneHz.size(); ++k) {
                tones += 0.12 * std::sin(kTwoPi * toneHz[k] * t + tonePhase[k]);
            }

            const double common = rng.nextBipolar();
            for (int c = 0; c < channels; ++c) {
                const auto ci = static_cast<std::size_t>(c);
                const double own = rng.nextBipolar();
                const double bed = 0.35 * pink[ci].process(0.7 * common + 0.7 * own);
                // First difference tilts white noise up by 6 dB/octave: bright, hat-like.
                const double hat = hatEnvelope * 0.5 * (own - prevWhite[ci]);
                prevWhite[ci] = own;
                const double value = envelope * (bed + tones) + kick + hat;
                out.samples[n * static_cast<std::size_t>(channels) + ci] = static_cast<float>(value);
            }
        }
        normalizePeak(out.samples, kMusicPeak);
        return out;
    } catch (const std::bad_alloc&) {
        return emptySignal(sampleRate, channels);
    }
}

Signal makeTone(std::size_t frames, int sampleRate, int channels, std::uint64_t seed, double frequencyHz,
    float amplitude) noexcept
{
    if (!validShape(frames, sampleRate, channels)) {
        return emptySignal(sampleRate, channels);
    }
    try {
        Signal out = emptySignal(sampleRate, channels);
        out.samples.resize(frames * static_cast<std::size_t>(channels));
        SplitMix64 rng(seed);
        const double phase = kTwoPi * (0.5 + 0.5 * static_cast<double>(rng.nextBipolar()));
        const double step = kTwoPi * frequencyHz / sampleRate;
        for (std::size_t n = 0; n < frames; ++n) {
            const auto v = static_cast<float>(amplitude * std::sin(step * static_cast<double>(n) + phase));
            for (int c = 0; c < channels; ++c) {
                out.samples[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
            }
        }
        return out;
    } catch (const std::bad_alloc&) {
        return emptySignal(sampleRate, channels);
    }
}

Signal makeSilence(std::size_t frames, int sampleRate, int channels, std::uint64_t /*seed*/) noexcept
{
    if (!validShape(frames, sampleRate, channels)) {
        return emptySignal(sampleRate, channels);
    }
    try {
        Signal out = emptySignal(sampleRate, channels);
        out.samples.assign(frames * static_cast<std::size_t>(channels), 0.0f);
        return out;
    } catch (const std::bad_alloc&) {
        return emptySignal(sampleRate, channels);
    }
}

Signal makeClipped(std::size_t frames, int sampleRate, int channels, std::uint64_t seed, float gain) noexcept
{
    Signal out = makeMusicLike(frames, sampleRate, channels, seed);
    for (float& v : out.samples) {
        v = std::clamp(v * gain, -1.0f, 1.0f);
    }
    return out;
}

Signal makeDanceLike(std::size_t frames, int sampleRate, int channels, std::uint64_t seed) noexcept
{
    Signal out = makeMusicLike(frames, sampleRate, channels, seed);
    if (out.frames() == 0)
        return out;
    SplitMix64 rng(seed ^ 0x5EC7105ull);
    const auto width = static_cast<std::size_t>(channels);
    // Two one-pole low-passes at about 2.5 kHz, per channel.
    const double pole = std::exp(-kTwoPi * 2500.0 / sampleRate);
    std::vector<double> first(width, 0.0);
    std::vector<double> second(width, 0.0);
    bool breakdown = false;
    std::size_t start = 0;
    while (start < frames) {
        const double seconds = 8.0 + 24.0 * (0.5 + 0.5 * static_cast<double>(rng.nextBipolar()));
        const std::size_t end = std::min(frames, start + static_cast<std::size_t>(seconds * sampleRate));
        for (std::size_t n = start; n < end && breakdown; ++n) {
            for (std::size_t c = 0; c < width; ++c) {
                float& sample = out.samples[n * width + c];
                first[c] = (1.0 - pole) * sample + pole * first[c];
                second[c] = (1.0 - pole) * first[c] + pole * second[c];
                sample = static_cast<float>(0.6 * second[c]);
            }
        }
        breakdown = !breakdown;
        start = end;
    }
    normalizePeak(out.samples, kMusicPeak);
    return out;
}

Signal makeSilentLeft(std::size_t frames, int sampleRate, int channels, std::uint64_t seed) noexcept
{
    Signal out = makeMusicLike(frames, sampleRate, channels, seed);
    for (std::size_t i = 0; i < out.samples.size(); i += static_cast<std::size_t>(channels)) {
        out.samples[i] = 0.0f;
    }
    return out;
}

} // namespace sondrel::fixtures
