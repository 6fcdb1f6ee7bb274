#pragma once

#include "AudioOutput.h"

#include <QObject>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace sondrel::app {

// The playback controller of one window. Lives on the GUI thread and changes its state only
// there; opening, decoding (the core's FFmpeg decoder, so it plays every file the analyser
// reads) and the output run on a worker thread of its own. States: empty -> loading -> loaded
// (not playing) -> playing <-> paused -> at the end of the file back to loaded at 0:00. Loading
// another file always stops the old stream first.
//
// Without an audio device it still loads, seeks and keeps time: playing then says once on the
// console why nothing is heard and runs on a silent clock.
class AudioPlayerManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(double currentTime READ currentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)

public:
    // Makes the output on the worker thread, once per played stream.
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>()>;

    static constexpr double kSkipSeconds = 10.0;
    static constexpr int kPositionIntervalMs = 100;

    explicit AudioPlayerManager(QObject* parent = nullptr);
    explicit AudioPlayerManager(OutputFactory outputFactory, QObject* parent = nullptr);
    ~AudioPlayerManager() override;

    AudioPlayerManager(const AudioPlayerManager&) = delete;
    AudioPlayerManager& operator=(const AudioPlayerManager&) = delete;

    [[nodiscard]] bool isPlaying() const noexcept { return m_isPlaying; }
    [[nodiscard]] double currentTime() const noexcept { return m_currentTime; }
    [[nodiscard]] double duration() const noexcept { return m_duration; }
    [[nodiscard]] double progress() const noexcept
    {
        return m_duration > 0 ? m_currentTime / m_duration : 0.0;
    }
    [[nodiscard]] const std::optional<std::filesystem::path>& currentFile() const noexcept
    {
        return m_currentFile;
    }
    // A file is open (loaded, playing or paused).
    [[nodiscard]] bool hasPlayer() const noexcept { return m_hasPlayer; }
    [[nodiscard]] bool isLoading() const noexcept { return m_isLoading; }
    // 0 (silent) to 1 (full), as a volume control shows it; 1 until set.
    [[nodiscard]] double volume() const noexcept { return m_volume; }

    // Stops, then opens the file on the worker; `loaded` or "Failed to load audio: " on standard
    // output follows. A play() meanwhile starts playback once the file is open.
    void load(const std::filesystem::path& url);
    void play();
    void pause();
    void togglePlayPause();
    // Stops the stream at once; the file stays open, the position, duration and file clear.
    void stop();
    // Stops and closes the file: back to empty (the file is gone, or another library is open).
    void unload();
    // Clamped to 0...duration.
    void seek(double seconds);
    void skipForward() { seek(m_currentTime + kSkipSeconds); }
    void skipBackward() { seek(m_currentTime - kSkipSeconds); }
    // Clamped to 0...1; applies to the stream playing and to every later one.
    void setVolume(double volume);

signals:
    void isPlayingChanged(bool isPlaying);
    void currentTimeChanged(double seconds);
    void durationChanged(double seconds);
    void progressChanged(double progress);
    void volumeChanged(double volume);
    void currentFileChanged();
    void loaded();
    void loadFailed(const QString& error);
    // The end of the file was heard; the position is back at 0.
    void finished();

private:
    struct Worker;
    struct Position;

    void setIsPlaying(bool value);
    void setCurrentTime(double value);
    void setDuration(double value);
    void updateTime();
    // Runs `work` on the worker thread with its state.
    void post(std::function<void(Worker&)> work);
    void onLoaded(int generation, const std::filesystem::path& url, double duration);
    void onLoadFailed(int generation, const std::string& error);
    void onFinished(int generation);

    bool m_isPlaying = false;
    double m_currentTime = 0;
    double m_duration = 0;
    double m_volume = 1.0;
    std::optional<std::filesystem::path> m_currentFile;
    bool m_hasPlayer = false;
    bool m_isLoading = false;
    bool m_playWhenLoaded = false;
    // Bumped by every load and stop: reports of an older stream are ignored.
    int m_generation = 0;
    // Bumped by every seek: the worker's position counts only once it has made the seek.
    int m_seekSerial = 0;

    QTimer m_timer;
    QThread m_thread;
    QObject* m_workerContext = nullptr; // lives on m_thread
    std::shared_ptr<Worker> m_worker;
    std::shared_ptr<Position> m_position;
};

} // namespace sondrel::app
