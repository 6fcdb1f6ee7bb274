#pragma once

#include <QTimer>
#include <QWidget>

namespace sondrel::ui {

// A small spinning indicator: twelve spokes, the brightest one turning while it is shown.
class BusyIndicator : public QWidget {
    Q_OBJECT

public:
    explicit BusyIndicator(int diameter, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override { return { m_diameter, m_diameter }; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const int m_diameter;
    int m_step = 0;
    QTimer m_timer;
};

} // namespace sondrel::ui
