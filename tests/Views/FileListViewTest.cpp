#include "FileListView.h"

#include "ViewsTestSupport.h"

#include "FileTableModel.h"
#include "StatusBar.h"
#include "SymbolDelegate.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QToolTip>

namespace sondrel::ui {
namespace {

using app::AudioFile;
using app::ScanStatus;
using core::QualityRating;

class FileListViewTest : public test::ViewsTest {
protected:
    std::vector<std::string> visibleNames()
    {
        QCoreApplication::processEvents();
        std::vector<std::string> names;
        for (const AudioFile& file : m_view.filteredFiles())
            names.push_back(file.name());
        return names;
    }

    static QStringList entries(QMenu& menu)
    {
        QStringList texts;
        for (QAction* action : menu.actions())
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
        return texts;
    }

    FileListView m_view { *m_viewModel };
};

TEST_F(FileListViewTest, FiltersByFolderFailedStatusAndSearchText)
{
    core::ID3Parser::Metadata beatles;
    beatles.artist = "The Beatles";
    add({ record("Live/one.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor), beatles),
        record("Live Sets/two.mp3", ScanStatus::passed()), record("Live/three  spaces.mp3", ScanStatus::error("x")),
        record("four.mp3", ScanStatus::failed()) });
    EXPECT_EQ(visibleNames().size(), 4u);

    // "beat" finds the artist though no name holds it; two spaces search for two spaces.
    m_view.setSearchText(QStringLiteral("beat"));
    EXPECT_EQ(visibleNames(), std::vector<std::string> { "one.mp3" });
    m_view.setSearchText(QStringLiteral("  "));
    EXPECT_EQ(visibleNames(), std::vector<std::string> { "three  spaces.mp3" });
    m_view.setSearchText({});

    m_view.setShowFailedOnly(true);
    EXPECT_EQ(visibleNames(), (std::vector<std::string> { "one.mp3", "four.mp3" }));
    m_view.setShowFailedOnly(false);

    // A folder holds its own files, not those of a sibling that shares its name's start.
    m_viewModel->setSelectedFolder(app::FolderNode::create("/library/Live", 1));
    EXPECT_EQ(visibleNames(), (std::vector<std::string> { "one.mp3", "three  spaces.mp3" }));

    m_view.selectAll();
    EXPECT_EQ(m_view.selectedFileIds().size(), 2);
    m_view.clearSelection();
    EXPECT_TRUE(m_view.selectedFileIds().isEmpty());

    // A file moved out of the library is not listed under its root, as the root's badge says.
    add({ AudioFile(std::filesystem::path("/rejects/outside.mp3"), core::AudioFormat::mp3, 1000, {}) });
    m_viewModel->setSelectedFolder(app::FolderNode::create("/library", 0));
    EXPECT_EQ(
        visibleNames(), (std::vector<std::string> { "one.mp3", "two.mp3", "three  spaces.mp3", "four.mp3" }));
}

TEST_F(FileListViewTest, ContextMenusOfferWhatTheSelectionAllows)
{
    const auto analysed = record("a.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor));
    const auto pending = record("b.mp3");
    const auto passed = record("c.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high));
    add({ analysed, pending, passed });

    std::unique_ptr<QMenu> one(m_view.contextMenu({ analysed }, nullptr));
    EXPECT_EQ(entries(*one),
        (QStringList { "Play", "--", "Scan File", "--", "Move to Trash", "Update Metadata", "--", "Copy Path",
            "Show in File Manager", "--", "Quality: 128kbps", "Cutoff: 16.0 kHz", "Bitrate: ~128 kbps" }));
    std::unique_ptr<QMenu> unanalysed(m_view.contextMenu({ pending }, nullptr));
    EXPECT_EQ(entries(*unanalysed),
        (QStringList {
            "Play", "--", "Scan File", "--", "Move to Trash", "--", "Copy Path", "Show in File Manager" }));

    std::unique_ptr<QMenu> several(m_view.contextMenu({ analysed, pending, passed }, nullptr));
    EXPECT_EQ(entries(*several),
        (QStringList { "Scan 3 Files", "--", "Move 3 to Trash", "Delete 1 Failed", "Update 2 Metadata", "--",
            "Copy 3 Paths", "--", "3 files selected" }));
    // No failed file among them: no "Delete ... Failed"; none analysed: no "Update".
    std::unique_ptr<QMenu> none(m_view.contextMenu({ pending, pending }, nullptr));
    EXPECT_EQ(entries(*none),
        (QStringList {
            "Scan 2 Files", "--", "Move 2 to Trash", "--", "Copy 2 Paths", "--", "2 files selected" }));
    EXPECT_EQ(m_view.contextMenu({}, nullptr), nullptr);
}

// One absolute path a line, from the menu and from Ctrl+C; names keep their commas and non-ASCII.
TEST_F(FileListViewTest, CopyPathPutsThePathsOnTheClipboard)
{
    const auto first = record("Set, One/Ünïcødé.mp3", ScanStatus::failed());
    const auto second = record("b.mp3");
    add({ first, second });
    std::unique_ptr<QMenu> one(m_view.contextMenu({ first }, nullptr));
    for (QAction* action : one->actions()) {
        if (action->text() == "Copy Path")
            action->trigger();
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/library/Set, One/Ünïcødé.mp3");

    QGuiApplication::clipboard()->clear();
    m_view.selectAll();
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QCoreApplication::sendEvent(m_view.table(), &copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "/library/Set, One/Ünïcødé.mp3\n/library/b.mp3");
}

TEST_F(FileListViewTest, TrashAndFailureTextsCountTheFiles)
{
    const auto one = FileListView::trashConfirmationTexts(1);
    EXPECT_EQ(one.title, "Move 1 file to Trash?");
    EXPECT_EQ(one.message, "This action cannot be undone.");
    const auto three = FileListView::trashConfirmationTexts(3);
    EXPECT_EQ(three.title, "Move 3 files to Trash?");
    EXPECT_EQ(three.message, "This will move 3 files to the Trash. This action cannot be undone.");
    EXPECT_EQ(FileListView::operationFailedMessage(std::nullopt), "An unknown error occurred");
    EXPECT_EQ(FileListView::operationFailedMessage("Permission denied"), "Permission denied");
}

TEST_F(FileListViewTest, EmptyStatesSayWhyNothingShows)
{
    QCoreApplication::processEvents();
    EXPECT_EQ(m_view.emptyHeadline(), "Select a folder to begin");
    EXPECT_EQ(m_view.emptyLine(), "");

    bool discovered = false;
    QObject::connect(m_viewModel.get(), &app::ScannerViewModel::discoveryFinished, [&] { discovered = true; });
    m_viewModel->setLibrary(m_folder.path());
    ASSERT_TRUE(waitUntil([&] { return discovered; }));
    ASSERT_TRUE(waitUntil([&] { return m_view.emptyHeadline() == "No audio files found"; }));
    EXPECT_EQ(m_view.emptyLine(), "Select a folder containing audio files and click Scan");

    add({ AudioFile(m_folder.path() / "x.mp3", core::AudioFormat::mp3, 1000, {}) });
    m_view.setSearchText(QStringLiteral("zz top"));
    ASSERT_TRUE(waitUntil([&] { return m_view.emptyHeadline() == "No results for \"zz top\""; }));
    EXPECT_EQ(m_view.emptyLine(), "Try a different search term");
    m_view.setSearchText({});
    ASSERT_TRUE(waitUntil([&] { return m_view.emptyHeadline().isEmpty(); }));
}

// The table's own keys: Tab leaves it (it never steps cell by cell, changing the track behind the
// user's back), Return plays the selected row, Space plays or pauses it.
TEST_F(FileListViewTest, ReturnPlaysSpaceTogglesAndTabLeavesTheTable)
{
    add({ record("a.mp3"), record("b.mp3") });
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_view.table()->tabKeyNavigation());
    m_view.selectFiles({ m_viewModel->allFiles()[1].id() });
    std::vector<std::string> played;
    std::vector<std::string> toggled;
    QObject::connect(&m_view, &FileListView::playTrack, [&](const AudioFile& file) { played.push_back(file.name()); });
    QObject::connect(
        &m_view, &FileListView::togglePlayback, [&](const AudioFile& file) { toggled.push_back(file.name()); });
    for (const int key : { Qt::Key_Return, Qt::Key_Space }) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"));
        QCoreApplication::sendEvent(m_view.table(), &press);
    }
    EXPECT_EQ(played, std::vector<std::string> { "b.mp3" });
    EXPECT_EQ(toggled, std::vector<std::string> { "b.mp3" });
}

// A hidden column takes no room, now and after a restart (a new view over the saved layout).
TEST_F(FileListViewTest, AHiddenColumnLeavesNoBlankAndStaysHiddenAfterARestart)
{
    const auto noBlank = [](QHeaderView* header) {
        int shown = 0;
        for (int column = 0; column < FileTableModel::kColumnCount; ++column) {
            if (header->isSectionHidden(column))
                EXPECT_EQ(header->sectionSize(column), 0) << column;
            else
                shown += header->sectionSize(column);
        }
        EXPECT_EQ(header->length(), shown);
    };
    QHeaderView* header = m_view.table()->horizontalHeader();
    m_view.setColumnHidden(FileTableModel::transcode, true);
    EXPECT_TRUE(header->isSectionHidden(FileTableModel::transcode));
    noBlank(header);

    FileListView restarted(*m_viewModel);
    QHeaderView* restored = restarted.table()->horizontalHeader();
    EXPECT_TRUE(restored->isSectionHidden(FileTableModel::transcode));
    noBlank(restored);
    restarted.setColumnHidden(FileTableModel::transcode, false);
    EXPECT_GE(restored->sectionSize(FileTableModel::transcode), 50);
}

// On a first start every header shows its whole label and sort arrow, where the column's
// maximum width allows.
TEST_F(FileListViewTest, EveryLabelFitsItsColumnOnAFirstStart)
{
    QHeaderView* header = m_view.table()->horizontalHeader();
    for (int column = 0; column < FileTableModel::kColumnCount; ++column) {
        const auto& info = FileTableModel::kColumns[static_cast<std::size_t>(column)];
        const int needed = header->sectionSizeHint(column);
        EXPECT_GE(header->sectionSize(column), info.maximumWidth > 0 ? std::min(needed, info.maximumWidth) : needed)
            << info.title;
        EXPECT_GE(header->sectionSize(column), info.idealWidth) << info.title;
    }
}

// Rows that go away take their selection with them, and the window is told: no "Process 1"
// with nothing selected.
TEST_F(FileListViewTest, TheSelectionCountFollowsRowsThatGoAway)
{
    const auto gone = record("gone.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor));
    add({ gone, record("kept.mp3") });
    QCoreApplication::processEvents();
    std::vector<int> counts;
    QObject::connect(&m_view, &FileListView::selectionCountChanged, [&](int count) { counts.push_back(count); });
    m_view.selectFiles({ gone.id() });
    EXPECT_EQ(counts, std::vector<int> { 1 });
    m_viewModel->filesStore().removeFiles({ gone.id() });
    m_viewModel->syncFromStore();
    ASSERT_TRUE(waitUntil([&] { return !counts.empty() && counts.back() == 0; }));
    EXPECT_TRUE(m_view.statusBar()->processSelectedButton()->isHidden());
}

// Return in the trash question must not trash: Cancel is the default button.
TEST_F(FileListViewTest, TheTrashQuestionDefaultsToCancel)
{
    const auto file = record("a.mp3");
    add({ file });
    std::unique_ptr<QMenu> menu(m_view.contextMenu({ file }, nullptr));
    for (QAction* action : menu->actions()) {
        if (action->text() == "Move to Trash")
            action->trigger();
    }
    auto* question = m_view.findChild<QMessageBox*>();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text(), "Move 1 file to Trash?");
    ASSERT_TRUE(question->defaultButton());
    EXPECT_EQ(question->defaultButton()->text(), "Cancel");
    question->defaultButton()->click();
    EXPECT_EQ(m_viewModel->allFiles().size(), 1u);
}

void clickSection(QHeaderView* header, int column)
{
    const QPoint centre(
        header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    const QPointF global = header->viewport()->mapToGlobal(QPointF(centre));
    for (auto type : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease }) {
        QMouseEvent event(type, QPointF(centre), global, Qt::LeftButton,
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &event);
    }
}

// Header clicks cycle ascending, descending, then the library's order, with the indicator; the
// sort is kept with the column layout and comes back with a new view.
TEST_F(FileListViewTest, HeaderClicksSortAndTheSortSurvivesARestart)
{
    add({ record("b.mp3"), record("c.mp3"), record("a.mp3") });
    m_view.resize(1200, 400);
    m_view.show();
    QHeaderView* header = m_view.table()->horizontalHeader();
    ASSERT_TRUE(waitUntil([&] { return header->isVisible(); }));
    const auto sortedNames = [&](const std::vector<std::string>& expected) {
        return waitUntil([&] { return visibleNames() == expected; });
    };
    EXPECT_EQ(header->sortIndicatorSection(), -1);

    clickSection(header, FileTableModel::filename);
    EXPECT_EQ(header->sortIndicatorSection(), FileTableModel::filename);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_TRUE(sortedNames({ "a.mp3", "b.mp3", "c.mp3" }));
    clickSection(header, FileTableModel::filename);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_TRUE(sortedNames({ "c.mp3", "b.mp3", "a.mp3" }));

    {
        FileListView restarted(*m_viewModel);
        QHeaderView* restored = restarted.table()->horizontalHeader();
        EXPECT_EQ(restored->sortIndicatorSection(), FileTableModel::filename);
        EXPECT_EQ(restored->sortIndicatorOrder(), Qt::DescendingOrder);
        EXPECT_TRUE(waitUntil([&] {
            std::vector<std::string> names;
            for (const AudioFile& file : restarted.filteredFiles())
                names.push_back(file.name());
            return names == std::vector<std::string> { "c.mp3", "b.mp3", "a.mp3" };
        }));
    }

    clickSection(header, FileTableModel::filename);
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    EXPECT_TRUE(sortedNames({ "b.mp3", "c.mp3", "a.mp3" }));
    FileListView unsorted(*m_viewModel);
    EXPECT_EQ(unsorted.table()->horizontalHeader()->sortIndicatorSection(), -1);
}

// The search keys the table keeps follow their records as rows come and go, sorted or not,
// whether made by the worker or on the first search.
TEST_F(FileListViewTest, SearchFindsTheRightRowsAfterRowsComeAndGo)
{
    core::ID3Parser::Metadata tags;
    tags.artist = "Señor Coconut";
    add({ record("beat.mp3"), record("1.mp3", ScanStatus::pending(), std::nullopt, tags),
        record("other.mp3") });
    m_view.setSearchText(QStringLiteral("SEÑOR"));
    EXPECT_EQ(visibleNames(), std::vector<std::string> { "1.mp3" });
    m_view.setSearchText(QString());
    m_view.table()->horizontalHeader()->setSortIndicator(FileTableModel::filename, Qt::DescendingOrder);
    ASSERT_TRUE(waitUntil([&] {
        return visibleNames() == std::vector<std::string> { "other.mp3", "beat.mp3", "1.mp3" };
    }));

    m_viewModel->filesStore().removeFiles({ m_viewModel->allFiles()[0].id() });
    m_viewModel->syncFromStore();
    tags.artist = "Beat Happening";
    add({ record("2.mp3", ScanStatus::pending(), std::nullopt, tags) });
    // Made here on demand, then by the worker a second after the rows last changed.
    for (int pass = 0; pass < 2; ++pass) {
        m_view.setSearchText(QStringLiteral("beat"));
        EXPECT_EQ(visibleNames(), std::vector<std::string> { "2.mp3" });
        m_view.setSearchText(QStringLiteral("señor"));
        EXPECT_EQ(visibleNames(), std::vector<std::string> { "1.mp3" });
        m_view.setSearchText(QString());
        QElapsedTimer wait;
        wait.start();
        waitUntil([&] { return wait.elapsed() > 1200; });
    }
}

// A cell that cuts its text shows the whole text on hover; one that shows it whole has no
// tooltip.
TEST_F(FileListViewTest, ACutCellShowsItsWholeTextInATooltip)
{
    core::ID3Parser::Metadata tags;
    tags.title = "A title far too long for the narrowest title column that the table allows";
    add({ record("short.mp3", ScanStatus::pending(), std::nullopt, tags), record("s.mp3") });
    m_view.resize(1400, 400);
    m_view.show();
    QCoreApplication::processEvents();
    QTableView* table = m_view.table();
    table->horizontalHeader()->resizeSection(FileTableModel::title, 100);
    auto* delegate = qobject_cast<SymbolDelegate*>(table->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    const auto cut = [&](int row, int column) {
        const QModelIndex index = table->model()->index(row, column);
        QStyleOptionViewItem option;
        option.initFrom(table);
        option.widget = table;
        option.rect = table->visualRect(index);
        return delegate->cutsText(option, index);
    };
    EXPECT_TRUE(cut(0, FileTableModel::title));
    EXPECT_FALSE(cut(0, FileTableModel::filename));
    EXPECT_FALSE(cut(1, FileTableModel::title));

    const QRect cell = table->visualRect(table->model()->index(0, FileTableModel::title));
    QHelpEvent event(QEvent::ToolTip, cell.center(), table->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(table->viewport(), &event);
    EXPECT_EQ(QToolTip::text().toStdString(), *tags.title);
    QToolTip::hideText();
}

} // namespace
} // namespace sondrel::ui
