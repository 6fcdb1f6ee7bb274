#include "ListExportPanel.h"

#include "ChooserFolders.h"

#include "../SondrelCore/FixtureFolder.h"

#include <QDir>
#include <QSettings>

#include <gtest/gtest.h>

namespace sondrel::ui {
namespace {

class ChooserFoldersTest : public testing::Test {
protected:
    ChooserFoldersTest()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path().c_str());
        std::filesystem::create_directories(m_library / "Exports");
    }

    static QString text(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

    test::FixtureFolder m_folder;
    std::filesystem::path m_library = m_folder.path() / "Music";
};

// Never the process's working folder: the last choice for the same purpose while it exists, else
// the library, else home.
TEST_F(ChooserFoldersTest, StartInTheLastFolderChosenElseTheLibrary)
{
    using Purpose = ChooserFolders::Purpose;
    EXPECT_EQ(ChooserFolders::startFolder(Purpose::exportList, m_library), text(m_library));
    EXPECT_EQ(ChooserFolders::startFolder(Purpose::exportList), QDir::homePath());

    ChooserFolders::remember(Purpose::exportList, text(m_library / "Exports" / "fakes.m3u8"), true);
    EXPECT_EQ(ChooserFolders::startFolder(Purpose::exportList, m_library), text(m_library / "Exports"));
    // Each purpose keeps its own.
    EXPECT_EQ(ChooserFolders::startFolder(Purpose::moveDestination, m_library), text(m_library));

    std::filesystem::remove_all(m_library / "Exports");
    EXPECT_EQ(ChooserFolders::startFolder(Purpose::exportList, m_library), text(m_library));
}

TEST_F(ChooserFoldersTest, TheExportPanelTakesTheFormatFromTheNameElseTheSelectedType)
{
    QWidget parent;
    auto* panel = new ListExportPanel({}, m_library, {}, &parent);
    EXPECT_EQ(panel->directory().absolutePath(), text(m_library));
    panel->selectNameFilter(QStringLiteral("M3U8 Playlist (*.m3u8)"));
    EXPECT_EQ(panel->formatFor(QStringLiteral("/x/list.csv")), app::ListExport::Format::csv);
    EXPECT_EQ(panel->formatFor(QStringLiteral("/x/list.JSONL")), app::ListExport::Format::jsonLines);
    EXPECT_EQ(panel->formatFor(QStringLiteral("/x/list.txt")), app::ListExport::Format::m3u8);
}

} // namespace
} // namespace sondrel::ui
