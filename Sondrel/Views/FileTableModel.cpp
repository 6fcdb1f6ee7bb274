#include "FileTableModel.h"

#include "ViewStyle.h"

#include "FileListRules.h"
#include "Symbols.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>

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
    connect(&viewModel, &VM::filesAboutToBeReset, this, [this] { beginResetModel(); });
    connect(&viewModel, &VM::filesReset, this, [this] { endResetModel(); });
    connect(&viewModel, &VM::filesAboutToBeInserted, this,
        [this](int first, int last) { beginInsertRows({}, first, last); });
    connect(&viewModel, &VM::filesInserted, this, [this] { endInsertRows(); });
    connect(&viewModel, &VM::filesAboutToBeRemoved, this,
        [this](int first, int last) { beginRemoveRows({}, first, last); });
    connect(&viewModel, &VM::filesRemoved, this, [this] { endRemoveRows(); });
    connect(&viewModel, &VM::filesChanged, this,
        [this](int first, int last) { emit dataChanged(index(first, 0), index(last, kColumnCount - 1)); });
    // The issue text depends on the view model's threshold.
    connect(&viewModel, &VM::thresholdChanged, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0, issue), index(rowCount() - 1, issue));
    });
}

int FileTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_viewModel.allFiles().size());
}

int FileTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

const AudioFile& FileTableModel::file(int row) const
{
    return m_viewModel.allFiles()[static_cast<std::size_t>(row)];
}

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
        const auto issueText = FileListRules::issueText(record, m_viewModel.threshold());
        return issueText ? text(*issueText) : QStringLiteral("-");
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
        return FileListRules::issueText(record, m_viewModel.threshold()) ? issueColor() : tertiaryColor();
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
