#include "AudioOutput.h"

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace sondrel::app {
namespace {

// A quarter of a second queued: short enough that pause and seek feel immediate, long enough
// that a busy machine does not starve the device.
constexpr double kBufferSeconds = 0.25;

class SystemAudioOutput final : public AudioOutput {
public:
    Status open(int sampleRate, int channels) override
    {
        m_device = QMediaDevices::defaultAudioOutput();
        if (m_device.isNull())
            return Error { "no audio output device (is a PulseAudio or PipeWire server running?)" };
        m_format.setSampleRate(sampleRate);
        m_format.setChannelCount(channels);
        m_format.setSampleFormat(QAudioFormat::Float);
        if (!m_device.isFormatSupported(m_format))
            return Error { "the audio device refuses " + std::to_string(sampleRate) + " Hz float audio" };
        return start();
    }

    ~SystemAudioOutput() override
    {
        // Deleted at once: by now the player has stopped feeding this output.
        if (m_sink)
            m_sink->stop();
    }

    // Without a stream (one that failed to start) the output takes nothing and holds nothing.
    std::size_t framesFree() override
    {
        if (!m_io)
            return 0;
        return static_cast<std::size_t>(std::max<qsizetype>(m_sink->bytesFree(), 0)) / bytesPerFrame();
    }

    std::size_t framesQueued() override
    {
        if (!m_io)
            return 0;
        const qsizetype held = m_sink->bufferSize() - m_sink->bytesFree();
        return static_cast<std::size_t>(std::max<qsizetype>(held, 0)) / bytesPerFrame();
    }

    void write(std::span<const float> interleaved) override
    {
        if (m_io)
            m_io->write(reinterpret_cast<const char*>(interleaved.data()),
                static_cast<qint64>(interleaved.size_bytes()));
    }

    void setPaused(bool paused) override
    {
        if (!m_sink)
            return;
        if (paused)
            m_sink->suspend();
        else
            m_sink->resume();
    }

    void flush() override
    {
        // QAudioSink has no way to drop what it holds and go on: a fresh stream does both. The
        // old sink's destructor spins an event loop, in which the player's timers would reach
        // this output half torn down; so it is stopped now and destroyed later, from the
        // thread's own event loop, while the fresh stream is already in place.
        const bool paused = m_sink && m_sink->state() == QAudio::SuspendedState;
        if (m_sink) {
            m_sink->stop();
            m_sink.release()->deleteLater();
        }
        m_io = nullptr;
        if (start().ok() && paused)
            m_sink->suspend();
    }

    void setVolume(double volume) override
    {
        m_volume = volume;
        applyVolume();
    }

private:
    // The control's scale is the ear's; the sink's is linear amplitude.
    void applyVolume()
    {
        if (m_sink)
            m_sink->setVolume(QAudio::convertVolume(
                static_cast<float>(m_volume), QAudio::LogarithmicVolumeScale, QAudio::LinearVolumeScale));
    }

    Status start()
    {
        m_io = nullptr;
        m_sink = std::make_unique<QAudioSink>(m_device, m_format);
        applyVolume();
        m_sink->setBufferSize(static_cast<qsizetype>(kBufferSeconds * m_format.sampleRate())
            * static_cast<qsizetype>(bytesPerFrame()));
        m_io = m_sink->start();
        if (m_io == nullptr || m_sink->error() != QAudio::NoError) {
            m_io = nullptr;
            return Error { "the audio device could not be opened" };
        }
        return Ok {};
    }

    [[nodiscard]] std::size_t bytesPerFrame() const
    {
        return static_cast<std::size_t>(std::max(m_format.bytesPerFrame(), 1));
    }

    QAudioDevice m_device;
    QAudioFormat m_format;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice* m_io = nullptr; // owned by m_sink
    double m_volume = 1.0;
};

} // namespace

std::unique_ptr<AudioOutput> makeSystemAudioOutput()
{
    return std::make_unique<SystemAudioOutput>();
}

Status SilentAudioOutput::open(int sampleRate, int channels)
{
    m_sampleRate = sampleRate;
    m_channels = std::max(channels, 1);
    m_queued = 0;
    m_last = Clock::now();
    return Ok {};
}

void SilentAudioOutput::drain()
{
    const auto now = Clock::now();
    if (!m_paused) {
        const double elapsed = std::chrono::duration<double>(now - m_last).count();
        m_queued = std::max(0.0, m_queued - elapsed * m_sampleRate * m_speed);
    }
    m_last = now;
}

std::size_t SilentAudioOutput::framesFree()
{
    drain();
    const double capacity = kBufferSeconds * m_sampleRate * std::max(m_speed, 1.0);
    return static_cast<std::size_t>(std::max(0.0, capacity - m_queued));
}

std::size_t SilentAudioOutput::framesQueued()
{
    drain();
    return static_cast<std::size_t>(m_queued);
}

void SilentAudioOutput::write(std::span<const float> interleaved)
{
    drain();
    m_queued += static_cast<double>(interleaved.size() / static_cast<std::size_t>(m_channels));
}

void SilentAudioOutput::setPaused(bool paused)
{
    drain();
    m_paused = paused;
}

void SilentAudioOutput::flush()
{
    drain();
    m_queued = 0;
}

} // namespace sondrel::app
