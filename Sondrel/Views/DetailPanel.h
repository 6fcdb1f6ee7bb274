#pragma once

#include "AudioFile.h"
#include "Background.h"
#include "ScannerViewModel.h"
#include "Symbols.h"

#include <QImage>
#include <QWidget>

#include <filesystem>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QGridLayout;

namespace sondrel::ui {

// The chosen track at the right of the main window: artwork, tags, technical data, the full
// verdict, and the manual override. Follows its record through the view model's changes
// (override applied or cleared, re-scan), so it always shows the stored state.
class DetailPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int kArtworkSize = 180;

    // One line of the track data: a label, then a value text and/or symbols after the gap.
    struct Row {
        QString label;
        QString value;
        std::vector<std::pair<Symbol, QColor>> symbols; // drawn before the value

        bool operator==(const Row&) const = default;
    };

    DetailPanel(app::ScannerViewModel& viewModel, QWidget* parent = nullptr);

    void setFile(const std::optional<app::AudioFile>& file);
    [[nodiscard]] const std::optional<app::AudioFile>& file() const noexcept { return m_file; }
    // Whether the artwork shown is the file's own picture (not the placeholder).
    [[nodiscard]] bool showsArtwork() const noexcept { return !m_artwork.isNull(); }

    // The data rows of a record, in order, each only where it applies.
    [[nodiscard]] static std::vector<Row> rows(const app::AudioFile& file);
    // 20 log10 of the peak as "%.1f dB"; a peak of 0 or below is minus infinity ("-inf dB").
    [[nodiscard]] static QString peakLevelText(float peakAmplitude);
    // The file's first embedded picture, decoded; a null image when it has none or it is not an
    // image. Reads the disk: call it off the GUI thread.
    [[nodiscard]] static QImage loadArtwork(const std::filesystem::path& url);

signals:
    void closeRequested();
    // The artwork of the current file has been looked up (found or not).
    void artworkLoaded();

private:
    void followRecord();
    void rebuild();
    void resetOverrideControls();
    void showArtwork();
    void startArtworkLoad();

    app::ScannerViewModel& m_viewModel;
    std::optional<app::AudioFile> m_file;
    QImage m_artwork;
    LatestRequest m_artworkLoad;

    QWidget* m_content = nullptr;
    QLabel* m_artworkLabel = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_artist = nullptr;
    QLabel* m_album = nullptr;
    QGridLayout* m_rows = nullptr;
    QWidget* m_overrideSection = nullptr;
    QToolButton* m_overrideHeader = nullptr;
    QWidget* m_overrideControls = nullptr;
    QCheckBox* m_overrideDJReady = nullptr;
    QComboBox* m_overrideRating = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_clear = nullptr;
    QWidget* m_activeNote = nullptr;
};

} // namespace sondrel::ui
