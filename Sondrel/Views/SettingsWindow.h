#pragma once

#include <QDialog>

#include <filesystem>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace sondrel::core {
class AnalysisCache;
}
namespace sondrel::app {
class AppSettings;
}

namespace sondrel::ui {

class BusyIndicator;

// The Settings window: the quality threshold (stored at once through AppSettings) and the
// analysis cache's entry count with "Clear Cache". The cache is reached only on a worker thread,
// so opening the window never waits for the cache file to load.
class SettingsWindow : public QDialog {
    Q_OBJECT

public:
    // Called on a worker thread; the first call may load the cache from disk.
    using CacheAccess = std::function<core::AnalysisCache&()>;

    // The shared settings and the shared analysis cache.
    explicit SettingsWindow(QWidget* parent = nullptr);
    SettingsWindow(app::AppSettings& settings, CacheAccess cache, QWidget* parent = nullptr);

    [[nodiscard]] int cacheCount() const noexcept { return m_cacheCount; }
    [[nodiscard]] bool isClearing() const noexcept { return m_isClearing; }

    // "Clear Cache": asks first, naming the manual overrides that go with the results.
    void confirmClearCache();
    // Empties the cache off this thread, then reads the count again.
    void clearCache();

    // The question's text: what goes, and the files whose overrides go (the first few named).
    [[nodiscard]] static QString clearCacheQuestion(int cached, const std::vector<std::filesystem::path>& overridden);

private:
    void readCacheCount();
    void setCacheCount(int count);
    void setClearing(bool clearing);
    void askToClear(const std::vector<std::filesystem::path>& overridden);

    app::AppSettings& m_settings;
    CacheAccess m_cache;
    int m_cacheCount = 0;
    bool m_isClearing = false;

    QComboBox* m_threshold = nullptr;
    QLabel* m_cacheText = nullptr;
    QPushButton* m_clear = nullptr;
    BusyIndicator* m_clearing = nullptr;
};

} // namespace sondrel::ui
