#pragma once

#include "AudioFile.h"
#include "StatusBar.h"

#include <QSet>
#include <QUuid>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QTableView;
class QTimer;

namespace sondrel::app {
class ScannerViewModel;
struct ProcessingResults;
} // namespace sondrel::app

namespace sondrel::ui {

class FileFilterModel;
class FileTableModel;

// The file list: the header bar (filter, selection buttons, search), the table of the visible
// files or an empty state, and the status bar. Reads the view model's rows; acts on files
// through the view model's operations, which run off the GUI thread.
class FileListView : public QWidget {
    Q_OBJECT

public:
    explicit FileListView(app::ScannerViewModel& viewModel, QWidget* parent = nullptr);
    ~FileListView() override;

    // The rows the table shows, in order.
    [[nodiscard]] std::vector<app::AudioFile> filteredFiles() const;
    [[nodiscard]] std::vector<app::AudioFile> selectedFiles() const;
    [[nodiscard]] QSet<QUuid> selectedFileIds() const;
    // Selects the visible files among these (the sidebar's "Select Contents").
    void selectFiles(const QSet<QUuid>& ids);
    void selectAll();
    void clearSelection();

    void setShowFailedOnly(bool showFailedOnly);
    // Hides or shows a column of the table (the header's menu); the arrangement is kept.
    void setColumnHidden(int column, bool hidden);
    void setSearchText(const QString& text);

    // The context menu for these selected files: the single-file menu for one, the multi-file
    // menu for several, none for none. The caller owns it.
    [[nodiscard]] QMenu* contextMenu(const std::vector<app::AudioFile>& files, QWidget* parent);

    struct TrashTexts {
        QString title;
        QString message;
    };
    [[nodiscard]] static TrashTexts trashConfirmationTexts(int count);
    // The "Operation Failed" message: the error, or "An unknown error occurred" without one.
    [[nodiscard]] static QString operationFailedMessage(const std::optional<std::string>& error);

    // What the empty state says; both empty while the table shows rows.
    [[nodiscard]] QString emptyHeadline() const;
    [[nodiscard]] QString emptyLine() const;

    [[nodiscard]] QTableView* table() const { return m_table; }
    [[nodiscard]] StatusBar* statusBar() const { return m_statusBar; }

signals:
    void selectTrack(const sondrel::app::AudioFile& file);
    void playTrack(const sondrel::app::AudioFile& file);
    // Space on a row: play it, or pause and resume it when it is the track already loaded.
    void togglePlayback(const sondrel::app::AudioFile& file);
    // What an action did (a status line), or a failure the user must see.
    void notice(const QString& message, bool failed);
    void processVisible(const QSet<QUuid>& ids);
    void processSelected();
    void selectionCountChanged(int count);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildHeaderBar(QWidget* bar);
    // The search field beside the buttons while there is room, else on a row of its own.
    void placeSearch();
    // Tells the window the selection's size when rows go away under it, which the table's
    // selection model does not announce.
    void publishSelectionCount();
    // Writes the detected bitrates into these files' tags, as one run, and says how it went.
    void updateTags(const std::vector<app::AudioFile>& files);
    void reportTagUpdate(const app::ProcessingResults& results);
    void setUpColumns();
    void saveColumns();
    void scheduleRefresh();
    void refresh();
    void onSelectionChanged();
    void showContextMenu(const QPoint& position);
    // Asks, then moves the files to the Trash.
    void confirmTrash(std::vector<app::AudioFile> files);
    // The files' absolute paths to the clipboard, one a line (the menu's "Copy Path", Ctrl+C).
    void copyPaths(const std::vector<app::AudioFile>& files);
    void showError(const std::optional<std::string>& error);
    void updateFolderFilter();

    app::ScannerViewModel& m_viewModel;
    FileTableModel* m_model;
    FileFilterModel* m_filter;
    QButtonGroup* m_filterButtons;
    QLineEdit* m_search;
    QWidget* m_headerRow = nullptr;
    QLayout* m_headerLayout = nullptr;
    bool m_searchInRow = true;
    int m_publishedSelection = 0;
    QStackedWidget* m_stack;
    QTableView* m_table;
    QLabel* m_emptySymbol;
    QLabel* m_emptyHeadline;
    QLabel* m_emptyLine;
    StatusBar* m_statusBar;
    QTimer* m_refreshTimer;
};

} // namespace sondrel::ui
