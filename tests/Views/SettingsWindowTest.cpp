#include "SettingsWindow.h"

#include "AnalysisCache.h"
#include "AppSettings.h"

#include "LibraryFixture.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

namespace sondrel::ui {
namespace {

using test::waitUntil;

class SettingsWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_settingsFolder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsFolder.path());
    }

    SettingsWindow::CacheAccess cacheAccess()
    {
        return [this]() -> core::AnalysisCache& { return m_cache; };
    }

    static QString cacheText(SettingsWindow& window)
    {
        return window.findChild<QLabel*>(QStringLiteral("cacheCount"))->text();
    }

    QTemporaryDir m_settingsFolder;
    test::FixtureFolder m_folder;
    core::AnalysisCache m_cache { m_folder.path() / "analysis_cache.json" };
};

TEST_F(SettingsWindowTest, TheChosenThresholdIsStoredAtOnce)
{
    app::AppSettings settings;
    SettingsWindow window(settings, cacheAccess());
    auto* picker = window.findChild<QComboBox*>(QStringLiteral("threshold"));
    ASSERT_EQ(picker->count(), 8);
    EXPECT_EQ(picker->currentText(), "320 kbps");
    const int index = picker->findText(QStringLiteral("128 kbps"));
    picker->setCurrentIndex(index);
    emit picker->activated(index);
    EXPECT_EQ(settings.qualityThreshold(), app::QualityThreshold::kbps128);
    EXPECT_EQ(app::AppSettings().qualityThreshold(), app::QualityThreshold::kbps128);
}

// The window shows how many files are cached. "Clear Cache" asks first, defaults to Cancel, and
// names the manual verdicts it would drop; clearing empties the cache and the count follows.
TEST_F(SettingsWindowTest, ClearCacheAsksNamingTheOverridesItDropsThenEmptiesTheCache)
{
    const auto a = m_folder.path() / "Judged Track.mp3";
    const auto b = m_folder.path() / "b.mp3";
    std::ofstream(a) << "a";
    std::ofstream(b) << "b";
    m_cache.set(a, test::resultRated(core::QualityRating::poor));
    m_cache.set(b, test::resultRated(core::QualityRating::high));
    m_cache.setOverride(a, core::UserOverride { true, core::QualityRating::high, {} });
    app::AppSettings settings;
    SettingsWindow window(settings, cacheAccess());
    ASSERT_TRUE(waitUntil([&] { return cacheText(window) == "2 files cached"; }));

    window.findChild<QPushButton*>(QStringLiteral("clearCache"))->click();
    QMessageBox* question = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (question = window.findChild<QMessageBox*>()) != nullptr; }));
    EXPECT_TRUE(question->informativeText().contains("manual verdicts on 1 file"));
    EXPECT_TRUE(question->informativeText().contains("Judged Track.mp3"));
    ASSERT_TRUE(question->defaultButton());
    EXPECT_EQ(question->defaultButton()->text(), "Cancel");
    question->defaultButton()->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_cache.count(), 2u);
    EXPECT_TRUE(m_cache.getOverride(a));

    window.clearCache();
    EXPECT_TRUE(window.isClearing());
    ASSERT_TRUE(waitUntil([&] { return !window.isClearing(); }));
    EXPECT_EQ(window.cacheCount(), 0);
    EXPECT_EQ(cacheText(window), "0 files cached");
    EXPECT_EQ(m_cache.count(), 0u);

    EXPECT_EQ(SettingsWindow::clearCacheQuestion(3, {}),
        "The results of 3 analysed files are forgotten; the next scan analyses them again.");
}

} // namespace
} // namespace sondrel::ui
