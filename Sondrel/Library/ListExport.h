#pragma once

#include "AudioFile.h"
#include "QualityThreshold.h"
#include "Result.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace sondrel::app {

// A list of files as other programs take it: CSV for a spreadsheet, JSON Lines for scripts, an
// M3U8 playlist for DJ software. The one writer of the command line's `scan` output and of the
// window's "Export List...". Texts are UTF-8; the files are written in the order given.
class ListExport {
public:
    ListExport() = delete;

    enum class Format { csv, jsonLines, m3u8 };

    // The format a file name asks for by its extension (.csv; .jsonl, .ndjson or .json;
    // .m3u8 or .m3u), case-insensitively; none for any other.
    [[nodiscard]] static std::optional<Format> formatFor(const std::filesystem::path& file);
    // The extension a name of this format gets ("csv", "jsonl", "m3u8").
    [[nodiscard]] static const char* extension(Format format) noexcept;

    // Seconds of audio in a file; none when it cannot be told.
    using Durations = std::function<std::optional<double>(const std::filesystem::path&)>;
    // Reads the length from the stream's header through the core's decoder; blocks on the disk.
    [[nodiscard]] static std::optional<double> streamDuration(const std::filesystem::path& file);

    // The titles of the command line's table and of the CSV header.
    [[nodiscard]] static const std::vector<std::string>& columnTitles();
    // One row of that table: status, DJ ready, title (the file name without one), artist,
    // claimed bitrate, detected quality, issue (an error's text for an error), path.
    [[nodiscard]] static std::vector<std::string> columns(const AudioFile& file, QualityThreshold threshold);

    // Writes the files in `format`: CSV with a header row, quoted where a field holds a comma, a
    // quote or a line break; one JSON object per line; or "#EXTM3U" and, per file,
    // "#EXTINF:SECONDS,ARTIST - TITLE" and its absolute path. Only the playlist asks `durations`
    // (none, or no answer: -1, the playlist's "unknown").
    static void write(Format format, std::span<const AudioFile* const> files, QualityThreshold threshold,
        std::ostream& out, const Durations& durations = streamDuration);

    // write() into `target`, atomically: no reader sees half a list, and a failure leaves what was
    // there. A file already at `target` is replaced only while it is still the one `replacing`
    // describes (the one the user agreed to replace, stat() taken then); without `replacing` an
    // existing file is kept and the write fails. The error is the system's text.
    [[nodiscard]] static Status writeFile(const std::filesystem::path& target, Format format,
        std::span<const AudioFile* const> files, QualityThreshold threshold,
        const std::optional<struct stat>& replacing, const Durations& durations = streamDuration);
};

} // namespace sondrel::app
