#pragma once

#include "Result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sondrel::core {

// Non-interleaved 32-bit float frames, reused across reads. Its capacity is fixed when
// it is made; a read never delivers more frames than that.
class AudioBuffer {
public:
    AudioBuffer(int channels, std::size_t capacity)
        : m_channels(static_cast<std::size_t>(channels > 0 ? channels : 0), std::vector<float>(capacity))
        , m_capacity(capacity)
    {
    }

    [[nodiscard]] int channelCount() const noexcept { return static_cast<int>(m_channels.size()); }
    [[nodiscard]] std::size_t capacity() const noexcept { return m_capacity; }
    [[nodiscard]] std::size_t frameLength() const noexcept { return m_frameLength; }
    void setFrameLength(std::size_t frames) noexcept { m_frameLength = std::min(frames, m_capacity); }

    // The delivered frames of one channel.
    [[nodiscard]] std::span<const float> channel(int index) const
    {
        return { m_channels[static_cast<std::size_t>(index)].data(), m_frameLength };
    }
    // The whole capacity of one channel, for the decoder to fill.
    [[nodiscard]] std::span<float> storage(int index) { return m_channels[static_cast<std::size_t>(index)]; }

private:
    std::vector<std::vector<float>> m_channels;
    std::size_t m_capacity;
    std::size_t m_frameLength = 0;
};

// What an MP3's LAME tag says of the encoder that made the file.
struct EncoderTag {
    std::string encoder; // "LAME3.100"
    std::optional<int> lowpass; // Hz; absent where the tag states none
};

// Reads a file's audio as float frames at its own sample rate.
//
// Call order: open (through a factory such as openAudioFile), then any sequence of
// seek and read. Frame 0 is the first audible frame (encoder delay and padding are
// dropped). Not thread-safe: one decoder serves one caller at a time.
class AudioDecoder {
public:
    virtual ~AudioDecoder() = default;

    [[nodiscard]] virtual double sampleRate() const noexcept = 0;
    [[nodiscard]] virtual int channelCount() const noexcept = 0;
    // The length the container states (PCM, FLAC, MP4, an MP3 with a frame count); where
    // it states none (an MP3 without one, raw AAC), counted from the stream's packets.
    [[nodiscard]] virtual std::uint64_t lengthInFrames() const noexcept = 0;

    // Moves the read position to a frame, sample-accurately.
    [[nodiscard]] virtual Status seek(std::uint64_t frame) = 0;

    // Reads up to `frames` frames (at most the buffer's capacity) into `buffer` from the
    // read position and sets its frame length to what came: fewer at the end of the
    // stream. Channels beyond the buffer's are dropped. A failure carries the decoder's text.
    [[nodiscard]] virtual Result<std::size_t> read(std::size_t frames, AudioBuffer& buffer) = 0;

    // The LAME tag of an MP3 stream; none for other streams and MP3s without one.
    [[nodiscard]] virtual std::optional<EncoderTag> encoderTag() const { return std::nullopt; }
};

// Opens a file with FFmpeg (or takes the decoder a read-ahead opened on it). A leading ID3v2
// tag is skipped, never read. Errors carry FFmpeg's or the system's text, or name the damage
// ("The file is damaged: ..."); what is not a regular file is refused without blocking, and a
// file that holds no audio where audio should be ends in an error after a few MB read, not a
// read to its end.
[[nodiscard]] Result<std::unique_ptr<AudioDecoder>> openAudioFile(const std::filesystem::path& path);

// Reads, without decoding, what seeking to each excerpt's position and reading its
// frames would read, so that the page cache holds it when the file is decoded. `excerpts`
// gets the file's length in frames. Every failure just ends the read-ahead. The decoder it
// opened is kept for the next openAudioFile of the same path (see ReadAheadHandoff).
struct ExcerptRange {
    std::uint64_t position = 0;
    std::size_t frames = 0;
};
void readAhead(const std::filesystem::path& path,
    const std::function<std::vector<ExcerptRange>(std::uint64_t length)>& excerpts) noexcept;

} // namespace sondrel::core
