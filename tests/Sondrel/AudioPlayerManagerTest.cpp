#include "../EventLoop.h"
#include "AudioPlayerManager.h"

#include "AudioIo.h"
#include "NullSinkServer.h"
#include "../SondrelCore/FixtureFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <csignal>
#include <fstream>

using namespace sondrel;
using app::AudioOutput;
using app::AudioPlayerManager;
using app::SilentAudioOutput;

namespace {

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000)
{
    return sondrel::test::waitUntil(condition, milliseconds);
}

// A silent output that counts how many are open at once and keeps the volume it was given.
class CountedOutput final : public AudioOutput {
public:
    CountedOutput(double speed, std::atomic<int>& open, std::atomic<double>& volume)
        : m_inner(speed)
        , m_open(open)
        , m_volume(volume)
    {
        ++m_open;
    }
    ~CountedOutput() override { --m_open; }

    sondrel::Status open(int sampleRate, int channels) override { return m_inner.open(sampleRate, channels); }
    std::size_t framesFree() override { return m_inner.framesFree(); }
    std::size_t framesQueued() override { return m_inner.framesQueued(); }
    void write(std::span<const float> interleaved) override { m_inner.write(interleaved); }
    void setPaused(bool paused) override { m_inner.setPaused(paused); }
    void flush() override { m_inner.flush(); }
    void setVolume(double volume) override { m_volume = volume; }

private:
    SilentAudioOutput m_inner;
    std::atomic<int>& m_open;
    std::atomic<double>& m_volume;
};

class AudioPlayerManagerTest : public testing::Test {
protected:
    std::filesystem::path tone(const std::string& name, double seconds, int sampleRate = 8000)
    {
        const auto path = m_folder / name;
        const auto frames = static_cast<std::size_t>(seconds * sampleRate);
        EXPECT_EQ(fixtures::writeAudioFile(path, fixtures::makeTone(frames, sampleRate, 2, 1), {}), "");
        return path;
    }

    AudioPlayerManager::OutputFactory counted(double speed)
    {
        return
            [this, speed] { return std::make_unique<CountedOutput>(speed, m_openOutputs, m_outputVolume); };
    }

    static void load(AudioPlayerManager& player, const std::filesystem::path& file)
    {
        player.load(file);
        ASSERT_TRUE(waitUntil([&] { return player.hasPlayer(); }));
    }

    test::FixtureFolder m_folder;
    std::atomic<int> m_openOutputs = 0;
    std::atomic<double> m_outputVolume = -1;
};

} // namespace

TEST_F(AudioPlayerManagerTest, SkipsClampToTheStartAndTheEnd)
{
    AudioPlayerManager player(counted(1.0));
    load(player, tone("twenty.wav", 20.0));
    EXPECT_DOUBLE_EQ(player.duration(), 20.0);
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);

    player.seek(4.0);
    player.skipBackward();
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
    player.seek(15.0);
    player.skipForward();
    EXPECT_DOUBLE_EQ(player.currentTime(), 20.0);
    player.skipBackward();
    EXPECT_DOUBLE_EQ(player.currentTime(), 10.0);
    EXPECT_DOUBLE_EQ(player.progress(), 0.5);
}

// The level set before a stream opens reaches it, and so does a change while it plays.
TEST_F(AudioPlayerManagerTest, VolumeReachesTheOutputBeforeAndDuringPlayback)
{
    AudioPlayerManager player(counted(1.0));
    player.setVolume(0.25);
    player.setVolume(7.0); // clamped
    EXPECT_DOUBLE_EQ(player.volume(), 1.0);
    player.setVolume(0.25);
    load(player, tone("ten.wav", 10.0));
    player.play();
    ASSERT_TRUE(waitUntil([&] { return m_outputVolume.load() == 0.25; }));
    player.setVolume(0.5);
    ASSERT_TRUE(waitUntil([&] { return m_outputVolume.load() == 0.5; }));
}

TEST_F(AudioPlayerManagerTest, PlaybackAdvancesPausesAndResetsAtTheEnd)
{
    AudioPlayerManager player(counted(4.0));
    load(player, tone("two.wav", 2.0));
    bool finished = false;
    QObject::connect(&player, &AudioPlayerManager::finished, [&] { finished = true; });

    player.play();
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 0.3; }));
    player.pause();
    const double paused = player.currentTime();
    QElapsedTimer idle;
    idle.start();
    waitUntil([&] { return idle.elapsed() > 300; });
    EXPECT_NEAR(player.currentTime(), paused, 0.15);

    player.play();
    ASSERT_TRUE(waitUntil([&] { return finished; }));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
    EXPECT_DOUBLE_EQ(player.duration(), 2.0); // still loaded, back at the start
    ASSERT_TRUE(waitUntil([&] { return m_openOutputs == 0; }));
}

TEST_F(AudioPlayerManagerTest, LoadingWhilePlayingStopsTheFirstStreamAtOnce)
{
    AudioPlayerManager player(counted(1.0));
    load(player, tone("first.wav", 30.0));
    player.play();
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 0.2; }));
    ASSERT_EQ(m_openOutputs, 1);

    const auto second = tone("second.wav", 5.0);
    player.load(second);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
    ASSERT_TRUE(waitUntil([&] { return player.hasPlayer(); }));
    EXPECT_EQ(m_openOutputs, 0);
    EXPECT_EQ(player.currentFile(), second);
    EXPECT_DOUBLE_EQ(player.duration(), 5.0);
    // Nothing plays until asked, and the old stream's position never comes back.
    QElapsedTimer idle;
    idle.start();
    waitUntil([&] { return idle.elapsed() > 300; });
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
    EXPECT_FALSE(player.isPlaying());
}

TEST_F(AudioPlayerManagerTest, AFileThatCannotBeOpenedLeavesThePlayerEmpty)
{
    AudioPlayerManager player(counted(1.0));
    std::ofstream(m_folder / "broken.mp3") << "not audio";
    QString error;
    QObject::connect(&player, &AudioPlayerManager::loadFailed, [&](const QString& text) { error = text; });
    testing::internal::CaptureStdout();
    player.load(m_folder / "broken.mp3");
    ASSERT_TRUE(waitUntil([&] { return !error.isEmpty(); }));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Failed to load audio: ", 0), 0u);
    EXPECT_FALSE(player.hasPlayer());
    player.play();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.duration(), 0.0);
}

// A real file through a real audio server: a PulseAudio null sink of the test's own.
TEST_F(AudioPlayerManagerTest, ARealFilePlaysThroughANullSinkToItsEnd)
{
    const auto& server = test::NullSinkServer::shared();
    if (!server.isRunning())
        GTEST_SKIP() << server.whyNot();

    AudioPlayerManager player;
    load(player, tone("real.wav", 2.0, 44100));
    bool finished = false;
    QObject::connect(&player, &AudioPlayerManager::finished, [&] { finished = true; });
    testing::internal::CaptureStderr();
    player.play();
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 0.5; }, 5000));
    ASSERT_TRUE(waitUntil([&] { return finished; }, 8000));
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("No audio output"), std::string::npos);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.0);
}

// Seeking restarts the device's stream, whose teardown spins an event loop: seeks and skips in
// quick succession while a real file plays must neither fault nor stall the player.
TEST_F(AudioPlayerManagerTest, TwoHundredSeeksWhileARealFilePlaysThroughANullSink)
{
    const auto& server = test::NullSinkServer::shared();
    if (!server.isRunning())
        GTEST_SKIP() << server.whyNot();

    AudioPlayerManager player;
    load(player, tone("long.wav", 40.0, 44100));
    player.play();
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 0.2; }, 5000));
    std::mt19937 random(18);
    std::uniform_real_distribution<double> anywhere(0.0, 39.0);
    std::uniform_int_distribution<int> pause(0, 30);
    for (int i = 0; i < 200; ++i) {
        switch (i % 3) {
        case 0:
            player.skipForward();
            break;
        case 1:
            player.skipBackward();
            break;
        default:
            player.seek(anywhere(random)); // the slider
        }
        const int wait = pause(random);
        waitUntil([] { return false; }, wait);
    }
    // A skip past the end finishes the file, as it should: play again from where the last seek
    // puts it.
    player.seek(10.0);
    player.play();
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 10.3; }, 5000));
    EXPECT_LT(player.currentTime(), 14.0);
}
