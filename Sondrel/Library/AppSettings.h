#pragma once

#include "QualityThreshold.h"

#include <QObject>
#include <QSettings>

#include <atomic>

namespace sondrel::app {

// The user's settings, kept in QSettings under organisation and application "Sondrel" (on Linux
// ~/.config/Sondrel/Sondrel.conf unless QSettings::setPath() says otherwise).
//
// Lives on the GUI thread, where it is written and signals; qualityThreshold() may be read from
// any thread.
class AppSettings : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kQualityThresholdKey = "qualityThreshold";
    static constexpr QualityThreshold kDefaultQualityThreshold = QualityThreshold::kbps320;

    // Reads the stored threshold; a missing value, or one that is not one of the eight raw
    // values, gives kbps320. Writes nothing.
    explicit AppSettings(QObject* parent = nullptr);

    // The process-wide instance: created on first use, which must be on the GUI thread, and
    // kept until exit.
    [[nodiscard]] static AppSettings& shared();

    [[nodiscard]] QualityThreshold qualityThreshold() const noexcept { return m_qualityThreshold.load(); }
    // Stores the raw value under "qualityThreshold" at once, also when it did not change;
    // signals only a change.
    void setQualityThreshold(QualityThreshold threshold);

signals:
    void qualityThresholdChanged(sondrel::app::QualityThreshold threshold);

private:
    QSettings m_settings;
    std::atomic<QualityThreshold> m_qualityThreshold;
};

} // namespace sondrel::app
