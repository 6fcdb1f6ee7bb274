#include "BusyIndicator.h"

#include <QPainter>

namespace sondrel::ui {

namespace {
constexpr int kSpokes = 12;
}

BusyIndicator::BusyIndicator(int diameter, QWidget* parent)
    : QWidget(parent)
    , m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = m_diameter / 2.0;
    painter.translate(width() / 2.0, height() / 2.0);
    QColor colour = palette().color(QPalette::WindowText);
    for (int spoke = 0; spoke < kSpokes; ++spoke) {
        const int age = (m_step - spoke + kSpokes) % kSpokes;
        colour.setAlphaF(1.0f - 0.07f * static_cast<float>(age));
        painter.setPen(QPen(colour, std::max(1.5, radius / 5.0), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.92));
        painter.rotate(360.0 / kSpokes);
    }
}

void BusyIndicator::showEvent(QShowEvent*)
{
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent*)
{
    m_timer.stop();
}

} // namespace sondrel::ui
