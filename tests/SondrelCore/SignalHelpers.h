#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace sondrel::test {

// A sine that sits exactly on FFT bin `bin` of an N-point frame, so its power stays in
// the main lobe around that bin.
inline void addBinTone(std::vector<float>& samples, int bin, int fftSize, double amplitude)
{
    const double step = 2.0 * std::numbers::pi * bin / fftSize;
    for (std::size_t n = 0; n < samples.size(); ++n)
        samples[n] += static_cast<float>(amplitude * std::sin(step * static_cast<double>(n)));
}

inline void addTone(std::vector<float>& samples, double frequency, double sampleRate, double amplitude)
{
    const double step = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (std::size_t n = 0; n < samples.size(); ++n)
        samples[n] += static_cast<float>(amplitude * std::sin(step * static_cast<double>(n)));
}

// The bin nearest a frequency.
inline int binOf(double frequency, double sampleRate, int fftSize)
{
    return static_cast<int>(std::lround(frequency * fftSize / sampleRate));
}

} // namespace sondrel::test
