#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace sondrel::ui {

class Spinner;

// Covers its parent while a library is being discovered: a spinner, "Loading Library", how
// many files were found, and once their records are being built a progress bar with
// "Reading metadata...". Follows the parent's size.
class LoadingOverlay : public QWidget {
    Q_OBJECT

public:
    explicit LoadingOverlay(QWidget* parent);

    void setState(int filesFound, double progress);

    [[nodiscard]] QString headline() const;
    [[nodiscard]] QString detail() const;
    // Empty while no progress bar shows.
    [[nodiscard]] QString caption() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_headline;
    QLabel* m_detail;
    QProgressBar* m_progress;
    QLabel* m_caption;
    Spinner* m_spinner;
};

} // namespace sondrel::ui
