#include "PlayerBar.h"

#include "AudioIo.h"
#include "SondrelCore/FixtureFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace sondrel;
using ui::PlayerBar;

TEST(PlayerBarTest, FormatTimeDropsTheFraction)
{
    EXPECT_EQ(PlayerBar::formatTime(75.9), "1:15");
    EXPECT_EQ(PlayerBar::formatTime(3600), "60:00");
    EXPECT_EQ(PlayerBar::formatTime(59.99), "0:59");
    EXPECT_EQ(PlayerBar::formatTime(0), "0:00");
}

TEST(PlayerBarTest, TheEndOfPlaybackShowsZeroAndThePlaySymbol)
{
    test::FixtureFolder folder;
    ASSERT_EQ(fixtures::writeAudioFile(folder / "short.wav", fixtures::makeTone(8000, 8000, 1, 1), {}), "");
    app::AudioPlayerManager player([] { return std::make_unique<app::SilentAudioOutput>(4.0); });
    PlayerBar bar(player);
    bar.setCurrentTrack(app::AudioFile(folder / "short.wav"));
    auto* elapsed = bar.findChild<QLabel*>("elapsed");
    auto* total = bar.findChild<QLabel*>("total");
    auto* playPause = bar.findChild<QToolButton*>("playPause");
    ASSERT_TRUE(elapsed && total && playPause);

    player.load(folder / "short.wav");
    player.play(); // while loading: starts once the file is open
    QElapsedTimer timer;
    timer.start();
    bool sawPause = false;
    bool finished = false;
    QObject::connect(&player, &app::AudioPlayerManager::finished, [&] { finished = true; });
    while (!finished && timer.elapsed() < 10000) {
        sawPause = sawPause || playPause->accessibleName() == "Pause";
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_TRUE(finished);
    EXPECT_TRUE(sawPause);
    EXPECT_EQ(total->text(), "0:01");
    EXPECT_EQ(elapsed->text(), "0:00");
    EXPECT_EQ(playPause->accessibleName(), "Play");
}

// The level set on the bar reaches the player and is there again after a restart.
TEST(PlayerBarTest, VolumeIsRememberedAcrossARestart)
{
    test::FixtureFolder folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path().c_str());
    {
        app::AudioPlayerManager player([] { return std::make_unique<app::SilentAudioOutput>(); });
        PlayerBar bar(player);
        auto* volume = bar.findChild<QSlider*>("volume");
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->value(), 100);
        volume->setValue(35);
        EXPECT_DOUBLE_EQ(player.volume(), 0.35);
    }
    app::AudioPlayerManager player([] { return std::make_unique<app::SilentAudioOutput>(); });
    PlayerBar bar(player);
    EXPECT_EQ(bar.findChild<QSlider*>("volume")->value(), 35);
    EXPECT_DOUBLE_EQ(player.volume(), 0.35);
}
