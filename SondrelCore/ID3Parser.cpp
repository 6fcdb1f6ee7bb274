#include "ID3Parser.h"

#include "AacBitrate.h"
#include "ByteOrder.h"
#include "FileDescriptor.h"
#include "FileName.h"
#include "Mp3Frames.h"
#include "TextDecoding.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::core {

namespace {

using Metadata = ID3Parser::Metadata;
using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t kTagHeaderSize = 10;
// Covers the text frames of any sane tag; big pictures behind them are not worth reading.
constexpr std::size_t kMaxTagBodySize = 262144;
constexpr std::size_t kAudioHeaderSize = 4;

// MPEG-1 Layer III, kbps by the 4-bit bitrate index; 0 = free format or invalid.
constexpr std::array<std::int64_t, 16> kLayer3Bitrates
    = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0 };

// The file-size guess assumes a track of 3.5 minutes; ties go to the lower bitrate.
constexpr double kAssumedSeconds = 210.0;
constexpr std::array<std::int64_t, 4> kGuessedBitrates = { 128, 192, 256, 320 };

// Fills buffer from offset; fewer bytes only at the end of the file, none on an error.
[[nodiscard]] std::optional<std::size_t> readAt(
    int descriptor, std::span<std::uint8_t> buffer, std::int64_t offset) noexcept
{
    if (offset < 0)
        return std::nullopt;
    std::error_code error;
    const std::size_t total = readFullyAt(descriptor, buffer, static_cast<std::uint64_t>(offset), error);
    if (error)
        return std::nullopt;
    return total;
}

// 7 bits per byte. The top bits are deliberately not cleared: a corrupt size stays large and
// fails the bounds checks instead of being wrapped into a plausible one.
[[nodiscard]] std::uint32_t synchsafe(Bytes bytes) noexcept
{
    std::uint32_t value = 0;
    for (const std::uint8_t byte : bytes)
        value = (value << 7) | byte;
    return value;
}

[[nodiscard]] bool isIdentifier(Bytes bytes, std::string_view identifier) noexcept
{
    return std::equal(bytes.begin(), bytes.end(), identifier.begin(), identifier.end(),
        [](std::uint8_t byte, char letter) { return byte == static_cast<std::uint8_t>(letter); });
}

[[nodiscard]] std::optional<std::string> decodeTextFrame(Bytes content)
{
    if (content.empty())
        return std::nullopt;
    const std::uint8_t encoding = content[0];
    const Bytes text = content.subspan(1);

    std::optional<std::string> decoded;
    switch (encoding) {
    case 0:
        decoded = decodeLatin1(text);
        break;
    case 1:
        decoded = decodeUtf16(text, ByteOrderMark::honoured);
        break;
    case 2:
        // UTF-16BE has no mark: leading FF FE or FE FF bytes are characters of the text.
        decoded = decodeUtf16(text, ByteOrderMark::ignored);
        break;
    default: // 3, and unknown encodings are read as UTF-8 too
        decoded = decodeUtf8(text);
        break;
    }
    if (!decoded)
        return std::nullopt;

    // Terminators and padding are NULs; in UTF-8 a NUL byte is always U+0000.
    return std::string(trimNulls(*decoded));
}

struct FrameLayout {
    std::size_t headerSize;
    std::size_t identifierSize; // also the width of the size field
    bool synchsafeSizes;
    std::string_view titleIdentifier;
    std::string_view artistIdentifier;
    std::string_view albumIdentifier;
};

void walkFrames(Bytes data, const FrameLayout& layout, Metadata& fields)
{
    const std::size_t count = data.size();
    if (count <= layout.headerSize)
        return;
    std::size_t position = 0;
    for (;;) {
        // Invariant: position + headerSize < count, so the frame header lies inside data.
        const Bytes identifier = data.subspan(position, layout.identifierSize);
        const Bytes sizeField = data.subspan(position + layout.identifierSize, layout.identifierSize);
        const std::size_t size = layout.synchsafeSizes ? synchsafe(sizeField) : bigEndian(sizeField);
        if (size == 0)
            return; // padding
        const std::size_t contentStart = position + layout.headerSize;
        if (size > count - contentStart)
            return;
        const Bytes content = data.subspan(contentStart, size);

        if (isIdentifier(identifier, layout.titleIdentifier))
            fields.title = decodeTextFrame(content);
        else if (isIdentifier(identifier, layout.artistIdentifier))
            fields.artist = decodeTextFrame(content);
        else if (isIdentifier(identifier, layout.albumIdentifier))
            fields.album = decodeTextFrame(content);
        if (fields.title && fields.artist && fields.album)
            return;

        position = contentStart + size;
        if (count - position <= layout.headerSize)
            return;
    }
}

void parseID3v23Frames(Bytes data, bool synchsafeSizes, Metadata& fields)
{
    walkFrames(data, FrameLayout { 10, 4, synchsafeSizes, "TIT2", "TPE1", "TALB" }, fields);
}

void parseID3v22Frames(Bytes data, Metadata& fields)
{
    walkFrames(data, FrameLayout { 6, 3, false, "TT2", "TP1", "TAL" }, fields);
}

[[nodiscard]] std::optional<std::int64_t> estimateBitrateFromFileSize(int descriptor) noexcept
{
    struct stat status { };
    if (::fstat(descriptor, &status) != 0)
        return std::nullopt;
    const double kilobitsPerSecond = static_cast<double>(status.st_size) * 8.0 / kAssumedSeconds / 1000.0;
    const auto estimate = static_cast<std::int64_t>(kilobitsPerSecond);
    std::int64_t nearest = kGuessedBitrates.front();
    for (const std::int64_t candidate : kGuessedBitrates) {
        if (std::abs(estimate - candidate) < std::abs(estimate - nearest))
            nearest = candidate;
    }
    return nearest;
}

// The average a Xing or VBRI frame at audioOffset states; none for an Info frame (constant
// bitrate) or a plain audio frame.
[[nodiscard]] std::optional<std::int64_t> statedAverage(int descriptor, std::int64_t audioOffset)
{
    std::array<std::uint8_t, kAudioHeaderSize> bytes {};
    if (readAt(descriptor, bytes, audioOffset) != bytes.size())
        return std::nullopt;
    const auto header = parseMp3FrameHeader(bytes);
    if (!header)
        return std::nullopt;
    std::vector<std::uint8_t> frame(header->size);
    const std::optional<std::size_t> count = readAt(descriptor, frame, audioOffset);
    if (!count)
        return std::nullopt;
    frame.resize(*count);
    const auto info = parseMp3InfoFrame(frame, *header);
    if (!info || info->constant)
        return std::nullopt;
    return statedAverageKbps(*info, *header);
}

// The header must stand exactly at audioOffset: no search for a frame sync.
[[nodiscard]] std::optional<std::int64_t> estimateBitrate(int descriptor, std::int64_t audioOffset) noexcept
{
    std::array<std::uint8_t, kAudioHeaderSize> header {};
    const std::optional<std::size_t> count = readAt(descriptor, header, audioOffset);
    if (count && *count == header.size()) {
        const bool frameSync = header[0] == 0xFF && header[1] >= 0xE0;
        const bool mpeg1Layer3 = (header[1] & 0x1E) == 0x1A; // version bits 11, layer bits 01
        if (frameSync && mpeg1Layer3) {
            const std::int64_t kbps = kLayer3Bitrates[header[2] >> 4];
            // A VBR file's first frame is its Xing or VBRI frame, whose own bitrate says
            // nothing: the average it states is the claim.
            if (kbps >= 1)
                return statedAverage(descriptor, audioOffset).value_or(kbps);
        }
    }
    return estimateBitrateFromFileSize(descriptor);
}

// The tag header and the start of the body in one read: enough for the whole tag of most files,
// whose text frames come first.
constexpr std::size_t kFirstReadSize = 8192;

[[nodiscard]] Metadata parseOpenMP3(int descriptor)
{
    Metadata fields;
    std::array<std::uint8_t, kFirstReadSize> first {};
    const std::optional<std::size_t> firstCount = readAt(descriptor, first, 0);
    if (!firstCount || *firstCount < kTagHeaderSize || !isIdentifier(Bytes(first).first(3), "ID3")) {
        fields.bitrate = estimateBitrate(descriptor, 0);
        return fields;
    }

    const Bytes header = Bytes(first).first(kTagHeaderSize);
    const std::uint8_t majorVersion = header[3];
    const std::uint32_t tagSize = synchsafe(header.subspan(6, 4));
    const std::size_t bodySize = std::min<std::size_t>(tagSize, kMaxTagBodySize);
    const auto walk = [&](Bytes data) {
        fields = {};
        if (majorVersion >= 3)
            parseID3v23Frames(data, majorVersion == 4, fields); // 2.4 frame sizes are synchsafe, 2.3 plain
        else if (majorVersion == 2)
            parseID3v22Frames(data, fields);
    };
    const std::size_t firstBody = std::min(bodySize, *firstCount - kTagHeaderSize);
    if (firstBody == 0)
        return Metadata::empty;
    walk(Bytes(first).subspan(kTagHeaderSize, firstBody));
    // The rest of the body only when the walk may have stopped for want of it.
    if (firstBody < bodySize && !(fields.title && fields.artist && fields.album)) {
        std::vector<std::uint8_t> body(bodySize);
        const std::optional<std::size_t> bodyCount = readAt(descriptor, body, kTagHeaderSize);
        if (!bodyCount || *bodyCount == 0)
            return Metadata::empty;
        walk(Bytes(body).first(*bodyCount));
    }

    // Behind the tag as declared, even when the body read was capped.
    fields.bitrate = estimateBitrate(descriptor, std::int64_t { tagSize } + std::int64_t { kTagHeaderSize });
    return fields;
}

} // namespace

Metadata ID3Parser::parse(const std::filesystem::path& url) noexcept
{
    try {
        if (!hasMp3Extension(url)) {
            // AAC carries no ID3 tag to read, only its claimed bitrate.
            std::string extension = url.extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (extension == ".m4a" || extension == ".aac")
                return Metadata { {}, {}, {}, claimedAacBitrate(url) };
            return Metadata::empty;
        }
    } catch (...) {
        return Metadata {};
    }
    // O_NONBLOCK keeps a FIFO named *.mp3 from blocking the open; regular files ignore it.
    const FileDescriptor file(::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid())
        return Metadata::empty;
    struct stat status { };
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return Metadata::empty;
    return parseOpenFile(file.get());
}

Metadata ID3Parser::parseOpenFile(int descriptor) noexcept
{
    try {
        return parseOpenMP3(descriptor);
    } catch (...) {
        // Only allocation can throw here; a reader that reports nothing returns nothing.
        return Metadata {};
    }
}

} // namespace sondrel::core
