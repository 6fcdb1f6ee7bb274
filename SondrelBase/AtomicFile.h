#pragma once

#include "FileDescriptor.h"
#include "Result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

#include <sys/types.h>

namespace sondrel {

// Whether a new file may take the place of one already at its name.
enum class Placement { replace, keepExisting };

// Writes a whole file so that no reader ever sees it half written: the content goes into an
// unnamed file in the target's folder (O_TMPFILE; a hidden named one, created exclusively, where
// the file system has none), which commit() flushes to disk, names and puts at the target in one
// step, then syncs the folder so that the name survives a crash as well. Until commit() succeeds
// the target is untouched; a writer destroyed before that removes its file, and a process killed
// before it leaves nothing behind (but for the named fallback, or the instant between naming the
// file and placing it).
//
// The new file keeps the permission bits of the file it replaces, else has 0666 less the umask as
// any new file; setMode() decides otherwise. With `replace`, a target that is a symbolic link is
// resolved, so that the link keeps pointing at the rewritten file. The target's folder must exist.
class AtomicFile {
public:
    [[nodiscard]] static Result<AtomicFile, std::error_code> create(
        const std::filesystem::path& target, Placement placement) noexcept;

    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // The new file, for attributes beyond the permission bits (owner, times, extended attributes).
    [[nodiscard]] const FileDescriptor& descriptor() const noexcept { return m_file; }
    // The target as resolved: where commit() puts the file.
    [[nodiscard]] const std::filesystem::path& target() const noexcept { return m_target; }
    void setMode(mode_t mode) noexcept { m_mode = mode; }

    [[nodiscard]] std::error_code append(std::span<const std::uint8_t> bytes) noexcept;
    // Appends the source's bytes from `offset` to its end.
    [[nodiscard]] std::error_code appendFrom(const FileDescriptor& source, std::uint64_t offset) noexcept;
    // Sets the permission bits, flushes and puts the file at the target. With `keepExisting` a
    // taken name fails with EEXIST and is never replaced, on file systems that refuse
    // RENAME_NOREPLACE as well. On failure the target is as it was and the file is gone.
    [[nodiscard]] std::error_code commit() noexcept;

private:
    AtomicFile(std::filesystem::path target, Placement placement, std::filesystem::path temporary,
        FileDescriptor file, std::optional<mode_t> mode) noexcept;
    [[nodiscard]] std::error_code place() noexcept;

    std::filesystem::path m_target;
    Placement m_placement;
    std::filesystem::path m_temporary; // the file's name until placed; empty while unnamed
    FileDescriptor m_file;
    std::optional<mode_t> m_mode;
};

// Moves `from` to `to` on one file system, failing with EEXIST rather than replacing a file at
// `to`: renameat2() with RENAME_NOREPLACE, or, for anything but a folder, link(2) then unlink(2)
// where the file system refuses that flag.
[[nodiscard]] std::error_code moveWithoutReplacing(
    const std::filesystem::path& from, const std::filesystem::path& to) noexcept;
// The fallback of moveWithoutReplacing(): the link fails when `to` exists, and if `from` cannot be
// unlinked the new link is removed again. Not for folders, which have no hard links.
[[nodiscard]] std::error_code linkThenUnlink(
    const std::filesystem::path& from, const std::filesystem::path& to) noexcept;

} // namespace sondrel
