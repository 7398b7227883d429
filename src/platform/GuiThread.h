#pragma once
// Runs work on the GUI thread on behalf of a worker: widgets live on that thread only.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>
#include <utility>

namespace corvane {

// Calls f on the thread of context and waits for it; calls it directly when already there.
template <class F>
auto CallOnThreadOf(QObject* context, F&& f) -> decltype(f()) {
    if (QThread::currentThread() == context->thread()) return f();
    if constexpr (std::is_void_v<decltype(f())>) {
        QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::BlockingQueuedConnection);
    } else {
        decltype(f()) result{};
        QMetaObject::invokeMethod(
            context, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

}  // namespace corvane
