#include "FileListView.h"

#include "ApplicationShell.h"
#include "FastTooltip.h"
#include "FileFilterModel.h"
#include "FileTableModel.h"
#include "ScannerViewModel.h"
#include "SymbolDelegate.h"
#include "Symbols.h"
#include "ViewStyle.h"

#include <QAction>
#include <QButtonGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace sondrel::ui {

using app::AudioFile;

namespace {

constexpr int kSearchWidth = 220;

} // namespace

FileListView::FileListView(app::ScannerViewModel& viewModel, QWidget* parent)
    : QWidget(parent)
    , m_viewModel(viewModel)
    , m_model(new FileTableModel(viewModel, this))
    , m_filter(new FileFilterModel(*m_model, this))
    , m_filterButtons(new QButtonGroup(this))
    , m_search(new QLineEdit(this))
    , m_stack(new QStackedWidget(this))
    , m_table(new QTableView(this))
    , m_emptySymbol(new QLabel(this))
    , m_emptyHeadline(new QLabel(this))
    , m_emptyLine(new QLabel(this))
    , m_statusBar(new StatusBar(viewModel, this))
    , m_refreshTimer(new QTimer(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(this);
    buildHeaderBar(bar);
    layout->addWidget(bar);
    layout->addWidget(m_stack, 1);
    layout->addWidget(m_statusBar);

    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setSortingEnabled(false);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(24);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the table for the next control; arrows move between rows.
    m_table->setTabKeyNavigation(false);
    m_table->installEventFilter(this);
    m_table->setItemDelegate(new SymbolDelegate(m_table));
    new FastTooltip(*m_table, [](const QModelIndex& index) { return index.column() <= FileTableModel::clipping; });
    setUpColumns();
    m_stack->addWidget(m_table);

    auto* empty = new QWidget(this);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch(1);
    for (QLabel* label : { m_emptySymbol, m_emptyHeadline, m_emptyLine }) {
        label->setAlignment(Qt::AlignCenter);
        emptyLayout->addWidget(label);
    }
    emptyLayout->addStretch(1);
    QFont headline = m_emptyHeadline->font();
    headline.setPointSizeF(headline.pointSizeF() * 1.2);
    headline.setBold(true);
    m_emptyHeadline->setFont(headline);
    QPalette secondary = m_emptyLine->palette();
    secondary.setColor(QPalette::WindowText, FileTableModel::secondaryColor());
    m_emptyLine->setPalette(secondary);
    m_emptySymbol->setPalette(secondary);
    m_stack->addWidget(empty);

    connect(m_table, &QTableView::customContextMenuRequested, this, &FileListView::showContextMenu);
    connect(m_table, &QTableView::doubleClicked, this, [this] {
        const auto files = selectedFiles();
        if (!files.empty())
            emit playTrack(files.front());
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &FileListView::onSelectionChanged);
    connect(m_statusBar, &StatusBar::processSelected, this, &FileListView::processSelected);
    connect(m_statusBar, &StatusBar::processVisible, this, [this] {
        QSet<QUuid> ids;
        for (const AudioFile& file : filteredFiles())
            ids.insert(file.id());
        emit processVisible(ids);
    });

    // Counts and the empty state follow the visible rows, at most every 50 ms.
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(50);
    connect(m_refreshTimer, &QTimer::timeout, this, &FileListView::refresh);
    for (auto signal : { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved })
        connect(m_filter, signal, this, &FileListView::scheduleRefresh);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &FileListView::scheduleRefresh);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &FileListView::scheduleRefresh);
    connect(m_filter, &QAbstractItemModel::dataChanged, this, &FileListView::scheduleRefresh);
    for (auto signal : { &QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted })
        connect(m_filter, signal, this, &FileListView::publishSelectionCount, Qt::QueuedConnection);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &FileListView::publishSelectionCount, Qt::QueuedConnection);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &FileListView::publishSelectionCount,
        Qt::QueuedConnection);
    connect(&viewModel, &app::ScannerViewModel::selectedFolderChanged, this, &FileListView::updateFolderFilter);
    connect(&viewModel, &app::ScannerViewModel::rootFolderChanged, this, &FileListView::scheduleRefresh);
    updateFolderFilter();
    refresh();
}

FileListView::~FileListView() = default;

void FileListView::buildHeaderBar(QWidget* bar)
{
    auto* rows = new QVBoxLayout(bar);
    rows->setContentsMargins(8, 6, 8, 6);
    rows->setSpacing(4);
    m_headerLayout = rows;
    m_headerRow = new QWidget(bar);
    rows->addWidget(m_headerRow);
    auto* layout = new QHBoxLayout(m_headerRow);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Filter"), m_headerRow));
    auto* segments = new QWidget(m_headerRow);
    auto* segmentsLayout = new QHBoxLayout(segments);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    int id = 0;
    for (const QString& choice : { QStringLiteral("Show All"), QStringLiteral("Show Failed") }) {
        auto* button = new QToolButton(segments);
        button->setText(choice);
        button->setCheckable(true);
        button->setAutoRaise(false);
        m_filterButtons->addButton(button, id++);
        segmentsLayout->addWidget(button);
    }
    m_filterButtons->button(0)->setChecked(true);
    connect(m_filterButtons, &QButtonGroup::idClicked, this, [this](int chosen) { setShowFailedOnly(chosen == 1); });
    layout->addWidget(segments);
    layout->addSpacing(12);
    auto* selectAllButton = new QPushButton(QStringLiteral("Select All"), bar);
    auto* clearButton = new QPushButton(QStringLiteral("Clear Selection"), bar);
    connect(selectAllButton, &QPushButton::clicked, this, &FileListView::selectAll);
    connect(clearButton, &QPushButton::clicked, this, &FileListView::clearSelection);
    layout->addWidget(selectAllButton);
    layout->addWidget(clearButton);
    layout->addStretch(1);
    m_search->setPlaceholderText(QStringLiteral("Search"));
    m_search->addAction(symbolIcon(Symbol::magnifyingglass), QLineEdit::LeadingPosition);
    // The clear button shows only while the field holds text.
    m_search->setClearButtonEnabled(true);
    if (auto* clear = m_search->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"))) {
        if (const QIcon icon = symbolIcon(Symbol::xmarkCircleFill, palette::secondary); !icon.isNull())
            clear->setIcon(icon);
    }
    m_search->setMinimumWidth(kSearchWidth);
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& value) {
        m_filter->setSearchText(value);
        scheduleRefresh();
    });
    layout->addWidget(m_search);
}

void FileListView::placeSearch()
{
    const int needed = m_headerRow->layout()->minimumSize().width() + (m_searchInRow ? 0 : kSearchWidth + 8) + 16;
    const bool inRow = width() >= needed;
    if (inRow == m_searchInRow)
        return;
    m_searchInRow = inRow;
    if (inRow)
        m_headerRow->layout()->addWidget(m_search);
    else
        m_headerLayout->addWidget(m_search);
}

void FileListView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeSearch();
}

bool FileListView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_table || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
        copyPaths(selectedFiles());
        return true;
    }
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    const std::vector<AudioFile> files = selectedFiles();
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!files.empty())
            emit playTrack(files.front());
        return true;
    case Qt::Key_Space:
        if (!files.empty())
            emit togglePlayback(files.front());
        return true;
    case Qt::Key_Delete:
        // The menu's "Move to Trash", with its confirmation.
        if (!files.empty())
            confirmTrash(files);
        return true;
    default:
        return false;
    }
}

void FileListView::updateFolderFilter()
{
    // The root too: a file moved out of the library is no longer under it, and the sidebar's
    // verdict for the root counts only what is.
    const auto& folder = m_viewModel.selectedFolder();
    m_filter->setFolder(folder ? std::optional(folder->url().native()) : std::nullopt);
    scheduleRefresh();
}

std::vector<AudioFile> FileListView::filteredFiles() const
{
    std::vector<AudioFile> files;
    files.reserve(static_cast<std::size_t>(m_filter->rowCount()));
    for (int row = 0; row < m_filter->rowCount(); ++row)
        files.push_back(m_model->file(m_filter->mapToSource(m_filter->index(row, 0)).row()));
    return files;
}

std::vector<AudioFile> FileListView::selectedFiles() const
{
    QModelIndexList rows = m_table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<AudioFile> files;
    files.reserve(static_cast<std::size_t>(rows.size()));
    for (const QModelIndex& index : rows)
        files.push_back(m_model->file(m_filter->mapToSource(index).row()));
    return files;
}

QSet<QUuid> FileListView::selectedFileIds() const
{
    QSet<QUuid> ids;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        ids.insert(m_model->file(m_filter->mapToSource(index).row()).id());
    return ids;
}

void FileListView::selectFiles(const QSet<QUuid>& ids)
{
    QItemSelection selection;
    for (int row = 0; row < m_filter->rowCount(); ++row) {
        const QModelIndex index = m_filter->index(row, 0);
        if (ids.contains(m_model->file(m_filter->mapToSource(index).row()).id()))
            selection.select(index, m_filter->index(row, FileTableModel::kColumnCount - 1));
    }
    m_table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void FileListView::selectAll()
{
    m_table->selectAll();
}

void FileListView::clearSelection()
{
    m_table->clearSelection();
}

void FileListView::setShowFailedOnly(bool showFailedOnly)
{
    m_filterButtons->button(showFailedOnly ? 1 : 0)->setChecked(true);
    m_filter->setShowFailedOnly(showFailedOnly);
    scheduleRefresh();
}

void FileListView::setSearchText(const QString& value)
{
    m_search->setText(value);
}

void FileListView::scheduleRefresh()
{
    if (!m_refreshTimer->isActive())
        m_refreshTimer->start();
}

void FileListView::refresh()
{
    m_refreshTimer->stop();
    StatusBar::VisibleCounts counts;
    const int rows = m_filter->rowCount();
    for (int row = 0; row < rows; ++row) {
        switch (m_model->file(m_filter->mapToSource(m_filter->index(row, 0)).row()).status().kind()) {
        case app::ScanStatus::Kind::passed:
            ++counts.passed;
            break;
        case app::ScanStatus::Kind::failed:
            ++counts.failed;
            break;
        case app::ScanStatus::Kind::error:
            ++counts.error;
            break;
        default:
            break;
        }
    }
    m_statusBar->setVisibleCounts(counts);

    if (rows > 0) {
        m_stack->setCurrentIndex(0);
        m_emptyHeadline->clear();
        m_emptyLine->clear();
        return;
    }
    m_stack->setCurrentIndex(1);
    const QString search = m_filter->searchText();
    const bool searching = !search.isEmpty();
    m_emptySymbol->setPixmap(
        symbolIcon(searching ? Symbol::magnifyingglass : Symbol::musicNoteList, FileTableModel::secondaryColor())
            .pixmap(48, 48));
    if (searching) {
        m_emptyHeadline->setText(QStringLiteral("No results for \"%1\"").arg(search));
        m_emptyLine->setText(QStringLiteral("Try a different search term"));
    } else if (m_viewModel.rootFolder()) {
        m_emptyHeadline->setText(QStringLiteral("No audio files found"));
        m_emptyLine->setText(QStringLiteral("Select a folder containing audio files and click Scan"));
    } else {
        m_emptyHeadline->setText(QStringLiteral("Select a folder to begin"));
        m_emptyLine->clear();
    }
}

QString FileListView::emptyHeadline() const
{
    return m_emptyHeadline->text();
}

QString FileListView::emptyLine() const
{
    return m_emptyLine->text();
}

void FileListView::onSelectionChanged()
{
    const std::vector<AudioFile> files = selectedFiles();
    m_publishedSelection = static_cast<int>(files.size());
    m_statusBar->setSelectedCount(m_publishedSelection);
    emit selectionCountChanged(m_publishedSelection);
    if (files.size() == 1)
        emit selectTrack(files.front());
}

void FileListView::publishSelectionCount()
{
    const int count = static_cast<int>(m_table->selectionModel()->selectedRows().size());
    if (count == m_publishedSelection)
        return;
    m_publishedSelection = count;
    m_statusBar->setSelectedCount(count);
    emit selectionCountChanged(count);
}

void FileListView::updateTags(const std::vector<AudioFile>& files)
{
    QSet<QUuid> ids;
    for (const AudioFile& file : files)
        ids.insert(file.id());
    m_viewModel.updateMetadata(ids, [view = QPointer<FileListView>(this)](const app::ProcessingResults& results) {
        if (view)
            view->reportTagUpdate(results);
    });
}

void FileListView::reportTagUpdate(const app::ProcessingResults& results)
{
    if (!results.metadataFailures.empty()) {
        emit notice(QStringLiteral("Could not update the tags of ")
                + QString::fromStdString(results.metadataFailures.front())
                + (results.metadataFailures.size() > 1
                        ? QStringLiteral(" (and %1 more)").arg(results.metadataFailures.size() - 1)
                        : QString()),
            true);
        return;
    }
    emit notice(QStringLiteral("Updated the tags of %1 %2")
                    .arg(results.metadataUpdatedCount)
                    .arg(results.metadataUpdatedCount == 1 ? QStringLiteral("file") : QStringLiteral("files")),
        false);
}

void FileListView::showContextMenu(const QPoint& position)
{
    std::unique_ptr<QMenu> menu(contextMenu(selectedFiles(), this));
    if (menu)
        menu->exec(m_table->viewport()->mapToGlobal(position));
}

QMenu* FileListView::contextMenu(const std::vector<AudioFile>& files, QWidget* parent)
{
    if (files.empty())
        return nullptr;
    auto* menu = new QMenu(parent);
    const bool scanning = m_viewModel.isScanning();
    if (files.size() == 1) {
        const AudioFile file = files.front();
        connect(menu->addAction(symbolIcon(Symbol::playFill), QStringLiteral("Play")), &QAction::triggered, this,
            [this, file] { emit playTrack(file); });
        menu->addSeparator();
        QAction* scan = menu->addAction(symbolIcon(Symbol::waveformBadgeMagnifyingglass), QStringLiteral("Scan File"));
        scan->setEnabled(!scanning);
        connect(scan, &QAction::triggered, this, [this, file] { m_viewModel.rescanFile(file); });
        menu->addSeparator();
        connect(menu->addAction(symbolIcon(Symbol::trash), QStringLiteral("Move to Trash")), &QAction::triggered,
            this, [this, file] { confirmTrash({ file }); });
        if (file.result()) {
            connect(menu->addAction(symbolIcon(Symbol::tag), QStringLiteral("Update Metadata")), &QAction::triggered,
                this, [this, file] { updateTags({ file }); });
        }
        menu->addSeparator();
        connect(menu->addAction(QStringLiteral("Copy Path")), &QAction::triggered, this,
            [this, file] { copyPaths({ file }); });
        connect(menu->addAction(symbolIcon(Symbol::folder), QStringLiteral("Show in File Manager")),
            &QAction::triggered, this, [this, file] {
                shell::revealInFileManager(file.url(), [view = QPointer<FileListView>(this)](const QString& message, bool failed) {
                    if (view)
                        emit view->notice(message, failed);
                });
            });
        if (const auto& result = file.result()) {
            menu->addSeparator();
            for (const std::string& line : { "Quality: " + std::string(core::rawValue(result->rating)),
                     "Cutoff: " + result->cutoffDescription(),
                     "Bitrate: ~" + std::to_string(result->estimatedBitrate) + " kbps" })
                menu->addAction(text(line))->setEnabled(false);
        }
        return menu;
    }

    const int count = static_cast<int>(files.size());
    std::vector<AudioFile> failed;
    std::vector<AudioFile> analysed;
    for (const AudioFile& file : files) {
        // The user's "DJ ready" keeps a failed file out of batch trashing.
        if (app::Processing::isProcessable(file))
            failed.push_back(file);
        if (file.result())
            analysed.push_back(file);
    }
    QAction* scan = menu->addAction(
        symbolIcon(Symbol::waveformBadgeMagnifyingglass), QStringLiteral("Scan %1 Files").arg(count));
    scan->setEnabled(!scanning);
    connect(scan, &QAction::triggered, this, [this, files] {
        for (const AudioFile& file : files)
            m_viewModel.rescanFile(file);
    });
    menu->addSeparator();
    connect(menu->addAction(symbolIcon(Symbol::trash), QStringLiteral("Move %1 to Trash").arg(count)),
        &QAction::triggered, this, [this, files] { confirmTrash(files); });
    if (!failed.empty()) {
        connect(menu->addAction(symbolIcon(Symbol::trashFill), QStringLiteral("Delete %1 Failed").arg(failed.size())),
            &QAction::triggered, this, [this, failed] { confirmTrash(failed); });
    }
    if (!analysed.empty()) {
        connect(menu->addAction(symbolIcon(Symbol::tag), QStringLiteral("Update %1 Metadata").arg(analysed.size())),
            &QAction::triggered, this, [this, analysed] { updateTags(analysed); });
    }
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Copy %1 Paths").arg(count)), &QAction::triggered, this,
        [this, files] { copyPaths(files); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("%1 files selected").arg(count))->setEnabled(false);
    return menu;
}

FileListView::TrashTexts FileListView::trashConfirmationTexts(int count)
{
    return { QStringLiteral("Move %1 %2 to Trash?")
                 .arg(count)
                 .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files")),
        count == 1 ? QStringLiteral("This action cannot be undone.")
                   : QStringLiteral("This will move %1 files to the Trash. This action cannot be undone.").arg(count) };
}

QString FileListView::operationFailedMessage(const std::optional<std::string>& error)
{
    return error ? text(*error) : QStringLiteral("An unknown error occurred");
}

void FileListView::confirmTrash(std::vector<AudioFile> files)
{
    const TrashTexts texts = trashConfirmationTexts(static_cast<int>(files.size()));
    auto* box = new QMessageBox(QMessageBox::Warning, texts.title, texts.title, QMessageBox::NoButton, this);
    box->setInformativeText(texts.message);
    QPushButton* confirm = box->addButton(QStringLiteral("Move to Trash"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    // Return must never trash: the safe answer is the default.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, confirm, files = std::move(files)] {
        if (box->clickedButton() != confirm)
            return;
        m_viewModel.deleteFiles(files, [this](const app::ProcessingResults& results) {
            if (results.errors.empty())
                return;
            // The run's line names the step; the alert shows the error itself.
            std::string error = results.errors.front();
            if (error.starts_with("Delete: "))
                error.erase(0, 8);
            showError(error);
        });
    });
    box->open();
}

void FileListView::copyPaths(const std::vector<AudioFile>& files)
{
    if (files.empty())
        return;
    QStringList lines;
    for (const AudioFile& file : files) {
        const std::string path = std::filesystem::absolute(file.url()).lexically_normal().native();
        lines << QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
    }
    QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    emit notice(files.size() == 1 ? QStringLiteral("Copied the path")
                                  : QStringLiteral("Copied %1 paths").arg(files.size()),
        false);
}

void FileListView::showError(const std::optional<std::string>& error)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Operation Failed"),
        QStringLiteral("Operation Failed"), QMessageBox::Ok, this);
    box->setInformativeText(operationFailedMessage(error));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace sondrel::ui
