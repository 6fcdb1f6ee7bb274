#include "AtomicFile.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyChunk = std::size_t { 1 } << 20;
constexpr int kNameAttempts = 100;

std::error_code systemError(int code) noexcept
{
    return { code, std::system_category() };
}

fs::path folderOf(const fs::path& path)
{
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Hidden, so that a scan of the folder never lists a half-made file; short, so that long target
// names still fit.
fs::path hiddenName(const fs::path& folder)
{
    static thread_local std::mt19937_64 random(std::random_device {}());
    std::array<char, 32> suffix {};
    std::snprintf(suffix.data(), suffix.size(), "%012llx",
        static_cast<unsigned long long>(random() & 0xFFFF'FFFF'FFFFull));
    return folder / (std::string(".sondrel-") + suffix.data());
}

// Gives the unnamed file `file` the name `name`, which must not exist yet.
std::error_code linkUnnamed(const FileDescriptor& file, const fs::path& name) noexcept
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(file.get());
    if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {};
    if (errno == EEXIST)
        return lastSystemError();
    // Without /proc; needs CAP_DAC_READ_SEARCH.
    return ::linkat(file.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ? std::error_code()
                                                                                : lastSystemError();
}

std::error_code copyByReadAndWrite(
    const FileDescriptor& source, std::uint64_t offset, const FileDescriptor& target) noexcept
{
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(kCopyChunk);
    } catch (...) {
        return systemError(ENOMEM);
    }
    std::error_code error;
    for (;;) {
        const std::size_t count = source.readAt(buffer, offset, error);
        if (error || count == 0)
            return error;
        if ((error = target.writeAll(std::span(buffer).first(count))))
            return error;
        offset += count;
    }
}

// Best effort: makes the placement itself durable. The content is already on disk.
void syncFolder(const fs::path& folder) noexcept
{
    const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        (void)::fsync(directory.get());
}

} // namespace

AtomicFile::AtomicFile(fs::path target, Placement placement, fs::path temporary, FileDescriptor file,
    std::optional<mode_t> mode) noexcept
    : m_target(std::move(target))
    , m_placement(placement)
    , m_temporary(std::move(temporary))
    , m_file(std::move(file))
    , m_mode(mode)
{
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : m_target(std::move(other.m_target))
    , m_placement(other.m_placement)
    , m_temporary(std::exchange(other.m_temporary, {}))
    , m_file(std::move(other.m_file))
    , m_mode(other.m_mode)
{
}

AtomicFile::~AtomicFile()
{
    (void)m_file.close();
    if (!m_temporary.empty())
        (void)::unlink(m_temporary.c_str());
}

Result<AtomicFile, std::error_code> AtomicFile::create(
    const fs::path& requested, Placement placement) noexcept
{
    try {
        std::error_code error;
        fs::path target = requested;
        if (placement == Placement::replace && fs::is_symlink(fs::symlink_status(target, error))) {
            target = fs::canonical(requested, error);
            if (error)
                return error;
        }
        std::optional<mode_t> mode;
        struct stat existing { };
        if (placement == Placement::replace && ::stat(target.c_str(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode))
                return systemError(EISDIR);
            if (S_ISREG(existing.st_mode))
                mode = existing.st_mode;
        }
        const fs::path folder = folderOf(target);

        // Unnamed, so that a process killed while writing leaves no file a user must find.
        FileDescriptor unnamed(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (unnamed.valid())
            return AtomicFile(std::move(target), placement, fs::path(), std::move(unnamed), mode);
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return lastSystemError();
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            fs::path name = hiddenName(folder);
            FileDescriptor named(
                ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
            if (named.valid())
                return AtomicFile(std::move(target), placement, std::move(name), std::move(named), mode);
            if (errno != EEXIST)
                return lastSystemError();
        }
        return systemError(EEXIST);
    } catch (...) {
        // Path building only fails for want of memory.
        return systemError(ENOMEM);
    }
}

std::error_code AtomicFile::append(std::span<const std::uint8_t> bytes) noexcept
{
    return m_file.writeAll(bytes);
}

std::error_code AtomicFile::appendFrom(const FileDescriptor& source, std::uint64_t offset) noexcept
{
    auto position = static_cast<off_t>(offset);
    for (;;) {
        const ssize_t count
            = ::copy_file_range(source.get(), &position, m_file.get(), nullptr, kCopyChunk, 0);
        if (count > 0)
            continue;
        if (count == 0)
            return {};
        if (errno == EINTR)
            continue;
        // Across file systems, or where the kernel has no such copy, copy through memory.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return copyByReadAndWrite(source, static_cast<std::uint64_t>(position), m_file);
        return lastSystemError();
    }
}

std::error_code AtomicFile::commit() noexcept
{
    const std::error_code error = place();
    if (error && !m_temporary.empty()) {
        (void)::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    return error;
}

std::error_code AtomicFile::place() noexcept
{
    try {
        if (m_mode && ::fchmod(m_file.get(), *m_mode & 07777) != 0)
            return lastSystemError();
        if (::fsync(m_file.get()) != 0)
            return lastSystemError();
        const fs::path folder = folderOf(m_target);
        for (int attempt = 0; m_temporary.empty(); ++attempt) {
            fs::path name = hiddenName(folder);
            const std::error_code error = linkUnnamed(m_file, name);
            if (!error)
                m_temporary = std::move(name);
            else if (error.value() != EEXIST || attempt == kNameAttempts)
                return error;
        }
        if (const std::error_code error = m_file.close())
            return error;
        if (m_placement == Placement::replace) {
            if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
                return lastSystemError();
        } else if (const std::error_code error = moveWithoutReplacing(m_temporary, m_target)) {
            return error;
        }
        m_temporary.clear();
        syncFolder(folder);
        return {};
    } catch (...) {
        return systemError(ENOMEM);
    }
}

std::error_code moveWithoutReplacing(const fs::path& from, const fs::path& to) noexcept
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    const std::error_code refused = lastSystemError();
    if (refused.value() != EINVAL && refused.value() != ENOSYS)
        return refused;
    // A folder has no hard links to fall back on.
    struct stat info { };
    if (::lstat(from.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return refused;
    return linkThenUnlink(from, to);
}

std::error_code linkThenUnlink(const fs::path& from, const fs::path& to) noexcept
{
    // Unlike rename(2), link(2) fails with EEXIST on a taken name.
    if (::link(from.c_str(), to.c_str()) != 0)
        return lastSystemError();
    if (::unlink(from.c_str()) != 0) {
        const std::error_code error = lastSystemError();
        (void)::unlink(to.c_str());
        return error;
    }
    return {};
}

} // namespace sondrel
