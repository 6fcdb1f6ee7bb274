#pragma once

#include "AnalysisModel.h"
#include "AudioDecoder.h"
#include "Result.h"
#include "fft/FastFFTProcessor.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sondrel::core {

enum class AnalyzerError {
    fileTooShort,
    bufferCreationFailed,
    noAudioData,
    // The decoder ran out of audio well before the length the file announced.
    endedEarly,
    // Every excerpt is silence on every channel: there is no content to judge.
    silent,
};

[[nodiscard]] std::string_view description(AnalyzerError error) noexcept;
[[nodiscard]] inline Error makeError(AnalyzerError error)
{
    return Error { std::string(description(error)) };
}

struct AnalysisMetrics {
    std::chrono::nanoseconds decodeTime { 0 }; // reading, seeking and decoding the excerpts
    std::chrono::nanoseconds fftTime { 0 }; // the FFT segment processor
    std::chrono::nanoseconds totalTime { 0 }; // the whole analysis call
    std::int64_t frameCount = 0; // FFT frames, over all excerpts
    std::int64_t sampleCount = 0; // sample frames examined, over all excerpts
    double sampleRate = 0;

    [[nodiscard]] double decodeMs() const noexcept { return toMs(decodeTime); }
    [[nodiscard]] double fftMs() const noexcept { return toMs(fftTime); }
    [[nodiscard]] double totalMs() const noexcept { return toMs(totalTime); }
    // Seconds of audio examined, not the file's length.
    [[nodiscard]] double audioDuration() const noexcept
    {
        return sampleRate > 0 ? static_cast<double>(sampleCount) / sampleRate : 0.0;
    }

private:
    static double toMs(std::chrono::nanoseconds d) noexcept
    {
        return std::chrono::duration<double, std::milli>(d).count();
    }
};

// Judges a file from up to three excerpts of 16384 frames (start, one third, two thirds), on
// the first channel; where it is silent in an excerpt and another is not, on the loudest. Not synchronised: one analysis at a time per analyzer; analyses that
// may overlap use one analyzer each. Every call is synchronous and runs on the caller's
// thread, so callers on the GUI thread hand it to a worker.
class SpectrumAnalyzer {
public:
    static constexpr std::int64_t fftSize = 4096;
    static constexpr std::int64_t segmentCount = 3;
    static constexpr std::int64_t samplesPerSegment = 16384;
    // Lengths are handled as unsigned 32-bit counts; longer files are judged on their
    // first 2^32 - 1 frames.
    static constexpr std::uint64_t kMaxFrames = 0xFFFFFFFFull;

    struct FullAnalysisResult {
        float cutoff = 0.0f;
        ClippingInfo clipping;
        AnalysisMetrics metrics;
        // The brick wall in the excerpts' long-term spectrum, wherever it is.
        std::optional<LossyEvidence> lossyEvidence;
        // The LAME tag's facts, where the file has one.
        std::optional<EncoderTag> encoderTag;
        // How high the file's loudest moments reach (see LoudReach), over loudReachExcerpts()
        // spread through it. Looked for only where the classifier can use it (an MP3 whose own
        // encoder keeps the top, with a lossy source's trace low in the excerpts); else absent,
        // as it is where no moment reaches above 11 kHz.
        std::optional<float> loudReach;
    };

    struct QuickScreenResult {
        enum class ScreeningConfidence { clearPass, clearFail, borderline };
        float cutoff = 0.0f;
        ScreeningConfidence confidence = ScreeningConfidence::borderline;
    };
    using ScreeningConfidence = QuickScreenResult::ScreeningConfidence;

    struct ClippingCount {
        std::int64_t clipped = 0;
        float peak = 0.0f;
    };

    // Nothing when the FFT processor cannot be created.
    [[nodiscard]] static std::optional<SpectrumAnalyzer> make();

    // Errors: the decoder's text for files that cannot be opened or read,
    // "Audio file is too short to analyze" below 4096 frames, "No sound to judge: the excerpts
    // are silent" when every excerpt is silent on every channel.
    [[nodiscard]] Result<FullAnalysisResult> analyzeFileComplete(const std::filesystem::path& path);

    // One excerpt from the middle of the file, sorted into three bands.
    [[nodiscard]] Result<QuickScreenResult> quickScreen(const std::filesystem::path& path);

    // The decoding passes over an open decoder (the seam tests use).
    [[nodiscard]] Result<FullAnalysisResult> analyze(AudioDecoder& decoder);
    [[nodiscard]] Result<float> quickScreenCutoff(AudioDecoder& decoder);

    // Where the full analysis of a file of `length` frames reads, and how many frames from
    // each: the read-ahead fetches the same.
    [[nodiscard]] static std::vector<ExcerptRange> excerpts(std::uint64_t length);
    // Where the look for the loudest moments reads: twelve excerpts from the start to the end;
    // none for a file no longer than one excerpt, which the first look covered whole.
    [[nodiscard]] static std::vector<ExcerptRange> loudReachExcerpts(std::uint64_t length);

    [[nodiscard]] static ScreeningConfidence screen(float cutoff) noexcept;
    // Samples at or above 0.9999 in magnitude count as clipped (NaN never does); the peak
    // is the largest finite magnitude, so it is always finite.
    [[nodiscard]] static ClippingCount detectClipping(std::span<const float> samples) noexcept;
    // The channel an excerpt is judged on: the first, unless its peak is below -90 dBFS and
    // another channel's is not; then the loudest.
    [[nodiscard]] static std::span<const float> judgedChannel(const AudioBuffer& buffer) noexcept;

private:
    // The loudest moments' reach over loudReachExcerpts(); nothing where a read fails.
    [[nodiscard]] std::optional<float> findLoudReach(
        AudioDecoder& decoder, AudioBuffer& buffer, AnalysisMetrics& metrics);

    explicit SpectrumAnalyzer(FastFFTProcessor processor)
        : m_fftProcessor(std::move(processor))
    {
    }

    FastFFTProcessor m_fftProcessor;
};

[[nodiscard]] std::string_view rawValue(SpectrumAnalyzer::ScreeningConfidence confidence) noexcept;

} // namespace sondrel::core
