#include "SidebarView.h"

#include "ApplicationShell.h"
#include "BusyIndicator.h"
#include "Symbols.h"
#include "ViewStyle.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPainter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace sondrel::ui {

using FolderStatusKind = app::ScannerViewModel::FolderStatusKind;

namespace {

constexpr int kBadgeHeight = 16;

// A count, white on a coloured capsule. Painted here rather than through a style sheet, which
// costs every badge a style of its own.
class CapsuleLabel : public QLabel {
public:
    explicit CapsuleLabel(QColor colour)
        : m_colour(colour)
    {
    }

    QSize sizeHint() const override { return QLabel::sizeHint() + QSize(10, 0); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_colour);
        painter.drawRoundedRect(rect(), height() / 2.0, height() / 2.0);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    QColor m_colour;
};

QLabel* makeCapsule(const QString& name, QColor colour)
{
    auto* capsule = new CapsuleLabel(colour);
    capsule->setObjectName(name);
    applyTextStyle(capsule, TextStyle::captionSemibold, Qt::white);
    capsule->setAlignment(Qt::AlignCenter);
    capsule->setFixedHeight(14);
    return capsule;
}

const QPixmap& badgeSymbol(bool passed)
{
    static const QPixmap check = symbolIcon(Symbol::checkmarkCircleFill, palette::green).pixmap(13, 13);
    static const QPixmap cross = symbolIcon(Symbol::xmarkCircleFill, palette::red).pixmap(13, 13);
    return passed ? check : cross;
}

} // namespace

FolderStatusIndicator::FolderStatusIndicator(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 6, 0);
    layout->setSpacing(4);
}

void FolderStatusIndicator::makeParts()
{
    // The spinner sits in a 16 by 16 frame.
    m_spinner = new BusyIndicator(kBadgeHeight / 2);
    auto* spinnerFrame = new QWidget;
    spinnerFrame->setObjectName(QStringLiteral("scanning"));
    spinnerFrame->setFixedSize(kBadgeHeight, kBadgeHeight);
    auto* frameLayout = new QHBoxLayout(spinnerFrame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_symbol = new QLabel;
    m_symbol->setObjectName(QStringLiteral("statusSymbol"));
    m_symbol->setFixedSize(13, 13);
    m_count = makeCapsule(QStringLiteral("failedCount"), palette::red);
    m_errorSymbol = new QLabel;
    m_errorSymbol->setObjectName(QStringLiteral("errorSymbol"));
    m_errorSymbol->setFixedSize(13, 13);
    m_errorSymbol->setPixmap(symbolIcon(Symbol::exclamationmarkTriangleFill, palette::orange).pixmap(13, 13));
    m_errorCount = makeCapsule(QStringLiteral("errorCount"), palette::orange);
    layout()->addWidget(spinnerFrame);
    layout()->addWidget(m_symbol);
    layout()->addWidget(m_count);
    layout()->addWidget(m_errorSymbol);
    layout()->addWidget(m_errorCount);
}

void FolderStatusIndicator::setStatus(const app::ScannerViewModel::FolderStatus& status)
{
    m_status = status;
    // Most badges show nothing for most of their life (no folder is scanned while the library
    // is discovered): their parts are made when first needed.
    if (m_spinner == nullptr) {
        if (status.kind == FolderStatusKind::notScanned && status.errors == 0)
            return;
        makeParts();
    }
    m_spinner->parentWidget()->setVisible(status.kind == FolderStatusKind::scanning);
    const bool failures
        = status.kind == FolderStatusKind::allFailed || status.kind == FolderStatusKind::mixed;
    if (status.kind == FolderStatusKind::allPassed || failures)
        m_symbol->setPixmap(badgeSymbol(!failures));
    m_symbol->setVisible(status.kind == FolderStatusKind::allPassed || failures);
    m_count->setVisible(failures);
    m_count->setText(QString::number(status.failed));
    // Files that could not be analysed have a verdict of their own: nothing else would show them.
    const bool errors = status.errors > 0 && status.kind != FolderStatusKind::scanning;
    m_errorSymbol->setVisible(errors);
    m_errorCount->setVisible(errors);
    m_errorCount->setText(QString::number(status.errors));
    setToolTip(!errors           ? QString()
            : status.errors == 1 ? QStringLiteral("1 file could not be analysed")
                                 : QStringLiteral("%1 files could not be analysed").arg(status.errors));
}

SidebarView::SidebarView(app::ScannerViewModel& viewModel, QWidget* parent)
    : QWidget(parent)
    , m_viewModel(viewModel)
    , m_stack(new QStackedWidget)
    , m_tree(new QTreeWidget)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    auto* empty = new QWidget;
    empty->setObjectName(QStringLiteral("noFolder"));
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch(1);
    emptyLayout->addWidget(makeSymbolLabel(Symbol::folderBadgeQuestionmark, 40), 0, Qt::AlignHCenter);
    auto* title = makeLabel(QStringLiteral("No folder selected"), TextStyle::headline, secondaryText());
    title->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(title);
    auto* caption = makeLabel(QStringLiteral("Click 'Select Folder' to choose your music library"),
        TextStyle::caption, secondaryText());
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    emptyLayout->addWidget(caption);
    emptyLayout->addStretch(1);
    m_stack->addWidget(empty);

    m_tree->setColumnCount(2);
    m_tree->setHeaderHidden(true);
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_tree->setIconSize(QSize(16, 16));
    m_tree->setUniformRowHeights(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setFrameShape(QFrame::NoFrame);
    m_stack->addWidget(m_tree);

    m_statusRefresh.setSingleShot(true);
    m_statusRefresh.setInterval(200);
    connect(&m_statusRefresh, &QTimer::timeout, this, [this] { refreshStatuses(true); });
    const auto scheduleRefresh = [this] {
        if (!m_statusRefresh.isActive())
            m_statusRefresh.start();
    };
    connect(&m_viewModel, &app::ScannerViewModel::allFilesChanged, this, scheduleRefresh);
    connect(&m_viewModel, &app::ScannerViewModel::cachedCountsChanged, this, scheduleRefresh);
    connect(&m_viewModel, &app::ScannerViewModel::isScanningChanged, this, scheduleRefresh);
    connect(m_tree->verticalScrollBar(), &QScrollBar::valueChanged, this, scheduleRefresh);
    connect(m_tree, &QTreeWidget::itemExpanded, this, scheduleRefresh);
    connect(&m_viewModel, &app::ScannerViewModel::rootNodeChanged, this, &SidebarView::rebuild);
    connect(&m_viewModel, &app::ScannerViewModel::selectedFolderChanged, this, [this] {
        const auto& selected = m_viewModel.selectedFolder();
        QTreeWidgetItem* item = selected ? itemFor(selected->id()) : nullptr;
        if (item != m_tree->currentItem()) {
            const QSignalBlocker blocker(m_tree);
            m_tree->setCurrentItem(item);
        }
    });

    connect(m_tree, &QTreeWidget::itemExpanded, this, &SidebarView::onExpanded);
    connect(m_tree, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (const auto node = nodeOf(item))
            node->setExpanded(false);
    });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &SidebarView::onCurrentChanged);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &SidebarView::showContextMenu);

    rebuild();
}

std::shared_ptr<app::FolderNode> SidebarView::nodeOf(const QTreeWidgetItem* item) const
{
    return m_nodes.value(item);
}

QTreeWidgetItem* SidebarView::itemFor(const QUuid& folderID) const
{
    return m_items.value(folderID);
}

FolderStatusIndicator* SidebarView::indicatorFor(const QUuid& folderID) const
{
    QTreeWidgetItem* item = itemFor(folderID);
    return item ? qobject_cast<FolderStatusIndicator*>(m_tree->itemWidget(item, 1)) : nullptr;
}

void SidebarView::rebuild()
{
    m_tree->clear();
    m_items.clear();
    m_nodes.clear();
    const std::shared_ptr<app::FolderNode>& root = m_viewModel.rootNode();
    m_stack->setCurrentIndex(root ? 1 : 0);
    if (!root)
        return;
    QTreeWidgetItem* item = makeRow(root);
    m_tree->addTopLevelItem(item);
    if (root->isExpanded())
        item->setExpanded(true); // lists the root's sub-folders through onExpanded
    if (m_viewModel.selectedFolder() == root) {
        const QSignalBlocker blocker(m_tree);
        m_tree->setCurrentItem(item);
    }
    refreshStatuses();
}

QTreeWidgetItem* SidebarView::makeRow(const std::shared_ptr<app::FolderNode>& node)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(node->name()));
    item->setToolTip(0, QString::fromStdString(node->url().string()));
    item->setIcon(0, symbolIcon(Symbol::folderFill, palette::blue));
    // Until listed, a folder may have sub-folders: offer to expand it.
    item->setChildIndicatorPolicy(node->isLoaded() && node->children().empty()
            ? QTreeWidgetItem::DontShowIndicator
            : QTreeWidgetItem::ShowIndicator);
    m_items.insert(node->id(), item);
    m_nodes.insert(item, node);

    // The node's listing may finish later than the expansion that asked for it.
    const auto update = [this, id = node->id()] {
        if (QTreeWidgetItem* row = itemFor(id))
            showChildren(row);
    };
    connect(node.get(), &app::FolderNode::childrenChanged, this, update);
    connect(node.get(), &app::FolderNode::isLoadedChanged, this, update);
    return item;
}

void SidebarView::showChildren(QTreeWidgetItem* item)
{
    const auto node = nodeOf(item);
    if (!node)
        return;
    // All new rows in one insertion: the tree lays itself out once, not once a row.
    QList<QTreeWidgetItem*> rows;
    for (const auto& child : node->children()) {
        if (!m_items.contains(child->id()))
            rows.append(makeRow(child));
    }
    if (node->isLoaded() && node->children().empty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    if (!rows.isEmpty()) {
        item->addChildren(rows);
        refreshStatuses(true);
    }
}

void SidebarView::onExpanded(QTreeWidgetItem* item)
{
    const auto node = nodeOf(item);
    if (!node)
        return;
    node->setExpanded(true);
    if (node->isLoaded()) {
        showChildren(item);
        return;
    }
    // The node lists its folder on a worker; its children arrive through childrenChanged.
    node->loadChildren();
}

void SidebarView::onCurrentChanged(QTreeWidgetItem* item)
{
    if (const auto node = nodeOf(item))
        m_viewModel.setSelectedFolder(node);
}

void SidebarView::refreshStatuses()
{
    refreshStatuses(false);
}

void SidebarView::refreshStatuses(bool onScreenOnly)
{
    // The rows first, then their badges: a new badge makes the tree lay itself out again
    // before the next row's place can be asked.
    const QRect viewport = m_tree->viewport()->rect();
    std::vector<QTreeWidgetItem*> shownRows;
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        QTreeWidgetItem* item = it.value();
        // Rows inside a collapsed folder are not seen; they catch up when shown.
        if (item->parent() && !item->parent()->isExpanded())
            continue;
        if (onScreenOnly && !m_tree->visualItemRect(item).intersects(viewport))
            continue;
        shownRows.push_back(item);
    }
    bool widthChanged = false;
    for (QTreeWidgetItem* item : shownRows) {
        // A badge is made when its row is first shown: a folder of a thousand sub-folders
        // would otherwise build a thousand badges at once.
        auto* indicator = qobject_cast<FolderStatusIndicator*>(m_tree->itemWidget(item, 1));
        if (indicator == nullptr) {
            indicator = new FolderStatusIndicator;
            m_tree->setItemWidget(item, 1, indicator);
        }
        const int width = indicator->sizeHint().width();
        indicator->setStatus(m_viewModel.folderStatus(*nodeOf(item)));
        widthChanged = widthChanged || indicator->sizeHint().width() != width;
    }
    // The badges' column fits its widest badge; the header does not see a badge grow.
    if (widthChanged)
        m_tree->resizeColumnToContents(1);
}

void SidebarView::showContextMenu(const QPoint& position)
{
    QTreeWidgetItem* item = m_tree->itemAt(position);
    const auto node = nodeOf(item);
    if (!node)
        return;
    const std::vector<app::AudioFile> files = m_viewModel.filesInFolder(*node);

    QMenu menu(this);
    QAction* selectAction
        = menu.addAction(symbolIcon(Symbol::checkmarkCircle), QStringLiteral("Select Contents"));
    selectAction->setEnabled(!files.empty());
    QAction* scan
        = menu.addAction(symbolIcon(Symbol::waveformBadgeMagnifyingglass), QStringLiteral("Scan Folder"));
    scan->setEnabled(!files.empty() && !m_viewModel.isScanning());
    QAction* reveal = menu.addAction(symbolIcon(Symbol::folder), QStringLiteral("Show in File Manager"));

    QAction* chosen = menu.exec(m_tree->viewport()->mapToGlobal(position));
    if (chosen == selectAction) {
        QSet<QUuid> ids;
        for (const app::AudioFile& file : files)
            ids.insert(file.id());
        emit selectContents(ids);
    } else if (chosen == scan) {
        // The view model scans the selected folder's files: select it, then scan.
        m_viewModel.setSelectedFolder(node);
        m_viewModel.startScan();
    } else if (chosen == reveal) {
        shell::revealInFileManager(node->url(), [view = QPointer<SidebarView>(this)](const QString& message, bool failed) {
            if (view)
                emit view->notice(message, failed);
        });
    }
}

} // namespace sondrel::ui
