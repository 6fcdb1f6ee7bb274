#include "Mp3Frames.h"

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

namespace sondrel::core {
namespace {

// kbps by [MPEG-1 or not][layer - 1][index]; index 0 (free format) and 15 are refused.
constexpr std::array<std::array<std::array<int, 15>, 3>, 2> kBitrates { {
    { { { 0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448 },
        { 0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384 },
        { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 } } },
    { { { 0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256 },
        { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 },
        { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 } } },
} };
constexpr std::array<int, 3> kMpeg1Rates = { 44100, 48000, 32000 };

// FFmpeg's MP3_MASK: sync, version, layer, sample rate and channel mode must repeat where it
// looks for the first frame; its parser only asks the same of version, layer and sample rate.
constexpr std::uint32_t kFirstFrameMask = 0xFFFE0CCFu;
constexpr std::uint32_t kSameStreamMask = 0xFFFE0C00u;
// How far FFmpeg looks for the first frame behind the tag.
constexpr std::uint64_t kJunkLimit = 64 * 1024;
constexpr std::uint64_t kCheckpoint = 64;
// The walk reads the file in large windows; a look at one place (a spread point, a landing)
// in a small one, a little before the place so that nearby looks share it.
constexpr std::size_t kWalkWindow = 64 * 1024;
constexpr std::size_t kLookWindow = 2048;
constexpr std::uint64_t kLookBehind = 16;
// A constant stream's frame k lies within a byte of first + k × average size; allow a little more.
constexpr std::uint64_t kConstantSlack = 3;
constexpr int kSpreadPoints = 4;
constexpr std::size_t kId3v1Size = 128;

// Where an info frame's tag stands: behind the side information, which MPEG-1 stereo
// streams have most of.
std::size_t infoOffset(const Mp3FrameHeader& header)
{
    const bool mono = header.channelMode == 3;
    if (header.version == 1)
        return mono ? 21 : 36;
    return mono ? 13 : 21;
}

} // namespace

double Mp3FrameHeader::averageSize() const noexcept
{
    return static_cast<double>(samples) * bitrateKbps * 125.0 / sampleRate;
}

std::optional<Mp3FrameHeader> parseMp3FrameHeader(std::span<const std::uint8_t> bytes) noexcept
{
    if (bytes.size() < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0u) != 0xE0u)
        return std::nullopt;
    const unsigned versionBits = (bytes[1] >> 3) & 3u;
    const unsigned layerBits = (bytes[1] >> 1) & 3u;
    const unsigned bitrateIndex = bytes[2] >> 4;
    const unsigned rateIndex = (bytes[2] >> 2) & 3u;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    Mp3FrameHeader header;
    header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 3;
    header.layer = 4 - static_cast<int>(layerBits);
    const bool mpeg1 = header.version == 1;
    header.bitrateKbps = kBitrates[mpeg1 ? 0 : 1][static_cast<std::size_t>(header.layer - 1)][bitrateIndex];
    header.sampleRate = kMpeg1Rates[rateIndex] >> (header.version - 1);
    header.channelMode = bytes[3] >> 6;
    const unsigned padding = (bytes[2] >> 1) & 1u;
    header.samples = header.layer == 1 ? 384 : (header.layer == 3 && !mpeg1) ? 576 : 1152;
    const auto bitsPerSecond = static_cast<std::uint64_t>(header.bitrateKbps) * 1000;
    const auto rate = static_cast<std::uint64_t>(header.sampleRate);
    header.size = header.layer == 1
        ? static_cast<std::uint32_t>((12 * bitsPerSecond / rate + padding) * 4)
        : static_cast<std::uint32_t>(header.samples / 8 * bitsPerSecond / rate + padding);
    header.raw = bigEndian(bytes.first(4));
    return header;
}

std::optional<Mp3InfoFrame> parseMp3InfoFrame(
    std::span<const std::uint8_t> frame, const Mp3FrameHeader& header) noexcept
{
    const auto text = [&](std::size_t at, std::size_t length) {
        return at + length <= frame.size()
            ? std::string_view(reinterpret_cast<const char*>(frame.data() + at), length)
            : std::string_view();
    };
    Mp3InfoFrame info;
    // VBRI (Fraunhofer) stands 32 bytes behind the header whatever the stream.
    if (text(36, 4) == "VBRI" && frame.size() >= 36 + 18) {
        info.bytes = bigEndian(frame.subspan(36 + 10, 4));
        info.frames = bigEndian(frame.subspan(36 + 14, 4));
        return info;
    }
    std::size_t at = infoOffset(header);
    const std::string_view tag = text(at, 4);
    if (tag != "Xing" && tag != "Info")
        return std::nullopt;
    info.constant = tag == "Info";
    if (at + 8 > frame.size())
        return info;
    const std::uint32_t flags = bigEndian(frame.subspan(at + 4, 4));
    at += 8;
    const auto field = [&](std::uint32_t flag, std::size_t length) -> std::span<const std::uint8_t> {
        if ((flags & flag) == 0)
            return {};
        if (at + length > frame.size()) {
            at = frame.size();
            return {};
        }
        const auto bytes = frame.subspan(at, length);
        at += length;
        return bytes;
    };
    if (const auto frames = field(1, 4); !frames.empty())
        info.frames = bigEndian(frames);
    if (const auto bytes = field(2, 4); !bytes.empty())
        info.bytes = bigEndian(bytes);
    (void)field(4, 100); // the seek table: too coarse to place an excerpt
    (void)field(8, 4); // quality
    // The LAME tag: nine characters of version, then method, lowpass (in 100 Hz), ...
    const std::string_view encoder = text(at, 9);
    if ((encoder.starts_with("LAME") || encoder.starts_with("Lavc")) && at + 10 < frame.size()) {
        info.encoder = std::string(encoder.substr(0, encoder.find('\0')));
        info.lowpassHz = frame[at + 10] * 100;
    }
    return info;
}

std::optional<Mp3Frames> Mp3Frames::read(ByteReader reader, std::uint64_t start, std::uint64_t fileSize)
{
    Mp3Frames frames(std::move(reader), fileSize);
    std::uint64_t from = start;
    if (const auto first = frames.headerAt(start)) {
        std::vector<std::uint8_t> bytes(first->size);
        bytes.resize(frames.m_read(start, bytes));
        if (auto info = parseMp3InfoFrame(bytes, *first); info && (info->frames > 0 || info->bytes > 0)) {
            frames.m_info = std::move(info);
            frames.m_infoOffset = start;
            frames.m_header = *first;
            from = start + first->size;
        }
    }
    for (std::uint64_t offset = from; offset < from + kJunkLimit && offset < fileSize; ++offset) {
        const auto header = frames.headerAt(offset);
        if (!header)
            continue;
        const auto next = frames.headerAt(offset + header->size);
        if (next && (next->raw & kFirstFrameMask) == (header->raw & kFirstFrameMask)) {
            frames.m_header = *header;
            frames.m_first = offset;
            frames.m_walkOffset = offset;
            frames.m_checkpoints.push_back(offset);
            return frames;
        }
    }
    return std::nullopt;
}

std::optional<int> statedAverageKbps(const Mp3InfoFrame& info, const Mp3FrameHeader& header) noexcept
{
    if (info.frames == 0 || info.bytes == 0)
        return std::nullopt;
    const double seconds = static_cast<double>(info.frames) * header.samples / header.sampleRate;
    const double kbps = std::round(info.bytes * 8.0 / seconds / 1000.0);
    // Counts that make an average no stream of this version can have are damaged, not a claim.
    const double lowest = header.version == 1 ? 32.0 : 8.0;
    const double highest = header.version == 1 ? 320.0 : 160.0;
    if (!(kbps >= lowest && kbps <= highest))
        return std::nullopt;
    return static_cast<int>(kbps);
}

int Mp3Frames::claimedBitrateKbps() const noexcept
{
    if (m_info && !m_info->constant)
        return statedAverageKbps(*m_info, m_header).value_or(m_header.bitrateKbps);
    return m_header.bitrateKbps;
}

std::optional<Mp3FrameHeader> Mp3Frames::headerAt(std::uint64_t offset, bool walking)
{
    if (offset + 4 > m_fileSize)
        return std::nullopt;
    if (offset < m_windowStart || offset + 4 > m_windowStart + m_window.size()) {
        m_window.resize(walking ? kWalkWindow : kLookWindow);
        m_windowStart = walking ? offset : offset - std::min(offset, kLookBehind);
        m_window.resize(m_read(m_windowStart, m_window));
        if (m_window.size() < 4)
            return std::nullopt;
    }
    if (offset + 4 > m_windowStart + m_window.size())
        return std::nullopt;
    return parseMp3FrameHeader(std::span(m_window).subspan(static_cast<std::size_t>(offset - m_windowStart)));
}

std::uint64_t Mp3Frames::audioEnd()
{
    std::array<std::uint8_t, 3> tag {};
    if (m_fileSize >= kId3v1Size && m_read(m_fileSize - kId3v1Size, tag) == tag.size()
        && std::string_view(reinterpret_cast<const char*>(tag.data()), 3) == "TAG")
        return m_fileSize - kId3v1Size;
    return m_fileSize;
}

bool Mp3Frames::provenConstant()
{
    if (m_constant)
        return *m_constant;
    m_constant = false;
    if (m_info && !m_info->constant)
        return false;
    const double average = m_header.averageSize();
    const std::uint64_t end = audioEnd();
    if (end <= m_first)
        return false;
    auto frames = static_cast<std::uint64_t>(static_cast<double>(end - m_first) / average);
    if (m_info && m_info->bytes > 0) {
        // The stated bytes reach the end of the file, and fit the stated frames.
        const std::uint64_t stated = m_infoOffset + m_info->bytes;
        if (std::max(stated, end) - std::min(stated, end) > m_header.size)
            return false;
        const double perFrame = m_info->bytes / (m_info->frames + 1.0);
        if (m_info->frames > 0 && std::abs(perFrame - average) > 1.0)
            return false;
    }
    if (m_info && m_info->frames > 0)
        frames = std::min<std::uint64_t>(frames, m_info->frames);
    for (int point = 1; point <= kSpreadPoints; ++point) {
        const std::uint64_t index = frames * static_cast<std::uint64_t>(point) / (kSpreadPoints + 1);
        if (!constantOffsetOf(index))
            return false;
    }
    m_constant = true;
    return true;
}

std::optional<std::uint64_t> Mp3Frames::constantOffsetOf(std::uint64_t index)
{
    const auto expected = m_first
        + static_cast<std::uint64_t>(std::llround(static_cast<double>(index) * m_header.averageSize()));
    const auto agrees = [&](std::uint64_t offset) {
        const auto header = headerAt(offset);
        if (!header || header->bitrateKbps != m_header.bitrateKbps || header->sampleRate != m_header.sampleRate
            || header->channelMode != m_header.channelMode || header->layer != m_header.layer)
            return false;
        // Its successor confirms it, unless it is the last frame.
        const auto next = headerAt(offset + header->size);
        return offset + header->size >= m_fileSize || (next && next->bitrateKbps == m_header.bitrateKbps);
    };
    // Nearest first.
    for (std::uint64_t distance = 0; distance <= kConstantSlack; ++distance) {
        if (agrees(expected + distance))
            return expected + distance;
        if (distance > 0 && expected >= m_first + distance && agrees(expected - distance))
            return expected - distance;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> Mp3Frames::offsetOf(std::uint64_t index)
{
    if (index == 0)
        return m_first;
    if (provenConstant()) {
        if (auto offset = constantOffsetOf(index))
            return offset;
    }
    return walkTo(index);
}

std::optional<std::uint64_t> Mp3Frames::countToEnd()
{
    (void)walkTo(std::numeric_limits<std::uint64_t>::max());
    if (m_walkEnded && m_walkOffset == audioEnd())
        return m_walkIndex;
    return std::nullopt;
}

std::optional<std::uint64_t> Mp3Frames::walkTo(std::uint64_t index)
{
    // From the nearest checkpoint at or before the frame, or from where the walk stands.
    const std::uint64_t checkpoint = std::min<std::uint64_t>(index / kCheckpoint, m_checkpoints.size() - 1);
    std::uint64_t at = checkpoint * kCheckpoint;
    std::uint64_t offset = m_checkpoints[checkpoint];
    if (m_walkIndex > at && m_walkIndex <= index) {
        at = m_walkIndex;
        offset = m_walkOffset;
    }
    while (at < index) {
        if (m_walkEnded && at >= m_walkIndex)
            return std::nullopt;
        const auto header = headerAt(offset, true);
        if (!header || (header->raw & kSameStreamMask) != (m_header.raw & kSameStreamMask)) {
            m_walkEnded = true;
            m_walkIndex = at;
            m_walkOffset = offset;
            return std::nullopt;
        }
        offset += header->size;
        ++at;
        if (at > m_walkIndex) {
            ++m_walked;
            m_walkIndex = at;
            m_walkOffset = offset;
            if (at % kCheckpoint == 0 && at / kCheckpoint == m_checkpoints.size())
                m_checkpoints.push_back(offset);
        }
    }
    // The frame itself must be one of the stream's.
    const auto header = headerAt(offset, true);
    if (!header || (header->raw & kSameStreamMask) != (m_header.raw & kSameStreamMask))
        return std::nullopt;
    return offset;
}

} // namespace sondrel::core
