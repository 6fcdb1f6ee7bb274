#pragma once

#include <cstddef>

namespace sondrel::tags {

// The picture types of attached pictures, numbered 0 to 20 as the ID3v2 standard numbers them.
enum class PictureType {
    other,
    fileIcon,
    otherFileIcon,
    frontCover,
    backCover,
    leafletPage,
    media,
    leadArtist,
    artist,
    conductor,
    band,
    composer,
    lyricist,
    recordingLocation,
    duringRecording,
    duringPerformance,
    movieScreenCapture,
    brightColouredFish,
    illustration,
    bandArtistLogotype,
    publisherStudioLogotype,
};

inline constexpr std::size_t kPictureTypeCount = 21;

} // namespace sondrel::tags
