// The preview player against real clips made with the ffmpeg tool, on SDL's dummy sound
// driver, with the test thread serving the dispatcher as the window's GUI thread would.
#include "media/TFFPlayer.h"
#include "media/player/PictureScaler.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kv::media::IVideoScreen;
using kv::media::QueueDispatcher;
using kv::media::TFFPlayer;
using kv::media::TRGBImage;

namespace {

constexpr int kScreenW = 168;
constexpr int kScreenH = 95;
constexpr std::int64_t kFrameUs = 40'000; // the clips run at 25 frames per second

// Records what the player shows; called on a player thread.
class RecordingScreen final : public IVideoScreen {
public:
    void Present(const TRGBImage& picture) override
    {
        std::lock_guard lk(mutex_);
        last_ = picture;
        ++presents_;
        lastWasClear_ = false;
    }
    void Clear() override
    {
        std::lock_guard lk(mutex_);
        ++clears_;
        lastWasClear_ = true;
    }
    int presents() const
    {
        std::lock_guard lk(mutex_);
        return presents_;
    }
    int clears() const
    {
        std::lock_guard lk(mutex_);
        return clears_;
    }
    bool lastWasClear() const
    {
        std::lock_guard lk(mutex_);
        return lastWasClear_;
    }
    TRGBImage last() const
    {
        std::lock_guard lk(mutex_);
        return last_;
    }

private:
    mutable std::mutex mutex_;
    TRGBImage last_;
    int presents_ = 0;
    int clears_ = 0;
    bool lastWasClear_ = false;
};

struct FileOpenReport {
    int count = 0;
    std::int64_t duration = 0;
    int frameW = 0, frameH = 0, screenW = 0, screenH = 0;
};

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new kv::test::TempDir();
        kv::test::makeClip(clip("av.mp4"), 3.0);
        kv::test::makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2", "-c:v",
                             "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                             clip("video.mkv").string()});
        kv::test::makeMedia({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=4", "-c:a",
                             "pcm_s16le", "-ac", "1", clip("tone.wav").string()});
        // Anamorphic: 160x120 with samples twice as wide as high shows as 8:3.
        kv::test::makeMedia({"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1", "-vf",
                             "setsar=2", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                             clip("wide.mkv").string()});
        kv::test::makeClip(clip("short.mkv"), 1.0);
        kv::test::makeClip(clip("whole.mkv"), 3.0);
        kv::test::makeClip(clip("whole.mp4"), 3.0);
        cutCopy(clip("whole.mkv"), clip("cut.mkv"), 0.5);
        cutCopy(clip("whole.mp4"), clip("cut.mp4"), 0.5); // its index sits at the end: gone
        std::mt19937 rng(7);
        std::ofstream garbage(clip("garbage.mp4"), std::ios::binary);
        for (int i = 0; i < 65536; ++i)
            garbage.put(static_cast<char>(rng() & 0xff));
        std::ofstream(clip("empty.mp4"), std::ios::binary).close();
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path clip(const std::string& name) { return dir_->path() / name; }
    static void cutCopy(const fs::path& from, const fs::path& to, double keep)
    {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::resize_file(to, static_cast<std::uintmax_t>(fs::file_size(from) * keep));
    }

    void SetUp() override
    {
        player_ = std::make_unique<TFFPlayer>(dispatcher_);
        player_->SetOnFileOpen([this](std::int64_t duration, int fw, int fh, int& sw, int& sh) {
            ++opened_.count;
            opened_.duration = duration;
            opened_.frameW = fw;
            opened_.frameH = fh;
            opened_.screenW = sw;
            opened_.screenH = sh;
            if (resizeTo_.first > 0) {
                sw = resizeTo_.first;
                sh = resizeTo_.second;
            }
        });
        player_->SetOnPosition([this](std::int64_t pts) { positions_.push_back(pts); });
        player_->SetOnFrameShown([this](std::int64_t pts, std::int64_t) {
            std::lock_guard lk(shownMutex_);
            shown_.push_back(pts);
        });
    }
    void TearDown() override { player_.reset(); }

    // Serves the dispatcher until `done` or the safety bound; returns done().
    bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (!done() && std::chrono::steady_clock::now() < until)
            dispatcher_.serveFor(10ms);
        return done();
    }
    void serve(std::chrono::milliseconds span) { dispatcher_.serveFor(span); }

    bool open(const std::string& name, bool paused = false)
    {
        const int before = opened_.count;
        const bool ok = player_->Open(clip(name).string(), &screen_, kScreenW, kScreenH, paused);
        if (ok) {
            EXPECT_TRUE(serveUntil([&] { return opened_.count > before; }));
        }
        return ok;
    }
    std::vector<std::int64_t> shown()
    {
        std::lock_guard lk(shownMutex_);
        return shown_;
    }
    // Serves until the position reports have stopped for a while (the end of the file).
    bool serveToEnd(std::chrono::milliseconds bound = 15s)
    {
        std::size_t seen = positions_.size();
        auto quietSince = std::chrono::steady_clock::now();
        return serveUntil(
            [&] {
                if (positions_.size() != seen) {
                    seen = positions_.size();
                    quietSince = std::chrono::steady_clock::now();
                }
                return !positions_.empty() && std::chrono::steady_clock::now() - quietSince > 600ms;
            },
            bound);
    }

    static kv::test::TempDir* dir_;
    QueueDispatcher dispatcher_;
    RecordingScreen screen_;
    std::unique_ptr<TFFPlayer> player_;
    FileOpenReport opened_;
    std::pair<int, int> resizeTo_{0, 0};
    std::vector<std::int64_t> positions_;
    std::mutex shownMutex_;
    std::vector<std::int64_t> shown_;
};

kv::test::TempDir* PlayerTest::dir_ = nullptr;

bool isBlack(const TRGBImage& img, int x, int y)
{
    const std::uint8_t* p = img.Pixels.data() + static_cast<std::ptrdiff_t>(y) * img.Stride + x * 3;
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

} // namespace

TEST(PictureFit, KeepsTheDisplayAspectRatioInsideTheScreen)
{
    struct Case {
        int w, h;
        AVRational sar;
        int sw, sh;
        kv::media::player::FitRect expected;
    };
    const Case cases[] = {
        {320, 240, {0, 1}, 168, 95, {20, 0, 127, 95}},   // 4:3 pillarboxed
        {1920, 1080, {1, 1}, 168, 95, {0, 0, 168, 95}},  // 16:9 fills (94.5 rows round up)
        {720, 576, {16, 15}, 168, 95, {20, 0, 127, 95}}, // PAL 4:3 with non-square samples
        {160, 120, {2, 1}, 168, 95, {0, 16, 168, 63}},   // 8:3 letterboxed
        {100, 2000, {1, 1}, 168, 95, {81, 0, 5, 95}},    // very tall stays at least one column
        {320, 240, {1, 1}, 0, 95, {0, 0, 0, 0}},         // no screen: nothing
    };
    for (const Case& c : cases) {
        const auto r = kv::media::player::fitPicture(c.w, c.h, c.sar, c.sw, c.sh);
        EXPECT_EQ(r.x, c.expected.x) << c.w << "x" << c.h;
        EXPECT_EQ(r.y, c.expected.y) << c.w << "x" << c.h;
        EXPECT_EQ(r.width, c.expected.width) << c.w << "x" << c.h;
        EXPECT_EQ(r.height, c.expected.height) << c.w << "x" << c.h;
    }
}

TEST_F(PlayerTest, FileOpenReportsDurationAndSizes)
{
    struct Case {
        const char* file;
        std::int64_t duration;
        int frameW, frameH;
        bool picture;
    };
    const Case cases[] = {
        {"av.mp4", 3'000'000, 320, 240, true},
        {"video.mkv", 2'000'000, 320, 240, true},
        {"tone.wav", 4'000'000, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        opened_ = {};
        const int presentsBefore = screen_.presents();
        ASSERT_TRUE(open(c.file)) << player_->LastErrMsg();
        EXPECT_EQ(opened_.count, 1);
        EXPECT_NEAR(static_cast<double>(opened_.duration), static_cast<double>(c.duration), 60'000.0);
        EXPECT_EQ(opened_.frameW, c.frameW);
        EXPECT_EQ(opened_.frameH, c.frameH);
        EXPECT_EQ(opened_.screenW, kScreenW);
        EXPECT_EQ(opened_.screenH, kScreenH);
        if (c.picture) {
            ASSERT_TRUE(serveUntil([&] { return screen_.presents() > presentsBefore; }));
            const TRGBImage img = screen_.last();
            EXPECT_EQ(img.Width, kScreenW);
            EXPECT_EQ(img.Height, kScreenH);
            // 4:3 in 168x95: black bars left and right, picture in the middle.
            EXPECT_TRUE(isBlack(img, 0, 47));
            EXPECT_TRUE(isBlack(img, kScreenW - 1, 47));
            EXPECT_FALSE(isBlack(img, kScreenW / 2, 10));
        } else {
            ASSERT_TRUE(serveUntil([&] { return !positions_.empty(); }));
            EXPECT_EQ(screen_.presents(), presentsBefore);
            EXPECT_TRUE(screen_.lastWasClear());
        }
        player_->Stop(true);
    }
}

TEST_F(PlayerTest, HandlerMayResizeTheScreenAndTheSampleAspectIsKept)
{
    resizeTo_ = {200, 150};
    ASSERT_TRUE(open("wide.mkv")) << player_->LastErrMsg();
    ASSERT_TRUE(serveUntil([&] { return screen_.presents() > 0; }));
    const TRGBImage img = screen_.last();
    ASSERT_EQ(img.Width, 200);
    ASSERT_EQ(img.Height, 150);
    // 8:3 into 200x150 is 200x75: bars above and below.
    EXPECT_TRUE(isBlack(img, 100, 10));
    EXPECT_TRUE(isBlack(img, 100, 140));
    EXPECT_FALSE(isBlack(img, 100, 75));
    EXPECT_FALSE(isBlack(img, 2, 75));
}

TEST_F(PlayerTest, PositionsRiseWhilePlayingAndStandStillWhilePaused)
{
    for (const char* file : {"av.mp4", "video.mkv", "tone.wav"}) {
        SCOPED_TRACE(file);
        positions_.clear();
        const bool picture = std::string(file) != "tone.wav";
        ASSERT_TRUE(open(file)) << player_->LastErrMsg();
        ASSERT_TRUE(serveUntil([&] { return positions_.size() >= 4; }));
        EXPECT_TRUE(std::is_sorted(positions_.begin(), positions_.end()));
        EXPECT_GT(positions_.back(), positions_.front());

        player_->Pause();
        player_->Pause(); // no effect when already paused
        EXPECT_TRUE(player_->Paused());
        serve(100ms); // reports already on their way arrive
        const std::int64_t standing = positions_.back();
        const std::size_t count = positions_.size();
        const int presents = screen_.presents();
        serve(500ms);
        for (std::size_t i = count; i < positions_.size(); ++i)
            EXPECT_EQ(positions_[i], standing);
        EXPECT_EQ(screen_.presents(), presents);
        EXPECT_EQ(screen_.lastWasClear(), !picture);

        player_->Resume();
        player_->Resume();
        EXPECT_FALSE(player_->Paused());
        const std::size_t resumedAt = positions_.size();
        ASSERT_TRUE(serveUntil([&] { return positions_.size() >= resumedAt + 3; }));
        // Goes on from where it stood, not from where the wall clock would be.
        EXPECT_GE(positions_[resumedAt], standing);
        EXPECT_LT(positions_[resumedAt], standing + 400'000);
        EXPECT_GT(positions_.back(), standing);
        player_->Stop(true);
    }
}

TEST_F(PlayerTest, SeekLandsWithinOneFrameOfItsTarget)
{
    ASSERT_TRUE(open("av.mp4")) << player_->LastErrMsg();
    for (std::int64_t target : {1'000'000LL, 2'200'000LL, 500'000LL, 1'520'000LL}) {
        SCOPED_TRACE(target);
        const std::size_t before = shown().size();
        player_->Seek(target, 0, true);
        const auto s = shown();
        // A picture of the old place may have been on its way to the screen when the seek came.
        const auto landed =
            std::find_if(s.begin() + static_cast<std::ptrdiff_t>(before), s.end(),
                         [&](std::int64_t pts) { return std::llabs(pts - target) <= kFrameUs; });
        ASSERT_NE(landed, s.end());
        // From there on only pictures of the new place.
        EXPECT_TRUE(std::all_of(landed, s.end(),
                                [&](std::int64_t pts) { return pts >= *landed && pts < *landed + 500'000; }));
        // The reports follow the new place.
        const std::size_t reports = positions_.size();
        ASSERT_TRUE(serveUntil([&] { return positions_.size() >= reports + 2; }));
        EXPECT_LE(std::llabs(positions_[reports + 1] - target), 500'000);
    }
    player_->Stop(true);
}

TEST_F(PlayerTest, SeekWhilePausedShowsTheNewPictureAndStaysPaused)
{
    ASSERT_TRUE(open("av.mp4", true)) << player_->LastErrMsg();
    ASSERT_TRUE(serveUntil([&] { return screen_.presents() > 0; })); // opened paused: first picture
    EXPECT_TRUE(player_->Paused());
    player_->Seek(2'000'000, 0, true);
    const auto s = shown();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_LE(std::llabs(s[1] - 2'000'000), kFrameUs);
    serve(300ms);
    EXPECT_EQ(shown().size(), 2u);
    EXPECT_TRUE(player_->Paused());
}

TEST_F(PlayerTest, TheEndKeepsTheLastPictureAndStopsReporting)
{
    struct Case {
        const char* file;
        std::int64_t seek; // -1: play from the start
    };
    const Case cases[] = {
        {"short.mkv", -1}, {"av.mp4", 60'000'000}, {"video.mkv", 1'700'000}, {"tone.wav", 3'600'000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        positions_.clear();
        ASSERT_TRUE(open(c.file)) << player_->LastErrMsg();
        if (c.seek >= 0)
            player_->Seek(c.seek, 0, true);
        ASSERT_TRUE(serveToEnd());
        EXPECT_NEAR(static_cast<double>(positions_.back()), static_cast<double>(opened_.duration),
                    3.0 * kFrameUs);
        if (opened_.frameW > 0) {
            EXPECT_FALSE(screen_.lastWasClear());
            const auto s = shown();
            ASSERT_FALSE(s.empty());
            EXPECT_GE(s.back(), opened_.duration - 2 * kFrameUs);
        }
        // Playing again from a seek after the end.
        const std::size_t reports = positions_.size();
        player_->Seek(0);
        ASSERT_TRUE(serveUntil([&] { return positions_.size() >= reports + 3; }));
        EXPECT_LT(positions_[reports], 500'000);
        player_->Stop(true);
    }
}

TEST_F(PlayerTest, VolumeScalesTheSamplesWritten)
{
    std::mutex m;
    std::vector<int> peaks; // one per buffer written
    player_->SetAudioTap([&](const std::int16_t* samples, int count, int) {
        int peak = 0;
        for (int i = 0; i < count; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
        std::lock_guard lk(m);
        peaks.push_back(peak);
    });
    auto measure = [&](std::uint8_t volume) {
        player_->SetAudioVolume(volume);
        {
            std::lock_guard lk(m);
            peaks.clear();
        }
        const std::int64_t from = positions_.empty() ? 0 : positions_.back();
        serve(500ms);
        std::lock_guard lk(m);
        // The first buffers may have been filled before the change.
        EXPECT_GT(peaks.size(), 8u);
        EXPECT_GT(positions_.back(), from + 200'000); // the sound went on meanwhile
        return peaks.size() > 3 ? *std::max_element(peaks.begin() + 3, peaks.end()) : -1;
    };
    EXPECT_EQ(player_->AudioVolume(), 128); // the default
    ASSERT_TRUE(open("tone.wav")) << player_->LastErrMsg();
    ASSERT_TRUE(player_->SoundActive());
    ASSERT_TRUE(serveUntil([&] { return positions_.size() >= 2; }));
    const int full = measure(128);
    const int half = measure(64);
    const int none = measure(0);
    EXPECT_GT(full, 3000); // the sine tone is one eighth of full scale
    EXPECT_NEAR(half, full / 2, 2);
    EXPECT_EQ(none, 0);
    EXPECT_EQ(player_->AudioVolume(), 0);
    player_->SetAudioVolume(200);
    EXPECT_EQ(player_->AudioVolume(), 128);
    // The volume is kept across files.
    player_->SetAudioVolume(30);
    ASSERT_TRUE(open("av.mp4"));
    EXPECT_EQ(player_->AudioVolume(), 30);
    player_->Stop(true); // the tap refers to this test's locals
}

TEST_F(PlayerTest, WithoutASoundDeviceThePicturePlaysOnTheSystemClock)
{
    player_.reset();
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    SetUp();
    const bool ok = open("av.mp4");
    const bool sound = player_->SoundActive();
    if (old)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    ASSERT_TRUE(ok) << player_->LastErrMsg();
    EXPECT_FALSE(sound);
    ASSERT_TRUE(serveUntil([&] { return positions_.size() >= 4 && screen_.presents() >= 10; }));
    EXPECT_GT(positions_.back(), positions_.front());
}

TEST_F(PlayerTest, OpenStopsWhatPlaysAndEventsOfTheOldFileStop)
{
    ASSERT_TRUE(open("av.mp4"));
    ASSERT_TRUE(serveUntil([&] { return positions_.size() >= 3; }));
    player_->Seek(2'500'000, 0, true);
    ASSERT_TRUE(open("short.mkv"));
    EXPECT_EQ(opened_.count, 2);
    EXPECT_NEAR(static_cast<double>(opened_.duration), 1'000'000.0, 60'000.0);
    const std::size_t from = positions_.size();
    ASSERT_TRUE(serveUntil([&] { return positions_.size() >= from + 2; }));
    // Every report from here on belongs to the short file.
    for (std::size_t i = from; i < positions_.size(); ++i)
        EXPECT_LE(positions_[i], 1'000'000);
}

TEST_F(PlayerTest, StopWaitsWhileTheFileOpenHandOverIsPending)
{
    // Nobody served the dispatcher yet: the player's thread waits in its hand-over, and the
    // waiting stop must serve it instead of deadlocking.
    ASSERT_TRUE(player_->Open(clip("av.mp4").string(), &screen_, kScreenW, kScreenH));
    player_->Stop(true);
    EXPECT_EQ(opened_.count, 0); // stopped before it was delivered: not delivered late either
    serve(100ms);
    EXPECT_EQ(opened_.count, 0);
    EXPECT_TRUE(screen_.lastWasClear());
}

TEST_F(PlayerTest, HandlersMayStopThePlayerAndNothingIsReportedAfterAStop)
{
    // A file-open handler that stops and waits: the player's thread waiting for the
    // handler must not hold the stop up.
    int opens = 0;
    player_->SetOnFileOpen([&](std::int64_t, int, int, int&, int&) {
        ++opens;
        player_->Stop(true);
    });
    ASSERT_TRUE(player_->Open(clip("av.mp4").string(), &screen_, kScreenW, kScreenH));
    ASSERT_TRUE(serveUntil([&] { return opens == 1; }));
    serve(300ms);
    EXPECT_TRUE(positions_.empty());

    // A position handler that stops without waiting: the first report is the last one.
    player_->SetOnFileOpen(nullptr);
    player_->SetOnPosition([&](std::int64_t pts) {
        positions_.push_back(pts);
        player_->Stop(false);
    });
    ASSERT_TRUE(player_->Open(clip("av.mp4").string(), &screen_, kScreenW, kScreenH));
    ASSERT_TRUE(serveUntil([&] { return !positions_.empty(); }));
    serve(500ms);
    EXPECT_EQ(positions_.size(), 1u);
}

TEST_F(PlayerTest, ManyOpenSeekStopCyclesNeitherHangNorLeak)
{
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(player_->Open(clip(i % 3 == 0 ? "tone.wav" : "av.mp4").string(), &screen_, kScreenW,
                                  kScreenH, i % 4 == 1))
            << player_->LastErrMsg();
        serve(15ms);
        player_->Seek(1'000'000 + i * 20'000, 0, i % 5 == 0);
        serve(10ms);
        if (i % 2 == 0)
            player_->Pause();
        player_->Stop(i % 3 != 2); // some stops do not wait: the next open or stop reaps them
    }
    player_->Stop(true);
    serve(50ms);
    EXPECT_GE(opened_.count, 10);
}

TEST_F(PlayerTest, ATruncatedFilePlaysUpToTheBreakAndEnds)
{
    ASSERT_TRUE(open("cut.mkv")) << player_->LastErrMsg();
    player_->Seek(700'000, 0, true);
    ASSERT_TRUE(serveToEnd());
    EXPECT_GT(positions_.back(), 700'000);
    EXPECT_LT(positions_.back(), 3'000'000);
    player_->Stop(true);
}

TEST_F(PlayerTest, BadFilesAreRefusedWithAReason)
{
    for (const char* name : {"garbage.mp4", "empty.mp4", "cut.mp4", "missing.mp4"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(player_->Open(clip(name).string(), &screen_, kScreenW, kScreenH));
        const std::string why = player_->LastErrMsg();
        EXPECT_NE(why.find(name), std::string::npos) << why;
        EXPECT_NE(why.find(": "), std::string::npos) << why;
        serve(20ms);
        EXPECT_EQ(opened_.count, 0);
        EXPECT_TRUE(positions_.empty());
    }
    // A refused file leaves the player usable.
    EXPECT_TRUE(open("short.mkv"));
}

TEST_F(PlayerTest, LibrariesCheck)
{
    EXPECT_FALSE(player_->AVLibLoaded());
    EXPECT_TRUE(player_->LoadAVLib((kv::test::buildDir() / "LibAV").string())) << player_->LastErrMsg();
    EXPECT_TRUE(player_->AVLibLoaded());
}

// A seek that waits serves the handler thread meanwhile, and a handler served then (or, in
// the window, a click on Stop or a dropped file) may stop the player, which frees the file
// being played. The waiting seek must end then without touching it (shows under ASan).
TEST_F(PlayerTest, AStopFromAHandlerDuringAWaitedSeekEndsTheSeek)
{
    ASSERT_TRUE(open("av.mp4")) << player_->LastErrMsg();
    std::this_thread::sleep_for(600ms); // position reports queue up meanwhile
    bool seeking = false;
    int stopsDuringSeek = 0;
    player_->SetOnPosition([&](std::int64_t) {
        if (seeking) {
            ++stopsDuringSeek;
            player_->Stop(true);
        }
    });
    seeking = true;
    player_->Seek(1'500'000, 0, true);
    seeking = false;
    EXPECT_EQ(stopsDuringSeek, 1);
    EXPECT_FALSE(player_->Paused());
}
