#pragma once

#include <QSortFilterProxyModel>
#include <QString>

#include <optional>
#include <string>

namespace sondrel::ui {

class FileTableModel;

// The rows the table shows (`filteredFiles`): the selected folder's files (or all), then only
// failed ones with "Show Failed", then those matching the search text, in the table model's
// order (which does the sorting, so that this proxy never sorts).
class FileFilterModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit FileFilterModel(FileTableModel& source, QObject* parent = nullptr);

    // None: every folder. The folder's path as text; files below it match (a plain prefix test
    // with a trailing "/", so Live does not match Live Sets).
    void setFolder(const std::optional<std::string>& folder);
    void setShowFailedOnly(bool showFailedOnly);
    // Not trimmed: two spaces search for two spaces.
    void setSearchText(const QString& searchText);

    [[nodiscard]] bool showFailedOnly() const noexcept { return m_showFailedOnly; }
    [[nodiscard]] const QString& searchText() const noexcept { return m_searchText; }

protected:
    [[nodiscard]] bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    void refilter();

    FileTableModel& m_source;
    std::optional<std::string> m_folderPrefix;
    bool m_showFailedOnly = false;
    QString m_searchText;
    std::string m_loweredSearch; // UTF-8
};

} // namespace sondrel::ui
