#include "Trash.h"

#include "AnalysisCache.h"
#include "AtomicFile.h"
#include "FileLock.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <span>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr int kMaxNumber = 100000;

[[nodiscard]] Error systemError(int code)
{
    return Error { std::system_category().message(code) };
}

// 0 or the errno. An existing folder is fine.
[[nodiscard]] int makeFolder(const fs::path& folder, mode_t mode)
{
    if (::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT || !folder.has_parent_path() || folder.parent_path() == folder)
        return errno;
    if (const int error = makeFolder(folder.parent_path(), mode))
        return error;
    return ::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST ? 0 : errno;
}

// A real folder (not a link to one) owned by this user.
[[nodiscard]] bool isOwnFolder(const fs::path& folder)
{
    struct stat info { };
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// The device of the nearest existing folder at or above `path`.
[[nodiscard]] std::optional<dev_t> deviceOf(fs::path path)
{
    for (;;) {
        struct stat info { };
        if (::stat(path.c_str(), &info) == 0)
            return info.st_dev;
        if (!path.has_parent_path() || path.parent_path() == path)
            return std::nullopt;
        path = path.parent_path();
    }
}

// The top folder of the file system that holds `folder` (a resolved path).
[[nodiscard]] fs::path topFolder(fs::path folder, dev_t device)
{
    while (folder.has_parent_path() && folder.parent_path() != folder) {
        struct stat info { };
        if (::stat(folder.parent_path().c_str(), &info) != 0 || info.st_dev != device)
            break;
        folder = folder.parent_path();
    }
    return folder;
}

struct TrashFolder {
    fs::path path;
    fs::path top; // empty for the home Trash, whose info paths are absolute
};

[[nodiscard]] Result<TrashFolder> trashFor(const fs::path& absolute, dev_t device)
{
    const fs::path home = core::userDataHome() / "Trash";
    if (deviceOf(home) == device) {
        if (const int error = makeFolder(home, 0700))
            return systemError(error);
        return TrashFolder { home, {} };
    }
    std::error_code ec;
    const fs::path folder = fs::canonical(absolute.parent_path(), ec);
    if (ec)
        return Error { ec.message() };
    const fs::path top = topFolder(folder, device);
    const std::string uid = std::to_string(::getuid());

    // The administrator's shared folder counts only with the sticky bit, so that users
    // cannot take each other's folders.
    struct stat shared { };
    if (::lstat((top / ".Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode)
        && (shared.st_mode & S_ISVTX) != 0) {
        const fs::path own = top / ".Trash" / uid;
        if (makeFolder(own, 0700) == 0 && isOwnFolder(own))
            return TrashFolder { own, top };
    }
    const fs::path own = top / (".Trash-" + uid);
    if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST)
        return systemError(errno);
    if (!isOwnFolder(own))
        return systemError(EPERM);
    return TrashFolder { own, top };
}

// At most `limit` bytes of `text`, not ending inside a UTF-8 sequence.
[[nodiscard]] std::string shortened(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// "Song.mp3", then "Song (2).mp3", ..., each short enough to take the ".trashinfo" suffix.
[[nodiscard]] std::string candidateName(const fs::path& name, int number)
{
    constexpr std::size_t kLimit = NAME_MAX - kInfoSuffix.size();
    const std::string full = name.native();
    std::string stem = name.stem().native();
    std::string extension = name.extension().native();
    const std::string suffix = number == 1 ? "" : " (" + std::to_string(number) + ")";
    if (stem.empty() || extension.size() + suffix.size() >= kLimit) {
        stem = full;
        extension.clear();
    }
    return shortened(stem, kLimit - extension.size() - suffix.size()) + suffix + extension;
}

[[nodiscard]] std::string deletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// A trash killed between writing the info file and moving the file leaves an info file that
// reserves its name for nothing. Ours hold a lock on the info file in between, so an unlocked one
// without its file is stale; those of other programs, which take no lock, are given ten seconds.
// Removes it and says whether it did.
[[nodiscard]] bool removeStaleInfo(const fs::path& infoFile, const fs::path& trashedFile)
{
    constexpr std::time_t kOthersWindow = 10;
    struct stat present { };
    if (::lstat(trashedFile.c_str(), &present) == 0 || errno != ENOENT)
        return false;
    const FileDescriptor info(::open(infoFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status { };
    if (!info.valid() || ::fstat(info.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || std::time(nullptr) - status.st_mtim.tv_sec < kOthersWindow)
        return false;
    // Checked again under the lock: another run may have taken the name meanwhile.
    if (::flock(info.get(), LOCK_EX | LOCK_NB) != 0 || !namesFile(infoFile, status)
        || ::lstat(trashedFile.c_str(), &present) == 0)
        return false;
    return ::unlink(infoFile.c_str()) == 0;
}

} // namespace

std::string Trash::percentEncoded(std::string_view path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
            || (byte >= '0' && byte <= '9')
            || std::string_view("-_.!~*'()/").find(c) != std::string_view::npos;
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

Result<fs::path> Trash::moveToTrash(const fs::path& path)
{
    struct stat item { };
    if (::lstat(path.c_str(), &item) != 0)
        return systemError(errno);
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec)
        return Error { ec.message() };
    const fs::path name = absolute.filename();
    if (name.empty())
        return systemError(EINVAL);

    auto trash = trashFor(absolute, item.st_dev);
    if (!trash)
        return trash.error();
    const fs::path files = trash->path / "files";
    const fs::path info = trash->path / "info";
    for (const fs::path& folder : { files, info }) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return systemError(errno);
    }

    std::string original = absolute.native();
    if (!trash->top.empty()) {
        const fs::path resolved = fs::canonical(absolute.parent_path(), ec) / name;
        if (ec)
            return Error { ec.message() };
        original = resolved.lexically_relative(trash->top).native();
    }
    const std::string content
        = "[Trash Info]\nPath=" + percentEncoded(original) + "\nDeletionDate=" + deletionDate() + "\n";

    for (int number = 1; number <= kMaxNumber; ++number) {
        const std::string candidate = candidateName(name, number);
        const fs::path infoFile = info / (candidate + std::string(kInfoSuffix));
        // A quick look spares writing and syncing an info file for every taken number; the
        // never-replacing placement of the info file is what reserves the name among all
        // processes, and the info file appears whole.
        struct stat taken { };
        if (::lstat(infoFile.c_str(), &taken) == 0 && !removeStaleInfo(infoFile, files / candidate))
            continue;
        auto file = AtomicFile::create(infoFile, Placement::keepExisting);
        if (!file)
            return systemError(file.error().value());
        (void)::fchmod(file->descriptor().get(), 0600);
        // Held until the file is in the Trash, so that no run of ours takes the info file for one
        // a killed run left behind (see removeStaleInfo()).
        const FileDescriptor held(::dup(file->descriptor().get()));
        if (held.valid())
            (void)::flock(held.get(), LOCK_EX);
        std::error_code placed
            = file->append(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
        if (!placed)
            placed = file->commit();
        if (placed == std::errc::file_exists)
            continue;
        if (placed)
            return systemError(placed.value());
        const fs::path target = files / candidate;
        const std::error_code error = moveWithoutReplacing(path, target);
        if (!error)
            return target;
        (void)::unlink(infoFile.c_str());
        // A file left in "files" without its info file holds the name: take the next.
        if (error != std::errc::file_exists)
            return systemError(error.value());
    }
    return systemError(EEXIST);
}

} // namespace sondrel::app
