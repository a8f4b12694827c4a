#include "options/Profiles.h"
#include "options/TfrmOption.h"
#include "options/Vendor.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace kv::options;
using kv::test::TempDir;

TEST(OutputFileName, TableOfNamingCases)
{
    struct Case {
        const char* source;               // relative to the temp folder
        std::vector<const char*> present; // files already there
        const char* want;
    };
    const Case cases[] = {
        {"clip.avi", {}, "clip_(Kestrovid)_psp.mp4"},
        {"clip.avi",
         {"clip_(Kestrovid)_psp.mp4", "clip_(Kestrovid_1)_psp.mp4"},
         "clip_(Kestrovid_2)_psp.mp4"},
        // Numbered names are tried only when the plain one is taken.
        {"clip.avi", {"clip_(Kestrovid_1)_psp.mp4"}, "clip_(Kestrovid)_psp.mp4"},
        // The first free number wins, gaps included.
        {"clip.avi",
         {"clip_(Kestrovid)_psp.mp4", "clip_(Kestrovid_2)_psp.mp4"},
         "clip_(Kestrovid_1)_psp.mp4"},
        {"movie.part1.mkv", {}, "movie.part1_(Kestrovid)_psp.mp4"},
        {"noext", {}, "noext_(Kestrovid)_psp.mp4"},
        {"sub.dir/clip", {}, "sub.dir/clip_(Kestrovid)_psp.mp4"}, // a dotted folder is not an extension
        {"zażółć gęślą.mp4", {}, "zażółć gęślą_(Kestrovid)_psp.mp4"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        fs::create_directories((dir / c.source).parent_path());
        for (const char* p : c.present)
            std::ofstream(dir / p) << "x";
        EXPECT_EQ(OutputFileName((dir / c.source).string(), "_psp.mp4"), (dir / c.want).string()) << c.source;
    }
}

TEST(OutputFileName, ADanglingLinkTakesTheName)
{
    TempDir dir;
    fs::create_symlink(dir / "gone", dir / "clip_(Kestrovid)_psp.mp4");
    EXPECT_EQ(OutputFileName((dir / "clip.avi").string(), "_psp.mp4"),
              (dir / "clip_(Kestrovid_1)_psp.mp4").string());
}

TEST(Profiles, HiAndLoRecords)
{
    for (bool hi : {true, false}) {
        const auto o = pspProfile(hi);
        SCOPED_TRACE(hi ? "Hi" : "Lo");
        EXPECT_EQ(o.FileExt, "_psp.mp4");
        EXPECT_EQ(o.ForceFormat, "psp");
        EXPECT_EQ(o.AudioCodec, "libfaac");
        EXPECT_EQ(o.AudioSampleRate, 24000);
        EXPECT_EQ(o.AudioBitrate, 128000);
        EXPECT_EQ(o.AudioChannels, 2);
        EXPECT_TRUE(o.VideoInputHook);
        EXPECT_FALSE(o.CopyTimestamp);
        EXPECT_TRUE(o.DisableSubtitle);
        EXPECT_EQ(o.Info.Author, "Kestrovid to PSP");
        EXPECT_EQ(o.Info.Comment, kVendorDomain);
        EXPECT_TRUE(o.Info.Title.empty()); // the engine uses the source's name
        EXPECT_EQ(o.Info.TimeStamp, 0);
        EXPECT_EQ(o.FrameSize, hi ? "480x272" : "368x192");
        EXPECT_EQ(o.VideoCodec, hi ? "libx264" : "mpeg4");
        EXPECT_EQ(o.VideoPreset, hi ? "fastfirstpass" : "");
        EXPECT_EQ(o.FrameRate, hi ? "30000/1001" : "15000/1001");
        EXPECT_EQ(o.VideoBitrate, hi ? 672000 : 384000);
        EXPECT_EQ(o.VideoBitRateTolerance, hi ? 256000 : 96000);
        EXPECT_EQ(o.VideoMaxRate, hi ? 768 : -1);
        // Fields no profile names keep "not set".
        EXPECT_EQ(o.VideoBufSize, -1);
        EXPECT_FALSE(o.DisableAudio);
        EXPECT_FALSE(o.DisableVideo);
        EXPECT_EQ(o.VideoHookBitsPixel, 24);
    }
}

TEST(ProfileButtons, ClicksSwitchThePairUnlessTheOtherIsDisabled)
{
    // Hi is down; a click on it toggles it up before the handler runs.
    ProfileButtons b{/*hiDown*/ false, /*loDown*/ false, true, true};
    b = afterHiClick(b);
    EXPECT_FALSE(b.hiDown);
    EXPECT_TRUE(b.loDown); // Lo selected
    b.hiDown = true;       // clicked again
    b = afterHiClick(b);
    EXPECT_TRUE(b.hiDown);
    EXPECT_FALSE(b.loDown);

    // With Lo disabled, clicking Hi keeps Hi.
    b = {false, false, true, false};
    b = afterHiClick(b);
    EXPECT_TRUE(b.hiDown);
    EXPECT_FALSE(b.loDown);

    b = {true, true, true, true}; // Lo clicked down
    b = afterLoClick(b);
    EXPECT_TRUE(b.loDown);
    EXPECT_FALSE(b.hiDown);
    b = {false, false, false, true}; // Hi disabled, Lo clicked up
    b = afterLoClick(b);
    EXPECT_TRUE(b.loDown);
    EXPECT_FALSE(b.hiDown);
}

TEST(TfrmOption, FillsTheRecordsFromTheAttachedDecoder)
{
    TempDir dir;
    const auto src = dir / "clip.mkv";
    kv::test::makeMedia({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=25:duration=0.2", src.string()});
    kv::media::TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(src.string())) << decoder.LastErrMsg();
    TfrmOption options;
    options.AttachDecoder(decoder);

    kv::media::TOutputOptions out;
    out.VideoBufSize = 123; // whatever was there before goes
    options.FillOutputOptions(out, false);
    EXPECT_EQ(out.FileName, (dir / "clip_(Kestrovid)_psp.mp4").string());
    EXPECT_EQ(out.VideoCodec, "mpeg4");
    EXPECT_EQ(out.VideoBufSize, -1);
    options.FillOutputOptions(out, true);
    EXPECT_EQ(out.VideoCodec, "libx264");

    kv::media::TInputOptions in;
    in.TimeStart = 5;
    options.FillInputOptions(in);
    EXPECT_EQ(in.FileName, src.string());
    EXPECT_EQ(in.ForceFormat, "");
    EXPECT_EQ(in.TimeStart, -1);
}
