#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace kv::test {

media::TOutputOptions pspOutput(bool hi, const std::filesystem::path& out)
{
    media::TOutputOptions o;
    o.FileName = out.string();
    o.FileExt = "_psp.mp4";
    o.ForceFormat = "psp";
    o.AudioCodec = "libfaac";
    o.AudioSampleRate = 24000;
    o.AudioBitrate = 128000;
    o.AudioChannels = 2;
    o.VideoInputHook = true;
    o.CopyTimestamp = false;
    o.DisableSubtitle = true;
    o.Info.Author = "Kestrovid to PSP";
    o.Info.Comment = "kestrovid.example";
    o.FrameSize = hi ? "480x272" : "368x192";
    o.VideoCodec = hi ? "libx264" : "mpeg4";
    if (hi)
        o.VideoPreset = "fastfirstpass";
    o.FrameRate = hi ? "30000/1001" : "15000/1001";
    o.VideoBitrate = hi ? 672000 : 384000;
    o.VideoBitRateTolerance = hi ? 256000 : 96000;
    if (hi)
        o.VideoMaxRate = 768;
    return o;
}

RunResult convert(media::QueueDispatcher& dispatcher, media::TFFEncoder& engine,
                  const std::filesystem::path& src, const media::TOutputOptions& out,
                  const std::function<void(media::TFFEncoder&)>& whileRunning, std::chrono::seconds limit)
{
    RunResult r;
    auto mutex = std::make_shared<std::mutex>();
    auto terminates = std::make_shared<std::vector<media::TTerminateInfo>>();
    auto lastSeen = std::make_shared<std::atomic<bool>>(false);
    engine.SetOnTerminate([mutex, terminates, lastSeen, &dispatcher](const media::TTerminateInfo& t) {
        // Raised on a short-lived thread: record it on the handler thread, as the window does.
        dispatcher.post([mutex, terminates, lastSeen, t] {
            std::lock_guard lk(*mutex);
            terminates->push_back(t);
            if (t.TaskIndex == -1)
                *lastSeen = true;
        });
    });
    engine.SetOnProgress([&r](const media::TProgressInfo&) { ++r.progressCount; });
    engine.SetOnPreviewBitmap([&r](const media::TPreviewInfo&) { ++r.previewCount; });

    engine.ClearTasks();
    media::TInputOptions in;
    in.FileName = src.string();
    const int idx = engine.AddTask(src.string(), in);
    if (idx < 0) {
        r.lastErr = engine.LastErrMsg();
        return r;
    }
    if (!engine.SetOutputFile(idx, out.FileName, out)) {
        r.lastErr = engine.LastErrMsg();
        engine.RemoveTask(idx);
        return r;
    }
    engine.Start(1);
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!*lastSeen && std::chrono::steady_clock::now() < until) {
        dispatcher.serveFor(std::chrono::milliseconds(5));
        if (whileRunning)
            whileRunning(engine);
    }
    EXPECT_TRUE(*lastSeen) << "the engine did not end within the time limit";
    engine.Stop(true);
    engine.SetOnTerminate(nullptr);
    engine.SetOnProgress(nullptr);
    engine.SetOnPreviewBitmap(nullptr);
    dispatcher.drain();
    std::lock_guard lk(*mutex);
    r.terminates = *terminates;
    r.lastErr = engine.LastErrMsg();
    return r;
}

RunResult convertFile(const std::filesystem::path& src, const media::TOutputOptions& out)
{
    media::QueueDispatcher dispatcher;
    media::TFFEncoder engine(dispatcher);
    return convert(dispatcher, engine, src, out);
}

} // namespace kv::test
