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

    // A cutoff that is NaN, infinite or negative is taken (and stored) as 0.
    [[nodiscard]] AnalysisResult classify(
        float cutoffFrequency, AudioFormat format, const ClippingInfo& clipping, double sampleRate) const;

private:
    [[nodiscard]] static QualityRating determineRating(float cutoff, AudioFormat format, bool hiRes);
    [[nodiscard]] static std::int64_t estimateBitrate(float cutoff, AudioFormat format, double sampleRate);
    [[nodiscard]] static float calculateConfidence(float cutoff, bool hiRes);
};

} // namespace sondrel::core
