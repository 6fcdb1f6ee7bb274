#include "AtomicFileWriter.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace sondrel::tags {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyChunk = std::size_t { 1 } << 20;

std::error_code copyByReadAndWrite(
    const FileDescriptor& source, std::uint64_t offset, const FileDescriptor& target) noexcept
{
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(kCopyChunk);
    } catch (...) {
        return std::error_code(ENOMEM, std::system_category());
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

// Best effort: makes the rename itself durable. The new content is already on disk.
void syncFolder(const fs::path& folder) noexcept
{
    const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        (void)::fsync(directory.get());
}

// A hidden, short name: the scanner skips it, and long target names still fit.
fs::path hiddenName(const fs::path& folder)
{
    static thread_local std::mt19937_64 random(std::random_device {}());
    std::array<char, 32> suffix {};
    std::snprintf(suffix.data(), suffix.size(), "%012llx",
        static_cast<unsigned long long>(random() & 0xFFFF'FFFF'FFFFull));
    return folder / (std::string(".sondrel-tag-") + suffix.data());
}

// Gives the unnamed file `file` the name `name`, which must not exist yet.
int linkUnnamed(const FileDescriptor& file, const fs::path& name) noexcept
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(file.get());
    if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno == EEXIST)
        return -1;
    // Without /proc; needs CAP_DAC_READ_SEARCH.
    return ::linkat(file.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
}

} // namespace

AtomicFileWriter::AtomicFileWriter(
    fs::path target, fs::path temporary, FileDescriptor file, const Attributes& attributes) noexcept
    : m_target(std::move(target))
    , m_temporary(std::move(temporary))
    , m_file(std::move(file))
    , m_attributes(attributes)
{
}

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : m_target(std::move(other.m_target))
    , m_temporary(std::exchange(other.m_temporary, {}))
    , m_file(std::move(other.m_file))
    , m_attributes(other.m_attributes)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    (void)m_file.close();
    if (!m_temporary.empty())
        (void)::unlink(m_temporary.c_str());
}

TagResult<AtomicFileWriter> AtomicFileWriter::create(
    const fs::path& requested, const Attributes& fallback) noexcept
{
    try {
        std::error_code error;
        fs::path target = requested;
        if (fs::is_symlink(fs::symlink_status(target, error))) {
            target = fs::canonical(requested, error);
            if (error)
                return TagError(error);
        }
        fs::path folder = target.parent_path();
        if (folder.empty())
            folder = ".";
        if (!fs::is_directory(folder, error)) {
            fs::create_directories(folder, error);
            if (error)
                return TagError(error);
        }

        Attributes attributes = fallback;
        struct stat existing { };
        if (::stat(target.c_str(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode))
                return TagError(std::error_code(EISDIR, std::system_category()));
            attributes = { existing.st_mode, existing.st_uid, existing.st_gid };
        }

        // Unnamed, so that a process killed while writing leaves no file a user must find.
        FileDescriptor unnamed(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (unnamed.valid())
            return AtomicFileWriter(std::move(target), fs::path(), std::move(unnamed), attributes);
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return TagError(lastSystemError());
        std::string pattern = (folder / ".sondrel-tag-XXXXXX").string();
        FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
        if (!file.valid())
            return TagError(lastSystemError());
        return AtomicFileWriter(std::move(target), fs::path(pattern), std::move(file), attributes);
    } catch (...) {
        // Path and string building only fail for want of memory.
        return TagError(std::error_code(ENOMEM, std::system_category()));
    }
}

std::error_code AtomicFileWriter::append(std::span<const std::uint8_t> bytes) noexcept
{
    return m_file.writeAll(bytes);
}

std::error_code AtomicFileWriter::appendFrom(const FileDescriptor& source, std::uint64_t offset) noexcept
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

TagStatus AtomicFileWriter::copyExtendedAttributes(const FileDescriptor& source) noexcept
{
    try {
        ssize_t length = ::flistxattr(source.get(), nullptr, 0);
        if (length < 0)
            return errno == ENOTSUP ? TagStatus(TagOk {}) : TagStatus(TagError(lastSystemError()));
        std::vector<char> names(static_cast<std::size_t>(length));
        length = ::flistxattr(source.get(), names.data(), names.size());
        if (length < 0)
            return TagError(lastSystemError());
        std::vector<char> value;
        for (std::size_t at = 0; at < static_cast<std::size_t>(length);) {
            const char* name = names.data() + at;
            at += std::char_traits<char>::length(name) + 1;
            const ssize_t size = ::fgetxattr(source.get(), name, nullptr, 0);
            if (size >= 0) {
                value.resize(static_cast<std::size_t>(size));
                const ssize_t got = ::fgetxattr(source.get(), name, value.data(), value.size());
                if (got >= 0
                    && ::fsetxattr(m_file.get(), name, value.data(), static_cast<std::size_t>(got), 0) == 0)
                    continue;
            }
            const std::error_code error = lastSystemError();
            return TagError(error,
                std::string("The file's extended attribute ") + name
                    + " cannot be carried over to the rewritten file (" + error.message()
                    + "), so the file is left unchanged.");
        }
        return TagOk {};
    } catch (...) {
        return TagError(std::error_code(ENOMEM, std::system_category()));
    }
}

TagStatus AtomicFileWriter::commit() noexcept
{
    try {
        struct stat current { };
        if (::fstat(m_file.get(), &current) != 0)
            return TagError(lastSystemError());
        if ((current.st_uid != m_attributes.owner || current.st_gid != m_attributes.group)
            && ::fchown(m_file.get(), m_attributes.owner, m_attributes.group) != 0)
            return TagError(lastSystemError(),
                "The file belongs to another user or group, which the rewritten file could not keep, so "
                "the file is left unchanged.");
        if (::fchmod(m_file.get(), m_attributes.mode & 07777) != 0 || ::fsync(m_file.get()) != 0)
            return TagError(lastSystemError());
        if (m_temporary.empty()) {
            fs::path folder = m_target.parent_path();
            for (int attempt = 0;; ++attempt) {
                fs::path name = hiddenName(folder.empty() ? fs::path(".") : folder);
                if (linkUnnamed(m_file, name) == 0) {
                    m_temporary = std::move(name);
                    break;
                }
                if (errno != EEXIST || attempt == 100)
                    return TagError(lastSystemError());
            }
        }
        if (const std::error_code error = m_file.close())
            return TagError(error);
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
            return TagError(lastSystemError());
        m_temporary.clear();
        syncFolder(m_target.parent_path().empty() ? fs::path(".") : m_target.parent_path());
        return TagOk {};
    } catch (...) {
        return TagError(std::error_code(ENOMEM, std::system_category()));
    }
}

} // namespace sondrel::tags
