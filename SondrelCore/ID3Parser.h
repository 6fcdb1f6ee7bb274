#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace sondrel::core {

// Reads the title, artist, album and claimed bitrate of an MP3 file from its ID3v2 tag
// (versions 2.2, 2.3 and 2.4) and the MPEG audio frame header right behind the tag, without
// decoding audio. Stateless and thread-safe: no instances, no shared state.
//
// Frame sizes are plain 32-bit numbers in version 2.3 tags and synchsafe in version 2.4 tags.
// Reads at most 10 + 262144 bytes and one audio frame of an MP3. Not handled: extended headers,
// unsynchronisation, footers, ID3v1 tags, a search for a frame sync after the tag. A VBR file
// claims the average its Xing or VBRI frame states; an M4A or AAC file only a bitrate, its
// stated average (see claimedAacBitrate).
class ID3Parser {
public:
    ID3Parser() = delete;

    // A plain value; texts are UTF-8.
    struct Metadata {
        std::optional<std::string> title;
        std::optional<std::string> artist;
        std::optional<std::string> album;
        std::optional<std::int64_t> bitrate; // kbps, as claimed by the file

        static const Metadata empty;

        bool operator==(const Metadata&) const = default;
    };

    // Never fails and never throws. A path whose extension is not "mp3", "m4a" or "aac" (in any
    // case) gives `Metadata::empty` without the file being opened; so does a file that cannot be opened or is
    // not a regular file. A tag body that is empty or cannot be read gives no fields at all; a
    // damaged frame list gives the fields found before the damage. Without a usable audio frame
    // header right behind the tag, the bitrate is a coarse guess from the file size.
    [[nodiscard]] static Metadata parse(const std::filesystem::path& url) noexcept;
    // The same for a regular file already open for reading, whatever its name; for callers that
    // have opened and examined the file themselves. Reads through pread() only.
    [[nodiscard]] static Metadata parseOpenFile(int descriptor) noexcept;
};

inline const ID3Parser::Metadata ID3Parser::Metadata::empty {};

} // namespace sondrel::core
