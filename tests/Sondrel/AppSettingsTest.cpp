#include "AppSettings.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace sondrel::app {
namespace {

TEST(QualityThresholdTest, EightRisingBitratesWithRisingCutoffs)
{
    EXPECT_EQ(minimumCutoffFrequency(QualityThreshold::kbps64), 11000.0f);
    EXPECT_EQ(minimumCutoffFrequency(QualityThreshold::kbps128), 15500.0f);
    EXPECT_EQ(minimumCutoffFrequency(QualityThreshold::kbps320), 20000.0f);
    for (std::size_t i = 1; i < kAllQualityThresholds.size(); ++i) {
        EXPECT_GT(rawValue(kAllQualityThresholds[i]), rawValue(kAllQualityThresholds[i - 1]));
        EXPECT_GT(minimumCutoffFrequency(kAllQualityThresholds[i]),
            minimumCutoffFrequency(kAllQualityThresholds[i - 1]));
    }
    for (const QualityThreshold threshold : kAllQualityThresholds)
        EXPECT_EQ(qualityThresholdFromRawValue(rawValue(threshold)), threshold);
    for (const int raw : { 0, -64, 65, 100, 288, 321 })
        EXPECT_FALSE(qualityThresholdFromRawValue(raw)) << raw;
    EXPECT_EQ(label(QualityThreshold::kbps96), "96 kbps");
}

// Every test gets its own settings folder; the user's real settings are never touched.
class AppSettingsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_folder.path());
        m_file = m_folder.filePath("Sondrel/Sondrel.conf");
        ASSERT_EQ(settingsFile(), m_file);
    }

    // Back to where QSettings looks by default, so later tests do not write into a removed folder.
    void TearDown() override
    {
        const QString standard = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, standard);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, standard);
    }

    [[nodiscard]] static QString settingsFile() { return QSettings("Sondrel", "Sondrel").fileName(); }

    static void store(const QVariant& value)
    {
        QSettings settings("Sondrel", "Sondrel");
        settings.setValue("qualityThreshold", value);
        settings.sync();
    }

    // The line in the file itself. Not through QSettings: opening one writes out what other
    // settings objects of the same file still hold in memory.
    [[nodiscard]] QString storedOnDisk() const
    {
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("qualityThreshold="))
                return QString::fromUtf8(line);
        }
        return {};
    }

    QTemporaryDir m_folder;
    QString m_file;
};

TEST_F(AppSettingsTest, NoStoredValueGives320AndWritesNothing)
{
    const AppSettings settings;
    EXPECT_EQ(settings.qualityThreshold(), QualityThreshold::kbps320);
    EXPECT_FALSE(QFile::exists(m_file));
}

TEST_F(AppSettingsTest, AStoredThresholdIsReadBackAndAnyOtherValueGives320)
{
    const std::vector<std::pair<QVariant, QualityThreshold>> cases = {
        { 192, QualityThreshold::kbps192 },
        { 64, QualityThreshold::kbps64 },
        { QString("128"), QualityThreshold::kbps128 },
        { 288, QualityThreshold::kbps320 },
        { 0, QualityThreshold::kbps320 },
        { QString("abc"), QualityThreshold::kbps320 },
        { QString("192.5"), QualityThreshold::kbps320 },
    };
    for (const auto& [stored, expected] : cases) {
        SCOPED_TRACE(stored.toString().toStdString());
        store(stored);
        EXPECT_EQ(AppSettings().qualityThreshold(), expected);
    }
}

TEST_F(AppSettingsTest, EveryWriteIsStoredAtOnceButOnlyAChangeIsSignalled)
{
    AppSettings settings;
    std::vector<QualityThreshold> signalled;
    QObject::connect(&settings, &AppSettings::qualityThresholdChanged,
        [&](QualityThreshold threshold) { signalled.push_back(threshold); });

    settings.setQualityThreshold(QualityThreshold::kbps128);
    EXPECT_EQ(settings.qualityThreshold(), QualityThreshold::kbps128);
    EXPECT_EQ(storedOnDisk(), "qualityThreshold=128");

    // Written again although unchanged: a value changed behind its back is overwritten.
    store(999);
    ASSERT_EQ(storedOnDisk(), "qualityThreshold=999");
    settings.setQualityThreshold(QualityThreshold::kbps128);
    EXPECT_EQ(storedOnDisk(), "qualityThreshold=128");

    settings.setQualityThreshold(QualityThreshold::kbps256);
    EXPECT_EQ(
        signalled, (std::vector<QualityThreshold> { QualityThreshold::kbps128, QualityThreshold::kbps256 }));
    EXPECT_EQ(AppSettings().qualityThreshold(), QualityThreshold::kbps256);
}

} // namespace
} // namespace sondrel::app
