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

    // Encoders at their top rates put their own low-pass at or above this (LAME: V0 19.5 kHz,
    // 256 kbps 19.7 kHz), so a brick wall there does not show a lossy source.
    static constexpr float highestLossySourceWall = mediumThreshold;

    // A cutoff that is NaN, infinite or negative is taken (and stored) as 0.
    // A brick wall below highestLossySourceWall whose rung is lower than the cutoff's rates the
    // file instead: rating and estimate are the wall frequency's, and the result keeps the
    // evidence. Any other wall leaves the result as the cutoff alone gives it.
    [[nodiscard]] AnalysisResult classify(float cutoffFrequency, AudioFormat format, const ClippingInfo& clipping,
        double sampleRate, const std::optional<LossyEvidence>& lossyEvidence = std::nullopt) const;

private:
    // The bitrate rung of a cutoff: 320, 256, 192, 128 or 96.
    [[nodiscard]] static std::int64_t rungBitrate(float cutoff);
    [[nodiscard]] static QualityRating determineRating(float cutoff, AudioFormat format, bool hiRes);
    [[nodiscard]] static std::int64_t estimateBitrate(float cutoff, AudioFormat format, double sampleRate);
    [[nodiscard]] static float calculateConfidence(float cutoff, bool hiRes);
};

} // namespace sondrel::core
