#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace sondrel::app {
class ScannerViewModel;
}

namespace sondrel::ui {

// The line under the table: the view model's status message, the scan's progress while a scan
// runs, the counts of the visible files, and the buttons that process the selection or every
// visible file.
class StatusBar : public QWidget {
    Q_OBJECT

public:
    // The statuses of the files the table shows.
    struct VisibleCounts {
        int passed = 0;
        int failed = 0;
        int error = 0;
        int analysed() const noexcept { return passed + failed + error; }
    };

    // Both process buttons: at least one visible file analysed, and neither a scan nor a
    // discovery running.
    [[nodiscard]] static bool processEnabled(const VisibleCounts& visible, bool isScanning, bool isDiscovering) noexcept;

    explicit StatusBar(app::ScannerViewModel& viewModel, QWidget* parent = nullptr);

    void setVisibleCounts(const VisibleCounts& counts);
    void setSelectedCount(int count);
    // Says what an action did, in place of the status message for a few seconds.
    void showNotice(const QString& notice);
    static constexpr int kNoticeMilliseconds = 6000;

    // For tests and screenshots: what is shown.
    [[nodiscard]] QString message() const;
    [[nodiscard]] QPushButton* processSelectedButton() const { return m_processSelected; }
    [[nodiscard]] QPushButton* processAllButton() const { return m_processAll; }
    [[nodiscard]] bool isProgressShown() const;

signals:
    void processSelected();
    void processVisible();

private:
    void refresh();

    app::ScannerViewModel& m_viewModel;
    VisibleCounts m_visible;
    int m_selected = 0;
    QString m_notice;
    QTimer m_noticeTimer;
    QLabel* m_message;
    QProgressBar* m_progress;
    QLabel* m_percent;
    QLabel* m_passedIcon;
    QLabel* m_passed;
    QLabel* m_failedIcon;
    QLabel* m_failed;
    QLabel* m_errorIcon;
    QLabel* m_error;
    QPushButton* m_processSelected;
    QPushButton* m_processAll;
};

} // namespace sondrel::ui
