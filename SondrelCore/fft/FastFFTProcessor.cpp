#include "FastFFTProcessor.h"

#include <limits>

namespace sondrel::core {

std::optional<FastFFTProcessor> FastFFTProcessor::make(std::int64_t fftSize)
{
    if (fftSize < 1 || fftSize > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    FFTProcessor* processor = fft_processor_create(static_cast<int32_t>(fftSize));
    if (!processor)
        return std::nullopt;
    return FastFFTProcessor(processor, fftSize);
}

FastFFTProcessor::SegmentResult FastFFTProcessor::analyzeSegment(
    std::span<const float> samples, float sampleRate)
{
    int32_t frames = 0;
    const float cutoff = fft_analyze_segment(m_processor.get(), samples.empty() ? nullptr : samples.data(),
        static_cast<int32_t>(samples.size()), &frames, sampleRate);
    return { cutoff, frames };
}

} // namespace sondrel::core
