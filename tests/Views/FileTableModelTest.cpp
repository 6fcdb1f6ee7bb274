#include "FileTableModel.h"

#include "AppSettings.h"
#include "ViewsTestSupport.h"

namespace sondrel::ui {
namespace {

using app::ScanStatus;
using core::QualityRating;
using Column = FileTableModel::Column;

class FileTableModelTest : public test::ViewsTest {
protected:
    QString cell(int row, int column, int role = Qt::DisplayRole)
    {
        return m_model.index(row, column).data(role).toString();
    }
    int symbolCount(int row, int column)
    {
        return static_cast<int>(m_model.index(row, column).data(FileTableModel::SymbolsRole).toList().size());
    }

    std::vector<std::string> rowNames()
    {
        std::vector<std::string> names;
        for (int row = 0; row < m_model.rowCount(); ++row)
            names.push_back(m_model.file(row).name());
        return names;
    }
    void sortAndWait(int column, Qt::SortOrder order = Qt::AscendingOrder)
    {
        m_model.sort(column, order);
        ASSERT_TRUE(waitUntil([&] { return !m_model.isSortPending(); }));
    }

    FileTableModel m_model { *m_viewModel };
};

using Names = std::vector<std::string>;

TEST_F(FileTableModelTest, CellsFollowEachStateOfARecord)
{
    core::ID3Parser::Metadata tags;
    tags.title = "Song";
    tags.artist = "Artist";
    tags.bitrate = 320;
    auto overridden = record("override.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor), tags);
    overridden.setUserOverride(core::UserOverride { true, QualityRating::high, {} });
    add({ record("pending.mp3"), record("broken.mp3", ScanStatus::error("Invalid data")),
        record("marked.mp3", ScanStatus::passed(), result(20500, 192, QualityRating::medium), tags),
        record("genuine.wav", ScanStatus::passed(), result(21000, 1411, QualityRating::lossless)),
        record("lossy.flac", ScanStatus::failed(), result(16000, 128, QualityRating::suspicious)), overridden });
    ASSERT_EQ(m_model.rowCount(), 6);

    // Not scanned, analysis error.
    EXPECT_EQ(cell(0, Column::djReady, Qt::ToolTipRole), "Not yet scanned");
    EXPECT_EQ(cell(0, Column::djReady, Qt::AccessibleTextRole), "Not scanned");
    EXPECT_EQ(cell(0, Column::title), "-");
    EXPECT_EQ(cell(0, Column::actualBitrate), "-");
    EXPECT_EQ(cell(0, Column::issue), "-");
    EXPECT_EQ(cell(0, Column::clipping, Qt::AccessibleTextRole), "Not analysed");
    EXPECT_EQ(cell(1, Column::djReady, Qt::ToolTipRole), "Analysis failed: Invalid data");
    EXPECT_EQ(cell(1, Column::djReady, Qt::AccessibleTextRole), "Analysis error: Invalid data");

    // An MP3 claiming 320 with 192 detected and a cutoff above the threshold: marked, transcoded.
    EXPECT_EQ(cell(2, Column::bitrate), "320kbps");
    EXPECT_EQ(cell(2, Column::actualBitrate), "192kbps");
    EXPECT_EQ(cell(2, Column::issue), "Marked as 320k");
    EXPECT_EQ(cell(2, Column::transcode, Qt::AccessibleTextRole), "Transcode warning");
    EXPECT_EQ(symbolCount(2, Column::transcode), 1);
    // Passed by the threshold, not DJ ready by the rating: the tooltip says which standard speaks.
    EXPECT_EQ(cell(2, Column::djReady, Qt::ToolTipRole).toStdString(),
        "Not DJ ready: below 320 kbps; passes your " + app::label(app::AppSettings::shared().qualityThreshold())
            + " threshold");
    EXPECT_EQ(cell(2, Column::djReady, Qt::AccessibleTextRole), "Not DJ ready");

    // A lossless WAV without a claimed bitrate; a FLAC from a lossy source.
    EXPECT_EQ(cell(3, Column::bitrate), "Uncompressed");
    EXPECT_EQ(cell(3, Column::actualBitrate), "Lossless");
    EXPECT_EQ(cell(3, Column::transcode), "-");
    EXPECT_EQ(cell(3, Column::djReady, Qt::AccessibleTextRole), "DJ ready");
    EXPECT_EQ(cell(4, Column::issue), "Below quality threshold");
    EXPECT_EQ(cell(4, Column::transcode, Qt::ToolTipRole), "Likely transcoded - file claims higher quality than detected");

    // An override shows the pencil beside the verdict, and the verdict is the user's.
    EXPECT_EQ(symbolCount(5, Column::djReady), 2);
    EXPECT_EQ(cell(5, Column::djReady, Qt::ToolTipRole), "Manually marked as DJ ready");

    EXPECT_EQ(cell(3, Column::size), "4.2 MB");
    EXPECT_EQ(cell(3, Column::filename), "genuine.wav");
}

TEST_F(FileTableModelTest, ClippingIsGradedByTheShareOfClippedSamples)
{
    add({ record("none.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high, { 0, 10000, 0.5f })),
        record("mild.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high, { 1, 10001, 1.0f })),
        record("moderate.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high, { 1, 10000, 1.0f })),
        record("severe.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high, { 10, 10000, 1.0f })) });
    EXPECT_EQ(cell(0, Column::clipping, Qt::AccessibleTextRole), "No clipping");
    EXPECT_EQ(cell(1, Column::clipping, Qt::ToolTipRole), "Mild clipping detected (1 samples)");
    // Exactly 0.0001 is moderate, not mild.
    EXPECT_EQ(cell(2, Column::clipping, Qt::ToolTipRole), "Moderate clipping detected (1 samples)");
    EXPECT_EQ(cell(3, Column::clipping, Qt::ToolTipRole), "Severe clipping detected (10 samples) - may cause distortion");
}

// The Issue cell explains every verdict it can: an error's own text, severe clipping that the
// threshold does not see, and the rule's texts otherwise.
TEST_F(FileTableModelTest, TheIssueCellNamesTheReason)
{
    core::ID3Parser::Metadata claims320;
    claims320.bitrate = 320;
    add({ record("broken.mp3", ScanStatus::error("Invalid data found when processing input")),
        record("clipped.wav", ScanStatus::passed(),
            result(21000, 1411, QualityRating::lossless, { 30, 10000, 1.0f })),
        record("mild.wav", ScanStatus::passed(),
            result(21000, 1411, QualityRating::lossless, { 1, 100000, 1.0f })),
        record(
            "poor.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor, { 30, 10000, 1.0f })),
        record("marked.mp3", ScanStatus::passed(), result(20500, 192, QualityRating::medium), claims320) });
    EXPECT_EQ(cell(0, Column::issue), "Invalid data found when processing input");
    EXPECT_EQ(m_model.index(0, Column::issue).data(Qt::ForegroundRole).value<QColor>(),
        FileTableModel::issueColor());
    EXPECT_EQ(cell(1, Column::issue), "Clipping");
    EXPECT_EQ(cell(2, Column::issue), "-");
    // Below the threshold, the threshold speaks first.
    EXPECT_EQ(cell(3, Column::issue), "Below quality threshold");
    EXPECT_EQ(cell(4, Column::issue), "Marked as 320k");
}

// Sorted, then back to the library's order; selections (persistent indexes) follow their
// records through both.
TEST_F(FileTableModelTest, SortsOffTheGuiThreadAndReturnsToTheLibraryOrder)
{
    core::ID3Parser::Metadata tags;
    std::vector<AudioFile> files;
    for (const char* title : { "Delta", "alpha", "Charlie", "Bravo" }) {
        tags.title = title;
        files.push_back(record(std::string(title) + ".mp3", ScanStatus::pending(), std::nullopt, tags));
    }
    add(files);
    const QPersistentModelIndex charlie = m_model.index(2, Column::title);
    sortAndWait(Column::title);
    EXPECT_EQ(rowNames(), (Names { "alpha.mp3", "Bravo.mp3", "Charlie.mp3", "Delta.mp3" }));
    EXPECT_EQ(charlie.row(), 2);
    sortAndWait(Column::title, Qt::DescendingOrder);
    EXPECT_EQ(rowNames(), (Names { "Delta.mp3", "Charlie.mp3", "Bravo.mp3", "alpha.mp3" }));
    EXPECT_EQ(charlie.data().toString(), "Charlie");
    m_model.sort(-1);
    EXPECT_FALSE(m_model.isSortPending());
    EXPECT_EQ(rowNames(), (Names { "Delta.mp3", "alpha.mp3", "Charlie.mp3", "Bravo.mp3" }));
    EXPECT_EQ(charlie.row(), 2);
}

// While sorted by verdict, a verdict that arrives changes its row in place at once and moves
// it at the next re-sort; a record that arrives waits at the end; one that goes takes only
// its own row. Every record is listed exactly once throughout.
TEST_F(FileTableModelTest, RowsChangingWhileSortedKeepTheTableConsistent)
{
    const auto ready = result(20500, 320, QualityRating::high);
    add({ record("a.mp3", ScanStatus::passed(), ready), record("b.mp3"),
        record("c.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor)),
        record("d.mp3", ScanStatus::passed(), ready) });
    sortAndWait(Column::djReady);
    ASSERT_EQ(rowNames(), (Names { "c.mp3", "a.mp3", "d.mp3", "b.mp3" }));

    int layouts = 0;
    QObject::connect(&m_model, &QAbstractItemModel::layoutChanged, [&] { ++layouts; });
    const QUuid b = m_viewModel->allFiles()[1].id();
    m_viewModel->filesStore().updateFileAnalysis(
        b, ScanStatus::failed(), result(15000, 128, QualityRating::poor));
    m_viewModel->syncFromStore();
    EXPECT_EQ(rowNames(), (Names { "c.mp3", "a.mp3", "d.mp3", "b.mp3" }));
    EXPECT_EQ(cell(3, Column::djReady, Qt::AccessibleTextRole), "Not DJ ready");
    EXPECT_TRUE(m_model.isSortPending());
    ASSERT_TRUE(waitUntil([&] { return !m_model.isSortPending(); }));
    EXPECT_EQ(rowNames(), (Names { "b.mp3", "c.mp3", "a.mp3", "d.mp3" }));
    EXPECT_EQ(layouts, 1);

    add({ record("e.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor)) });
    EXPECT_EQ(rowNames(), (Names { "b.mp3", "c.mp3", "a.mp3", "d.mp3", "e.mp3" }));
    ASSERT_TRUE(waitUntil([&] { return !m_model.isSortPending(); }));
    EXPECT_EQ(rowNames(), (Names { "b.mp3", "c.mp3", "e.mp3", "a.mp3", "d.mp3" }));

    std::vector<std::pair<int, int>> removed;
    QObject::connect(&m_model, &QAbstractItemModel::rowsRemoved,
        [&](const QModelIndex&, int first, int last) { removed.emplace_back(first, last); });
    m_viewModel->filesStore().removeFiles(
        { m_viewModel->allFiles()[2].id(), m_viewModel->allFiles()[3].id() });
    m_viewModel->syncFromStore();
    EXPECT_EQ(rowNames(), (Names { "b.mp3", "e.mp3", "a.mp3" }));
    EXPECT_EQ(removed.size(), 2u);
    EXPECT_EQ(cell(1, Column::filename), "e.mp3");
}

} // namespace
} // namespace sondrel::ui
