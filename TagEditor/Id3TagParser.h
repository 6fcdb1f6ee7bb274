#pragma once

#include "Id3Tag.h"
#include "TagResult.h"

#include <cstdint>
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
        std::uint32_t size = 0; // bytes after the 10-byte header
        std::uint8_t flags = 0; // byte 5

        [[nodiscard]] std::uint64_t tagLength() const noexcept { return 10 + std::uint64_t { size }; }
    };

    // The header at the start of `head` when it is one this module recognises ("ID3", version
    // byte 2, 3 or 4, revision 0x00); none otherwise, however long the source. corruptedFile when
    // it is recognised but `head` is shorter than 10 bytes or the source, `available` bytes
    // long, is shorter than the tag it announces.
    [[nodiscard]] static TagResult<std::optional<Header>> header(
        std::span<const std::uint8_t> head, std::uint64_t available);

    // The tag at the start of `bytes`: none without a recognised header, corruptedFile when the
    // bytes are fewer than the tag announces. The header's flags are not examined. Frames whose
    // identifier has no kind in the tag's version, whose content does not parse into their kind's
    // value, or that are compressed, encrypted, grouped or unsynchronised on their own, go to
    // `preservedFrames` as they stand (when their identifier is well formed: A-Z and 0-9 only).
    [[nodiscard]] static TagResult<std::optional<Id3Tag>> parse(std::span<const std::uint8_t> bytes);

    // Whether the frame walk reads this tag as it was written: not when the whole tag is
    // unsynchronised, has an extended header, or (in version 2.2) is compressed.
    [[nodiscard]] static bool frameWalkIsFaithful(const Header& header) noexcept;
};

} // namespace sondrel::tags
