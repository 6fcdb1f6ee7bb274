// Random damage to well-formed tags, from a fixed seed and within a time bound: the in-memory
// read and write must neither crash nor over-read (ASan watches), must rewrite exactly the tags
// they read, must carry the bytes after the old tag over unchanged, and must produce a tag
// that reads back into a tag that writes the same bytes again.

#include "TagEditor.h"

#include "LocalizedTextFrame.h"
#include "TagBytes.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>

namespace sondrel::tags {
namespace {

using namespace test;
constexpr auto v2 = Id3Version::version2;
constexpr auto v3 = Id3Version::version3;
constexpr auto v4 = Id3Version::version4;

std::vector<Bytes> seeds()
{
    const auto latin = [](Id3Version version, std::string_view id, std::string_view text) {
        return frame(version, id, Bytes { 0 } + ascii(text));
    };
    const Bytes version3 = latin(v3, "TIT2", "Title")
        + frame(v3, "TPE1", Bytes { 1 } + kBom + utf16("Artist") + Bytes { 0, 0 })
        + frame(v3, "COMM",
            Bytes { 1 } + ascii("eng") + kBom + utf16("d") + Bytes { 0, 0 } + kBom + utf16("text"))
        + frame(v3, "USLT", Bytes { 0 } + ascii("deu\0la la"sv))
        + frame(v3, "APIC", Bytes { 0 } + ascii("image/jpeg\0\3\0"sv) + kJfif)
        + frame(
            v3, "APIC", Bytes { 1 } + ascii("image/png\0\4"sv) + kBom + utf16("x") + Bytes { 0, 0 } + kPng)
        + latin(v3, "TRCK", "3/12") + latin(v3, "TCON", "(13)Pop") + latin(v3, "TYER", "1999")
        + latin(v3, "TDAT", "0312") + latin(v3, "TIME", "2359") + latin(v3, "TBPM", "124")
        + latin(v3, "TXXX", "key\0value"sv)
        + frame(v3, "PRIV", ascii("owner\0"sv) + Bytes { 1, 2, 3 }, { 0x40, 0x00 });
    const Bytes version4 = frame(v4, "TIT2", Bytes { 3 } + ascii("T\xC3\xADtulo"))
        + latin(v4, "TDRC", "1709251140") + frame(v4, "COMM", Bytes { 3 } + ascii("fra\0\0texte"sv))
        + frame(v4, "APIC", Bytes { 3 } + ascii("image/png\0\0\0"sv) + kPng)
        + frame(v4, "GEOB", Bytes(150, 0x5A)) + frame(v4, "TALB", Bytes { 0, 'x', 'y' }, { 0, 0x01 });
    const Bytes version2 = latin(v2, "TT2", "Title") + frame(v2, "COM", Bytes { 0 } + ascii("eng\0c"sv))
        + frame(v2, "PIC", Bytes { 0 } + ascii("JPG\3\0"sv) + kJfif) + latin(v2, "TXX", "a\0b"sv)
        + latin(v2, "TRK", "7");
    return {
        tag(v3, version3, 40) + fakeAudio(300),
        tag(v4, version4, 10) + fakeAudio(300),
        tag(v2, version2, 0) + fakeAudio(300),
        fakeAudio(400),
    };
}

void mutate(Bytes& bytes, std::mt19937_64& random)
{
    const auto pick = [&](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
    for (std::size_t count = 1 + pick(6); count-- > 0;) {
        const std::size_t at = pick(bytes.size() + 1);
        const std::array<std::uint64_t, 3> values { 0x00, 0xFF, random() };
        const auto value = static_cast<std::uint8_t>(values[pick(3)]);
        switch (bytes.empty() ? 0 : pick(5)) {
        case 0:
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), value);
            break;
        case 1:
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at % bytes.size()));
            break;
        case 2:
            bytes.resize(at);
            break;
        case 3:
            bytes[at % bytes.size()] ^= static_cast<std::uint8_t>(1u << pick(8));
            break;
        default:
            // The header's flags and size bytes are where damage matters most.
            bytes[bytes.size() >= 10 && pick(2) == 0 ? 5 + pick(5) : at % bytes.size()] = value;
            break;
        }
    }
}

// Where the audio starts when the bytes begin with a tag that can be read, computed independently
// of the module: after the header, the size it announces and a version 2.4 footer.
std::size_t audioOffsetOf(const Bytes& bytes)
{
    if (bytes.size() < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3')
        return 0;
    const std::size_t footer = bytes[3] == 4 && (bytes[5] & 0x10) != 0 ? 10 : 0;
    return 10 + footer
        + (std::size_t { bytes[6] & 0x7Fu } << 21 | std::size_t { bytes[7] & 0x7Fu } << 14
            | (bytes[8] & 0x7Fu) << 7 | (bytes[9] & 0x7Fu));
}

bool startsWithId3(const Bytes& bytes)
{
    return bytes.size() >= 3 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
}

TEST(TagEditorMutationTest, DamagedTagsNeitherCrashNorCorruptTheFile)
{
    const TagEditor editor;
    const std::vector<Bytes> corpus = seeds();
    std::mt19937_64 random(20240611);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    int iterations = 0;
    int rewritten = 0;
    for (; iterations < 10000 && std::chrono::steady_clock::now() < deadline; ++iterations) {
        Bytes input = corpus[random() % corpus.size()];
        mutate(input, random);
        SCOPED_TRACE("iteration " + std::to_string(iterations));

        TagResult<std::optional<Id3Tag>> read = editor.read(input);
        Id3Tag tag = read.ok() && read->has_value() ? std::move(**read) : Id3Tag::emptyVersion3();
        tag.frames[sondrelCommentName()] = sondrelComment(320);

        // A tag is rewritten exactly when it was read; bytes without one always take a tag.
        const TagResult<Bytes> written = editor.write(tag, input);
        ASSERT_EQ(written.ok(), !startsWithId3(input) || read.ok());
        if (!written.ok()) {
            ASSERT_EQ(written.error(), TagEditorError::corruptedFile);
            ASSERT_EQ(read.error(), TagEditorError::corruptedFile);
            continue;
        }
        const std::size_t audioOffset = audioOffsetOf(input);
        ++rewritten;
        const Bytes& output = *written;
        const std::uint64_t tagLength = tagLengthOf(output);
        ASSERT_EQ(tagLength, 10 + std::uint64_t { tag.properties.size });
        ASSERT_TRUE(std::equal(output.begin() + static_cast<std::ptrdiff_t>(tagLength), output.end(),
            input.begin() + static_cast<std::ptrdiff_t>(audioOffset), input.end()));

        TagResult<std::optional<Id3Tag>> again = editor.read(output);
        ASSERT_TRUE(again.ok() && again->has_value());
        ASSERT_EQ((*again)->frames.size(), tag.frames.size());
        const TagResult<Bytes> rewrittenAgain = editor.write(**again, output);
        ASSERT_TRUE(rewrittenAgain.ok());
        ASSERT_EQ(*rewrittenAgain, output);
    }
    EXPECT_GT(rewritten, iterations / 20) << "the mutations should leave many tags writable";
    RecordProperty("iterations", iterations);
}

} // namespace
} // namespace sondrel::tags
