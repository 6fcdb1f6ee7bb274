#include "Id3TagBuilder.h"

#include "CivilCalendar.h"
#include "DateTimeFrame.h"
#include "DayMonthFrame.h"
#include "GenreFrame.h"
#include "HourMinuteFrame.h"
#include "Id3Layout.h"
#include "Id3TagParser.h"
#include "IntegerFrame.h"
#include "LocalizedTextFrame.h"
#include "PartOfTotalFrame.h"
#include "PictureFrame.h"
#include "TextCodec.h"
#include "YearFrame.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace sondrel::tags {
namespace {

using Body = std::vector<std::uint8_t>;

// How a kind's body is written.
enum class BodyStyle {
    utf16Text, // 0x01, UTF-16 with byte-order mark, 0x00 0x00
    latinNumber, // 0x00, the value's digits or text as UTF-8 bytes, 0x00
    picture,
    localizedText,
};

struct Creator {
    FrameKind kind;
    BodyStyle style;
};

constexpr std::array<Creator, 37> kCreators { {
    { FrameKind::album, BodyStyle::utf16Text },
    { FrameKind::albumArtist, BodyStyle::utf16Text },
    { FrameKind::artist, BodyStyle::utf16Text },
    { FrameKind::title, BodyStyle::utf16Text },
    { FrameKind::genre, BodyStyle::latinNumber },
    { FrameKind::trackPosition, BodyStyle::latinNumber },
    { FrameKind::attachedPicture, BodyStyle::picture },
    { FrameKind::composer, BodyStyle::utf16Text },
    { FrameKind::conductor, BodyStyle::utf16Text },
    { FrameKind::contentGrouping, BodyStyle::utf16Text },
    { FrameKind::copyright, BodyStyle::utf16Text },
    { FrameKind::encodedBy, BodyStyle::utf16Text },
    { FrameKind::encoderSettings, BodyStyle::utf16Text },
    { FrameKind::fileOwner, BodyStyle::utf16Text },
    { FrameKind::lyricist, BodyStyle::utf16Text },
    { FrameKind::mixArtist, BodyStyle::utf16Text },
    { FrameKind::publisher, BodyStyle::utf16Text },
    { FrameKind::subtitle, BodyStyle::utf16Text },
    { FrameKind::beatsPerMinute, BodyStyle::latinNumber },
    { FrameKind::discPosition, BodyStyle::latinNumber },
    { FrameKind::originalFilename, BodyStyle::utf16Text },
    { FrameKind::lengthInMilliseconds, BodyStyle::latinNumber },
    { FrameKind::sizeInBytes, BodyStyle::latinNumber },
    { FrameKind::comment, BodyStyle::localizedText },
    { FrameKind::unsynchronizedLyrics, BodyStyle::localizedText },
    { FrameKind::recordingYear, BodyStyle::latinNumber },
    { FrameKind::recordingDayMonth, BodyStyle::latinNumber },
    { FrameKind::recordingHourMinute, BodyStyle::latinNumber },
    { FrameKind::recordingDateTime, BodyStyle::latinNumber },
    // Free text, so UTF-16 like the other text frames; the two movement numbers are integers.
    { FrameKind::grouping, BodyStyle::utf16Text },
    { FrameKind::movementName, BodyStyle::utf16Text },
    { FrameKind::movementIndex, BodyStyle::latinNumber },
    { FrameKind::movementCount, BodyStyle::latinNumber },
    { FrameKind::podcastCategory, BodyStyle::utf16Text },
    { FrameKind::podcastDescription, BodyStyle::utf16Text },
    { FrameKind::podcastID, BodyStyle::utf16Text },
    { FrameKind::podcastKeywords, BodyStyle::utf16Text },
} };

std::string twoDigits(int value)
{
    std::array<char, 16> text {};
    std::snprintf(text.data(), text.size(), "%02d", value);
    return text.data();
}

// The text of a value kind; none when the frame has no value to write.
std::optional<std::string> latinText(FrameKind kind, const Id3Frame& frame)
{
    switch (kind) {
    case FrameKind::genre:
        if (const auto* genre = dynamic_cast<const GenreFrame*>(&frame)) {
            // Appends only: GCC 12 misreports -Wrestrict on "(" + std::string at -O3.
            std::string text;
            if (genre->identifier) {
                text += '(';
                text += std::to_string(static_cast<int>(*genre->identifier));
                text += ')';
            }
            text += genre->description.value_or("");
            return text;
        }
        return std::nullopt;
    case FrameKind::trackPosition:
    case FrameKind::discPosition:
        if (const auto* position = dynamic_cast<const PartOfTotalFrame*>(&frame)) {
            std::string text = std::to_string(position->part);
            if (position->total) {
                text += '/';
                text += std::to_string(*position->total);
            }
            return text;
        }
        return std::nullopt;
    case FrameKind::recordingYear:
        if (const auto* year = dynamic_cast<const YearFrame*>(&frame); year && year->year)
            return std::to_string(*year->year);
        return std::nullopt;
    case FrameKind::recordingDayMonth:
        if (const auto* date = dynamic_cast<const DayMonthFrame*>(&frame); date && date->day && date->month)
            return twoDigits(*date->day) + twoDigits(*date->month);
        return std::nullopt;
    case FrameKind::recordingHourMinute:
        if (const auto* time = dynamic_cast<const HourMinuteFrame*>(&frame);
            time && time->hour && time->minute)
            return twoDigits(*time->hour) + twoDigits(*time->minute);
        return std::nullopt;
    case FrameKind::recordingDateTime:
        if (const auto* moment = dynamic_cast<const DateTimeFrame*>(&frame);
            moment && moment->year && moment->month && moment->day && moment->hour && moment->minute) {
            // Months outside 1 to 12 carry into the year.
            const std::int64_t monthIndex = std::int64_t { *moment->month } - 1;
            const std::int64_t yearCarry = monthIndex >= 0 ? monthIndex / 12 : -((11 - monthIndex) / 12);
            const auto month = static_cast<int>(monthIndex - yearCarry * 12 + 1);
            const std::int64_t days = daysFromCivil(*moment->year + yearCarry, month, 1) + *moment->day - 1;
            const double seconds
                = static_cast<double>(days) * 86400.0 + *moment->hour * 3600.0 + *moment->minute * 60.0;
            std::array<char, 64> text {};
            std::snprintf(text.data(), text.size(), "%.0f", seconds);
            return text.data();
        }
        return std::nullopt;
    default:
        if (const auto* integer = dynamic_cast<const IntegerFrame*>(&frame); integer && integer->value)
            return std::to_string(*integer->value);
        return std::nullopt;
    }
}

// Each body writer appends to `out` and returns true, or appends nothing and returns false when
// the frame has nothing to write.

bool isAscii(std::string_view text) noexcept
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool appendPictureBody(Body& out, const Id3Frame& frame, Id3Version version)
{
    const auto* picture = dynamic_cast<const PictureFrame*>(&frame);
    if (picture == nullptr)
        return false;
    const bool jpeg = picture->format == PictureFormat::jpeg;
    const bool version2 = version == Id3Version::version2;
    std::string_view mediaType = version2 ? (jpeg ? "JPG" : "PNG") : (jpeg ? "image/jpeg" : "image/png");
    // Version 2.2 has room for a three-letter image format only.
    if (!picture->mimeType.empty() && isAscii(picture->mimeType)
        && (!version2 || picture->mimeType.size() == 3) && picture->mimeType.find('\0') == std::string::npos)
        mediaType = picture->mimeType;
    const bool latin1 = TextCodec::isLatin1(picture->description);
    // Room for the padding too, so that a large picture is not copied again when it is added.
    out.reserve(out.size() + mediaType.size() + picture->description.size() * 2 + picture->picture.size() + 8
        + Id3TagBuilder::kPaddingSize);
    out.push_back(latin1 ? 0x00 : 0x01);
    out.insert(out.end(), mediaType.begin(), mediaType.end());
    if (!version2)
        out.push_back(0x00);
    out.push_back(static_cast<std::uint8_t>(picture->type));
    if (latin1) {
        TextCodec::appendLatin1(out, picture->description);
        out.push_back(0x00);
    } else {
        TextCodec::appendUtf16WithByteOrderMark(out, picture->description);
        out.push_back(0x00);
        out.push_back(0x00);
    }
    out.insert(out.end(), picture->picture.begin(), picture->picture.end());
    return true;
}

bool appendLocalizedTextBody(Body& out, const Id3Frame& frame)
{
    const auto* text = dynamic_cast<const LocalizedTextFrame*>(&frame);
    if (text == nullptr)
        return false;
    out.push_back(0x01);
    // The language field has exactly three bytes; ID3v2 marks an unknown language "XXX".
    const std::string_view code = text->language == FrameLanguage::unknown ? "XXX" : rawValue(text->language);
    out.insert(out.end(), code.begin(), code.end());
    TextCodec::appendUtf16WithByteOrderMark(out, text->contentDescription);
    out.push_back(0x00);
    out.push_back(0x00);
    TextCodec::appendUtf16WithByteOrderMark(out, text->content);
    return true;
}

bool appendBody(Body& out, const Creator& creator, const Id3Frame& frame, Id3Version version)
{
    switch (creator.style) {
    case BodyStyle::utf16Text:
        if (const auto* text = dynamic_cast<const TextFrame*>(&frame)) {
            out.push_back(0x01);
            TextCodec::appendUtf16WithByteOrderMark(out, text->content);
            out.push_back(0x00);
            out.push_back(0x00);
            return true;
        }
        return false;
    case BodyStyle::latinNumber:
        if (const std::optional<std::string> text = latinText(creator.kind, frame)) {
            // Digits are ASCII; a genre's free text may not be, and then goes as UTF-16.
            if (isAscii(*text)) {
                out.push_back(0x00);
                out.insert(out.end(), text->begin(), text->end());
                out.push_back(0x00);
            } else {
                out.push_back(0x01);
                TextCodec::appendUtf16WithByteOrderMark(out, *text);
                out.push_back(0x00);
                out.push_back(0x00);
            }
            return true;
        }
        return false;
    case BodyStyle::picture:
        return appendPictureBody(out, frame, version);
    case BodyStyle::localizedText:
        return appendLocalizedTextBody(out, frame);
    }
    return false;
}

// The body of a frame as read when its value is still the one that body holds, else the body
// rendered from its value.
bool appendFrameBody(Body& out, const Creator& creator, const Id3Frame& frame, Id3Version version)
{
    if (const auto& read = frame.readBody; read && read->version == version) {
        Body now;
        Body asRead;
        const std::shared_ptr<const Id3Frame> value
            = Id3TagParser::parseBody(creator.kind, read->bytes, version);
        if (value && appendBody(now, creator, frame, version) && appendBody(asRead, creator, *value, version)
            && now == asRead) {
            out.insert(out.end(), read->bytes.begin(), read->bytes.end());
            return true;
        }
    }
    return appendBody(out, creator, frame, version);
}

// Appends frames in place (header first, size filled in once the body is there) and keeps the
// whole tag below 2^28 bytes.
class TagWriter {
public:
    explicit TagWriter(Id3Version version)
        : m_layout(Id3Layout::of(version))
    {
        m_bytes.resize(Id3Layout::kTagHeaderSize); // filled in by finish()
    }

    [[nodiscard]] Body& bytes() noexcept { return m_bytes; }

    // Starts a frame; its body is appended to bytes(). The frame's offset.
    std::size_t beginFrame(std::string_view identifier, std::span<const std::uint8_t> flags)
    {
        const std::size_t start = m_bytes.size();
        m_bytes.insert(m_bytes.end(), identifier.begin(), identifier.end());
        m_bytes.resize(start + m_layout.frameHeaderSize - flags.size());
        m_bytes.insert(m_bytes.end(), flags.begin(), flags.end());
        return start;
    }

    // Fills in the frame's size; false (and the frame removed) when it does not fit.
    [[nodiscard]] bool endFrame(std::size_t start)
    {
        const std::size_t bodySize = m_bytes.size() - start - m_layout.frameHeaderSize;
        if (bodySize > m_layout.maxFrameBodySize()
            || m_bytes.size() + Id3TagBuilder::kPaddingSize >= Id3Layout::kMaxTagSize) {
            m_bytes.resize(start);
            return false;
        }
        const auto size = static_cast<std::uint32_t>(bodySize);
        const std::uint32_t coded = m_layout.synchsafeFrameSize ? encodeSynchsafe(size) : size;
        const std::size_t sizeEnd = start + m_layout.frameSizeOffset + 4;
        // Version 2.2 has three size bytes; the fourth byte from the offset is the identifier's last.
        const std::size_t sizeBytes
            = m_layout.frameHeaderSize - m_layout.identifierSize - (m_layout.frameFlags ? 2 : 0);
        for (std::size_t index = 0; index < sizeBytes; ++index)
            m_bytes[sizeEnd - 1 - index] = static_cast<std::uint8_t>(coded >> (8 * index) & 0xFF);
        ++m_frameCount;
        return true;
    }

    // Drops a frame begun but left without a body.
    void abandonFrame(std::size_t start) { m_bytes.resize(start); }

    [[nodiscard]] std::size_t frameCount() const noexcept { return m_frameCount; }

    // Padding, then the header in front.
    [[nodiscard]] Body finish()
    {
        m_bytes.resize(m_bytes.size() + Id3TagBuilder::kPaddingSize, 0x00);
        const auto size = static_cast<std::uint32_t>(m_bytes.size() - Id3Layout::kTagHeaderSize);
        const auto start = m_layout.tagHeaderStart();
        std::copy(start.begin(), start.end(), m_bytes.begin());
        m_bytes[5] = 0x00; // flags
        const std::uint32_t coded = encodeSynchsafe(size);
        for (std::size_t index = 0; index < 4; ++index)
            m_bytes[6 + index] = static_cast<std::uint8_t>(coded >> (8 * (3 - index)) & 0xFF);
        return std::move(m_bytes);
    }

private:
    Id3Layout m_layout;
    Body m_bytes;
    std::size_t m_frameCount = 0;
};

bool heldOncePerTag(FrameKind kind) noexcept
{
    return kind != FrameKind::attachedPicture && kind != FrameKind::comment
        && kind != FrameKind::unsynchronizedLyrics;
}

} // namespace

TagResult<std::vector<std::uint8_t>> Id3TagBuilder::build(const Id3Tag& tag)
{
    const Id3Version version = tag.properties.version;
    const Id3Layout layout = Id3Layout::of(version);
    const std::array<std::uint8_t, 2> noFlags {};
    const std::span<const std::uint8_t> modelledFlags
        = layout.frameFlags ? std::span<const std::uint8_t>(noFlags) : std::span<const std::uint8_t>();
    TagWriter writer(version);
    std::set<std::string_view> writtenOnce;

    for (const Creator& creator : kCreators) {
        const std::optional<std::string_view> identifier = frameIdentifier(creator.kind, version);
        if (!identifier)
            continue;
        // The map orders a kind's names by picture type or language.
        for (const auto& [name, frame] : tag.frames) {
            if (name.kind() != creator.kind || !frame)
                continue;
            const std::size_t start = writer.beginFrame(*identifier, modelledFlags);
            if (!appendFrameBody(writer.bytes(), creator, *frame, version)) {
                writer.abandonFrame(start);
                continue;
            }
            if (!writer.endFrame(start))
                return TagEditorError::tagTooBig;
            if (heldOncePerTag(creator.kind))
                writtenOnce.insert(*identifier);
        }
    }
    for (const PreservedFrame& frame : tag.preservedFrames) {
        if (frame.version != version || frame.identifier.size() != layout.identifierSize
            || writtenOnce.contains(frame.identifier))
            continue;
        const std::size_t start = writer.beginFrame(frame.identifier,
            layout.frameFlags ? std::span<const std::uint8_t>(frame.flags) : std::span<const std::uint8_t>());
        writer.bytes().insert(writer.bytes().end(), frame.body.begin(), frame.body.end());
        if (!writer.endFrame(start))
            return TagEditorError::tagTooBig;
    }
    if (writer.frameCount() == 0)
        return TagEditorError::invalidTagData;
    return writer.finish();
}

} // namespace sondrel::tags
