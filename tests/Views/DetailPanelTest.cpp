#include "../EventLoop.h"
#include "DetailPanel.h"

#include "AudioIo.h"
#include "CoverArt.h"
#include "FileListRules.h"
#include "FileTableModel.h"
#include "SondrelCore/FixtureFolder.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

#include <functional>

#include <gtest/gtest.h>

using namespace sondrel;
using app::AudioFile;
using core::AnalysisResult;
using core::AudioFormat;
using core::QualityRating;
using ui::DetailPanel;
using ui::Symbol;

namespace {

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000)
{
    return test::waitUntil(condition, milliseconds);
}

AudioFile record(AudioFormat format, std::optional<std::int64_t> claimed = {})
{
    core::ID3Parser::Metadata tags;
    tags.title = "Track";
    tags.bitrate = claimed;
    return AudioFile("/music/track." + std::string(core::rawValue(format)), format, 4'200'000, tags);
}

AudioFile analysed(std::int64_t clipped, std::int64_t total = 10000, float peak = 1.0f)
{
    AudioFile file = record(AudioFormat::mp3, 320);
    file.setResult(AnalysisResult { 16000.0f, 128, QualityRating::poor, 0.8f, { clipped, total, peak } });
    file.setStatus(app::ScanStatus::failed());
    return file;
}

std::vector<QString> labels(const std::vector<DetailPanel::Row>& rows)
{
    std::vector<QString> result;
    for (const auto& row : rows)
        result.push_back(row.label);
    return result;
}

const DetailPanel::Row* find(const std::vector<DetailPanel::Row>& rows, const QString& label)
{
    for (const auto& row : rows)
        if (row.label == label)
            return &row;
    return nullptr;
}

std::vector<std::uint8_t> jpegBytes()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return { bytes.begin(), bytes.end() };
}

} // namespace

TEST(DetailPanelTest, RowsWithoutResultShowOnlyTheFileFacts)
{
    EXPECT_EQ(labels(DetailPanel::rows(record(AudioFormat::mp3, 320))),
        (std::vector<QString> { "Format", "File Size", "Tagged Bitrate" }));
    const auto flac = DetailPanel::rows(record(AudioFormat::flac));
    EXPECT_EQ(labels(flac), (std::vector<QString> { "Format", "File Size" }));
    EXPECT_EQ(flac[0].value, "FLAC");
    EXPECT_EQ(flac[1].value, "4.2 MB");
}

TEST(DetailPanelTest, RowsWithResultShowTheVerdict)
{
    const auto rows = DetailPanel::rows(analysed(0));
    EXPECT_EQ(labels(rows),
        (std::vector<QString> { "Format", "File Size", "Tagged Bitrate", "Detected Bitrate", "Frequency Cutoff",
            "Quality Rating", "Clipping", "Peak Level", "DJ Ready" }));
    EXPECT_EQ(find(rows, "Tagged Bitrate")->value, "320 kbps");
    EXPECT_EQ(find(rows, "Detected Bitrate")->value, "128 kbps");
    EXPECT_EQ(find(rows, "Frequency Cutoff")->value, "16.0 kHz");
    EXPECT_EQ(find(rows, "Quality Rating")->value, "128kbps");
    EXPECT_EQ(find(rows, "DJ Ready")->symbols, (decltype(DetailPanel::Row::symbols) { { Symbol::xmarkCircleFill, ui::palette::red } }));
}

TEST(DetailPanelTest, BrickWallEvidenceExplainsTheVerdict)
{
    AudioFile file = analysed(0);
    AnalysisResult result = *file.result();
    result.lossyEvidence = core::LossyEvidence { 16900.0f, 13.2f, 200.0f };
    file.setResult(result);
    const auto rows = DetailPanel::rows(file);
    const auto* verdict = find(rows, "Verdict");
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(verdict->value, QString::fromUtf8("Brick-wall cutoff at 16.9 kHz (\u221213 dB in 200 Hz): made from a lossy source"));

    result.lossyEvidence.reset();
    result.encoderPruning = core::EncoderPruning { 20500.0f, 21300.0f };
    file.setResult(result);
    EXPECT_EQ(find(DetailPanel::rows(file), "Verdict")->value,
        "Quiet highs dropped by its own encoder; its loudest moments reach 21.3 kHz");
}

TEST(DetailPanelTest, ALongVerdictWrapsAndEveryValueStaysInSight)
{
    app::ScannerViewModel::Services services;
    services.threshold = [] { return app::QualityThreshold::kbps320; };
    app::ScannerViewModel model(services);
    AudioFile file = analysed(0);
    AnalysisResult result = *file.result();
    result.lossyEvidence = core::LossyEvidence { 17300.0f, 55.0f, 400.0f };
    file.setResult(result);
    DetailPanel panel(model);
    panel.resize(320, 900);
    panel.show();
    panel.setFile(file);
    QApplication::processEvents();

    // The rows scroll only up and down: what lies right of the visible part is never seen.
    const auto* scroll = panel.findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    const QWidget* viewport = scroll->viewport();
    int values = 0;
    for (const QLabel* label : scroll->widget()->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty())
            continue;
        const QRect seen(label->mapTo(viewport, QPoint(0, 0)), label->size());
        EXPECT_LE(seen.right(), viewport->width()) << label->text().toStdString();
        // And the whole text is in the label: on lines of its width, or on one line it has room for.
        const bool whole = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                             : label->width() >= label->sizeHint().width();
        EXPECT_TRUE(whole) << label->text().toStdString();
        ++values;
    }
    EXPECT_GT(values, 8);
}

TEST(DetailPanelTest, EncoderRowNamesTheLameTagsEncoderAndLowPass)
{
    AudioFile file = analysed(0);
    EXPECT_EQ(find(DetailPanel::rows(file), "Encoder"), nullptr);
    AnalysisResult result = *file.result();
    result.encoder = "LAME3.100";
    result.encoderLowpass = 19500;
    file.setResult(result);
    const auto rows = DetailPanel::rows(file);
    const auto* encoder = find(rows, "Encoder");
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(encoder->value, "LAME3.100, lowpass 19.5 kHz");
}

TEST(DetailPanelTest, ClippingRowFollowsTheSeverityBands)
{
    struct Case {
        std::int64_t clipped;
        QString name;
        Symbol symbol;
        QColor colour;
    };
    for (const Case& c : { Case { 0, "None", Symbol::checkmarkCircleFill, ui::palette::green },
             Case { 1, "Mild", Symbol::exclamationmarkCircleFill, ui::palette::yellow }, // 1 in 100000
             Case { 10, "Moderate", Symbol::exclamationmarkCircleFill, ui::palette::orange }, // exactly 0.0001
             Case { 100, "Severe", Symbol::xmarkCircleFill, ui::palette::red } }) { // exactly 0.001
        const auto rows = DetailPanel::rows(analysed(c.clipped, 100000));
        const auto* clipping = find(rows, "Clipping");
        ASSERT_NE(clipping, nullptr);
        EXPECT_EQ(clipping->value, c.name);
        EXPECT_EQ(clipping->symbols, (decltype(clipping->symbols) { { c.symbol, c.colour } })) << c.name.toStdString();
        const auto* count = find(rows, "Clipped Samples");
        if (c.clipped == 0)
            EXPECT_EQ(count, nullptr);
        else
            EXPECT_EQ(count->value, QString::number(c.clipped));
    }
}

TEST(DetailPanelTest, PeakLevelInDecibels)
{
    EXPECT_EQ(DetailPanel::peakLevelText(1.0f), "0.0 dB");
    EXPECT_EQ(DetailPanel::peakLevelText(0.5f), "-6.0 dB");
    EXPECT_EQ(DetailPanel::peakLevelText(0.0f), "-inf dB");
    EXPECT_EQ(DetailPanel::peakLevelText(-0.5f), "-inf dB");
    EXPECT_EQ(find(DetailPanel::rows(analysed(0, 10000, 0.5f)), "Peak Level")->value, "-6.0 dB");
}

TEST(DetailPanelTest, OverrideApplyAndClearRedrawFromTheNewRecord)
{
    app::ScannerViewModel::Services services;
    services.threshold = [] { return app::QualityThreshold::kbps320; };
    app::ScannerViewModel model(services);
    const AudioFile file = analysed(0);
    model.filesStore().addFiles({ file });
    model.syncFromStore();
    DetailPanel panel(model);
    panel.setFile(file);
    ui::FileTableModel table(model);
    const auto tableCell = [&](int role) {
        return table.index(0, ui::FileTableModel::djReady).data(role);
    };
    ASSERT_EQ(table.rowCount(), 1);
    EXPECT_EQ(tableCell(ui::FileTableModel::SymbolsRole).toList().size(), 1);

    auto* djReady = panel.findChild<QCheckBox*>();
    ASSERT_NE(djReady, nullptr);
    EXPECT_FALSE(djReady->isChecked()); // the result fails
    djReady->setChecked(true);
    QPushButton* apply = nullptr;
    QPushButton* clear = nullptr;
    for (auto* button : panel.findChildren<QPushButton*>()) {
        if (button->text() == "Apply Override")
            apply = button;
        if (button->text() == "Clear")
            clear = button;
    }
    ASSERT_TRUE(apply && clear);
    apply->click();
    ASSERT_TRUE(waitUntil([&] { return panel.file()->userOverride().has_value(); }));

    // The panel and the table's icon read the same new record: pencil, then the green check.
    const auto stored = model.filesStore().file(file.id());
    EXPECT_EQ(stored->userOverride()->djReady, true);
    const auto verdict = app::FileListRules::djReadyVerdict(model.allFiles().front());
    EXPECT_EQ(verdict.state, app::FileListRules::DJReadyVerdict::State::ready);
    EXPECT_TRUE(verdict.hasOverride);
    EXPECT_EQ(find(DetailPanel::rows(*panel.file()), "DJ Ready")->symbols,
        (decltype(DetailPanel::Row::symbols) {
            { Symbol::pencilCircleFill, ui::palette::blue }, { Symbol::checkmarkCircleFill, ui::palette::green } }));
    ASSERT_TRUE(waitUntil([&] { return tableCell(ui::FileTableModel::SymbolsRole).toList().size() == 2; }));
    EXPECT_EQ(tableCell(Qt::ToolTipRole).toString(), "Manually marked as DJ ready");
    EXPECT_FALSE(clear->isHidden());
    // The verdict itself stands.
    EXPECT_EQ(model.allFiles().front().status().kind(), app::ScanStatus::Kind::failed);

    clear->click();
    ASSERT_TRUE(waitUntil([&] { return !panel.file()->userOverride().has_value(); }));
    EXPECT_FALSE(model.filesStore().file(file.id())->userOverride());
    ASSERT_TRUE(waitUntil([&] { return tableCell(ui::FileTableModel::SymbolsRole).toList().size() == 1; }));
    EXPECT_TRUE(clear->isHidden());
    EXPECT_FALSE(djReady->isChecked()); // the controls return to the result's values
}

TEST(DetailPanelTest, ArtworkFromAttachedPictures)
{
    using namespace fixtures;
    test::FixtureFolder folder;
    const Signal tone = makeTone(44100, 44100, 2, 1);
    const auto jpeg = jpegBytes();

    EncodeOptions mp3 { Container::Mp3, SampleFormat::S16, 128, Id3Tags {} };
    mp3.id3->title = "Cover";
    mp3.id3->attachedPictureBytes = jpeg;
    ASSERT_EQ(writeAudioFile(folder / "cover.mp3", tone, mp3), "");
    ASSERT_EQ(writeAudioFile(folder / "plain.m4a", tone, { Container::M4a, SampleFormat::S16, 128, {} }), "");
    ASSERT_EQ(writeWithCoverArt(folder / "plain.m4a", folder / "cover.m4a", jpeg, 64, 48), "");
    ASSERT_EQ(writeAudioFile(folder / "plain.wav", tone, { Container::Wav, SampleFormat::S16, 0, {} }), "");

    EXPECT_EQ(DetailPanel::loadArtwork(folder / "cover.m4a").size(), QSize(64, 48));
    EXPECT_TRUE(DetailPanel::loadArtwork(folder / "plain.wav").isNull());
    EXPECT_TRUE(DetailPanel::loadArtwork(folder / "missing.mp3").isNull());

    // Through the panel, off the GUI thread.
    app::ScannerViewModel model(app::ScannerViewModel::Services {});
    DetailPanel panel(model);
    bool loaded = false;
    QObject::connect(&panel, &DetailPanel::artworkLoaded, [&] { loaded = true; });
    panel.setFile(AudioFile(folder / "cover.mp3"));
    ASSERT_TRUE(waitUntil([&] { return loaded; }));
    EXPECT_TRUE(panel.showsArtwork());
    loaded = false;
    panel.setFile(AudioFile(folder / "plain.wav"));
    ASSERT_TRUE(waitUntil([&] { return loaded; }));
    EXPECT_FALSE(panel.showsArtwork());
}
