#include "SidebarView.h"

#include "LibraryFixture.h"

#include <QLabel>
#include <QStackedWidget>
#include <QTreeWidget>

namespace sondrel::ui {
namespace {

using core::QualityRating;
using Kind = app::ScannerViewModel::FolderStatusKind;
using test::resultRated;

std::shared_ptr<app::FolderNode> child(const app::FolderNode& node, const std::string& name)
{
    for (const auto& folder : node.children()) {
        if (folder->name() == name)
            return folder;
    }
    return nullptr;
}

struct Badge {
    bool spinner;
    bool symbol;
    QString count; // empty when no capsule shows
    QString errors; // the same, for the errors' capsule
};

Badge shown(FolderStatusIndicator& indicator)
{
    auto* spinner = indicator.findChild<QWidget*>(QStringLiteral("scanning"));
    auto* symbol = indicator.findChild<QLabel*>(QStringLiteral("statusSymbol"));
    auto* count = indicator.findChild<QLabel*>(QStringLiteral("failedCount"));
    // A badge that has shown nothing yet has no parts.
    const auto visible = [&](QWidget* part) { return part != nullptr && part->isVisibleTo(&indicator); };
    auto* errors = indicator.findChild<QLabel*>(QStringLiteral("errorCount"));
    return { visible(spinner), visible(symbol), visible(count) ? count->text() : QString(),
        visible(errors) ? errors->text() : QString() };
}

TEST(FolderStatusIndicatorTest, ShowsABadgePerStatus)
{
    FolderStatusIndicator indicator;
    const auto badge = [&](app::ScannerViewModel::FolderStatus status) {
        indicator.setStatus(status);
        return shown(indicator);
    };
    auto b = badge({ Kind::notScanned, 0, 0 });
    EXPECT_TRUE(!b.spinner && !b.symbol && b.count.isEmpty());
    b = badge({ Kind::scanning, 0, 0 });
    EXPECT_TRUE(b.spinner && !b.symbol && b.count.isEmpty());
    b = badge({ Kind::allPassed, 4, 0 });
    EXPECT_TRUE(!b.spinner && b.symbol && b.count.isEmpty());
    b = badge({ Kind::allFailed, 0, 3 });
    EXPECT_TRUE(!b.spinner && b.symbol && b.count == "3");
    b = badge({ Kind::mixed, 5, 2 });
    EXPECT_TRUE(!b.spinner && b.symbol && b.count == "2" && b.errors.isEmpty());
    // Files that could not be analysed get a badge of their own, beside any verdict.
    b = badge({ Kind::notScanned, 0, 0, 3 });
    EXPECT_TRUE(!b.spinner && !b.symbol && b.count.isEmpty() && b.errors == "3");
    b = badge({ Kind::mixed, 5, 2, 1 });
    EXPECT_TRUE(b.symbol && b.count == "2" && b.errors == "1");
    EXPECT_EQ(indicator.toolTip().toStdString(), "1 file could not be analysed");
    b = badge({ Kind::scanning, 0, 0, 1 });
    EXPECT_TRUE(b.spinner && b.errors.isEmpty());
}

class SidebarViewTest : public test::LibraryFixture { };

TEST_F(SidebarViewTest, WithoutALibraryItAsksForAFolder)
{
    app::ScannerViewModel model(services());
    SidebarView sidebar(model);
    auto* stack = sidebar.findChild<QStackedWidget*>();
    EXPECT_EQ(stack->currentWidget()->objectName(), "noFolder");
    QStringList texts;
    for (auto* label : stack->currentWidget()->findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("No folder selected"));
    EXPECT_TRUE(texts.contains("Click 'Select Folder' to choose your music library"));
}

TEST_F(SidebarViewTest, FoldersShowTheirStatusAndListSubFoldersOnceWhenExpanded)
{
    makeFile("good/a.flac", resultRated(QualityRating::lossless));
    makeFile("bad/b.mp3", resultRated(QualityRating::low, 15000.0f));
    makeFile("bad/c.mp3", resultRated(QualityRating::low, 15000.0f));
    makeFile("mixed/d.mp3", resultRated(QualityRating::high));
    makeFile("mixed/e.mp3", resultRated(QualityRating::low, 15000.0f));
    makeFile("mixed/inner/f.mp3", resultRated(QualityRating::high));
    app::ScannerViewModel model(services());
    SidebarView sidebar(model);
    open(model, false);
    const auto& root = model.rootNode();
    ASSERT_TRUE(root);
    ASSERT_TRUE(test::waitUntil([&] { return sidebar.tree()->topLevelItem(0)->childCount() == 3; }));
    // Opening the library already shows the verdicts the cache holds.
    sidebar.refreshStatuses();
    EXPECT_EQ(sidebar.indicatorFor(child(*root, "bad")->id())->status().kind, Kind::allFailed);
    EXPECT_EQ(shown(*sidebar.indicatorFor(child(*root, "bad")->id())).count, "2");

    open(model);
    sidebar.refreshStatuses();
    EXPECT_EQ(shown(*sidebar.indicatorFor(child(*root, "good")->id())).count, "");
    EXPECT_TRUE(shown(*sidebar.indicatorFor(child(*root, "good")->id())).symbol);
    EXPECT_EQ(shown(*sidebar.indicatorFor(child(*root, "bad")->id())).count, "2");
    EXPECT_EQ(shown(*sidebar.indicatorFor(child(*root, "mixed")->id())).count, "1");

    // A folder is listed when first expanded, and expanding it again adds nothing.
    const auto mixed = child(*root, "mixed");
    QTreeWidgetItem* mixedRow = sidebar.itemFor(mixed->id());
    EXPECT_FALSE(mixed->isLoaded());
    EXPECT_EQ(mixedRow->childCount(), 0);
    mixedRow->setExpanded(true);
    ASSERT_TRUE(test::waitUntil([&] { return mixedRow->childCount() == 1; }));
    mixedRow->setExpanded(false);
    mixedRow->setExpanded(true);
    EXPECT_EQ(mixedRow->childCount(), 1);
    EXPECT_EQ(mixedRow->child(0)->text(0), "inner");

    sidebar.tree()->setCurrentItem(mixedRow);
    EXPECT_EQ(model.selectedFolder(), mixed);
}

} // namespace
} // namespace sondrel::ui
