// Faults found in review: object lifetimes across threads and sources whose timestamps jump.
#include "media/TFFEncoder.h"
#include "media/TFFLogger.h"

#include "EngineHarness.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace kv::test;
using kv::media::IDispatcher;
using kv::media::TFFLogger;

namespace {

// A dispatcher that lingers in post() and tells whether a post is under way, so a test can
// see whether somebody still uses it after its owner let go of it.
class SlowPostDispatcher final : public IDispatcher {
  public:
    void invokeBlocking(std::function<void()> fn) override { fn(); }
    void post(std::function<void()>) override
    {
        inPost = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        inPost = false;
    }
    void waitServing(const std::function<bool()>& done) override
    {
        while (!done())
            std::this_thread::yield();
    }
    std::atomic<bool> inPost{false};
};

} // namespace

// FFmpeg's log callback is process-wide: any thread may be logging when the logger goes.
// Once its destructor has returned, the dispatcher it was given must not be in use any more
// (the program destroys the dispatcher right after).
TEST(LoggerLifetime, NoThreadStillPostsToTheDispatcherOnceTheLoggerIsGone)
{
    SlowPostDispatcher dispatcher;
    auto logger = std::make_unique<TFFLogger>(dispatcher);
    std::atomic<bool> quit{false};
    std::thread chatter([&] {
        while (!quit)
            av_log(nullptr, AV_LOG_ERROR, "a decoder thread complains\n");
    });
    while (!dispatcher.inPost)
        std::this_thread::yield();
    logger.reset();
    const bool stillPosting = dispatcher.inPost;
    quit = true;
    chatter.join();
    EXPECT_FALSE(stillPosting)
        << "a log line was being handed to the dispatcher after the logger was destroyed";
}
