#include "ListExport.h"

#include "../SondrelCore/FixtureFolder.h"
#include "AudioIo.h"
#include "Signals.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;
using Format = ListExport::Format;

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Python's csv module, an independent reader, turns the file into rows.
std::vector<std::vector<std::string>> readCsvWithPython(const fs::path& file)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-c"),
            QStringLiteral("import csv, json, sys\n"
                           "with open(sys.argv[1], newline='', encoding='utf-8', errors='strict') as f:\n"
                           "    print(json.dumps(list(csv.reader(f))))"),
            QString::fromStdString(file.string()) });
    EXPECT_TRUE(python.waitForFinished(20000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return nlohmann::json::parse(python.readAllStandardOutput().toStdString())
        .get<std::vector<std::vector<std::string>>>();
}

// A playlist line back to a path: a plain path, or a percent-encoded file URL.
fs::path playlistPath(const std::string& line)
{
    if (!line.starts_with("file://"))
        return line;
    std::string path;
    for (std::size_t i = 7; i < line.size(); ++i) {
        if (line[i] == '%' && i + 2 < line.size()) {
            path += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += line[i];
        }
    }
    return path;
}

class ListExportTest : public testing::Test {
protected:
    // A file on disk with these tags, in the state a scan leaves it.
    AudioFile file(const std::string& name, std::optional<std::string> title,
        std::optional<std::string> artist, ScanStatus status = ScanStatus::failed())
    {
        const fs::path path = m_folder / name;
        std::ofstream(path) << "audio";
        core::ID3Parser::Metadata tags;
        tags.title = std::move(title);
        tags.artist = std::move(artist);
        tags.bitrate = 320;
        AudioFile record(path, core::AudioFormat::mp3, 5, tags);
        record.setStatus(std::move(status));
        if (record.status().kind() != ScanStatus::Kind::error)
            record.setResult(
                core::AnalysisResult { 15500.0f, 128, core::QualityRating::poor, 0.9f, { 0, 49152, 0.5f } });
        return record;
    }

    // Names and tags as other programs write them: commas, quotes, line breaks, non-ASCII.
    std::vector<AudioFile> awkwardFiles()
    {
        return { file("Daft Punk, \"Live\".mp3", "One More Time, \"Edit\"", "Daft Punk"),
            file("Ünïcødé – 東京.mp3", "Tōkyō Drift", "DJ Ümlaut"),
            file("two\nlines.mp3", "Title\nwith break", std::nullopt),
            file("no tags.mp3", std::nullopt, std::nullopt),
            file("broken, file.mp3", std::nullopt, "Only Artist",
                ScanStatus::error("Invalid data, \"bad\"")) };
    }

    static std::vector<const AudioFile*> pointers(const std::vector<AudioFile>& files)
    {
        std::vector<const AudioFile*> result;
        for (const AudioFile& f : files)
            result.push_back(&f);
        return result;
    }

    test::FixtureFolder m_folder;
};

TEST_F(ListExportTest, CsvReadsBackThroughAnIndependentReader)
{
    const auto files = awkwardFiles();
    const fs::path target = m_folder / "list.csv";
    ASSERT_TRUE(
        ListExport::writeFile(target, Format::csv, pointers(files), QualityThreshold::kbps320, std::nullopt));
    const auto rows = readCsvWithPython(target);
    ASSERT_EQ(rows.size(), files.size() + 1);
    EXPECT_EQ(rows[0], ListExport::columnTitles());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(rows[i + 1], ListExport::columns(files[i], QualityThreshold::kbps320)) << i;
    EXPECT_EQ(rows[1][2], "One More Time, \"Edit\"");
    EXPECT_EQ(rows[3][7], (m_folder / "two\nlines.mp3").string());
    EXPECT_EQ(rows[5][6], "Invalid data, \"bad\"");
}

TEST_F(ListExportTest, JsonLinesGiveOneParsableObjectPerFile)
{
    const auto files = awkwardFiles();
    std::ostringstream out;
    ListExport::write(Format::jsonLines, pointers(files), QualityThreshold::kbps320, out);
    const auto objects = lines(out.str());
    ASSERT_EQ(objects.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto object = nlohmann::json::parse(objects[i]);
        EXPECT_EQ(object.at("path"), files[i].url().string());
        EXPECT_EQ(object.at("name"), files[i].name());
    }
    EXPECT_EQ(nlohmann::json::parse(objects[2]).at("title"), "Title\nwith break");
    EXPECT_EQ(nlohmann::json::parse(objects[4]).at("status"), "error");
    EXPECT_EQ(nlohmann::json::parse(objects[4]).at("error"), "Invalid data, \"bad\"");
}

// Every entry is two lines whatever the names hold, and every path line leads to its file.
TEST_F(ListExportTest, PlaylistEntriesResolveToTheFilesAndNameThemSensibly)
{
    auto files = awkwardFiles();
    // A name that is not UTF-8, as Linux allows.
    files.push_back(file(std::string("latin1 caf\xe9.mp3"), "Café", "Artist"));
    const auto durations = [](const fs::path& path) -> std::optional<double> {
        if (path.filename() == "no tags.mp3")
            return std::nullopt;
        return 214.6;
    };
    std::ostringstream out;
    ListExport::write(Format::m3u8, pointers(files), QualityThreshold::kbps320, out, durations);
    const auto text = lines(out.str());
    ASSERT_EQ(text.size(), 1 + 2 * files.size());
    EXPECT_EQ(text[0], "#EXTM3U");
    EXPECT_EQ(text[1], "#EXTINF:215,Daft Punk - One More Time, \"Edit\"");
    EXPECT_EQ(text[3], "#EXTINF:215,DJ Ümlaut - Tōkyō Drift");
    EXPECT_EQ(text[5], "#EXTINF:215,Title with break");
    EXPECT_EQ(text[7], "#EXTINF:-1,no tags");
    EXPECT_EQ(text[9], "#EXTINF:215,Only Artist - broken, file");
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name());
        EXPECT_TRUE(text[1 + 2 * i].starts_with("#EXTINF:"));
        const fs::path location = playlistPath(text[2 + 2 * i]);
        EXPECT_TRUE(location.is_absolute());
        EXPECT_EQ(location, files[i].url());
        EXPECT_TRUE(fs::exists(location));
    }
    // Plain paths where a line can hold them.
    EXPECT_EQ(text[4], (m_folder / "Ünïcødé – 東京.mp3").string());
}

// A real encoded file: its tags as the reader finds them and its length from the stream.
TEST_F(ListExportTest, PlaylistTakesTagsAndLengthFromARealFile)
{
    fixtures::EncodeOptions options;
    options.container = fixtures::Container::Mp3;
    options.bitrateKbps = 128;
    fixtures::Id3Tags tags;
    tags.version = 3;
    tags.title = "Nachtzug, Teil 2";
    tags.artist = "Kräftwerk";
    options.id3 = tags;
    const fs::path path = m_folder / "stereo-44100-mp3-cbr128.mp3";
    ASSERT_EQ(fixtures::writeAudioFile(path, fixtures::makeTone(44100 * 7 + 4410, 44100, 2, 1), options), "");
    const AudioFile track(path);
    std::ostringstream out;
    const AudioFile* rows[] = { &track };
    ListExport::write(Format::m3u8, rows, QualityThreshold::kbps320, out);
    const auto text = lines(out.str());
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text[1], "#EXTINF:7,Kräftwerk - Nachtzug, Teil 2");
    EXPECT_EQ(text[2], path.string());
    EXPECT_FALSE(ListExport::streamDuration(m_folder / "missing.mp3"));
}

TEST_F(ListExportTest, WritesReplaceOnlyTheFileTheUserAgreedTo)
{
    const auto files = awkwardFiles();
    const fs::path target = m_folder / "list.m3u8";
    std::ofstream(target) << "theirs";
    const auto none = [](const fs::path&) -> std::optional<double> { return std::nullopt; };

    // Not agreed: the existing file stays.
    const Status refused = ListExport::writeFile(
        target, Format::m3u8, pointers(files), QualityThreshold::kbps320, std::nullopt, none);
    EXPECT_FALSE(refused);
    EXPECT_EQ(readText(target), "theirs");

    // Agreed to, then changed by someone else before the write: still kept.
    struct stat agreed { };
    ASSERT_EQ(::stat(target.c_str(), &agreed), 0);
    fs::rename(target, m_folder / "moved");
    std::ofstream(target) << "someone else's";
    EXPECT_FALSE(ListExport::writeFile(
        target, Format::m3u8, pointers(files), QualityThreshold::kbps320, agreed, none));
    EXPECT_EQ(readText(target), "someone else's");

    ASSERT_EQ(::stat(target.c_str(), &agreed), 0);
    ASSERT_TRUE(ListExport::writeFile(
        target, Format::m3u8, pointers(files), QualityThreshold::kbps320, agreed, none));
    EXPECT_TRUE(readText(target).starts_with("#EXTM3U\n"));
    // Nothing else left in the folder: the files, the moved one and the list.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()),
        static_cast<long>(files.size() + 2));
}

} // namespace
} // namespace sondrel::app
