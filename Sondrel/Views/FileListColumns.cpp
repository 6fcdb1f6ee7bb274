// The table's columns: their widths within bounds, order, sort, hiding, and the arrangement the
// user leaves, kept across starts.
#include "FileListView.h"

#include "FileTableModel.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QTableView>

#include <algorithm>

namespace sondrel::ui {

namespace {

constexpr const char* kColumnsKey = "fileListColumnCustomization";

// `width` within the column's minimum and maximum (0: none).
[[nodiscard]] int withinBounds(const FileTableModel::ColumnInfo& info, int width)
{
    width = std::max(width, info.minimumWidth);
    return info.maximumWidth > 0 ? std::min(width, info.maximumWidth) : width;
}

} // namespace

void FileListView::setUpColumns()
{
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(40);
    for (int column = 0; column < FileTableModel::kColumnCount; ++column)
        header->resizeSection(column, FileTableModel::kColumns[static_cast<std::size_t>(column)].idealWidth);
    const QByteArray saved = QSettings(QStringLiteral("Sondrel"), QStringLiteral("Sondrel")).value(kColumnsKey).toByteArray();
    const bool restored = !saved.isEmpty() && header->restoreState(saved);
    // A visible column narrower than its minimum (a blank left by an older hide) gets its width.
    for (int column = 0; column < FileTableModel::kColumnCount; ++column) {
        const auto& info = FileTableModel::kColumns[static_cast<std::size_t>(column)];
        if (!header->isSectionHidden(column) && header->sectionSize(column) < info.minimumWidth)
            header->resizeSection(column, info.idealWidth);
    }

    // Header clicks sort: ascending, descending, then back to the library's order. The sort is
    // kept with the arrangement; one saved without a sort indicator has none.
    if (!header->isSortIndicatorShown())
        header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    header->setSortIndicatorClearable(true);
    header->setSectionsClickable(true);
    // Without a saved arrangement, each column is as wide as its label and sort arrow need
    // ("Actual Bitrate" is wider than its ideal width in most fonts), within its maximum.
    if (!restored) {
        for (int column = 0; column < FileTableModel::kColumnCount; ++column) {
            const auto& info = FileTableModel::kColumns[static_cast<std::size_t>(column)];
            header->resizeSection(
                column, withinBounds(info, std::max(info.idealWidth, header->sectionSizeHint(column))));
        }
    }
    m_model->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
        m_model->sort(column, order);
        saveColumns();
    });

    // Each column within its own minimum and maximum width.
    connect(header, &QHeaderView::sectionResized, this, [header](int column, int, int width) {
        // Hiding a column sizes it to 0: widening it again would leave a blank column.
        if (column < 0 || column >= FileTableModel::kColumnCount || header->isSectionHidden(column) || width == 0)
            return;
        const auto& info = FileTableModel::kColumns[static_cast<std::size_t>(column)];
        const int clamped = withinBounds(info, width);
        if (clamped != width)
            header->resizeSection(column, clamped);
    });
    for (auto signal : { &QHeaderView::sectionMoved, &QHeaderView::sectionResized })
        connect(header, signal, this, &FileListView::saveColumns);

    // The header's own menu hides and shows columns.
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, this, [this, header](const QPoint& position) {
        QMenu menu(this);
        for (int column = 0; column < FileTableModel::kColumnCount; ++column) {
            QAction* action = menu.addAction(QString::fromLatin1(FileTableModel::kColumns[static_cast<std::size_t>(column)].title));
            action->setCheckable(true);
            action->setChecked(!header->isSectionHidden(column));
            connect(action, &QAction::toggled, this, [this, column](bool shown) { setColumnHidden(column, !shown); });
        }
        menu.exec(header->mapToGlobal(position));
    });
}

void FileListView::setColumnHidden(int column, bool hidden)
{
    m_table->horizontalHeader()->setSectionHidden(column, hidden);
    // Saved after the header has marked the column: its resize signal comes before that.
    saveColumns();
}

void FileListView::saveColumns()
{
    QSettings(QStringLiteral("Sondrel"), QStringLiteral("Sondrel")).setValue(kColumnsKey, m_table->horizontalHeader()->saveState());
}

} // namespace sondrel::ui
