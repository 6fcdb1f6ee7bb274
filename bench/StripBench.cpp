// Time from choosing a row to the spectrogram strip drawn, for a 5-minute MP3, and the GUI
// thread's longest stall meanwhile. Choosing a row does what the window does: the detail panel
// shows the file, the player loads it, the strip generates and renders it.
//
//   build/bench/sondrel_strip_bench [RUNS]

#include "AudioPlayerManager.h"
#include "BenchFolder.h"
#include "DetailPanel.h"
#include "FixtureGenerator.h"
#include "SpectrogramView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

using namespace sondrel;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const auto file = bench::benchFolder() / "five-minutes.mp3";
    if (const std::string error = fixtures::writeBenchmarkFile(file, "mp3", 300.0); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    { // The row's file has usually been read by the scan: start from a warm page cache.
        std::ifstream warm(file, std::ios::binary);
        std::vector<char> block(1 << 20);
        while (warm.read(block.data(), static_cast<std::streamsize>(block.size())) || warm.gcount() > 0) { }
    }

    app::ScannerViewModel model(app::ScannerViewModel::Services {});
    app::AudioPlayerManager player([] { return std::make_unique<app::SilentAudioOutput>(); });
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* strip = new ui::SpectrogramView;
    auto* panel = new ui::DetailPanel(model);
    layout->addWidget(panel);
    layout->addWidget(strip);
    window.resize(1400, 900);
    window.show();
    QApplication::processEvents();

    // A 1 ms timer on the GUI thread: the longest gap between its ticks is the longest stall.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick != 0)
            longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
    });

    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        bool drawn = false;
        const auto connection = QObject::connect(strip, &ui::SpectrogramView::imageReady, [&] {
            strip->repaint();
            drawn = true;
        });
        const app::AudioFile record(file); // a new record each run, as a new row would be
        lastTick = 0;
        ticker.start();
        QElapsedTimer elapsed;
        elapsed.start();
        lastTick = clock.nsecsElapsed();
        panel->setFile(record);
        player.load(record.url());
        strip->setTrack(record);
        while (!drawn)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        times.push_back(static_cast<double>(elapsed.nsecsElapsed()) / 1e6);
        ticker.stop();
        QObject::disconnect(connection);
        if (!strip->error().isEmpty()) {
            std::fprintf(stderr, "spectrogram failed: %s\n", qPrintable(strip->error()));
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("row chosen -> strip drawn, 5-minute MP3 (%d runs): median %.0f ms, worst %.0f ms\n", runs,
        times[times.size() / 2], times.back());
    std::printf("longest GUI-thread stall meanwhile: %.1f ms\n", static_cast<double>(longestStall) / 1e6);
    return 0;
}
