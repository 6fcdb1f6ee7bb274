#include "TagEditorError.h"

namespace sondrel::tags {

std::string_view description(TagEditorError error) noexcept
{
    switch (error) {
    case TagEditorError::invalidFileFormat:
        return "The file is not an MP3 file.";
    case TagEditorError::tagTooBig:
        return "The tag is too big: an ID3v2 tag must be smaller than 256 MB.";
    case TagEditorError::invalidTagData:
        return "The tag holds no frame that can be written.";
    case TagEditorError::corruptedFile:
        return "The file is damaged or its tag cannot be read.";
    }
    return "Unknown tag editing error.";
}

} // namespace sondrel::tags
