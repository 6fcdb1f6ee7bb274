#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <memory>
#include <utility>

namespace sondrel::ui {

// Runs `work` on a worker thread and hands its result to `then` on the GUI thread, unless
// `owner` is gone by then. For the views' disk work, which must never run on the GUI thread.
template <typename Work, typename Then> void runInBackground(QObject* owner, Work work, Then then)
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

// Work of which only the latest request counts: a view that starts work for what it shows (a
// track's artwork) may show something else by the time an older request answers, and that
// answer is dropped. Lives on the GUI thread, as a member of its owner.
class LatestRequest {
public:
    // runInBackground(), and `then` only if no newer run() or cancel() came meanwhile.
    template <typename Work, typename Then> void run(QObject* owner, Work work, Then then)
    {
        const int request = ++*m_latest;
        runInBackground(owner, std::move(work),
            [latest = m_latest, request, then = std::move(then)](auto value) mutable {
                if (*latest == request)
                    then(std::move(value));
            });
    }

    // Drops the answer of the request in flight.
    void cancel() noexcept { ++*m_latest; }

private:
    std::shared_ptr<int> m_latest = std::make_shared<int>(0);
};

} // namespace sondrel::ui
