#pragma once

#include "FileDescriptor.h"
#include "TagResult.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

#include <sys/types.h>

namespace sondrel::tags {

// Replaces a file's content without ever leaving it half written: the new content goes into a
// temporary file in the target's folder, which is flushed to disk, given the permission bits
// (and, where the process may, the owner) of the file it replaces, and renamed over the target.
// Until commit() succeeds the target is untouched; a writer destroyed before that removes its
// temporary file. A target that is a symbolic link is resolved, so the link keeps pointing at the
// rewritten file. Hard links to the target keep the old content.
class AtomicFileWriter {
public:
    struct Attributes {
        mode_t mode = 0644;
        uid_t owner = 0;
        gid_t group = 0;
    };

    // Creates the temporary file, and first the target's folder with its missing parents when it
    // is not a folder yet. `fallback` serves when the target does not exist yet.
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
    // Sets the attributes, flushes, and renames the temporary file over the target.
    [[nodiscard]] std::error_code commit() noexcept;

    [[nodiscard]] const std::filesystem::path& temporaryPath() const noexcept { return m_temporary; }

private:
    AtomicFileWriter(std::filesystem::path target, std::filesystem::path temporary, FileDescriptor file,
        const Attributes& attributes) noexcept;

    std::filesystem::path m_target;
    std::filesystem::path m_temporary; // empty once renamed
    FileDescriptor m_file;
    Attributes m_attributes;
};

} // namespace sondrel::tags
