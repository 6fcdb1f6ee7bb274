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

    // An MP3 encoder whose tag states this low-pass or more (LAME 3.100: 320 kbps 20.5 kHz, V0
    // 22.1 kHz) is set to keep the top, yet drops quiet highs above 16 kHz frame by frame (one
    // scale-factor band from 16 kHz up, at 44.1 kHz). A soft genuine piece then shows a low
    // cutoff, often a steep fall at 16 kHz onto nothing. Such a file is judged on its encoder's
    // own low-pass where no lossy source's trace shows, and on how high its loudest moments
    // reach where they pass the highest wall of a source at 160 kbps or less.
    static constexpr float keepsTopLowpass = 20000.0f;
    static constexpr float highestSmallSourceWall = lowThreshold;

    // A cutoff that is NaN, infinite or negative is taken (and stored) as 0.
    // A brick wall below highestLossySourceWall whose rung is lower than the cutoff's rates the
    // file instead: rating and estimate are the wall frequency's, and the result keeps the
    // evidence. Any other wall leaves the result as the cutoff alone gives it, and so does a
    // wall that an MP3's own encoder explains (`encoderLowpass`, from its LAME tag).
    // An MP3 whose encoder keeps the top (keepsTopLowpass) and whose judged cutoff sits on a
    // lower rung than its pruning's (EncoderPruning) is rated on that instead, without evidence.
    [[nodiscard]] AnalysisResult classify(float cutoffFrequency, AudioFormat format,
        const ClippingInfo& clipping, double sampleRate,
        const std::optional<LossyEvidence>& lossyEvidence = std::nullopt,
        std::optional<int> encoderLowpass = std::nullopt,
        std::optional<float> loudReach = std::nullopt) const;

    // Whether how high a file's loudest moments reach could change its rating: its MP3 encoder
    // keeps the top, and a lossy source's trace sits at or below highestSmallSourceWall.
    [[nodiscard]] static bool wantsLoudReach(
        const std::optional<LossyEvidence>& lossyEvidence, std::optional<int> encoderLowpass);

private:
    // What the MP3's own encoder explains, where its tag says it keeps the top.
    [[nodiscard]] static std::optional<EncoderPruning> pruning(
        const std::optional<LossyEvidence>& lossyEvidence, std::optional<int> encoderLowpass,
        std::optional<float> loudReach);
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
