// Lifetimes across threads (logger, handlers) and sources whose clock jumps or has long holes.
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

namespace {

// One second of picture and tone as MPEG-TS, its clock starting at `offsetSeconds`.
fs::path tsPiece(const TempDir& dir, const std::string& name, int offsetSeconds)
{
    const auto f = dir / name;
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=25:duration=1", "-f", "lavfi", "-i",
               "sine=frequency=1000:duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
               "-output_ts_offset", std::to_string(offsetSeconds), "-f", "mpegts", f.string()});
    return f;
}

fs::path joined(const TempDir& dir, const std::string& name, const std::vector<fs::path>& pieces)
{
    const auto f = dir / name;
    std::ofstream out(f, std::ios::binary);
    for (const auto& p : pieces) {
        std::ifstream in(p, std::ios::binary);
        out << in.rdbuf();
    }
    return f;
}

} // namespace

// A broadcast recording whose clock jumps (a cut, a new programme) is one continuous piece:
// the jump neither fills the output with a long frozen picture and silence nor drops what
// follows a jump backwards.
TEST(EngineTimestamps, ClockJumpsInATransportStreamAreStitchedTogether)
{
    TempDir dir;
    const auto early = tsPiece(dir, "early.ts", 0);
    const auto late = tsPiece(dir, "late.ts", 100);
    struct Case {
        const char* name;
        std::vector<fs::path> pieces;
    };
    const Case cases[] = {{"forward.ts", {early, late}}, {"backward.ts", {late, early}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto src = joined(dir, c.name, c.pieces);
        const auto out = dir / (std::string(c.name) + "_psp.mp4");
        auto r = convertFile(src, pspOutput(false, out));
        ASSERT_TRUE(r.finished()) << r.error();
        const double seconds = std::stod(probeValue(out, "v:0", "format=duration"));
        EXPECT_GT(seconds, 1.8) << "part of the source is missing";
        EXPECT_LT(seconds, 3.0) << "the jump was filled in";
        EXPECT_EQ(pspCheck(out, "lo").exitCode, 0);
    }
}

// A source with an hour-long hole (here sound only, which also makes up the picture): the
// hole is converted as silence and a still picture, which takes a while; a Stop during it
// must not wait until the whole hole is written.
TEST(EngineTimestamps, AStopDuringALongGapIsTakenAtOnce)
{
    TempDir dir;
    const auto src = dir / "gap.mkv";
    makeMedia({"-f", "lavfi", "-i", "sine=frequency=1000:duration=2", "-af", "asetpts=PTS+gte(T\\,1)*3600/TB",
               "-c:a", "flac", src.string()});
    const auto out = dir / "gap_psp.mp4";
    kv::media::QueueDispatcher dispatcher;
    kv::media::TFFEncoder engine(dispatcher);
    const auto started = std::chrono::steady_clock::now();
    auto r = convert(dispatcher, engine, src, pspOutput(false, out), [&](kv::media::TFFEncoder& e) {
        if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(500))
            e.Stop(false);
    });
    ASSERT_FALSE(r.terminates.empty());
    EXPECT_FALSE(r.terminates.front().Finished);
    EXPECT_FALSE(r.terminates.front().Exception) << r.error();
    ASSERT_TRUE(fs::exists(out));
    const double seconds = std::stod(probeValue(out, "v:0", "format=duration"));
    EXPECT_LT(seconds, 1800) << "the stop waited for the hole to be filled";
    EXPECT_EQ(pspCheck(out, "lo").exitCode, 0);
}

// The window clears the engine's handlers before it closes, then frees what they use. The
// frame hook and the end-of-task report run off the handler thread, so clearing one must
// wait for a call of it that is under way.
TEST(EngineHandlers, ClearingAHandlerWaitsForItsCallUnderWay)
{
    TempDir dir;
    const auto src = makeClip(dir / "clip.mp4", 0.5, "160x90");
    for (const bool hook : {true, false}) {
        SCOPED_TRACE(hook ? "frame hook" : "terminate report");
        kv::media::QueueDispatcher dispatcher;
        kv::media::TFFEncoder engine(dispatcher);
        std::atomic<bool> inCall{false};
        std::atomic<int> calls{0};
        auto slow = [&] {
            if (++calls > 1)
                return;
            inCall = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            inCall = false;
        };
        if (hook)
            engine.SetOnVideoInputHook([&](kv::media::THookInfo&) { slow(); });
        else
            engine.SetOnTerminate([&](const kv::media::TTerminateInfo&) { slow(); });
        const auto out = dir / (hook ? "hook_psp.mp4" : "terminate_psp.mp4");
        const int idx = engine.AddTask(src.string(), {});
        ASSERT_TRUE(engine.SetOutputFile(idx, out.string(), pspOutput(false, out))) << engine.LastErrMsg();
        engine.Start(1);
        dispatcher.waitServing([&] { return inCall.load() || !engine.Working(); });
        ASSERT_TRUE(inCall);
        if (hook)
            engine.SetOnVideoInputHook(nullptr);
        else
            engine.SetOnTerminate(nullptr);
        EXPECT_FALSE(inCall) << "the handler still runs after it was cleared";
        const int callsAfterClearing = calls;
        engine.Stop(true);
        dispatcher.drain();
        EXPECT_EQ(calls, callsAfterClearing);
    }
}
