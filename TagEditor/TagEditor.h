#pragma once

#include "Id3Tag.h"
#include "TagResult.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace sondrel::tags {

// Reads the ID3v2 tag (versions 2.2, 2.3 and 2.4) at the start of an MP3 file into a frame table
// and writes a tag back in front of the file's audio. Holds no state: one instance may serve any
// number of threads. Never throws; allocation failures come back as ENOMEM.
class TagEditor {
public:
    // The file's tag, or none when it does not start with "ID3". Reads the 10-byte header and the
    // tag, never the audio. invalidFileFormat unless the extension is "mp3" in any letter case (the
    // file is not opened); corruptedFile when the file cannot be opened or read, or is shorter than
    // 10 + the size that bytes 6 to 9 announce, read as a synchsafe number whether or not a header
    // is there (so a file without a tag gives corruptedFile or none); corruptedFile with the
    // reason for a tag that cannot be read to its last byte (see Id3TagParser::parse).
    [[nodiscard]] TagResult<std::optional<Id3Tag>> read(const std::filesystem::path& path) const noexcept;
    // The same on the bytes of a whole file, without the extension check.
    [[nodiscard]] TagResult<std::optional<Id3Tag>> read(std::span<const std::uint8_t> mp3) const noexcept;

    // Writes `tag` in place of the file's current tag (in front of all its bytes when it has no
    // recognised tag), into `destination` when given, else into the file itself; on success the
    // tag's `properties.size` is the size written. The bytes after the current tag are copied
    // unchanged. The file is replaced atomically (see AtomicFile), keeping its owner, group,
    // permission bits and extended attributes: a failure at any step leaves the target exactly as
    // it was and no temporary file behind.
    //
    // The tag is written in its own version: modelled frames in their fixed order, then the
    // preserved frames that were read from a tag of that same version. Preserved frames of
    // another version are dropped rather than copied into a layout they were not written for.
    //
    // In place, the file is read and replaced under the lock our rename, move and trash take (see
    // FileLock.h), and the new file takes the name only while the name still holds the file that
    // was read, unchanged; otherwise both stay as they are and the write fails with
    // "The file was moved or changed while it was being tagged".
    //
    // Failures: invalidFileFormat (extension of `path` not "mp3"); corruptedFile when the current
    // tag runs past the end of the file or cannot be read to its last byte (with the reason; see
    // Id3TagParser::parse); invalidTagData and tagTooBig (see Id3TagBuilder); EMLINK, with the
    // reason, for a file with several hard links written in place; otherwise the system's error
    // EACCES, with the reason, for a file in place without any write permission bit, whoever runs
    // us; otherwise the system's error for opening the file (for writing, when in place) or reading
    // it, creating the folder, writing, flushing or renaming the new file, or keeping its owner,
    // group or extended attributes.
    [[nodiscard]] TagStatus write(Id3Tag& tag, const std::filesystem::path& path,
        const std::optional<std::filesystem::path>& destination = std::nullopt) const noexcept;
    // Reads the file's tag and writes back what `change` makes of it, parsing the file once: the
    // tag as read, or a new ID3v2.3 tag when the file has none. Fails as write() does, so a tag
    // that cannot be read is never replaced; `change` is then not called.
    [[nodiscard]] TagStatus update(
        const std::filesystem::path& path, const std::function<void(Id3Tag&)>& change) const noexcept;
    // The same on the bytes of a whole file: the new tag followed by the bytes after the current tag.
    [[nodiscard]] TagResult<std::vector<std::uint8_t>> write(
        Id3Tag& tag, std::span<const std::uint8_t> mp3) const noexcept;
};

} // namespace sondrel::tags
