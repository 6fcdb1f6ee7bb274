#pragma once

#include "FileOperations.h"

namespace sondrel::app {

// The file operations on the real file system. Holds no state: one instance may serve any
// number of threads.
//
// moveItem() and trashItem() first take the lock our tag writer holds on the file (see FileLock.h),
// so that a file being tagged by another of our processes is moved once that is done, as the
// tagged copy.
//
// moveItem():
// - On one file system: moveWithoutReplacing() (renameat2() with RENAME_NOREPLACE, or link(2) then
//   unlink(2) for anything but a folder where the file system refuses that flag).
// - Across file systems: a regular file is copied into a new file in the destination folder
//   (an AtomicFile), given the original's owner, permission bits and times where the file
//   system can hold them, synced, and put in place without replacing; only then is the source
//   removed. If the source cannot be removed, the copy is removed instead. A taken
//   target name is reported before anything is copied. Anything but a regular file (a folder, a
//   symbolic link) is not moved across file systems and fails with "Invalid cross-device link".
//
// trashItem(): Trash::moveToTrash, our own freedesktop.org Trash (see Trash.h).
class SystemFileOperations : public FileOperations {
public:
    [[nodiscard]] MoveStatus moveItem(
        const std::filesystem::path& from, const std::filesystem::path& to) noexcept override;
    [[nodiscard]] Status trashItem(const std::filesystem::path& path) noexcept override;

protected:
    // renameat2(from, to, RENAME_NOREPLACE): 0 or the errno. A test overrides it to stand in a
    // file system that refuses the flag (EINVAL) or a source on another device (EXDEV).
    [[nodiscard]] virtual int renameWithoutReplacing(
        const std::filesystem::path& from, const std::filesystem::path& to) noexcept;

private:
    [[nodiscard]] MoveStatus moveAcrossFileSystems(
        const std::filesystem::path& from, const std::filesystem::path& to) noexcept;
};

} // namespace sondrel::app
