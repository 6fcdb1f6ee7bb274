// The file table on a large library (20,000 and 100,000 rows unless told): how long a sort by
// each column takes from the header click to the rows in their new order, how long a search
// takes, and the GUI thread's longest busy stretch during each (the rest runs on a worker).
// Then verdicts arriving while the table is sorted by DJ Ready, as during a scan.
//
//   build/bench/sondrel_file_table_sort_bench [ROWS...]
//
// The records are made in memory (no files): tags with accented and repeated names, every
// verdict kind, so that each column has real work to do.

#include "AppSettings.h"
#include "BenchFolder.h"
#include "FileListView.h"
#include "FileTableModel.h"
#include "ScannerViewModel.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSettings>
#include <QTableView>
#include <QThread>

#include <cstdio>
#include <random>

using namespace sondrel;

namespace {

std::vector<app::AudioFile> library(int count)
{
    static const std::vector<std::string> words = { "Love", "Night", "Été", "Señor", "Groove", "Ünder",
        "Dawn", "Żar", "Fire", "Órbita", "Deep", "Soul", "Bass", "Ça", "Light", "River", "Motion", "Ñu" };
    std::mt19937 random(20);
    const auto word = [&] { return words[random() % words.size()]; };
    std::vector<app::AudioFile> files;
    files.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        core::ID3Parser::Metadata tags;
        tags.title = word() + " " + word() + " " + std::to_string(random() % 1000);
        tags.artist = "Artist " + word() + " " + std::to_string(i / 20 % 2000);
        tags.album = "Album " + std::to_string(i / 12);
        const std::int64_t bitrates[] = { 128, 192, 256, 320 };
        if (i % 7 != 0)
            tags.bitrate = bitrates[random() % 4];
        const auto format = i % 7 == 0 ? core::AudioFormat::flac : core::AudioFormat::mp3;
        app::AudioFile file("/music/Artist " + std::to_string(i / 200) + "/Track " + std::to_string(i)
                + (format == core::AudioFormat::flac ? ".flac" : ".mp3"),
            format, static_cast<std::int64_t>(2'000'000 + random() % 12'000'000), tags);
        switch (i % 5) {
        case 0:
            break;
        case 1:
            file.setStatus(app::ScanStatus::error("Invalid data found when processing input"));
            break;
        default: {
            const auto rating = core::kAllQualityRatings[random() % core::kAllQualityRatings.size()];
            const float cutoff = 15000.0f + static_cast<float>(random() % 6000);
            const core::ClippingInfo clipping {
                static_cast<std::int64_t>(random() % 3 == 0 ? random() % 50 : 0), 100000, 1.0f
            };
            file.setResult(
                core::AnalysisResult { cutoff, core::estimatedBitrate(rating), rating, 0.8f, clipping });
            file.setStatus(cutoff >= 20000.0f ? app::ScanStatus::passed() : app::ScanStatus::failed());
        }
        }
        files.push_back(std::move(file));
    }
    return files;
}

struct Timing {
    qint64 totalMs = 0;
    qint64 longestStallMs = 0;
};

// Runs `start`, then the event loop until `done` and 150 ms more (the views' own refresh
// timers), timing each pass of the loop: the longest is the longest the GUI thread was busy.
Timing timed(const std::function<void()>& start, const std::function<bool()>& done)
{
    QElapsedTimer total;
    total.start();
    QElapsedTimer slice;
    slice.start();
    start();
    Timing timing { 0, slice.elapsed() };
    std::optional<qint64> finished;
    while (!finished || total.elapsed() < *finished + 150) {
        slice.restart();
        QApplication::processEvents(QEventLoop::AllEvents);
        timing.longestStallMs = std::max(timing.longestStallMs, slice.elapsed());
        if (!finished && done())
            finished = total.elapsed();
        QThread::usleep(300);
    }
    timing.totalMs = *finished;
    return timing;
}

void run(int count)
{
    app::ScannerViewModel::Services services;
    services.threshold = [] { return app::QualityThreshold::kbps320; };
    app::ScannerViewModel model(services);
    model.filesStore().addFiles(library(count));
    model.syncFromStore();
    ui::FileListView view(model);
    view.resize(1400, 800);
    view.show();
    QApplication::processEvents();
    QHeaderView* header = view.table()->horizontalHeader();
    auto* table = qobject_cast<ui::FileTableModel*>(
        qobject_cast<QAbstractProxyModel*>(view.table()->model())->sourceModel());

    // A sort kept from the previous run would already be in place.
    timed([&] { header->setSortIndicator(-1, Qt::AscendingOrder); }, [] { return true; });
    std::printf("rows: %d\n", count);
    for (int column = 0; column < ui::FileTableModel::kColumnCount; ++column) {
        for (auto order : { Qt::AscendingOrder, Qt::DescendingOrder }) {
            const Timing timing = timed(
                [&] { header->setSortIndicator(column, order); }, [&] { return !table->isSortPending(); });
            std::printf("  sort by %-14s %-4s %5lld ms, longest GUI stall %3lld ms\n",
                ui::FileTableModel::kColumns[static_cast<std::size_t>(column)].title,
                order == Qt::AscendingOrder ? "up" : "down", static_cast<long long>(timing.totalMs),
                static_cast<long long>(timing.longestStallMs));
        }
    }
    const Timing unsort
        = timed([&] { header->setSortIndicator(-1, Qt::AscendingOrder); }, [] { return true; });
    std::printf("  back to the library order %5lld ms, longest GUI stall %3lld ms\n",
        static_cast<long long>(unsort.totalMs), static_cast<long long>(unsort.longestStallMs));

    header->setSortIndicator(ui::FileTableModel::title, Qt::AscendingOrder);
    timed([] {}, [&] { return !table->isSortPending(); });
    for (const char* text : { "lov", "señor 12", "" }) {
        const Timing timing
            = timed([&] { view.setSearchText(QString::fromUtf8(text)); }, [] { return true; });
        std::printf("  search \"%s\" (sorted by Title): %zu rows, %lld ms, longest GUI stall %lld ms\n", text,
            view.filteredFiles().size(), static_cast<long long>(timing.totalMs),
            static_cast<long long>(timing.longestStallMs));
    }

    // Verdicts arriving while sorted by DJ Ready: every 50 ms a sync with 25 new verdicts.
    header->setSortIndicator(ui::FileTableModel::djReady, Qt::AscendingOrder);
    timed([] {}, [&] { return !table->isSortPending(); });
    int updated = 0;
    QElapsedTimer clock;
    const Timing scan = timed([&] { clock.start(); },
        [&] {
            if (updated < 2000 && clock.elapsed() >= updated * 2) {
                for (int i = 0; i < 25; ++i, ++updated) {
                    const auto& file = model.allFiles()[static_cast<std::size_t>(updated * 5 % count)];
                    model.filesStore().updateFileAnalysis(file.id(), app::ScanStatus::failed(),
                        core::AnalysisResult { 16000.0f, 128, core::QualityRating::poor, 0.8f, {} });
                }
                model.syncFromStore();
            }
            return updated >= 2000 && !table->isSortPending();
        });
    std::printf("  2000 verdicts while sorted by DJ Ready: %lld ms, longest GUI stall %lld ms\n",
        static_cast<long long>(scan.totalMs), static_cast<long long>(scan.longestStallMs));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const auto root = bench::benchFolder();
    qputenv("XDG_CONFIG_HOME", (root / "config").c_str());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QSettings::setPath(
        QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((root / "config").string()));
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::max(1, std::atoi(argv[i])));
    if (counts.empty())
        counts = { 20000, 100000 };
    for (int count : counts)
        run(count);
    return 0;
}
