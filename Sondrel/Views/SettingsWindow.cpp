#include "SettingsWindow.h"

#include "AnalysisCache.h"
#include "AppSettings.h"
#include "Background.h"
#include "BusyIndicator.h"
#include "ViewStyle.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace sondrel::ui {

namespace {

QWidget* sectionHeader(Symbol symbol, const QString& title)
{
    auto* header = new QWidget;
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeSymbolLabel(symbol, 16));
    layout->addWidget(makeLabel(title, TextStyle::headline), 1);
    return header;
}

} // namespace

SettingsWindow::SettingsWindow(QWidget* parent)
    : SettingsWindow(
        app::AppSettings::shared(), []() -> core::AnalysisCache& { return core::AnalysisCache::shared(); },
        parent)
{
}

SettingsWindow::SettingsWindow(app::AppSettings& settings, CacheAccess cache, QWidget* parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_cache(std::move(cache))
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(450, 220);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(6);

    layout->addWidget(sectionHeader(Symbol::waveform, QStringLiteral("Quality Threshold")));
    auto* pickerRow = new QHBoxLayout;
    pickerRow->addWidget(new QLabel(QStringLiteral("Minimum acceptable quality")), 1);
    m_threshold = new QComboBox;
    m_threshold->setObjectName(QStringLiteral("threshold"));
    for (const app::QualityThreshold threshold : app::kAllQualityThresholds)
        m_threshold->addItem(QString::fromStdString(app::label(threshold)), app::rawValue(threshold));
    m_threshold->setCurrentIndex(m_threshold->findData(app::rawValue(m_settings.qualityThreshold())));
    pickerRow->addWidget(m_threshold);
    layout->addLayout(pickerRow);
    layout->addWidget(
        makeLabel(QStringLiteral("Files below this bitrate will be marked as failed during scans."),
            TextStyle::caption, secondaryText()));
    layout->addSpacing(12);

    layout->addWidget(sectionHeader(Symbol::internaldrive, QStringLiteral("Storage")));
    auto* cacheRow = new QHBoxLayout;
    cacheRow->addWidget(new QLabel(QStringLiteral("Scan Cache")));
    cacheRow->addStretch(1);
    m_cacheText = makeLabel({}, TextStyle::body, secondaryText());
    m_cacheText->setObjectName(QStringLiteral("cacheCount"));
    cacheRow->addWidget(m_cacheText);
    m_clear = new QPushButton(QStringLiteral("Clear Cache"));
    m_clear->setObjectName(QStringLiteral("clearCache"));
    m_clear->setAutoDefault(false);
    m_clearing = new BusyIndicator(static_cast<int>(m_clear->sizeHint().height() * 0.7));
    m_clearing->hide();
    cacheRow->addWidget(m_clear);
    cacheRow->addWidget(m_clearing);
    layout->addLayout(cacheRow);
    layout->addStretch(1);

    connect(m_threshold, &QComboBox::activated, this, [this](int index) {
        const auto threshold = app::qualityThresholdFromRawValue(m_threshold->itemData(index).toInt());
        if (threshold)
            m_settings.setQualityThreshold(*threshold);
    });
    connect(&m_settings, &app::AppSettings::qualityThresholdChanged, this,
        [this](app::QualityThreshold threshold) {
            m_threshold->setCurrentIndex(m_threshold->findData(app::rawValue(threshold)));
        });
    connect(m_clear, &QPushButton::clicked, this, &SettingsWindow::confirmClearCache);

    readCacheCount();
}

void SettingsWindow::readCacheCount()
{
    CacheAccess cache = m_cache;
    runInBackground(
        this, [cache] { return static_cast<int>(cache().count()); },
        [this](int count) { setCacheCount(count); });
}

void SettingsWindow::setCacheCount(int count)
{
    m_cacheCount = count;
    m_cacheText->setText(QString::number(count) + QStringLiteral(" files cached"));
}

void SettingsWindow::setClearing(bool clearing)
{
    m_isClearing = clearing;
    m_clear->setVisible(!clearing);
    m_clearing->setVisible(clearing);
}

QString SettingsWindow::clearCacheQuestion(int cached, const std::vector<std::filesystem::path>& overridden)
{
    constexpr std::size_t kNamed = 10;
    QString text = QStringLiteral("The results of %1 analysed files are forgotten; the next scan analyses them again.")
                       .arg(cached);
    if (overridden.empty())
        return text;
    text += QStringLiteral("\n\nYour manual verdicts on %1 %2 are dropped as well:")
                .arg(overridden.size())
                .arg(overridden.size() == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    for (std::size_t i = 0; i < std::min(overridden.size(), kNamed); ++i)
        text += QStringLiteral("\n") + QString::fromStdString(overridden[i].filename().string());
    if (overridden.size() > kNamed)
        text += QStringLiteral("\n... and %1 more").arg(overridden.size() - kNamed);
    return text;
}

void SettingsWindow::confirmClearCache()
{
    if (m_isClearing)
        return;
    CacheAccess cache = m_cache;
    runInBackground(
        this, [cache] { return cache().overriddenFiles(); },
        [this](const std::vector<std::filesystem::path>& overridden) { askToClear(overridden); });
}

void SettingsWindow::askToClear(const std::vector<std::filesystem::path>& overridden)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Clear the scan cache?"),
        QStringLiteral("Clear the scan cache?"), QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("clearCacheQuestion"));
    box->setInformativeText(clearCacheQuestion(m_cacheCount, overridden));
    QPushButton* clear = box->addButton(QStringLiteral("Clear Cache"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(clear, &QPushButton::clicked, this, &SettingsWindow::clearCache);
    box->open();
}

void SettingsWindow::clearCache()
{
    if (m_isClearing)
        return;
    setClearing(true);
    CacheAccess cache = m_cache;
    runInBackground(
        this,
        [cache] {
            core::AnalysisCache& shared = cache();
            shared.clear();
            return static_cast<int>(shared.count());
        },
        [this](int count) {
            setCacheCount(count);
            setClearing(false);
        });
}

} // namespace sondrel::ui
