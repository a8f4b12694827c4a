#pragma once
// How the media layer reaches the thread that runs the program's handlers (the GUI thread
// in the window, the main thread in the headless converter). The media layer has no Qt;
// the window implements this with Qt, the converter and the tests with QueueDispatcher.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace kv::media {

class IDispatcher {
public:
    virtual ~IDispatcher() = default;

    // From a media thread: runs fn on the handler thread and returns once it has run.
    virtual void invokeBlocking(std::function<void()> fn) = 0;

    // From any thread: queues fn for the handler thread and returns at once.
    virtual void post(std::function<void()> fn) = 0;

    // On the handler thread: keeps running queued calls (and, in the window, all events)
    // until done() is true. Every stop that waits for a media thread waits through this,
    // so a worker blocked in invokeBlocking can always finish.
    virtual void waitServing(const std::function<bool()>& done) = 0;
};

// A plain queue served by whichever thread calls waitServing/serveFor: the headless
// converter's main thread, or a test's.
class QueueDispatcher final : public IDispatcher {
public:
    void invokeBlocking(std::function<void()> fn) override
    {
        std::mutex doneMutex;
        std::condition_variable doneCv;
        bool finished = false;
        post([&] {
            fn();
            std::lock_guard lk(doneMutex);
            finished = true;
            doneCv.notify_all();
        });
        std::unique_lock lk(doneMutex);
        doneCv.wait(lk, [&] { return finished; });
    }

    void post(std::function<void()> fn) override
    {
        {
            std::lock_guard lk(mutex_);
            queue_.push_back(std::move(fn));
        }
        cv_.notify_all();
    }

    void waitServing(const std::function<bool()>& done) override
    {
        while (!done())
            serveOnce(std::chrono::milliseconds(10));
    }

    // Runs queued calls for at most the given time (waiting for new ones); returns how many ran.
    int serveFor(std::chrono::milliseconds span)
    {
        const auto until = std::chrono::steady_clock::now() + span;
        int n = 0;
        while (std::chrono::steady_clock::now() < until)
            n += serveOnce(std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()));
        return n;
    }

    // Runs every call queued now, without waiting; returns how many ran.
    int drain()
    {
        int n = 0;
        while (serveOnce(std::chrono::milliseconds(0)))
            ++n;
        return n;
    }

private:
    int serveOnce(std::chrono::milliseconds maxWait)
    {
        std::function<void()> fn;
        {
            std::unique_lock lk(mutex_);
            if (!cv_.wait_for(lk, maxWait, [&] { return !queue_.empty(); }))
                return 0;
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
        return 1;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
};

} // namespace kv::media
