#pragma once

#include "Result.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace sondrel::core {

class AudioDecoder;

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
//
// Memory stays bounded whatever length the file states: the file is read in chunks of at most
// kMaxChunkFrames frames of its first channel, and the rows are bounded by the target.
class SpectrogramGenerator {
public:
    // fftSize: a power of two, at least 2; targetTimeSlices: at least 1.
    SpectrogramGenerator(std::int64_t fftSize, std::int64_t targetTimeSlices)
        : m_fftSize(fftSize)
        , m_targetTimeSlices(targetTimeSlices)
    {
    }

    // Frames of the first channel that one chunk may hold: 16 MiB of floats, a whole chunk of
    // any file up to about an hour long at 44.1 kHz.
    static constexpr std::int64_t kMaxChunkFrames = std::int64_t { 1 } << 22;
    // Below this many frames a file is generated in one piece by generateInHalves().
    static constexpr std::uint64_t kSplitFrames = 44100 * 20;

    using Progress = std::function<void(double)>;
    // Opens the file once more: a decoder serves one thread.
    using DecoderOpener = std::function<Result<std::unique_ptr<AudioDecoder>>()>;

    // The progress callback, when given, is called on the generating thread with fractions
    // of the planned rows every 20 rows, then with 1.0 on success only.
    [[nodiscard]] Result<SpectrogramData> generate(
        const std::filesystem::path& path, const Progress& progress = {}) const;
    [[nodiscard]] Result<SpectrogramData> generate(
        AudioDecoder& decoder, const Progress& progress = {}) const;

    // The whole-file spectrogram of a long file as its two halves, generated at once on two
    // threads, each aiming at half the time slices so that the rows are spaced as one generation
    // would space them; a file shorter than kSplitFrames in one piece. A second half that cannot
    // be read (a stated length past the real end) leaves the first half's rows. Ends with the
    // error "cancelled" at the next read once `cancelled` is set.
    [[nodiscard]] Result<SpectrogramData> generateInHalves(
        const DecoderOpener& open, const std::atomic<bool>& cancelled) const;
    [[nodiscard]] Result<SpectrogramData> generateInHalves(
        const std::filesystem::path& path, const std::atomic<bool>& cancelled) const;

    [[nodiscard]] std::int64_t fftSize() const noexcept { return m_fftSize; }
    [[nodiscard]] std::int64_t targetTimeSlices() const noexcept { return m_targetTimeSlices; }

private:
    std::int64_t m_fftSize;
    std::int64_t m_targetTimeSlices;
};

} // namespace sondrel::core
