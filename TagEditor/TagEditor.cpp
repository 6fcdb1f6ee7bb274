#include "TagEditor.h"

#include "AtomicFile.h"
#include "ByteOrder.h"
#include "FileDescriptor.h"
#include "FileLock.h"
#include "FileName.h"
#include "Id3Layout.h"
#include "Id3TagBuilder.h"
#include "Id3TagParser.h"

#include <array>
#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace sondrel::tags {
namespace {

using Header = Id3TagParser::Header;

// Bytes 6 to 9 as a synchsafe number, whatever the first bytes are.
std::uint64_t announcedLength(std::span<const std::uint8_t, 10> head) noexcept
{
    return Id3Layout::kTagHeaderSize + decodeSynchsafe(bigEndian(head.subspan<6, 4>()));
}

struct CurrentTag {
    std::uint64_t audioOffset = 0; // after the tag (its footer included), or 0 without one
    std::optional<Id3Tag> tag;
};

// The file's current tag and where its audio begins. Refuses a tag it cannot read to its last
// byte, so that nothing in it is lost by a rewrite.
TagResult<CurrentTag> currentTag(const FileDescriptor& file, std::uint64_t fileSize)
{
    std::array<std::uint8_t, Id3Layout::kTagHeaderSize> head {};
    std::error_code error;
    const std::size_t headLength = file.readAt(head, 0, error);
    if (error)
        return TagError(error);
    const TagResult<std::optional<Header>> header
        = Id3TagParser::header(std::span(head).first(headLength), fileSize);
    if (!header)
        return header.error();
    if (!*header)
        return CurrentTag {};
    std::vector<std::uint8_t> bytes((*header)->tagLength());
    if (file.readAt(bytes, 0, error) != bytes.size() || error)
        return error ? TagError(error) : TagError(TagEditorError::corruptedFile);
    TagResult<std::optional<Id3Tag>> parsed = Id3TagParser::parse(bytes);
    if (!parsed)
        return parsed.error();
    return CurrentTag { (*header)->tagLength(), std::move(*parsed) };
}

TagError outOfMemory() noexcept
{
    return std::error_code(ENOMEM, std::system_category());
}

TagError changedWhileTagging()
{
    return TagError(fileChangedMeanwhile(), "The file was moved or changed while it was being tagged");
}

// A destination in a folder that does not exist yet gets the folder and its missing parents.
TagStatus makeFolderOf(const std::filesystem::path& target)
{
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (error)
            return TagError(error);
    }
    return Ok {};
}

// Gives the new file every extended attribute of `source` (ACLs and user attributes alike).
TagStatus copyExtendedAttributes(const FileDescriptor& source, const FileDescriptor& target)
{
    ssize_t length = ::flistxattr(source.get(), nullptr, 0);
    if (length < 0)
        return errno == ENOTSUP ? TagStatus(Ok {}) : TagStatus(TagError(lastSystemError()));
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
                && ::fsetxattr(target.get(), name, value.data(), static_cast<std::size_t>(got), 0) == 0)
                continue;
        }
        const std::error_code error = lastSystemError();
        return TagError(error,
            std::string("The file's extended attribute ") + name
                + " cannot be carried over to the rewritten file (" + error.message()
                + "), so the file is left unchanged.");
    }
    return Ok {};
}

// The rewritten file keeps the owner, group, permission bits and extended attributes of the
// file it replaces; where they cannot be kept the write is refused, with the reason.
TagStatus keepAttributes(AtomicFile& file, const FileDescriptor& source, const struct stat& status)
{
    if (TagStatus copied = copyExtendedAttributes(source, file.descriptor()); !copied)
        return copied;
    struct stat current { };
    if (::fstat(file.descriptor().get(), &current) != 0)
        return TagError(lastSystemError());
    // Before the permission bits, which chown would strip of their set-id bits.
    if ((current.st_uid != status.st_uid || current.st_gid != status.st_gid)
        && ::fchown(file.descriptor().get(), status.st_uid, status.st_gid) != 0)
        return TagError(lastSystemError(),
            "The file belongs to another user or group, which the rewritten file could not keep, so the file "
            "is left unchanged.");
    file.setMode(status.st_mode);
    return Ok {};
}

// Writes the tag that `choose` picks, given the file's current tag, in place of the current tag.
TagStatus rewrite(const std::filesystem::path& path, const std::optional<std::filesystem::path>& destination,
    const std::function<Id3Tag&(std::optional<Id3Tag>& current)>& choose) noexcept
{
    try {
        if (!hasMp3Extension(path))
            return TagEditorError::invalidFileFormat;
        // In place, the file must open for writing: a read-only file, or one of another user that
        // this one may not write, is refused rather than replaced by a file of this user's.
        // The lock that our rename, move and trash take as well, held until the new file is in place.
        const bool inPlace = !destination || *destination == path;
        Result<FileDescriptor, std::error_code> opened = openLocked(path, inPlace ? O_RDWR : O_RDONLY);
        if (!opened)
            return opened.error() == fileChangedMeanwhile() ? changedWhileTagging()
                                                            : TagError(opened.error());
        const FileDescriptor source = std::move(*opened);
        struct stat status { };
        if (::fstat(source.get(), &status) != 0)
            return TagError(lastSystemError());
        if (S_ISDIR(status.st_mode))
            return TagError(std::error_code(EISDIR, std::system_category()));
        if (!S_ISREG(status.st_mode))
            return TagError(std::error_code(EINVAL, std::system_category()));
        // Root opens any file for writing; a file nobody may write is refused for root as well.
        if (inPlace && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return TagError(std::error_code(EACCES, std::system_category()),
                "The file is read-only (no one has permission to write it), so it is left unchanged.");
        // Replacing the file would leave its other names with the old content.
        if (inPlace && status.st_nlink > 1)
            return TagError(std::error_code(EMLINK, std::system_category()),
                "The file has " + std::to_string(status.st_nlink)
                    + " hard links, which a rewrite would split, so it is left unchanged.");

        TagResult<CurrentTag> current = currentTag(source, static_cast<std::uint64_t>(status.st_size));
        if (!current)
            return current.error();
        Id3Tag& tag = choose(current->tag);

        TagResult<std::vector<std::uint8_t>> bytes = Id3TagBuilder::build(tag);
        if (!bytes)
            return bytes.error();

        const std::filesystem::path target = destination.value_or(path);
        if (const TagStatus folder = makeFolderOf(target); !folder)
            return folder;
        Result<AtomicFile, std::error_code> file = AtomicFile::create(target, Placement::replace);
        if (!file)
            return TagError(file.error());
        std::error_code error;
        if ((error = file->append(*bytes)) || (error = file->appendFrom(source, current->audioOffset)))
            return TagError(error);
        // A file already at another destination keeps its own owner and permission bits.
        struct stat replaced { };
        const bool replacesOther = !inPlace && ::stat(file->target().c_str(), &replaced) == 0;
        if (TagStatus kept = keepAttributes(*file, source, replacesOther ? replaced : status); !kept)
            return kept;
        if (inPlace)
            file->setReplacedFile(status);
        if ((error = file->commit()))
            return error == fileChangedMeanwhile() ? changedWhileTagging() : TagError(error);
        tag.properties.size = static_cast<std::uint32_t>(bytes->size() - Id3Layout::kTagHeaderSize);
        return Ok {};
    } catch (...) {
        return outOfMemory();
    }
}

} // namespace

TagResult<std::optional<Id3Tag>> TagEditor::read(const std::filesystem::path& path) const noexcept
{
    try {
        if (!hasMp3Extension(path))
            return TagEditorError::invalidFileFormat;
        // Non-blocking, so that a FIFO named *.mp3 cannot hang the open.
        const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat status { };
        if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
            return TagEditorError::corruptedFile;
        const auto fileSize = static_cast<std::uint64_t>(status.st_size);

        std::array<std::uint8_t, Id3Layout::kTagHeaderSize> head {};
        std::error_code error;
        if (file.readAt(head, 0, error) != head.size() || error)
            return TagEditorError::corruptedFile;
        const TagResult<std::optional<Header>> header = Id3TagParser::header(head, fileSize);
        if (!header)
            return header.error();
        if (!*header) {
            // Without a header the parser finds no tag; only the length check can fail, and the
            // file's size answers it without reading the audio.
            if (fileSize < announcedLength(head))
                return TagEditorError::corruptedFile;
            return std::optional<Id3Tag>();
        }
        std::vector<std::uint8_t> bytes((*header)->tagLength());
        if (file.readAt(bytes, 0, error) != bytes.size() || error)
            return TagEditorError::corruptedFile;
        return Id3TagParser::parse(bytes);
    } catch (...) {
        // Allocation is the only thing here that throws.
        return outOfMemory();
    }
}

TagResult<std::optional<Id3Tag>> TagEditor::read(std::span<const std::uint8_t> mp3) const noexcept
{
    try {
        if (mp3.size() < Id3Layout::kTagHeaderSize)
            return TagEditorError::corruptedFile;
        const TagResult<std::optional<Header>> header = Id3TagParser::header(mp3, mp3.size());
        if (!header)
            return header.error();
        if (!*header) {
            if (mp3.size() < announcedLength(mp3.first<Id3Layout::kTagHeaderSize>()))
                return TagEditorError::corruptedFile;
            return std::optional<Id3Tag>();
        }
        return Id3TagParser::parse(mp3.first((*header)->tagLength()));
    } catch (...) {
        return outOfMemory();
    }
}

TagStatus TagEditor::write(Id3Tag& tag, const std::filesystem::path& path,
    const std::optional<std::filesystem::path>& destination) const noexcept
{
    return rewrite(path, destination, [&tag](std::optional<Id3Tag>&) -> Id3Tag& { return tag; });
}

TagStatus TagEditor::update(
    const std::filesystem::path& path, const std::function<void(Id3Tag&)>& change) const noexcept
{
    return rewrite(path, std::nullopt, [&change](std::optional<Id3Tag>& current) -> Id3Tag& {
        if (!current)
            current = Id3Tag::emptyVersion3();
        change(*current);
        return *current;
    });
}

TagResult<std::vector<std::uint8_t>> TagEditor::write(
    Id3Tag& tag, std::span<const std::uint8_t> mp3) const noexcept
{
    try {
        const TagResult<std::optional<Header>> header
            = Id3TagParser::header(mp3.first(std::min<std::size_t>(mp3.size(), 10)), mp3.size());
        if (!header)
            return header.error();
        std::uint64_t offset = 0;
        if (*header) {
            offset = (*header)->tagLength();
            if (const TagResult<std::optional<Id3Tag>> parsed = Id3TagParser::parse(mp3.first(offset));
                !parsed)
                return parsed.error();
        }
        TagResult<std::vector<std::uint8_t>> bytes = Id3TagBuilder::build(tag);
        if (!bytes)
            return bytes;
        const std::size_t tagLength = bytes->size();
        bytes->insert(bytes->end(), mp3.begin() + static_cast<std::ptrdiff_t>(offset), mp3.end());
        tag.properties.size = static_cast<std::uint32_t>(tagLength - Id3Layout::kTagHeaderSize);
        return bytes;
    } catch (...) {
        return outOfMemory();
    }
}

} // namespace sondrel::tags
