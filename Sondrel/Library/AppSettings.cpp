#include "AppSettings.h"

#include <QString>
#include <QVariant>

namespace sondrel::app {

namespace {

[[nodiscard]] QualityThreshold storedThreshold(const QSettings& settings)
{
    bool isNumber = false;
    const int raw = settings.value(AppSettings::kQualityThresholdKey).toInt(&isNumber);
    return qualityThresholdFromRawValue(isNumber ? raw : 0).value_or(AppSettings::kDefaultQualityThreshold);
}

} // namespace

AppSettings::AppSettings(QObject* parent)
    : QObject(parent)
    , m_settings(QStringLiteral("Sondrel"), QStringLiteral("Sondrel"))
    , m_qualityThreshold(storedThreshold(m_settings))
{
}

AppSettings& AppSettings::shared()
{
    // Never destroyed, so nothing of it runs after the application object is gone.
    static auto* const instance = new AppSettings();
    return *instance;
}

void AppSettings::setQualityThreshold(QualityThreshold threshold)
{
    const QualityThreshold old = m_qualityThreshold.exchange(threshold);
    m_settings.setValue(kQualityThresholdKey, rawValue(threshold));
    // One small file, written on every change so that a crash cannot lose the choice.
    m_settings.sync();
    if (old != threshold)
        emit qualityThresholdChanged(threshold);
}

} // namespace sondrel::app
