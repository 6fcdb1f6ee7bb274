#pragma once

#include "Result.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>

namespace sondrel::app {

// Where the player's decoded audio goes: interleaved 32-bit float frames, pushed.
//
// Call order: open, then any sequence of write (never more than framesFree), setPaused, flush
// and setVolume; the destructor releases the device. Confined to the player's worker thread.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // The error says why nothing can be heard (no server, no device, format refused).
    [[nodiscard]] virtual Status open(int sampleRate, int channels) = 0;
    // Frames that can be written now without blocking.
    [[nodiscard]] virtual std::size_t framesFree() = 0;
    // Frames written but not yet heard.
    [[nodiscard]] virtual std::size_t framesQueued() = 0;
    virtual void write(std::span<const float> interleaved) = 0;
    virtual void setPaused(bool paused) = 0;
    // Drops everything queued, at once (a seek, a stop).
    virtual void flush() = 0;
    // Loudness as a volume control shows it, 0 (silent) to 1 (full); kept across flushes.
    virtual void setVolume(double volume) = 0;
};

// The system's default output through Qt Multimedia (PulseAudio or PipeWire's PulseAudio
// service).
[[nodiscard]] std::unique_ptr<AudioOutput> makeSystemAudioOutput();

// An output that plays nothing but consumes frames as a device would, `speed` times real time.
// Keeps the player's clock, position and end of file honest when there is no device, and stands
// in for the device in tests.
class SilentAudioOutput final : public AudioOutput {
public:
    explicit SilentAudioOutput(double speed = 1.0) noexcept
        : m_speed(speed)
    {
    }

    Status open(int sampleRate, int channels) override;
    std::size_t framesFree() override;
    std::size_t framesQueued() override;
    void write(std::span<const float> interleaved) override;
    void setPaused(bool paused) override;
    void flush() override;
    void setVolume(double volume) override { m_volume = volume; }
    [[nodiscard]] double volume() const noexcept { return m_volume; }

private:
    void drain();

    using Clock = std::chrono::steady_clock;
    double m_speed;
    int m_sampleRate = 0;
    int m_channels = 1;
    double m_queued = 0;
    bool m_paused = false;
    double m_volume = 1.0;
    Clock::time_point m_last = Clock::now();
};

} // namespace sondrel::app
