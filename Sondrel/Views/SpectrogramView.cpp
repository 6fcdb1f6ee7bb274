#include "SpectrogramView.h"

#include "Background.h"
#include "SpectrogramImage.h"
#include "Symbols.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace sondrel::ui {
namespace {

constexpr qreal kLabelPointSize = 9;

QFont labelFont(const QWidget& widget)
{
    QFont font = widget.font();
    font.setPointSizeF(kLabelPointSize);
    return font;
}

QColor secondaryText(const QWidget& widget)
{
    QColor colour = widget.palette().color(QPalette::WindowText);
    colour.setAlphaF(0.6f);
    return colour;
}

} // namespace

// The bitmap, stretched without interpolation, and the cutoff line.
class SpectrogramView::ImageArea : public QWidget {
public:
    explicit ImageArea(SpectrogramView& view)
        : m_view(view)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        if (m_view.m_renderPending)
            m_view.startRendering();
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (m_view.m_image.isNull())
            return;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(rect(), m_view.m_image);
        drawCutoff(painter);
        drawPlayhead(painter);
    }

private:
    void drawPlayhead(QPainter& painter)
    {
        if (!m_view.m_playhead)
            return;
        const double x = std::clamp(*m_view.m_playhead * width(), 0.5, width() - 0.5);
        QPen pen(QColor(255, 255, 255, 230));
        pen.setWidthF(1.5);
        painter.setPen(pen);
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    }

    void drawCutoff(QPainter& painter)
    {
        if (!m_view.m_file || !m_view.m_file->result() || !m_view.m_data)
            return;
        const core::AnalysisResult& result = *m_view.m_file->result();
        const double top = m_view.m_data->maxFrequency();
        if (top <= 0 || !(result.cutoffFrequency > 0) || result.cutoffFrequency >= top)
            return;
        const double y = (1.0 - result.cutoffFrequency / top) * height();
        QPen pen(QColor(255, 255, 255, 220));
        pen.setStyle(Qt::DashLine);
        pen.setWidthF(1.5);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, y), QPointF(width(), y));

        const QString text = tr("Cutoff %1").arg(QString::fromStdString(result.cutoffDescription()));
        painter.setFont(labelFont(*this));
        const QFontMetrics metrics(painter.font());
        QRectF box = metrics.boundingRect(text);
        box.adjust(-4, -2, 4, 2);
        // Above the line, or below it when the line is near the top.
        const double boxTop = y - box.height() - 3 >= 0 ? y - box.height() - 3 : y + 3;
        box.moveTo(width() - box.width() - 6, boxTop);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 170));
        painter.drawRoundedRect(box, 3, 3);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, text);
    }

    SpectrogramView& m_view;
};

class SpectrogramView::FrequencyAxis : public QWidget {
public:
    FrequencyAxis() { setFixedWidth(kFrequencyAxisWidth); }

    void setMaxFrequency(double maxFrequency)
    {
        m_maxFrequency = maxFrequency;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setFont(labelFont(*this));
        painter.setPen(secondaryText(*this));
        const QFontMetrics metrics(painter.font());
        for (const AxisLabel& label : frequencyAxisLabels(m_maxFrequency)) {
            const int y = static_cast<int>(label.fraction * height());
            painter.drawLine(width() - 3, y, width(), y);
            // Centred on its frequency, but kept inside the strip at the two edges.
            const int top = std::clamp(y - metrics.height() / 2, 0, std::max(0, height() - metrics.height()));
            painter.drawText(QRect(0, top, width() - 5, metrics.height()), Qt::AlignRight | Qt::AlignVCenter, label.text);
        }
    }

private:
    double m_maxFrequency = 0;
};

class SpectrogramView::DbScale : public QWidget {
public:
    DbScale() { setFixedWidth(kDbScaleWidth); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        constexpr int kBarWidth = 8;
        QPainter painter(this);
        const QRect bar(4, 0, kBarWidth, height());
        QLinearGradient gradient(bar.topLeft(), bar.bottomLeft());
        gradient.setColorAt(0.0, Qt::white);
        gradient.setColorAt(1.0 / 3.0, QColor::fromRgbF(1.0f, 0.5f, 0.0f));
        gradient.setColorAt(2.0 / 3.0, QColor::fromRgbF(0.5f, 0.0f, 0.5f));
        gradient.setColorAt(1.0, Qt::black);
        painter.fillRect(bar, gradient);

        painter.setFont(labelFont(*this));
        painter.setPen(secondaryText(*this));
        const QRect labels(bar.right() + 4, 0, width() - bar.right() - 4, height());
        painter.drawText(labels, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("0"));
        painter.drawText(labels, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("-120"));
    }
};

// A transparent strip with a short bar; dragging it up makes the spectrogram taller.
class SpectrogramView::ResizeHandle : public QWidget {
public:
    explicit ResizeHandle(SpectrogramView& view)
        : m_view(view)
    {
        setObjectName("resizeHandle");
        setFixedHeight(kHandleHeight);
        setCursor(Qt::SizeVerCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor colour = secondaryText(*this);
        colour.setAlphaF(0.3f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        constexpr int kBarWidth = 40;
        painter.drawRoundedRect(QRectF((width() - kBarWidth) / 2.0, (height() - 4) / 2.0, kBarWidth, 4), 2, 2);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        m_dragging = true;
        m_pressY = event->globalPosition().y();
        m_startHeight = m_view.stripHeight();
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (m_dragging)
            m_view.setStripHeight(static_cast<int>(m_startHeight - (event->globalPosition().y() - m_pressY)));
    }

    void mouseReleaseEvent(QMouseEvent*) override { m_dragging = false; }

private:
    SpectrogramView& m_view;
    bool m_dragging = false;
    double m_pressY = 0;
    int m_startHeight = 0;
};

SpectrogramView::SpectrogramView(QWidget* parent)
    : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(new ResizeHandle(*this));
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    outer->addWidget(divider);

    m_pages = new QStackedWidget;
    outer->addWidget(m_pages, 1);

    auto* loading = new QWidget;
    auto* loadingLayout = new QHBoxLayout(loading);
    auto* spinner = new QProgressBar;
    spinner->setRange(0, 0); // busy
    spinner->setTextVisible(false);
    spinner->setFixedSize(64, 8);
    auto* loadingText = new QLabel(tr("Loading spectrogram..."));
    loadingText->setFont(labelFont(*this));
    loadingLayout->addStretch();
    loadingLayout->addWidget(spinner);
    loadingLayout->addWidget(loadingText);
    loadingLayout->addStretch();
    m_pages->addWidget(loading);

    auto* failure = new QWidget;
    auto* failureLayout = new QHBoxLayout(failure);
    auto* warning = new QLabel;
    warning->setPixmap(symbolIcon(Symbol::exclamationmarkTriangle, palette::orange).pixmap(16, 16));
    m_errorText = new QLabel;
    m_errorText->setFont(labelFont(*this));
    failureLayout->addStretch();
    failureLayout->addWidget(warning);
    failureLayout->addWidget(m_errorText);
    failureLayout->addStretch();
    m_pages->addWidget(failure);

    auto* shown = new QWidget;
    auto* shownLayout = new QHBoxLayout(shown);
    shownLayout->setContentsMargins(0, 2, 0, 2);
    shownLayout->setSpacing(2);
    m_axis = new FrequencyAxis;
    m_imageArea = new ImageArea(*this);
    shownLayout->addWidget(m_axis);
    shownLayout->addWidget(m_imageArea, 1);
    shownLayout->addWidget(new DbScale);
    m_pages->addWidget(shown);

    m_pages->addWidget(new QWidget); // no track
    setFixedHeight(m_stripHeight + kHandleHeight);
    showState();
}

SpectrogramView::~SpectrogramView()
{
    if (m_cancel)
        m_cancel->store(true);
}

void SpectrogramView::setStripHeight(int height)
{
    const int clamped = std::clamp(height, kMinimumHeight, kMaximumHeight);
    if (clamped == m_stripHeight)
        return;
    m_stripHeight = clamped;
    setFixedHeight(m_stripHeight + kHandleHeight);
}

void SpectrogramView::setTrack(const std::optional<app::AudioFile>& file)
{
    const bool sameTrack = file && m_file && file->id() == m_file->id();
    m_file = file;
    if (sameTrack) {
        m_imageArea->update();
        return;
    }
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
    m_playhead.reset();
    ++m_request;
    m_data.reset();
    m_image = {};
    m_error.clear();
    m_renderPending = false;
    m_isLoading = m_file.has_value();
    m_generationPending = m_isLoading;
    showState();
    if (m_generationPending && isVisible())
        startGeneration();
}

void SpectrogramView::setPlayhead(std::optional<double> fraction)
{
    if (fraction)
        fraction = std::clamp(*fraction, 0.0, 1.0);
    if (fraction == m_playhead)
        return;
    m_playhead = fraction;
    m_imageArea->update();
}

void SpectrogramView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_generationPending)
        startGeneration();
}

void SpectrogramView::startGeneration()
{
    m_generationPending = false;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    runInBackground(
        this,
        [cancel = m_cancel, url = m_file->url()] {
            return core::SpectrogramGenerator(kFftSize, kTimeSlices).generateInHalves(url, *cancel);
        },
        [this, request = m_request](
            Result<core::SpectrogramData> generated) { onGenerated(request, std::move(generated)); });
}

void SpectrogramView::onGenerated(int request, Result<core::SpectrogramData> generated)
{
    if (request != m_request)
        return;
    m_isLoading = false;
    if (!generated) {
        m_error = QString::fromStdString(generated.error().description);
        showState();
        emit imageReady();
        return;
    }
    m_data = std::make_shared<const core::SpectrogramData>(std::move(generated).value());
    m_axis->setMaxFrequency(m_data->maxFrequency());
    showState();
    m_renderPending = true;
    if (m_imageArea->width() > 0 && m_imageArea->height() > 0)
        startRendering();
}

void SpectrogramView::startRendering()
{
    // The area is laid out once its page is shown; until then it has no size worth rendering.
    if (m_imageArea->width() <= 0 || m_imageArea->height() <= 0 || !m_data)
        return;
    m_renderPending = false;
    runInBackground(
        this, [spectrogram = m_data, size = m_imageArea->size()] { return renderImage(*spectrogram, size); },
        [this, request = m_request](QImage image) {
            if (request != m_request)
                return;
            m_image = std::move(image);
            m_imageArea->update();
            emit imageReady();
        });
}

void SpectrogramView::showState()
{
    if (!m_file)
        m_pages->setCurrentIndex(3);
    else if (m_isLoading)
        m_pages->setCurrentIndex(0);
    else if (!m_error.isEmpty()) {
        m_errorText->setText(m_error);
        m_pages->setCurrentIndex(1);
    } else
        m_pages->setCurrentIndex(2);
}

std::vector<SpectrogramView::AxisLabel> SpectrogramView::frequencyAxisLabels(double maxFrequency)
{
    std::vector<AxisLabel> labels;
    if (!(maxFrequency > 0))
        return labels;
    for (const int frequency : { 0, 5000, 10000, 15000, 20000 }) {
        if (frequency > maxFrequency)
            break;
        labels.push_back({ 1.0 - frequency / maxFrequency,
            frequency >= 1000 ? QString::number(frequency / 1000) + "k" : QString::number(frequency) });
    }
    return labels;
}

QImage SpectrogramView::renderImage(const core::SpectrogramData& data, QSize size)
{
    core::RgbaImage rgba = core::createSpectrogramImage(data, size.width(), size.height());
    // The pixels are opaque, so straight and premultiplied alpha are the same bytes.
    auto* pixels = new core::RgbaImage(std::move(rgba));
    return QImage(
        pixels->pixels.data(), pixels->width, pixels->height, pixels->width * 4, QImage::Format_RGBA8888_Premultiplied,
        [](void* owned) { delete static_cast<core::RgbaImage*>(owned); }, pixels);
}

} // namespace sondrel::ui
