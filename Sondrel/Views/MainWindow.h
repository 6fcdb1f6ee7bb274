#pragma once

#include "ApplicationShell.h"
#include "AudioFile.h"
#include "AudioPlayerManager.h"
#include "ScannerViewModel.h"

#include <QMainWindow>
#include <QSet>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <optional>

class QAction;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace sondrel::ui {

class DetailPanel;
class FileListView;
class LoadingOverlay;
class PlayerBar;
class SidebarView;
class SpectrogramView;
class WelcomeView;

// The application's window: the welcome screen until a library is chosen, then the library
// view (sidebar, file list with its status bar, spectrogram strip and player, detail panel),
// with the toolbar and the menu bar. Owns the view model.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    // With the view model's services and the player's output given (tests).
    MainWindow(app::ScannerViewModel::Services services, app::AudioPlayerManager::OutputFactory output,
        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the library view and discovers the folder.
    void openLibrary(const std::filesystem::path& folder);

    // What the toolbar allows, from the view model's state and the table's selection.
    struct ToolbarState {
        bool refreshEnabled = false;
        bool showsStop = false; // "Stop" in the place of "Scan"
        bool scanEnabled = false;
        bool processSelectedEnabled = false;
        bool processAllEnabled = false;
    };
    [[nodiscard]] static ToolbarState toolbarState(
        bool hasLibrary, bool isScanning, bool isDiscovering, int analysed, int selected) noexcept;

    [[nodiscard]] app::ScannerViewModel& viewModel() { return *m_viewModel; }
    [[nodiscard]] FileListView* fileList() const { return m_fileList; }
    [[nodiscard]] LoadingOverlay* loadingOverlay() const { return m_overlay; }
    [[nodiscard]] SidebarView* sidebar() const { return m_sidebar; }
    [[nodiscard]] DetailPanel* detailPanel() const { return m_detail; }
    [[nodiscard]] SpectrogramView* spectrogram() const { return m_spectrogram; }
    [[nodiscard]] PlayerBar* playerBar() const { return m_playerBar; }
    [[nodiscard]] app::AudioPlayerManager& player() { return *m_player; }
    [[nodiscard]] QAction* action(const QString& name) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar();
    void buildMenus();
    void updateToolbar();
    void updateOverlay();
    void selectFolder();
    void exportList();
    void openProcessSheet(std::optional<QSet<QUuid>> fileIds);
    void openSettings();
    void openAbout();
    void onSelectTrack(const app::AudioFile& file);
    void onPlayTrack(const app::AudioFile& file);
    void setCurrentTrack(const app::AudioFile& file);
    void closeDetail();
    void clearCurrentTrack();
    void dropVanishedFiles();
    // A line in the status bar, or a dialog for a failure.
    void notify(const QString& message, bool failed);
    [[nodiscard]] shell::Report notifier();

    std::unique_ptr<app::ScannerViewModel> m_viewModel;
    std::unique_ptr<app::AudioPlayerManager> m_player;
    QStackedWidget* m_pages;
    WelcomeView* m_welcome;
    QWidget* m_library;
    QSplitter* m_split;
    SidebarView* m_sidebar;
    FileListView* m_fileList;
    SpectrogramView* m_spectrogram;
    PlayerBar* m_playerBar;
    DetailPanel* m_detail;
    LoadingOverlay* m_overlay;
    QToolBar* m_toolbar;
    std::optional<app::AudioFile> m_selectedDetailFile;
    std::optional<app::AudioFile> m_currentTrack;
    bool m_showSpectrogram = true;
    int m_selectedCount = 0;
};

} // namespace sondrel::ui
