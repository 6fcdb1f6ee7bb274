#pragma once

#include "Id3Tag.h"
#include "TagResult.h"

#include <cstdint>
#include <vector>

namespace sondrel::tags {

// Builds the bytes of a whole tag (header, frames, 2048 bytes of padding) in the tag's version.
//
// A frame that was read and whose value is unchanged is written with the body it was read with,
// byte for byte (see Id3Frame::readBody). Other texts go in UTF-16 with a byte-order mark, except digits
// (ISO-8859-1) and a picture's description that ISO-8859-1 holds. Modelled frames come first, in the fixed
// order of their kinds: album, album artist, artist, title, genre, track position, the pictures (by picture
// type), the other text frames, beats per minute, disc position, original file name, length, size, the
// comments then the unsynchronised lyrics (each by language), the recording frames, grouping, movement and
// podcast frames. A kind without an identifier in the version, a null entry, a frame of the wrong class for
// its kind and a value frame without its value are skipped. The preserved frames of the same version follow
// byte for byte, in the order they were read, except one whose identifier a modelled frame of a
// kind that a tag holds once (every kind but pictures, comments and lyrics) has just written.
//
// invalidTagData when no frame is written; tagTooBig when the whole tag would reach 2^28 bytes or
// a frame body would not fit its version's size field. The tag size in the header is the
// result's size less 10.
class Id3TagBuilder {
public:
    Id3TagBuilder() = delete;

    static constexpr std::size_t kPaddingSize = 2048;

    [[nodiscard]] static TagResult<std::vector<std::uint8_t>> build(const Id3Tag& tag);
};

} // namespace sondrel::tags
