#pragma once

// Decoded FFmpeg frames to non-interleaved floats, as libswresample converts them. Included
// only by .cpp files that wrap FFmpeg.

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace sondrel::core::ffmpeg {

template <typename T> float toFloat(T value) noexcept
{
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return static_cast<float>(static_cast<int>(value) - 128) / 128.0f;
    else if constexpr (std::is_same_v<T, std::int16_t>)
        return static_cast<float>(value) / 32768.0f;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return static_cast<float>(static_cast<double>(value) / 2147483648.0);
    else if constexpr (std::is_same_v<T, std::int64_t>)
        return static_cast<float>(static_cast<double>(value) / 9223372036854775808.0);
    else
        return static_cast<float>(value);
}

// Fills the first frame.nb_samples values of each channel of `out`; channels the frame lacks
// are silence.
template <typename T>
void convertFrame(const AVFrame& frame, bool planar, std::vector<std::vector<float>>& out)
{
    const int channels = static_cast<int>(out.size());
    const int frameChannels = frame.ch_layout.nb_channels;
    const auto count = static_cast<std::size_t>(frame.nb_samples);
    for (int c = 0; c < channels; ++c) {
        float* target = out[static_cast<std::size_t>(c)].data();
        if (c >= frameChannels) {
            std::fill_n(target, count, 0.0f);
            continue;
        }
        if (planar) {
            const auto* source = reinterpret_cast<const T*>(frame.extended_data[c]);
            for (std::size_t i = 0; i < count; ++i)
                target[i] = toFloat(source[i]);
        } else {
            const auto* source = reinterpret_cast<const T*>(frame.extended_data[0]) + c;
            for (std::size_t i = 0; i < count; ++i)
                target[i] = toFloat(source[i * static_cast<std::size_t>(frameChannels)]);
        }
    }
}

} // namespace sondrel::core::ffmpeg
