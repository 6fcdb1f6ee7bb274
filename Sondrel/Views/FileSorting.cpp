#include "FileSorting.h"

#include "FileListRules.h"
#include "FileTableModel.h"

#include <QCollator>

#include <algorithm>
#include <iterator>
#include <limits>
#include <numeric>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>

namespace sondrel::ui {

using app::AudioFile;
using app::FileListRules;
using Column = FileTableModel::Column;

namespace {

// A row's place in a column: present values by `first`, then `second`; absent ones after them.
struct Key {
    bool absent = false;
    std::int64_t first = 0;
    std::int64_t second = 0;
};

constexpr Key kAbsent { true };

int qualityRank(core::QualityRating rating) noexcept
{
    switch (rating) {
    case core::QualityRating::suspicious:
        return 0;
    case core::QualityRating::poor:
        return 1;
    case core::QualityRating::low:
        return 2;
    case core::QualityRating::medium:
        return 3;
    case core::QualityRating::high:
        return 4;
    case core::QualityRating::lossless:
        break;
    }
    return 5;
}

int severityRank(core::ClippingSeverity severity) noexcept
{
    switch (severity) {
    case core::ClippingSeverity::severe:
        return 0;
    case core::ClippingSeverity::moderate:
        return 1;
    case core::ClippingSeverity::mild:
        return 2;
    case core::ClippingSeverity::none:
        break;
    }
    return 3;
}

Key verdictKey(const AudioFile& file)
{
    using State = FileListRules::DJReadyVerdict::State;
    switch (FileListRules::djReadyVerdict(file).state) {
    case State::notReady:
        return { false, 0 };
    case State::analysisError:
        return { false, 1 };
    case State::ready:
        return { false, 2 };
    case State::notScanned:
        break;
    }
    return kAbsent;
}

Key numberKey(const AudioFile& file, int column)
{
    const auto& result = file.result();
    switch (column) {
    case Column::djReady:
        return verdictKey(file);
    case Column::transcode:
        return result ? Key { false, FileListRules::isTranscode(file) ? 0 : 1 } : kAbsent;
    case Column::clipping:
        return result ? Key { false, severityRank(result->clipping.severity()) } : kAbsent;
    case Column::bitrate:
        if (file.claimedBitrate())
            return { false, *file.claimedBitrate() };
        // "Uncompressed" claims more than any bitrate.
        return core::isLossless(file.format()) ? Key { false, std::numeric_limits<std::int64_t>::max() }
                                               : kAbsent;
    case Column::actualBitrate:
        return result ? Key { false, qualityRank(result->rating), result->estimatedBitrate } : kAbsent;
    case Column::size:
        return { false, file.fileSize() };
    default:
        return kAbsent;
    }
}

// The rows' texts ranked by the locale's collation: equal rank for texts the collation holds
// equal. Each distinct text gets one sort key; a library repeats its artists many times.
std::vector<Key> textKeys(const std::vector<std::optional<std::string_view>>& texts, const QLocale& locale)
{
    std::unordered_map<std::string_view, int> distinctIndex;
    std::vector<std::string_view> distinct;
    std::vector<int> textOfRow(texts.size(), -1);
    for (std::size_t row = 0; row < texts.size(); ++row) {
        if (!texts[row])
            continue;
        const auto [found, added] = distinctIndex.try_emplace(*texts[row], static_cast<int>(distinct.size()));
        if (added)
            distinct.push_back(*texts[row]);
        textOfRow[row] = found->second;
    }

    // Without a locale (the C locale) a collator compares code points, which puts every
    // accented name after "Z" and "Zebra" before "apple": English collation serves better.
    const QLocale collation
        = locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
    std::vector<QCollatorSortKey> sortKeys;
    sortKeys.reserve(distinct.size());
    std::vector<int> byKey(distinct.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    const auto before = [&](int a, int b) {
        return sortKeys[static_cast<std::size_t>(a)].compare(sortKeys[static_cast<std::size_t>(b)]) < 0;
    };
    // Collation keys are the costly part of a sort by text: each half of the texts gets its
    // keys and its order on a thread of its own (one collator each), then the halves merge.
    const std::size_t half = distinct.size() / 2;
    const auto keysOf = [&](std::size_t begin, std::size_t end, std::vector<QCollatorSortKey>& into) {
        QCollator collator(collation);
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (std::size_t i = begin; i < end; ++i)
            into.push_back(collator.sortKey(
                QString::fromUtf8(distinct[i].data(), static_cast<qsizetype>(distinct[i].size()))));
    };
    std::vector<QCollatorSortKey> upper;
    upper.reserve(distinct.size() - half);
    std::thread helper([&] { keysOf(half, distinct.size(), upper); });
    keysOf(0, half, sortKeys);
    helper.join();
    std::move(upper.begin(), upper.end(), std::back_inserter(sortKeys));
    const auto middle = byKey.begin() + static_cast<std::ptrdiff_t>(half);
    helper = std::thread([&] { std::sort(middle, byKey.end(), before); });
    std::sort(byKey.begin(), middle, before);
    helper.join();
    std::inplace_merge(byKey.begin(), middle, byKey.end(), before);
    std::vector<std::int64_t> rank(distinct.size());
    std::int64_t current = 0;
    for (std::size_t i = 0; i < byKey.size(); ++i) {
        const auto index = static_cast<std::size_t>(byKey[i]);
        if (i > 0 && sortKeys[static_cast<std::size_t>(byKey[i - 1])].compare(sortKeys[index]) != 0)
            ++current;
        rank[index] = current;
    }

    std::vector<Key> keys(texts.size(), kAbsent);
    for (std::size_t row = 0; row < texts.size(); ++row) {
        if (textOfRow[row] >= 0)
            keys[row] = { false, rank[static_cast<std::size_t>(textOfRow[row])] };
    }
    return keys;
}

std::optional<std::string_view> view(const std::optional<std::string>& text)
{
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

std::vector<Key> columnKeys(
    const std::vector<AudioFile>& files, int column, app::QualityThreshold threshold, const QLocale& locale)
{
    std::vector<std::optional<std::string_view>> texts;
    texts.reserve(files.size());
    switch (column) {
    case Column::title:
        for (const AudioFile& file : files)
            texts.push_back(view(file.title()));
        return textKeys(texts, locale);
    case Column::artist:
        for (const AudioFile& file : files)
            texts.push_back(view(file.artist()));
        return textKeys(texts, locale);
    case Column::filename:
        for (const AudioFile& file : files)
            texts.push_back(file.name());
        return textKeys(texts, locale);
    case Column::issue: {
        std::vector<std::optional<std::string>> reasons;
        reasons.reserve(files.size());
        for (const AudioFile& file : files)
            reasons.push_back(FileListRules::reasonText(file, threshold));
        for (const auto& reason : reasons)
            texts.push_back(view(reason));
        return textKeys(texts, locale);
    }
    default: {
        std::vector<Key> keys;
        keys.reserve(files.size());
        for (const AudioFile& file : files)
            keys.push_back(numberKey(file, column));
        return keys;
    }
    }
}

} // namespace

std::vector<int> FileSorting::sortedRows(const std::vector<AudioFile>& files, int column, Qt::SortOrder order,
    app::QualityThreshold threshold, const QLocale& locale)
{
    std::vector<int> rows(files.size());
    std::iota(rows.begin(), rows.end(), 0);
    if (column < 0 || column >= FileTableModel::kColumnCount)
        return rows;
    const std::vector<Key> keys = columnKeys(files, column, threshold, locale);
    const bool descending = order == Qt::DescendingOrder;
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
        const Key& x = keys[static_cast<std::size_t>(a)];
        const Key& y = keys[static_cast<std::size_t>(b)];
        if (x.absent || y.absent)
            return !x.absent && y.absent;
        const auto left = std::tie(x.first, x.second);
        const auto right = std::tie(y.first, y.second);
        return descending ? right < left : left < right;
    });
    return rows;
}

bool FileSorting::followsVerdicts(int column) noexcept
{
    switch (column) {
    case Column::djReady:
    case Column::transcode:
    case Column::clipping:
    case Column::actualBitrate:
    case Column::issue:
        return true;
    default:
        return false;
    }
}

} // namespace sondrel::ui
