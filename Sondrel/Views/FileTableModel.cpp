#include "FileTableModel.h"

#include "Background.h"
#include "FileSorting.h"
#include "ViewStyle.h"

#include "FileListRules.h"
#include "Symbols.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>

#include <algorithm>
#include <numeric>

namespace sondrel::ui {

using app::AudioFile;
using app::FileListRules;

const std::array<FileTableModel::ColumnInfo, FileTableModel::kColumnCount> FileTableModel::kColumns = { {
    { "DJ Ready", "djReady", 50, 70, 100 },
    { "Transcode", "transcode", 50, 70, 100 },
    { "Clipping", "clipping", 50, 70, 100 },
    { "Title", "title", 100, 200, 0 },
    { "Artist", "artist", 80, 150, 0 },
    { "Bitrate", "bitrate", 60, 100, 120 },
    { "Actual Bitrate", "actualBitrate", 70, 90, 120 },
    { "Issue", "issue", 80, 140, 200 },
    { "Size", "size", 50, 70, 100 },
    { "Filename", "filename", 100, 200, 0 },
} };

namespace {

// A font whose digits all have one width, for columns of numbers: the application font when
// its digits already do (as DejaVu, Noto and most UI fonts do), else the fixed-pitch font.
const QFont& digitsFont()
{
    static const QFont font = [] {
        const QFont standard = QGuiApplication::font();
        const QFontMetrics metrics(standard);
        const int width = metrics.horizontalAdvance(QLatin1Char('0'));
        for (char digit = '1'; digit <= '9'; ++digit) {
            if (metrics.horizontalAdvance(QLatin1Char(digit)) != width) {
                QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
                fixed.setPointSizeF(standard.pointSizeF());
                return fixed;
            }
        }
        return standard;
    }();
    return font;
}

QColor clippingColor(core::ClippingSeverity severity)
{
    switch (severity) {
    case core::ClippingSeverity::mild:
        return palette::yellow;
    case core::ClippingSeverity::moderate:
        return palette::orange;
    case core::ClippingSeverity::severe:
    case core::ClippingSeverity::none:
        break;
    }
    return palette::red;
}

} // namespace

QColor FileTableModel::secondaryColor()
{
    return secondaryText();
}

QColor FileTableModel::tertiaryColor()
{
    QColor color = QGuiApplication::palette().color(QPalette::Text);
    color.setAlphaF(0.3f);
    return color;
}

QColor FileTableModel::issueColor()
{
    return palette::orange;
}

FileTableModel::FileTableModel(app::ScannerViewModel& viewModel, QObject* parent)
    : QAbstractTableModel(parent)
    , m_viewModel(viewModel)
{
    using VM = app::ScannerViewModel;
    m_sources.resize(viewModel.allFiles().size());
    std::iota(m_sources.begin(), m_sources.end(), 0);
    m_searchKeys.resize(m_sources.size());
    indexSources();
    connect(&viewModel, &VM::filesAboutToBeReset, this, [this] { beginResetModel(); });
    connect(&viewModel, &VM::filesReset, this, &FileTableModel::resetSources);
    connect(&viewModel, &VM::filesAboutToBeInserted, this, &FileTableModel::beginInsertSources);
    connect(&viewModel, &VM::filesInserted, this, &FileTableModel::endInsertSources);
    connect(&viewModel, &VM::filesAboutToBeRemoved, this, &FileTableModel::removeSourceRows);
    connect(&viewModel, &VM::filesRemoved, this, &FileTableModel::endRemoveSources);
    connect(&viewModel, &VM::filesChanged, this, &FileTableModel::changeSources);
    // The issue text depends on the view model's threshold.
    connect(&viewModel, &VM::thresholdChanged, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0, issue), index(rowCount() - 1, issue));
        if (m_sortColumn == issue)
            scheduleResort();
    });
    m_resortTimer.setSingleShot(true);
    m_resortTimer.setInterval(kResortIntervalMs);
    connect(&m_resortTimer, &QTimer::timeout, this, &FileTableModel::startSort);
    m_searchKeysTimer.setSingleShot(true);
    m_searchKeysTimer.setInterval(1000);
    connect(&m_searchKeysTimer, &QTimer::timeout, this, &FileTableModel::prepareSearchKeys);
    if (!m_sources.empty())
        m_searchKeysTimer.start();
}

int FileTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_sources.size());
}

int FileTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

const AudioFile& FileTableModel::file(int row) const
{
    return m_viewModel.allFiles()[static_cast<std::size_t>(m_sources[static_cast<std::size_t>(row)])];
}

const std::string& FileTableModel::searchKey(int row) const
{
    const auto source = static_cast<std::size_t>(m_sources[static_cast<std::size_t>(row)]);
    std::string& key = m_searchKeys[source];
    // Never empty once made: the name is in it.
    if (key.empty())
        key = FileListRules::searchKey(m_viewModel.allFiles()[source]);
    return key;
}

void FileTableModel::prepareSearchKeys()
{
    const int request = ++m_searchKeysRequest;
    runInBackground(
        this,
        [files = m_viewModel.allFiles()] {
            std::vector<std::string> keys;
            keys.reserve(files.size());
            for (const AudioFile& file : files)
                keys.push_back(FileListRules::searchKey(file));
            return keys;
        },
        [this, request, structure = m_structure](std::vector<std::string> keys) {
            if (request != m_searchKeysRequest || structure != m_structure)
                return;
            for (std::size_t source = 0; source < keys.size(); ++source) {
                if (m_searchKeys[source].empty())
                    m_searchKeys[source] = std::move(keys[source]);
            }
        });
}

// --- rows and their order -----------------------------------------------------------------

void FileTableModel::indexSources()
{
    m_rows.assign(m_sources.size(), 0);
    for (std::size_t row = 0; row < m_sources.size(); ++row)
        m_rows[static_cast<std::size_t>(m_sources[row])] = static_cast<int>(row);
}

void FileTableModel::resetSources()
{
    m_sources.resize(m_viewModel.allFiles().size());
    std::iota(m_sources.begin(), m_sources.end(), 0);
    m_searchKeys.assign(m_sources.size(), {});
    indexSources();
    ++m_structure;
    m_searchKeysTimer.start();
    endResetModel();
    if (m_sortColumn >= 0)
        startSort();
}

void FileTableModel::beginInsertSources(int first, int last)
{
    // Sorted, new rows wait at the end for the next re-sort.
    m_insertRow = m_sortColumn >= 0 ? rowCount() : first;
    beginInsertRows({}, m_insertRow, m_insertRow + last - first);
}

void FileTableModel::endInsertSources(int first, int last)
{
    const int count = last - first + 1;
    for (int& source : m_sources) {
        if (source >= first)
            source += count;
    }
    std::vector<int> added(static_cast<std::size_t>(count));
    std::iota(added.begin(), added.end(), first);
    m_sources.insert(m_sources.begin() + m_insertRow, added.begin(), added.end());
    m_searchKeys.insert(m_searchKeys.begin() + first, static_cast<std::size_t>(count), std::string());
    indexSources();
    ++m_structure;
    m_searchKeysTimer.start();
    endInsertRows();
    scheduleResort();
}

namespace {

// Sorted rows as runs of consecutive rows, `first` and `last` included.
std::vector<std::pair<int, int>> runs(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<int, int>> result;
    for (int row : rows) {
        if (!result.empty() && result.back().second + 1 == row)
            result.back().second = row;
        else
            result.emplace_back(row, row);
    }
    return result;
}

} // namespace

void FileTableModel::removeSourceRows(int first, int last)
{
    std::vector<int> rows;
    for (int source = first; source <= last; ++source)
        rows.push_back(m_rows[static_cast<std::size_t>(source)]);
    // From the bottom up, so that the rows above keep their numbers. The rows left still name
    // positions in allFiles() as it is until the view model removes them.
    const auto ranges = runs(std::move(rows));
    for (auto range = ranges.rbegin(); range != ranges.rend(); ++range) {
        beginRemoveRows({}, range->first, range->second);
        m_sources.erase(m_sources.begin() + range->first, m_sources.begin() + range->second + 1);
        endRemoveRows();
    }
}

void FileTableModel::endRemoveSources(int first, int last)
{
    const int count = last - first + 1;
    for (int& source : m_sources) {
        if (source > last)
            source -= count;
    }
    m_searchKeys.erase(m_searchKeys.begin() + first, m_searchKeys.begin() + last + 1);
    indexSources();
    ++m_structure;
}

void FileTableModel::changeSources(int first, int last)
{
    if (m_sortColumn < 0) {
        emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
        return;
    }
    std::vector<int> rows;
    for (int source = first; source <= last; ++source)
        rows.push_back(m_rows[static_cast<std::size_t>(source)]);
    const auto ranges = runs(std::move(rows));
    // Scattered rows: one signal over their span costs less than hundreds of small ones.
    constexpr std::size_t kMostRanges = 16;
    if (ranges.size() > kMostRanges) {
        emit dataChanged(index(ranges.front().first, 0), index(ranges.back().second, kColumnCount - 1));
    } else {
        for (const auto& [top, bottom] : ranges)
            emit dataChanged(index(top, 0), index(bottom, kColumnCount - 1));
    }
    if (FileSorting::followsVerdicts(m_sortColumn))
        scheduleResort();
}

void FileTableModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column >= 0 && column < kColumnCount ? column : -1;
    m_sortOrder = order;
    m_resortTimer.stop();
    if (m_sortColumn >= 0) {
        startSort();
        return;
    }
    ++m_sortRequest;
    m_sortInFlight = false;
    std::vector<int> sources(m_sources.size());
    std::iota(sources.begin(), sources.end(), 0);
    applyOrder(std::move(sources));
}

bool FileTableModel::isSortPending() const noexcept
{
    return m_sortInFlight || m_resortTimer.isActive();
}

void FileTableModel::scheduleResort()
{
    if (m_sortColumn >= 0 && !m_resortTimer.isActive())
        m_resortTimer.start();
}

void FileTableModel::startSort()
{
    m_resortTimer.stop();
    struct Sorted {
        std::vector<int> positions;
        std::vector<QUuid> ids;
    };
    const int request = ++m_sortRequest;
    m_sortInFlight = true;
    runInBackground(
        this,
        [files = m_viewModel.allFiles(), column = m_sortColumn, order = m_sortOrder,
            threshold = m_viewModel.threshold()] {
            Sorted sorted { FileSorting::sortedRows(files, column, order, threshold), {} };
            sorted.ids.reserve(sorted.positions.size());
            for (int position : sorted.positions)
                sorted.ids.push_back(files[static_cast<std::size_t>(position)].id());
            return sorted;
        },
        [this, request, structure = m_structure](const Sorted& sorted) {
            if (request != m_sortRequest)
                return;
            m_sortInFlight = false;
            applySort(sorted.ids, sorted.positions, structure);
        });
}

void FileTableModel::applySort(
    const std::vector<QUuid>& ids, const std::vector<int>& positions, quint64 structure)
{
    if (structure == m_structure) {
        applyOrder(positions);
        return;
    }
    // Rows came or went while the order was computed: find the records again by id.
    const std::size_t count = m_viewModel.allFiles().size();
    std::vector<int> sources;
    sources.reserve(count);
    std::vector<bool> placed(count, false);
    for (const QUuid& id : ids) {
        const auto source = m_viewModel.rowOf(id);
        if (source && !placed[*source]) {
            placed[*source] = true;
            sources.push_back(static_cast<int>(*source));
        }
    }
    const std::size_t found = sources.size();
    for (std::size_t source = 0; source < count; ++source) {
        if (!placed[source])
            sources.push_back(static_cast<int>(source));
    }
    const bool arrived = sources.size() > found;
    applyOrder(std::move(sources));
    if (arrived)
        scheduleResort();
}

void FileTableModel::applyOrder(std::vector<int> sources)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> sourcesBefore;
    sourcesBefore.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        sourcesBefore.push_back(m_sources[static_cast<std::size_t>(index.row())]);
    m_sources = std::move(sources);
    indexSources();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.push_back(index(m_rows[static_cast<std::size_t>(sourcesBefore[static_cast<std::size_t>(i)])],
            before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit sortApplied();
}

// --- cells --------------------------------------------------------------------------------

QString FileTableModel::sizeText(std::int64_t bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[static_cast<std::size_t>(section)].title);
    return {};
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const AudioFile& record = file(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return display(record, column);
    case Qt::ForegroundRole:
        return foreground(record, column);
    case SymbolsRole:
        return symbols(record, column);
    case Qt::ToolTipRole:
        return tooltip(record, column);
    case Qt::AccessibleTextRole:
        return accessibleText(record, column);
    case FileIdRole:
        return record.id();
    case Qt::FontRole:
        if (column == bitrate || column == actualBitrate || column == size)
            return digitsFont();
        return {};
    case Qt::TextAlignmentRole:
        if (column <= clipping)
            return int(Qt::AlignCenter);
        if (column == size)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant FileTableModel::display(const AudioFile& record, int column) const
{
    const auto& result = record.result();
    switch (column) {
    case djReady:
        return {};
    case transcode:
        return FileListRules::isTranscode(record) ? QVariant() : QStringLiteral("-");
    case clipping:
        return result && result->clipping.hasClipping() ? QVariant() : QStringLiteral("-");
    case title:
        return record.title() ? text(*record.title()) : QStringLiteral("-");
    case artist:
        return record.artist() ? text(*record.artist()) : QStringLiteral("-");
    case bitrate:
        return text(FileListRules::bitrateText(record));
    case actualBitrate:
        return result ? text(FileListRules::qualityText(*result, record.format())) : QStringLiteral("-");
    case issue: {
        const auto reason = FileListRules::reasonText(record, m_viewModel.threshold());
        return reason ? text(*reason) : QStringLiteral("-");
    }
    case size:
        return sizeText(record.fileSize());
    case filename:
        return text(record.name());
    default:
        return {};
    }
}

QVariant FileTableModel::foreground(const AudioFile& record, int column) const
{
    switch (column) {
    case transcode:
    case clipping:
        return tertiaryColor();
    case title:
        return record.title() ? QVariant() : secondaryColor();
    case artist:
        return record.artist() ? QVariant() : secondaryColor();
    case bitrate:
        return record.claimedBitrate() ? QVariant() : secondaryColor();
    case actualBitrate:
        return record.result() ? QVariant() : secondaryColor();
    case issue:
        return FileListRules::reasonText(record, m_viewModel.threshold()) ? issueColor() : tertiaryColor();
    case size:
    case filename:
        return secondaryColor();
    default:
        return {};
    }
}

QVariant FileTableModel::symbols(const AudioFile& record, int column) const
{
    QVariantList icons;
    const auto& result = record.result();
    if (column == djReady) {
        using State = FileListRules::DJReadyVerdict::State;
        const auto verdict = FileListRules::djReadyVerdict(record);
        if (verdict.hasOverride)
            icons << symbolIcon(Symbol::pencilCircleFill, palette::blue);
        switch (verdict.state) {
        case State::analysisError:
            icons << symbolIcon(Symbol::exclamationmarkTriangleFill, palette::orange);
            break;
        case State::notScanned:
            icons << symbolIcon(Symbol::circle, palette::secondary);
            break;
        case State::ready:
            icons << symbolIcon(Symbol::checkmarkCircleFill, palette::green);
            break;
        case State::notReady:
            icons << symbolIcon(Symbol::xmarkCircleFill, palette::red);
            break;
        }
    } else if (column == transcode && FileListRules::isTranscode(record)) {
        icons << symbolIcon(Symbol::exclamationmarkTriangleFill, palette::yellow);
    } else if (column == clipping && result && result->clipping.hasClipping()) {
        icons << symbolIcon(Symbol::waveformBadgeExclamationmark, clippingColor(result->clipping.severity()));
    }
    return icons.isEmpty() ? QVariant() : QVariant(icons);
}

QVariant FileTableModel::tooltip(const AudioFile& record, int column) const
{
    const auto& result = record.result();
    if (column == djReady)
        return text(FileListRules::djReadyVerdict(record, m_viewModel.threshold()).tooltip);
    if (column == transcode && FileListRules::isTranscode(record))
        return QStringLiteral("Likely transcoded - file claims higher quality than detected");
    if (column == clipping && result && result->clipping.hasClipping()) {
        const QString samples = QString::number(result->clipping.clippedSamples);
        switch (result->clipping.severity()) {
        case core::ClippingSeverity::mild:
            return QStringLiteral("Mild clipping detected (%1 samples)").arg(samples);
        case core::ClippingSeverity::moderate:
            return QStringLiteral("Moderate clipping detected (%1 samples)").arg(samples);
        case core::ClippingSeverity::severe:
        case core::ClippingSeverity::none:
            return QStringLiteral("Severe clipping detected (%1 samples) - may cause distortion").arg(samples);
        }
    }
    return {};
}

QVariant FileTableModel::accessibleText(const AudioFile& record, int column) const
{
    const auto& result = record.result();
    if (column == djReady)
        return text(FileListRules::djReadyVerdict(record).accessibilityLabel);
    if (column == transcode)
        return FileListRules::isTranscode(record) ? QStringLiteral("Transcode warning")
                                                  : QStringLiteral("No transcode detected");
    if (column == clipping) {
        if (!result)
            return QStringLiteral("Not analysed");
        switch (result->clipping.severity()) {
        case core::ClippingSeverity::none:
            return QStringLiteral("No clipping");
        case core::ClippingSeverity::mild:
            return QStringLiteral("Mild clipping");
        case core::ClippingSeverity::moderate:
            return QStringLiteral("Moderate clipping");
        case core::ClippingSeverity::severe:
            return QStringLiteral("Severe clipping");
        }
    }
    return display(record, column);
}

} // namespace sondrel::ui
