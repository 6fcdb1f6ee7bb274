#include "SpectrogramView.h"

#include "SpectrogramImage.h"
#include "Symbols.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <future>
#include <iterator>

namespace sondrel::ui {
namespace {

constexpr qreal kLabelPointSize = 9;

// The file's decoder, ending the generation with an error as soon as the track is replaced.
class CancellableDecoder final : public core::AudioDecoder {
public:
    CancellableDecoder(std::unique_ptr<core::AudioDecoder> inner, std::shared_ptr<std::atomic<bool>> cancelled)
        : m_inner(std::move(inner))
        , m_cancelled(std::move(cancelled))
    {
    }

    double sampleRate() const noexcept override { return m_inner->sampleRate(); }
    int channelCount() const noexcept override { return m_inner->channelCount(); }
    std::uint64_t lengthInFrames() const noexcept override { return m_inner->lengthInFrames(); }
    Status seek(std::uint64_t frame) override { return m_inner->seek(frame); }
    Result<std::size_t> read(std::size_t frames, core::AudioBuffer& buffer) override
    {
        if (m_cancelled->load())
            return Error { "cancelled" };
        return m_inner->read(frames, buffer);
    }

private:
    std::unique_ptr<core::AudioDecoder> m_inner;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
};

// One stretch of a file, seen as a file of its own: frame 0 is the stretch's first frame.
class RangeDecoder final : public core::AudioDecoder {
public:
    RangeDecoder(core::AudioDecoder& inner, std::uint64_t start, std::uint64_t length)
        : m_inner(inner)
        , m_start(start)
        , m_length(length)
    {
    }

    double sampleRate() const noexcept override { return m_inner.sampleRate(); }
    int channelCount() const noexcept override { return m_inner.channelCount(); }
    std::uint64_t lengthInFrames() const noexcept override { return m_length; }
    Status seek(std::uint64_t frame) override
    {
        m_position = std::min(frame, m_length);
        return m_inner.seek(m_start + m_position);
    }
    Result<std::size_t> read(std::size_t frames, core::AudioBuffer& buffer) override
    {
        auto got = m_inner.read(std::min<std::uint64_t>(frames, m_length - m_position), buffer);
        if (got)
            m_position += *got;
        return got;
    }

private:
    core::AudioDecoder& m_inner;
    std::uint64_t m_start;
    std::uint64_t m_length;
    std::uint64_t m_position = 0;
};

// Below this many frames a file is generated in one piece: splitting would not pay.
constexpr std::uint64_t kSplitFrames = 44100 * 20;

// The whole-file spectrogram, its two halves decoded at once on two threads: decoding dominates,
// and it cannot be shared within one decoder. Each half aims at half the time slices, so the rows
// are spaced as one generation would space them.
Result<core::SpectrogramData> generateSpectrogram(
    const std::filesystem::path& url, const std::shared_ptr<std::atomic<bool>>& cancel)
{
    auto opened = core::openAudioFile(url);
    if (!opened)
        return opened.error();
    CancellableDecoder first(std::move(*opened), cancel);
    const std::uint64_t length = first.lengthInFrames();
    if (length < kSplitFrames)
        return core::SpectrogramGenerator(SpectrogramView::kFftSize, SpectrogramView::kTimeSlices).generate(first);

    const std::uint64_t middle = length / 2;
    const core::SpectrogramGenerator half(SpectrogramView::kFftSize, SpectrogramView::kTimeSlices / 2);
    auto second = std::async(std::launch::async, [&]() -> Result<core::SpectrogramData> {
        auto reopened = core::openAudioFile(url);
        if (!reopened)
            return reopened.error();
        CancellableDecoder decoder(std::move(*reopened), cancel);
        RangeDecoder range(decoder, middle, length - middle);
        return half.generate(range);
    });
    RangeDecoder range(first, 0, middle);
    auto result = half.generate(range);
    auto rest = second.get();
    if (!result)
        return result;
    // A second half that cannot be read (a length estimate past the real end) leaves the first.
    if (rest) {
        auto& rows = result->magnitudes;
        rows.insert(rows.end(), std::make_move_iterator(rest->magnitudes.begin()),
            std::make_move_iterator(rest->magnitudes.end()));
    }
    result->duration = static_cast<double>(length) / result->sampleRate;
    return result;
}

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
    }

private:
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
    m_pool.setMaxThreadCount(2);
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
    QPointer<SpectrogramView> self(this);
    m_pool.start([self, request = m_request, cancel = m_cancel, url = m_file->url()] {
        auto generated = generateSpectrogram(url, cancel);
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(
            qApp,
            [self, request, generated = std::move(generated)]() mutable {
                if (self)
                    self->onGenerated(request, std::move(generated));
            },
            Qt::QueuedConnection);
    });
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
    QPointer<SpectrogramView> self(this);
    m_pool.start([self, request = m_request, spectrogram = m_data, size = m_imageArea->size()] {
        QImage image = renderImage(*spectrogram, size);
        QMetaObject::invokeMethod(
            qApp,
            [self, request, image = std::move(image)] {
                if (!self || request != self->m_request)
                    return;
                self->m_image = image;
                self->m_imageArea->update();
                emit self->imageReady();
            },
            Qt::QueuedConnection);
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
