#pragma once

#include "FFTProcessor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace sondrel::core {

// Owns one FFTProcessor; one analysis at a time per object.
class FastFFTProcessor {
public:
    struct SegmentResult {
        float cutoff = 0.0f;
        std::int64_t frameCount = 0;
    };

    // Nothing when fftSize is not a positive power of two that fits in 32 bits.
    [[nodiscard]] static std::optional<FastFFTProcessor> make(std::int64_t fftSize);

    [[nodiscard]] std::int64_t fftSize() const noexcept { return m_fftSize; }
    [[nodiscard]] FFTProcessor* processor() const noexcept { return m_processor.get(); }

    // Segments longer than 2^31 - 1 samples are outside the contract.
    [[nodiscard]] SegmentResult analyzeSegment(std::span<const float> samples, float sampleRate);

    // The averaged power spectrum (fftSize / 2 bins) of the last analysed segment.
    [[nodiscard]] std::span<const float> averagedPower() const noexcept
    {
        return { m_processor->accumulatedSpec, static_cast<std::size_t>(m_processor->halfSize) };
    }

private:
    struct Destroy {
        void operator()(FFTProcessor* p) const noexcept { fft_processor_destroy(p); }
    };

    FastFFTProcessor(FFTProcessor* processor, std::int64_t fftSize)
        : m_processor(processor)
        , m_fftSize(fftSize)
    {
    }

    std::unique_ptr<FFTProcessor, Destroy> m_processor;
    std::int64_t m_fftSize;
};

} // namespace sondrel::core
