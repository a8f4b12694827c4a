#include "app/QtDispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>

namespace kv::app {

QtDispatcher::QtDispatcher(QObject* parent) : QObject(parent) {}

void QtDispatcher::invokeBlocking(std::function<void()> fn)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    std::exception_ptr failure;
    const bool queued = QMetaObject::invokeMethod(
        this,
        [&] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (!queued)
        throw std::runtime_error("GUI thread call could not be queued");
    if (failure)
        std::rethrow_exception(failure);
}

void QtDispatcher::post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(
        this,
        [fn = std::move(fn)] {
            try {
                fn();
            } catch (const std::exception& e) {
                qWarning("Queued call failed: %s", e.what());
            } catch (...) {
                qWarning("Queued call failed");
            }
        },
        Qt::QueuedConnection);
}

void QtDispatcher::waitServing(const std::function<bool()>& done)
{
    if (QThread::currentThread() != thread()) {
        // Not the GUI thread: nothing to serve here, just wait.
        while (!done())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return;
    }
    // The ticking timer wakes the wait below, so done() is seen even when the thread that
    // makes it true posts nothing.
    QTimer tick;
    tick.start(2);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace kv::app
