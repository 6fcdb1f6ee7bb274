#include "PlayerBar.h"

#include "ViewStyle.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace sondrel::ui {
namespace {

constexpr int kBarHeight = 60;
constexpr int kKnobSize = 12;
// Percent, kept in the settings so the level survives a restart.
constexpr const char* kVolumeKey = "playerVolume";

QToolButton* symbolButton(Symbol symbol, int size, const QString& help)
{
    auto* button = new QToolButton;
    button->setIcon(symbolIcon(symbol));
    button->setIconSize(QSize(size, size));
    button->setAutoRaise(true);
    button->setToolTip(help);
    button->setAccessibleName(help);
    return button;
}

QLabel* timeLabel()
{
    auto* label = new QLabel(PlayerBar::formatTime(0));
    QFont font = label->font();
    font.setStyleHint(QFont::Monospace);
    font.setFamily("monospace");
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    return label;
}

} // namespace

ProgressSlider::ProgressSlider(QWidget* parent)
    : QWidget(parent)
{
    setMinimumWidth(120);
    setFixedHeight(kKnobSize + 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProgressSlider::setProgress(double progress)
{
    progress = std::clamp(progress, 0.0, 1.0);
    if (progress == m_progress)
        return;
    m_progress = progress;
    update();
}

void ProgressSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double middle = height() / 2.0;
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.2f);
    const QColor accent = palette().color(QPalette::Highlight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(0, middle - 2, width(), 4), 2, 2);
    const double filled = m_progress * width();
    painter.setBrush(accent);
    painter.drawRoundedRect(QRectF(0, middle - 2, filled, 4), 2, 2);
    if (m_hovering) {
        const double x = std::clamp(filled, kKnobSize / 2.0, width() - kKnobSize / 2.0);
        painter.drawEllipse(QPointF(x, middle), kKnobSize / 2.0, kKnobSize / 2.0);
    }
}

void ProgressSlider::enterEvent(QEnterEvent*)
{
    m_hovering = true;
    update();
}

void ProgressSlider::leaveEvent(QEvent*)
{
    m_hovering = false;
    update();
}

double ProgressSlider::fractionAt(double x) const
{
    return width() > 0 ? std::clamp(x / width(), 0.0, 1.0) : 0.0;
}

void ProgressSlider::mousePressEvent(QMouseEvent* event)
{
    emit dragChanged(fractionAt(event->position().x()));
}

void ProgressSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        emit dragChanged(fractionAt(event->position().x()));
}

void ProgressSlider::mouseReleaseEvent(QMouseEvent* event)
{
    emit dragEnded(fractionAt(event->position().x()));
}

PlayerBar::PlayerBar(app::AudioPlayerManager& player, QWidget* parent)
    : QWidget(parent)
    , m_player(player)
{
    setFixedHeight(kBarHeight);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget;
    outer->addWidget(m_pages);

    auto* empty = new QLabel(tr("Select a track to play"));
    empty->setAlignment(Qt::AlignCenter);
    QPalette secondary = empty->palette();
    secondary.setColor(QPalette::WindowText, secondaryText());
    empty->setPalette(secondary);
    m_pages->addWidget(empty);

    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 4, 12, 4);
    row->setSpacing(8);
    auto* back = symbolButton(Symbol::gobackward10, 20, tr("Back 10 seconds"));
    m_playPause = symbolButton(Symbol::playCircleFill, 32, tr("Play"));
    m_playPause->setObjectName("playPause");
    auto* forward = symbolButton(Symbol::goforward10, 20, tr("Forward 10 seconds"));
    row->addWidget(back);
    row->addWidget(m_playPause);
    row->addWidget(forward);

    auto* track = new QWidget;
    track->setMinimumWidth(150);
    track->setMaximumWidth(320);
    auto* trackLayout = new QVBoxLayout(track);
    trackLayout->setContentsMargins(4, 0, 4, 0);
    trackLayout->setSpacing(0);
    m_title = new QLabel;
    QFont titleFont = m_title->font();
    titleFont.setWeight(QFont::Medium);
    m_title->setFont(titleFont);
    m_artist = new QLabel;
    QFont captionFont = m_artist->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    m_artist->setFont(captionFont);
    m_artist->setPalette(secondary);
    for (QLabel* label : { m_title, m_artist }) {
        label->setTextFormat(Qt::PlainText);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        trackLayout->addWidget(label);
    }
    row->addWidget(track, 1);

    m_elapsed = timeLabel();
    m_elapsed->setObjectName("elapsed");
    m_slider = new ProgressSlider;
    m_total = timeLabel();
    m_total->setObjectName("total");
    row->addWidget(m_elapsed);
    row->addWidget(m_slider, 2);
    row->addWidget(m_total);

    m_volume = new QSlider(Qt::Horizontal);
    m_volume->setObjectName("volume");
    m_volume->setRange(0, 100);
    m_volume->setFixedWidth(90);
    m_volume->setToolTip(tr("Volume"));
    m_volume->setAccessibleName(tr("Volume"));
    const int stored = QSettings("Sondrel", "Sondrel").value(kVolumeKey, 100).toInt();
    m_volume->setValue(std::clamp(stored, 0, 100));
    m_player.setVolume(m_volume->value() / 100.0);
    row->addWidget(m_volume);

    m_spectrogram = symbolButton(Symbol::waveformCircleFill, 22, tr("Toggle spectrogram"));
    m_spectrogram->setCheckable(true);
    m_spectrogram->setChecked(m_showSpectrogram);
    row->addWidget(m_spectrogram);
    m_pages->addWidget(bar);

    connect(back, &QToolButton::clicked, &m_player, &app::AudioPlayerManager::skipBackward);
    connect(forward, &QToolButton::clicked, &m_player, &app::AudioPlayerManager::skipForward);
    connect(m_playPause, &QToolButton::clicked, this, [this] {
        if (m_player.isPlaying())
            m_player.pause();
        else
            m_player.play();
    });
    connect(m_spectrogram, &QToolButton::clicked, this, [this] {
        m_showSpectrogram = !m_showSpectrogram;
        m_spectrogram->setChecked(m_showSpectrogram);
        emit spectrogramToggled(m_showSpectrogram);
    });
    connect(m_slider, &ProgressSlider::dragChanged, this, [this](double fraction) {
        m_isDragging = true;
        m_dragProgress = fraction;
        refresh();
    });
    connect(m_slider, &ProgressSlider::dragEnded, this, [this](double fraction) {
        m_player.seek(m_player.duration() * fraction);
        m_isDragging = false;
        refresh();
    });
    connect(m_volume, &QSlider::valueChanged, this, [this](int percent) {
        m_player.setVolume(percent / 100.0);
        QSettings("Sondrel", "Sondrel").setValue(kVolumeKey, percent);
    });
    connect(&m_player, &app::AudioPlayerManager::isPlayingChanged, this, &PlayerBar::refresh);
    connect(&m_player, &app::AudioPlayerManager::currentTimeChanged, this, &PlayerBar::refresh);
    connect(&m_player, &app::AudioPlayerManager::durationChanged, this, &PlayerBar::refresh);
    refresh();
}

void PlayerBar::setCurrentTrack(const std::optional<app::AudioFile>& track)
{
    m_track = track;
    refresh();
}

void PlayerBar::setShowSpectrogram(bool show)
{
    m_showSpectrogram = show;
    m_spectrogram->setChecked(show);
}

QString PlayerBar::formatTime(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const auto whole = static_cast<long long>(seconds);
    return QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
}

void PlayerBar::refresh()
{
    m_pages->setCurrentIndex(m_track ? 1 : 0);
    if (m_track) {
        m_title->setText(QString::fromStdString(m_track->title().value_or(m_track->name())));
        m_artist->setText(m_track->artist() ? QString::fromStdString(*m_track->artist()) : QString());
        m_artist->setVisible(m_track->artist().has_value());
    }
    const bool playing = m_player.isPlaying();
    m_playPause->setIcon(symbolIcon(playing ? Symbol::pauseCircleFill : Symbol::playCircleFill));
    m_playPause->setToolTip(playing ? tr("Pause") : tr("Play"));
    m_playPause->setAccessibleName(m_playPause->toolTip());
    const double shown = m_isDragging ? m_dragProgress : m_player.progress();
    m_slider->setProgress(shown);
    m_elapsed->setText(formatTime(m_isDragging ? m_dragProgress * m_player.duration() : m_player.currentTime()));
    m_total->setText(formatTime(m_player.duration()));
}

} // namespace sondrel::ui
