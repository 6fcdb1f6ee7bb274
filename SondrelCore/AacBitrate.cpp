#include "AacBitrate.h"

#include "ByteOrder.h"
#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <span>
#include <string_view>
#include <vector>

namespace sondrel::core {
namespace {

using Bytes = std::span<const std::uint8_t>;

// A sound track's tables are a few hundred KB for hours of audio; a bigger `moov` is not read.
constexpr std::uint64_t kMaxMovieBox = 32u << 20;
constexpr std::size_t kChunk = 1 << 16;
constexpr std::array<int, 13> kAdtsRates
    = { 96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350 };

std::size_t readAt(int fd, std::span<std::uint8_t> buffer, std::uint64_t offset)
{
    std::error_code error;
    return readFullyAt(fd, buffer, offset, error);
}

std::optional<std::int64_t> kbps(double bits, double seconds)
{
    if (!(seconds > 0) || !(bits > 0))
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(bits / seconds / 1000.0));
}

struct Box {
    std::string_view type;
    Bytes body;
};

// The boxes laid out in `bytes`; a box that runs past the end ends the list.
std::vector<Box> boxesIn(Bytes bytes)
{
    std::vector<Box> boxes;
    while (bytes.size() >= 8) {
        std::uint64_t size = bigEndian<std::uint64_t>(bytes.first(4));
        std::size_t header = 8;
        if (size == 1 && bytes.size() >= 16) {
            size = bigEndian<std::uint64_t>(bytes.subspan(8, 8));
            header = 16;
        } else if (size == 0) {
            size = bytes.size();
        }
        if (size < header || size > bytes.size())
            break;
        boxes.push_back({ std::string_view(reinterpret_cast<const char*>(bytes.data() + 4), 4),
            bytes.subspan(header, static_cast<std::size_t>(size) - header) });
        bytes = bytes.subspan(static_cast<std::size_t>(size));
    }
    return boxes;
}

Bytes child(Bytes parent, std::string_view type)
{
    for (const Box& box : boxesIn(parent)) {
        if (box.type == type)
            return box.body;
    }
    return {};
}

// An MPEG-4 descriptor's tag and length (up to four 7-bit bytes) at the front of `bytes`.
std::optional<std::pair<std::uint8_t, Bytes>> descriptor(Bytes bytes)
{
    if (bytes.empty())
        return std::nullopt;
    std::size_t length = 0;
    std::size_t at = 1;
    for (int i = 0; i < 4 && at < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[at++];
        length = (length << 7) | (byte & 0x7Fu);
        if ((byte & 0x80u) == 0)
            break;
    }
    if (at + length > bytes.size())
        return std::nullopt;
    return std::make_pair(bytes[0], bytes.subspan(at, length));
}

// The average bitrate of the decoder configuration in an `esds` box; 0 when not stated.
std::uint64_t esdsAverage(Bytes esds)
{
    if (esds.size() < 4)
        return 0;
    const auto es = descriptor(esds.subspan(4));
    if (!es || es->first != 0x03 || es->second.size() < 3)
        return 0;
    const std::uint8_t flags = es->second[2];
    std::size_t at = 3;
    if (flags & 0x80u)
        at += 2;
    if ((flags & 0x40u) && at < es->second.size())
        at += 1 + es->second[at];
    if (flags & 0x20u)
        at += 2;
    if (at >= es->second.size())
        return 0;
    const auto config = descriptor(es->second.subspan(at));
    if (!config || config->first != 0x04 || config->second.size() < 13)
        return 0;
    return bigEndian<std::uint64_t>(config->second.subspan(9, 4));
}

std::optional<std::int64_t> soundTrackBitrate(Bytes movie)
{
    for (const Box& box : boxesIn(movie)) {
        if (box.type != "trak")
            continue;
        const Bytes media = child(box.body, "mdia");
        const Bytes handler = child(media, "hdlr");
        if (handler.size() < 12 || std::string_view(reinterpret_cast<const char*>(handler.data() + 8), 4) != "soun")
            continue;
        const Bytes header = child(media, "mdhd");
        const bool wide = !header.empty() && header[0] == 1;
        if (header.size() < (wide ? 32u : 24u))
            continue;
        const auto scale = static_cast<double>(bigEndian<std::uint64_t>(header.subspan(wide ? 20 : 12, 4)));
        const auto duration
            = static_cast<double>(bigEndian<std::uint64_t>(header.subspan(wide ? 24 : 16, wide ? 8 : 4)));
        const double seconds = scale > 0 ? duration / scale : 0;
        const Bytes table = child(child(media, "minf"), "stbl");
        // stsd: version and flags, a count, then the sample entry: 8 bytes of box header and
        // 28 of audio fields before its own boxes.
        const Bytes entries = child(table, "stsd");
        if (entries.size() > 8) {
            const auto entry = boxesIn(entries.subspan(8));
            if (!entry.empty() && entry.front().body.size() > 28) {
                if (const std::uint64_t average = esdsAverage(child(entry.front().body.subspan(28), "esds")))
                    return kbps(static_cast<double>(average), 1.0);
            }
        }
        const Bytes sizes = child(table, "stsz");
        if (sizes.size() < 12)
            continue;
        const std::uint64_t fixed = bigEndian<std::uint64_t>(sizes.subspan(4, 4));
        const std::uint64_t count = bigEndian<std::uint64_t>(sizes.subspan(8, 4));
        double bytes = static_cast<double>(fixed * count);
        if (fixed == 0) {
            const std::uint64_t listed = std::min<std::uint64_t>(count, (sizes.size() - 12) / 4);
            for (std::uint64_t i = 0; i < listed; ++i)
                bytes += static_cast<double>(bigEndian<std::uint64_t>(sizes.subspan(12 + 4 * i, 4)));
        }
        return kbps(bytes * 8, seconds);
    }
    return std::nullopt;
}

std::optional<std::int64_t> mp4Bitrate(int fd, std::uint64_t fileSize)
{
    std::array<std::uint8_t, 16> header {};
    for (std::uint64_t offset = 0; offset + 8 <= fileSize;) {
        if (readAt(fd, header, offset) < 8)
            return std::nullopt;
        std::uint64_t size = bigEndian<std::uint64_t>(Bytes(header).first(4));
        std::uint64_t headerSize = 8;
        if (size == 1) {
            size = bigEndian<std::uint64_t>(Bytes(header).subspan(8, 8));
            headerSize = 16;
        } else if (size == 0) {
            size = fileSize - offset;
        }
        if (size < headerSize || size > fileSize - offset)
            return std::nullopt;
        if (std::string_view(reinterpret_cast<const char*>(header.data() + 4), 4) == "moov") {
            if (size > kMaxMovieBox)
                return std::nullopt;
            std::vector<std::uint8_t> movie(static_cast<std::size_t>(size - headerSize));
            movie.resize(readAt(fd, movie, offset + headerSize));
            return soundTrackBitrate(movie);
        }
        offset += size;
    }
    return std::nullopt;
}

std::optional<std::int64_t> adtsBitrate(int fd, std::uint64_t fileSize)
{
    std::vector<std::uint8_t> chunk(kChunk);
    double bytes = 0;
    double seconds = 0;
    std::uint64_t offset = 0;
    std::array<std::uint8_t, 10> tag {};
    // A leading ID3v2 tag, as some taggers put in front of raw AAC.
    if (readAt(fd, tag, 0) == tag.size() && tag[0] == 'I' && tag[1] == 'D' && tag[2] == '3') {
        for (int i = 6; i < 10; ++i)
            offset = (offset << 7) | (tag[static_cast<std::size_t>(i)] & 0x7Fu);
        offset += 10;
    }
    while (offset + 7 <= fileSize) {
        const std::size_t got = readAt(fd, std::span(chunk).first(7), offset);
        if (got < 7 || chunk[0] != 0xFF || (chunk[1] & 0xF6u) != 0xF0u)
            break;
        const std::size_t rateIndex = (chunk[2] >> 2) & 0x0Fu;
        const std::uint64_t length = ((chunk[3] & 0x03u) << 11) | (chunk[4] << 3) | (chunk[5] >> 5);
        if (rateIndex >= kAdtsRates.size() || length < 7)
            break;
        bytes += static_cast<double>(length);
        seconds += 1024.0 * ((chunk[6] & 0x03u) + 1) / kAdtsRates[rateIndex];
        offset += length;
    }
    return kbps(bytes * 8, seconds);
}

} // namespace

std::optional<std::int64_t> claimedAacBitrate(const std::filesystem::path& path) noexcept
{
    try {
        const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat status { };
        if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
            return std::nullopt;
        const auto size = static_cast<std::uint64_t>(status.st_size);
        std::string extension = path.extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return extension == ".aac" ? adtsBitrate(file.get(), size) : mp4Bitrate(file.get(), size);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace sondrel::core
