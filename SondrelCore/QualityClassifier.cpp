#include "QualityClassifier.h"

#include <algorithm>
#include <cmath>

namespace sondrel::core {

AnalysisResult QualityClassifier::classify(float cutoffFrequency, AudioFormat format,
    const ClippingInfo& clipping, double sampleRate, const std::optional<LossyEvidence>& lossyEvidence,
    std::optional<int> encoderLowpass, std::optional<float> loudReach) const
{
    const float cutoff = std::isfinite(cutoffFrequency) && cutoffFrequency >= 0.0f ? cutoffFrequency : 0.0f;
    const bool hiRes = sampleRate > 48000.0;
    AnalysisResult result { cutoff, estimateBitrate(cutoff, format, sampleRate),
        determineRating(cutoff, format, hiRes), calculateConfidence(cutoff, hiRes), clipping };
    // Where the cutoff already sits on the wall's rung the ladder has found the encoder itself.
    // Where the file's own encoder explains the wall, the file is judged by the ladder alone:
    // the ladder puts each LAME rate's own low-pass on that rate's rung (320 kbps: 20000 or
    // 20500, 192 kbps: 19000, 128 kbps: 17000 or 15500), so its cutoff needs no correction.
    if (lossyEvidence && lossyEvidence->wallFrequency < highestLossySourceWall
        && rungBitrate(lossyEvidence->wallFrequency) < rungBitrate(cutoff)
        && !encoderExplains(lossyEvidence->wallFrequency, format, encoderLowpass)) {
        const float wall = lossyEvidence->wallFrequency;
        result.rating = determineRating(wall, format, hiRes);
        result.estimatedBitrate = estimateBitrate(wall, format, sampleRate);
        result.lossyEvidence = lossyEvidence;
    }
    if (format != AudioFormat::mp3)
        return result;
    const auto own = pruning(lossyEvidence, encoderLowpass, loudReach);
    if (own && rungBitrate(own->judgedFrequency) > rungBitrate(result.judgedCutoff())) {
        result.rating = determineRating(own->judgedFrequency, format, hiRes);
        result.estimatedBitrate = estimateBitrate(own->judgedFrequency, format, sampleRate);
        result.lossyEvidence.reset();
        result.encoderPruning = own;
    }
    return result;
}

bool QualityClassifier::wantsLoudReach(
    const std::optional<LossyEvidence>& lossyEvidence, std::optional<int> encoderLowpass)
{
    return encoderLowpass && static_cast<float>(*encoderLowpass) >= keepsTopLowpass && lossyEvidence
        && lossyEvidence->wallFrequency <= highestSmallSourceWall;
}

std::optional<EncoderPruning> QualityClassifier::pruning(const std::optional<LossyEvidence>& lossyEvidence,
    std::optional<int> encoderLowpass, std::optional<float> loudReach)
{
    if (!encoderLowpass || static_cast<float>(*encoderLowpass) < keepsTopLowpass)
        return std::nullopt;
    const float ceiling = std::min(static_cast<float>(*encoderLowpass), losslessThreshold);
    if (!lossyEvidence || encoderExplains(lossyEvidence->wallFrequency, AudioFormat::mp3, encoderLowpass))
        return EncoderPruning { ceiling, std::nullopt };
    if (wantsLoudReach(lossyEvidence, encoderLowpass) && loudReach && *loudReach > highestSmallSourceWall)
        return EncoderPruning { std::min(*loudReach, ceiling), loudReach };
    return std::nullopt;
}

bool QualityClassifier::encoderExplains(float wall, AudioFormat format, std::optional<int> encoderLowpass)
{
    return format == AudioFormat::mp3 && encoderLowpass && *encoderLowpass > 0
        && wall >= static_cast<float>(*encoderLowpass) - ownLowpassTolerance;
}

std::int64_t QualityClassifier::rungBitrate(float cutoff)
{
    return estimateBitrate(cutoff, AudioFormat::mp3, 0.0);
}

QualityRating QualityClassifier::determineRating(float cutoff, AudioFormat format, bool hiRes)
{
    if (isLossless(format)) {
        const bool full = cutoff >= losslessThreshold || (hiRes && cutoff >= hiResThreshold);
        return full ? QualityRating::lossless : QualityRating::suspicious;
    }
    if (cutoff >= highThreshold)
        return QualityRating::high;
    if (cutoff >= mediumThreshold)
        return QualityRating::medium;
    if (cutoff >= lowThreshold)
        return QualityRating::low;
    if (cutoff >= poorThreshold)
        return QualityRating::poor;
    return QualityRating::suspicious;
}

std::int64_t QualityClassifier::estimateBitrate(float cutoff, AudioFormat format, double sampleRate)
{
    if (isLossless(format) && cutoff >= losslessThreshold) {
        // The PCM rate the sample rate suggests.
        if (sampleRate > 88200.0)
            return 4233;
        if (sampleRate > 48000.0)
            return 2822;
        if (sampleRate > 44100.0)
            return 2304;
        return 1411;
    }
    if (cutoff >= highThreshold)
        return 320;
    if (cutoff >= mediumThreshold)
        return 256;
    if (cutoff >= lowThreshold)
        return 192;
    if (cutoff >= poorThreshold)
        return 128;
    return 96;
}

float QualityClassifier::calculateConfidence(float cutoff, bool hiRes)
{
    if (hiRes && cutoff >= hiResThreshold) {
        if (cutoff >= 28000.0f)
            return 0.95f;
        return cutoff >= 24000.0f ? 0.85f : 0.75f;
    }
    struct Range {
        float lower;
        float upper;
    };
    // Confidence peaks in the middle of each range and falls to 0.5 at its edges.
    static constexpr Range kRanges[] = {
        { 20500.0f, 22050.0f },
        { 20000.0f, 20500.0f },
        { 19000.0f, 20000.0f },
        { 17500.0f, 19000.0f },
        { 15500.0f, 17500.0f },
    };
    for (const Range& range : kRanges) {
        if (cutoff >= range.lower && cutoff < range.upper) {
            const float position = (cutoff - range.lower) / (range.upper - range.lower);
            return 1.0f - std::fabs(position - 0.5f);
        }
    }
    return 0.5f;
}

} // namespace sondrel::core
