#include "FileFilterModel.h"
#include "FileTableModel.h"
#include "ProcessSheet.h"
#include "ViewsTestSupport.h"

namespace sondrel::ui {
namespace {

using app::ScanStatus;
using core::QualityRating;
using FolderStatusKind = app::ScannerViewModel::FolderStatusKind;

// A threshold chosen in the settings reaches every view at once, from the stored results.
class ThresholdChangeTest : public test::ViewsTest {
protected:
    ThresholdChangeTest()
    {
        // 19000 Hz fails 320 kbps (20000 Hz) and passes 192 kbps (17500 Hz); 16000 Hz fails both.
        add({ record("Live/a.mp3", ScanStatus::failed(), result(19000, 256, QualityRating::high)),
            record("Live/b.mp3", ScanStatus::passed(), result(21000, 320, QualityRating::high)),
            record("Club/c.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor)),
            record("Club/d.mp3", ScanStatus::error("Invalid data")) });
        m_failedOnly.setShowFailedOnly(true);
    }

    QString issue(int row) { return m_table.index(row, FileTableModel::issue).data().toString(); }

    FileTableModel m_table { *m_viewModel };
    FileFilterModel m_failedOnly { m_table };
};

TEST_F(ThresholdChangeTest, EveryStatusCountBadgeAndListFollowsAtOnce)
{
    ProcessSheet sheet(*m_viewModel, std::nullopt, nullptr);
    ASSERT_EQ(m_failedOnly.rowCount(), 2);
    ASSERT_EQ(sheet.counts().failed, 2);
    ASSERT_EQ(m_viewModel->folderStatus("/library/Live").kind, FolderStatusKind::mixed);
    int tableChanges = 0;
    QObject::connect(&m_table, &QAbstractItemModel::dataChanged, [&] { ++tableChanges; });
    int resets = 0;
    QObject::connect(&m_table, &QAbstractItemModel::modelReset, [&] { ++resets; });

    m_settings->setQualityThreshold(app::QualityThreshold::kbps192);

    EXPECT_EQ(m_viewModel->allFiles()[0].status(), ScanStatus::passed());
    EXPECT_EQ(m_viewModel->cachedCounts(), (app::FilesStore::StatusCounts { 2, 1, 1, 0, 0 }));
    EXPECT_EQ(m_viewModel->folderStatus("/library/Live").kind, FolderStatusKind::allPassed);
    EXPECT_EQ(m_viewModel->folderStatus("/library/Club").kind, FolderStatusKind::allFailed);
    EXPECT_EQ(m_failedOnly.rowCount(), 1);
    EXPECT_EQ(sheet.counts().failed, 1);
    EXPECT_EQ(sheet.counts().passed, 2);
    EXPECT_EQ(issue(0), "-");
    EXPECT_EQ(issue(2), "Below quality threshold");
    // The rows changed in one announcement, the issue column in one more: no signal per row.
    EXPECT_EQ(tableChanges, 2);
    EXPECT_EQ(resets, 0);

    // The error keeps its text and counts as it was.
    EXPECT_EQ(m_viewModel->allFiles()[3].status(), ScanStatus::error("Invalid data"));
}

// A change that judges no file differently still redraws the issue texts, and nothing else.
TEST_F(ThresholdChangeTest, AChangeThatMovesNoVerdictTouchesOnlyTheIssueColumn)
{
    m_settings->setQualityThreshold(app::QualityThreshold::kbps192);
    std::vector<std::pair<int, int>> columns;
    QObject::connect(
        &m_table, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex& to) {
            columns.emplace_back(from.column(), to.column());
        });
    m_settings->setQualityThreshold(app::QualityThreshold::kbps160);
    EXPECT_EQ(m_viewModel->cachedCounts().failed, 1);
    EXPECT_EQ(
        columns, (std::vector<std::pair<int, int>> { { FileTableModel::issue, FileTableModel::issue } }));
}

} // namespace
} // namespace sondrel::ui
