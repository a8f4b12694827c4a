// Subtitles loaded through the window are burnt into the conversion's frames at their
// times, and not at all while the subtitle switch is up.
#include "WindowHarness.h"

#include <cstdio>
#include <fstream>

using namespace kv::app;
using namespace kv::test;
namespace fs = std::filesystem;

namespace {

fs::path writeText(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

// A 7 s clip of one dark blue colour with a tone: any light pixel is subtitle text.
fs::path makeBlueClip(const fs::path& file)
{
    makeMedia({"-f", "lavfi", "-i", "color=c=0x203060:size=320x240:rate=25:duration=7", "-f", "lavfi", "-i",
               "sine=frequency=440:duration=7", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
               "-shortest", file.string()});
    return file;
}

// Light pixels in the lower half of the output's frame at `seconds`.
int lightPixelsAt(const fs::path& video, double seconds, const fs::path& scratch)
{
    const fs::path raw = scratch / "frame.rgb";
    char at[32];
    std::snprintf(at, sizeof at, "%.2f", seconds);
    const CommandResult r = run({"ffmpeg", "-y", "-v", "error", "-ss", at, "-i", video.string(), "-frames:v",
                                 "1", "-f", "rawvideo", "-pix_fmt", "rgb24", raw.string()});
    if (r.exitCode != 0)
        return -1;
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const int width = 480, height = 272;
    if (bytes.size() != static_cast<size_t>(width * height * 3))
        return -1;
    int light = 0;
    for (int y = height / 2; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + (y * width + x) * 3;
            if (p[0] > 150 && p[1] > 150)
                ++light;
        }
    return light;
}

const std::string kSubRip = "1\n00:00:02,000 --> 00:00:03,000\nHELLO THERE\n\n"
                            "2\n00:00:05,200 --> 00:00:06,000\nSECOND LINE\n\n";

} // namespace

TEST(SubtitleBurning, SubRipCuesAppearAtTheirTimesAndNotBetween)
{
    TempDir dir;
    const fs::path clip = makeBlueClip(dir / "blue.mp4");
    const fs::path subs = writeText(dir / "blue.srt", kSubRip);
    WindowHarness w;
    TfrmMain& f = *w;
    f.HandOverCommandLine({qpath(clip), qpath(subs)});
    ASSERT_FALSE(f.btnSubOn->isHidden());
    ASSERT_TRUE(f.Burner.btnSubOn().load());
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(w.waitFinished());
    EXPECT_TRUE(f.btnSubOn->isHidden());
    EXPECT_FALSE(f.Burner.btnSubOn().load());

    const fs::path out = dir / "blue_(Kestrovid)_psp.mp4";
    ASSERT_EQ(pspCheck(out, "hi").exitCode, 0);
    // The credit row shows for 0.8 s from the start; the cues from 2 s and 5 s.
    EXPECT_GT(lightPixelsAt(out, 0.3, dir.path()), 100);
    EXPECT_EQ(lightPixelsAt(out, 1.5, dir.path()), 0);
    EXPECT_GT(lightPixelsAt(out, 2.3, dir.path()), 100);
    EXPECT_EQ(lightPixelsAt(out, 4.5, dir.path()), 0);
    EXPECT_GT(lightPixelsAt(out, 5.3, dir.path()), 100);
}

TEST(SubtitleBurning, SwitchUpMeansNoSubtitles)
{
    TempDir dir;
    const fs::path clip = makeBlueClip(dir / "blue.mp4");
    const fs::path subs = writeText(dir / "blue.srt", kSubRip);
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.HandOverCommandLine({qpath(clip), qpath(subs)});
    QTest::mouseClick(f.btnSubOn, Qt::LeftButton);
    ASSERT_FALSE(f.Burner.btnSubOn().load());
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(w.waitFinished());
    const fs::path out = dir / "blue_(Kestrovid)_psp.mp4";
    EXPECT_EQ(lightPixelsAt(out, 0.3, dir.path()), 0);
    EXPECT_EQ(lightPixelsAt(out, 2.3, dir.path()), 0);
}
