#include "FileLock.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>

namespace sondrel {
namespace {

// A file replaced this often while we waited is being rewritten in a loop: give up.
constexpr int kReopenAttempts = 8;

class ChangedMeanwhileCategory : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "sondrel.file"; }
    [[nodiscard]] std::string message(int) const override
    {
        return "The file was moved or changed meanwhile";
    }
};

// Our writers hold the lock for as long as one file takes; a program of others that holds it
// for longer must not hang us. False when the lock stayed taken.
bool waitForLock(const FileDescriptor& file) noexcept
{
    constexpr auto kPoll = std::chrono::milliseconds(10);
    constexpr int kPolls = 6000; // a minute
    for (int poll = 0; poll < kPolls; ++poll) {
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR))
            return true;
        std::this_thread::sleep_for(kPoll);
    }
    return false;
}

} // namespace

std::error_code fileChangedMeanwhile() noexcept
{
    static const ChangedMeanwhileCategory category;
    return { 1, category };
}

bool namesFile(const std::filesystem::path& path, const struct stat& status) noexcept
{
    struct stat named { };
    return ::lstat(path.c_str(), &named) == 0 && named.st_dev == status.st_dev
        && named.st_ino == status.st_ino;
}

Result<FileDescriptor, std::error_code> openLocked(const std::filesystem::path& path, int flags) noexcept
{
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        FileDescriptor file(::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!file.valid())
            return attempt == 0 || errno != ENOENT ? lastSystemError() : fileChangedMeanwhile();
        struct stat status { };
        if (::fstat(file.get(), &status) != 0)
            return lastSystemError();
        if (!S_ISREG(status.st_mode))
            return file;
        // Where the file system keeps no locks (ENOLCK), we go on without: the lock only orders
        // our own processes, and the checks at placement still hold.
        if (!waitForLock(file))
            return std::error_code(EWOULDBLOCK, std::system_category());
        // A name opened through a symbolic link is looked up through it again.
        struct stat named { };
        const int found
            = (flags & O_NOFOLLOW) != 0 ? ::lstat(path.c_str(), &named) : ::stat(path.c_str(), &named);
        if (found == 0 && named.st_dev == status.st_dev && named.st_ino == status.st_ino)
            return file;
    }
    return fileChangedMeanwhile();
}

} // namespace sondrel
