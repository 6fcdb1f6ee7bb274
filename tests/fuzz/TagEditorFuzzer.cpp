// libFuzzer entry for the tag editor's parser and writer (clang only); tests/fuzz/run.sh builds
// and runs it. Works on bytes in memory. Every input is read as a whole MP3 and given a comment;
// a tag is rewritten exactly when it was read, bytes without "ID3" always take a new tag in front,
// the bytes after the old tag are carried over unchanged, and what comes out reads back into a tag
// that writes the same bytes again.

#include "LocalizedTextFrame.h"
#include "TagEditor.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sondrel::tags;
    const std::span<const std::uint8_t> input(data, size);
    const TagEditor editor;
    const bool tagged = size >= 3 && data[0] == 'I' && data[1] == 'D' && data[2] == '3';
    TagResult<std::optional<Id3Tag>> read = editor.read(input);
    Id3Tag tag = read.ok() && read->has_value() ? std::move(**read) : Id3Tag::emptyVersion3();
    tag.frames[FrameName::comment(FrameLanguage::eng, "Sondrel Quality Check")]
        = std::make_shared<LocalizedTextFrame>(
            FrameLanguage::eng, "Sondrel Quality Check", "Detected bitrate: 320 kbps");
    const TagResult<std::vector<std::uint8_t>> written = editor.write(tag, input);
    if (written.ok() != (!tagged || read.ok()))
        std::abort();
    if (!written.ok()) {
        if (written.error() != TagEditorError::corruptedFile)
            std::abort();
        return 0;
    }
    const std::size_t footer = tagged && data[3] == 4 && (data[5] & 0x10) != 0 ? 10 : 0;
    const std::size_t oldLength = !tagged ? 0
                                          : 10 + footer
            + ((data[6] & 0x7Fu) << 21 | (data[7] & 0x7Fu) << 14 | (data[8] & 0x7Fu) << 7
                | (data[9] & 0x7Fu));
    const std::size_t newLength = 10 + std::size_t { tag.properties.size };
    if (written->size() - newLength != size - oldLength
        || !std::equal(input.begin() + static_cast<std::ptrdiff_t>(oldLength), input.end(),
            written->begin() + static_cast<std::ptrdiff_t>(newLength)))
        std::abort();

    TagResult<std::optional<Id3Tag>> again = editor.read(*written);
    if (!again.ok() || !again->has_value())
        std::abort();
    const TagResult<std::vector<std::uint8_t>> rewritten = editor.write(**again, *written);
    if (!rewritten.ok() || *rewritten != *written)
        std::abort();
    return 0;
}
