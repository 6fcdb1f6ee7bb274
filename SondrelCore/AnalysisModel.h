#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sondrel::core {

// Container formats the library accepts, in their fixed order.
enum class AudioFormat { mp3, wav, aiff, flac, m4a, aac };

inline constexpr std::array<AudioFormat, 6> kAllAudioFormats = { AudioFormat::mp3, AudioFormat::wav,
    AudioFormat::aiff, AudioFormat::flac, AudioFormat::m4a, AudioFormat::aac };

[[nodiscard]] std::string_view rawValue(AudioFormat format) noexcept;
[[nodiscard]] bool isLossless(AudioFormat format) noexcept;
// From a file-name extension without the dot, case-insensitively; "aif" is AIFF.
[[nodiscard]] std::optional<AudioFormat> audioFormatFromExtension(std::string_view extension);
// The format a file's name gives, mp3 when its extension matches none.
[[nodiscard]] AudioFormat audioFormatOf(const std::filesystem::path& path);
// The six raw values plus "aif".
[[nodiscard]] const std::array<std::string_view, 7>& supportedExtensions() noexcept;

// Nominal lossy bitrates; the value is the rate in kbps.
enum class Bitrate : int { low = 128, medium = 192, high = 256, maximum = 320 };

inline constexpr std::array<Bitrate, 4> kAllBitrates
    = { Bitrate::low, Bitrate::medium, Bitrate::high, Bitrate::maximum };

[[nodiscard]] std::string description(Bitrate bitrate);

enum class QualityRating { lossless, high, medium, low, poor, suspicious };

inline constexpr std::array<QualityRating, 6> kAllQualityRatings
    = { QualityRating::lossless, QualityRating::high, QualityRating::medium, QualityRating::low,
          QualityRating::poor, QualityRating::suspicious };

// The stored and displayed text: "Lossless", "320kbps", ..., "< 128kbps".
[[nodiscard]] std::string_view rawValue(QualityRating rating) noexcept;
[[nodiscard]] std::optional<QualityRating> qualityRatingFromRawValue(std::string_view raw) noexcept;
[[nodiscard]] bool passesThreshold(QualityRating rating) noexcept;
[[nodiscard]] std::string_view displayColor(QualityRating rating) noexcept;
// The nominal bitrate a rating stands for, not a file's own estimate.
[[nodiscard]] std::int64_t estimatedBitrate(QualityRating rating) noexcept;

enum class ClippingSeverity { none, mild, moderate, severe };

[[nodiscard]] std::string_view rawValue(ClippingSeverity severity) noexcept;

struct ClippingInfo {
    std::int64_t clippedSamples = 0;
    std::int64_t totalSamples = 0;
    float peakAmplitude = 0.0f;

    [[nodiscard]] bool hasClipping() const noexcept { return clippedSamples > 0; }
    [[nodiscard]] ClippingSeverity severity() const noexcept;
    // 20 log10 of the peak; negative infinity for a peak of 0 or less.
    [[nodiscard]] float peakDb() const noexcept;

    bool operator==(const ClippingInfo&) const = default;
};

// A lossy source's trace in a file's long-term spectrum: where the content stops, how far the
// level falls there (dB) and over how many Hz. A `roundingFloor` is a lossy file copied to 16
// bits: above `wallFrequency` nothing but the rounding noise, `depth` dB below the loudest
// content, which lies `width` Hz lower.
struct LossyEvidence {
    enum class Kind { wall, roundingFloor };

    float wallFrequency = 0.0f;
    float depth = 0.0f;
    float width = 0.0f;
    Kind kind = Kind::wall;

    bool operator==(const LossyEvidence&) const = default;
};

// "Brick-wall cutoff at 16.9 kHz (−13 dB in 200 Hz): made from a lossy source"; for a rounding
// floor "Nothing but 16-bit rounding noise above 16.1 kHz: made from a lossy source".
[[nodiscard]] std::string explanation(const LossyEvidence& evidence);

// Where an MP3's own encoder, set to keep 20 kHz and more, explains a low cutoff: such an
// encoder drops quiet highs above 16 kHz frame by frame, so a genuine soft piece can look cut
// like a lossy source. The file is judged on `judgedFrequency` instead: how high its loudest
// moments reach (`loudReach`), where they outweighed a lossy source's trace in the excerpts;
// else, where no trace showed at all, its encoder's own low-pass (at most 20.5 kHz).
struct EncoderPruning {
    float judgedFrequency = 0.0f;
    std::optional<float> loudReach;

    bool operator==(const EncoderPruning&) const = default;
};

// "Quiet highs dropped by its own encoder; its loudest moments reach 21.3 kHz" or "Quiet highs
// dropped by its own encoder; no trace of a lossy source".
[[nodiscard]] std::string explanation(const EncoderPruning& pruning);

struct AnalysisResult {
    float cutoffFrequency = 0.0f;
    std::int64_t estimatedBitrate = 0;
    QualityRating rating = QualityRating::suspicious;
    float confidence = 0.5f;
    ClippingInfo clipping;
    // Present only where a brick wall below the cutoff lowered the rating; the cutoff stays
    // the one the band ladder found.
    std::optional<LossyEvidence> lossyEvidence;
    // Present only where the file's own encoder explains a low cutoff and so raised the rating;
    // never beside lossyEvidence.
    std::optional<EncoderPruning> encoderPruning;
    // What an MP3's LAME tag says of the encoder that made it: its version text ("LAME3.100")
    // and the low-pass it set (Hz). Absent without a tag, or where the tag states none.
    std::optional<std::string> encoder;
    std::optional<int> encoderLowpass;

    AnalysisResult() = default;
    AnalysisResult(float cutoff, std::int64_t bitrate, QualityRating quality, float confidenceValue,
        ClippingInfo clippingInfo, std::optional<LossyEvidence> evidence = std::nullopt)
        : cutoffFrequency(cutoff)
        , estimatedBitrate(bitrate)
        , rating(quality)
        , confidence(confidenceValue)
        , clipping(clippingInfo)
        , lossyEvidence(evidence)
    {
    }

    // The rating passes and the clipping is not severe.
    [[nodiscard]] bool passesThreshold() const noexcept;
    // The frequency a quality threshold is judged on: the brick wall's where one was found, the
    // encoder pruning's where that was, else the cutoff.
    [[nodiscard]] float judgedCutoff() const noexcept;
    // Why the rating is not the cutoff's: the lossy evidence's or the encoder pruning's
    // explanation; empty where it is the cutoff's.
    [[nodiscard]] std::string evidenceExplanation() const;
    // "%.1f kHz" of the cutoff, e.g. "20.5 kHz".
    [[nodiscard]] std::string cutoffDescription() const;
    // "LAME3.100, lowpass 19.5 kHz"; the encoder alone where no low-pass is known; empty
    // without an encoder.
    [[nodiscard]] std::string encoderDescription() const;

    bool operator==(const AnalysisResult&) const = default;
};

struct UserOverride {
    bool djReady = false;
    QualityRating qualityRating = QualityRating::suspicious;
    std::chrono::system_clock::time_point timestamp;

    bool operator==(const UserOverride&) const = default;
};

} // namespace sondrel::core
