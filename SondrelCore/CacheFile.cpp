#include "CacheFile.h"

#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <span>
#include <system_error>

namespace sondrel::core {

namespace fs = std::filesystem;

namespace {

// Far beyond any real library (about 300 bytes an entry): a larger file is damage,
// such as a link to a device that never ends.
constexpr off_t kMaxCacheFileBytes = off_t { 256 } << 20;

[[nodiscard]] Error systemError(std::string_view what, const fs::path& path, int error)
{
    return Error { std::string(what) + " " + path.string() + ": " + std::system_category().message(error) };
}

} // namespace

namespace {

[[nodiscard]] CacheFile::Identity identityOf(const struct stat& info) noexcept
{
    return { info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim };
}

} // namespace

bool CacheFile::Identity::operator==(const Identity& other) const noexcept
{
    const auto same
        = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    return device == other.device && inode == other.inode && size == other.size
        && same(modified, other.modified) && same(changed, other.changed);
}

std::optional<CacheFile::Identity> CacheFile::identify(const fs::path& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return identityOf(info);
}

CacheFile::Contents CacheFile::read(const fs::path& path)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid())
        return { errno == ENOENT ? State::missing : State::unreadable, {}, {} };
    struct stat info { };
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxCacheFileBytes)
        return { State::unreadable, {}, {} };
    Contents contents { State::read, {}, identityOf(info) };
    // One extra byte, so that a file grown since the fstat shows in the size check below.
    contents.bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == contents.bytes.size()) {
            if (filled > static_cast<std::size_t>(kMaxCacheFileBytes))
                return { State::unreadable, {}, {} };
            contents.bytes.resize(filled * 2);
        }
        const ssize_t count
            = ::read(file.get(), contents.bytes.data() + filled, contents.bytes.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return { State::unreadable, {}, {} };
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    contents.bytes.resize(filled);
    return contents;
}

Status CacheFile::write(const fs::path& path, std::string_view bytes)
{
    auto file = AtomicFile::create(path, Placement::replace);
    if (!file)
        return systemError("cannot create a file beside", path, file.error().value());
    const std::span content(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (const std::error_code error = file->append(content))
        return systemError("cannot write", path, error.value());
    if (const std::error_code error = file->commit())
        return systemError("cannot replace", path, error.value());
    return Ok {};
}

void CacheFile::keepAside(const fs::path& path, std::chrono::system_clock::time_point now)
{
    fs::path kept = path;
    kept += ".unreadable-";
    kept += std::to_string(std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count());
    if (::rename(path.c_str(), kept.c_str()) == 0)
        std::cerr << "Unreadable analysis cache kept as " << kept.string() << std::endl;
}

FolderLock::FolderLock(const fs::path& file)
    : m_folder(
        ::open(file.has_parent_path() ? file.parent_path().c_str() : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (m_folder.valid()) {
        while (::flock(m_folder.get(), LOCK_EX) != 0 && errno == EINTR) { }
    }
}

} // namespace sondrel::core
