#include "FolderNode.h"

#include "Background.h"
#include "PathText.h"

#include <QCollator>
#include <QString>

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace sondrel::app {

namespace fs = std::filesystem;

FolderNode::FolderNode(fs::path url, int depth, std::weak_ptr<FolderNode> parent)
    : m_id(QUuid::createUuid())
    , m_url(std::move(url))
    , m_name(PathText::lastPathComponent(m_url))
    , m_depth(depth)
    , m_isExpanded(depth == 0)
    , m_parent(std::move(parent))
{
}

std::shared_ptr<FolderNode> FolderNode::create(
    fs::path url, int depth, const std::shared_ptr<FolderNode>& parent)
{
    // Not make_shared: the constructor is private.
    return std::shared_ptr<FolderNode>(new FolderNode(std::move(url), depth, parent));
}

void FolderNode::setExpanded(bool isExpanded)
{
    if (m_isExpanded == isExpanded)
        return;
    m_isExpanded = isExpanded;
    emit isExpandedChanged(m_isExpanded);
}

void FolderNode::markLoaded()
{
    m_isLoaded = true;
    emit isLoadedChanged(true);
}

std::vector<fs::path> FolderNode::listSubfolders(const fs::path& folder)
{
    struct Entry {
        fs::path path;
        QString name;
    };
    std::vector<Entry> folders;
    try {
        std::error_code error;
        fs::directory_iterator listing(folder, error);
        // A listing that fails part way counts as failed as a whole.
        for (; !error && listing != fs::directory_iterator(); listing.increment(error)) {
            const fs::path& path = listing->path();
            const fs::path fileName = path.filename();
            if (PathText::isHiddenName(fileName.native()))
                continue;
            std::error_code typeError;
            if (listing->symlink_status(typeError).type() != fs::file_type::directory || typeError)
                continue;
            const std::string& name = fileName.native();
            folders.push_back({ path, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) });
        }
        if (error)
            return {};

        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(folders.begin(), folders.end(), [&collator](const Entry& left, const Entry& right) {
            return collator.compare(left.name, right.name) < 0;
        });
        std::vector<fs::path> paths;
        paths.reserve(folders.size());
        for (Entry& entry : folders)
            paths.push_back(std::move(entry.path));
        return paths;
    } catch (const std::bad_alloc&) {
        // Out of memory: no children, as for an unreadable folder.
        return {};
    }
}

void FolderNode::loadChildren()
{
    if (m_isLoaded || m_isLoading)
        return;
    m_isLoading = true;
    // A folder on a slow or hung mount must not freeze the window: list it on a worker.
    runInBackground(
        this, [url = m_url] { return listSubfolders(url); },
        [this](const std::vector<fs::path>& folders) { adoptChildren(folders); });
}

void FolderNode::adoptChildren(const std::vector<fs::path>& folders)
{
    m_isLoading = false;
    try {
        std::vector<std::shared_ptr<FolderNode>> children;
        children.reserve(folders.size());
        const std::shared_ptr<FolderNode> self = weak_from_this().lock();
        for (const fs::path& folder : folders)
            children.push_back(create(folder, m_depth + 1, self));
        if (!children.empty()) {
            m_children = std::move(children);
            emit childrenChanged();
        }
    } catch (const std::bad_alloc&) {
    }
    markLoaded();
}

} // namespace sondrel::app
