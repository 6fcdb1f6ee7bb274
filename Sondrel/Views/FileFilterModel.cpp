#include "FileFilterModel.h"

#include "FileListRules.h"
#include "FileTableModel.h"

namespace sondrel::ui {

FileFilterModel::FileFilterModel(FileTableModel& source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
{
    setSourceModel(&source);
    // A row whose status changes is filtered again ("Show Failed" during a scan).
    setDynamicSortFilter(true);
}

void FileFilterModel::setFolder(const std::optional<std::string>& folder)
{
    std::optional<std::string> prefix
        = folder ? std::optional(app::FileListRules::folderPrefix(*folder)) : std::nullopt;
    if (prefix == m_folderPrefix)
        return;
    m_folderPrefix = std::move(prefix);
    refilter();
}

void FileFilterModel::setShowFailedOnly(bool showFailedOnly)
{
    if (showFailedOnly == m_showFailedOnly)
        return;
    m_showFailedOnly = showFailedOnly;
    refilter();
}

void FileFilterModel::setSearchText(const QString& searchText)
{
    if (searchText == m_searchText)
        return;
    m_searchText = searchText;
    m_loweredSearch = searchText.toLower().toStdString();
    refilter();
}

void FileFilterModel::refilter()
{
    // One layout change: filtering row by row announces every run of rows that comes or goes,
    // and on a large sorted library a search leaves thousands of runs, each costing the table
    // a pass over all its rows.
    invalidate();
}

bool FileFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    const app::AudioFile& file = m_source.file(sourceRow);
    if (m_folderPrefix && !app::FileListRules::isInFolder(file, *m_folderPrefix))
        return false;
    // The status filter here, the search against the table's kept search keys.
    if (!app::FileListRules::isVisible(file, m_showFailedOnly, {}))
        return false;
    return m_loweredSearch.empty()
        || app::FileListRules::matchesSearch(m_source.searchKey(sourceRow), m_loweredSearch);
}

} // namespace sondrel::ui
