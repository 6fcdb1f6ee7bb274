#include "FileListRules.h"

#include <QString>

#include <algorithm>
#include <iterator>

namespace sondrel::app {

namespace {

[[nodiscard]] QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void appendLowered(std::string& key, std::string_view field)
{
    // ASCII lower-cases to ASCII byte by byte; only other text needs the full case mapping.
    if (std::all_of(
            field.begin(), field.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::transform(field.begin(), field.end(), std::back_inserter(key),
            [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        return;
    }
    key += toQString(field).toLower().toStdString();
}

} // namespace

std::string FileListRules::searchKey(const AudioFile& file)
{
    std::string key;
    appendLowered(key, file.name());
    for (const auto* field : { &file.artist(), &file.album(), &file.title() }) {
        key += '\0';
        if (*field)
            appendLowered(key, **field);
    }
    return key;
}

bool FileListRules::matchesSearch(std::string_view searchKey, std::string_view loweredSearch) noexcept
{
    return searchKey.find(loweredSearch) != std::string_view::npos;
}

bool FileListRules::isVisible(const AudioFile& file, bool showFailedOnly, std::string_view loweredSearch)
{
    if (showFailedOnly && file.status().kind() != ScanStatus::Kind::failed)
        return false;
    return loweredSearch.empty() || matchesSearch(searchKey(file), loweredSearch);
}

std::vector<AudioFile> FileListRules::filteredFiles(
    const std::vector<AudioFile>& source, bool showFailedOnly, std::string_view searchText)
{
    const std::string needle = toQString(searchText).toLower().toStdString();
    std::vector<AudioFile> visible;
    for (const AudioFile& file : source) {
        if (isVisible(file, showFailedOnly, needle))
            visible.push_back(file);
    }
    return visible;
}

std::string FileListRules::folderPrefix(const std::filesystem::path& folder)
{
    std::string prefix = folder.native();
    if (prefix.empty() || prefix.back() != '/')
        prefix += '/';
    return prefix;
}

std::string FileListRules::bitrateText(const AudioFile& file)
{
    if (file.claimedBitrate())
        return std::to_string(*file.claimedBitrate()) + "kbps";
    return core::isLossless(file.format()) ? "Uncompressed" : "-";
}

std::string FileListRules::qualityText(const core::AnalysisResult& result, core::AudioFormat format)
{
    if (core::isLossless(format) && result.rating == core::QualityRating::lossless)
        return "Lossless";
    return std::to_string(result.estimatedBitrate) + "kbps";
}

std::optional<std::string> FileListRules::issueText(const AudioFile& file, QualityThreshold threshold)
{
    if (!file.result())
        return std::nullopt;
    const core::AnalysisResult& result = *file.result();
    if (!meetsThreshold(result, threshold))
        return "Below quality threshold";
    return issueDescription(file.claimedBitrate(), result.estimatedBitrate, file.format(), result.rating);
}

std::optional<std::string> FileListRules::reasonText(const AudioFile& file, QualityThreshold threshold)
{
    if (!file.result()) {
        const ScanStatus& status = file.status();
        if (status.kind() == ScanStatus::Kind::error && !status.errorDescription().empty())
            return status.errorDescription();
        return std::nullopt;
    }
    if (auto issue = issueText(file, threshold))
        return issue;
    if (file.result()->clipping.severity() == core::ClippingSeverity::severe)
        return "Clipping";
    return std::nullopt;
}

std::optional<std::string> FileListRules::issueDescription(std::optional<std::int64_t> claimed,
    std::int64_t detected, core::AudioFormat format, core::QualityRating rating)
{
    if (core::isLossless(format) && rating == core::QualityRating::suspicious)
        return "Lossy source";
    if (!claimed)
        return std::nullopt;
    const std::int64_t claimedKbps = *claimed;
    if ((claimedKbps >= 256 && detected <= 192) || (claimedKbps >= 192 && detected <= 128))
        return "Marked as " + std::to_string(claimedKbps) + "k";
    return std::nullopt;
}

bool FileListRules::isTranscode(const AudioFile& file)
{
    if (!file.result())
        return false;
    const core::AnalysisResult& result = *file.result();
    return issueDescription(file.claimedBitrate(), result.estimatedBitrate, file.format(), result.rating)
        .has_value();
}

FileListRules::DJReadyVerdict FileListRules::djReadyVerdict(
    const AudioFile& file, std::optional<QualityThreshold> threshold)
{
    using State = DJReadyVerdict::State;
    if (!file.result()) {
        if (file.status().kind() == ScanStatus::Kind::error) {
            const std::string& message = file.status().errorDescription();
            return { State::analysisError, false, "Analysis failed: " + message,
                "Analysis error: " + message };
        }
        return { State::notScanned, false, "Not yet scanned", "Not scanned" };
    }

    const core::AnalysisResult& result = *file.result();
    const std::optional<core::UserOverride>& userOverride = file.userOverride();
    const bool ready = userOverride ? userOverride->djReady : result.passesThreshold();
    const auto status = file.status().kind();
    // The cell's own standard (rated 320 kbps or lossless, no severe clipping) against the
    // user's threshold, which set the status: say which one speaks when they disagree.
    if (threshold && !userOverride && ready && status == ScanStatus::Kind::failed) {
        return { State::ready, false,
            "DJ ready: rated " + std::string(core::rawValue(result.rating)) + "; fails your "
                + label(*threshold) + " threshold",
            "DJ ready" };
    }
    if (threshold && !userOverride && !ready && status == ScanStatus::Kind::passed) {
        const bool clipped = core::passesThreshold(result.rating);
        return { State::notReady, false,
            std::string("Not DJ ready: ") + (clipped ? "severe clipping" : "below 320 kbps")
                + "; passes your " + label(*threshold) + " threshold",
            "Not DJ ready" };
    }
    if (ready) {
        return { State::ready, userOverride.has_value(),
            userOverride ? "Manually marked as DJ ready" : "Meets quality threshold for DJ use", "DJ ready" };
    }
    return { State::notReady, userOverride.has_value(),
        userOverride ? "Manually marked as not DJ ready"
                     : "Below quality threshold - may sound poor on large systems",
        "Not DJ ready" };
}

} // namespace sondrel::app
