#include "LoadingOverlay.h"

#include "ViewStyle.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <numbers>

namespace sondrel::ui {

// An indeterminate spinner: twelve spokes, the brightest one going round.
class Spinner : public QWidget {
public:
    explicit Spinner(int side, QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(side, side);
        m_timer.setInterval(80);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 12;
            update();
        });
        m_timer.start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const double radius = width() / 2.0;
        QColor color = palette().color(QPalette::WindowText);
        for (int i = 0; i < 12; ++i) {
            // The spoke at the current step is brightest; the ones behind it fade out.
            const int behind = (12 + m_step - i) % 12;
            color.setAlphaF(static_cast<float>(1.0 - 0.8 * behind / 11.0));
            painter.setPen(QPen(color, radius / 5.0, Qt::SolidLine, Qt::RoundCap));
            const double angle = i * std::numbers::pi / 6.0;
            painter.drawLine(QPointF(std::sin(angle) * radius * 0.45, -std::cos(angle) * radius * 0.45),
                QPointF(std::sin(angle) * radius * 0.85, -std::cos(angle) * radius * 0.85));
        }
    }

private:
    QTimer m_timer;
    int m_step = 0;
};

LoadingOverlay::LoadingOverlay(QWidget* parent)
    : QWidget(parent)
    , m_headline(new QLabel(QStringLiteral("Loading Library"), this))
    , m_detail(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_caption(new QLabel(QStringLiteral("Reading metadata..."), this))
    // The platform's spinner at one and a half times its usual size.
    , m_spinner(new Spinner(48, this))
{
    QFont headline = m_headline->font();
    headline.setPointSizeF(headline.pointSizeF() * 1.3);
    headline.setBold(true);
    m_headline->setFont(headline);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(200);
    QPalette secondary = m_caption->palette();
    secondary.setColor(QPalette::WindowText, secondaryText());
    m_caption->setPalette(secondary);
    m_detail->setPalette(secondary);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    for (QWidget* widget : { static_cast<QWidget*>(m_spinner), static_cast<QWidget*>(m_headline),
             static_cast<QWidget*>(m_detail), static_cast<QWidget*>(m_progress),
             static_cast<QWidget*>(m_caption) })
        layout->addWidget(widget, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->setSpacing(10);

    parent->installEventFilter(this);
    setGeometry(parent->rect());
    setState(0, 0.0);
}

void LoadingOverlay::setState(int filesFound, double progress)
{
    m_detail->setText(filesFound < 1 ? QStringLiteral("Scanning for audio files...")
                                     : QStringLiteral("%1 audio files found").arg(filesFound));
    const bool reading = filesFound >= 1 && progress > 0.0;
    m_progress->setVisible(reading);
    m_caption->setVisible(reading);
    m_progress->setValue(static_cast<int>(std::lround(progress * 1000.0)));
}

QString LoadingOverlay::headline() const
{
    return m_headline->text();
}

QString LoadingOverlay::detail() const
{
    return m_detail->text();
}

QString LoadingOverlay::caption() const
{
    return m_caption->isHidden() ? QString() : m_caption->text();
}

bool LoadingOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void LoadingOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor background = palette().color(QPalette::Window);
    background.setAlphaF(0.95f);
    painter.fillRect(rect(), background);
}

} // namespace sondrel::ui
