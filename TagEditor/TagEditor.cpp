#include "TagEditor.h"

#include "AtomicFileWriter.h"
#include "FileDescriptor.h"
#include "Id3Layout.h"
#include "Id3TagBuilder.h"
#include "Id3TagParser.h"

#include <array>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

namespace sondrel::tags {
namespace {

using Header = Id3TagParser::Header;

bool hasMp3Extension(const std::filesystem::path& path)
{
    const std::string extension = path.extension().string();
    return extension.size() == 4 && extension[0] == '.' && (extension[1] | 0x20) == 'm'
        && (extension[2] | 0x20) == 'p' && extension[3] == '3';
}

// Bytes 6 to 9 as a synchsafe number, whatever the first bytes are.
std::uint64_t announcedLength(std::span<const std::uint8_t, 10> head) noexcept
{
    return Id3Layout::kTagHeaderSize + decodeSynchsafe(readBigEndian32(head.subspan<6, 4>()));
}

// Where the audio begins: after the current tag (its footer included), or at 0 without one.
// Refuses a tag it cannot read to its last byte, so that nothing in it is lost by a rewrite.
TagResult<std::uint64_t> audioOffset(const FileDescriptor& file, std::uint64_t fileSize)
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
        return std::uint64_t { 0 };
    std::vector<std::uint8_t> bytes((*header)->tagLength());
    if (file.readAt(bytes, 0, error) != bytes.size() || error)
        return error ? TagError(error) : TagError(TagEditorError::corruptedFile);
    if (const TagResult<std::optional<Id3Tag>> parsed = Id3TagParser::parse(bytes); !parsed)
        return parsed.error();
    return (*header)->tagLength();
}

TagError outOfMemory() noexcept
{
    return std::error_code(ENOMEM, std::system_category());
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
    try {
        if (!hasMp3Extension(path))
            return TagEditorError::invalidFileFormat;
        // In place, the file must open for writing: a read-only file, or one of another user that
        // this one may not write, is refused rather than replaced by a file of this user's.
        const bool inPlace = !destination || *destination == path;
        const FileDescriptor source(
            ::open(path.c_str(), (inPlace ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!source.valid())
            return TagError(lastSystemError());
        struct stat status { };
        if (::fstat(source.get(), &status) != 0)
            return TagError(lastSystemError());
        if (S_ISDIR(status.st_mode))
            return TagError(std::error_code(EISDIR, std::system_category()));
        if (!S_ISREG(status.st_mode))
            return TagError(std::error_code(EINVAL, std::system_category()));
        // Replacing the file would leave its other names with the old content.
        if (inPlace && status.st_nlink > 1)
            return TagError(std::error_code(EMLINK, std::system_category()),
                "The file has " + std::to_string(status.st_nlink)
                    + " hard links, which a rewrite would split, so it is left unchanged.");

        const TagResult<std::uint64_t> offset
            = audioOffset(source, static_cast<std::uint64_t>(status.st_size));
        if (!offset)
            return offset.error();

        TagResult<std::vector<std::uint8_t>> bytes = Id3TagBuilder::build(tag);
        if (!bytes)
            return bytes.error();

        TagResult<AtomicFileWriter> writer = AtomicFileWriter::create(
            destination.value_or(path), { status.st_mode, status.st_uid, status.st_gid });
        if (!writer)
            return writer.error();
        std::error_code error;
        if ((error = writer->append(*bytes)) || (error = writer->appendFrom(source, *offset)))
            return TagError(error);
        if (TagStatus copied = writer->copyExtendedAttributes(source); !copied)
            return copied;
        if (TagStatus committed = writer->commit(); !committed)
            return committed;
        tag.properties.size = static_cast<std::uint32_t>(bytes->size() - Id3Layout::kTagHeaderSize);
        return TagOk {};
    } catch (...) {
        return outOfMemory();
    }
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
