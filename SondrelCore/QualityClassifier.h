#pragma once

#include "AnalysisModel.h"

namespace sondrel::core {

// Turns a measured cutoff into a rating, a true-bitrate estimate and a confidence.
// Pure and stateless; never fails.
class QualityClassifier {
public:
    static constexpr float hiResThreshold = 22000.0f;
    static constexpr float losslessThreshold = 20500.0f;
    static constexpr float highThreshold = 20000.0f;
    static constexpr float mediumThreshold = 19000.0f;
    static constexpr float lowThreshold = 17500.0f;
    static constexpr float poorThreshold = 15500.0f;

    // Encoders at their top rates put their own low-pass at or above this (LAME 3.100: 256 kbps
    // 19.7 kHz, 320 kbps 20.5 kHz, V0 none), so a brick wall there does not show a lossy source.
    static constexpr float highestLossySourceWall = mediumThreshold;

    // An MP3 encoder leaves a wall at its own low-pass too. LAME's transition band starts up to
    // about 490 Hz below the low-pass its tag states (128 kbps: tag 17.0 kHz, band from
    // 16.54 kHz; 320 kbps: 20.5 and 20.09 kHz), and the detector places a wall at the 100 Hz
    // band where the fall starts; so a wall this close below the tag's low-pass, or above it,
    // is the encoder's own. A lossy source's wall lies further down: 900 Hz and more in a 256
    // made from a 192 (tag 19.7 kHz, walls 18.5 to 18.8 kHz), 3 kHz and more in a 320 made
    // from a 128.
    static constexpr float ownLowpassTolerance = 600.0f;

    // A cutoff that is NaN, infinite or negative is taken (and stored) as 0.
    // A brick wall below highestLossySourceWall whose rung is lower than the cutoff's rates the
    // file instead: rating and estimate are the wall frequency's, and the result keeps the
    // evidence. Any other wall leaves the result as the cutoff alone gives it, and so does a
    // wall that an MP3's own encoder explains (`encoderLowpass`, from its LAME tag).
    [[nodiscard]] AnalysisResult classify(float cutoffFrequency, AudioFormat format,
        const ClippingInfo& clipping, double sampleRate,
        const std::optional<LossyEvidence>& lossyEvidence = std::nullopt,
        std::optional<int> encoderLowpass = std::nullopt) const;

private:
    // The wall of an MP3 whose encoder states this low-pass is the encoder's own.
    [[nodiscard]] static bool encoderExplains(
        float wall, AudioFormat format, std::optional<int> encoderLowpass);
    // The bitrate rung of a cutoff: 320, 256, 192, 128 or 96.
    [[nodiscard]] static std::int64_t rungBitrate(float cutoff);
    [[nodiscard]] static QualityRating determineRating(float cutoff, AudioFormat format, bool hiRes);
    [[nodiscard]] static std::int64_t estimateBitrate(float cutoff, AudioFormat format, double sampleRate);
    [[nodiscard]] static float calculateConfidence(float cutoff, bool hiRes);
};

} // namespace sondrel::core
