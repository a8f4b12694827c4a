// The conversion engine's behaviour: the frame hook, pause/resume/stop and the events,
// refusing to overwrite, failures that leave nothing behind, the picture's placement.
#include "media/TFFEncoder.h"
#include "media/TFFLogger.h"
#include "media/ff/FFPtr.h"

#include "EngineHarness.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace kv::test;
using kv::media::QueueDispatcher;
using kv::media::TFFEncoder;

namespace {

// The luma plane of output frame `n` (as the ffmpeg tool decodes it), width x height bytes.
std::string lumaOf(const fs::path& file, int n)
{
    auto r = run({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-vf",
                  "select=eq(n\\," + std::to_string(n) + ")", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                  "gray", "-"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

double meanLuma(const std::string& y, int width, int x0, int y0, int x1, int y1)
{
    double sum = 0;
    for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx)
            sum += static_cast<unsigned char>(y[static_cast<size_t>(yy * width + xx)]);
    return sum / ((x1 - x0) * (y1 - y0));
}

std::string readAll(const fs::path& f)
{
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

fs::path grayClip(const TempDir& dir, const std::string& name, double seconds,
                  const std::string& size = "320x240")
{
    const auto f = dir / name;
    makeMedia({"-f", "lavfi", "-i",
               "color=c=0x404040:size=" + size + ":rate=25:duration=" + std::to_string(seconds), "-f",
               "lavfi", "-i", "sine=duration=" + std::to_string(seconds), "-c:v", "libx264", "-preset",
               "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", f.string()});
    return f;
}

} // namespace

TEST(EngineHook, SeesEveryFrameInOrderAndWhatItDrawsLandsInTheOutput)
{
    TempDir dir;
    const auto src = grayClip(dir, "grey.mp4", 1.0);
    const auto out = dir / "grey_psp.mp4";
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    std::vector<std::int64_t> pts;
    std::atomic<bool> onWorker{true};
    const auto mainThread = std::this_thread::get_id();
    engine.SetOnVideoInputHook([&](kv::media::THookInfo& info) {
        onWorker = onWorker && std::this_thread::get_id() != mainThread;
        EXPECT_TRUE(info.Update);
        EXPECT_FALSE(info.StopHook);
        ASSERT_EQ(info.Bitmap->Width(), 320);
        ASSERT_EQ(info.Bitmap->Height(), 240);
        pts.push_back(info.PTS);
        // A white band over the lower middle of the source picture.
        kv::media::TRGBView v = info.Bitmap->Rows(160, 200);
        for (int y = 160; y < 200; ++y)
            std::fill_n(v.row(y), v.Width * 3, 255);
    });
    auto r = convert(dispatcher, engine, src, pspOutput(true, out));
    ASSERT_TRUE(r.finished()) << r.error();
    EXPECT_TRUE(onWorker);
    ASSERT_EQ(pts.size(), 25u);
    EXPECT_NEAR(pts.front(), 0, 1000);
    for (size_t i = 1; i < pts.size(); ++i)
        EXPECT_NEAR(pts[i] - pts[i - 1], 40000, 1000);

    // 320x240 (4:3) sits in 362x272 at x 58: source rows 160..200 are output rows 181..227.
    const std::string y = lumaOf(out, 10);
    ASSERT_EQ(y.size(), 480u * 272u);
    EXPECT_GT(meanLuma(y, 480, 100, 190, 380, 220), 200) << "the band drawn by the hook is missing";
    EXPECT_LT(meanLuma(y, 480, 100, 40, 380, 140), 90) << "rows the hook did not touch changed";
    EXPECT_LT(meanLuma(y, 480, 0, 0, 50, 272), 20) << "the bars beside a 4:3 picture are black";
    EXPECT_LT(meanLuma(y, 480, 430, 0, 480, 272), 20);
}

TEST(EngineHook, UpdateFalseKeepsTheFrameAndStopHookEndsTheCalls)
{
    TempDir dir;
    const auto src = grayClip(dir, "grey.mp4", 1.0);
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    int calls = 0;
    engine.SetOnVideoInputHook([&](kv::media::THookInfo& info) {
        ++calls;
        kv::media::TRGBView v = info.Bitmap->All();
        for (int y = 0; y < v.Height; ++y)
            std::fill_n(v.row(y), v.Width * 3, 255);
        info.Update = false; // drawn, but not wanted
        info.StopHook = calls == 3;
    });
    const auto out = dir / "grey_psp.mp4";
    auto r = convert(dispatcher, engine, src, pspOutput(false, out));
    ASSERT_TRUE(r.finished()) << r.error();
    EXPECT_EQ(calls, 3);
    const std::string y = lumaOf(out, 0);
    ASSERT_EQ(y.size(), 368u * 192u);
    EXPECT_LT(meanLuma(y, 368, 100, 20, 260, 170), 90);
}

TEST(EngineEvents, PauseHaltsEverythingResumeGoesOnStopFromAHandlerFinalisesTheFile)
{
    TempDir dir;
    const auto src = dir / "long.mkv";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=20", "-f", "lavfi", "-i",
               "sine=duration=20", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", src.string()});
    const auto out = dir / "long_psp.mp4";
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    engine.SetProgressInterval(50);

    enum Phase { Running, Paused, Resumed, Stopping };
    Phase phase = Running;
    int eventsWhilePaused = 0;
    int progressAfterResume = 0;
    std::chrono::steady_clock::time_point pausedAt;
    auto countPaused = [&] {
        if (phase == Paused)
            ++eventsWhilePaused;
    };
    bool installed = false;
    auto r = convert(dispatcher, engine, src, pspOutput(true, out), [&](TFFEncoder& e) {
        if (!installed) {
            installed = true;
            phase = Running;
            e.SetOnPreviewBitmap([&](const kv::media::TPreviewInfo& p) {
                countPaused();
                EXPECT_EQ(p.Bitmap->Width, 168);
                EXPECT_EQ(p.Bitmap->Height, 95);
            });
            // Replaces the harness's progress handler: pause from inside the first report,
            // stop (waiting) from inside the second one after resuming.
            e.SetOnProgress([&](const kv::media::TProgressInfo& p) {
                EXPECT_GE(p.TotalDuration, 19'000'000);
                if (phase == Running) {
                    phase = Paused;
                    pausedAt = std::chrono::steady_clock::now();
                    e.Pause();
                } else if (phase == Paused) {
                    ++eventsWhilePaused;
                } else if (phase == Resumed && ++progressAfterResume == 2) {
                    phase = Stopping;
                    e.Stop(true); // must not deadlock although the worker waits for this call
                }
            });
        }
        if (phase == Paused && std::chrono::steady_clock::now() - pausedAt > std::chrono::milliseconds(600)) {
            phase = Resumed;
            e.Resume();
        }
    });
    EXPECT_EQ(phase, Stopping);
    EXPECT_EQ(eventsWhilePaused, 0);
    ASSERT_EQ(r.terminates.size(), 2u);
    EXPECT_EQ(r.terminates[0].TaskIndex, 0);
    EXPECT_FALSE(r.terminates[0].Finished);
    EXPECT_FALSE(r.terminates[0].Exception) << r.terminates[0].ExceptionMsg;
    EXPECT_EQ(r.terminates[1].TaskIndex, -1);
    EXPECT_FALSE(r.terminates[1].Finished);

    // The stopped file is shorter and plays.
    auto check = pspCheck(out, "hi");
    EXPECT_EQ(check.exitCode, 0) << check.output;
    const double seconds = std::atof(probeValue(out, "v:0", "stream=duration").c_str());
    EXPECT_GT(seconds, 0.0);
    EXPECT_LT(seconds, 19.0);
}

TEST(EngineEvents, StopWhilePausedReturnsAndKeepsAPlayableFile)
{
    TempDir dir;
    const auto src = dir / "long.mp4";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=20", "-f", "lavfi", "-i",
               "sine=duration=20", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", src.string()});
    const auto out = dir / "long_psp.mp4";
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    engine.SetProgressInterval(50);
    bool stopped = false;
    auto r = convert(dispatcher, engine, src, pspOutput(false, out), [&](TFFEncoder& e) {
        if (!stopped && e.Working()) {
            dispatcher.serveFor(std::chrono::milliseconds(300));
            e.Pause();
            dispatcher.serveFor(std::chrono::milliseconds(200));
            e.Stop(true);
            stopped = true;
            EXPECT_FALSE(e.Working());
        }
    });
    ASSERT_TRUE(stopped);
    ASSERT_EQ(r.terminates.size(), 2u);
    EXPECT_FALSE(r.terminates[0].Finished);
    auto check = pspCheck(out, "lo");
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST(EngineErrors, AnExistingOutputIsNeverTouched)
{
    TempDir dir;
    const auto src = grayClip(dir, "clip.mp4", 0.5);
    const auto out = dir / "clip_psp.mp4";
    {
        std::ofstream(out) << "precious";
    }
    auto r = convertFile(src, pspOutput(true, out));
    EXPECT_FALSE(r.finished());
    EXPECT_NE(r.lastErr.find("already exists"), std::string::npos) << r.lastErr;
    EXPECT_EQ(readAll(out), "precious");

    // The file appears after the task was queued: the engine still refuses to replace it.
    fs::remove(out);
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    bool created = false;
    r = convert(dispatcher, engine, src, pspOutput(true, out), [&](TFFEncoder&) {});
    ASSERT_TRUE(r.finished()) << r.error(); // sanity: converts when the name is free
    fs::remove(out);
    engine.ClearTasks();
    kv::media::TInputOptions in;
    in.FileName = src.string();
    const int idx = engine.AddTask(src.string(), in);
    ASSERT_TRUE(engine.SetOutputFile(idx, out.string(), pspOutput(true, out)));
    std::ofstream(out) << "precious";
    created = true;
    std::atomic<bool> done{false};
    kv::media::TTerminateInfo first;
    engine.SetOnTerminate([&](const kv::media::TTerminateInfo& t) {
        if (t.TaskIndex == 0)
            first = t;
        if (t.TaskIndex == -1)
            done = true;
    });
    engine.Start(1);
    dispatcher.waitServing([&] { return done.load(); });
    engine.Stop(true);
    EXPECT_TRUE(created);
    EXPECT_TRUE(first.Exception);
    EXPECT_NE(first.ExceptionMsg.find("already exists"), std::string::npos) << first.ExceptionMsg;
    EXPECT_EQ(readAll(out), "precious");
}

TEST(EngineErrors, UnwritableOrMissingFolderGivesAClearErrorAndNoFile)
{
    TempDir dir;
    const auto src = grayClip(dir, "clip.mp4", 0.5);
    auto r = convertFile(src, pspOutput(true, dir / "no-such-folder" / "clip_psp.mp4"));
    EXPECT_FALSE(r.finished());
    EXPECT_NE(r.error().find("does not exist"), std::string::npos) << r.error();

    // /proc takes no new files, not even from root.
    const fs::path procOut = "/proc/kestrovid_test_psp.mp4";
    r = convertFile(src, pspOutput(true, procOut));
    EXPECT_FALSE(r.finished());
    EXPECT_NE(r.error().find("cannot create output file " + procOut.string()), std::string::npos)
        << r.error();
    EXPECT_FALSE(fs::exists(procOut));
}

TEST(EngineErrors, AFailedWriteRemovesThePartialOutput)
{
    TempDir dir;
    const auto src = dir / "clip.mkv";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=4", "-f", "lavfi", "-i",
               "sine=duration=4", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", src.string()});
    const auto out = dir / "clip_psp.mp4";
    // A file size limit makes the writes fail part-way, like a full disk.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 60 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto r = convertFile(src, pspOutput(true, out));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(r.finished());
    ASSERT_FALSE(r.terminates.empty());
    EXPECT_TRUE(r.terminates[0].Exception);
    EXPECT_NE(r.error().find(out.string()), std::string::npos) << r.error();
    EXPECT_FALSE(fs::exists(out)) << "a failed conversion must not leave a partial file";
}

TEST(EngineErrors, GarbageEmptyAndTruncatedSourcesFailClearlyOrConvertWhatIsThere)
{
    TempDir dir;
    const auto garbage = dir / "garbage.mp4";
    {
        std::ofstream g(garbage, std::ios::binary);
        for (int i = 0; i < 200000; ++i)
            g.put(static_cast<char>((i * 2654435761u) >> 13));
    }
    const auto empty = dir / "empty.avi";
    std::ofstream(empty).close();
    // An MP4 whose index sits at the end, cut in half: the index is gone.
    const auto whole = dir / "whole.mp4";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=2", "-c:v", "libx264", "-preset",
               "ultrafast", whole.string()});
    const auto cutMp4 = dir / "cut.mp4";
    {
        std::string bytes = readAll(whole);
        std::ofstream(cutMp4, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    for (const auto& src : {garbage, empty, cutMp4}) {
        const auto out = dir / (src.stem().string() + "_psp.mp4");
        auto r = convertFile(src, pspOutput(true, out));
        EXPECT_FALSE(r.finished()) << src;
        EXPECT_EQ(r.error().rfind("cannot open file " + src.string() + ": ", 0), 0u) << r.error();
        EXPECT_FALSE(fs::exists(out)) << out;
    }

    // A Matroska file cut short converts what it holds.
    const auto wholeMkv = dir / "whole.mkv";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=2", "-f", "lavfi", "-i",
               "sine=duration=2", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
               wholeMkv.string()});
    const auto cutMkv = dir / "cutmkv.mkv";
    {
        std::string bytes = readAll(wholeMkv);
        std::ofstream(cutMkv, std::ios::binary) << bytes.substr(0, bytes.size() * 6 / 10);
    }
    const auto out = dir / "cutmkv_psp.mp4";
    auto r = convertFile(cutMkv, pspOutput(true, out));
    ASSERT_TRUE(r.finished()) << r.error();
    auto check = pspCheck(out, "hi");
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST(EngineErrors, StartWithoutTasksReportsInsteadOfStayingSilent)
{
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    std::atomic<bool> done{false};
    kv::media::TTerminateInfo last;
    engine.SetOnTerminate([&](const kv::media::TTerminateInfo& t) {
        last = t;
        done = true;
    });
    engine.Start(1);
    dispatcher.waitServing([&] { return done.load(); });
    engine.Stop(true);
    EXPECT_EQ(last.TaskIndex, -1);
    EXPECT_TRUE(last.Exception);
    EXPECT_FALSE(last.ExceptionMsg.empty());
}

TEST(EngineLibraries, TheFFmpegInUseHasEverythingAConversionNeeds)
{
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    ASSERT_TRUE(engine.LoadAVLib("/nonexistent/LibAV")) << engine.LastErrMsg();
    EXPECT_TRUE(engine.AVLibLoaded());
}

TEST(Decoder, ProbesStreamsRatesAndFailures)
{
    TempDir dir;
    const auto ntsc = dir / "ntsc.mp4";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=30000/1001:duration=0.5", "-f", "lavfi", "-i",
               "sine=duration=0.5", "-map", "1:a", "-map", "0:v", "-c:v", "libx264", "-preset", "ultrafast",
               "-c:a", "aac", ntsc.string()});
    kv::media::TFFDecoder dec;
    ASSERT_TRUE(dec.LoadFile(ntsc.string())) << dec.LastErrMsg();
    EXPECT_EQ(dec.FileName(), ntsc.string());
    EXPECT_EQ(dec.StreamCount(), 2);
    EXPECT_NEAR(dec.Duration(), 500'000, 60'000);
    // Stream 0 is the audio here: no video rate.
    EXPECT_EQ(dec.VideoStreamInfo(0).FrameRate.num, -1);
    EXPECT_EQ(dec.VideoStreamInfo(0).FrameRate.den, -1);
    auto v = dec.VideoStreamInfo(1);
    EXPECT_EQ(v.FrameRate.num, 30000);
    EXPECT_EQ(v.FrameRate.den, 1001);
    EXPECT_EQ(v.Width, 160);
    EXPECT_EQ(dec.VideoStreamInfo(7).FrameRate.num, -1);
    dec.CloseFile();
    EXPECT_FALSE(dec.FileLoaded());

    EXPECT_FALSE(dec.LoadFile((dir / "missing.avi").string()));
    EXPECT_EQ(dec.LastErrMsg().rfind("cannot open file " + (dir / "missing.avi").string() + ": ", 0), 0u)
        << dec.LastErrMsg();
}

TEST(Logger, DeliversFFmpegAndEngineLinesOnTheHandlerThreadWithThreadIdAndLevel)
{
    QueueDispatcher dispatcher;
    kv::media::TFFLogger logger(dispatcher);
    logger.SetLogLevel(kv::media::TLogLevel::llInfo);
    struct Line {
        std::uint32_t tid;
        int level;
        std::string text;
        bool onServingThread;
    };
    std::vector<Line> lines;
    const auto serving = std::this_thread::get_id();
    logger.SetOnLog([&](std::uint32_t tid, kv::media::TLogLevel level, const std::string& text) {
        lines.push_back({tid, static_cast<int>(level), text, std::this_thread::get_id() == serving});
    });
    std::uint32_t workerTid = 0;
    std::thread worker([&] {
        workerTid = static_cast<std::uint32_t>(::syscall(SYS_gettid));
        kv::media::TFFLogger::Log(kv::media::TLogLevel::llInfo, "engine says hello");
        av_log(nullptr, AV_LOG_WARNING, "ffmpeg says %d", 42);
        av_log(nullptr, AV_LOG_WARNING, " in two pieces\n");
        av_log(nullptr, AV_LOG_DEBUG, "too detailed\n");
    });
    worker.join();
    dispatcher.drain();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "engine says hello");
    EXPECT_EQ(lines[0].level, 5);
    EXPECT_EQ(lines[0].tid, workerTid);
    EXPECT_TRUE(lines[0].onServingThread);
    EXPECT_EQ(lines[1].text, "ffmpeg says 42 in two pieces");
    EXPECT_EQ(lines[1].level, 4);

    logger.SetOnLog(nullptr);
    kv::media::TFFLogger::Log(kv::media::TLogLevel::llError, "nobody listens");
    dispatcher.drain();
    EXPECT_EQ(lines.size(), 2u);
}

TEST(EngineEvents, StopFromTheTerminateThreadAndTheHandlerThreadAtOnceIsSafe)
{
    TempDir dir;
    const auto src = grayClip(dir, "clip.mp4", 0.5);
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    std::atomic<int> reports{0};
    engine.SetOnTerminate([&](const kv::media::TTerminateInfo&) {
        engine.Stop(true); // on the engine's short-lived thread
        ++reports;
    });
    engine.ClearTasks();
    kv::media::TInputOptions in;
    const int idx = engine.AddTask(src.string(), in);
    const auto out = dir / "clip_psp.mp4";
    ASSERT_TRUE(engine.SetOutputFile(idx, out.string(), pspOutput(false, out)));
    engine.Start(1);
    engine.Stop(true);
    dispatcher.waitServing([&] { return reports.load() == 2; });
    EXPECT_FALSE(engine.Working());
}

TEST(EngineSync, AudioThatStartsLateStaysAtItsTimeBehindSilence)
{
    TempDir dir;
    const auto src = dir / "late.mkv";
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=25:duration=2", "-itsoffset", "0.6", "-f",
               "lavfi", "-i", "sine=frequency=1000:duration=1.4", "-c:v", "libx264", "-preset", "ultrafast",
               "-c:a", "flac", src.string()});
    const auto out = dir / "late_psp.mp4";
    auto r = convertFile(src, pspOutput(false, out));
    ASSERT_TRUE(r.finished()) << r.error();
    auto pcm = run({"ffmpeg", "-nostdin", "-v", "error", "-i", out.string(), "-map", "0:a", "-ac", "1", "-ar",
                    "24000", "-f", "s16le", "-"});
    ASSERT_EQ(pcm.exitCode, 0);
    auto level = [&](double from, double to) {
        const auto* s = reinterpret_cast<const std::int16_t*>(pcm.output.data());
        const size_t n = pcm.output.size() / 2;
        double peak = 0;
        for (size_t i = static_cast<size_t>(from * 24000); i < std::min(n, static_cast<size_t>(to * 24000));
             ++i)
            peak = std::max(peak, std::abs(static_cast<double>(s[i])));
        return peak;
    };
    EXPECT_LT(level(0.0, 0.5), 300) << "the tone came early";
    EXPECT_GT(level(0.7, 1.9), 1500) << "the tone is missing where it belongs";
}

TEST(EngineHook, PalettePicturesCanBeDrawnOnToo)
{
    TempDir dir;
    const auto src = dir / "palette.mkv";
    makeMedia({"-f", "lavfi", "-i", "color=c=0x303030:size=320x240:rate=10:duration=1", "-c:v", "png", "-pix_fmt",
               "pal8", src.string()});
    QueueDispatcher dispatcher;
    TFFEncoder engine(dispatcher);
    int calls = 0;
    engine.SetOnVideoInputHook([&](kv::media::THookInfo& info) {
        ++calls;
        kv::media::TRGBView v = info.Bitmap->Rows(160, 200);
        for (int y = 160; y < 200; ++y)
            std::fill_n(v.row(y), v.Width * 3, 255);
    });
    const auto out = dir / "palette_psp.mp4";
    auto r = convert(dispatcher, engine, src, pspOutput(true, out));
    ASSERT_TRUE(r.finished()) << r.error();
    EXPECT_EQ(calls, 10);
    const std::string y = lumaOf(out, 5);
    ASSERT_EQ(y.size(), 480u * 272u);
    EXPECT_GT(meanLuma(y, 480, 100, 190, 380, 220), 200);
    EXPECT_LT(meanLuma(y, 480, 100, 40, 380, 140), 90);
}
