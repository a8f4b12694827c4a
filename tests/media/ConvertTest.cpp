// Every kind of source the converter must take, in both PSP profiles, checked with the PSP
// checker and for the lengths of the two streams.
#include "EngineHarness.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using namespace kv::test;

namespace {

struct SourceKind {
    const char* name;
    const char* file;
    std::vector<std::string> ffmpegArgs; // inputs and codecs; the output path is appended
    double seconds;                      // expected output length
};

const std::vector<SourceKind>& sourceKinds()
{
    static const std::vector<SourceKind> kinds = {
        {"h264_aac_mp4",
         "a.mp4",
         {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=1.5", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=48000:duration=1.5", "-c:v", "libx264", "-preset", "ultrafast",
          "-pix_fmt", "yuv420p", "-c:a", "aac"},
         1.5},
        {"h264_aac_mkv",
         "b.mkv",
         {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=1.5", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=44100:duration=1.5", "-c:v", "libx264", "-preset", "ultrafast",
          "-pix_fmt", "yuv420p", "-c:a", "aac"},
         1.5},
        {"mpeg4_mp3_avi",
         "c.avi",
         {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1.5", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=44100:duration=1.5", "-c:v", "mpeg4", "-q:v", "5", "-c:a",
          "libmp3lame"},
         1.5},
        {"ntsc_rate_720p",
         "d.mp4",
         {"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30000/1001:duration=1", "-f", "lavfi", "-i",
          "sine=duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"},
         1.0},
        {"odd_size",
         "e.mkv",
         {"-f", "lavfi", "-i", "testsrc2=size=641x359:rate=25:duration=1", "-f", "lavfi", "-i",
          "sine=duration=1", "-c:v", "ffv1", "-c:a", "flac"},
         1.0},
        {"non_square_pixels",
         "f.mkv",
         {"-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25:duration=1,setsar=12/11", "-f", "lavfi", "-i",
          "sine=duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"},
         1.0},
        {"variable_rate",
         "g.mkv",
         {"-f", "lavfi", "-i",
          "testsrc2=size=320x180:rate=50:duration=2,setpts='N/50/TB+0.3*gte(N,40)/"
          "TB',select='not(mod(n,3))+gte(n,60)'",
          "-f", "lavfi", "-i", "sine=duration=2.3", "-fps_mode", "vfr", "-c:v", "libx264", "-preset",
          "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"},
         2.3},
        {"audio_only_mp3", "h.mp3", {"-f", "lavfi", "-i", "sine=duration=1.2", "-c:a", "libmp3lame"}, 1.2},
        {"audio_only_flac",
         "i.flac",
         {"-f", "lavfi", "-i", "sine=duration=1.2:sample_rate=96000", "-c:a", "flac"},
         1.2},
        {"audio_only_wav",
         "j.wav",
         {"-f", "lavfi", "-i", "sine=duration=1.2", "-ac", "1", "-c:a", "pcm_s16le"},
         1.2},
        {"video_only",
         "k.mp4",
         {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=24:duration=1.2", "-c:v", "libx264", "-preset",
          "ultrafast", "-pix_fmt", "yuv420p"},
         1.2},
    };
    return kinds;
}

class ConvertEverySource : public ::testing::TestWithParam<std::tuple<size_t, bool>> {};

double probeSeconds(const fs::path& f, const std::string& stream)
{
    const std::string v = probeValue(f, stream, "stream=duration");
    return v.empty() ? -1 : std::atof(v.c_str());
}

} // namespace

TEST_P(ConvertEverySource, GivesAFileThePspPlays)
{
    const auto& kind = sourceKinds()[std::get<0>(GetParam())];
    const bool hi = std::get<1>(GetParam());
    TempDir dir;
    const fs::path src = dir / kind.file;
    auto args = kind.ffmpegArgs;
    args.push_back(src.string());
    ASSERT_TRUE(makeMedia(args));
    const fs::path out = dir.path() / (std::string(kind.name) + (hi ? "_hi" : "_lo") + "_psp.mp4");

    RunResult r = convertFile(src, pspOutput(hi, out));
    ASSERT_TRUE(r.finished()) << r.error();
    ASSERT_EQ(r.terminates.size(), 2u);
    EXPECT_EQ(r.terminates[1].TaskIndex, -1);

    auto check = pspCheck(out, hi ? "hi" : "lo");
    EXPECT_EQ(check.exitCode, 0) << check.output;

    const double v = probeSeconds(out, "v:0");
    const double a = probeSeconds(out, "a:0");
    EXPECT_NEAR(v, a, 0.1) << "video and audio lengths differ";
    EXPECT_NEAR(v, kind.seconds, 0.2) << "the output is not as long as the source";
}

INSTANTIATE_TEST_SUITE_P(Sources, ConvertEverySource,
                         ::testing::Combine(::testing::Range<size_t>(0, 11), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(sourceKinds()[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "_Hi" : "_Lo");
                         });
