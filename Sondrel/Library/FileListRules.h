#pragma once

#include "AnalysisModel.h"
#include "AudioFile.h"
#include "QualityThreshold.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::app {

// What the file list shows for each record: which records are visible, the bitrate and issue
// texts, the transcode rule and the DJ-ready verdict. Pure functions shared by the table and the
// command line; texts are UTF-8.
class FileListRules {
public:
    FileListRules() = delete;

    // The records of `source` (a folder's files or the whole library), in order, that pass both
    // filters: with `showFailedOnly`, status `failed` only (not `error`); with a non-empty
    // search text, those whose name, artist, album or title, lower-cased, contains the
    // lower-cased text. The search text is not trimmed.
    [[nodiscard]] static std::vector<AudioFile> filteredFiles(
        const std::vector<AudioFile>& source, bool showFailedOnly, std::string_view searchText);

    // One record against the two filters of filteredFiles(); `loweredSearch` is the search text
    // already lower-cased, in UTF-8 (empty: no search).
    [[nodiscard]] static bool isVisible(
        const AudioFile& file, bool showFailedOnly, std::string_view loweredSearch);

    // What a search looks in: the record's name, artist, album and title, lower-cased, in UTF-8,
    // separated by NUL. A large library keeps these to search again without converting every tag.
    [[nodiscard]] static std::string searchKey(const AudioFile& file);
    // Whether a search key holds the lower-cased UTF-8 search text. A text without NUL never
    // matches across two fields; an empty one matches every key.
    [[nodiscard]] static bool matchesSearch(
        std::string_view searchKey, std::string_view loweredSearch) noexcept;

    // What every path inside the folder, at any depth, begins with: the folder's path with one
    // trailing "/", so that "Live" does not take in its sibling "Live Sets".
    [[nodiscard]] static std::string folderPrefix(const std::filesystem::path& folder);
    // Whether the file is inside the folder whose folderPrefix() this is.
    [[nodiscard]] static bool isInFolder(const AudioFile& file, std::string_view folderPrefix) noexcept
    {
        return file.url().native().starts_with(folderPrefix);
    }

    // The claimed bitrate ("320kbps"); without one "Uncompressed" for WAV, AIFF and FLAC, else "-".
    [[nodiscard]] static std::string bitrateText(const AudioFile& file);

    // "Lossless" for a lossless-rated WAV, AIFF or FLAC file, else the estimate ("128kbps").
    [[nodiscard]] static std::string qualityText(
        const core::AnalysisResult& result, core::AudioFormat format);

    // None without a result. "Below quality threshold" when the cutoff does not reach the
    // threshold's minimum (a cutoff that is not a number does not), else the transcode text.
    [[nodiscard]] static std::optional<std::string> issueText(
        const AudioFile& file, QualityThreshold threshold);

    // What the Issue column says: the failure's description for a file that could not be
    // analysed; else issueText(); else "Clipping" for a result whose only fault is severe
    // clipping (a verdict the issue text would not explain); none otherwise.
    [[nodiscard]] static std::optional<std::string> reasonText(
        const AudioFile& file, QualityThreshold threshold);

    // The transcode rule: "Lossy source" for a WAV, AIFF or FLAC file rated suspicious;
    // otherwise "Marked as <C>k" when the claimed bitrate C is at least 256 and the detected D
    // at most 192, or C at least 192 and D at most 128; else none.
    [[nodiscard]] static std::optional<std::string> issueDescription(std::optional<std::int64_t> claimed,
        std::int64_t detected, core::AudioFormat format, core::QualityRating rating);

    // Whether the transcode warning shows: the rule above gives a text. No without a result.
    [[nodiscard]] static bool isTranscode(const AudioFile& file);

    struct DJReadyVerdict {
        enum class State { analysisError, notScanned, ready, notReady };

        State state = State::notScanned;
        // The manual-override mark shows; only with a result.
        bool hasOverride = false;
        std::string tooltip;
        std::string accessibilityLabel;

        bool operator==(const DJReadyVerdict&) const = default;
    };

    // Without a result: the analysis error, or not scanned. With one: ready when the override
    // says so or, without an override, when the result passes (rating and clipping, not the
    // threshold). Given the threshold the status was judged by, a tooltip whose verdict
    // disagrees with the status says which standard it applies ("Not DJ ready: below 320 kbps;
    // passes your 128 kbps threshold").
    [[nodiscard]] static DJReadyVerdict djReadyVerdict(
        const AudioFile& file, std::optional<QualityThreshold> threshold = std::nullopt);
};

} // namespace sondrel::app
