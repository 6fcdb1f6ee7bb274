#pragma once

#include "AudioFile.h"
#include "QualityThreshold.h"

#include <QLocale>

#include <vector>

namespace sondrel::ui {

// The orders the file table sorts its columns by. Sizes and bitrates sort by number
// ("Uncompressed" above every bitrate), the detected quality by rating and then estimate, the
// icon columns by severity (not DJ ready, analysis error, DJ ready; severe clipping first),
// and texts by the locale's collation with numbers by value ("Track 2" before "Track 10").
// Values a row does not have ("-": no tag, no result, no issue) come last in both directions.
class FileSorting {
public:
    FileSorting() = delete;

    // The positions in `files` in the order of the table column (FileTableModel::Column).
    // Stable: rows with equal values keep their order in `files`. A column out of range gives
    // the positions in order. Thread-safe: uses a collator of its own.
    [[nodiscard]] static std::vector<int> sortedRows(const std::vector<app::AudioFile>& files, int column,
        Qt::SortOrder order, app::QualityThreshold threshold, const QLocale& locale = QLocale());

    // Whether a column's order can change when a record's status, result or override does (the
    // tags, name and size of a record never change).
    [[nodiscard]] static bool followsVerdicts(int column) noexcept;
};

} // namespace sondrel::ui
