#pragma once

#include "Id3Frame.h"
#include "PictureType.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sondrel::tags {

enum class PictureFormat { jpeg, png };

// An attached picture. `mimeType` is the media type ("image/jpeg"; in version 2.2 the three-letter
// image format, "JPG") as read; when empty, the one of `format` is written.
struct PictureFrame : Id3Frame {
    PictureFrame() = default;
    PictureFrame(std::vector<std::uint8_t> bytes, PictureType pictureType, PictureFormat pictureFormat,
        std::string pictureDescription = {}, std::string pictureMimeType = {})
        : picture(std::move(bytes))
        , type(pictureType)
        , format(pictureFormat)
        , description(std::move(pictureDescription))
        , mimeType(std::move(pictureMimeType))
    {
    }

    std::vector<std::uint8_t> picture;
    PictureType type = PictureType::other;
    PictureFormat format = PictureFormat::jpeg;
    std::string description; // UTF-8
    std::string mimeType; // ISO-8859-1 as read
};

} // namespace sondrel::tags
