#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace sondrel::ui {

// Runs `work` on a worker thread and hands its result to `then` on the GUI thread, unless
// `owner` is gone by then. For the views' disk work, which must never run on the GUI thread.
template <typename Work, typename Then>
void runInBackground(QObject* owner, Work work, Then then)
{
    QPointer<QObject> guard(owner);
    QThreadPool::globalInstance()->start([guard, work = std::move(work), then = std::move(then)]() mutable {
        auto value = work();
        // Checked on the GUI thread, where the owner is destroyed.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, then = std::move(then), value = std::move(value)]() mutable {
                if (guard)
                    then(std::move(value));
            },
            Qt::QueuedConnection);
    });
}

} // namespace sondrel::ui
