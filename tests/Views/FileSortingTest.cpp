#include "FileSorting.h"

#include "FileTableModel.h"
#include "ViewsTestSupport.h"

namespace sondrel::ui {
namespace {

using app::AudioFile;
using app::QualityThreshold;
using app::ScanStatus;
using core::QualityRating;
using Column = FileTableModel::Column;

class FileSortingTest : public test::ViewsTest {
protected:
    static AudioFile tagged(const std::string& name, std::optional<std::string> title,
        std::optional<std::int64_t> bitrate = std::nullopt, ScanStatus status = ScanStatus::pending(),
        std::optional<core::AnalysisResult> analysed = std::nullopt)
    {
        core::ID3Parser::Metadata tags;
        tags.title = std::move(title);
        tags.bitrate = bitrate;
        return record(name, std::move(status), analysed, tags);
    }

    // The names of the files in the column's order.
    std::vector<std::string> names(int column, Qt::SortOrder order = Qt::AscendingOrder) const
    {
        std::vector<std::string> sorted;
        for (int row : FileSorting::sortedRows(m_files, column, order, QualityThreshold::kbps320,
                 QLocale(QLocale::English, QLocale::UnitedStates)))
            sorted.push_back(m_files[static_cast<std::size_t>(row)].name());
        return sorted;
    }

    std::vector<AudioFile> m_files;
};

using Names = std::vector<std::string>;

// Accented names sort with their letters (byte order would put "É" after "Z"), case does not
// split the list, numbers go by value, and a missing title comes last either way.
TEST_F(FileSortingTest, TextsFollowTheLocaleAndMissingOnesComeLast)
{
    m_files = { tagged("1.mp3", "Zebra"), tagged("2.mp3", std::nullopt), tagged("3.mp3", "Émile"),
        tagged("4.mp3", "Track 10"), tagged("5.mp3", "apple"), tagged("6.mp3", "élan"),
        tagged("7.mp3", "Eagle"), tagged("8.mp3", "Track 2") };
    EXPECT_EQ(names(Column::title),
        (Names { "5.mp3", "7.mp3", "6.mp3", "3.mp3", "8.mp3", "4.mp3", "1.mp3", "2.mp3" }));
    EXPECT_EQ(names(Column::title, Qt::DescendingOrder),
        (Names { "1.mp3", "4.mp3", "8.mp3", "3.mp3", "6.mp3", "7.mp3", "5.mp3", "2.mp3" }));

    m_files = { tagged("Track 10.mp3", {}), tagged("track 9.mp3", {}), tagged("Ödland.mp3", {}),
        tagged("Orbit.mp3", {}), tagged("Zulu.mp3", {}) };
    EXPECT_EQ(names(Column::filename),
        (Names { "Ödland.mp3", "Orbit.mp3", "track 9.mp3", "Track 10.mp3", "Zulu.mp3" }));
}

// Rows of equal value keep the library's order in both directions.
TEST_F(FileSortingTest, EqualValuesKeepTheLibraryOrder)
{
    m_files = { tagged("b.mp3", "Same"), tagged("a.mp3", "Other"), tagged("c.mp3", "same"),
        tagged("d.mp3", "Same") };
    EXPECT_EQ(names(Column::title), (Names { "a.mp3", "b.mp3", "c.mp3", "d.mp3" }));
    EXPECT_EQ(names(Column::title, Qt::DescendingOrder), (Names { "b.mp3", "c.mp3", "d.mp3", "a.mp3" }));
}

// Bitrates and sizes by number (not "320kbps" before "64kbps" as text); "Uncompressed" above
// every bitrate; the detected quality by rating first, then by estimate.
TEST_F(FileSortingTest, NumbersAndRatingsSortByValue)
{
    m_files = { tagged("320.mp3", {}, 320), tagged("64.mp3", {}, 64), tagged("none.mp3", {}),
        tagged("wave.wav", {}), tagged("128.mp3", {}, 128) };
    EXPECT_EQ(names(Column::bitrate), (Names { "64.mp3", "128.mp3", "320.mp3", "wave.wav", "none.mp3" }));
    EXPECT_EQ(names(Column::bitrate, Qt::DescendingOrder),
        (Names { "wave.wav", "320.mp3", "128.mp3", "64.mp3", "none.mp3" }));

    m_files = { AudioFile("/library/big.mp3", core::AudioFormat::mp3, 12'000'000, {}),
        AudioFile("/library/small.mp3", core::AudioFormat::mp3, 900'000, {}),
        AudioFile("/library/middle.mp3", core::AudioFormat::mp3, 4'000'000, {}) };
    EXPECT_EQ(names(Column::size), (Names { "small.mp3", "middle.mp3", "big.mp3" }));

    const auto rated = [](const std::string& name, std::int64_t estimate, QualityRating rating) {
        return record(name, ScanStatus::passed(), result(20000, estimate, rating));
    };
    m_files = { rated("lossless.flac", 1411, QualityRating::lossless), record("pending.mp3"),
        rated("fake.flac", 128, QualityRating::suspicious), rated("high.mp3", 320, QualityRating::high),
        rated("poor.mp3", 128, QualityRating::poor), rated("medium.mp3", 256, QualityRating::medium),
        rated("low.mp3", 192, QualityRating::low) };
    EXPECT_EQ(names(Column::actualBitrate),
        (Names {
            "fake.flac", "poor.mp3", "low.mp3", "medium.mp3", "high.mp3", "lossless.flac", "pending.mp3" }));
}

// The icon columns by severity: failed first, then errors, then ready; never scanned last.
TEST_F(FileSortingTest, VerdictsSortBySeverity)
{
    const core::ClippingInfo severe { 20, 10000, 1.0f };
    const core::ClippingInfo mild { 1, 100000, 1.0f };
    m_files = { record("pending.mp3"),
        record("ready.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high)),
        record("broken.mp3", ScanStatus::error("Invalid data found when processing input")),
        record("clipped.mp3", ScanStatus::passed(), result(20500, 320, QualityRating::high, severe)),
        record("poor.mp3", ScanStatus::failed(), result(16000, 128, QualityRating::poor, mild)) };
    EXPECT_EQ(names(Column::djReady),
        (Names { "clipped.mp3", "poor.mp3", "broken.mp3", "ready.mp3", "pending.mp3" }));
    EXPECT_EQ(names(Column::djReady, Qt::DescendingOrder),
        (Names { "ready.mp3", "broken.mp3", "clipped.mp3", "poor.mp3", "pending.mp3" }));
    EXPECT_EQ(names(Column::clipping),
        (Names { "clipped.mp3", "poor.mp3", "ready.mp3", "pending.mp3", "broken.mp3" }));
    // The issue texts alphabetically: "Below quality threshold", "Clipping", the error's text.
    EXPECT_EQ(names(Column::issue),
        (Names { "poor.mp3", "clipped.mp3", "broken.mp3", "pending.mp3", "ready.mp3" }));
}

TEST_F(FileSortingTest, OnlyVerdictColumnsFollowVerdicts)
{
    for (int column :
        { Column::djReady, Column::transcode, Column::clipping, Column::actualBitrate, Column::issue })
        EXPECT_TRUE(FileSorting::followsVerdicts(column)) << column;
    for (int column : { Column::title, Column::artist, Column::bitrate, Column::size, Column::filename })
        EXPECT_FALSE(FileSorting::followsVerdicts(column)) << column;
}

} // namespace
} // namespace sondrel::ui
