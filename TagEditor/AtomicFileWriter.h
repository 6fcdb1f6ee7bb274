#pragma once

#include "FileDescriptor.h"
#include "TagResult.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

#include <sys/types.h>

namespace sondrel::tags {

// Replaces a file's content without ever leaving it half written: the new content goes into an
// unnamed file in the target's folder (O_TMPFILE; a hidden named one where the file system has
// none), which is flushed to disk, given the owner, group, permission bits and extended attributes
// of the file it replaces, linked into the folder and renamed over the target. Until commit()
// succeeds the target is untouched, and a process killed before it leaves nothing behind (but for
// the instant between the link and the rename); a writer destroyed before that removes its file.
// A target that is a symbolic link is resolved, so the link keeps pointing at the rewritten file.
class AtomicFileWriter {
public:
    struct Attributes {
        mode_t mode = 0644;
        uid_t owner = 0;
        gid_t group = 0;
    };

    // Creates the new file, and first the target's folder with its missing parents when it is not
    // a folder yet. `fallback` serves when the target does not exist yet.
    [[nodiscard]] static TagResult<AtomicFileWriter> create(
        const std::filesystem::path& target, const Attributes& fallback) noexcept;

    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&&) = delete;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

    [[nodiscard]] std::error_code append(std::span<const std::uint8_t> bytes) noexcept;
    // Appends the source's bytes from `offset` to its end.
    [[nodiscard]] std::error_code appendFrom(const FileDescriptor& source, std::uint64_t offset) noexcept;
    // Gives the new file every extended attribute of `source` (ACLs and user attributes alike).
    // Fails, with the reason, when one cannot be set.
    [[nodiscard]] TagStatus copyExtendedAttributes(const FileDescriptor& source) noexcept;
    // Sets owner, group and permission bits, flushes, and puts the new file in place of the target.
    // Fails, with the reason, when the owner or group cannot be kept (a file of another user).
    [[nodiscard]] TagStatus commit() noexcept;

private:
    AtomicFileWriter(std::filesystem::path target, std::filesystem::path temporary, FileDescriptor file,
        const Attributes& attributes) noexcept;

    std::filesystem::path m_target;
    std::filesystem::path m_temporary; // the named fallback until renamed; empty for an unnamed file
    FileDescriptor m_file;
    Attributes m_attributes;
};

} // namespace sondrel::tags
