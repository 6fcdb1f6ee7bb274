#include "../EventLoop.h"
#include "SpectrogramView.h"

#include "AudioIo.h"
#include "SondrelCore/FixtureFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>

#include <fstream>

#include <gtest/gtest.h>

using namespace sondrel;
using ui::SpectrogramView;

namespace {

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 20000)
{
    return test::waitUntil(condition, milliseconds);
}

void drag(QWidget& handle, double fromY, double toY)
{
    const QPointF inside(10, 4);
    auto send = [&](QEvent::Type type, double y, Qt::MouseButtons buttons) {
        QMouseEvent event(type, inside, handle.mapToGlobal(QPointF(10, y)), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&handle, &event);
    };
    send(QEvent::MouseButtonPress, fromY, Qt::LeftButton);
    send(QEvent::MouseMove, toY, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, toY, Qt::NoButton);
}

} // namespace

TEST(SpectrogramViewTest, FrequencyAxisLabelsStopAtTheHighestFrequency)
{
    const auto labels = SpectrogramView::frequencyAxisLabels(11025);
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[0].text, "0");
    EXPECT_EQ(labels[1].text, "5k");
    EXPECT_EQ(labels[2].text, "10k");
    EXPECT_DOUBLE_EQ(labels[0].fraction, 1.0); // 0 Hz at the bottom edge
    EXPECT_DOUBLE_EQ(labels[1].fraction, 1.0 - 5000.0 / 11025.0);
    EXPECT_EQ(SpectrogramView::frequencyAxisLabels(22050).back().text, "20k");
    EXPECT_TRUE(SpectrogramView::frequencyAxisLabels(0).empty());
}

TEST(SpectrogramViewTest, LevelsBelowAndAboveTheRangeRenderBlackAndWhite)
{
    core::SpectrogramData data;
    data.magnitudes = { { -130.0f, 3.0f } }; // bin 0 at the bottom, bin 1 at the top
    data.sampleRate = 44100;
    data.fftSize = 4;
    const QImage image = SpectrogramView::renderImage(data, QSize(3, 2));
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(1, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));

    EXPECT_EQ(SpectrogramView::renderImage(data, QSize(0, 250)).size(), QSize(1, 1));
    EXPECT_EQ(SpectrogramView::renderImage(core::SpectrogramData {}, QSize(100, 100)).size(), QSize(1, 1));
}

TEST(SpectrogramViewTest, ResizeHandleClampsTheHeight)
{
    SpectrogramView view;
    view.resize(800, view.height());
    view.show();
    auto* handle = view.findChild<QWidget*>("resizeHandle");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(view.stripHeight(), 250);
    drag(*handle, 4, 4 - 400); // up makes it taller
    EXPECT_EQ(view.stripHeight(), 500);
    drag(*handle, 4, 4 + 100);
    EXPECT_EQ(view.stripHeight(), 400);
    drag(*handle, 4, 4 + 2000);
    EXPECT_EQ(view.stripHeight(), 150);
    EXPECT_EQ(view.height(), 150 + SpectrogramView::kHandleHeight);
}

TEST(SpectrogramViewTest, ShowsTheTrackOrItsErrorAndANewTrackReplacesTheOld)
{
    using namespace fixtures;
    test::FixtureFolder folder;
    ASSERT_EQ(writeAudioFile(folder / "tone.wav", makeTone(44100 * 3, 44100, 1, 1), {}), "");
    ASSERT_EQ(writeAudioFile(folder / "long.wav", makeTone(44100 * 25, 44100, 1, 2), {}), "");
    std::ofstream(folder / "broken.mp3") << "not audio at all";

    SpectrogramView view;
    view.resize(900, view.height());
    view.show();
    int ready = 0;
    QObject::connect(&view, &SpectrogramView::imageReady, [&] { ++ready; });

    // The long file's generation is cancelled: only the short one's image arrives.
    view.setTrack(app::AudioFile(folder / "long.wav"));
    view.setTrack(app::AudioFile(folder / "tone.wav"));
    EXPECT_TRUE(view.isLoading());
    ASSERT_TRUE(waitUntil([&] { return ready > 0; }));
    QApplication::processEvents();
    EXPECT_EQ(ready, 1);
    EXPECT_TRUE(view.error().isEmpty());
    EXPECT_GT(view.image().width(), 800);

    view.setTrack(app::AudioFile(folder / "broken.mp3"));
    ASSERT_TRUE(waitUntil([&] { return ready > 1; }));
    EXPECT_FALSE(view.isLoading());
    EXPECT_FALSE(view.error().isEmpty());

    // A long file is decoded in two halves at once; both come back as one strip.
    view.setTrack(app::AudioFile(folder / "long.wav"));
    ASSERT_TRUE(waitUntil([&] { return ready > 2; }));
    EXPECT_TRUE(view.error().isEmpty());
    EXPECT_FALSE(view.image().isNull());
}
