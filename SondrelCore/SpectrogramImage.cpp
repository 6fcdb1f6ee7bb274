#include "SpectrogramImage.h"

#include <algorithm>
#include <cmath>

namespace sondrel::core {
namespace {

constexpr double kPi = 3.141592653589793;
// Large enough for any on-screen strip or exported picture; beyond it the buffer
// would be gigabytes.
constexpr std::int64_t kMaxPixels = std::int64_t { 1 } << 28;

std::uint8_t toByte(double fraction) noexcept
{
    return static_cast<std::uint8_t>(std::clamp(fraction, 0.0, 1.0) * 255.0 + 0.5);
}

} // namespace

std::array<std::uint8_t, 3> spectrogramColorRGB(double v) noexcept
{
    v = std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
    double red = 1.0;
    if (v < 0.13)
        red = 0.0;
    else if (v < 0.73)
        red = std::sin((v - 0.13) / 0.6 * kPi / 2);
    double green = 1.0;
    if (v < 0.6)
        green = 0.0;
    else if (v < 0.91)
        green = std::sin((v - 0.6) / 0.31 * kPi / 2);
    double blue = 0.0;
    if (v < 0.6)
        blue = std::sin(v / 0.6 * kPi) * 0.5;
    else if (v >= 0.78)
        blue = (v - 0.78) / 0.22;
    return { toByte(red), toByte(green), toByte(blue) };
}

RgbaImage createSpectrogramImage(const SpectrogramData& data, int width, int height)
{
    const std::int64_t slices = data.timeSlices();
    const std::int64_t bins = data.frequencyBins();
    if (width < 1 || height < 1 || slices < 1 || bins < 1 || std::int64_t { width } * height > kMaxPixels)
        return {};
    RgbaImage image { width, height,
        std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4, 0) };
    for (std::int64_t x = 0; x < width; ++x) {
        const auto& row = data.magnitudes[static_cast<std::size_t>(std::min(slices - 1, x * slices / width))];
        for (std::int64_t y = 0; y < height; ++y) {
            const std::int64_t r = height - 1 - y;
            const std::int64_t bin = std::min(bins - 1, r * bins / height);
            // A ragged row (shorter than the first) reads as silence.
            const double level
                = static_cast<std::size_t>(bin) < row.size() ? row[static_cast<std::size_t>(bin)] : -120.0;
            const auto rgb = spectrogramColorRGB((level + 120.0) / 120.0);
            std::uint8_t* pixel = &image.pixels[static_cast<std::size_t>((y * width + x) * 4)];
            pixel[0] = rgb[0];
            pixel[1] = rgb[1];
            pixel[2] = rgb[2];
            pixel[3] = 255;
        }
    }
    return image;
}

} // namespace sondrel::core
