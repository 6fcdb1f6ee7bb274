#pragma once

#include "FileDescriptor.h"
#include "Result.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace sondrel {

// The error for a file that someone else moved, replaced or changed while we held it open to
// rewrite or move it. Its text: "The file was moved or changed meanwhile".
[[nodiscard]] std::error_code fileChangedMeanwhile() noexcept;

// Our writers of a file (the tag writer, rename, move and trash) each hold an exclusive advisory
// lock (flock) on it from before they read it until it is replaced or moved, so that two of our
// processes act on one file one after the other. Other programs do not take it.
//
// Opens `path` with `flags` (O_CLOEXEC, O_NOCTTY and O_NONBLOCK added, so that a FIFO cannot hang
// the open) and, for a regular file, waits for the lock. Once the lock is held the name is looked
// up again: a file put in its place meanwhile is opened and locked in its turn, and a name taken
// away (or changing hands every time) gives fileChangedMeanwhile(). A lock still taken after a
// minute gives EWOULDBLOCK. The lock lasts as long as the descriptor. Otherwise the system's
// error for the open.
[[nodiscard]] Result<FileDescriptor, std::error_code> openLocked(
    const std::filesystem::path& path, int flags) noexcept;

// Whether `path` names the file `status` describes (no symbolic link followed).
[[nodiscard]] bool namesFile(const std::filesystem::path& path, const struct stat& status) noexcept;

} // namespace sondrel
