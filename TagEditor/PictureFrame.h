#pragma once

#include "Id3Frame.h"
#include "PictureType.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace sondrel::tags {

enum class PictureFormat { jpeg, png };

// An attached JPEG (JFIF) or PNG picture; the picture bytes start with the format's signature.
// The media-type text and the description of a read frame are not kept.
struct PictureFrame : Id3Frame {
    PictureFrame() = default;
    PictureFrame(std::vector<std::uint8_t> bytes, PictureType pictureType, PictureFormat pictureFormat)
        : picture(std::move(bytes))
        , type(pictureType)
        , format(pictureFormat)
    {
    }

    std::vector<std::uint8_t> picture;
    PictureType type = PictureType::other;
    PictureFormat format = PictureFormat::jpeg;
};

} // namespace sondrel::tags
