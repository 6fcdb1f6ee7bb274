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

    FileTableModel m_model { *m_viewModel };
};

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

TEST_F(FileTableModelTest, AThresholdChangeRedrawsTheIssueColumnWithTheNewVerdict)
{
    // A cutoff of 19000 Hz falls short of 320 kbps (20000 Hz) and reaches 192 kbps (17500 Hz).
    auto& settings = *m_settings;
    add({ record("a.mp3", ScanStatus::failed(), result(19000, 256, QualityRating::high)) });
    ASSERT_EQ(cell(0, Column::issue), "Below quality threshold");

    bool issueRedrawn = false;
    QObject::connect(
        &m_model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex& to) {
            issueRedrawn = issueRedrawn || (from.column() <= Column::issue && Column::issue <= to.column());
        });
    settings.setQualityThreshold(app::QualityThreshold::kbps192);
    EXPECT_TRUE(issueRedrawn);
    EXPECT_EQ(cell(0, Column::issue), "-");
}

} // namespace
} // namespace sondrel::ui
