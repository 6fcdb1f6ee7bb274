#include "MainWindow.h"

#include "AboutWindow.h"
#include "ApplicationShell.h"
#include "AudioPlayerManager.h"
#include "ChooserFolders.h"
#include "DetailPanel.h"
#include "FileListView.h"
#include "ListExportPanel.h"
#include "LoadingOverlay.h"
#include "PlayerBar.h"
#include "ProcessSheet.h"
#include "ScannerViewModel.h"
#include "SettingsWindow.h"
#include "SidebarView.h"
#include "SpectrogramView.h"
#include "Symbols.h"
#include "WelcomeView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace sondrel::ui {

namespace {

QString pathText(const std::filesystem::path& path)
{
    const std::string& native = path.native();
    return QString::fromLocal8Bit(native.data(), static_cast<qsizetype>(native.size()));
}

} // namespace

MainWindow::ToolbarState MainWindow::toolbarState(
    bool hasLibrary, bool isScanning, bool isDiscovering, int analysed, int selected) noexcept
{
    ToolbarState state;
    state.refreshEnabled = hasLibrary && !isScanning && !isDiscovering;
    state.showsStop = isScanning || isDiscovering;
    state.scanEnabled = hasLibrary;
    state.processSelectedEnabled = selected > 0 && analysed >= 1 && !isScanning;
    state.processAllEnabled = analysed >= 1 && !isScanning;
    return state;
}

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(app::ScannerViewModel::Services::standard(), app::makeSystemAudioOutput, parent)
{
}

MainWindow::MainWindow(
    app::ScannerViewModel::Services services, app::AudioPlayerManager::OutputFactory output, QWidget* parent)
    : QMainWindow(parent)
    , m_viewModel(std::make_unique<app::ScannerViewModel>(std::move(services)))
    , m_player(std::make_unique<app::AudioPlayerManager>(std::move(output)))
    , m_pages(new QStackedWidget(this))
    , m_welcome(new WelcomeView(this))
    , m_library(new QWidget(this))
    , m_split(new QSplitter(Qt::Horizontal, m_library))
    , m_sidebar(new SidebarView(*m_viewModel, m_split))
    , m_fileList(new FileListView(*m_viewModel, m_split))
    , m_spectrogram(new SpectrogramView(m_library))
    , m_playerBar(new PlayerBar(*m_player, m_library))
    , m_detail(new DetailPanel(*m_viewModel, m_split))
    , m_overlay(nullptr)
    , m_toolbar(new QToolBar(QStringLiteral("Toolbar"), this))
{
    setWindowTitle(QStringLiteral("Sondrel"));
    setMinimumSize(1000, 600);
    resize(1400, 850);

    connect(m_welcome, &WelcomeView::folderChosen, this,
        [this](const QString& path) { openLibrary(std::filesystem::path(path.toStdString())); });

    // The library view: sidebar | centre column | detail panel.
    auto* centre = new QWidget(m_split);
    auto* column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_fileList->setParent(centre);
    column->addWidget(m_fileList, 1);
    column->addWidget(m_spectrogram);
    column->addWidget(m_playerBar);
    m_spectrogram->hide();
    m_split->addWidget(m_sidebar);
    m_split->addWidget(centre);
    m_split->addWidget(m_detail);
    m_sidebar->setMinimumWidth(150);
    m_sidebar->setMaximumWidth(300);
    m_detail->setMinimumWidth(280);
    m_detail->hide();
    connect(m_detail, &DetailPanel::closeRequested, this, &MainWindow::closeDetail);
    connect(m_playerBar, &PlayerBar::spectrogramToggled, this, [this](bool show) {
        m_showSpectrogram = show;
        m_spectrogram->setVisible(m_showSpectrogram && m_currentTrack);
    });
    // The strip's playhead follows the player: shown while playing, or paused past the start.
    const auto followPlayer = [this] {
        const bool shown = m_player->hasPlayer() && (m_player->isPlaying() || m_player->currentTime() > 0);
        m_spectrogram->setPlayhead(shown ? std::optional(m_player->progress()) : std::nullopt);
    };
    connect(m_player.get(), &app::AudioPlayerManager::progressChanged, this, followPlayer);
    connect(m_player.get(), &app::AudioPlayerManager::isPlayingChanged, this, followPlayer);
    connect(m_sidebar, &SidebarView::selectContents, this, [this](const QSet<QUuid>& ids) { m_fileList->selectFiles(ids); });
    m_split->setStretchFactor(1, 1);
    m_split->setCollapsible(0, false);
    m_split->setCollapsible(1, false);
    m_split->setSizes({ 200, 900, 350 });
    auto* libraryLayout = new QVBoxLayout(m_library);
    libraryLayout->setContentsMargins(0, 0, 0, 0);
    libraryLayout->addWidget(m_split);
    m_overlay = new LoadingOverlay(m_library);
    m_overlay->hide();

    m_pages->addWidget(m_welcome);
    m_pages->addWidget(m_library);
    setCentralWidget(m_pages);

    buildToolbar();
    buildMenus();
    // The toolbar belongs to a library; the welcome screen has none.
    m_toolbar->hide();

    using VM = app::ScannerViewModel;
    for (auto signal : { &VM::isScanningChanged, &VM::isDiscoveringChanged })
        connect(m_viewModel.get(), signal, this, [this] {
            updateToolbar();
            updateOverlay();
        });
    connect(m_viewModel.get(), &VM::cachedCountsChanged, this, &MainWindow::updateToolbar);
    connect(m_viewModel.get(), &VM::rootFolderChanged, this, &MainWindow::updateToolbar);
    connect(m_viewModel.get(), &VM::allFilesChanged, this, &MainWindow::updateOverlay);
    connect(m_viewModel.get(), &VM::allFilesChanged, this, &MainWindow::dropVanishedFiles);
    connect(m_viewModel.get(), &VM::discoveredFileCountChanged, this, &MainWindow::updateOverlay);
    connect(m_viewModel.get(), &VM::discoveryProgressChanged, this, &MainWindow::updateOverlay);

    connect(m_fileList, &FileListView::selectionCountChanged, this, [this](int count) {
        m_selectedCount = count;
        updateToolbar();
    });
    connect(m_fileList, &FileListView::selectTrack, this, &MainWindow::onSelectTrack);
    connect(m_fileList, &FileListView::playTrack, this, &MainWindow::onPlayTrack);
    connect(m_fileList, &FileListView::togglePlayback, this, [this](const app::AudioFile& file) {
        if (m_currentTrack && m_currentTrack->id() == file.id() && m_player->hasPlayer())
            m_player->togglePlayPause();
        else
            onPlayTrack(file);
    });
    connect(m_fileList, &FileListView::notice, this, &MainWindow::notify);
    connect(m_sidebar, &SidebarView::notice, this, &MainWindow::notify);
    connect(m_fileList, &FileListView::processVisible, this,
        [this](const QSet<QUuid>& ids) { openProcessSheet(ids); });
    connect(m_fileList, &FileListView::processSelected, this,
        [this] { openProcessSheet(m_fileList->selectedFileIds()); });
    updateToolbar();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::action(const QString& name) const
{
    // Only where actions live: a search of the whole window would walk every badge of the
    // sidebar, at each change of the counts.
    if (auto* found = m_toolbar->findChild<QAction*>(name, Qt::FindDirectChildrenOnly))
        return found;
    return menuBar()->findChild<QAction*>(name);
}

void MainWindow::buildToolbar()
{
    m_toolbar->setObjectName(QStringLiteral("mainToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(22, 22));
    addToolBar(Qt::TopToolBarArea, m_toolbar);
    auto* space = new QWidget(m_toolbar);
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(space);

    const auto add = [this](const char* name, Symbol symbol, const QString& label, const QString& help,
                         QList<QKeySequence> shortcuts = {}) {
        QAction* action = m_toolbar->addAction(symbolIcon(symbol), label);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(help);
        action->setShortcuts(shortcuts);
        action->setShortcutContext(Qt::WindowShortcut);
        return action;
    };
    connect(add("library", Symbol::folderBadgePlus, QStringLiteral("Library"), QStringLiteral("Select a folder to scan")),
        &QAction::triggered, this, &MainWindow::selectFolder);
    connect(add("refresh", Symbol::arrowClockwise, QStringLiteral("Refresh"),
                QStringLiteral("Refresh library contents (Ctrl+R)"), { QKeySequence(Qt::CTRL | Qt::Key_R) }),
        &QAction::triggered, this, [this] { m_viewModel->refreshLibrary(); });
    connect(add("scan", Symbol::playFill, QStringLiteral("Scan"),
                QStringLiteral("Start scanning for audio quality (Ctrl+Return)"),
                { QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter) }),
        &QAction::triggered, this, [this] { m_viewModel->startScan(); });
    connect(add("stop", Symbol::stopFill, QStringLiteral("Stop"), QStringLiteral("Stop scanning (Ctrl+.)"),
                { QKeySequence(Qt::CTRL | Qt::Key_Period) }),
        &QAction::triggered, this, [this] { m_viewModel->cancelScan(); });
    connect(add("processSelected", Symbol::gearshape, QStringLiteral("Process 0"),
                QStringLiteral("Process selected files")),
        &QAction::triggered, this, [this] { openProcessSheet(m_fileList->selectedFileIds()); });
    connect(add("processAll", Symbol::gearshape2, QStringLiteral("Process All"),
                QStringLiteral("Process all scanned files (Ctrl+P)"), { QKeySequence(Qt::CTRL | Qt::Key_P) }),
        &QAction::triggered, this, [this] { openProcessSheet(std::nullopt); });
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    const auto item = [this](QMenu* menu, const char* name, const QString& label, QKeySequence shortcut = {}) {
        QAction* action = menu->addAction(label);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        return action;
    };
    connect(item(file, "selectLibrary", QStringLiteral("Select Library..."), QKeySequence(Qt::CTRL | Qt::Key_O)),
        &QAction::triggered, this, &MainWindow::selectFolder);
    connect(item(file, "exportList", QStringLiteral("Export List..."), QKeySequence(Qt::CTRL | Qt::Key_E)),
        &QAction::triggered, this, &MainWindow::exportList);
    connect(item(file, "settings", QStringLiteral("Settings..."), QKeySequence(Qt::CTRL | Qt::Key_Comma)),
        &QAction::triggered, this, &MainWindow::openSettings);
    file->addSeparator();
    connect(item(file, "quit", QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q)), &QAction::triggered,
        qApp, &QApplication::closeAllWindows);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    connect(item(help, "help", QStringLiteral("Sondrel Help"), QKeySequence(Qt::Key_F1)), &QAction::triggered, this,
        [this] { shell::openHelp(notifier()); });
    help->addSeparator();
    connect(item(help, "reportIssue", QStringLiteral("Report an Issue...")), &QAction::triggered, this,
        [this] { shell::reportIssue(notifier()); });
    connect(item(help, "exportDiagnostics", QStringLiteral("Export Diagnostics...")), &QAction::triggered, this,
        [this] { shell::exportDiagnostics(this, notifier()); });
    // There is no update feed on Linux: packages update through the system.
    item(help, "checkForUpdates", QStringLiteral("Check for Updates..."))->setEnabled(false);
    help->addSeparator();
    connect(item(help, "about", QStringLiteral("About Sondrel")), &QAction::triggered, this, &MainWindow::openAbout);
}

shell::Report MainWindow::notifier()
{
    return [window = QPointer<MainWindow>(this)](const QString& message, bool failed) {
        if (window)
            window->notify(message, failed);
    };
}

void MainWindow::updateToolbar()
{
    const auto& counts = m_viewModel->cachedCounts();
    const ToolbarState state = toolbarState(m_viewModel->rootFolder().has_value(), m_viewModel->isScanning(),
        m_viewModel->isDiscovering(), counts.passed + counts.failed + counts.error, m_selectedCount);
    action(QStringLiteral("refresh"))->setEnabled(state.refreshEnabled);
    action(QStringLiteral("scan"))->setVisible(!state.showsStop);
    action(QStringLiteral("scan"))->setEnabled(state.scanEnabled && !state.showsStop);
    action(QStringLiteral("stop"))->setVisible(state.showsStop);
    action(QStringLiteral("stop"))->setEnabled(state.showsStop);
    QAction* processSelected = action(QStringLiteral("processSelected"));
    processSelected->setText(QStringLiteral("Process %1").arg(m_selectedCount));
    processSelected->setEnabled(state.processSelectedEnabled);
    action(QStringLiteral("processAll"))->setEnabled(state.processAllEnabled);
    action(QStringLiteral("exportList"))->setEnabled(m_viewModel->rootFolder().has_value());
}

void MainWindow::updateOverlay()
{
    const bool show = m_viewModel->isDiscovering() && m_viewModel->allFiles().empty();
    m_overlay->setState(m_viewModel->discoveredFileCount(), m_viewModel->discoveryProgress());
    if (show == !m_overlay->isHidden())
        return;
    m_overlay->setVisible(show);
    if (show)
        m_overlay->raise();
}

void MainWindow::openLibrary(const std::filesystem::path& folder)
{
    // Nothing of the previous library stays on screen or in the player.
    closeDetail();
    clearCurrentTrack();
    m_pages->setCurrentWidget(m_library);
    m_toolbar->show();
    setWindowTitle(pathText(folder.filename().empty() ? folder.parent_path().filename() : folder.filename())
        + QStringLiteral(" - Sondrel"));
    m_viewModel->setLibrary(folder);
    updateOverlay();
}

void MainWindow::selectFolder()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Select your music library"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setDirectory(
        ChooserFolders::startFolder(ChooserFolders::Purpose::library, m_viewModel->rootFolder()));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& chosen) {
        if (chosen.isEmpty())
            return;
        ChooserFolders::remember(ChooserFolders::Purpose::library, chosen);
        openLibrary(chosen.toStdString());
    });
    dialog->open();
}

void MainWindow::exportList()
{
    // The rows as the table shows them: filtered, searched and in its order.
    auto* panel
        = new ListExportPanel(m_fileList->filteredFiles(), m_viewModel->rootFolder(), notifier(), this);
    panel->open();
}

void MainWindow::openProcessSheet(std::optional<QSet<QUuid>> fileIds)
{
    // A new sheet for each opening; it is window-modal and goes away when closed.
    auto* sheet = new ProcessSheet(*m_viewModel, std::move(fileIds), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void MainWindow::openSettings()
{
    auto* settings = new SettingsWindow(this);
    settings->setAttribute(Qt::WA_DeleteOnClose);
    settings->open();
}

void MainWindow::openAbout()
{
    auto* about = new AboutWindow(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void MainWindow::setCurrentTrack(const app::AudioFile& file)
{
    m_currentTrack = file;
    m_spectrogram->setTrack(file);
    m_spectrogram->setVisible(m_showSpectrogram);
    m_playerBar->setCurrentTrack(file);
    m_player->load(file.url());
}

void MainWindow::closeDetail()
{
    m_selectedDetailFile.reset();
    m_detail->setFile(std::nullopt);
    m_detail->hide();
}

void MainWindow::clearCurrentTrack()
{
    m_player->unload();
    m_currentTrack.reset();
    m_spectrogram->setTrack(std::nullopt);
    m_spectrogram->hide();
    m_playerBar->setCurrentTrack(std::nullopt);
}

void MainWindow::dropVanishedFiles()
{
    // A file trashed, moved, renamed or gone at a refresh has no record under its id any more:
    // the panel, strip and player let go of it rather than show or play what is not there.
    if (m_selectedDetailFile && !m_viewModel->file(m_selectedDetailFile->id()))
        closeDetail();
    if (m_currentTrack && !m_viewModel->file(m_currentTrack->id()))
        clearCurrentTrack();
}

void MainWindow::notify(const QString& message, bool failed)
{
    if (!failed) {
        m_fileList->statusBar()->showNotice(message);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Sondrel"), message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("notice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void MainWindow::onSelectTrack(const app::AudioFile& file)
{
    m_selectedDetailFile = file;
    m_detail->setFile(file);
    m_detail->show();
    setCurrentTrack(file);
}

void MainWindow::onPlayTrack(const app::AudioFile& file)
{
    setCurrentTrack(file);
    m_player->play();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_player->stop();
    m_viewModel->cancelScan();
    event->accept();
}

} // namespace sondrel::ui
