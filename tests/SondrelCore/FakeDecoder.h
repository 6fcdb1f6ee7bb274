#pragma once

#include "AudioDecoder.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sondrel::test {

// A decoder over a synthetic signal: sample(channel, frame). It can announce more frames
// than it delivers and fail reads, and it records every seek and read.
class FakeDecoder final : public core::AudioDecoder {
public:
    using Signal = std::function<float(int channel, std::uint64_t frame)>;

    FakeDecoder(std::uint64_t length, double sampleRate, int channels, Signal signal)
        : m_length(length)
        , m_delivered(length)
        , m_sampleRate(sampleRate)
        , m_channels(channels)
        , m_signal(std::move(signal))
    {
    }

    // The stream really ends here, whatever the announced length.
    void deliverOnly(std::uint64_t frames) { m_delivered = frames; }
    void failReads(std::string text) { m_readError = std::move(text); }

    double sampleRate() const noexcept override { return m_sampleRate; }
    int channelCount() const noexcept override { return m_channels; }
    std::uint64_t lengthInFrames() const noexcept override { return m_length; }

    sondrel::Status seek(std::uint64_t frame) override
    {
        seeks.push_back(frame);
        m_position = frame;
        return sondrel::Ok {};
    }

    sondrel::Result<std::size_t> read(std::size_t frames, core::AudioBuffer& buffer) override
    {
        if (m_readError)
            return sondrel::Error { *m_readError };
        frames = std::min(frames, buffer.capacity());
        const std::uint64_t available = m_position < m_delivered ? m_delivered - m_position : 0;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(frames, available));
        for (int c = 0; c < std::min(m_channels, buffer.channelCount()); ++c) {
            auto storage = buffer.storage(c);
            for (std::size_t i = 0; i < count; ++i)
                storage[i] = m_signal(c, m_position + i);
        }
        buffer.setFrameLength(count);
        reads.emplace_back(m_position, frames);
        m_position += count;
        return count;
    }

    std::optional<core::EncoderTag> encoderTag() const override { return tag; }

    std::optional<core::EncoderTag> tag;
    std::vector<std::uint64_t> seeks;
    std::vector<std::pair<std::uint64_t, std::size_t>> reads; // (position, frames asked)

private:
    std::uint64_t m_length;
    std::uint64_t m_delivered;
    double m_sampleRate;
    int m_channels;
    Signal m_signal;
    std::uint64_t m_position = 0;
    std::optional<std::string> m_readError;
};

} // namespace sondrel::test
