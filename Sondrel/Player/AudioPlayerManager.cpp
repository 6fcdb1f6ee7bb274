#include "AudioPlayerManager.h"

#include "AudioDecoder.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <mutex>

namespace sondrel::app {
namespace {

// Frames decoded per write: about 0.1 s, well inside the output's quarter-second buffer.
constexpr std::size_t kChunkFrames = 4096;
// Below this much room the feed waits for the next tick rather than write a sliver.
constexpr std::size_t kMinimumWrite = 512;
constexpr int kFeedIntervalMs = 10;
// A device that never reports its buffer empty still ends this long after the last frame.
constexpr double kEndGraceSeconds = 0.5;

} // namespace

// The worker's published position: written by the worker, read by the GUI thread's timer.
struct AudioPlayerManager::Position {
    // The newest seek asked for: the worker skips the older ones still queued, since each
    // restarts the device's stream.
    std::atomic<int> latestSeek = 0;
    std::mutex mutex;
    int generation = 0;
    int seekSerial = 0;
    double seconds = 0;
};

// Everything the worker thread owns; touched only on that thread.
struct AudioPlayerManager::Worker {
    OutputFactory outputFactory;
    std::shared_ptr<Position> position;
    AudioPlayerManager* manager = nullptr; // outlives the worker: its destructor waits for it

    int generation = 0;
    int seekSerial = 0;
    std::unique_ptr<core::AudioDecoder> decoder;
    std::unique_ptr<core::AudioBuffer> buffer;
    std::vector<float> interleaved;
    std::unique_ptr<AudioOutput> output;
    double volume = 1.0;
    std::unique_ptr<QTimer> feedTimer;
    std::uint64_t nextFrame = 0; // the next frame to decode
    bool playing = false;
    bool endOfFile = false;
    // Inside feed(): an output call that spins an event loop must not start a second feed.
    bool feeding = false;
    std::chrono::steady_clock::time_point endDeadline;

    void publish(double seconds)
    {
        const std::lock_guard lock(position->mutex);
        position->generation = generation;
        position->seekSerial = seekSerial;
        position->seconds = seconds;
    }

    // Releases the device at once; the decoder stays open.
    void stopStream()
    {
        playing = false;
        if (feedTimer)
            feedTimer->stop();
        output.reset();
    }

    void close()
    {
        stopStream();
        decoder.reset();
        buffer.reset();
        nextFrame = 0;
        endOfFile = false;
    }

    void rewind()
    {
        endOfFile = false;
        nextFrame = 0;
        if (decoder && !decoder->seek(0))
            endOfFile = true;
        publish(0);
    }

    void open(int newGeneration, int serial, const std::filesystem::path& url)
    {
        close();
        generation = newGeneration;
        seekSerial = serial;
        publish(0);
        auto opened = core::openAudioFile(url);
        if (opened && ((*opened)->sampleRate() <= 0 || (*opened)->channelCount() < 1))
            opened = Error { "no audio stream" };
        if (!opened) {
            const std::string error = opened.error().description;
            QMetaObject::invokeMethod(
                manager, [m = manager, g = newGeneration, error] { m->onLoadFailed(g, error); },
                Qt::QueuedConnection);
            return;
        }
        decoder = std::move(*opened);
        buffer = std::make_unique<core::AudioBuffer>(decoder->channelCount(), kChunkFrames);
        const double duration = static_cast<double>(decoder->lengthInFrames()) / decoder->sampleRate();
        QMetaObject::invokeMethod(
            manager, [m = manager, g = newGeneration, url, duration] { m->onLoaded(g, url, duration); },
            Qt::QueuedConnection);
    }

    bool openOutput()
    {
        output = outputFactory();
        if (Status opened = output->open(static_cast<int>(decoder->sampleRate()), decoder->channelCount());
            !opened) {
            static std::once_flag told;
            std::call_once(told, [&] {
                std::cerr << "No audio output: " << opened.error().description << "; playing silently\n";
            });
            output = std::make_unique<SilentAudioOutput>();
            if (!output->open(static_cast<int>(decoder->sampleRate()), decoder->channelCount()).ok())
                return false;
        }
        output->setVolume(volume);
        return true;
    }

    void play()
    {
        if (!decoder || playing)
            return;
        if (!output && !openOutput())
            return;
        output->setPaused(false);
        playing = true;
        if (!feedTimer) {
            feedTimer = std::make_unique<QTimer>();
            feedTimer->setInterval(kFeedIntervalMs);
            QObject::connect(feedTimer.get(), &QTimer::timeout, [this] { feed(); });
        }
        feedTimer->start();
        feed();
    }

    void pause()
    {
        playing = false;
        if (feedTimer)
            feedTimer->stop();
        if (output)
            output->setPaused(true);
    }

    void seek(int serial, double seconds)
    {
        seekSerial = serial;
        if (!decoder || serial != position->latestSeek.load())
            return;
        const auto length = decoder->lengthInFrames();
        const auto frame = std::min<std::uint64_t>(
            static_cast<std::uint64_t>(std::max(0.0, seconds) * decoder->sampleRate()), length);
        endOfFile = !decoder->seek(frame).ok();
        nextFrame = frame;
        if (output)
            output->flush();
        publish(static_cast<double>(frame) / decoder->sampleRate());
    }

    void feed()
    {
        if (feeding || !playing || !output || !decoder)
            return;
        feeding = true;
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done { feeding };
        const auto channels = static_cast<std::size_t>(buffer->channelCount());
        while (!endOfFile) {
            const std::size_t room = output->framesFree();
            if (room < kMinimumWrite)
                break;
            auto got = decoder->read(std::min(room, kChunkFrames), *buffer);
            if (!got || *got == 0) {
                endOfFile = true;
                endDeadline = std::chrono::steady_clock::now()
                    + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(
                            static_cast<double>(output->framesQueued()) / decoder->sampleRate()
                            + kEndGraceSeconds));
                break;
            }
            interleaved.resize(*got * channels);
            for (std::size_t c = 0; c < channels; ++c) {
                const auto samples = buffer->channel(static_cast<int>(c));
                for (std::size_t i = 0; i < *got; ++i)
                    interleaved[i * channels + c] = samples[i];
            }
            output->write(interleaved);
            nextFrame += *got;
        }
        const std::size_t queued = std::min<std::uint64_t>(output->framesQueued(), nextFrame);
        publish(static_cast<double>(nextFrame - queued) / decoder->sampleRate());
        if (endOfFile && (queued == 0 || std::chrono::steady_clock::now() >= endDeadline)) {
            stopStream();
            rewind();
            QMetaObject::invokeMethod(
                manager, [m = manager, g = generation] { m->onFinished(g); }, Qt::QueuedConnection);
        }
    }
};

AudioPlayerManager::AudioPlayerManager(QObject* parent)
    : AudioPlayerManager(makeSystemAudioOutput, parent)
{
}

AudioPlayerManager::AudioPlayerManager(OutputFactory outputFactory, QObject* parent)
    : QObject(parent)
    , m_worker(std::make_shared<Worker>())
    , m_position(std::make_shared<Position>())
{
    m_worker->outputFactory = std::move(outputFactory);
    m_worker->position = m_position;
    m_worker->manager = this;
    m_timer.setInterval(kPositionIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &AudioPlayerManager::updateTime);
    m_thread.setObjectName("Sondrel player");
    m_thread.start();
    m_workerContext = new QObject;
    m_workerContext->moveToThread(&m_thread);
}

AudioPlayerManager::~AudioPlayerManager()
{
    // The output and its timer belong to the worker thread, so they go there.
    QMetaObject::invokeMethod(
        m_workerContext,
        [worker = m_worker] {
            worker->close();
            worker->feedTimer.reset();
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_workerContext;
}

void AudioPlayerManager::post(std::function<void(Worker&)> work)
{
    QMetaObject::invokeMethod(
        m_workerContext, [worker = m_worker, work = std::move(work)] { work(*worker); },
        Qt::QueuedConnection);
}

void AudioPlayerManager::load(const std::filesystem::path& url)
{
    stop();
    m_hasPlayer = false;
    m_isLoading = true;
    m_playWhenLoaded = false;
    post([generation = m_generation, serial = m_seekSerial, url](
             Worker& worker) { worker.open(generation, serial, url); });
}

void AudioPlayerManager::onLoaded(int generation, const std::filesystem::path& url, double duration)
{
    if (generation != m_generation)
        return;
    m_isLoading = false;
    m_hasPlayer = true;
    setDuration(duration);
    setCurrentTime(0);
    m_currentFile = url;
    emit currentFileChanged();
    emit loaded();
    if (std::exchange(m_playWhenLoaded, false))
        play();
}

void AudioPlayerManager::onLoadFailed(int generation, const std::string& error)
{
    if (generation != m_generation)
        return;
    m_isLoading = false;
    m_playWhenLoaded = false;
    std::cout << "Failed to load audio: " << error << std::endl;
    emit loadFailed(QString::fromStdString(error));
}

void AudioPlayerManager::play()
{
    if (m_isLoading) {
        m_playWhenLoaded = true;
        return;
    }
    if (!m_hasPlayer)
        return;
    post([](Worker& worker) { worker.play(); });
    setIsPlaying(true);
    m_timer.start(); // restarting replaces any running timer
}

void AudioPlayerManager::pause()
{
    m_playWhenLoaded = false;
    if (m_hasPlayer)
        post([](Worker& worker) { worker.pause(); });
    setIsPlaying(false);
    m_timer.stop();
    updateTime();
}

void AudioPlayerManager::togglePlayPause()
{
    if (m_isPlaying)
        pause();
    else
        play();
}

void AudioPlayerManager::stop()
{
    ++m_generation;
    m_playWhenLoaded = false;
    post([generation = m_generation](Worker& worker) {
        worker.generation = generation;
        worker.stopStream();
        worker.rewind();
    });
    setIsPlaying(false);
    m_timer.stop();
    setCurrentTime(0);
    setDuration(0);
    if (m_currentFile) {
        m_currentFile.reset();
        emit currentFileChanged();
    }
}

void AudioPlayerManager::unload()
{
    stop();
    m_hasPlayer = false;
    m_isLoading = false;
    post([](Worker& worker) { worker.close(); });
}

void AudioPlayerManager::seek(double seconds)
{
    if (!m_hasPlayer)
        return;
    const double target = std::clamp(seconds, 0.0, m_duration);
    m_position->latestSeek.store(++m_seekSerial);
    post([serial = m_seekSerial, target](Worker& worker) { worker.seek(serial, target); });
    setCurrentTime(target);
}

void AudioPlayerManager::setVolume(double volume)
{
    volume = std::isfinite(volume) ? std::clamp(volume, 0.0, 1.0) : 1.0;
    if (volume == m_volume)
        return;
    m_volume = volume;
    post([volume](Worker& worker) {
        worker.volume = volume;
        if (worker.output)
            worker.output->setVolume(volume);
    });
    emit volumeChanged(volume);
}

void AudioPlayerManager::updateTime()
{
    const std::lock_guard lock(m_position->mutex);
    if (m_position->generation == m_generation && m_position->seekSerial == m_seekSerial)
        setCurrentTime(std::min(m_position->seconds, m_duration));
}

void AudioPlayerManager::onFinished(int generation)
{
    if (generation != m_generation)
        return;
    setIsPlaying(false);
    m_timer.stop();
    setCurrentTime(0);
    emit finished();
}

void AudioPlayerManager::setIsPlaying(bool value)
{
    if (m_isPlaying == value)
        return;
    m_isPlaying = value;
    emit isPlayingChanged(value);
}

void AudioPlayerManager::setCurrentTime(double value)
{
    if (m_currentTime == value)
        return;
    m_currentTime = value;
    emit currentTimeChanged(value);
    emit progressChanged(progress());
}

void AudioPlayerManager::setDuration(double value)
{
    if (m_duration == value)
        return;
    m_duration = value;
    emit durationChanged(value);
    emit progressChanged(progress());
}

} // namespace sondrel::app
