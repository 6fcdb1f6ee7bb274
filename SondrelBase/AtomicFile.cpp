#include "AtomicFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
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

constexpr std::string_view kTemporaryPrefix = ".sondrel-";

// The start time of process `pid` in clock ticks since boot (field 22 of /proc/PID/stat); none
// when there is no such process.
std::optional<unsigned long long> startTime(long pid) noexcept
{
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    const FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
    std::array<std::uint8_t, 1024> text {};
    std::error_code error;
    const std::size_t length = file.valid() ? file.readAt(text, 0, error) : 0;
    // The command name in parentheses may hold anything; the fields follow its last ")".
    const std::string_view stat(reinterpret_cast<const char*>(text.data()), length);
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    for (int field = 3; field <= 22; ++field) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return std::nullopt;
        rest = rest.substr(start);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (field == 22) {
            unsigned long long value = 0;
            const auto parsed = std::from_chars(rest.data(), rest.data() + end, value);
            return parsed.ec == std::errc() ? std::optional(value) : std::nullopt;
        }
        rest = rest.substr(end);
    }
    return std::nullopt;
}

// Hidden, so that a scan of the folder never lists a half-made file; named after this process,
// so that a later run can tell whether its writer is gone.
fs::path hiddenName(const fs::path& folder)
{
    // Looked up each time: a forked child is another process.
    const unsigned long long ownStart = startTime(::getpid()).value_or(0);
    static thread_local std::mt19937_64 random(std::random_device {}());
    std::array<char, 96> name {};
    std::snprintf(name.data(), name.size(), "%.*s%ld-%llu-%08llx", static_cast<int>(kTemporaryPrefix.size()),
        kTemporaryPrefix.data(), static_cast<long>(::getpid()), ownStart,
        static_cast<unsigned long long>(random() & 0xFFFF'FFFFull));
    return folder / name.data();
}

// Whether the process `pid` that started at `start` is gone. A process we may not look into
// (/proc mounted with hidepid) counts as alive.
bool isGone(long pid, unsigned long long start) noexcept
{
    if (const std::optional<unsigned long long> now = startTime(pid))
        return *now != start;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Whether `name` in `folder` is a file of hiddenName()'s whose process is gone (or, in the form
// of earlier versions that name no process, an hour old).
bool isStaleTemporary(int folder, std::string_view name)
{
    if (!name.starts_with(kTemporaryPrefix))
        return false;
    struct stat info { };
    if (::fstatat(folder, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(info.st_mode))
        return false;
    name.remove_prefix(kTemporaryPrefix.size());
    long pid = 0;
    unsigned long long start = 0;
    const char* end = name.data() + name.size();
    auto parsed = std::from_chars(name.data(), end, pid);
    if (parsed.ec == std::errc() && parsed.ptr != end && *parsed.ptr == '-') {
        parsed = std::from_chars(parsed.ptr + 1, end, start);
        if (parsed.ec == std::errc() && parsed.ptr != end && *parsed.ptr == '-')
            return pid > 0 && isGone(pid, start);
    }
    constexpr std::size_t kOldRandomDigits = 12;
    const bool oldForm = name.size() == kOldRandomDigits
        && name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
    return oldForm && std::time(nullptr) - info.st_mtim.tv_sec > 3600;
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
    , m_replaced(other.m_replaced)
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
        removeStaleTemporaries(folder);

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
        if (m_placement == Placement::replace && m_replaced) {
            if (const std::error_code error = exchangeWithReplaced())
                return error;
        } else if (m_placement == Placement::replace) {
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

bool AtomicFile::isReplacedFile(const fs::path& path) const noexcept
{
    struct stat now { };
    return ::lstat(path.c_str(), &now) == 0 && now.st_dev == m_replaced->st_dev
        && now.st_ino == m_replaced->st_ino && now.st_size == m_replaced->st_size
        && now.st_mtim.tv_sec == m_replaced->st_mtim.tv_sec
        && now.st_mtim.tv_nsec == m_replaced->st_mtim.tv_nsec;
}

// A check of the target followed by a rename would let a file put there in between be replaced
// unseen; the exchange is one step, and what it hands back shows what was replaced.
std::error_code AtomicFile::exchangeWithReplaced() noexcept
{
    if (::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno == ENOENT)
            return fileChangedMeanwhile();
        if (errno != EINVAL && errno != ENOSYS)
            return lastSystemError();
        // The file system cannot exchange names: check, then rename, which leaves a short window.
        if (!isReplacedFile(m_target))
            return fileChangedMeanwhile();
        return ::rename(m_temporary.c_str(), m_target.c_str()) == 0 ? std::error_code() : lastSystemError();
    }
    // m_temporary now names what stood at the target.
    if (isReplacedFile(m_temporary)) {
        (void)::unlink(m_temporary.c_str());
        return {};
    }
    // Not the file we read: give it its name back, and ours goes with commit()'s failure.
    if (::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_EXCHANGE) != 0) {
        // Our file was taken from the target meanwhile: theirs goes back where it was if it can,
        // and is never removed.
        (void)moveWithoutReplacing(m_temporary, m_target);
        m_temporary.clear();
    }
    return fileChangedMeanwhile();
}

void AtomicFile::removeStaleTemporaries(const fs::path& folder) noexcept
{
    try {
        const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info { };
        if (!directory.valid() || ::fstat(directory.get(), &info) != 0)
            return;
        static std::mutex mutex;
        // The path as well: a folder removed and made anew may get the same inode.
        static std::set<std::tuple<dev_t, ino_t, std::string>> cleaned;
        {
            const std::lock_guard lock(mutex);
            if (!cleaned.emplace(info.st_dev, info.st_ino, folder.native()).second)
                return;
        }
        const int listed = ::dup(directory.get());
        DIR* entries = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (entries == nullptr) {
            if (listed >= 0)
                ::close(listed);
            return;
        }
        std::vector<std::string> stale;
        while (const dirent* entry = ::readdir(entries)) {
            if (isStaleTemporary(directory.get(), entry->d_name))
                stale.emplace_back(entry->d_name);
        }
        ::closedir(entries);
        for (const std::string& name : stale)
            (void)::unlinkat(directory.get(), name.c_str(), 0);
    } catch (...) {
        // Only memory can run out here; the leftovers wait for another run.
    }
}

} // namespace sondrel
