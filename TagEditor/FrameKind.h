#pragma once

#include "Id3Version.h"

#include <optional>
#include <string_view>

namespace sondrel::tags {

// The kinds of frame this module models; `invalid` is every identifier outside the table.
enum class FrameKind {
    title,
    artist,
    album,
    albumArtist,
    composer,
    conductor,
    contentGrouping,
    copyright,
    encodedBy,
    encoderSettings,
    fileOwner,
    lyricist,
    mixArtist,
    publisher,
    subtitle,
    attachedPicture,
    genre,
    trackPosition,
    discPosition,
    beatsPerMinute,
    originalFilename,
    lengthInMilliseconds,
    sizeInBytes,
    unsynchronizedLyrics,
    comment,
    recordingDayMonth,
    recordingYear,
    recordingHourMinute,
    recordingDateTime,
    grouping,
    movementName,
    movementIndex,
    movementCount,
    podcastCategory,
    podcastDescription,
    podcastID,
    podcastKeywords,
    invalid,
};

// The identifier of a kind in a version ("TIT2", "TT2"); none where the version has no such frame
// (`sizeInBytes` in 2.4, `recordingDateTime` before 2.4, ...) and for `invalid`.
[[nodiscard]] std::optional<std::string_view> frameIdentifier(FrameKind kind, Id3Version version) noexcept;

// The kind an identifier names in a version; `invalid` when the table does not hold it there.
[[nodiscard]] FrameKind frameKind(std::string_view identifier, Id3Version version) noexcept;

} // namespace sondrel::tags
