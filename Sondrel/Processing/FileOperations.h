#pragma once

#include "Result.h"

#include <filesystem>
#include <utility>

namespace sondrel::app {

// Why a move failed. Only targetExists is recoverable: the numbered move picks the next name.
enum class MoveFailure { targetExists, other };

// The outcome of FileOperations::moveItem(): success, or the kind of failure with the system's
// text ("File exists", "Permission denied", "No such file or directory").
class [[nodiscard]] MoveStatus {
public:
    MoveStatus() = default;
    MoveStatus(MoveFailure failure, Error error)
        : m_ok(false)
        , m_failure(failure)
        , m_error(std::move(error))
    {
    }

    [[nodiscard]] bool ok() const noexcept { return m_ok; }
    explicit operator bool() const noexcept { return m_ok; }
    // Meaningful only when !ok().
    [[nodiscard]] MoveFailure failure() const noexcept { return m_failure; }
    [[nodiscard]] const Error& error() const noexcept { return m_error; }

private:
    bool m_ok = true;
    MoveFailure m_failure = MoveFailure::other;
    Error m_error;
};

// The file operations of processing (rename, move, trash), behind a seam that tests replace.
//
// Call contract, for every implementation:
// - Calls are synchronous and may block on the disk for as long as a copy takes: never call them
//   on the GUI thread. Calls on different files may run on different threads at once.
// - Paths are used byte for byte as given: no canonicalisation, symbolic links are not followed
//   (a link is moved as the link itself), names need not be UTF-8.
// - Nothing is ever overwritten or deleted for good, and no call throws.
class FileOperations {
public:
    virtual ~FileOperations() = default;

    // Gives the file at `from` the path `to`, which names the new file itself (not a folder), in
    // the same folder (a rename) or another one, on this file system or another. Never replaces
    // an existing `to`: that fails with targetExists and leaves both files as they were. On any
    // failure `from` is left exactly as it was and nothing new remains at or beside `to`.
    [[nodiscard]] virtual MoveStatus moveItem(
        const std::filesystem::path& from, const std::filesystem::path& to) noexcept = 0;

    // Moves the file or folder at `path` into the user's Trash, from where the user can restore
    // it. A missing file is an error. The error's text is the one the trash facility gives.
    [[nodiscard]] virtual Status trashItem(const std::filesystem::path& path) noexcept = 0;

protected:
    FileOperations() = default;
    FileOperations(const FileOperations&) = default;
    FileOperations& operator=(const FileOperations&) = default;
};

// The highest number the numbered move tries before giving up.
inline constexpr int kMaxMoveNumber = 10000;

// Moves `from` into `destinationFolder` under its own name. While that name is taken, tries
// "Song (1).mp3", "Song (2).mp3", ... up to kMaxMoveNumber: only the last extension is split off
// ("a.b.mp3" gives "a.b (1).mp3"), a name without one just gets the number ("Song (1)"), a
// leading dot starts no extension (".mp3" gives ".mp3 (1)"). Returns the path the file now has,
// or the first error that is not targetExists, or after the last number that number's error.
// A `from` without a file name (empty, "/", "folder/") fails with "Invalid argument" and
// moves nothing.
[[nodiscard]] Result<std::filesystem::path> moveWithNumbering(FileOperations& operations,
    const std::filesystem::path& from, const std::filesystem::path& destinationFolder) noexcept;

} // namespace sondrel::app
