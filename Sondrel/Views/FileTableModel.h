#pragma once

#include "ScannerViewModel.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QTimer>

#include <array>
#include <vector>

namespace sondrel::ui {

// The file table's rows: one per record of the view model's allFiles(), in its order or sorted by
// a column, kept in step through the view model's row signals (never a reset for a change of a
// few rows, so the selection and scroll position survive a scan). Lives on the GUI thread.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { djReady, transcode, clipping, title, artist, bitrate, actualBitrate, issue, size, filename };
    static constexpr int kColumnCount = 10;

    struct ColumnInfo {
        const char* title;
        const char* identifier;
        int minimumWidth;
        int idealWidth;
        int maximumWidth; // 0: open
    };
    static const std::array<ColumnInfo, kColumnCount> kColumns;

    enum Role {
        // The symbols an icon cell draws, left to right (QVariantList of QIcon).
        SymbolsRole = Qt::UserRole + 1,
        // The record's id (QUuid).
        FileIdRole,
    };

    // The three text styles of the cells.
    static QColor secondaryColor();
    static QColor tertiaryColor();
    static QColor issueColor();

    explicit FileTableModel(app::ScannerViewModel& viewModel, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    [[nodiscard]] const app::AudioFile& file(int row) const;
    // The row's FileListRules::searchKey(), kept while its record is listed, so that a search on
    // a large library converts no tag twice. Made on a worker for every row a second after the
    // rows last came or went, else when first asked for.
    [[nodiscard]] const std::string& searchKey(int row) const;

    // Sorts the rows by a column (FileSorting's orders). The order is computed off the GUI
    // thread from a copy of the records; the rows keep their old order until it is ready and
    // then take the new one in one layout change. Column -1: the view model's order, at once.
    // While sorted, rows that arrive go to the end and rows whose verdict changes stay where
    // they are until a re-sort, at most one per kResortIntervalMs.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    [[nodiscard]] int sortColumn() const noexcept { return m_sortColumn; }
    [[nodiscard]] Qt::SortOrder sortOrder() const noexcept { return m_sortOrder; }
    // A sort or re-sort is asked for and not applied yet.
    [[nodiscard]] bool isSortPending() const noexcept;
    static constexpr int kResortIntervalMs = 500;

    // "1.2 MB": the platform's file-style size, in decimal units.
    [[nodiscard]] static QString sizeText(std::int64_t bytes);

signals:
    // The rows took the order of the sort last asked for.
    void sortApplied();

private:
    // The view model's row signals, in positions of allFiles(), turned into rows of the table.
    void beginInsertSources(int first, int last);
    void endInsertSources(int first, int last);
    void removeSourceRows(int first, int last);
    void endRemoveSources(int first, int last);
    void changeSources(int first, int last);
    void resetSources();
    // The table's row of every position in allFiles(), after m_sources changed.
    void indexSources();
    void startSort();
    void prepareSearchKeys();
    void scheduleResort();
    // Takes the order a sort computed: the records' ids, sorted. Records that arrived since go
    // last, in the view model's order.
    void applySort(const std::vector<QUuid>& ids, const std::vector<int>& positions, quint64 structure);
    void applyOrder(std::vector<int> sources);

    [[nodiscard]] QVariant display(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant foreground(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant symbols(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant tooltip(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant accessibleText(const app::AudioFile& file, int column) const;

    app::ScannerViewModel& m_viewModel;
    std::vector<int> m_sources; // table row -> position in allFiles()
    std::vector<int> m_rows; // position in allFiles() -> table row
    mutable std::vector<std::string> m_searchKeys; // by position in allFiles(); empty: not made
    int m_insertRow = 0; // where the rows being inserted go
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    int m_sortRequest = 0; // the latest sort started; older answers are dropped
    bool m_sortInFlight = false;
    quint64 m_structure = 0; // counts insertions, removals and resets of allFiles()
    QTimer m_resortTimer;
    int m_searchKeysRequest = 0;
    QTimer m_searchKeysTimer;
};

} // namespace sondrel::ui
