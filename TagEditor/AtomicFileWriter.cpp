#include "AtomicFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
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

        // A hidden, short name: the scanner skips it, and long target names still fit.
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

std::error_code AtomicFileWriter::commit() noexcept
{
    // Only a privileged process may give the file away; for others the owner stays theirs.
    (void)::fchown(m_file.get(), m_attributes.owner, m_attributes.group);
    if (::fchmod(m_file.get(), m_attributes.mode & 07777) != 0)
        return lastSystemError();
    if (::fsync(m_file.get()) != 0)
        return lastSystemError();
    if (const std::error_code error = m_file.close())
        return error;
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return lastSystemError();
    m_temporary.clear();
    syncFolder(m_target.parent_path().empty() ? fs::path(".") : m_target.parent_path());
    return {};
}

} // namespace sondrel::tags
