#include "Id3TagParser.h"

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
#include "YearFrame.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace sondrel::tags {
namespace {

using Bytes = std::span<const std::uint8_t>;
using ParsedFrame = std::optional<std::pair<FrameName, std::shared_ptr<Id3Frame>>>;

constexpr std::array<std::uint8_t, 4> kJpegSignature { 0xFF, 0xD8, 0xFF, 0xE0 }; // JFIF: SOI, then APP0
constexpr std::array<std::uint8_t, 4> kPngSignature { 0x89, 'P', 'N', 'G' };

constexpr std::string_view kInvalidContent = "Invalid content";

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

bool equalsIgnoringCase(Bytes bytes, std::string_view text) noexcept
{
    return bytes.size() == text.size()
        && std::equal(bytes.begin(), bytes.end(), text.begin(), [](std::uint8_t byte, char c) {
               const auto lower
                   = [](int value) { return value >= 'A' && value <= 'Z' ? value + ('a' - 'A') : value; };
               return lower(byte) == lower(static_cast<unsigned char>(c));
           });
}

// The body's text: the bytes after the encoding byte, decoded, without U+0000 at either end.
std::optional<std::string> frameText(Bytes body, Id3Version version)
{
    if (body.size() < 2)
        return std::nullopt;
    const std::optional<std::string> text
        = TextCodec::decode(body.subspan(1), textEncoding(body[0], version));
    if (!text)
        return std::nullopt;
    return std::string(TextCodec::trimNulls(*text));
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

// Encoding byte, three language bytes, then description and content around the last separator.
ParsedFrame parseLocalizedText(FrameKind kind, Bytes body, Id3Version version)
{
    if (body.size() < 4)
        return std::nullopt;
    const TextEncoding encoding = textEncoding(body[0], version);
    const Bytes languageBytes = body.subspan(1, 3);
    const std::optional<std::string> code = TextCodec::decode(languageBytes, TextEncoding::UTF8);
    const FrameLanguage language = code ? frameLanguageFromCode(*code) : FrameLanguage::unknown;

    const Bytes text = body.subspan(4);
    static constexpr std::array<std::uint8_t, 4> kUtf16Separator { 0x00, 0x00, 0xFF, 0xFE };
    static constexpr std::array<std::uint8_t, 2> kSeparator { 0x00, 0x00 };
    const Bytes separator = encoding == TextEncoding::UTF16 ? Bytes(kUtf16Separator) : Bytes(kSeparator);
    const auto found = std::search(text.rbegin(), text.rend(), separator.rbegin(), separator.rend());
    Bytes descriptionBytes;
    Bytes contentBytes = text;
    if (found != text.rend()) {
        // `found` is reversed: it points at the separator's last byte.
        const auto separatorEnd = static_cast<std::size_t>(text.rend() - found);
        descriptionBytes = text.first(separatorEnd - separator.size());
        contentBytes = text.subspan(separatorEnd - 2); // at the content's byte-order mark in UTF-16
    }
    const std::optional<std::string> description = TextCodec::decode(descriptionBytes, encoding);
    const std::optional<std::string> content = TextCodec::decode(contentBytes, encoding);
    auto frame = std::make_shared<LocalizedTextFrame>(language,
        description ? *description : std::string(kInvalidContent),
        content ? std::string(TextCodec::trimNulls(*content)) : std::string(kInvalidContent));
    const FrameName name = kind == FrameKind::comment ? FrameName::comment(language)
                                                      : FrameName::unsynchronizedLyrics(language);
    return std::pair(name, std::move(frame));
}

// A JFIF JPEG or a PNG, recognised only where the frame is laid out as the fixed offsets assume:
// media type "image/jpeg" or "image/png" ("JPG" or "PNG" in version 2.2), the picture type (0 to
// 20), a description, then picture bytes that begin with the format's signature. Anything else (a
// GIF, an EXIF JPEG, "image/jpg", a type byte above 20, a signature inside other data) is left
// unparsed rather than rewritten with the wrong type or truncated data.
ParsedFrame parsePicture(Bytes body, Id3Version version)
{
    if (body.empty())
        return std::nullopt;
    std::optional<PictureFormat> format;
    std::size_t typeOffset = 0;
    if (version == Id3Version::version2) {
        typeOffset = 4;
        if (body.size() > typeOffset && equalsIgnoringCase(body.subspan(1, 3), "JPG"))
            format = PictureFormat::jpeg;
        else if (body.size() > typeOffset && equalsIgnoringCase(body.subspan(1, 3), "PNG"))
            format = PictureFormat::png;
    } else if (body.size() > 12 && equalsIgnoringCase(body.subspan(1, 10), "image/jpeg") && body[11] == 0) {
        format = PictureFormat::jpeg;
        typeOffset = 12;
    } else if (body.size() > 11 && equalsIgnoringCase(body.subspan(1, 9), "image/png") && body[10] == 0) {
        format = PictureFormat::png;
        typeOffset = 11;
    }
    if (!format || body[typeOffset] >= kPictureTypeCount)
        return std::nullopt;

    // The description ends with one zero byte, or with a zero UTF-16 code unit in the UTF-16 encodings.
    const bool wideText = body[0] == 0x01 || body[0] == 0x02;
    std::size_t position = typeOffset + 1;
    for (;;) {
        const std::size_t width = wideText ? 2 : 1;
        if (body.size() - position < width)
            return std::nullopt;
        const bool terminator = body[position] == 0 && (!wideText || body[position + 1] == 0);
        position += width;
        if (terminator)
            break;
    }
    const Bytes picture = body.subspan(position);
    const auto& signature = *format == PictureFormat::jpeg ? kJpegSignature : kPngSignature;
    if (picture.size() < signature.size() || !std::equal(signature.begin(), signature.end(), picture.begin()))
        return std::nullopt;
    const auto type = static_cast<PictureType>(body[typeOffset]);
    return std::pair(FrameName::attachedPicture(type),
        std::make_shared<PictureFrame>(std::vector(picture.begin(), picture.end()), type, *format));
}

ParsedFrame parseFrame(FrameKind kind, Bytes body, Id3Version version)
{
    if (kind == FrameKind::attachedPicture)
        return parsePicture(body, version);
    if (kind == FrameKind::comment || kind == FrameKind::unsynchronizedLyrics)
        return parseLocalizedText(kind, body, version);

    const std::optional<std::string> text = frameText(body, version);
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

// One frame, `bytes` from its header to its end.
void readFrame(Id3Tag& tag, Bytes bytes, const Id3Layout& layout)
{
    const Id3Version version = tag.properties.version;
    const std::string_view identifier(reinterpret_cast<const char*>(bytes.data()), layout.identifierSize);
    // Padding, and whatever else is not a frame: no kind of the table, nothing to keep.
    if (!isWellFormedIdentifier(identifier))
        return;
    std::array<std::uint8_t, 2> flags {};
    if (layout.frameFlags)
        flags = { bytes[8], bytes[9] };
    const Bytes body = bytes.subspan(layout.frameHeaderSize);

    const FrameKind kind = frameKind(identifier, version);
    // The second flag byte holds compression, encryption, grouping, unsynchronisation and the
    // data length indicator: such a body is not plain content.
    if (kind != FrameKind::invalid && flags[1] == 0) {
        if (ParsedFrame parsed = parseFrame(kind, body, version)) {
            parsed->second->id3Identifier = std::string(identifier);
            parsed->second->size = static_cast<std::uint32_t>(bytes.size());
            tag.frames[parsed->first] = std::move(parsed->second);
            return;
        }
    }
    tag.preservedFrames.push_back(
        { version, std::string(identifier), flags, std::vector(body.begin(), body.end()) });
}

} // namespace

TagResult<std::optional<Id3TagParser::Header>> Id3TagParser::header(
    std::span<const std::uint8_t> head, std::uint64_t available)
{
    const std::optional<Id3Version> version = head.size() >= 4 ? versionOf(head[3]) : std::nullopt;
    const Id3Layout layout = Id3Layout::of(version.value_or(Id3Version::version3));
    const auto start = layout.tagHeaderStart();
    if (head.size() < 5 || !std::equal(start.begin(), start.end(), head.begin()))
        return std::optional<Header>();
    if (head.size() < Id3Layout::kTagHeaderSize)
        return TagEditorError::corruptedFile;
    const Header header { *version, decodeSynchsafe(readBigEndian32(head.subspan<6, 4>())), head[5] };
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

    Id3Tag tag;
    tag.properties = { tagHeader.size, tagHeader.version };
    const Id3Layout layout = Id3Layout::of(tagHeader.version);
    // Frames and padding fill the tag from its header to 10 + size; a tag body of 10 bytes or
    // fewer holds none. Padding walks as empty frames of an ill-formed identifier, which are
    // dropped.
    const std::uint64_t end = tagHeader.tagLength();
    std::uint64_t position = Id3Layout::kTagHeaderSize;
    if (tagHeader.size < 11)
        return std::optional(std::move(tag));
    while (position + layout.frameHeaderSize <= end) {
        std::uint32_t contentSize
            = readBigEndian32(bytes.subspan(position + layout.frameSizeOffset).first<4>())
            & layout.frameSizeMask;
        if (layout.synchsafeFrameSize)
            contentSize = decodeSynchsafe(contentSize);
        const std::uint64_t frameSize = layout.frameHeaderSize + std::uint64_t { contentSize };
        if (frameSize > end - position)
            break;
        readFrame(tag, bytes.subspan(position, frameSize), layout);
        position += frameSize;
    }
    return std::optional(std::move(tag));
}

bool Id3TagParser::frameWalkIsFaithful(const Header& header) noexcept
{
    constexpr std::uint8_t kUnsynchronisation = 0x80;
    constexpr std::uint8_t kExtendedHeaderOrCompression = 0x40; // compression in version 2.2
    return (header.flags & (kUnsynchronisation | kExtendedHeaderOrCompression)) == 0;
}

} // namespace sondrel::tags
