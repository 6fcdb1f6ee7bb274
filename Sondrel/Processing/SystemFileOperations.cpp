#include "SystemFileOperations.h"

#include "AtomicFile.h"
#include "FileDescriptor.h"
#include "FileLock.h"
#include "MoveWithoutReplacing.h"
#include "Trash.h"

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;

[[nodiscard]] std::string systemText(int code)
{
    return std::system_category().message(code);
}

// For the result of a never-replacing rename or link, where EEXIST means the name is taken.
[[nodiscard]] MoveStatus placementFailure(int code)
{
    return { code == EEXIST ? MoveFailure::targetExists : MoveFailure::other, Error { systemText(code) } };
}

[[nodiscard]] MoveStatus otherFailure(int code)
{
    return { MoveFailure::other, Error { systemText(code) } };
}

// The lock our tag writer holds on a regular file; none for anything else, or a file we may not
// open, which the move itself then reports on.
[[nodiscard]] std::optional<FileDescriptor> holdLock(const fs::path& path) noexcept
{
    auto locked = openLocked(path, O_RDONLY | O_NOFOLLOW);
    if (!locked)
        return std::nullopt;
    return std::move(*locked);
}

} // namespace

MoveStatus SystemFileOperations::moveItem(const fs::path& from, const fs::path& to) noexcept
{
    try {
        // Waits while another of our processes tags the file, and follows it to its new copy.
        const auto locked = holdLock(from);
        const std::error_code error = moveWithoutReplacing(
            from, to, [this](const fs::path& a, const fs::path& b) { return renameWithoutReplacing(a, b); });
        if (!error)
            return {};
        if (error.value() == EXDEV)
            return moveAcrossFileSystems(from, to);
        return placementFailure(error.value());
    } catch (...) {
        // Only the error text can fail to allocate; the files are as the failure left them.
        return { MoveFailure::other, Error {} };
    }
}

int SystemFileOperations::renameWithoutReplacing(const fs::path& from, const fs::path& to) noexcept
{
    return sondrel::renameWithoutReplacing(from, to);
}

MoveStatus SystemFileOperations::moveAcrossFileSystems(const fs::path& from, const fs::path& to) noexcept
{
    try {
        // Without this the numbered move would copy the whole file once per taken number; the
        // never-replacing placement below still has the last word.
        struct stat existing { };
        if (::lstat(to.c_str(), &existing) == 0)
            return placementFailure(EEXIST);

        struct stat info { };
        if (::lstat(from.c_str(), &info) != 0)
            return otherFailure(errno);
        if (!S_ISREG(info.st_mode))
            return otherFailure(EXDEV);
        // A source swapped for a link or a FIFO since lstat() neither redirects nor blocks the open.
        FileDescriptor source(
            ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
        if (!source.valid())
            return otherFailure(errno);
        if (::fstat(source.get(), &info) != 0)
            return otherFailure(errno);
        if (!S_ISREG(info.st_mode))
            return otherFailure(EXDEV);

        // Private until complete: nobody reads a partial copy. The placement never replaces.
        auto copy = AtomicFile::create(to, Placement::keepExisting);
        if (!copy)
            return otherFailure(copy.error().value());
        const int fd = copy->descriptor().get();
        // Owner, mode and times where the file system can hold them (FAT holds no owner and few
        // modes): the content is what must arrive. chown comes first because it clears set-id bits.
        (void)::fchown(fd, info.st_uid, info.st_gid);
        (void)::fchmod(fd, info.st_mode & 07777);
        if (const std::error_code error = copy->appendFrom(source, 0))
            return otherFailure(error.value());
        const timespec times[2] = { info.st_atim, info.st_mtim };
        (void)::futimens(fd, times);
        struct stat copied { };
        if (::fstat(fd, &copied) != 0)
            return otherFailure(errno);
        if (const std::error_code error = copy->commit())
            return placementFailure(error.value());

        if (::unlink(from.c_str()) != 0) {
            const int error = errno;
            // The original stays, so the copy goes, unless the name has changed hands meanwhile.
            struct stat placed { };
            if (::lstat(to.c_str(), &placed) == 0 && placed.st_dev == copied.st_dev
                && placed.st_ino == copied.st_ino)
                (void)::unlink(to.c_str());
            return otherFailure(error);
        }
        return {};
    } catch (...) {
        return { MoveFailure::other, Error {} };
    }
}

Status SystemFileOperations::trashItem(const fs::path& path) noexcept
{
    try {
        const auto locked = holdLock(path);
        auto trashed = Trash::moveToTrash(path);
        if (!trashed)
            return trashed.error();
        return Ok {};
    } catch (...) {
        return Error { systemText(ENOMEM) };
    }
}

} // namespace sondrel::app
