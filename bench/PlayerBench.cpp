// Measures the preview player: how far picture and sound drift apart over a long clip, and
// how much CPU playing a 1080p clip into the window's 168x95 screen costs.
//   bench_playerbench [folder for the clips] [all|drift|cpu]   (SDL_AUDIODRIVER=dummy without sound)
#include "media/TFFPlayer.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kv::media::QueueDispatcher;
using kv::media::TFFPlayer;

namespace {

class NullScreen final : public kv::media::IVideoScreen {
public:
    void Present(const kv::media::TRGBImage&) override { ++presents; }
    void Clear() override {}
    std::atomic<int> presents{0};
};

// `grain` adds film-grain-like noise, so the picture costs what camera footage costs to decode.
bool makeClip(const fs::path& file, const std::string& size, int seconds, bool grain = false)
{
    if (fs::exists(file))
        return true;
    const std::string d = std::to_string(seconds);
    const std::string encode = grain ? " -vf noise=alls=12:allf=t -c:v libx264 -preset superfast -crf 23"
                                     : " -c:v libx264 -preset ultrafast";
    const std::string cmd = "ffmpeg -y -v error -f lavfi -i testsrc2=size=" + size +
                            ":rate=25:duration=" + d +
                            " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + d + encode +
                            " -pix_fmt yuv420p -c:a aac -b:a 128k -shortest '" + file.string() + "'";
    std::printf("making %s ...\n", file.c_str());
    std::fflush(stdout);
    return std::system(cmd.c_str()) == 0;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Sample {
    std::int64_t framePts;
    std::int64_t clockNow;
    std::int64_t heard; // µs of sound handed to the device so far
};

// Plays the whole clip, noting at each picture its time, the player's clock and how much
// sound the device has been given.
void measureDrift(const fs::path& clip)
{
    QueueDispatcher dispatcher;
    NullScreen screen;
    std::mutex m;
    std::vector<Sample> samples;
    std::atomic<std::int64_t> soundFrames{0};
    std::atomic<int> rate{48000};
    std::atomic<bool> soundStarted{false};
    std::int64_t duration = 0;
    std::int64_t lastPos = 0;
    TFFPlayer player(dispatcher); // after everything its handlers use
    player.SetAudioTap([&](const std::int16_t* s, int count, int channels) {
        // Count only from the first buffer that carries sound (the device starts before the file).
        if (!soundStarted) {
            if (std::none_of(s, s + count, [](std::int16_t v) { return v != 0; }))
                return;
            soundStarted = true;
        }
        soundFrames += count / channels;
    });
    player.SetOnFrameShown([&](std::int64_t pts, std::int64_t now) {
        std::lock_guard lk(m);
        samples.push_back({pts, now, soundFrames.load() * 1'000'000 / rate.load()});
    });
    player.SetOnFileOpen([&](std::int64_t d, int, int, int&, int&) { duration = d; });
    player.SetOnPosition([&](std::int64_t p) { lastPos = p; });
    if (!player.Open(clip.string(), &screen, 168, 95)) {
        std::printf("cannot open %s: %s\n", clip.c_str(), player.LastErrMsg().c_str());
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 75s && (duration == 0 || lastPos < duration - 100'000))
        dispatcher.serveFor(50ms);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    player.Stop(true);

    std::lock_guard lk(m);
    if (samples.size() < 10) {
        std::printf("too few pictures shown (%zu)\n", samples.size());
        return;
    }
    // The device is handed sound one buffer ahead of what is heard; compare against sound
    // handed over minus the buffer the clock also allows for, so both use the same reference.
    double maxClock = 0, sumClock = 0, maxSound = 0, sumSound = 0;
    for (const Sample& s : samples) {
        const double c = static_cast<double>(s.clockNow - s.framePts);
        const double a = static_cast<double>(s.heard - s.framePts);
        maxClock = std::max(maxClock, std::abs(c));
        sumClock += c;
        maxSound = std::max(maxSound, std::abs(a));
        sumSound += a;
    }
    auto avgSound = [&](std::size_t from, std::size_t to) {
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += static_cast<double>(samples[i].heard - samples[i].framePts);
        return sum / static_cast<double>(to - from) / 1000.0;
    };
    const std::size_t n = samples.size();
    const std::size_t tenth = n / 10;
    std::printf("drift over %s (%.1f s of media in %.1f s wall, %zu pictures shown of ~%lld):\n",
                clip.filename().c_str(), static_cast<double>(duration) / 1e6, wall, n,
                static_cast<long long>(duration / 40'000));
    std::printf("  player clock - picture time at presentation: mean %+.1f ms, max |.| %.1f ms\n",
                sumClock / n / 1000.0, maxClock / 1000.0);
    std::printf("  sound handed to the device - picture time:  mean %+.1f ms, max |.| %.1f ms\n",
                sumSound / n / 1000.0, maxSound / 1000.0);
    std::printf("  same, first tenth of the clip %+.1f ms, last tenth %+.1f ms (the drift over the clip)\n",
                avgSound(0, tenth), avgSound(n - tenth, n));
}

void measureCpu(const fs::path& clip, int seconds)
{
    QueueDispatcher dispatcher;
    NullScreen screen;
    std::atomic<int> shown{0};
    TFFPlayer player(dispatcher);
    player.SetOnFrameShown([&](std::int64_t, std::int64_t) { ++shown; });
    if (!player.Open(clip.string(), &screen, 168, 95)) {
        std::printf("cannot open %s: %s\n", clip.c_str(), player.LastErrMsg().c_str());
        return;
    }
    const double cpu0 = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds))
        dispatcher.serveFor(50ms);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpu0;
    const int frames = shown.load();
    player.Stop(true);
    std::printf(
        "cpu playing %s into 168x95 for %.1f s: %.2f s of CPU = %.0f%% of one core, %d pictures shown "
        "(%.1f per second of 25)\n",
        clip.filename().c_str(), wall, cpu, 100.0 * cpu / wall, frames, frames / wall);
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kv_player_bench";
    fs::create_directories(dir);
    const fs::path longClip = dir / "long_320x240_60s.mp4";
    const fs::path bigClip = dir / "big_1920x1080_25s.mp4";
    const fs::path grainClip = dir / "grain_1920x1080_25s.mp4";
    if (!makeClip(longClip, "320x240", 60) || !makeClip(bigClip, "1920x1080", 25) ||
        !makeClip(grainClip, "1920x1080", 25, true)) {
        std::printf("ffmpeg could not make the clips\n");
        return 1;
    }
    const std::string what = argc > 2 ? argv[2] : "all";
    if (what != "cpu")
        measureDrift(longClip);
    if (what != "drift") {
        measureCpu(bigClip, 20);
        measureCpu(grainClip, 20);
    }
    return 0;
}
