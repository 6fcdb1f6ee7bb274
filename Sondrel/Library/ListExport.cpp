#include "ListExport.h"

#include "AtomicFile.h"
#include "AudioDecoder.h"
#include "FileListRules.h"
#include "JsonSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <sstream>

namespace sondrel::app {
namespace {

std::string statusText(const ScanStatus& status)
{
    switch (status.kind()) {
    case ScanStatus::Kind::pending:
        return "pending";
    case ScanStatus::Kind::scanning:
        return "scanning";
    case ScanStatus::Kind::passed:
        return "passed";
    case ScanStatus::Kind::failed:
        return "failed";
    case ScanStatus::Kind::error:
        return "error";
    }
    return "pending";
}

std::optional<bool> djReady(const AudioFile& file)
{
    using State = FileListRules::DJReadyVerdict::State;
    switch (FileListRules::djReadyVerdict(file).state) {
    case State::ready:
        return true;
    case State::notReady:
        return false;
    case State::analysisError:
    case State::notScanned:
        return std::nullopt;
    }
    return std::nullopt;
}

std::string isoTime(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

template <typename T> core::json::Object optionalJson(const std::optional<T>& value)
{
    return value ? core::json::Object(*value) : core::json::Object(nullptr);
}

std::string jsonLine(const AudioFile& file, QualityThreshold threshold)
{
    using core::json::shortest;
    core::json::Object line;
    line["path"] = file.url().string();
    line["name"] = file.name();
    line["format"] = core::rawValue(file.format());
    line["fileSize"] = file.fileSize();
    line["claimedBitrate"] = optionalJson(file.claimedBitrate());
    line["title"] = optionalJson(file.title());
    line["artist"] = optionalJson(file.artist());
    line["album"] = optionalJson(file.album());
    line["status"] = statusText(file.status());
    if (file.status().kind() == ScanStatus::Kind::error)
        line["error"] = file.status().errorDescription();
    if (const auto& r = file.result()) {
        line["result"] = { { "cutoffFrequency", shortest(r->cutoffFrequency) },
            { "estimatedBitrate", r->estimatedBitrate }, { "rating", core::rawValue(r->rating) },
            { "confidence", shortest(r->confidence) }, { "passesThreshold", r->passesThreshold() },
            { "clipping", core::json::toJson(r->clipping) } };
        core::json::putEvidence(line["result"], r->lossyEvidence, r->encoderPruning);
        core::json::putEncoder(line["result"], r->encoder, r->encoderLowpass);
    } else {
        line["result"] = nullptr;
    }
    if (const auto& o = file.userOverride()) {
        line["userOverride"] = { { "djReady", o->djReady },
            { "qualityRating", core::rawValue(o->qualityRating) }, { "timestamp", isoTime(o->timestamp) } };
    } else {
        line["userOverride"] = nullptr;
    }
    line["djReady"] = optionalJson(djReady(file));
    line["bitrateText"] = FileListRules::bitrateText(file);
    line["qualityText"] = file.result()
        ? core::json::Object(FileListRules::qualityText(*file.result(), file.format()))
        : core::json::Object(nullptr);
    line["issue"] = optionalJson(FileListRules::issueText(file, threshold));
    return core::json::text(line);
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// A tag that holds only spaces names nothing.
std::optional<std::string> tagText(const std::optional<std::string>& tag)
{
    if (!tag || tag->find_first_not_of(" \t\r\n") == std::string::npos)
        return std::nullopt;
    return core::json::validUtf8(*tag);
}

// "Artist - Title", the file name without its extension standing in for a missing title. The
// line ends at a line break, so none stays in it.
std::string playlistTitle(const AudioFile& file)
{
    const auto artist = tagText(file.artist());
    std::string title = tagText(file.title()).value_or(core::json::validUtf8(file.url().stem().string()));
    std::string shown = artist ? *artist + " - " + title : title;
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return shown;
}

// The path as the playlist line: the plain absolute path, or, where that line could not carry
// it (a line break in a name, bytes that are not UTF-8), a file URL with those bytes
// percent-encoded, which players resolve to the same file.
std::string playlistLocation(const std::filesystem::path& url)
{
    const std::string path = std::filesystem::absolute(url).lexically_normal().string();
    if (path.find_first_of("\r\n") == std::string::npos && core::json::validUtf8(path) == path)
        return path;
    std::string encoded = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return encoded;
}

} // namespace

std::optional<ListExport::Format> ListExport::formatFor(const std::filesystem::path& file)
{
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (extension == ".csv")
        return Format::csv;
    if (extension == ".jsonl" || extension == ".ndjson" || extension == ".json")
        return Format::jsonLines;
    if (extension == ".m3u8" || extension == ".m3u")
        return Format::m3u8;
    return std::nullopt;
}

const char* ListExport::extension(Format format) noexcept
{
    switch (format) {
    case Format::csv:
        return "csv";
    case Format::jsonLines:
        return "jsonl";
    case Format::m3u8:
        return "m3u8";
    }
    return "csv";
}

std::optional<double> ListExport::streamDuration(const std::filesystem::path& file)
{
    auto decoder = core::openAudioFile(file);
    if (!decoder || (*decoder)->sampleRate() <= 0)
        return std::nullopt;
    return static_cast<double>((*decoder)->lengthInFrames()) / (*decoder)->sampleRate();
}

const std::vector<std::string>& ListExport::columnTitles()
{
    static const std::vector<std::string> titles
        = { "Status", "DJ Ready", "Title", "Artist", "Bitrate", "Quality", "Issue", "Path" };
    return titles;
}

std::vector<std::string> ListExport::columns(const AudioFile& file, QualityThreshold threshold)
{
    const auto ready = djReady(file);
    return { statusText(file.status()), ready ? (*ready ? "yes" : "no") : "-",
        core::json::validUtf8(file.title().value_or(file.name())),
        core::json::validUtf8(file.artist().value_or("")), FileListRules::bitrateText(file),
        file.result() ? FileListRules::qualityText(*file.result(), file.format()) : "-",
        FileListRules::reasonText(file, threshold).value_or(""), core::json::validUtf8(file.url().string()) };
}

void ListExport::write(Format format, std::span<const AudioFile* const> files, QualityThreshold threshold,
    std::ostream& out, const Durations& durations)
{
    switch (format) {
    case Format::jsonLines:
        for (const AudioFile* file : files)
            out << jsonLine(*file, threshold) << '\n';
        return;
    case Format::csv: {
        const auto printRow = [&](const std::vector<std::string>& row) {
            for (std::size_t i = 0; i < row.size(); ++i)
                out << (i ? "," : "") << csvField(row[i]);
            out << '\n';
        };
        printRow(columnTitles());
        for (const AudioFile* file : files)
            printRow(columns(*file, threshold));
        return;
    }
    case Format::m3u8:
        out << "#EXTM3U\n";
        for (const AudioFile* file : files) {
            const auto seconds = durations ? durations(file->url()) : std::nullopt;
            const long long whole
                = seconds && std::isfinite(*seconds) && *seconds >= 0 ? std::llround(*seconds) : -1;
            out << "#EXTINF:" << whole << ',' << playlistTitle(*file) << '\n'
                << playlistLocation(file->url()) << '\n';
        }
        return;
    }
}

Status ListExport::writeFile(const std::filesystem::path& target, Format format,
    std::span<const AudioFile* const> files, QualityThreshold threshold,
    const std::optional<struct stat>& replacing, const Durations& durations)
{
    std::ostringstream text;
    write(format, files, threshold, text, durations);
    const std::string bytes = std::move(text).str();
    auto file = AtomicFile::create(target, replacing ? Placement::replace : Placement::keepExisting);
    if (!file)
        return Error { file.error().message() };
    if (replacing)
        file->setReplacedFile(*replacing);
    std::error_code error
        = file->append(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (!error)
        error = file->commit();
    if (error)
        return Error { error.message() };
    return Ok {};
}

} // namespace sondrel::app
