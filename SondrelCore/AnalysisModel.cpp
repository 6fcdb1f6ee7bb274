#include "AnalysisModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace sondrel::core {

std::string_view rawValue(AudioFormat format) noexcept
{
    switch (format) {
    case AudioFormat::mp3:
        return "mp3";
    case AudioFormat::wav:
        return "wav";
    case AudioFormat::aiff:
        return "aiff";
    case AudioFormat::flac:
        return "flac";
    case AudioFormat::m4a:
        return "m4a";
    case AudioFormat::aac:
        return "aac";
    }
    return "mp3";
}

bool isLossless(AudioFormat format) noexcept
{
    return format == AudioFormat::wav || format == AudioFormat::aiff || format == AudioFormat::flac;
}

std::optional<AudioFormat> audioFormatFromExtension(std::string_view extension)
{
    std::string lower(extension);
    // ASCII folding only: the raw values are ASCII, and no locale may map other bytes onto them.
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (lower == "aif")
        return AudioFormat::aiff;
    for (AudioFormat format : kAllAudioFormats) {
        if (rawValue(format) == lower)
            return format;
    }
    return std::nullopt;
}

AudioFormat audioFormatOf(const std::filesystem::path& path)
{
    const std::string extension = path.extension().string();
    return audioFormatFromExtension(
        extension.empty() ? std::string_view() : std::string_view(extension).substr(1))
        .value_or(AudioFormat::mp3);
}

const std::array<std::string_view, 7>& supportedExtensions() noexcept
{
    static constexpr std::array<std::string_view, 7> kExtensions
        = { "mp3", "wav", "aiff", "flac", "m4a", "aac", "aif" };
    return kExtensions;
}

std::string description(Bitrate bitrate)
{
    return std::to_string(static_cast<int>(bitrate)) + "kbps";
}

std::string_view rawValue(QualityRating rating) noexcept
{
    switch (rating) {
    case QualityRating::lossless:
        return "Lossless";
    case QualityRating::high:
        return "320kbps";
    case QualityRating::medium:
        return "256kbps";
    case QualityRating::low:
        return "192kbps";
    case QualityRating::poor:
        return "128kbps";
    case QualityRating::suspicious:
        return "< 128kbps";
    }
    return "< 128kbps";
}

std::optional<QualityRating> qualityRatingFromRawValue(std::string_view raw) noexcept
{
    for (QualityRating rating : kAllQualityRatings) {
        if (rawValue(rating) == raw)
            return rating;
    }
    return std::nullopt;
}

bool passesThreshold(QualityRating rating) noexcept
{
    return rating == QualityRating::lossless || rating == QualityRating::high;
}

std::string_view displayColor(QualityRating rating) noexcept
{
    switch (rating) {
    case QualityRating::lossless:
    case QualityRating::high:
        return "green";
    case QualityRating::medium:
        return "yellow";
    case QualityRating::low:
    case QualityRating::poor:
        return "orange";
    case QualityRating::suspicious:
        return "red";
    }
    return "red";
}

std::int64_t estimatedBitrate(QualityRating rating) noexcept
{
    switch (rating) {
    case QualityRating::lossless:
        return 1411;
    case QualityRating::high:
        return 320;
    case QualityRating::medium:
        return 256;
    case QualityRating::low:
        return 192;
    case QualityRating::poor:
        return 128;
    case QualityRating::suspicious:
        return 0;
    }
    return 0;
}

std::string_view rawValue(ClippingSeverity severity) noexcept
{
    switch (severity) {
    case ClippingSeverity::none:
        return "None";
    case ClippingSeverity::mild:
        return "Mild";
    case ClippingSeverity::moderate:
        return "Moderate";
    case ClippingSeverity::severe:
        return "Severe";
    }
    return "None";
}

ClippingSeverity ClippingInfo::severity() const noexcept
{
    if (clippedSamples == 0)
        return ClippingSeverity::none;
    const double ratio
        = static_cast<double>(clippedSamples) / static_cast<double>(std::max<std::int64_t>(totalSamples, 1));
    if (ratio < 0.0001)
        return ClippingSeverity::mild;
    if (ratio < 0.001)
        return ClippingSeverity::moderate;
    return ClippingSeverity::severe;
}

float ClippingInfo::peakDb() const noexcept
{
    if (peakAmplitude > 0.0f)
        return 20.0f * std::log10(peakAmplitude);
    return -std::numeric_limits<float>::infinity();
}

bool AnalysisResult::passesThreshold() const noexcept
{
    return core::passesThreshold(rating) && clipping.severity() != ClippingSeverity::severe;
}

float AnalysisResult::judgedCutoff() const noexcept
{
    if (lossyEvidence)
        return std::min(cutoffFrequency, lossyEvidence->wallFrequency);
    return encoderPruning ? encoderPruning->judgedFrequency : cutoffFrequency;
}

std::string explanation(const EncoderPruning& pruning)
{
    if (!pruning.loudReach)
        return "Quiet highs dropped by its own encoder; no trace of a lossy source";
    char text[96];
    std::snprintf(text, sizeof text,
        "Quiet highs dropped by its own encoder; its loudest moments reach %.1f kHz",
        static_cast<double>(*pruning.loudReach) / 1000.0);
    return text;
}

std::string explanation(const LossyEvidence& evidence)
{
    char text[128];
    if (evidence.kind == LossyEvidence::Kind::roundingFloor) {
        std::snprintf(text, sizeof text,
            "Nothing but 16-bit rounding noise above %.1f kHz: made from a lossy source",
            static_cast<double>(evidence.wallFrequency) / 1000.0);
        return text;
    }
    std::snprintf(text, sizeof text, "Brick-wall cutoff at %.1f kHz (\u2212%.0f dB in %.0f Hz): made from a lossy source",
        static_cast<double>(evidence.wallFrequency) / 1000.0, static_cast<double>(evidence.depth),
        static_cast<double>(evidence.width));
    return text;
}

std::string AnalysisResult::evidenceExplanation() const
{
    if (lossyEvidence)
        return explanation(*lossyEvidence);
    return encoderPruning ? explanation(*encoderPruning) : std::string {};
}

std::string AnalysisResult::cutoffDescription() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f kHz", static_cast<double>(cutoffFrequency) / 1000.0);
    return text;
}

std::string AnalysisResult::encoderDescription() const
{
    if (!encoder)
        return {};
    if (!encoderLowpass)
        return *encoder;
    char text[64];
    std::snprintf(text, sizeof text, ", lowpass %.1f kHz", static_cast<double>(*encoderLowpass) / 1000.0);
    return *encoder + text;
}

} // namespace sondrel::core
