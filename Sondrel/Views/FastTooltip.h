#pragma once

#include <QModelIndex>
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>

class QAbstractItemView;

namespace sondrel::ui {

// Shows the tooltip of a table's icon cells after 0.3 s instead of the toolkit's slower
// default, and hides it as soon as the pointer leaves the cell. Other cells keep the default.
class FastTooltip : public QObject {
    Q_OBJECT

public:
    static constexpr int kDelayMs = 300;

    // `applies` says which cells get the fast tooltip.
    FastTooltip(QAbstractItemView& view, std::function<bool(const QModelIndex&)> applies);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    void hide();

    QAbstractItemView& m_view;
    std::function<bool(const QModelIndex&)> m_applies;
    QTimer m_timer;
    QPersistentModelIndex m_index;
    QPoint m_position;
};

} // namespace sondrel::ui
