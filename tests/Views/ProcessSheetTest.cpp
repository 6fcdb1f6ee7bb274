#include "ProcessSheet.h"

#include "LibraryFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>

namespace sondrel::ui {
namespace {

using core::QualityRating;
using test::resultRated;
using test::waitUntil;

class ProcessSheetTest : public test::LibraryFixture {
protected:
    static QCheckBox* box(ProcessSheet& sheet, const char* name)
    {
        return sheet.findChild<QCheckBox*>(QString::fromLatin1(name));
    }
    static QString text(ProcessSheet& sheet, const char* name)
    {
        auto* label = sheet.findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<none>");
    }
    static QStringList texts(ProcessSheet& sheet, const char* name)
    {
        QStringList list;
        for (auto* label : sheet.findChildren<QLabel*>(QString::fromLatin1(name)))
            list << label->text();
        return list;
    }
    static bool waitForResults(ProcessSheet& sheet)
    {
        return waitUntil([&] { return sheet.processingResults().has_value(); });
    }
    // Ticks "Rename failed files", goes on past the Rekordbox warning and waits for the results.
    static bool renameAfterTheWarning(ProcessSheet& sheet)
    {
        box(sheet, "rename")->setChecked(true);
        sheet.requestProcess();
        for (auto* button : sheet.findChild<QMessageBox*>()->buttons()) {
            if (button->text() == "Continue")
                button->click();
        }
        return waitForResults(sheet);
    }
};

TEST_F(ProcessSheetTest, WithoutAFailedFileOnlyUpdateMetadataCanBeTicked)
{
    makeFile("a.flac", resultRated(QualityRating::lossless));
    makeFile("b.mp3", resultRated(QualityRating::high));
    makeFile("broken.mp3");
    app::ScannerViewModel model(services());
    open(model);
    ProcessSheet sheet(model, std::nullopt, nullptr);

    EXPECT_EQ(text(sheet, "title"), "Process All Results");
    EXPECT_EQ(text(sheet, "summaryHeading"), "Scan Summary");
    const QString summary = text(sheet, "summary");
    EXPECT_TRUE(summary.contains("2 passed") && summary.contains("0 failed") && summary.contains("1 errors"))
        << summary.toStdString();
    EXPECT_EQ(text(sheet, "renameCaption"), "Append 'fake-{bitrate}' to 0 filenames");
    for (const char* name : { "rename", "move", "delete" })
        EXPECT_FALSE(box(sheet, name)->isEnabled()) << name;
    ASSERT_TRUE(box(sheet, "updateMetadata")->isEnabled());
    EXPECT_FALSE(sheet.canProcess());

    // Tags only: no warning, the run starts at once, and only non-zero counts are listed.
    box(sheet, "updateMetadata")->setChecked(true);
    sheet.requestProcess();
    EXPECT_FALSE(sheet.findChild<QMessageBox*>());
    ASSERT_TRUE(waitForResults(sheet));
    EXPECT_EQ(
        sheet.processingResults()->metadataUpdatedCount + sheet.processingResults()->metadataFailedCount, 2);
    EXPECT_FALSE(texts(sheet, "resultLine").join("|").contains("renamed"));
}

TEST_F(ProcessSheetTest, WithoutAnAnalysedFileEverySwitchIsDisabledAndTheScopeIsNamed)
{
    makeFile("a.mp3");
    makeFile("b.mp3");
    app::ScannerViewModel model(services());
    open(model, false);
    QSet<QUuid> scope;
    for (const auto& file : model.allFiles())
        scope.insert(file.id());
    ProcessSheet sheet(model, scope, nullptr);
    EXPECT_EQ(text(sheet, "title"), "Process 2 Selected");
    EXPECT_EQ(text(sheet, "summaryHeading"), "Selection Summary");
    EXPECT_FALSE(text(sheet, "summary").contains("errors"));
    for (const char* name : { "rename", "move", "delete", "updateMetadata" })
        EXPECT_FALSE(box(sheet, name)->isEnabled()) << name;
}

// The sheet counts what the run acts on, the files whose status failed by the chosen threshold,
// not the DJ Ready column's fixed standard: a medium file passing 128 kbps is not offered.
TEST_F(ProcessSheetTest, TheSheetCountsExactlyTheFilesTheRunActsOn)
{
    m_threshold = app::QualityThreshold::kbps128;
    makeFile("medium.mp3", resultRated(QualityRating::medium, 19500.0f));
    makeFile("poor.mp3", resultRated(QualityRating::poor, 15000.0f));
    makeFile("poor fake-128.mp3", resultRated(QualityRating::poor, 15000.0f));
    app::ScannerViewModel model(services());
    open(model);
    ProcessSheet sheet(model, std::nullopt, nullptr);
    EXPECT_EQ(sheet.counts().passed, 1);
    EXPECT_EQ(sheet.counts().failed, 2);
    EXPECT_EQ(text(sheet, "renameCaption"), "Append 'fake-{bitrate}' to 1 filenames");
    EXPECT_EQ(text(sheet, "moveCaption"), "Move 2 files to a folder");
    EXPECT_EQ(text(sheet, "deleteCaption"), "Move 2 files to Trash");

    box(sheet, "rename")->setChecked(true);
    sheet.requestProcess();
    auto* warning = sheet.findChild<QMessageBox*>(QStringLiteral("rekordboxWarning"));
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->windowTitle(), "This will break Rekordbox links");
    EXPECT_TRUE(
        warning->text().startsWith("Renaming, moving, or deleting files will break links in Rekordbox"));
    // Return answers the default button: Cancel, never the change.
    EXPECT_EQ(warning->defaultButton(), warning->button(QMessageBox::Cancel));
    warning->button(QMessageBox::Cancel)->click();
    EXPECT_FALSE(sheet.isProcessing());
    EXPECT_FALSE(sheet.processingResults());

    sheet.requestProcess();
    warning = sheet.findChild<QMessageBox*>(QStringLiteral("rekordboxWarning"));
    ASSERT_TRUE(warning);
    for (auto* button : warning->buttons()) {
        if (button->text() == "Continue")
            button->click();
    }
    EXPECT_TRUE(sheet.isProcessing());
    EXPECT_FALSE(sheet.canProcess());
    ASSERT_TRUE(waitForResults(sheet));
    EXPECT_EQ(sheet.processingResults()->renamedCount, 1);
    EXPECT_TRUE(std::filesystem::exists(m_library / "poor fake-320.mp3"));
    EXPECT_TRUE(std::filesystem::exists(m_library / "medium.mp3"));
}

// A failed file the user marked DJ ready is not offered, not touched, and listed as kept.
TEST_F(ProcessSheetTest, AFileMarkedDjReadyIsLeftOutOfTheCaptionsAndKept)
{
    makeFile("keep.mp3", resultRated(QualityRating::poor, 15000.0f));
    makeFile("low.mp3", resultRated(QualityRating::low, 15000.0f));
    app::ScannerViewModel model(services());
    open(model);
    const auto keep = *std::find_if(model.allFiles().begin(), model.allFiles().end(),
        [](const app::AudioFile& file) { return file.name() == "keep.mp3"; });
    model.setUserOverride(keep, true, QualityRating::high);
    ASSERT_TRUE(waitUntil([&] { return model.file(keep.id())->userOverride().has_value(); }));

    ProcessSheet sheet(model, std::nullopt, nullptr);
    EXPECT_EQ(sheet.counts().failed, 2);
    EXPECT_EQ(sheet.counts().kept, 1);
    EXPECT_EQ(text(sheet, "renameCaption"), "Append 'fake-{bitrate}' to 1 filenames");
    EXPECT_EQ(text(sheet, "kept"), "1 failed files marked DJ ready are kept as they are");
    ASSERT_TRUE(renameAfterTheWarning(sheet));
    EXPECT_EQ(text(sheet, "resultTitle"), "Processing Complete");
    EXPECT_EQ(texts(sheet, "resultLine"), QStringList { "1 files renamed" });
    EXPECT_EQ(text(sheet, "keptHeading"), "Kept: marked DJ ready");
    EXPECT_TRUE(std::filesystem::exists(m_library / "keep.mp3"));
    EXPECT_TRUE(std::filesystem::exists(m_library / "low fake-320.mp3"));
}

TEST_F(ProcessSheetTest, MoveAndTrashAreNeverBothOnAndMoveNeedsAFolder)
{
    makeFile("low.mp3", resultRated(QualityRating::low, 15000.0f));
    app::ScannerViewModel model(services());
    open(model);
    ProcessSheet sheet(model, std::nullopt, nullptr);

    box(sheet, "move")->setChecked(true);
    EXPECT_EQ(text(sheet, "destinationName"), "No folder selected");
    EXPECT_FALSE(sheet.canProcess());
    sheet.setMoveDestination(m_folder.path() / "rejects");
    EXPECT_EQ(text(sheet, "destinationName"), "rejects");
    EXPECT_TRUE(sheet.canProcess());

    box(sheet, "delete")->setChecked(true);
    EXPECT_FALSE(box(sheet, "move")->isChecked());
    EXPECT_FALSE(sheet.moveDestination());
    box(sheet, "move")->setChecked(true);
    EXPECT_FALSE(box(sheet, "delete")->isChecked());
    EXPECT_EQ(text(sheet, "destinationName"), "No folder selected");
    EXPECT_FALSE(sheet.canProcess());
    box(sheet, "move")->setChecked(false);
    EXPECT_FALSE(sheet.canProcess());
}

TEST_F(ProcessSheetTest, ResultsNameIssuesAndListErrorsOnlyWhenThereAreAny)
{
    app::ScannerViewModel model(services());
    {
        ProcessSheet sheet(model, std::nullopt, nullptr);
        sheet.showResults({});
        EXPECT_EQ(text(sheet, "resultTitle"), "Processing Complete");
        EXPECT_TRUE(texts(sheet, "resultLine").isEmpty());
        EXPECT_TRUE(sheet.findChild<QPushButton*>(QStringLiteral("done")));
    }
    {
        ProcessSheet sheet(model, std::nullopt, nullptr);
        app::ProcessingResults results;
        results.metadataUpdatedCount = 3;
        results.metadataFailedCount = 1;
        sheet.showResults(results);
        EXPECT_EQ(text(sheet, "resultTitle"), "Processing Complete with Issues");
        EXPECT_EQ(
            texts(sheet, "resultLine"), (QStringList { "3 files updated", "1 metadata updates failed" }));
        EXPECT_FALSE(sheet.findChild<QLabel*>(QStringLiteral("errorsHeading")));
    }
    {
        ProcessSheet sheet(model, std::nullopt, nullptr);
        app::ProcessingResults results;
        results.movedCount = 2;
        results.deletedCount = 1;
        results.errors = { "Move: a.mp3: No space left on device" };
        sheet.showResults(results);
        EXPECT_EQ(text(sheet, "resultTitle"), "Processing Complete with Issues");
        EXPECT_EQ(texts(sheet, "resultLine"), (QStringList { "2 files moved", "1 files moved to Trash" }));
        EXPECT_EQ(text(sheet, "errorsHeading"), "Errors");
        EXPECT_EQ(sheet.findChild<QPlainTextEdit*>(QStringLiteral("errorsList"))->toPlainText(),
            "Move: a.mp3: No space left on device");
    }
}

// A run over a big library can fail thousands of tag writes: the sheet stays on the screen with
// "Done" in reach, lists the first lines in a scrolling box and says how many more there are.
TEST_F(ProcessSheetTest, ALongListOfFailuresScrollsAndIsSummarised)
{
    app::ScannerViewModel model(services());
    ProcessSheet sheet(model, std::nullopt, nullptr);
    app::ProcessingResults results;
    results.errors = { "Rename: /Music/a.mp3: File exists" };
    for (int i = 0; i < 1925; ++i)
        results.metadataFailures.push_back("/Music/track " + std::to_string(i) + ".mp3: not an MP3 file");
    results.metadataFailedCount = 1925;
    QElapsedTimer timer;
    timer.start();
    sheet.showResults(results);
    sheet.adjustSize();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_LT(sheet.sizeHint().height(), 700);
    const QString listed = sheet.findChild<QPlainTextEdit*>(QStringLiteral("failuresList"))->toPlainText();
    EXPECT_TRUE(listed.startsWith("/Music/track 0.mp3: not an MP3 file"));
    EXPECT_TRUE(listed.endsWith("... and 1725 more")) << listed.right(40).toStdString();
    EXPECT_TRUE(sheet.findChild<QPushButton*>(QStringLiteral("done")));
}

} // namespace
} // namespace sondrel::ui
