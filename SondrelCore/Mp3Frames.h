#pragma once

#include "ByteReader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The frames of an MPEG audio stream (MP3), found by reading their 4-byte headers without
// decoding: where frame k starts, so that a seek can land on it exactly, and what the
// Xing/Info/VBRI frame at the start of the stream states.

namespace sondrel::core {

struct Mp3FrameHeader {
    int version = 1; // 1: MPEG-1, 2: MPEG-2, 3: MPEG-2.5
    int layer = 3;
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channelMode = 0; // 3: mono
    std::uint32_t size = 0; // bytes, header included
    std::uint32_t samples = 0; // sample frames the frame decodes to
    std::uint32_t raw = 0; // the four header bytes, big-endian

    // Bytes per frame of a constant bitrate, padding spread over the frames.
    [[nodiscard]] double averageSize() const noexcept;
};

// The header at the start of `bytes`. Free-format and reserved values are refused, as
// FFmpeg refuses them.
[[nodiscard]] std::optional<Mp3FrameHeader> parseMp3FrameHeader(std::span<const std::uint8_t> bytes) noexcept;

// What a Xing, Info or VBRI frame states. FFmpeg counts such a frame as no audio only when it
// states a frame or byte count.
struct Mp3InfoFrame {
    bool constant = false; // "Info": the encoder wrote a constant bitrate
    std::uint32_t frames = 0; // audio frames after this one; 0: not stated
    std::uint32_t bytes = 0; // stream bytes, this frame included; 0: not stated
    std::string encoder; // the LAME tag's version text ("LAME3.100"); empty without one
    int lowpassHz = 0; // the LAME tag's lowpass; 0: not stated
};

// The info frame in `frame` (a whole first frame whose header is `header`), if there is one.
[[nodiscard]] std::optional<Mp3InfoFrame> parseMp3InfoFrame(
    std::span<const std::uint8_t> frame, const Mp3FrameHeader& header) noexcept;

// A Xing or VBRI frame's average: bytes × 8 over the stated frames' duration, to the nearest
// kbps; none where either count is missing or the average is outside the version's bitrates
// (32-320 kbps for MPEG-1, 8-160 for MPEG-2 and 2.5).
[[nodiscard]] std::optional<int> statedAverageKbps(const Mp3InfoFrame& info, const Mp3FrameHeader& header) noexcept;

class Mp3Frames {
public:
    // The stream behind a leading tag that ends at `start`, found as FFmpeg finds it: an info
    // frame only right at `start`, then the first header (within 64 KiB) that the next
    // frame's header confirms. None without one.
    [[nodiscard]] static std::optional<Mp3Frames> read(ByteReader reader, std::uint64_t start, std::uint64_t fileSize);

    [[nodiscard]] const Mp3FrameHeader& header() const noexcept { return m_header; }
    [[nodiscard]] const std::optional<Mp3InfoFrame>& info() const noexcept { return m_info; }
    [[nodiscard]] std::uint64_t firstAudioFrame() const noexcept { return m_first; }

    // The average bitrate the file claims: a Xing or VBRI frame's bytes × 8 over its duration,
    // to the nearest kbps; otherwise (an Info frame, or none) the first header's.
    [[nodiscard]] int claimedBitrateKbps() const noexcept;

    // Byte offset of audio frame `index` (0: the first audio frame). Through arithmetic where
    // the stream is proven constant and the header found there agrees, else by walking every
    // header before it. None when the walk meets, first, a byte that starts no frame of this
    // stream (damage, a tag, the end).
    [[nodiscard]] std::optional<std::uint64_t> offsetOf(std::uint64_t index);

    // The stream's bytes per frame are constant: no Xing or VBRI frame, an Info frame's counts
    // (where stated) match the file, and headers at spread points agree in bitrate, sample rate
    // and channel mode with the first.
    [[nodiscard]] bool provenConstant();

    // The number of audio frames, when the walk from the first runs cleanly to the end of the
    // stream's bytes (the end of the file, or an ID3v1 tag); none when it meets anything else.
    [[nodiscard]] std::optional<std::uint64_t> countToEnd();

    // Frames passed over by walking so far (a constant stream walks none).
    [[nodiscard]] std::uint64_t walkedFrames() const noexcept { return m_walked; }

private:
    Mp3Frames(ByteReader reader, std::uint64_t fileSize)
        : m_read(std::move(reader))
        , m_fileSize(fileSize)
    {
    }

    std::optional<Mp3FrameHeader> headerAt(std::uint64_t offset, bool walking = false);
    // A header of the constant stream within a few bytes of where frame `index` should be.
    std::optional<std::uint64_t> constantOffsetOf(std::uint64_t index);
    std::optional<std::uint64_t> walkTo(std::uint64_t index);
    std::uint64_t audioEnd();

    ByteReader m_read;
    std::uint64_t m_fileSize = 0;
    Mp3FrameHeader m_header;
    std::optional<Mp3InfoFrame> m_info;
    std::uint64_t m_infoOffset = 0;
    std::uint64_t m_first = 0;
    std::optional<bool> m_constant;
    // Offsets of every kCheckpoint-th frame walked, and how far the walk has reached.
    std::vector<std::uint64_t> m_checkpoints;
    std::uint64_t m_walkIndex = 0;
    std::uint64_t m_walkOffset = 0;
    bool m_walkEnded = false;
    std::uint64_t m_walked = 0;
    // A window of the file, so that the walk reads it in blocks rather than 4 bytes a time.
    std::vector<std::uint8_t> m_window;
    std::uint64_t m_windowStart = 0;
};

} // namespace sondrel::core
