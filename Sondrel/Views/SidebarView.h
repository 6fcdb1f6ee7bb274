#pragma once

#include "ScannerViewModel.h"

#include <QHash>
#include <QSet>
#include <QTimer>
#include <QUuid>
#include <QWidget>

#include <memory>

class QLabel;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace sondrel::ui {

class BusyIndicator;

// A folder's status badge: nothing, a spinner while its files are scanned, a green check when
// all passed, or a red cross with the count of failed files on a red capsule; then, when files
// could not be analysed, an orange warning with their count on an orange capsule.
class FolderStatusIndicator : public QWidget {
    Q_OBJECT

public:
    explicit FolderStatusIndicator(QWidget* parent = nullptr);

    void setStatus(const app::ScannerViewModel::FolderStatus& status);
    [[nodiscard]] const app::ScannerViewModel::FolderStatus& status() const noexcept { return m_status; }

private:
    void makeParts();

    app::ScannerViewModel::FolderStatus m_status;
    BusyIndicator* m_spinner = nullptr; // with the parts below, none until a status shows
    QLabel* m_symbol = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_errorSymbol = nullptr;
    QLabel* m_errorCount = nullptr;
};

// The sidebar's folder tree of the library with a status badge per folder. Sub-folders are
// listed when a row is first expanded. Choosing a row makes its folder the view model's
// selected folder.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    SidebarView(app::ScannerViewModel& viewModel, QWidget* parent = nullptr);

    // The row of a folder, if it is in the tree.
    [[nodiscard]] QTreeWidgetItem* itemFor(const QUuid& folderID) const;
    // The badge of a folder's row; none until the row has been shown.
    [[nodiscard]] FolderStatusIndicator* indicatorFor(const QUuid& folderID) const;
    [[nodiscard]] QTreeWidget* tree() const noexcept { return m_tree; }

    // Brings every badge of a shown row up to date now, making the badges not made yet.
    void refreshStatuses();

signals:
    // "Select Contents": the identifiers of the files in a folder, for the table's selection.
    void selectContents(const QSet<QUuid>& fileIDs);
    // What an action did, or a failure the user must see.
    void notice(const QString& message, bool failed);

private:
    void rebuild();
    void refreshStatuses(bool onScreenOnly);
    // A row for the node, not yet in the tree, without its badge.
    QTreeWidgetItem* makeRow(const std::shared_ptr<app::FolderNode>& node);
    void showChildren(QTreeWidgetItem* item);
    void onExpanded(QTreeWidgetItem* item);
    void onCurrentChanged(QTreeWidgetItem* item);
    void showContextMenu(const QPoint& position);
    [[nodiscard]] std::shared_ptr<app::FolderNode> nodeOf(const QTreeWidgetItem* item) const;

    app::ScannerViewModel& m_viewModel;
    QStackedWidget* m_stack;
    QTreeWidget* m_tree;
    QHash<QUuid, QTreeWidgetItem*> m_items;
    QHash<const QTreeWidgetItem*, std::shared_ptr<app::FolderNode>> m_nodes;
    // Badges follow the records at most a few times a second, however fast they change.
    QTimer m_statusRefresh;
};

} // namespace sondrel::ui
