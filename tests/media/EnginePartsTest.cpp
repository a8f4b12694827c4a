// The engine's pure parts: settings from the output record, fitting, the hook bitmap.
#include "media/engine/HookBitmap.h"
#include "media/engine/OutputSettings.h"

#include "EngineHarness.h"

#include <gtest/gtest.h>

using namespace kv::media::engine;

TEST(OutputSettings, HiProfileBecomesMainAt768kbitWithTheOldPresetsOptions)
{
    auto o = kv::test::pspOutput(true, "/tmp/x_psp.mp4");
    OutputSettings s = resolveOutput(o, 1920, 1080, {25, 1});
    EXPECT_EQ(s.muxer, "psp");
    EXPECT_TRUE(s.psp);
    EXPECT_EQ(s.video.encoder, "libx264");
    EXPECT_EQ(s.video.width, 480);
    EXPECT_EQ(s.video.height, 272);
    EXPECT_EQ(av_cmp_q(s.video.rate, AVRational{30000, 1001}), 0);
    EXPECT_EQ(s.video.bitrate, 672000);
    EXPECT_EQ(s.video.tolerance, 256000);
    // 768 in the record is the PSP's 768 kbit/s ceiling, with twice that as the buffer.
    EXPECT_EQ(s.video.maxRate, 768000);
    EXPECT_EQ(s.video.bufSize, 1536000);
    // libfaac is not in this FFmpeg; its own AAC encoder takes over.
    EXPECT_EQ(s.audio.encoder, "aac");
    EXPECT_EQ(s.audio.sampleRate, 24000);
    EXPECT_EQ(s.audio.channels, 2);
    EXPECT_EQ(s.audio.bitrate, 128000);
    const std::string preset = x264ParamsForPreset("fastfirstpass");
    for (const char* opt : {"ref=1", "partitions=none", "me=dia", "subme=2", "trellis=0", "mixed-refs=0",
                            "fast-pskip=1", "keyint=250", "min-keyint=25", "scenecut=40", "bframes=3",
                            "b-adapt=1", "qcomp=0.6", "qpmin=10", "qpmax=51", "qpstep=4"})
        EXPECT_NE(preset.find(opt), std::string::npos) << opt;
    EXPECT_TRUE(x264ParamsForPreset("no-such-preset").empty());
}

TEST(OutputSettings, UnsetFieldsLetTheEngineDecide)
{
    kv::media::TOutputOptions o;
    o.FileName = "/tmp/out.mp4";
    OutputSettings s = resolveOutput(o, 641, 359, {30000, 1001});
    EXPECT_EQ(s.muxer, "mp4");
    EXPECT_FALSE(s.psp);
    EXPECT_EQ(s.video.width, 642); // 4:2:0 needs even sizes
    EXPECT_EQ(s.video.height, 360);
    EXPECT_EQ(av_cmp_q(s.video.rate, AVRational{30000, 1001}), 0);
    EXPECT_EQ(s.video.bitrate, -1);
    EXPECT_EQ(s.video.maxRate, -1);
    EXPECT_EQ(s.video.bufSize, -1);
    EXPECT_FALSE(s.audio.encoder.empty());
}

TEST(OutputSettings, ParsesSizesRatesAndRates)
{
    EXPECT_EQ(parseFrameSize("480x272"), std::make_pair(480, 272));
    EXPECT_EQ(parseFrameSize("480x"), std::make_pair(0, 0));
    EXPECT_EQ(parseFrameSize("-4x3"), std::make_pair(0, 0));
    EXPECT_EQ(parseFrameSize("480x272junk"), std::make_pair(0, 0));
    EXPECT_EQ(av_cmp_q(parseFrameRate("15000/1001"), AVRational{15000, 1001}), 0);
    EXPECT_EQ(av_cmp_q(parseFrameRate("25"), AVRational{25, 1}), 0);
    EXPECT_EQ(parseFrameRate("0/0").num, 0);
    EXPECT_EQ(interpretMaxRate(768), 768000);
    EXPECT_EQ(interpretMaxRate(768000), 768000);
    EXPECT_EQ(interpretMaxRate(-1), -1);
}

TEST(FitInside, KeepsTheDisplayAspectRatioCentredWithEvenEdges)
{
    struct Case {
        int w, h;
        AVRational sar;
        int outW, outH;
        FitRect want;
    };
    const Case cases[] = {
        {1920, 1080, {1, 1}, 480, 272, {0, 0, 480, 270}},  // 16:9 in a slightly taller frame
        {640, 480, {1, 1}, 480, 272, {58, 0, 362, 272}},   // 4:3: bars left and right
        {352, 288, {12, 11}, 480, 272, {58, 0, 362, 272}}, // non-square pixels: 4:3 on screen
        {720, 576, {64, 45}, 368, 192, {12, 0, 342, 192}}, // anamorphic 16:9 PAL
        {641, 359, {0, 1}, 368, 192, {12, 0, 342, 192}},   // odd size, unknown SAR = square
        {100, 1000, {1, 1}, 480, 272, {226, 0, 28, 272}},  // very tall
    };
    for (const auto& c : cases) {
        FitRect r = fitInside(c.w, c.h, c.sar, c.outW, c.outH);
        EXPECT_EQ(r.width, c.want.width) << c.w << "x" << c.h;
        EXPECT_EQ(r.height, c.want.height) << c.w << "x" << c.h;
        EXPECT_EQ(r.x, c.want.x) << c.w << "x" << c.h;
        EXPECT_EQ(r.y, c.want.y) << c.w << "x" << c.h;
        EXPECT_EQ(r.x % 2 + r.y % 2 + r.width % 2 + r.height % 2, 0);
    }
}

namespace {

kv::ff::FramePtr grayFrame(int w, int h, std::uint8_t luma)
{
    auto f = kv::ff::allocFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    kv::ff::check(av_frame_get_buffer(f.get(), 0), "frame");
    for (int y = 0; y < h; ++y)
        std::fill_n(f->data[0] + y * f->linesize[0], w, luma);
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < h / 2; ++y)
            std::fill_n(f->data[p] + y * f->linesize[p], w / 2, 128);
    return f;
}

} // namespace

TEST(HookBitmap, ConvertsOnlyTheRowsAskedForAndPutsOnlyThoseBack)
{
    auto frame = grayFrame(64, 48, 60);
    HookBitmap bmp;
    bmp.attach(frame.get());
    EXPECT_EQ(bmp.rowsConverted(), 0); // nothing asked, nothing converted
    bmp.commit();                      // and nothing put back
    EXPECT_TRUE(av_frame_is_writable(frame.get()));

    // Rows 21..22 are widened to whole chroma rows 20..23.
    kv::media::TRGBView v = bmp.Rows(21, 23);
    EXPECT_EQ(bmp.rowsConverted(), 4);
    EXPECT_EQ(v.Top, 21);
    EXPECT_EQ(v.Bottom, 23);
    const int grey = v.row(21)[0];
    EXPECT_NEAR(grey, (60 - 16) * 255 / 219, 3); // limited-range 60 as RGB
    bmp.Rows(20, 23);                            // already there: no second conversion
    EXPECT_EQ(bmp.rowsConverted(), 4);
    for (int y = 21; y < 23; ++y)
        std::fill_n(v.row(y), v.Width * 3, 255);

    kv::ff::FramePtr ref(av_frame_clone(frame.get())); // the encoder still holds the frame
    bmp.commit();
    EXPECT_NE(frame->data[0], ref->data[0]) << "a shared frame is copied before it is changed";
    for (int y = 0; y < 48; ++y) {
        const int luma = frame->data[0][y * frame->linesize[0] + 10];
        if (y >= 21 && y < 23) {
            EXPECT_GT(luma, 230) << "row " << y;
        } else if (y < 20 || y >= 24) {
            EXPECT_EQ(luma, 60) << "row " << y << " was not handed out and must stay as decoded";
        }
        EXPECT_EQ(ref->data[0][y * ref->linesize[0] + 10], 60) << "the shared picture must not change";
    }
}

namespace {

// A planar frame whose every sample differs from its neighbours, so any stray write shows.
kv::ff::FramePtr patternFrame(int w, int h, AVPixelFormat format = AV_PIX_FMT_YUV420P)
{
    auto f = kv::ff::allocFrame();
    f->format = format;
    f->width = w;
    f->height = h;
    kv::ff::check(av_frame_get_buffer(f.get(), 0), "frame");
    for (int p = 0; p < 3; ++p) {
        const int pw = p ? (w + 1) / 2 : w, ph = p ? (h + 1) / 2 : h;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                f->data[p][y * f->linesize[p] + x] =
                    static_cast<std::uint8_t>(40 + (x * 7 + y * 13 + p * 29) % 170);
    }
    return f;
}

int sample(const AVFrame* f, int plane, int x, int y)
{
    return f->data[plane][y * f->linesize[plane] + x];
}

} // namespace

TEST(HookBitmap, BlendsAnOverlayInYuvLeavingEveryUncoveredSampleAsDecoded)
{
    constexpr int W = 40, H = 30;
    // 9x7 overlay at an odd origin: a transparent border, opaque white inside, one half-alpha
    // red pixel and a transparent hole.
    constexpr int OL = 7, OT = 9, OW = 9, OH = 7;
    std::vector<std::uint32_t> overlay(OW * OH, 0);
    for (int y = 1; y < OH - 1; ++y)
        for (int x = 1; x < OW - 1; ++x)
            overlay[y * OW + x] = 0xFFFFFFFFu;
    overlay[3 * OW + 4] = 0;           // hole at frame (11, 12)
    overlay[2 * OW + 2] = 0x80800000u; // premultiplied red at half alpha, frame (9, 11)
    kv::media::TOverlayView view{overlay.data(), OW, OL, OT, OW, OH};
    auto covered = [&](int x, int y) {
        return x >= OL && x < OL + OW && y >= OT && y < OT + OH && overlay[(y - OT) * OW + (x - OL)] != 0;
    };

    for (const AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P}) {
        const bool full = format == AV_PIX_FMT_YUVJ420P;
        auto frame = patternFrame(W, H, format);
        const kv::ff::FramePtr decoded(av_frame_clone(frame.get())); // the decoder keeps its picture
        kv::ff::FramePtr original = patternFrame(W, H, format);

        HookBitmap bmp;
        bmp.attach(frame.get());
        ASSERT_TRUE(bmp.BlendOverlay(view));
        EXPECT_EQ(bmp.rowsConverted(), 0) << "no RGB round trip";
        EXPECT_EQ(sample(frame.get(), 0, 8, 10), sample(original.get(), 0, 8, 10))
            << "nothing changes before commit";
        bmp.commit();
        EXPECT_NE(frame->data[0], decoded->data[0]);

        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                EXPECT_EQ(sample(decoded.get(), 0, x, y), sample(original.get(), 0, x, y))
                    << "shared picture";
                if (!covered(x, y)) {
                    EXPECT_EQ(sample(frame.get(), 0, x, y), sample(original.get(), 0, x, y)) << x << "," << y;
                }
            }
        for (int cy = 0; cy < H / 2; ++cy)
            for (int cx = 0; cx < W / 2; ++cx) {
                const bool any = covered(2 * cx, 2 * cy) || covered(2 * cx + 1, 2 * cy) ||
                                 covered(2 * cx, 2 * cy + 1) || covered(2 * cx + 1, 2 * cy + 1);
                for (int p = 1; p < 3 && !any; ++p) {
                    EXPECT_EQ(sample(frame.get(), p, cx, cy), sample(original.get(), p, cx, cy))
                        << "plane " << p << " at " << cx << "," << cy;
                }
            }
        // Opaque white: top of the luma range, neutral chroma where all four pixels are white.
        EXPECT_EQ(sample(frame.get(), 0, 8, 10), full ? 255 : 235);
        EXPECT_EQ(sample(frame.get(), 1, 6, 6), 128); // pixels (12..13, 12..13)
        EXPECT_EQ(sample(frame.get(), 2, 6, 6), 128);
        // Half-alpha red over the decoded sample: Y = 0.5 * Y(red) + 0.5 * Y(decoded).
        const double red = full ? 0.299 * 255 : 16 + 0.256788 * 255;
        const double want = (red * 128 + sample(original.get(), 0, 9, 11) * 127) / 255;
        EXPECT_NEAR(sample(frame.get(), 0, 9, 11), want, 1.0);

        // Told which runs of each row are not transparent, the blend reads only those and
        // gives the same picture.
        std::vector<std::pair<int, int>> runs;
        std::vector<int> rowRuns;
        for (int y = 0; y < OH; ++y) {
            rowRuns.push_back(static_cast<int>(runs.size()));
            for (int x = 0; x < OW;) {
                if (!overlay[y * OW + x]) {
                    ++x;
                    continue;
                }
                const int begin = x;
                while (x < OW && overlay[y * OW + x])
                    ++x;
                runs.emplace_back(begin, x);
            }
        }
        rowRuns.push_back(static_cast<int>(runs.size()));
        kv::media::TOverlayView withRuns = view;
        withRuns.Runs = runs.data();
        withRuns.RowRuns = rowRuns.data();
        auto byRuns = patternFrame(W, H, format);
        bmp.attach(byRuns.get());
        ASSERT_TRUE(bmp.BlendOverlay(withRuns));
        bmp.commit();
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? H / 2 : H); ++y)
                for (int x = 0; x < (p ? W / 2 : W); ++x)
                    ASSERT_EQ(sample(byRuns.get(), p, x, y), sample(frame.get(), p, x, y))
                        << "plane " << p << " at " << x << "," << y;
    }
}

TEST(HookBitmap, OtherFormatsAndRowsAlreadyHandedOutTakeTheRgbPath)
{
    const std::uint32_t white = 0xFFFFFFFFu;
    const kv::media::TOverlayView view{&white, 1, 2, 2, 1, 1};
    {
        auto frame = patternFrame(8, 8, AV_PIX_FMT_YUV444P);
        HookBitmap bmp;
        bmp.attach(frame.get());
        EXPECT_FALSE(bmp.BlendOverlay(view));
    }
    auto frame = patternFrame(8, 8);
    HookBitmap bmp;
    bmp.attach(frame.get());
    bmp.Rows(0, 4);
    EXPECT_FALSE(bmp.BlendOverlay(view)) << "the RGB rows would be written back over the blend";
    // A blend the hook does not commit leaves the frame as decoded; the next frame starts clean.
    auto other = patternFrame(8, 8);
    bmp.attach(other.get());
    EXPECT_TRUE(bmp.BlendOverlay(view));
    bmp.attach(other.get());
    bmp.commit();
    EXPECT_EQ(sample(other.get(), 0, 2, 2), sample(patternFrame(8, 8).get(), 0, 2, 2));
}
