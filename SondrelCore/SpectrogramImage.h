#pragma once

#include "SpectrogramGenerator.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sondrel::core {

// Width x height pixels, 4 bytes each (red, green, blue, alpha), row 0 at the top.
struct RgbaImage {
    int width = 1;
    int height = 1;
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(4, 0);
};

// The colour of a level normalised to 0...1 (values outside are clamped, NaN is black):
// black, dark blue, purple, red, orange, yellow, white.
[[nodiscard]] std::array<std::uint8_t, 3> spectrogramColorRGB(double value) noexcept;

// Renders the grid with time left to right and frequency bottom to top, -120 dB black and
// 0 dB white, nearest cell per pixel. Degenerate sizes or empty data give a blank 1 x 1 image.
[[nodiscard]] RgbaImage createSpectrogramImage(const SpectrogramData& data, int width, int height);

} // namespace sondrel::core
