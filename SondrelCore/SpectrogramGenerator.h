#pragma once

#include "AudioDecoder.h"
#include "Result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace sondrel::core {

enum class SpectrogramError { emptyFile, fileTooShort, bufferCreationFailed, noAudioData, fftSetupFailed };

[[nodiscard]] std::string_view description(SpectrogramError error) noexcept;

struct SpectrogramData {
    // One row per time slice, in time order; each row holds fftSize / 2 levels in dB,
    // bin k standing for k * sampleRate / fftSize Hz.
    std::vector<std::vector<float>> magnitudes;
    double sampleRate = 0;
    std::int64_t fftSize = 0;
    double duration = 0; // the whole file's length in seconds

    [[nodiscard]] double maxFrequency() const noexcept { return sampleRate * 0.5; }
    [[nodiscard]] std::int64_t timeSlices() const noexcept
    {
        return static_cast<std::int64_t>(magnitudes.size());
    }
    [[nodiscard]] std::int64_t frequencyBins() const noexcept
    {
        return magnitudes.empty() ? 0 : static_cast<std::int64_t>(magnitudes.front().size());
    }
};

// A whole-file spectrogram for display, about targetTimeSlices rows spread evenly over the
// file, first channel only, levels in the same scaling as the analysis (digital silence
// reads -172.2 dB at N = 4096). Holds no mutable state: one generator may serve several
// generations at once. Synchronous; GUI code runs it on a worker.
class SpectrogramGenerator {
public:
    // fftSize: a power of two, at least 2; targetTimeSlices: at least 1.
    SpectrogramGenerator(std::int64_t fftSize, std::int64_t targetTimeSlices)
        : m_fftSize(fftSize)
        , m_targetTimeSlices(targetTimeSlices)
    {
    }

    using Progress = std::function<void(double)>;

    // The progress callback, when given, is called on the generating thread with fractions
    // of the planned rows every 20 rows, then with 1.0 on success only.
    [[nodiscard]] Result<SpectrogramData> generate(
        const std::filesystem::path& path, const Progress& progress = {}) const;
    [[nodiscard]] Result<SpectrogramData> generate(
        AudioDecoder& decoder, const Progress& progress = {}) const;

    [[nodiscard]] std::int64_t fftSize() const noexcept { return m_fftSize; }
    [[nodiscard]] std::int64_t targetTimeSlices() const noexcept { return m_targetTimeSlices; }

private:
    std::int64_t m_fftSize;
    std::int64_t m_targetTimeSlices;
};

} // namespace sondrel::core
