#pragma once
// The window's way for media threads to reach the GUI thread: blocking or queued calls
// through Qt's event queue, and a wait that keeps the GUI thread serving them.
#include "media/Dispatcher.h"

#include <QObject>

namespace kv::app {

class QtDispatcher final : public QObject, public kv::media::IDispatcher {
    Q_OBJECT
  public:
    // Create on the GUI thread: calls run on the thread this object lives in.
    explicit QtDispatcher(QObject* parent = nullptr);

    // Runs fn on the GUI thread and returns once it has run; an exception fn throws is
    // thrown again here. Called on the GUI thread itself, it runs fn at once.
    void invokeBlocking(std::function<void()> fn) override;

    // Queues fn for the GUI thread. An exception it throws is reported and dropped, as it
    // must not unwind through Qt's event loop.
    void post(std::function<void()> fn) override;

    // On the GUI thread: handles every event (queued calls, window messages) until done().
    void waitServing(const std::function<bool()>& done) override;
};

} // namespace kv::app
