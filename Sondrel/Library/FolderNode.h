#pragma once

#include <QObject>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace sondrel::app {

// One folder of the sidebar's tree. It lists its own sub-folders lazily, one level, once.
//
// Lives on the GUI thread. Nodes are owned through std::shared_ptr, never by a QObject parent:
// a node owns its children and a child refers weakly to its parent, so the tree has no cycle.
class FolderNode : public QObject, public std::enable_shared_from_this<FolderNode> {
    Q_OBJECT

public:
    // Starts expanded at depth 0, collapsed below; not loaded, without children.
    [[nodiscard]] static std::shared_ptr<FolderNode> create(
        std::filesystem::path url, int depth, const std::shared_ptr<FolderNode>& parent = nullptr);

    [[nodiscard]] const QUuid& id() const noexcept { return m_id; }
    [[nodiscard]] const std::filesystem::path& url() const noexcept { return m_url; }
    // The last path component as valid UTF-8.
    [[nodiscard]] const std::string& name() const noexcept { return m_name; }
    [[nodiscard]] int depth() const noexcept { return m_depth; }
    [[nodiscard]] const std::vector<std::shared_ptr<FolderNode>>& children() const noexcept
    {
        return m_children;
    }
    [[nodiscard]] bool isExpanded() const noexcept { return m_isExpanded; }
    [[nodiscard]] bool isLoaded() const noexcept { return m_isLoaded; }
    // None for the root, and once the parent is gone.
    [[nodiscard]] std::shared_ptr<FolderNode> parent() const noexcept { return m_parent.lock(); }

    void setExpanded(bool isExpanded);

    // The first call lists the folder (one level) on a worker thread and returns at once; the
    // children arrive on this node's thread, followed by isLoaded. It keeps the sub-folders that
    // are not hidden and are folders themselves, not links to folders, sorted by name with a
    // case-insensitive, locale-aware comparison. A folder that cannot be listed gives no
    // children. Every later call does nothing, even if the folder changed on disk.
    void loadChildren();

    // The listing behind loadChildren(), sorted; blocks on the disk. None when the folder cannot
    // be listed.
    [[nodiscard]] static std::vector<std::filesystem::path> listSubfolders(
        const std::filesystem::path& folder);

signals:
    void childrenChanged();
    void isExpandedChanged(bool isExpanded);
    void isLoadedChanged(bool isLoaded);

private:
    FolderNode(std::filesystem::path url, int depth, std::weak_ptr<FolderNode> parent);

    void markLoaded();
    void adoptChildren(const std::vector<std::filesystem::path>& folders);

    const QUuid m_id;
    const std::filesystem::path m_url;
    const std::string m_name;
    const int m_depth;
    std::vector<std::shared_ptr<FolderNode>> m_children;
    bool m_isExpanded;
    bool m_isLoaded = false;
    bool m_isLoading = false;
    std::weak_ptr<FolderNode> m_parent;
};

} // namespace sondrel::app
