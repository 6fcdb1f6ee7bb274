#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

// The one way the window and its view model run work off the GUI thread and hear back: in
// namespace sondrel so that both layers call it unqualified.
namespace sondrel {

// Calls `then` on the GUI thread, unless `owner` is gone by then. Callable from any thread with
// a guard made on the GUI thread.
template <typename Then> void reportTo(QPointer<QObject> guard, Then then)
{
    // Through the application object, which outlives every owner; the guard is checked on the
    // GUI thread, where owners are destroyed.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, then = std::move(then)]() mutable {
            if (guard)
                then();
        },
        Qt::QueuedConnection);
}

// Runs `work` on a thread of `pool` and hands its result (if it has one) to `then` on the GUI
// thread, unless `owner` is gone by then.
template <typename Work, typename Then>
void runInBackground(QThreadPool& pool, QObject* owner, Work work, Then then)
{
    pool.start([guard = QPointer<QObject>(owner), work = std::move(work), then = std::move(then)]() mutable {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            reportTo(guard, std::move(then));
        } else {
            reportTo(guard, [then = std::move(then), value = work()]() mutable { then(std::move(value)); });
        }
    });
}

// The same on the shared pool: for the views' disk work, which must never run on the GUI thread.
template <typename Work, typename Then> void runInBackground(QObject* owner, Work work, Then then)
{
    runInBackground(*QThreadPool::globalInstance(), owner, std::move(work), std::move(then));
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
        runInBackground(
            owner, std::move(work), [latest = m_latest, request, then = std::move(then)](auto value) mutable {
                if (*latest == request)
                    then(std::move(value));
            });
    }

    // Drops the answer of the request in flight.
    void cancel() noexcept { ++*m_latest; }

private:
    std::shared_ptr<int> m_latest = std::make_shared<int>(0);
};

} // namespace sondrel
