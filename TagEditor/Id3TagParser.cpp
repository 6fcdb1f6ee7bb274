#include "Id3TagParser.h"

#include "ByteOrder.h"
#include "CivilCalendar.h"
#include "DateTimeFrame.h"
#include "DayMonthFrame.h"
#include "GenreFrame.h"
#include "HourMinuteFrame.h"
#include "Id3Layout.h"
#include "IntegerFrame.h"
#include "LocalizedTextFrame.h"
#include "PartOfTotalFrame.h"
#include "PictureFrame.h"
#include "TextCodec.h"
#include "TextDecoding.h"
#include "YearFrame.h"

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sondrel::tags {
namespace {

using Bytes = std::span<const std::uint8_t>;
using ParsedFrame = std::optional<std::pair<FrameName, std::shared_ptr<Id3Frame>>>;

constexpr std::array<std::uint8_t, 4> kJpegSignature { 0xFF, 0xD8, 0xFF, 0xE0 }; // JFIF: SOI, then APP0
constexpr std::array<std::uint8_t, 4> kPngSignature { 0x89, 'P', 'N', 'G' };

std::optional<Id3Version> versionOf(std::uint8_t versionByte) noexcept
{
    switch (versionByte) {
    case 2:
        return Id3Version::version2;
    case 3:
        return Id3Version::version3;
    case 4:
        return Id3Version::version4;
    default:
        return std::nullopt;
    }
}

bool isWellFormedIdentifier(std::string_view identifier) noexcept
{
    return std::all_of(identifier.begin(), identifier.end(),
        [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// The body's text: the bytes after the encoding byte, decoded, without U+0000 at either end.
std::optional<std::string> frameText(Bytes body)
{
    if (body.size() < 2)
        return std::nullopt;
    const std::optional<TextEncoding> encoding = textEncoding(body[0]);
    if (!encoding)
        return std::nullopt;
    const std::optional<std::string> text = TextCodec::decode(body.subspan(1), *encoding);
    if (!text)
        return std::nullopt;
    return std::string(trimNulls(*text));
}

// A string in `encoding` ended by its terminator, and the bytes after that terminator.
struct TerminatedText {
    std::string text;
    Bytes rest;
};

std::optional<TerminatedText> terminatedText(Bytes bytes, TextEncoding encoding)
{
    const std::size_t end = TextCodec::findTerminator(bytes, encoding);
    if (end == std::string_view::npos)
        return std::nullopt;
    std::optional<std::string> text = TextCodec::decode(bytes.first(end), encoding);
    if (!text)
        return std::nullopt;
    return TerminatedText { std::move(*text), bytes.subspan(end + terminatorSize(encoding)) };
}

// Decimal digits only, 1 to maxDigits of them.
std::optional<std::int64_t> parseDigits(std::string_view text, std::size_t maxDigits) noexcept
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> parseSmallNumber(std::string_view text) noexcept
{
    const auto value = parseDigits(text, 9);
    return value ? std::optional(static_cast<int>(*value)) : std::nullopt;
}

// The value kinds below are written back in a fixed ISO-8859-1 form. Each is parsed only from
// text that this form reproduces with the same value; any other text (a vinyl side "A1" as track,
// a BPM of "127.5", a non-ASCII genre) leaves the frame unparsed, so that it is carried over as
// it stands.

std::shared_ptr<Id3Frame> parseInteger(std::string_view text)
{
    const auto value = parseDigits(text, 18);
    return value ? std::make_shared<IntegerFrame>(*value) : nullptr;
}

std::shared_ptr<Id3Frame> parseYear(std::string_view text)
{
    const auto year = parseSmallNumber(text);
    return year ? std::make_shared<YearFrame>(*year) : nullptr;
}

std::shared_ptr<Id3Frame> parsePartOfTotal(std::string_view text)
{
    const std::size_t slash = text.find('/');
    const auto part = parseSmallNumber(text.substr(0, slash));
    if (!part)
        return nullptr;
    if (slash == std::string_view::npos)
        return std::make_shared<PartOfTotalFrame>(*part, std::nullopt);
    const auto total = parseSmallNumber(text.substr(slash + 1));
    return total ? std::make_shared<PartOfTotalFrame>(*part, *total) : nullptr;
}

// "DDMM" (day and month) or "HHMM" (hour and minute).
std::optional<std::pair<int, int>> parseTwoPairs(std::string_view text) noexcept
{
    if (text.size() != 4 || !parseDigits(text, 4))
        return std::nullopt;
    return std::pair((text[0] - '0') * 10 + (text[1] - '0'), (text[2] - '0') * 10 + (text[3] - '0'));
}

// Plain printable ASCII: "(13)", "(13)Pop" or "Deep House".
std::shared_ptr<Id3Frame> parseGenre(std::string_view text)
{
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; }))
        return nullptr;
    if (!text.starts_with('('))
        return std::make_shared<GenreFrame>(
            std::nullopt, text.empty() ? std::nullopt : std::optional(std::string(text)));
    const std::size_t close = text.find(')');
    if (close == std::string_view::npos)
        return nullptr;
    const auto number = parseDigits(text.substr(1, close - 1), 3);
    const std::string_view rest = text.substr(close + 1);
    if (!number || *number > 255 || rest.starts_with('('))
        return nullptr;
    return std::make_shared<GenreFrame>(
        static_cast<Genre>(*number), rest.empty() ? std::nullopt : std::optional(std::string(rest)));
}

// Only the form this module writes, whole minutes since 1970 in seconds. ISO 8601 timestamps,
// the form other taggers write, would come back as a different text, so they stay unparsed.
std::shared_ptr<Id3Frame> parseDateTime(std::string_view text)
{
    const bool negative = text.starts_with('-');
    const auto magnitude = parseDigits(negative ? text.substr(1) : text, 15);
    if (!magnitude || *magnitude % 60 != 0)
        return nullptr;
    const std::int64_t minutes = (negative ? -*magnitude : *magnitude) / 60;
    const std::int64_t days = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
    const std::int64_t minuteOfDay = minutes - days * 1440;
    const CivilDate date = civilFromDays(days);
    auto frame = std::make_shared<DateTimeFrame>();
    frame->year = static_cast<int>(date.year); // |year| < 10^8 for 15 digits of seconds
    frame->month = date.month;
    frame->day = date.day;
    frame->hour = static_cast<int>(minuteOfDay / 60);
    frame->minute = static_cast<int>(minuteOfDay % 60);
    return frame;
}

// Encoding byte, three language bytes, the description with its terminator, then the content.
// A frame that does not decode whole, or whose language code is not one the table can write back
// as it stands, is left unparsed.
ParsedFrame parseLocalizedText(FrameKind kind, Bytes body)
{
    if (body.size() < 4)
        return std::nullopt;
    const std::optional<TextEncoding> encoding = textEncoding(body[0]);
    if (!encoding)
        return std::nullopt;
    const std::string_view code(reinterpret_cast<const char*>(body.data() + 1), 3);
    const FrameLanguage language = frameLanguageFromCode(code);
    // ID3v2 marks an unknown language "XXX", which is how `unknown` is written.
    if (language == FrameLanguage::unknown && code != "XXX")
        return std::nullopt;

    std::optional<TerminatedText> description = terminatedText(body.subspan(4), *encoding);
    if (!description)
        return std::nullopt;
    const std::optional<std::string> content = TextCodec::decode(description->rest, *encoding);
    if (!content)
        return std::nullopt;
    auto frame
        = std::make_shared<LocalizedTextFrame>(language, description->text, std::string(trimNulls(*content)));
    FrameName name = kind == FrameKind::comment
        ? FrameName::comment(language, std::move(description->text))
        : FrameName::unsynchronizedLyrics(language, std::move(description->text));
    return std::pair(std::move(name), std::move(frame));
}

bool isPrintableAscii(Bytes bytes) noexcept
{
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) {
        return byte >= 0x20 && byte <= 0x7E;
    });
}

// A JFIF JPEG or a PNG with its media type (the image format in version 2.2), picture type (0 to
// 20) and description. Anything else (a GIF, an EXIF JPEG, a type byte above 20, a description
// that does not decode) is left unparsed, so that it is carried over as it stands.
ParsedFrame parsePicture(Bytes body, Id3Version version)
{
    if (body.empty())
        return std::nullopt;
    const std::optional<TextEncoding> encoding = textEncoding(body[0]);
    if (!encoding)
        return std::nullopt;
    Bytes mimeType;
    std::size_t typeOffset = 0;
    if (version == Id3Version::version2) {
        if (body.size() < 5)
            return std::nullopt;
        mimeType = body.subspan(1, 3);
        typeOffset = 4;
    } else {
        const auto mimeEnd = std::find(body.begin() + 1, body.end(), std::uint8_t { 0 });
        if (mimeEnd == body.end() || mimeEnd + 1 == body.end())
            return std::nullopt;
        typeOffset = static_cast<std::size_t>(mimeEnd - body.begin()) + 1;
        mimeType = body.subspan(1, typeOffset - 2);
    }
    if (!isPrintableAscii(mimeType) || body[typeOffset] >= kPictureTypeCount)
        return std::nullopt;
    std::optional<TerminatedText> description = terminatedText(body.subspan(typeOffset + 1), *encoding);
    if (!description)
        return std::nullopt;

    const Bytes picture = description->rest;
    const auto startsWith = [&](const auto& signature) {
        return picture.size() >= signature.size()
            && std::equal(signature.begin(), signature.end(), picture.begin());
    };
    std::optional<PictureFormat> format;
    if (startsWith(kJpegSignature))
        format = PictureFormat::jpeg;
    else if (startsWith(kPngSignature))
        format = PictureFormat::png;
    else
        return std::nullopt;
    const auto type = static_cast<PictureType>(body[typeOffset]);
    auto frame = std::make_shared<PictureFrame>(std::vector(picture.begin(), picture.end()), type, *format,
        description->text, std::string(mimeType.begin(), mimeType.end()));
    return std::pair(FrameName::attachedPicture(type, std::move(description->text)), std::move(frame));
}

ParsedFrame parseFrame(FrameKind kind, Bytes body, Id3Version version)
{
    if (kind == FrameKind::attachedPicture)
        return parsePicture(body, version);
    if (kind == FrameKind::comment || kind == FrameKind::unsynchronizedLyrics)
        return parseLocalizedText(kind, body);

    const std::optional<std::string> text = frameText(body);
    if (!text)
        return std::nullopt;
    std::shared_ptr<Id3Frame> frame;
    switch (kind) {
    case FrameKind::beatsPerMinute:
    case FrameKind::lengthInMilliseconds:
    case FrameKind::sizeInBytes:
    case FrameKind::movementIndex:
    case FrameKind::movementCount:
        frame = parseInteger(*text);
        break;
    case FrameKind::recordingYear:
        frame = parseYear(*text);
        break;
    case FrameKind::trackPosition:
    case FrameKind::discPosition:
        frame = parsePartOfTotal(*text);
        break;
    case FrameKind::genre:
        frame = parseGenre(*text);
        break;
    case FrameKind::recordingDayMonth:
        if (const auto pairs = parseTwoPairs(*text))
            frame = std::make_shared<DayMonthFrame>(pairs->first, pairs->second);
        break;
    case FrameKind::recordingHourMinute:
        if (const auto pairs = parseTwoPairs(*text))
            frame = std::make_shared<HourMinuteFrame>(pairs->first, pairs->second);
        break;
    case FrameKind::recordingDateTime:
        frame = parseDateTime(*text);
        break;
    case FrameKind::attachedPicture:
    case FrameKind::comment:
    case FrameKind::unsynchronizedLyrics:
    case FrameKind::invalid:
        break;
    default:
        frame = std::make_shared<TextFrame>(*text);
        break;
    }
    if (!frame)
        return std::nullopt;
    return std::pair(FrameName(kind), std::move(frame));
}

TagError unreadable(const std::string& why)
{
    return TagError(TagEditorError::corruptedFile,
        "The tag cannot be read faithfully (" + why + "), so the file is left unchanged.");
}

struct FrameSpan {
    std::size_t offset;
    std::size_t size; // header included
};

// The frames between the tag header and `end`, their sizes read synchsafe or plain. Ends at the
// first zero byte where a frame would begin (padding). `strict`: the padding is zero to its end,
// as the standard has it. A frame with an ill-formed identifier or running past `end` gives the
// reason the walk failed.
struct Walk {
    std::vector<FrameSpan> frames;
    std::optional<std::string> failure;
    bool strict = true;
};

Walk walkFrames(Bytes bytes, std::size_t end, const Id3Layout& layout, bool synchsafe)
{
    Walk walk;
    std::size_t position = Id3Layout::kTagHeaderSize;
    while (position < end) {
        if (bytes[position] == 0) {
            walk.strict = std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(position),
                bytes.begin() + static_cast<std::ptrdiff_t>(end),
                [](std::uint8_t byte) { return byte == 0; });
            break;
        }
        const std::string_view identifier(reinterpret_cast<const char*>(bytes.data() + position),
            std::min(layout.identifierSize, end - position));
        if (end - position < layout.frameHeaderSize || !isWellFormedIdentifier(identifier)) {
            walk.failure = "bytes that are not a frame follow the frames";
            break;
        }
        const std::uint32_t stored
            = bigEndian(bytes.subspan(position + layout.frameSizeOffset).first<4>()) & layout.frameSizeMask;
        if (synchsafe && (stored & 0x8080'8080) != 0) {
            walk.failure = "the " + std::string(identifier) + " frame's size is not a synchsafe number";
            break;
        }
        const std::uint64_t frameSize
            = layout.frameHeaderSize + std::uint64_t { synchsafe ? decodeSynchsafe(stored) : stored };
        if (frameSize > end - position) {
            walk.failure = "the " + std::string(identifier) + " frame runs past the tag's end";
            break;
        }
        walk.frames.push_back({ position, static_cast<std::size_t>(frameSize) });
        position += static_cast<std::size_t>(frameSize);
    }
    return walk;
}

// Version 2.4 frame sizes are synchsafe, but iTunes long wrote them as plain numbers. As other
// readers do, the plain reading is taken when it walks the tag cleanly and the synchsafe one does
// not (or only by calling the rest of a frame padding).
TagResult<std::vector<FrameSpan>> frameSpans(Bytes bytes, std::size_t end, const Id3Layout& layout)
{
    Walk walk = walkFrames(bytes, end, layout, layout.synchsafeFrameSize);
    if (layout.synchsafeFrameSize && (walk.failure || !walk.strict)) {
        Walk plain = walkFrames(bytes, end, layout, false);
        if (!plain.failure && (plain.strict || walk.failure))
            walk = std::move(plain);
    }
    if (walk.failure)
        return unreadable(*walk.failure);
    // Bytes behind the padding's first zero are kept by no rewrite: the audio of a tag whose size
    // says too much, or data another program hid there.
    if (!walk.strict)
        return unreadable("its padding holds bytes that are neither frames nor zeros");
    return std::move(walk.frames);
}

bool heldOncePerTag(FrameKind kind) noexcept
{
    return kind != FrameKind::attachedPicture && kind != FrameKind::comment
        && kind != FrameKind::unsynchronizedLyrics && kind != FrameKind::invalid;
}

// One frame, `bytes` from its header to its end. `seen`: the identifiers of the kinds a tag holds
// once that came before.
TagStatus readFrame(Id3Tag& tag, Bytes bytes, const Id3Layout& layout, std::set<std::string>& seen)
{
    const Id3Version version = tag.properties.version;
    const std::string identifier(reinterpret_cast<const char*>(bytes.data()), layout.identifierSize);
    std::array<std::uint8_t, 2> flags {};
    if (layout.frameFlags)
        flags = { bytes[8], bytes[9] };
    const Bytes body = bytes.subspan(layout.frameHeaderSize);

    const FrameKind kind = frameKind(identifier, version);
    // A second title (or any frame a tag holds once) would be lost or win over the first.
    if (heldOncePerTag(kind) && !seen.insert(identifier).second)
        return unreadable("it holds two " + identifier + " frames");
    // Flags (compression, encryption, grouping, unsynchronisation, what to do on alteration) are
    // kept only by carrying the frame over as it stands.
    if (kind != FrameKind::invalid && flags == std::array<std::uint8_t, 2> {}) {
        if (ParsedFrame parsed = parseFrame(kind, body, version)) {
            parsed->second->id3Identifier = identifier;
            parsed->second->size = static_cast<std::uint32_t>(bytes.size());
            parsed->second->readBody = std::make_shared<const Id3Frame::ReadBody>(
                Id3Frame::ReadBody { version, { body.begin(), body.end() } });
            if (!tag.frames.emplace(std::move(parsed->first), std::move(parsed->second)).second)
                return unreadable("it holds two " + identifier + " frames of the same description");
            return Ok {};
        }
    }
    tag.preservedFrames.push_back({ version, identifier, flags, std::vector(body.begin(), body.end()) });
    return Ok {};
}

} // namespace

TagResult<std::optional<Id3TagParser::Header>> Id3TagParser::header(
    std::span<const std::uint8_t> head, std::uint64_t available)
{
    if (head.size() < 3 || head[0] != 'I' || head[1] != 'D' || head[2] != '3')
        return std::optional<Header>();
    if (head.size() < Id3Layout::kTagHeaderSize)
        return TagEditorError::corruptedFile;
    const std::optional<Id3Version> version = versionOf(head[3]);
    if (!version)
        return unreadable("ID3v2." + std::to_string(head[3]) + " is a version this program does not read");
    const std::uint32_t storedSize = bigEndian(head.subspan<6, 4>());
    if ((storedSize & 0x8080'8080) != 0)
        return unreadable("its size is not a synchsafe number");
    constexpr std::uint8_t kFooter = 0x10;
    const Header header { *version, decodeSynchsafe(storedSize), head[5],
        *version == Id3Version::version4 && (head[5] & kFooter) != 0 };
    if (available < header.tagLength())
        return TagEditorError::corruptedFile;
    return std::optional(header);
}

TagResult<std::optional<Id3Tag>> Id3TagParser::parse(std::span<const std::uint8_t> bytes)
{
    TagResult<std::optional<Header>> found = header(bytes, bytes.size());
    if (!found)
        return found.error();
    if (!*found)
        return std::optional<Id3Tag>();
    const Header& tagHeader = **found;
    if (const TagStatus faithful = checkFaithful(tagHeader); !faithful)
        return faithful.error();

    const std::size_t end = Id3Layout::kTagHeaderSize + std::size_t { tagHeader.size };
    if (tagHeader.footer) {
        const Bytes footer = bytes.subspan(end, Id3Layout::kTagHeaderSize);
        if (footer[0] != '3' || footer[1] != 'D' || footer[2] != 'I'
            || !std::equal(footer.begin() + 3, footer.end(), bytes.begin() + 3))
            return unreadable("its footer does not repeat its header");
    }

    Id3Tag tag;
    tag.properties = { tagHeader.size, tagHeader.version };
    const Id3Layout layout = Id3Layout::of(tagHeader.version);
    const TagResult<std::vector<FrameSpan>> spans = frameSpans(bytes, end, layout);
    if (!spans)
        return spans.error();
    std::set<std::string> seen;
    for (const FrameSpan& span : *spans) {
        if (const TagStatus read = readFrame(tag, bytes.subspan(span.offset, span.size), layout, seen); !read)
            return read.error();
    }
    return std::optional(std::move(tag));
}

std::shared_ptr<const Id3Frame> Id3TagParser::parseBody(
    FrameKind kind, std::span<const std::uint8_t> body, Id3Version version)
{
    ParsedFrame parsed = parseFrame(kind, body, version);
    return parsed ? std::move(parsed->second) : nullptr;
}

TagStatus Id3TagParser::checkFaithful(const Header& header)
{
    constexpr std::uint8_t kUnsynchronisation = 0x80;
    constexpr std::uint8_t kExtendedHeaderOrCompression = 0x40; // compression in version 2.2
    if ((header.flags & kUnsynchronisation) != 0)
        return unreadable("it is unsynchronised");
    if ((header.flags & kExtendedHeaderOrCompression) != 0)
        return unreadable(
            header.version == Id3Version::version2 ? "it is compressed" : "it has an extended header");
    return Ok {};
}

} // namespace sondrel::tags
