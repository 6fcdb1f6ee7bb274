#pragma once

#include "FrameKind.h"
#include "Id3Tag.h"
#include "TagResult.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace sondrel::tags {

// Parses tag bytes into an Id3Tag. Never reads outside the bytes given and never stops early in
// an uncontrolled way: a frame that runs past the tag's end ends the walk.
class Id3TagParser {
public:
    Id3TagParser() = delete;

    struct Header {
        Id3Version version = Id3Version::version3;
        std::uint32_t size = 0; // bytes after the 10-byte header, the footer excluded
        std::uint8_t flags = 0; // byte 5
        bool footer = false; // version 2.4: a 10-byte footer follows the tag

        // Header, frames, padding and footer.
        [[nodiscard]] std::uint64_t tagLength() const noexcept
        {
            return 10 + std::uint64_t { size } + (footer ? 10 : 0);
        }
    };

    // The header at the start of `head`: none unless it starts with "ID3". corruptedFile when
    // `head` is shorter than 10 bytes, or the source, `available` bytes long, is shorter than the
    // tag it announces; corruptedFile with the reason when the version is not 2, 3 or 4 or the
    // size is not synchsafe. The revision byte is not examined.
    [[nodiscard]] static TagResult<std::optional<Header>> header(
        std::span<const std::uint8_t> head, std::uint64_t available);

    // The tag at the start of `bytes`: none without an "ID3" header. Refuses (corruptedFile, with
    // the reason as description) whatever it cannot read to its last byte: see header(), and
    // checkFaithful(), a version 2.4 footer that does not match the header, a frame that runs past
    // the tag's end or bytes other than padding after the frames, two frames of a kind a tag holds
    // once, two comments, lyrics or pictures of the same language or type and description.
    // Version 2.4 frame sizes written as plain numbers (iTunes) are recognised. Frames whose
    // identifier has no kind in the tag's version, whose content does not parse into their kind's
    // value, or that carry flags go to `preservedFrames` as they stand.
    [[nodiscard]] static TagResult<std::optional<Id3Tag>> parse(std::span<const std::uint8_t> bytes);

    // The value of a frame of `kind` whose body (after the frame header) is `body`; none when the
    // body does not parse into the kind's value.
    [[nodiscard]] static std::shared_ptr<const Id3Frame> parseBody(
        FrameKind kind, std::span<const std::uint8_t> body, Id3Version version);

    // Refuses, with the reason, a tag the frame walk cannot read as it was written: one
    // unsynchronised as a whole, with an extended header, or (in version 2.2) compressed.
    [[nodiscard]] static TagStatus checkFaithful(const Header& header);
};

} // namespace sondrel::tags
