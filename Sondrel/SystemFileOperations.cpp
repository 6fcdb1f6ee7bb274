#include "SystemFileOperations.h"
#include "FileDescriptor.h"
#include "Trash.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

using core::FileDescriptor;

namespace fs = std::filesystem;

constexpr std::size_t kCopyChunk = std::size_t { 1 } << 18;
constexpr int kTemporaryNameAttempts = 100;

[[nodiscard]] std::string systemText(int code)
{
    return std::system_category().message(code);
}

// For the result of a never-replacing rename or link, where EEXIST means the name is taken.
[[nodiscard]] MoveStatus placementFailure(int code)
{
    return { code == EEXIST ? MoveFailure::targetExists : MoveFailure::other,
        core::Error { systemText(code) } };
}

[[nodiscard]] MoveStatus otherFailure(int code)
{
    return { MoveFailure::other, core::Error { systemText(code) } };
}

// Unlinks a path at the end of the scope unless released.
class UnlinkOnExit {
public:
    explicit UnlinkOnExit(const fs::path& path) noexcept
        : m_path(&path)
    {
    }
    ~UnlinkOnExit()
    {
        if (m_path != nullptr)
            (void)::unlink(m_path->c_str());
    }
    UnlinkOnExit(const UnlinkOnExit&) = delete;
    UnlinkOnExit& operator=(const UnlinkOnExit&) = delete;

    void release() noexcept { m_path = nullptr; }

private:
    const fs::path* m_path;
};

[[nodiscard]] int writeAll(int fd, const char* data, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return 0;
}

// 0 or the errno of the failing read or write.
[[nodiscard]] int copyContent(int source, int target) noexcept
{
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyChunk]);
    if (!buffer)
        return ENOMEM;
    for (;;) {
        const ssize_t count = ::read(source, buffer.get(), kCopyChunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0)
            return 0;
        if (const int error = writeAll(target, buffer.get(), static_cast<std::size_t>(count)))
            return error;
    }
}

// Best effort: the copy's name must be on disk before the original goes.
void syncFolder(const fs::path& folder) noexcept
{
    const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        (void)::fsync(directory.get());
}

// Hidden, so a scan of the folder never lists a half-made copy.
[[nodiscard]] fs::path temporaryPath(const fs::path& folder)
{
    static std::atomic<std::uint64_t> counter { 0 };
    return folder / (".sondrel-move-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

} // namespace

MoveStatus SystemFileOperations::moveItem(const fs::path& from, const fs::path& to) noexcept
{
    try {
        const int error = moveWithinFileSystem(from, to);
        if (error == 0)
            return {};
        if (error == EXDEV)
            return moveAcrossFileSystems(from, to);
        return placementFailure(error);
    } catch (...) {
        // Only the error text can fail to allocate; the files are as the failure left them.
        return { MoveFailure::other, core::Error {} };
    }
}

int SystemFileOperations::renameWithoutReplacing(const fs::path& from, const fs::path& to) noexcept
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

int SystemFileOperations::moveWithinFileSystem(const fs::path& from, const fs::path& to) noexcept
{
    const int error = renameWithoutReplacing(from, to);
    if (error != EINVAL && error != ENOSYS)
        return error;
    // The file system refuses the flag. Unlike rename(2), link(2) fails with EEXIST on a taken name.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0) {
        const int unlinkError = errno;
        (void)::unlink(to.c_str());
        return unlinkError;
    }
    return 0;
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

        const fs::path folder = to.has_parent_path() ? to.parent_path() : fs::path(".");
        fs::path temporary;
        int fd = -1;
        for (int attempt = 0; fd < 0 && attempt < kTemporaryNameAttempts; ++attempt) {
            temporary = temporaryPath(folder);
            // Private until complete: nobody reads a partial copy.
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0 && errno != EEXIST)
                return otherFailure(errno);
        }
        if (fd < 0)
            return otherFailure(EEXIST); // leftovers hold every temporary name, not the target's
        FileDescriptor copy(fd);
        UnlinkOnExit removeTemporary(temporary);

        if (const int error = copyContent(source.get(), copy.get()))
            return otherFailure(error);
        // Owner, mode and times where the file system can hold them (FAT holds no owner and few
        // modes): the content is what must arrive. chown comes first because it clears set-id bits.
        (void)::fchown(copy.get(), info.st_uid, info.st_gid);
        (void)::fchmod(copy.get(), info.st_mode & 07777);
        const timespec times[2] = { info.st_atim, info.st_mtim };
        (void)::futimens(copy.get(), times);
        if (::fsync(copy.get()) != 0)
            return otherFailure(errno);
        struct stat copied { };
        if (::fstat(copy.get(), &copied) != 0)
            return otherFailure(errno);
        if (const int error = copy.close())
            return otherFailure(error);

        // The same never-replacing step as within a file system; unlike a bare link(2) it also
        // works on file systems without hard links (FAT and exFAT sticks).
        if (const int error = moveWithinFileSystem(temporary, to))
            return placementFailure(error);
        removeTemporary.release();
        syncFolder(folder);

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
        return { MoveFailure::other, core::Error {} };
    }
}

core::Status SystemFileOperations::trashItem(const fs::path& path) noexcept
{
    try {
        auto trashed = Trash::moveToTrash(path);
        if (!trashed)
            return trashed.error();
        return core::Ok {};
    } catch (...) {
        return core::Error { systemText(ENOMEM) };
    }
}

} // namespace sondrel::app
