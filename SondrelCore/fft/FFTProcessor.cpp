#include "FFTProcessor.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>
#include <vector>

namespace {

// FFTW's planner is not thread-safe, and planning is slow next to a processor's
// lifetime (one per analysed file), so each size is planned once, under a lock, and the
// plan is executed through the new-array interface on each processor's own buffers.
// Executing a plan is thread-safe. Plans live until the process ends.
class PlanCache {
public:
    struct Entry {
        fftwf_plan plan = nullptr;
        std::vector<float> window;
    };

    ~PlanCache()
    {
        for (auto& [size, entry] : m_entries)
            fftwf_destroy_plan(entry.plan);
    }

    // The plan and window for a size, made on first use; null when FFTW cannot plan it.
    const Entry* entry(int32_t fftSize)
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_entries.find(fftSize); it != m_entries.end())
            return &it->second;
        const auto n = static_cast<size_t>(fftSize);
        auto* in = static_cast<float*>(fftwf_malloc(sizeof(float) * n));
        auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
        Entry entry;
        if (in && out)
            entry.plan = fftwf_plan_dft_r2c_1d(fftSize, in, out, FFTW_ESTIMATE);
        fftwf_free(in);
        fftwf_free(out);
        if (!entry.plan)
            return nullptr;
        entry.window.resize(n);
        const double step = 2.0 * std::numbers::pi / fftSize;
        for (size_t i = 0; i < n; ++i)
            entry.window[i] = static_cast<float>(0.8165 * (1.0 - std::cos(step * static_cast<double>(i))));
        return &m_entries.emplace(fftSize, std::move(entry)).first->second;
    }

private:
    std::mutex m_mutex;
    std::map<int32_t, Entry> m_entries;
};

const PlanCache::Entry* sharedEntry(int32_t fftSize)
{
    static PlanCache cache;
    return cache.entry(fftSize);
}

float* allocateFloats(int32_t count)
{
    const auto bytes = sizeof(float) * static_cast<size_t>(count);
    auto* buffer = static_cast<float*>(fftwf_malloc(bytes));
    if (buffer)
        std::memset(buffer, 0, bytes);
    return buffer;
}

constexpr float kFloorDb = -120.0f;
constexpr float kContentThresholdDb = -30.0f;

struct Band {
    float low;
    float high;
    float cutoff;
};

// Above 48 kHz sampling, checked first. Nothing between 28 and 30 kHz is examined.
constexpr Band kHiResLadder[] = {
    { 30000.0f, 32000.0f, 32000.0f },
    { 26000.0f, 28000.0f, 28000.0f },
    { 24000.0f, 26000.0f, 26000.0f },
    { 22000.0f, 24000.0f, 24000.0f },
};

// The cutoffs are fixed per band; several are the classifier's thresholds exactly.
constexpr Band kStandardLadder[] = {
    { 20000.0f, 21000.0f, 20500.0f },
    { 19000.0f, 20000.0f, 20000.0f },
    { 18000.0f, 19000.0f, 19000.0f },
    { 17000.0f, 18000.0f, 17500.0f },
    { 16000.0f, 17000.0f, 17000.0f },
    { 15000.0f, 16000.0f, 15500.0f },
    { 14000.0f, 15000.0f, 15000.0f },
};
constexpr float kNoBandCutoff = 14000.0f;

struct BandLevel {
    bool empty = true;
    float mean = 0.0f;
    float level = kFloorDb;
};

// The bin of a frequency, truncated toward zero and limited to the examined bins
// (a zero or non-finite sample rate must not turn into an out-of-range conversion).
int32_t binOf(float frequency, float binWidth, int32_t last)
{
    const float bin = frequency / binWidth;
    if (!(bin > 0.0f))
        return 0;
    if (bin >= static_cast<float>(last))
        return last;
    return static_cast<int32_t>(bin);
}

BandLevel bandLevel(const FFTProcessor& p, float binWidth, float low, float high)
{
    const int32_t last = p.halfSize - 1;
    const int32_t start = binOf(low, binWidth, last);
    const int32_t end = binOf(high, binWidth, last);
    BandLevel band;
    if (end - start <= 0)
        return band;
    band.empty = false;
    double sum = 0.0;
    for (int32_t k = start; k < end; ++k)
        sum += p.accumulatedSpec[k];
    band.mean = static_cast<float>(sum / (end - start));
    if (band.mean > 0.0f)
        band.level = std::max(kFloorDb, 10.0f * std::log10(band.mean));
    return band;
}

} // namespace

extern "C" {

FFTProcessor* fft_processor_create(int32_t fftSize)
{
    if (fftSize < 2 || (fftSize & (fftSize - 1)) != 0)
        return nullptr;
    auto* p = static_cast<FFTProcessor*>(std::calloc(1, sizeof(FFTProcessor)));
    if (!p)
        return nullptr;
    p->fftSize = fftSize;
    p->halfSize = fftSize / 2;
    p->log2n = static_cast<int32_t>(std::log2(static_cast<double>(fftSize)));
    p->window = allocateFloats(fftSize);
    p->frameBuffer = allocateFloats(fftSize);
    p->spectrum = allocateFloats(fftSize + 2);
    p->magnitudes = allocateFloats(p->halfSize);
    p->accumulatedSpec = allocateFloats(p->halfSize);
    const PlanCache::Entry* shared = sharedEntry(fftSize);
    if (!p->window || !p->frameBuffer || !p->spectrum || !p->magnitudes || !p->accumulatedSpec || !shared) {
        fft_processor_destroy(p);
        return nullptr;
    }
    p->fftSetup = shared->plan;
    std::memcpy(p->window, shared->window.data(), sizeof(float) * static_cast<size_t>(fftSize));
    return p;
}

void fft_processor_destroy(FFTProcessor* p)
{
    if (!p)
        return;
    fftwf_free(p->window);
    fftwf_free(p->frameBuffer);
    fftwf_free(p->spectrum);
    fftwf_free(p->magnitudes);
    fftwf_free(p->accumulatedSpec);
    std::free(p);
}

void fft_frame_power(FFTProcessor* p, const float* samples, float* power)
{
    const int32_t n = p->fftSize;
    for (int32_t i = 0; i < n; ++i)
        p->frameBuffer[i] = samples[i] * p->window[i];
    auto* spectrum = reinterpret_cast<fftwf_complex*>(p->spectrum);
    fftwf_execute_dft_r2c(static_cast<fftwf_plan>(const_cast<void*>(p->fftSetup)), p->frameBuffer, spectrum);
    // The packed form carries 2 X[k]; DC and Nyquist (both real) share bin 0.
    const float dc = spectrum[0][0];
    const float nyquist = spectrum[p->halfSize][0];
    power[0] = 4.0f * (dc * dc + nyquist * nyquist);
    for (int32_t k = 1; k < p->halfSize; ++k)
        power[k] = 4.0f * (spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1]);
}

float fft_analyze_segment(
    FFTProcessor* p, const float* samples, int32_t count, int32_t* frameCount, float sampleRate)
{
    if (frameCount)
        *frameCount = 0;
    if (!p || !samples || count < p->fftSize)
        return 0.0f;

    const int32_t half = p->halfSize;
    std::memset(p->accumulatedSpec, 0, sizeof(float) * static_cast<size_t>(half));
    int32_t frames = 0;
    for (int64_t position = 0; position + p->fftSize <= count; position += half) {
        fft_frame_power(p, samples + position, p->magnitudes);
        for (int32_t k = 0; k < half; ++k)
            p->accumulatedSpec[k] += p->magnitudes[k];
        ++frames;
    }
    const auto divisor = static_cast<float>(frames);
    for (int32_t k = 0; k < half; ++k)
        p->accumulatedSpec[k] /= divisor;
    if (frameCount)
        *frameCount = frames;

    const float binWidth = sampleRate / static_cast<float>(p->fftSize);
    const BandLevel reference = bandLevel(*p, binWidth, 10000.0f, 12000.0f);
    if (reference.empty || !(reference.mean > 0.0f))
        return 0.0f;

    const auto hasContent = [&](const Band& band) {
        const BandLevel level = bandLevel(*p, binWidth, band.low, band.high);
        return !level.empty && level.level - reference.level > kContentThresholdDb;
    };
    if (sampleRate * 0.5f > 24000.0f) {
        for (const Band& band : kHiResLadder) {
            if (hasContent(band))
                return band.cutoff;
        }
    }
    for (const Band& band : kStandardLadder) {
        if (hasContent(band))
            return band.cutoff;
    }
    return kNoBandCutoff;
}

} // extern "C"
