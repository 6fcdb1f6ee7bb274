#include "SpectrumAnalyzer.h"

#include "BrickWallDetector.h"
#include "LoudReach.h"
#include "QualityClassifier.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace sondrel::core {
namespace {

using Clock = std::chrono::steady_clock;

// The float nearest 0.9999.
constexpr float kClipLevel = 0.9999f;
// -90 dBFS: below it a channel holds nothing worth judging.
constexpr float kSilenceLevel = 3.1622777e-5f;

std::uint64_t clampedLength(const AudioDecoder& decoder)
{
    return std::min(decoder.lengthInFrames(), SpectrumAnalyzer::kMaxFrames);
}

// Reads an excerpt. Less than one FFT frame where at least one was announced means the
// stream ended early; judging the file on what little came would report a verdict on
// audio that was never examined.
Result<std::size_t> readExcerpt(
    AudioDecoder& decoder, AudioBuffer& buffer, std::uint64_t position, std::size_t frames)
{
    buffer.setFrameLength(0);
    if (Status sought = decoder.seek(position); !sought)
        return sought.error();
    auto read = decoder.read(frames, buffer);
    if (!read)
        return read;
    const auto minimum = static_cast<std::size_t>(SpectrumAnalyzer::fftSize);
    if (frames >= minimum && *read < minimum)
        return makeError(AnalyzerError::endedEarly);
    return read;
}

} // namespace

std::string_view description(AnalyzerError error) noexcept
{
    switch (error) {
    case AnalyzerError::fileTooShort:
        return "Audio file is too short to analyze";
    case AnalyzerError::bufferCreationFailed:
        return "Failed to create audio buffer";
    case AnalyzerError::noAudioData:
        return "No audio data found in file";
    case AnalyzerError::endedEarly:
        return "Audio data ends before the file's stated length";
    case AnalyzerError::silent:
        return "No sound to judge: the excerpts are silent";
    }
    return "Unsupported audio format";
}

std::string_view rawValue(SpectrumAnalyzer::ScreeningConfidence confidence) noexcept
{
    switch (confidence) {
    case SpectrumAnalyzer::ScreeningConfidence::clearPass:
        return "clearPass";
    case SpectrumAnalyzer::ScreeningConfidence::clearFail:
        return "clearFail";
    case SpectrumAnalyzer::ScreeningConfidence::borderline:
        return "borderline";
    }
    return "borderline";
}

std::optional<SpectrumAnalyzer> SpectrumAnalyzer::make()
{
    auto processor = FastFFTProcessor::make(fftSize);
    if (!processor)
        return std::nullopt;
    return SpectrumAnalyzer(std::move(*processor));
}

Result<SpectrumAnalyzer::FullAnalysisResult> SpectrumAnalyzer::analyzeFileComplete(
    const std::filesystem::path& path)
{
    const auto start = Clock::now();
    auto decoder = openAudioFile(path);
    if (!decoder)
        return decoder.error();
    auto result = analyze(**decoder);
    if (result)
        result->metrics.totalTime = Clock::now() - start;
    return result;
}

Result<SpectrumAnalyzer::FullAnalysisResult> SpectrumAnalyzer::analyze(AudioDecoder& decoder)
{
    const auto start = Clock::now();
    const std::uint64_t length = clampedLength(decoder);
    if (length < static_cast<std::uint64_t>(fftSize))
        return makeError(AnalyzerError::fileTooShort);
    if (decoder.channelCount() < 1)
        return makeError(AnalyzerError::bufferCreationFailed);
    AudioBuffer buffer(decoder.channelCount(), samplesPerSegment);

    FullAnalysisResult result;
    AnalysisMetrics& metrics = result.metrics;
    metrics.sampleRate = decoder.sampleRate();
    const auto rate = static_cast<float>(metrics.sampleRate);
    bool heard = false;
    BrickWallDetector wallDetector;
    for (const ExcerptRange& excerpt : excerpts(length)) {
        const auto decodeStart = Clock::now();
        auto read = readExcerpt(decoder, buffer, excerpt.position, excerpt.frames);
        metrics.decodeTime += Clock::now() - decodeStart;
        if (!read)
            return read.error();

        const std::span<const float> samples = judgedChannel(buffer);
        metrics.sampleCount += static_cast<std::int64_t>(samples.size());
        const ClippingCount clipping = detectClipping(samples);
        heard = heard || clipping.peak >= kSilenceLevel;
        result.clipping.clippedSamples += clipping.clipped;
        result.clipping.peakAmplitude = std::max(result.clipping.peakAmplitude, clipping.peak);

        const auto fftStart = Clock::now();
        const auto segmentResult = m_fftProcessor.analyzeSegment(samples, rate);
        metrics.fftTime += Clock::now() - fftStart;
        result.cutoff = std::max(result.cutoff, segmentResult.cutoff);
        metrics.frameCount += segmentResult.frameCount;
        wallDetector.addSpectrum(m_fftProcessor.averagedPower(), segmentResult.frameCount);
    }
    // A rating of silence would call it a lossy file; it is no verdict at all.
    if (!heard)
        return makeError(AnalyzerError::silent);
    result.lossyEvidence = wallDetector.detect(metrics.sampleRate);
    result.encoderTag = decoder.encoderTag();
    if (QualityClassifier::wantsLoudReach(
            result.lossyEvidence, result.encoderTag ? result.encoderTag->lowpass : std::nullopt))
        result.loudReach = findLoudReach(decoder, buffer, metrics);
    result.clipping.totalSamples = metrics.sampleCount;
    metrics.totalTime = Clock::now() - start;
    return result;
}

std::optional<float> SpectrumAnalyzer::findLoudReach(
    AudioDecoder& decoder, AudioBuffer& buffer, AnalysisMetrics& metrics)
{
    LoudReach reach;
    std::vector<float> power(static_cast<std::size_t>(fftSize / 2));
    for (const ExcerptRange& excerpt : loudReachExcerpts(clampedLength(decoder))) {
        const auto decodeStart = Clock::now();
        const auto read = readExcerpt(decoder, buffer, excerpt.position, excerpt.frames);
        metrics.decodeTime += Clock::now() - decodeStart;
        if (!read)
            return std::nullopt;
        const auto fftStart = Clock::now();
        const std::span<const float> samples = judgedChannel(buffer);
        for (std::size_t at = 0; at + fftSize <= samples.size(); at += fftSize / 2) {
            fft_frame_power(m_fftProcessor.processor(), samples.data() + at, power.data());
            reach.addFrame(power, metrics.sampleRate);
        }
        metrics.fftTime += Clock::now() - fftStart;
    }
    return reach.reach();
}

Result<float> SpectrumAnalyzer::quickScreenCutoff(AudioDecoder& decoder)
{
    const std::uint64_t length = clampedLength(decoder);
    if (length < static_cast<std::uint64_t>(fftSize))
        return makeError(AnalyzerError::fileTooShort);
    if (decoder.channelCount() < 1)
        return makeError(AnalyzerError::noAudioData);
    AudioBuffer buffer(decoder.channelCount(), samplesPerSegment);
    const std::uint64_t middle = length / 2;
    const auto frames
        = static_cast<std::size_t>(std::min(length - middle, static_cast<std::uint64_t>(samplesPerSegment)));
    auto read = readExcerpt(decoder, buffer, middle, frames);
    if (!read)
        return read.error();
    return m_fftProcessor.analyzeSegment(judgedChannel(buffer), static_cast<float>(decoder.sampleRate())).cutoff;
}

Result<SpectrumAnalyzer::QuickScreenResult> SpectrumAnalyzer::quickScreen(const std::filesystem::path& path)
{
    auto decoder = openAudioFile(path);
    if (!decoder)
        return decoder.error();
    auto cutoff = quickScreenCutoff(**decoder);
    if (!cutoff)
        return cutoff.error();
    return QuickScreenResult { *cutoff, screen(*cutoff) };
}

std::vector<ExcerptRange> SpectrumAnalyzer::excerpts(std::uint64_t length)
{
    length = std::min(length, kMaxFrames);
    const auto segment = static_cast<std::uint64_t>(samplesPerSegment);
    const std::uint64_t third = length / 3;
    std::vector<ExcerptRange> found;
    for (const std::uint64_t position : { std::uint64_t { 0 }, third, 2 * third }) {
        const std::uint64_t remaining = length - position;
        if (remaining >= static_cast<std::uint64_t>(fftSize))
            found.push_back({ position, static_cast<std::size_t>(std::min(remaining, segment)) });
        if (length < segment * segmentCount)
            break;
    }
    return found;
}

std::vector<ExcerptRange> SpectrumAnalyzer::loudReachExcerpts(std::uint64_t length)
{
    constexpr std::uint64_t kCount = 12;
    length = std::min(length, kMaxFrames);
    const auto segment = static_cast<std::uint64_t>(samplesPerSegment);
    if (length <= segment)
        return {};
    std::vector<ExcerptRange> found;
    for (std::uint64_t i = 0; i < kCount; ++i)
        found.push_back({ (length - segment) * i / (kCount - 1), static_cast<std::size_t>(segment) });
    return found;
}

SpectrumAnalyzer::ScreeningConfidence SpectrumAnalyzer::screen(float cutoff) noexcept
{
    if (cutoff > 19500.0f)
        return ScreeningConfidence::clearPass;
    if (cutoff < 16000.0f)
        return ScreeningConfidence::clearFail;
    return ScreeningConfidence::borderline;
}

std::span<const float> SpectrumAnalyzer::judgedChannel(const AudioBuffer& buffer) noexcept
{
    std::span<const float> chosen = buffer.channel(0);
    if (detectClipping(chosen).peak >= kSilenceLevel)
        return chosen;
    float loudest = kSilenceLevel;
    for (int c = 1; c < buffer.channelCount(); ++c) {
        if (const float peak = detectClipping(buffer.channel(c)).peak; peak >= loudest) {
            loudest = peak;
            chosen = buffer.channel(c);
        }
    }
    return chosen;
}

SpectrumAnalyzer::ClippingCount SpectrumAnalyzer::detectClipping(std::span<const float> samples) noexcept
{
    // Eight independent lanes without branches, so that the compiler can vectorise the loop.
    constexpr std::size_t kLanes = 8;
    // 32-bit lane counters: a lane sees an eighth of the samples, far below 2^32.
    std::array<std::uint32_t, kLanes> clipped {};
    std::array<float, kLanes> peak {};
    const auto visit = [&](std::size_t lane, float sample) {
        const float magnitude = std::fabs(sample);
        clipped[lane] += magnitude >= kClipLevel ? 1u : 0u;
        // NaN and infinity fail this test, so the peak stays finite.
        const float finite = magnitude <= std::numeric_limits<float>::max() ? magnitude : 0.0f;
        peak[lane] = finite > peak[lane] ? finite : peak[lane];
    };
    const std::size_t whole = samples.size() - samples.size() % kLanes;
    for (std::size_t i = 0; i < whole; i += kLanes) {
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            visit(lane, samples[i + lane]);
    }
    for (std::size_t i = whole; i < samples.size(); ++i)
        visit(0, samples[i]);
    ClippingCount count;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        count.clipped += clipped[lane];
        count.peak = std::max(count.peak, peak[lane]);
    }
    return count;
}

} // namespace sondrel::core
