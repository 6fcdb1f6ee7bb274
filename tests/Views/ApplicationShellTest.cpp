#include "ApplicationShell.h"

#include "../SondrelCore/FixtureFolder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fstream>

namespace sondrel::ui::shell {
namespace {

DiagnosticFacts facts()
{
    DiagnosticFacts facts;
    facts.generated = QDateTime(QDate(2026, 3, 1), QTime(9, 5));
    facts.version = QStringLiteral("0.1.0");
    facts.build = QStringLiteral("42");
    facts.operatingSystem = QStringLiteral("Debian GNU/Linux 12 (bookworm), kernel 6.1.0");
    facts.processorCount = 8;
    facts.physicalMemory = 17179869184ULL;
    facts.cachedFiles = 0;
    return facts;
}

TEST(DiagnosticReportTest, HasTheReportsLinesInOrderWithoutAFinalLineBreak)
{
    const QString report = diagnosticReport(facts());
    EXPECT_FALSE(report.endsWith('\n'));
    const QStringList lines = report.split('\n');
    ASSERT_EQ(lines.size(), 20);
    EXPECT_EQ(lines[0], "Sondrel Diagnostic Report");
    EXPECT_TRUE(lines[1].startsWith("Generated: "));
    EXPECT_EQ(lines[5], "Version: 0.1.0 (42)");
    EXPECT_EQ(lines[6], "OS: Debian GNU/Linux 12 (bookworm), kernel 6.1.0");
    EXPECT_EQ(lines[10], "Processor: 8 cores");
    EXPECT_EQ(lines[11], "Memory: 16 GB");
    EXPECT_EQ(lines[15], "Cached files: 0");
    EXPECT_EQ(lines[17], "Recent Logs");
    EXPECT_TRUE(lines[19].contains("journalctl"));
    EXPECT_TRUE(lines[19].endsWith("filter by \"org.sondrel.Sondrel\")"));
    for (int blank : { 2, 7, 12, 16 })
        EXPECT_TRUE(lines[blank].isEmpty()) << blank;
}

TEST(DiagnosticReportTest, MemoryIsRoundedDownToWholeGigabytesAndMissingVersionsAreUnknown)
{
    DiagnosticFacts below = facts();
    below.physicalMemory = 17179869183ULL;
    EXPECT_EQ(diagnosticReport(below).split('\n')[11], "Memory: 15 GB");

    DiagnosticFacts unknown = facts();
    unknown.build.reset();
    EXPECT_EQ(diagnosticReport(unknown).split('\n')[5], "Version: 0.1.0 (Unknown)");
    unknown.version.reset();
    EXPECT_EQ(diagnosticReport(unknown).split('\n')[5], "Version: Unknown (Unknown)");
}

// The icon comes from the build's resources through the SVG plugin: both must be there.
TEST(ApplicationIconTest, DrawsFromTheBuildsOwnResources)
{
    EXPECT_FALSE(applicationIcon().pixmap(64, 64).isNull());
}

TEST(ProblemReportTest, SubjectAndBodyArePercentEncodedQueryText)
{
    EXPECT_EQ(problemReportLink(QStringLiteral("0.1.0"), QStringLiteral("Debian GNU/Linux 12 (bookworm)")),
        "mailto:support@sondrel.org?subject=Sondrel%20Feedback%20(v0.1.0)"
        "&body=%0A%0A---%0AApp%20Version:%200.1.0%0AOS:%20Debian%20GNU/Linux%2012%20(bookworm)");
    // Nothing in the texts may end a field of the link.
    const QByteArray odd = problemReportLink(std::nullopt, QStringLiteral("A&B=C+D#E"));
    EXPECT_TRUE(odd.contains("subject=Sondrel%20Feedback%20(vUnknown)&body="));
    EXPECT_TRUE(odd.endsWith("OS:%20A%26B%3DC%2BD%23E"));
}

TEST(ProblemReportTest, TheReportReplacesAFileWhole)
{
    test::FixtureFolder folder;
    const auto target = folder.path() / "Sondrel-Diagnostics.txt";
    std::ofstream(target) << "an older, longer report than the new one";
    EXPECT_EQ(writeReport(target, QStringLiteral("Sondrel Diagnostic Report")), QString());
    QFile file(QString::fromStdString(target.string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "Sondrel Diagnostic Report");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);

    std::ofstream(folder.path() / "not-a-folder") << "x";
    EXPECT_FALSE(writeReport(folder.path() / "not-a-folder" / "report.txt", QStringLiteral("x")).isEmpty());
}

} // namespace
} // namespace sondrel::ui::shell
