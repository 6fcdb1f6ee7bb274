#include "StatusBar.h"

#include "ViewStyle.h"

#include "ScannerViewModel.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace sondrel::ui {

namespace {

QLabel* symbolLabel(Symbol symbol, const QColor& tint, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(symbol, tint).pixmap(14, 14));
    return label;
}

} // namespace

bool StatusBar::processEnabled(const VisibleCounts& visible, bool isScanning, bool isDiscovering) noexcept
{
    return visible.analysed() >= 1 && !isScanning && !isDiscovering;
}

StatusBar::StatusBar(app::ScannerViewModel& viewModel, QWidget* parent)
    : QWidget(parent)
    , m_viewModel(viewModel)
    , m_message(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_percent(new QLabel(this))
    , m_passedIcon(symbolLabel(Symbol::checkmarkCircle, palette::green, this))
    , m_passed(new QLabel(this))
    , m_failedIcon(symbolLabel(Symbol::xmarkCircle, palette::red, this))
    , m_failed(new QLabel(this))
    , m_errorIcon(symbolLabel(Symbol::exclamationmarkTriangle, palette::orange, this))
    , m_error(new QLabel(this))
    , m_processSelected(new QPushButton(this))
    , m_processAll(new QPushButton(symbolIcon(Symbol::gearshape2), QStringLiteral("Process All"), this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->setSpacing(6);
    // A long message is cut at the edge rather than widening the window's minimum.
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_message->setMinimumWidth(60);
    layout->addWidget(m_message, 1);
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(kNoticeMilliseconds);
    connect(&m_noticeTimer, &QTimer::timeout, this, &StatusBar::refresh);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(150);
    m_progress->setMaximumHeight(10);
    layout->addWidget(m_progress);
    QPalette secondary = m_percent->palette();
    secondary.setColor(QPalette::WindowText, secondaryText());
    m_percent->setPalette(secondary);
    layout->addWidget(m_percent);
    for (QWidget* widget : { static_cast<QWidget*>(m_passedIcon), static_cast<QWidget*>(m_passed),
             static_cast<QWidget*>(m_failedIcon), static_cast<QWidget*>(m_failed),
             static_cast<QWidget*>(m_errorIcon), static_cast<QWidget*>(m_error) })
        layout->addWidget(widget);
    layout->addSpacing(8);
    layout->addWidget(m_processSelected);
    layout->addWidget(m_processAll);
    connect(m_processSelected, &QPushButton::clicked, this, &StatusBar::processSelected);
    connect(m_processAll, &QPushButton::clicked, this, &StatusBar::processVisible);

    using VM = app::ScannerViewModel;
    for (auto signal : { &VM::isScanningChanged, &VM::isDiscoveringChanged })
        connect(&viewModel, signal, this, &StatusBar::refresh);
    connect(&viewModel, &VM::cachedCountsChanged, this, &StatusBar::refresh);
    connect(&viewModel, &VM::allFilesChanged, this, &StatusBar::refresh);
    refresh();
}

void StatusBar::setVisibleCounts(const VisibleCounts& counts)
{
    m_visible = counts;
    refresh();
}

void StatusBar::setSelectedCount(int count)
{
    m_selected = count;
    refresh();
}

QString StatusBar::message() const
{
    return m_message->text();
}

bool StatusBar::isProgressShown() const
{
    return !m_progress->isHidden();
}

void StatusBar::showNotice(const QString& notice)
{
    m_notice = notice;
    m_noticeTimer.start();
    refresh();
}

void StatusBar::refresh()
{
    const QString message = m_noticeTimer.isActive() ? m_notice : QString::fromStdString(m_viewModel.statusMessage());
    m_message->setText(message);
    m_message->setToolTip(message);
    const bool scanning = m_viewModel.isScanning();
    const double progress = m_viewModel.scanProgress();
    m_progress->setVisible(scanning);
    m_percent->setVisible(scanning);
    m_progress->setValue(static_cast<int>(std::lround(progress * 1000.0)));
    m_percent->setText(QString::number(static_cast<int>(progress * 100.0)) + QLatin1Char('%'));
    m_passed->setText(QString::number(m_visible.passed));
    m_failed->setText(QString::number(m_visible.failed));
    m_error->setText(QString::number(m_visible.error));
    m_errorIcon->setVisible(m_visible.error >= 1);
    m_error->setVisible(m_visible.error >= 1);
    m_processSelected->setVisible(m_selected > 0);
    m_processSelected->setText(QStringLiteral("Process Selected (%1)").arg(m_selected));
    const bool enabled = processEnabled(m_visible, scanning, m_viewModel.isDiscovering());
    m_processSelected->setEnabled(enabled);
    m_processAll->setEnabled(enabled);
}

} // namespace sondrel::ui
