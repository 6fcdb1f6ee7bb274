#pragma once

#include "AudioFile.h"
#include "SpectrogramGenerator.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QStackedWidget;

namespace sondrel::ui {

// The spectrogram strip under the file table for the current track: time left to right,
// frequency bottom to top, framed by a frequency axis on the left and a decibel scale on the
// right, with a handle above it that changes its height. The whole-file spectrogram and its
// bitmap are computed on workers; a new track cancels the previous track's generation. When
// the track has a verdict, a dashed line marks the detected cutoff; during playback a vertical
// line marks the position.
class SpectrogramView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFrequencyAxisWidth = 35;
    static constexpr int kDbScaleWidth = 45;
    static constexpr int kMinimumHeight = 150;
    static constexpr int kMaximumHeight = 500;
    static constexpr int kInitialHeight = 250;
    static constexpr int kHandleHeight = 8;
    static constexpr std::int64_t kFftSize = 4096;
    static constexpr std::int64_t kTimeSlices = 2000;

    explicit SpectrogramView(QWidget* parent = nullptr);
    ~SpectrogramView() override;

    // Shows a track (none: an empty strip). The same record again only updates the cutoff line.
    void setTrack(const std::optional<app::AudioFile>& file);

    // The playback position as a fraction of the track (clamped to 0...1), none to hide the
    // line. A new track hides it.
    void setPlayhead(std::optional<double> fraction);
    [[nodiscard]] const std::optional<double>& playhead() const noexcept { return m_playhead; }

    // The strip's height without the handle, always within 150...500.
    [[nodiscard]] int stripHeight() const noexcept { return m_stripHeight; }
    void setStripHeight(int height);

    [[nodiscard]] bool isLoading() const noexcept { return m_isLoading; }
    [[nodiscard]] const QString& error() const noexcept { return m_error; }
    [[nodiscard]] const QImage& image() const noexcept { return m_image; }

    struct AxisLabel {
        double fraction; // from the top: 0 Hz is at 1.0
        QString text;
    };
    // 0, 5k, 10k, 15k and 20k, each only up to the highest frequency shown.
    [[nodiscard]] static std::vector<AxisLabel> frequencyAxisLabels(double maxFrequency);
    // The strip's bitmap at a size in pixels; a degenerate size or empty data gives a blank 1 x 1.
    [[nodiscard]] static QImage renderImage(const core::SpectrogramData& data, QSize size);

signals:
    // The bitmap of the current track is in place (or its error is shown).
    void imageReady();

protected:
    void showEvent(QShowEvent* event) override;

private:
    class ImageArea;
    class FrequencyAxis;
    class DbScale;
    class ResizeHandle;

    void startGeneration();
    void onGenerated(int request, Result<core::SpectrogramData> generated);
    void startRendering();
    void showState();

    std::optional<app::AudioFile> m_file;
    std::shared_ptr<const core::SpectrogramData> m_data;
    bool m_isLoading = false;
    bool m_generationPending = false;
    bool m_renderPending = false;
    QString m_error;
    QImage m_image;
    int m_stripHeight = kInitialHeight;
    std::optional<double> m_playhead;
    int m_request = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;

    QStackedWidget* m_pages = nullptr;
    QLabel* m_errorText = nullptr;
    ImageArea* m_imageArea = nullptr;
    FrequencyAxis* m_axis = nullptr;
};

} // namespace sondrel::ui
