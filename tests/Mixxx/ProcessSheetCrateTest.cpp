#include "MixxxLibrary.h"
#include "ProcessSheet.h"

#include "../Views/LibraryFixture.h"
#include "MixxxDatabase.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace sondrel::ui {
namespace {

using core::QualityRating;
using test::resultRated;
using test::waitUntil;

// HOME points at the test's folder, where a Mixxx library may or may not be.
class ProcessSheetCrateTest : public test::LibraryFixture {
protected:
    void SetUp() override
    {
        m_home = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString((m_folder.path() / "home").string()));
    }
    void TearDown() override { qputenv("HOME", m_home); }

    test::MixxxDatabase makeMixxxLibrary()
    {
        std::filesystem::create_directories(app::MixxxLibrary::defaultDatabase().parent_path());
        return test::MixxxDatabase(app::MixxxLibrary::defaultDatabase());
    }

    QByteArray m_home;
};

TEST_F(ProcessSheetCrateTest, OffersTheCrateOnlyWhereMixxxKeepsALibrary)
{
    makeFile("low.mp3", resultRated(QualityRating::low, 15000.0f));
    app::ScannerViewModel model(services());
    open(model);
    {
        ProcessSheet sheet(model, std::nullopt, nullptr);
        EXPECT_FALSE(sheet.findChild<QCheckBox*>(QStringLiteral("mixxxCrate")));
    }
    makeMixxxLibrary();
    ProcessSheet sheet(model, std::nullopt, nullptr);
    auto* crate = sheet.findChild<QCheckBox*>(QStringLiteral("mixxxCrate"));
    ASSERT_TRUE(crate);
    EXPECT_EQ(crate->text(), "Add to Mixxx crate");
    EXPECT_TRUE(crate->isEnabled());
    auto* name = sheet.findChild<QLineEdit*>(QStringLiteral("crateName"));
    EXPECT_EQ(name->text(), "Sondrel: failed");
    EXPECT_FALSE(sheet.canProcess());
    crate->setChecked(true);
    EXPECT_TRUE(sheet.canProcess());
    name->setText("  ");
    EXPECT_FALSE(sheet.canProcess());
}

TEST_F(ProcessSheetCrateTest, TheRunFillsTheNamedCrateWithoutTheLinkWarning)
{
    const auto low = makeFile("low.mp3", resultRated(QualityRating::low, 15000.0f));
    makeFile("unknown.mp3", resultRated(QualityRating::low, 15000.0f));
    makeFile("good.flac", resultRated(QualityRating::lossless));
    test::MixxxDatabase mixxx = makeMixxxLibrary();
    mixxx.addTrack(low);
    app::ScannerViewModel model(services());
    open(model);
    ProcessSheet sheet(model, std::nullopt, nullptr);
    sheet.findChild<QCheckBox*>(QStringLiteral("mixxxCrate"))->setChecked(true);
    sheet.findChild<QLineEdit*>(QStringLiteral("crateName"))->setText("Check these");
    sheet.requestProcess(); // no warning: the files stay where they are
    ASSERT_TRUE(waitUntil([&] { return sheet.processingResults().has_value(); }));
    EXPECT_EQ(sheet.processingResults()->crateAddedCount, 1);
    EXPECT_EQ(sheet.processingResults()->notInMixxxLibrary.size(), 1u);
    EXPECT_EQ(mixxx.crate("Check these"), low.string());
    QStringList lines;
    for (auto* label : sheet.findChildren<QLabel*>(QStringLiteral("resultLine")))
        lines << label->text();
    EXPECT_EQ(lines, QStringList { "1 files added to Mixxx crate" });
}

} // namespace
} // namespace sondrel::ui
