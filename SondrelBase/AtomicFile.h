#pragma once

#include "FileDescriptor.h"
#include "FileLock.h"
#include "MoveWithoutReplacing.h"
#include "Result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

namespace sondrel {

// Whether a new file may take the place of one already at its name.
enum class Placement { replace, keepExisting };

// Writes a whole file so that no reader ever sees it half written: the content goes into an
// unnamed file in the target's folder (O_TMPFILE; a hidden named one, created exclusively, where
// the file system has none), which commit() flushes to disk, names and puts at the target in one
// step, then syncs the folder so that the name survives a crash as well. Until commit() succeeds
// the target is untouched; a writer destroyed before that removes its file.
//
// A named file is hidden and carries its process's id and start time (".sondrel-PID-START-XXXXXXXX"),
// so that one left by a process killed between naming and placing it can be told from one still
// being written: create() removes those of dead processes from the target's folder, once per
// folder and process (see removeStaleTemporaries()).
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
    // With `replace`: commit() puts the file at the target only while the target is still the file
    // `original` describes, unchanged (same inode, size and modification time), proven by an
    // exchange of the two names whose outcome is checked (and undone when it was not that file).
    // Otherwise both are left as they are and commit() fails with fileChangedMeanwhile().
    void setReplacedFile(const struct stat& original) noexcept { m_replaced = original; }

    [[nodiscard]] std::error_code append(std::span<const std::uint8_t> bytes) noexcept;
    // Appends the source's bytes from `offset` to its end.
    [[nodiscard]] std::error_code appendFrom(const FileDescriptor& source, std::uint64_t offset) noexcept;
    // Sets the permission bits, flushes and puts the file at the target. With `keepExisting` a
    // taken name fails with EEXIST and is never replaced, on file systems that refuse
    // RENAME_NOREPLACE as well. On failure the target is as it was and the file is gone.
    [[nodiscard]] std::error_code commit() noexcept;

    // Removes from `folder` the hidden files of ours whose process is gone. Best effort, silent.
    static void removeStaleTemporaries(const std::filesystem::path& folder) noexcept;

private:
    AtomicFile(std::filesystem::path target, Placement placement, std::filesystem::path temporary,
        FileDescriptor file, std::optional<mode_t> mode) noexcept;
    [[nodiscard]] std::error_code place() noexcept;
    [[nodiscard]] std::error_code exchangeWithReplaced() noexcept;
    [[nodiscard]] bool isReplacedFile(const std::filesystem::path& path) const noexcept;

    std::filesystem::path m_target;
    Placement m_placement;
    std::filesystem::path m_temporary; // the file's name until placed; empty while unnamed
    FileDescriptor m_file;
    std::optional<mode_t> m_mode;
    std::optional<struct stat> m_replaced;
};

} // namespace sondrel
