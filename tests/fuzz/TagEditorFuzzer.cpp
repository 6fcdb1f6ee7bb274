// libFuzzer entry for the tag editor's parser and writer (clang only):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I TagEditor \
//       tests/fuzz/TagEditorFuzzer.cpp TagEditor/*.cpp -o tag-editor-fuzzer
// Works on bytes in memory. Every input is read as a whole MP3; when that yields a tag, it gets a
// comment and is written back, and what comes out must read back into a tag that writes the
// same bytes again, with the bytes after the old tag carried over unchanged.

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
    TagResult<std::optional<Id3Tag>> read = editor.read(input);
    if (!read.ok() || !read->has_value())
        return 0;
    Id3Tag tag = std::move(**read);
    tag.frames[FrameName::comment(FrameLanguage::eng)] = std::make_shared<LocalizedTextFrame>(
        FrameLanguage::eng, "Sondrel Quality Check", "Detected bitrate: 320 kbps");
    const TagResult<std::vector<std::uint8_t>> written = editor.write(tag, input);
    if (!written.ok()) {
        // Only an unsynchronised or extended tag may be refused.
        if (written.error() != TagEditorError::corruptedFile || size < 6 || (data[5] & 0xC0) == 0)
            std::abort();
        return 0;
    }
    const std::size_t oldLength = 10
        + ((data[6] & 0x7Fu) << 21 | (data[7] & 0x7Fu) << 14 | (data[8] & 0x7Fu) << 7 | (data[9] & 0x7Fu));
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
