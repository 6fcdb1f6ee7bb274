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
    invalidateRowsFilter();
}

void FileFilterModel::setShowFailedOnly(bool showFailedOnly)
{
    if (showFailedOnly == m_showFailedOnly)
        return;
    m_showFailedOnly = showFailedOnly;
    invalidateRowsFilter();
}

void FileFilterModel::setSearchText(const QString& searchText)
{
    if (searchText == m_searchText)
        return;
    m_searchText = searchText;
    m_loweredSearch = searchText.toLower();
    invalidateRowsFilter();
}

bool FileFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    const app::AudioFile& file = m_source.file(sourceRow);
    if (m_folderPrefix && !app::FileListRules::isInFolder(file, *m_folderPrefix))
        return false;
    return app::FileListRules::isVisible(file, m_showFailedOnly, m_loweredSearch);
}

} // namespace sondrel::ui
