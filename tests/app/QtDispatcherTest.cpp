// The GUI-thread dispatcher with a real worker thread.
#include "app/QtDispatcher.h"

#include <QApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using kv::app::QtDispatcher;

TEST(QtDispatcher, WorkerCallsRunOnTheGuiThreadWhileItWaitsServing)
{
    QtDispatcher d;
    QThread* gui = QThread::currentThread();
    std::vector<int> order;
    std::atomic<bool> finished{false};
    std::atomic<int> onGui{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            d.invokeBlocking([&, i] {
                onGui += QThread::currentThread() == gui;
                order.push_back(i); // only the GUI thread touches it
            });
        }
        d.post([&] { order.push_back(100); });
        d.post([&] { order.push_back(101); });
        finished = true;
    });
    d.waitServing([&] { return finished.load() && order.size() == 52; });
    worker.join();
    EXPECT_EQ(onGui.load(), 50);
    ASSERT_EQ(order.size(), 52u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(order[50], 100);
    EXPECT_EQ(order[51], 101);
}

TEST(QtDispatcher, WaitEndsWhenTheWorkerEndsWithoutPostingAnything)
{
    QtDispatcher d;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        done = true;
    });
    d.waitServing([&] { return done.load(); });
    worker.join();
    SUCCEED();
}

TEST(QtDispatcher, BlockingCallFromTheGuiThreadRunsAtOnce)
{
    QtDispatcher d;
    bool ran = false;
    d.invokeBlocking([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(QtDispatcher, ExceptionOfABlockingCallReachesTheWorker)
{
    QtDispatcher d;
    std::atomic<bool> finished{false};
    std::string caught;
    std::thread worker([&] {
        try {
            d.invokeBlocking([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        finished = true;
    });
    d.waitServing([&] { return finished.load(); });
    worker.join();
    EXPECT_EQ(caught, "handler failed");
}

TEST(QtDispatcher, FailingQueuedCallDoesNotStopTheOthers)
{
    QtDispatcher d;
    int ran = 0;
    d.post([] { throw std::runtime_error("queued failure"); });
    d.post([&] { ++ran; });
    d.waitServing([&] { return ran == 1; });
    EXPECT_EQ(ran, 1);
}

TEST(QtDispatcher, WorkerBlockedInAHandOverLetsANestedWaitFinish)
{
    // A stop that waits (waitServing) while the worker is blocked handing over an event:
    // the hand-over runs inside the wait, so the worker can end.
    QtDispatcher d;
    std::atomic<bool> stop{false}, ended{false};
    int handled = 0;
    std::thread worker([&] {
        while (!stop.load())
            d.invokeBlocking([&] { ++handled; });
        ended = true;
    });
    d.waitServing([&] { return handled >= 5; });
    stop = true;
    d.waitServing([&] { return ended.load(); });
    worker.join();
    EXPECT_GE(handled, 5);
}
