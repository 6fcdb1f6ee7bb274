#include "FlacFrames.h"

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <vector>

namespace sondrel::core {
namespace {

// A file cannot hold more metadata blocks than this before its audio.
constexpr int kMaxMetadataBlocks = 4096;
constexpr std::size_t kMaxHeaderSize = 16;
constexpr std::uint64_t kMinWindow = 8192;
constexpr std::uint64_t kMaxWindow = 1u << 20;

std::uint8_t crc8(std::span<const std::uint8_t> bytes)
{
    std::uint8_t crc = 0;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80u) ? (crc << 1) ^ 0x07u : crc << 1);
    }
    return crc;
}

// A window holds at least two whole frames wherever it starts: one to find, one to confirm it.
std::uint64_t windowSize(const FlacStreamInfo& stream)
{
    const std::uint64_t frame = stream.maxFrameSize > 0
        ? stream.maxFrameSize
        : std::uint64_t { stream.maxBlockSize } * stream.channels * ((stream.bitsPerSample + 7) / 8) + 64;
    return std::clamp<std::uint64_t>(3 * frame + kMaxHeaderSize, kMinWindow, kMaxWindow);
}

// The first frame in [from, from + window) that the next frame confirms (or that ends the
// stream): a header's CRC alone lets one false sync in a few thousand windows through.
std::optional<FlacFramePosition> firstConfirmedFrame(
    const ByteReader& read, const FlacStreamInfo& stream, bool variable, std::uint64_t from, std::uint64_t window)
{
    std::vector<std::uint8_t> bytes(window);
    bytes.resize(read(from, bytes));
    struct Found {
        std::uint64_t offset;
        FlacFrameHeader header;
    };
    std::vector<Found> headers;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] != 0xFF || (bytes[i + 1] & 0xFEu) != 0xF8u)
            continue;
        const auto header = parseFlacFrameHeader(std::span(bytes).subspan(i), stream);
        if (header && header->variableBlockSize == variable)
            headers.push_back({ from + i, *header });
    }
    for (const Found& candidate : headers) {
        const std::uint64_t next = candidate.header.sample + candidate.header.blockSize;
        if (next == stream.totalSamples)
            return FlacFramePosition { candidate.offset, candidate.header.sample };
        const bool confirmed = std::any_of(headers.begin(), headers.end(),
            [&](const Found& other) { return other.offset > candidate.offset && other.header.sample == next; });
        if (confirmed)
            return FlacFramePosition { candidate.offset, candidate.header.sample };
    }
    return std::nullopt;
}

} // namespace

std::optional<FlacStreamInfo> readFlacStreamInfo(const ByteReader& read, std::uint64_t start, std::uint64_t fileSize)
{
    std::array<std::uint8_t, 4 + 4 + 34> head {};
    if (read(start, head) != head.size() || bigEndian(std::span(head).first(4)) != 0x664C6143u /* fLaC */)
        return std::nullopt;
    // The first block is STREAMINFO, 34 bytes.
    if ((head[4] & 0x7Fu) != 0 || bigEndian(std::span(head).subspan(5, 3)) != 34)
        return std::nullopt;
    const std::span<const std::uint8_t> info = std::span(head).subspan(8);
    FlacStreamInfo stream;
    stream.minBlockSize = bigEndian(info.subspan(0, 2));
    stream.maxBlockSize = bigEndian(info.subspan(2, 2));
    stream.maxFrameSize = bigEndian(info.subspan(7, 3));
    const std::uint32_t packed = bigEndian(info.subspan(10, 4));
    stream.sampleRate = packed >> 12;
    stream.channels = ((packed >> 9) & 0x7u) + 1;
    stream.bitsPerSample = ((packed >> 4) & 0x1Fu) + 1;
    stream.totalSamples = (std::uint64_t { packed & 0xFu } << 32) | bigEndian(info.subspan(14, 4));
    if (stream.minBlockSize < 16 || stream.maxBlockSize < stream.minBlockSize || stream.sampleRate == 0)
        return std::nullopt;

    bool last = (head[4] & 0x80u) != 0;
    std::uint64_t offset = start + 4 + 4 + 34;
    for (int blocks = 1; !last; ++blocks) {
        std::array<std::uint8_t, 4> block {};
        if (blocks > kMaxMetadataBlocks || read(offset, block) != block.size())
            return std::nullopt;
        last = (block[0] & 0x80u) != 0;
        offset += 4 + bigEndian(std::span(block).subspan(1));
        if (offset >= fileSize)
            return std::nullopt;
    }
    stream.firstFrame = offset;
    return stream;
}

std::optional<FlacFrameHeader> parseFlacFrameHeader(std::span<const std::uint8_t> bytes, const FlacStreamInfo& stream)
{
    if (bytes.size() < 6 || bytes[0] != 0xFF || (bytes[1] & 0xFEu) != 0xF8u)
        return std::nullopt;
    FlacFrameHeader header;
    header.variableBlockSize = (bytes[1] & 0x01u) != 0;
    const unsigned blockCode = bytes[2] >> 4;
    const unsigned rateCode = bytes[2] & 0x0Fu;
    const unsigned channelCode = bytes[3] >> 4;
    const unsigned depthCode = (bytes[3] >> 1) & 0x07u;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || depthCode == 3 || (bytes[3] & 0x01u) != 0)
        return std::nullopt;
    if ((channelCode < 8 ? channelCode + 1 : 2) != stream.channels)
        return std::nullopt;
    static constexpr std::array<unsigned, 8> depths { 0, 8, 12, 0, 16, 20, 24, 32 };
    if (depthCode != 0 && depths[depthCode] != stream.bitsPerSample)
        return std::nullopt;

    // The frame or sample number, coded as UTF-8 extended to 36 bits.
    std::size_t position = 4;
    const std::uint8_t lead = bytes[position++];
    std::uint64_t number;
    int following;
    if (lead < 0x80u)
        number = lead, following = 0;
    else if ((lead & 0xE0u) == 0xC0u)
        number = lead & 0x1Fu, following = 1;
    else if ((lead & 0xF0u) == 0xE0u)
        number = lead & 0x0Fu, following = 2;
    else if ((lead & 0xF8u) == 0xF0u)
        number = lead & 0x07u, following = 3;
    else if ((lead & 0xFCu) == 0xF8u)
        number = lead & 0x03u, following = 4;
    else if ((lead & 0xFEu) == 0xFCu)
        number = lead & 0x01u, following = 5;
    else if (lead == 0xFEu && header.variableBlockSize)
        number = 0, following = 6;
    else
        return std::nullopt;
    for (int i = 0; i < following; ++i) {
        if (position >= bytes.size() || (bytes[position] & 0xC0u) != 0x80u)
            return std::nullopt;
        number = (number << 6) | (bytes[position++] & 0x3Fu);
    }

    const auto take = [&](std::size_t count) -> std::optional<std::uint32_t> {
        if (position + count > bytes.size())
            return std::nullopt;
        const std::uint32_t value = bigEndian(bytes.subspan(position, count));
        position += count;
        return value;
    };
    if (blockCode == 1)
        header.blockSize = 192;
    else if (blockCode <= 5)
        header.blockSize = 576u << (blockCode - 2);
    else if (blockCode >= 8)
        header.blockSize = 256u << (blockCode - 8);
    else if (const auto coded = take(blockCode == 6 ? 1 : 2))
        header.blockSize = *coded + 1;
    else
        return std::nullopt;
    static constexpr std::array<std::uint32_t, 12> rates { 0, 88200, 176400, 192000, 8000, 16000, 22050, 24000,
        32000, 44100, 48000, 96000 };
    std::uint32_t rate = rateCode < 12 ? rates[rateCode] : 0;
    if (rateCode >= 12) {
        const auto coded = take(rateCode == 12 ? 1 : 2);
        if (!coded)
            return std::nullopt;
        rate = rateCode == 12 ? *coded * 1000 : rateCode == 13 ? *coded : *coded * 10;
    }
    if (rateCode != 0 && rate != stream.sampleRate)
        return std::nullopt;
    if (position >= bytes.size() || crc8(bytes.first(position)) != bytes[position])
        return std::nullopt;

    if (header.blockSize > stream.maxBlockSize)
        return std::nullopt;
    // A fixed-size stream numbers its frames; all but the last hold the stream's block size.
    header.sample = header.variableBlockSize ? number : number * stream.maxBlockSize;
    if (stream.totalSamples > 0 && header.sample >= stream.totalSamples)
        return std::nullopt;
    return header;
}

std::optional<FlacFramePosition> findFlacFrame(
    const ByteReader& read, std::uint64_t fileSize, const FlacStreamInfo& stream, std::uint64_t sample)
{
    if (stream.totalSamples == 0 || sample >= stream.totalSamples || stream.firstFrame >= fileSize)
        return std::nullopt;
    std::array<std::uint8_t, kMaxHeaderSize> head {};
    const auto first
        = parseFlacFrameHeader(std::span(head).first(read(stream.firstFrame, head)), stream);
    if (!first || first->sample != 0)
        return std::nullopt;
    const bool variable = first->variableBlockSize;
    if (!variable && stream.minBlockSize != stream.maxBlockSize)
        return std::nullopt;

    const std::uint64_t window = windowSize(stream);
    // Decoding forward from a frame this close costs less than another look.
    const std::uint64_t closeEnough = 2 * std::uint64_t { stream.maxBlockSize };
    FlacFramePosition low { stream.firstFrame, 0 };
    // The first frame at or after `high` starts at `highSample`, after the sample sought.
    std::uint64_t high = fileSize;
    std::uint64_t highSample = stream.totalSamples;
    while (sample - low.sample >= closeEnough && high - low.offset > window) {
        const double fraction
            = static_cast<double>(sample - low.sample) / static_cast<double>(highSample - low.sample);
        // Aim half a window early, so that the frame found tends to start before the sample.
        const auto guess = static_cast<std::uint64_t>(
            static_cast<double>(low.offset) + fraction * static_cast<double>(high - low.offset));
        const std::uint64_t from = std::clamp(guess > window / 2 ? guess - window / 2 : 0, low.offset + 1, high - 1);
        const auto found = firstConfirmedFrame(read, stream, variable, from, window);
        if (!found || found->offset >= high) {
            high = from; // no frame that can be trusted starts in [from, high)
            continue;
        }
        if (found->sample <= sample)
            low = *found;
        else
            high = found->offset, highSample = found->sample;
    }
    return low;
}

} // namespace sondrel::core
