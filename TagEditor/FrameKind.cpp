#include "FrameKind.h"

#include <array>

namespace sondrel::tags {
namespace {

struct Identifiers {
    FrameKind kind;
    std::string_view version2; // empty: the version has no such frame
    std::string_view version3;
    std::string_view version4;
};

constexpr std::array<Identifiers, 37> kIdentifiers { {
    { FrameKind::title, "TT2", "TIT2", "TIT2" },
    { FrameKind::artist, "TP1", "TPE1", "TPE1" },
    { FrameKind::album, "TAL", "TALB", "TALB" },
    { FrameKind::albumArtist, "TP2", "TPE2", "TPE2" },
    { FrameKind::composer, "TCM", "TCOM", "TCOM" },
    { FrameKind::conductor, "TP3", "TPE3", "TPE3" },
    { FrameKind::contentGrouping, "TT1", "TIT1", "TIT1" },
    { FrameKind::copyright, "TCR", "TCOP", "TCOP" },
    { FrameKind::encodedBy, "TEN", "TENC", "TENC" },
    { FrameKind::encoderSettings, "TSS", "TSSE", "TSSE" },
    { FrameKind::fileOwner, "", "TOWN", "TOWN" },
    { FrameKind::lyricist, "TXT", "TEXT", "TEXT" },
    { FrameKind::mixArtist, "TP4", "TPE4", "TPE4" },
    { FrameKind::publisher, "TPB", "TPUB", "TPUB" },
    { FrameKind::subtitle, "TT3", "TIT3", "TIT3" },
    { FrameKind::attachedPicture, "PIC", "APIC", "APIC" },
    { FrameKind::genre, "TCO", "TCON", "TCON" },
    { FrameKind::trackPosition, "TRK", "TRCK", "TRCK" },
    { FrameKind::discPosition, "TPA", "TPOS", "TPOS" },
    { FrameKind::beatsPerMinute, "TBP", "TBPM", "TBPM" },
    { FrameKind::originalFilename, "TOF", "TOFN", "TOFN" },
    { FrameKind::lengthInMilliseconds, "TLE", "TLEN", "TLEN" },
    { FrameKind::sizeInBytes, "TSI", "TSIZ", "" },
    { FrameKind::unsynchronizedLyrics, "ULT", "USLT", "USLT" },
    { FrameKind::comment, "COM", "COMM", "COMM" },
    { FrameKind::recordingDayMonth, "TDA", "TDAT", "" },
    { FrameKind::recordingYear, "TYE", "TYER", "" },
    { FrameKind::recordingHourMinute, "TIM", "TIME", "" },
    { FrameKind::recordingDateTime, "", "", "TDRC" },
    { FrameKind::grouping, "", "GRP1", "GRP1" },
    { FrameKind::movementName, "", "MVNM", "MVNM" },
    { FrameKind::movementIndex, "", "MVIN", "MVIN" },
    { FrameKind::movementCount, "", "MVCN", "MVCN" },
    { FrameKind::podcastCategory, "", "TCAT", "TCAT" },
    { FrameKind::podcastDescription, "", "TDES", "TDES" },
    { FrameKind::podcastID, "", "TGID", "TGID" },
    { FrameKind::podcastKeywords, "", "TKWD", "TKWD" },
} };

constexpr std::string_view inVersion(const Identifiers& entry, Id3Version version) noexcept
{
    switch (version) {
    case Id3Version::version2:
        return entry.version2;
    case Id3Version::version3:
        return entry.version3;
    case Id3Version::version4:
        return entry.version4;
    }
    return {};
}

} // namespace

std::optional<std::string_view> frameIdentifier(FrameKind kind, Id3Version version) noexcept
{
    for (const Identifiers& entry : kIdentifiers) {
        if (entry.kind == kind) {
            const std::string_view identifier = inVersion(entry, version);
            return identifier.empty() ? std::nullopt : std::optional(identifier);
        }
    }
    return std::nullopt;
}

FrameKind frameKind(std::string_view identifier, Id3Version version) noexcept
{
    if (identifier.empty())
        return FrameKind::invalid;
    for (const Identifiers& entry : kIdentifiers) {
        if (inVersion(entry, version) == identifier)
            return entry.kind;
    }
    return FrameKind::invalid;
}

} // namespace sondrel::tags
