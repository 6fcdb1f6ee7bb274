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

// Where the audio begins: after the current tag, or at 0 without a recognised one.
TagResult<std::uint64_t> audioOffset(std::span<const std::uint8_t> head, std::uint64_t fileSize)
{
    const TagResult<std::optional<Header>> header = Id3TagParser::header(head, fileSize);
    if (!header)
        return header.error();
    if (!*header)
        return std::uint64_t { 0 };
    if (!Id3TagParser::frameWalkIsFaithful(**header))
        return TagEditorError::corruptedFile;
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
        const std::uint64_t length = announcedLength(mp3.first<Id3Layout::kTagHeaderSize>());
        if (mp3.size() < length)
            return TagEditorError::corruptedFile;
        return Id3TagParser::parse(mp3.first(length));
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
        const FileDescriptor source(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!source.valid())
            return TagError(lastSystemError());
        struct stat status { };
        if (::fstat(source.get(), &status) != 0)
            return TagError(lastSystemError());
        if (S_ISDIR(status.st_mode))
            return TagError(std::error_code(EISDIR, std::system_category()));
        if (!S_ISREG(status.st_mode))
            return TagError(std::error_code(EINVAL, std::system_category()));

        std::array<std::uint8_t, Id3Layout::kTagHeaderSize> head {};
        std::error_code error;
        const std::size_t headLength = source.readAt(head, 0, error);
        if (error)
            return TagError(error);
        const TagResult<std::uint64_t> offset
            = audioOffset(std::span(head).first(headLength), static_cast<std::uint64_t>(status.st_size));
        if (!offset)
            return offset.error();

        TagResult<std::vector<std::uint8_t>> bytes = Id3TagBuilder::build(tag);
        if (!bytes)
            return bytes.error();

        TagResult<AtomicFileWriter> writer = AtomicFileWriter::create(
            destination.value_or(path), { status.st_mode, status.st_uid, status.st_gid });
        if (!writer)
            return writer.error();
        if ((error = writer->append(*bytes)) || (error = writer->appendFrom(source, *offset))
            || (error = writer->commit()))
            return TagError(error);
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
        const TagResult<std::uint64_t> offset
            = audioOffset(mp3.first(std::min<std::size_t>(mp3.size(), 10)), mp3.size());
        if (!offset)
            return offset.error();
        TagResult<std::vector<std::uint8_t>> bytes = Id3TagBuilder::build(tag);
        if (!bytes)
            return bytes;
        const std::size_t tagLength = bytes->size();
        bytes->insert(bytes->end(), mp3.begin() + static_cast<std::ptrdiff_t>(*offset), mp3.end());
        tag.properties.size = static_cast<std::uint32_t>(tagLength - Id3Layout::kTagHeaderSize);
        return bytes;
    } catch (...) {
        return outOfMemory();
    }
}

} // namespace sondrel::tags
