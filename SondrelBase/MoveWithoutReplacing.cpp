#include "MoveWithoutReplacing.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel {
namespace {

std::error_code systemError(int code) noexcept
{
    return { code, std::system_category() };
}

std::error_code linkThenUnlink(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    // Unlike rename(2), link(2) fails with EEXIST on a taken name.
    if (::link(from.c_str(), to.c_str()) != 0)
        return systemError(errno);
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        (void)::unlink(to.c_str());
        return systemError(error);
    }
    return {};
}

} // namespace

int renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

std::error_code moveWithoutReplacing(
    const std::filesystem::path& from, const std::filesystem::path& to, const RenameCall& rename) noexcept
{
    const int refused = rename(from, to);
    if (refused != EINVAL && refused != ENOSYS)
        return refused == 0 ? std::error_code() : systemError(refused);
    struct stat info { };
    if (::lstat(from.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return systemError(refused);
    return linkThenUnlink(from, to);
}

} // namespace sondrel
