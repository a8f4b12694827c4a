#include "media/Dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using kv::media::QueueDispatcher;

// A worker that waits for its handler must finish while the owner thread waits for the worker.
TEST(QueueDispatcher, BlockingCallsAreServedWhileTheOwnerWaits)
{
    QueueDispatcher d;
    const auto owner = std::this_thread::get_id();
    std::atomic<int> ranOnOwner{0};
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i)
            d.invokeBlocking([&] {
                if (std::this_thread::get_id() == owner)
                    ++ranOnOwner;
            });
        workerDone = true;
    });
    d.waitServing([&] { return workerDone.load(); });
    worker.join();
    EXPECT_EQ(ranOnOwner.load(), 20);
}

TEST(QueueDispatcher, PostedCallsRunInOrderWhenDrained)
{
    QueueDispatcher d;
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i)
        d.post([&seen, i] { seen.push_back(i); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(d.drain(), 5);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}
