#include "DetailPanel.h"

#include "Background.h"
#include "ViewStyle.h"

#include "Artwork.h"
#include "FileListRules.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace sondrel::ui {
namespace {

using core::ClippingSeverity;

constexpr int kSymbolSize = 14;

QLabel* symbolLabel(Symbol symbol, const QColor& tint, int size = kSymbolSize)
{
    auto* label = new QLabel;
    label->setPixmap(symbolIcon(symbol, tint).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

std::pair<Symbol, QColor> clippingSymbol(ClippingSeverity severity)
{
    switch (severity) {
    case ClippingSeverity::none:
        return { Symbol::checkmarkCircleFill, palette::green };
    case ClippingSeverity::mild:
        return { Symbol::exclamationmarkCircleFill, palette::yellow };
    case ClippingSeverity::moderate:
        return { Symbol::exclamationmarkCircleFill, palette::orange };
    case ClippingSeverity::severe:
        break;
    }
    return { Symbol::xmarkCircleFill, palette::red };
}

void clearLayout(QLayout& layout)
{
    while (QLayoutItem* item = layout.takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

} // namespace

DetailPanel::DetailPanel(app::ScannerViewModel& viewModel, QWidget* parent)
    : QWidget(parent)
    , m_viewModel(viewModel)
{
    setMinimumWidth(280);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 8, 8, 8);
    auto* heading = new QLabel(tr("Track Info"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.15);
    heading->setFont(headingFont);
    auto* close = new QToolButton;
    close->setIcon(symbolIcon(Symbol::xmarkCircleFill, palette::secondary));
    close->setAutoRaise(true);
    close->setToolTip(tr("Close"));
    connect(close, &QToolButton::clicked, this, &DetailPanel::closeRequested);
    header->addWidget(heading);
    header->addStretch();
    header->addWidget(close);
    outer->addLayout(header);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    outer->addWidget(divider);

    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll, 1);

    m_content = new QWidget;
    auto* content = new QVBoxLayout(m_content);
    content->setContentsMargins(16, 16, 16, 16);
    content->setSpacing(8);
    scroll->setWidget(m_content);

    m_artworkLabel = new QLabel;
    m_artworkLabel->setFixedSize(kArtworkSize, kArtworkSize);
    content->addWidget(m_artworkLabel, 0, Qt::AlignHCenter);

    m_title = new QLabel;
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    m_title->setFont(titleFont);
    m_artist = new QLabel;
    m_album = new QLabel;
    QFont captionFont = m_album->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    m_album->setFont(captionFont);
    for (QLabel* label : { m_title, m_artist, m_album }) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignHCenter);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        content->addWidget(label);
    }
    QPalette secondary = m_album->palette();
    secondary.setColor(QPalette::WindowText, secondaryText());
    m_artist->setPalette(secondary);
    m_album->setPalette(secondary);

    content->addSpacing(8);
    m_rows = new QGridLayout;
    m_rows->setHorizontalSpacing(12);
    m_rows->setVerticalSpacing(6);
    m_rows->setColumnStretch(1, 1);
    content->addLayout(m_rows);

    // The override section.
    m_overrideSection = new QWidget;
    auto* section = new QVBoxLayout(m_overrideSection);
    section->setContentsMargins(0, 12, 0, 0);
    m_overrideHeader = new QToolButton;
    m_overrideHeader->setText(tr("Manual Override"));
    m_overrideHeader->setCheckable(true);
    m_overrideHeader->setAutoRaise(true);
    m_overrideHeader->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_overrideHeader->setArrowType(Qt::RightArrow);
    section->addWidget(m_overrideHeader);

    m_overrideControls = new QWidget;
    auto* controls = new QVBoxLayout(m_overrideControls);
    controls->setContentsMargins(8, 4, 0, 0);
    m_overrideDJReady = new QCheckBox(tr("Mark as DJ Ready"));
    controls->addWidget(m_overrideDJReady);
    auto* ratingRow = new QHBoxLayout;
    ratingRow->addWidget(new QLabel(tr("Quality Rating")));
    m_overrideRating = new QComboBox;
    for (const core::QualityRating rating : core::kAllQualityRatings)
        m_overrideRating->addItem(text(core::rawValue(rating)), static_cast<int>(rating));
    ratingRow->addWidget(m_overrideRating, 1);
    controls->addLayout(ratingRow);
    auto* buttons = new QHBoxLayout;
    m_apply = new QPushButton(tr("Apply Override"));
    m_clear = new QPushButton(tr("Clear"));
    buttons->addWidget(m_apply);
    buttons->addWidget(m_clear);
    buttons->addStretch();
    controls->addLayout(buttons);
    m_activeNote = new QWidget;
    auto* note = new QHBoxLayout(m_activeNote);
    note->setContentsMargins(0, 0, 0, 0);
    note->addWidget(symbolLabel(Symbol::infoCircle, palette::blue, 12));
    auto* noteText = new QLabel(tr("Override active"));
    noteText->setFont(captionFont);
    noteText->setPalette(secondary);
    note->addWidget(noteText);
    note->addStretch();
    controls->addWidget(m_activeNote);
    section->addWidget(m_overrideControls);
    content->addWidget(m_overrideSection);
    content->addStretch();

    connect(m_overrideHeader, &QToolButton::toggled, this, [this](bool open) {
        m_overrideHeader->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_overrideControls->setVisible(open);
    });
    connect(m_apply, &QPushButton::clicked, this, [this] {
        if (m_file)
            m_viewModel.setUserOverride(*m_file, m_overrideDJReady->isChecked(),
                static_cast<core::QualityRating>(m_overrideRating->currentData().toInt()));
    });
    connect(m_clear, &QPushButton::clicked, this, [this] {
        if (m_file)
            m_viewModel.clearUserOverride(*m_file);
    });
    connect(&m_viewModel, &app::ScannerViewModel::allFilesChanged, this, &DetailPanel::followRecord);

    m_content->setVisible(false);
    showArtwork();
}

void DetailPanel::setFile(const std::optional<app::AudioFile>& file)
{
    const bool sameFile = file && m_file && file->id() == m_file->id();
    const bool overrideChanged = !sameFile || file->userOverride() != m_file->userOverride();
    m_file = file;
    m_content->setVisible(m_file.has_value());
    if (!m_file) {
        m_artworkLoad.cancel();
        return;
    }
    rebuild();
    if (overrideChanged)
        resetOverrideControls();
    if (!sameFile) {
        m_artwork = {};
        showArtwork();
        startArtworkLoad();
    }
}

void DetailPanel::followRecord()
{
    if (!m_file)
        return;
    const auto& files = m_viewModel.allFiles();
    const auto it = std::find_if(
        files.begin(), files.end(), [&](const app::AudioFile& f) { return f.id() == m_file->id(); });
    if (it != files.end() && !(*it == *m_file))
        setFile(*it);
}

std::vector<DetailPanel::Row> DetailPanel::rows(const app::AudioFile& file)
{
    std::vector<Row> rows;
    rows.push_back({ tr("Format"), text(core::rawValue(file.format())).toUpper(), {} });
    rows.push_back({ tr("File Size"), QLocale::system().formattedDataSize(file.fileSize(), 1, QLocale::DataSizeSIFormat), {} });
    if (file.claimedBitrate())
        rows.push_back({ tr("Tagged Bitrate"), QString::number(*file.claimedBitrate()) + " kbps", {} });
    const auto& result = file.result();
    if (!result)
        return rows;
    rows.push_back({ tr("Detected Bitrate"), QString::number(result->estimatedBitrate) + " kbps", {} });
    rows.push_back({ tr("Frequency Cutoff"), QString::fromStdString(result->cutoffDescription()), {} });
    rows.push_back({ tr("Quality Rating"), text(core::rawValue(result->rating)), {} });
    if (const std::string why = result->evidenceExplanation(); !why.empty())
        rows.push_back({ tr("Verdict"), text(why), {} });
    if (result->encoder)
        rows.push_back({ tr("Encoder"), text(result->encoderDescription()), {} });
    const ClippingSeverity severity = result->clipping.severity();
    rows.push_back({ tr("Clipping"), text(core::rawValue(severity)), { clippingSymbol(severity) } });
    if (result->clipping.clippedSamples >= 1)
        rows.push_back({ tr("Clipped Samples"), QString::number(result->clipping.clippedSamples), {} });
    rows.push_back({ tr("Peak Level"), peakLevelText(result->clipping.peakAmplitude), {} });

    const auto verdict = app::FileListRules::djReadyVerdict(file);
    Row djReady { tr("DJ Ready"), {}, {} };
    if (verdict.hasOverride)
        djReady.symbols.emplace_back(Symbol::pencilCircleFill, palette::blue);
    if (verdict.state == app::FileListRules::DJReadyVerdict::State::ready)
        djReady.symbols.emplace_back(Symbol::checkmarkCircleFill, palette::green);
    else
        djReady.symbols.emplace_back(Symbol::xmarkCircleFill, palette::red);
    rows.push_back(std::move(djReady));
    return rows;
}

QString DetailPanel::peakLevelText(float peakAmplitude)
{
    const double decibels = peakAmplitude > 0 ? 20.0 * std::log10(static_cast<double>(peakAmplitude))
                                              : -std::numeric_limits<double>::infinity();
    return QString::asprintf("%.1f dB", decibels);
}

QImage DetailPanel::loadArtwork(const std::filesystem::path& url)
{
    const auto bytes = core::readAttachedPicture(url);
    if (!bytes)
        return {};
    QImage image = QImage::fromData(bytes->data(), static_cast<int>(bytes->size()));
    // Kept at twice the shown size for high-density screens; scaling here keeps it off the GUI
    // thread.
    constexpr int kKept = 2 * kArtworkSize;
    if (!image.isNull() && (image.width() > kKept || image.height() > kKept))
        image = image.scaled(kKept, kKept, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void DetailPanel::rebuild()
{
    const app::AudioFile& file = *m_file;
    m_title->setText(QString::fromStdString(file.title().value_or(file.name())));
    m_artist->setText(file.artist() ? QString::fromStdString(*file.artist()) : QString());
    m_artist->setVisible(file.artist().has_value());
    m_album->setText(file.album() ? QString::fromStdString(*file.album()) : QString());
    m_album->setVisible(file.album().has_value());

    clearLayout(*m_rows);
    int line = 0;
    const QColor secondary = secondaryText();
    for (const Row& row : rows(file)) {
        auto* label = new QLabel(row.label);
        QPalette labelPalette = label->palette();
        labelPalette.setColor(QPalette::WindowText, secondary);
        label->setPalette(labelPalette);
        m_rows->addWidget(label, line, 0);

        auto* value = new QWidget;
        auto* valueLayout = new QHBoxLayout(value);
        valueLayout->setContentsMargins(0, 0, 0, 0);
        valueLayout->setSpacing(4);
        valueLayout->addStretch();
        for (const auto& [symbol, tint] : row.symbols)
            valueLayout->addWidget(symbolLabel(symbol, tint));
        if (!row.value.isEmpty()) {
            auto* valueText = new QLabel(row.value);
            valueText->setTextInteractionFlags(Qt::TextSelectableByMouse);
            // A long value (the brick-wall verdict) wraps within the panel instead of widening it
            // past its edge, which pushed every other value out of sight.
            valueText->setWordWrap(true);
            valueText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            valueLayout->addWidget(valueText, 1);
        }
        m_rows->addWidget(value, line, 1);
        ++line;
    }

    m_overrideSection->setVisible(file.result().has_value());
    m_clear->setVisible(file.userOverride().has_value());
    m_activeNote->setVisible(file.userOverride().has_value());
}

void DetailPanel::resetOverrideControls()
{
    const app::AudioFile& file = *m_file;
    bool open = false;
    if (const auto& userOverride = file.userOverride()) {
        m_overrideDJReady->setChecked(userOverride->djReady);
        m_overrideRating->setCurrentIndex(m_overrideRating->findData(static_cast<int>(userOverride->qualityRating)));
        open = true;
    } else if (const auto& result = file.result()) {
        m_overrideDJReady->setChecked(result->passesThreshold());
        m_overrideRating->setCurrentIndex(m_overrideRating->findData(static_cast<int>(result->rating)));
    }
    m_overrideHeader->setChecked(open);
    m_overrideHeader->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    m_overrideControls->setVisible(open);
}

void DetailPanel::showArtwork()
{
    const qreal scale = devicePixelRatioF();
    QPixmap canvas(QSize(kArtworkSize, kArtworkSize) * scale);
    canvas.setDevicePixelRatio(scale);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, kArtworkSize, kArtworkSize), 8, 8);
    painter.setClipPath(rounded);
    if (!m_artwork.isNull()) {
        const QSize fitted = m_artwork.size().scaled(kArtworkSize, kArtworkSize, Qt::KeepAspectRatio);
        const QRect target((kArtworkSize - fitted.width()) / 2, (kArtworkSize - fitted.height()) / 2,
            fitted.width(), fitted.height());
        painter.drawImage(target, m_artwork);
    } else {
        QColor fill = palette::secondary;
        fill.setAlphaF(0.2f);
        painter.fillPath(rounded, fill);
        const QIcon note = symbolIcon(Symbol::musicNote, palette::secondary);
        constexpr int kNoteSize = 64;
        const QRect noteRect((kArtworkSize - kNoteSize) / 2, (kArtworkSize - kNoteSize) / 2, kNoteSize, kNoteSize);
        if (!note.isNull()) {
            note.paint(&painter, noteRect);
        } else {
            QFont font = painter.font();
            font.setPixelSize(kNoteSize);
            painter.setFont(font);
            painter.setPen(palette::secondary);
            painter.drawText(noteRect, Qt::AlignCenter, QString::fromUtf8("\u266A"));
        }
    }
    painter.end();
    m_artworkLabel->setPixmap(canvas);
}

void DetailPanel::startArtworkLoad()
{
    // The panel may be gone or showing another file by the time the picture is read.
    m_artworkLoad.run(
        this, [url = m_file->url()] { return loadArtwork(url); },
        [this](QImage image) {
            m_artwork = std::move(image);
            showArtwork();
            emit artworkLoaded();
        });
}

} // namespace sondrel::ui
