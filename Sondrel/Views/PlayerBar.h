#pragma once

#include "AudioFile.h"
#include "AudioPlayerManager.h"

#include <QWidget>

#include <optional>

class QLabel;
class QSlider;
class QStackedWidget;
class QToolButton;

namespace sondrel::ui {

// A thin progress track, filled up to the position, with a knob while the pointer is over it.
// A drag (no minimum distance) reports the pointer's fraction of the width, within 0...1.
class ProgressSlider : public QWidget {
    Q_OBJECT

public:
    explicit ProgressSlider(QWidget* parent = nullptr);
    void setProgress(double progress);
    [[nodiscard]] double progress() const noexcept { return m_progress; }

signals:
    void dragChanged(double fraction);
    void dragEnded(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    [[nodiscard]] double fractionAt(double x) const;

    double m_progress = 0;
    bool m_hovering = false;
};

// The player at the foot of the centre column: back 10 s, play/pause, forward 10 s, the
// track, elapsed time, position slider, total time, the volume (kept in the settings and given
// to the player) and the spectrogram toggle.
class PlayerBar : public QWidget {
    Q_OBJECT

public:
    PlayerBar(app::AudioPlayerManager& player, QWidget* parent = nullptr);

    void setCurrentTrack(const std::optional<app::AudioFile>& track);
    void setShowSpectrogram(bool show);

    // Whole seconds as minutes:seconds ("1:15"), the fraction dropped.
    [[nodiscard]] static QString formatTime(double seconds);

signals:
    // The spectrogram button was pressed; the window owns the flag.
    void spectrogramToggled(bool show);

private:
    void refresh();

    app::AudioPlayerManager& m_player;
    std::optional<app::AudioFile> m_track;
    bool m_showSpectrogram = true;
    bool m_isDragging = false;
    double m_dragProgress = 0;

    QStackedWidget* m_pages = nullptr;
    QToolButton* m_playPause = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_artist = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_total = nullptr;
    ProgressSlider* m_slider = nullptr;
    QSlider* m_volume = nullptr;
    QToolButton* m_spectrogram = nullptr;
};

} // namespace sondrel::ui
