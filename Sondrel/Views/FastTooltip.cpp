#include "FastTooltip.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace sondrel::ui {

FastTooltip::FastTooltip(QAbstractItemView& view, std::function<bool(const QModelIndex&)> applies)
    : QObject(&view)
    , m_view(view)
    , m_applies(std::move(applies))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kDelayMs);
    connect(&m_timer, &QTimer::timeout, this, &FastTooltip::show);
    view.viewport()->setMouseTracking(true);
    view.viewport()->installEventFilter(this);
}

bool FastTooltip::eventFilter(QObject* watched, QEvent* event)
{
    // The viewport still sends events while the view is being destroyed, when it is no longer an
    // item view: the cast then fails and the event passes.
    if (!qobject_cast<QAbstractItemView*>(parent()) || watched != m_view.viewport())
        return false;
    switch (event->type()) {
    case QEvent::MouseMove: {
        const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
        const QModelIndex index = m_view.indexAt(position);
        if (index != m_index) {
            hide();
            if (index.isValid() && m_applies(index)) {
                m_index = index;
                m_position = position;
                m_timer.start();
            }
        }
        break;
    }
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        hide();
        break;
    case QEvent::ToolTip: {
        // The toolkit's own, later tooltip stays away from the cells handled here.
        const QModelIndex index = m_view.indexAt(static_cast<QHelpEvent*>(event)->pos());
        if (index.isValid() && m_applies(index))
            return true;
        break;
    }
    default:
        break;
    }
    return false;
}

void FastTooltip::show()
{
    if (!m_index.isValid())
        return;
    const QString text = m_index.data(Qt::ToolTipRole).toString();
    if (text.isEmpty())
        return;
    const QRect cell = m_view.visualRect(m_index);
    QToolTip::showText(m_view.viewport()->mapToGlobal(cell.topRight() + QPoint(4, 0)), text, m_view.viewport(), cell);
}

void FastTooltip::hide()
{
    m_timer.stop();
    if (m_index.isValid())
        QToolTip::hideText();
    m_index = QPersistentModelIndex();
}

} // namespace sondrel::ui
