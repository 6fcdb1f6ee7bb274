#include "FolderNode.h"

#include "../SondrelCore/FixtureFolder.h"
#include "WithoutPermissionOverride.h"
#include "../EventLoop.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;
using sondrel::test::FixtureFolder;

// Lists the node on its worker and waits for the children to arrive.
void load(FolderNode& node)
{
    node.loadChildren();
    ASSERT_TRUE(test::waitUntil([&] { return node.isLoaded(); }));
}

std::vector<std::string> childNames(const FolderNode& node)
{
    std::vector<std::string> names;
    for (const std::shared_ptr<FolderNode>& child : node.children())
        names.push_back(child->name());
    return names;
}

TEST(FolderNodeTest, ListsVisibleSubfoldersSortedWithoutRegardToCase)
{
    FixtureFolder folder;
    for (const char* name : { "gamma", "alpha", "Beta", ".hidden" })
        fs::create_directory(folder / name);
    std::ofstream(folder / "file.mp3") << "x";
    fs::create_directory_symlink(folder / "alpha", folder / "link to alpha");

    const std::shared_ptr<FolderNode> root = FolderNode::create(folder.path(), 0);
    EXPECT_TRUE(root->isExpanded());
    EXPECT_FALSE(root->isLoaded());
    load(*root);

    EXPECT_TRUE(root->isLoaded());
    ASSERT_EQ(childNames(*root), (std::vector<std::string> { "alpha", "Beta", "gamma" }));
    for (const std::shared_ptr<FolderNode>& child : root->children()) {
        EXPECT_EQ(child->depth(), 1);
        EXPECT_EQ(child->parent(), root);
        EXPECT_EQ(child->url(), folder / child->name());
        EXPECT_FALSE(child->isExpanded());
        EXPECT_FALSE(child->isLoaded());
    }
}

TEST(FolderNodeTest, LoadsOnlyOnceAndSignalsEachChangeOnce)
{
    FixtureFolder folder;
    fs::create_directory(folder / "one");
    const std::shared_ptr<FolderNode> root = FolderNode::create(folder.path(), 0);
    std::vector<std::string> events;
    QObject::connect(root.get(), &FolderNode::childrenChanged, [&] { events.push_back("children"); });
    QObject::connect(root.get(), &FolderNode::isLoadedChanged, [&] { events.push_back("loaded"); });
    QObject::connect(
        root.get(), &FolderNode::isExpandedChanged, [&](bool on) { events.push_back(on ? "+" : "-"); });

    root->loadChildren();
    root->loadChildren(); // while the first listing runs
    load(*root);
    fs::create_directory(folder / "two");
    load(*root);
    root->setExpanded(true);
    root->setExpanded(false);

    EXPECT_EQ(childNames(*root), std::vector<std::string> { "one" });
    EXPECT_EQ(events, (std::vector<std::string> { "children", "loaded", "-" }));
}

TEST(FolderNodeTest, AFolderThatCannotBeListedLoadsWithoutChildren)
{
    FixtureFolder folder;
    fs::create_directories(folder / "locked/inner");
    fs::permissions(folder / "locked", fs::perms::none);
    const std::shared_ptr<FolderNode> missing = FolderNode::create(folder / "missing", 0);
    std::vector<fs::path> lockedChildren { "not listed" };

    const bool isLocked = test::runWithoutPermissionOverride(
        folder / "locked", [&] { lockedChildren = FolderNode::listSubfolders(folder / "locked"); });
    fs::permissions(folder / "locked", fs::perms::owner_all);
    load(*missing);

    EXPECT_TRUE(missing->isLoaded());
    EXPECT_TRUE(missing->children().empty());
    if (!isLocked)
        GTEST_SKIP() << "a folder with mode 000 stays readable here";
    EXPECT_TRUE(lockedChildren.empty());
}

} // namespace
} // namespace sondrel::app
