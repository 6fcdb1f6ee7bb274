#pragma once

// The FFT segment processor: a plain procedural module over one record.
// Levels follow the packed real-FFT convention the cutoff rules were tuned on:
// the window is 0.8165 (1 - cos(2 pi n / N)), and the power of bin k is |2 X[k]|^2
// for the unnormalised DFT X, with DC and Nyquist sharing bin 0.
//
// A processor holds scratch buffers for one call at a time; calls on different
// processors may run in parallel. No function here throws.

#include <cstdint>

extern "C" {

struct FFTProcessor {
    float* window; // fftSize floats, computed at creation
    float* frameBuffer; // fftSize floats: the current windowed frame
    float* spectrum; // halfSize + 1 interleaved complex values: the transform's output
    float* magnitudes; // halfSize floats: power of the current frame
    float* accumulatedSpec; // halfSize floats: summed, then averaged, power
    const void* fftSetup; // the shared transform plan for fftSize; not owned
    int32_t fftSize;
    int32_t log2n;
    int32_t halfSize;
};

// A new zero-filled processor for frames of fftSize samples, or null when fftSize is
// not a positive power of two (or below 2) or memory cannot be had. Costs microseconds:
// the transform plan of each size is made once per process and shared.
FFTProcessor* fft_processor_create(int32_t fftSize);

// Releases the processor and its buffers; null is ignored.
void fft_processor_destroy(FFTProcessor* processor);

// The spectral cutoff in Hz of a run of mono samples: one of 0, 14000, 15000, 15500,
// 17000, 17500, 19000, 20000, 20500, 24000, 26000, 28000, 32000. Frames of fftSize
// samples with 50 % overlap are averaged. A null processor or sample pointer, or fewer
// than fftSize samples, give 0 and a frame count of 0; a silent 10-12 kHz reference band
// gives 0 with the true frame count. The frame count is written when frameCount is not null.
float fft_analyze_segment(
    FFTProcessor* processor, const float* samples, int32_t count, int32_t* frameCount, float sampleRate);

// Windows fftSize samples and writes the packed power of each of the halfSize bins to power.
void fft_frame_power(FFTProcessor* processor, const float* samples, float* power);

} // extern "C"
