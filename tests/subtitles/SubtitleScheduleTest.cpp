// Which subtitle line each frame of a conversion shows, and for how long.
#include "subtitles/SubtitleSchedule.h"
#include "subtitles/ImageHookBitmap.h"
#include "subtitles/SubtitleBurner.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <limits>
#include <string>
#include <thread>

namespace kv::subtitles {
namespace {

using kv::media::THookInfo;
using kv::media::TRGBImage;

QString u8(const char* s)
{
    return QString::fromUtf8(s);
}

// ---- reading-time rule ----------------------------------------------------------------

struct ReadingCase {
    int length;
    bool withWww;
    std::size_t queueLength;
    bool iq;
    std::int64_t expectedMs;
};

void PrintTo(const ReadingCase& c, std::ostream* os)
{
    *os << c.length << "_chars" << (c.withWww ? "_www" : "") << "_queue" << c.queueLength
        << (c.iq ? "" : "_fixed");
}

class ReadingTimeTest : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ReadingTimeTest, Table)
{
    const ReadingCase& c = GetParam();
    QString text(c.length, u'a');
    if (c.withWww)
        text.replace(0, 4, u8("www."));
    SubtitleRenderSettings settings;
    settings.CIQText = c.iq;
    EXPECT_EQ(ReadingTimeMs(text, c.queueLength, settings), c.expectedMs)
        << c.length << " chars, queue " << c.queueLength;
}

INSTANTIATE_TEST_SUITE_P(
    Defaults, ReadingTimeTest,
    ::testing::Values(ReadingCase{40, false, 1, true, 2400},  // 60 ms a character
                      ReadingCase{41, false, 1, true, 2440},  // 41 + 41 div 2 = 61 characters' worth
                      ReadingCase{10, false, 1, true, 800},   // 600, raised to the floor
                      ReadingCase{100, false, 1, true, 5500}, // 6000, cut to the maximum
                      ReadingCase{40, false, 2, true, 1800},  // another line waits: three quarters
                      ReadingCase{40, false, 3, true, 1800},
                      ReadingCase{80, true, 1, true, 1200}, // "www.": a quarter of 4800
                      ReadingCase{40, true, 1, true, 800},  // a quarter of 2400, floor 800
                      ReadingCase{0, false, 1, true, 800},
                      ReadingCase{1000000, false, 1, true, 5500}, // no overflow on huge texts
                      ReadingCase{3, false, 1, false, 4000},      // IQ off: the fixed time
                      ReadingCase{300, true, 3, false, 4000}));

TEST(ReadingTime, SpeedAndMaximumComeFromTheSettings)
{
    SubtitleRenderSettings settings;
    settings.IQTimeValue = 2500;
    EXPECT_EQ(ReadingTimeMs(QString(40, u'a'), 1, settings), 1500);
    settings.IQTimeMax = 1000;
    EXPECT_EQ(ReadingTimeMs(QString(40, u'a'), 1, settings), 1000);
    settings.CIQText = false;
    settings.NapisyCzasTag = 7000;
    EXPECT_EQ(ReadingTimeMs(QString(40, u'a'), 1, settings), 7000);
}

TEST(SubtitleSnapshot, KeepsSettingsWithinTheirControlsRanges)
{
    SubtitleRenderSettings odd;
    odd.EFontSize = std::nan("");
    odd.EObwodka = 40;
    odd.FontVol = -std::numeric_limits<double>::infinity();
    odd.NapisBottom = std::numeric_limits<double>::infinity();
    odd.FWidth = 1e300;
    const SubtitleSnapshot snapshot(odd, {});
    EXPECT_EQ(snapshot.settings().EFontSize, 20);
    EXPECT_EQ(snapshot.settings().EObwodka, 6);
    EXPECT_EQ(snapshot.settings().FontVol, 10);
    EXPECT_EQ(snapshot.settings().NapisBottom, 1);
    EXPECT_EQ(snapshot.settings().FWidth, 99);
}

// ---- the per-frame handler ------------------------------------------------------------

// A conversion in miniature: a small frame, a burner with its snapshot, and what each
// frame shows.
class Conversion {
  public:
    explicit Conversion(std::vector<SubtitleTableEntry> table, SubtitleRenderSettings settings = {})
        : frame_(MakeRGBImage(320, 240, 90, 90, 90)), bitmap_(frame_)
    {
        burner.ResetSubtitleSchedule(std::make_shared<const SubtitleSnapshot>(settings, table));
        burner.btnSubOn().store(true);
    }

    // Runs the handler on a frame at `us` and returns the text drawn into it ("-" when the
    // frame goes on unchanged).
    QString frameAt(std::int64_t us)
    {
        last = THookInfo{};
        last.Bitmap = &bitmap_;
        last.PTS = us;
        burner.FFVCLCustomHook(last);
        return last.Update ? burner.state().CurrentText : u8("-");
    }

    ImageHookBitmap& bitmap() { return bitmap_; }

    SubtitleBurner burner;
    THookInfo last;

  private:
    TRGBImage frame_;
    ImageHookBitmap bitmap_;
};

constexpr std::int64_t s(double seconds)
{
    return static_cast<std::int64_t>(seconds * 1'000'000);
}

std::vector<SubtitleTableEntry> table(std::initializer_list<std::pair<const char*, const char*>> rows)
{
    std::vector<SubtitleTableEntry> out;
    for (auto [key, text] : rows)
        out.push_back({u8(key), u8(text)});
    return out;
}

SubtitleRenderSettings fixedTime()
{
    SubtitleRenderSettings settings;
    settings.CIQText = false;
    return settings;
}

TEST(SubtitleHook, RowIsDueExactlyAtItsKeyTimesAThousand)
{
    Conversion c(table({{"2000", "Two"}}));
    EXPECT_EQ(c.frameAt(s(1.999999)), u8("-"));
    EXPECT_EQ(c.frameAt(s(2.0)), u8("Two"));
}

TEST(SubtitleHook, CreditRowShowsForItsShortReadingTime)
{
    Conversion c(table({{"0", ".:: www.kestrovid.example ::."}, {"60000", "Later"}}));
    EXPECT_EQ(c.frameAt(0), u8(".:: www.kestrovid.example ::."));
    EXPECT_EQ(c.burner.state().CurrentDisplayTime, 800);
    EXPECT_EQ(c.frameAt(s(0.8)), u8(".:: www.kestrovid.example ::.")); // until time inclusive
    EXPECT_EQ(c.frameAt(s(0.8) + 1), u8("-"));
}

TEST(SubtitleHook, RowOutOfOrderPassesOverTheRowBeforeIt)
{
    Conversion c(table({{"0", "A"}, {"5000", "B"}, {"3000", "C"}, {"9000", "D"}}), fixedTime());
    EXPECT_EQ(c.frameAt(0), u8("A"));
    EXPECT_EQ(c.frameAt(s(3)), u8("C"));
    EXPECT_EQ(c.burner.state().CurrentRow, 3u);
    for (double t = 3.04; t < 9; t += 0.04)
        ASSERT_NE(c.frameAt(s(t)), u8("B")) << t;
    EXPECT_EQ(c.frameAt(s(9)), u8("D"));
}

TEST(SubtitleHook, EqualKeysAreBothQueuedWithTheFirstRowsText)
{
    Conversion c(table({{"1000", "first"}, {"1000", "second"}}));
    EXPECT_EQ(c.frameAt(s(1)), u8("first"));
    ASSERT_EQ(c.burner.state().Queue.size(), 1u);
    EXPECT_EQ(c.burner.state().Queue.front().Text, u8("first"));
}

TEST(SubtitleHook, TheLastRowsOfTheTableAreShownToo)
{
    Conversion c(table({{"0", "one"}, {"1000", "two"}, {"2000", "three"}}), fixedTime());
    EXPECT_EQ(c.frameAt(0), u8("one"));
    EXPECT_EQ(c.frameAt(s(1)), u8("two"));
    EXPECT_EQ(c.frameAt(s(2)), u8("three"));
}

TEST(SubtitleHook, RowWithAnUnreadableKeyIsSkippedAndTheRestStillShow)
{
    Conversion c(table({{"1000", "ok"}, {"x12", "bad"}, {"99999999999", "too big"}, {"3000", "later"}}),
                 fixedTime());
    EXPECT_EQ(c.frameAt(s(1)), u8("ok"));
    EXPECT_EQ(c.frameAt(s(3)), u8("later"));
    EXPECT_TRUE(c.burner.state().Queue.empty());
}

TEST(SubtitleHook, LongTextIsQueuedAsItsFirst255Characters)
{
    QString text;
    for (int i = 0; i < 300; ++i)
        text += QChar(u'a' + i % 26);
    text[254] = u'ż';
    Conversion c({{u8("1000"), text}, {u8("1000"), u8("x")}});
    c.frameAt(s(1));
    ASSERT_EQ(c.burner.state().Queue.size(), 1u);
    EXPECT_EQ(c.burner.state().Queue.front().Text, text.left(255)); // nothing lost to a code page
    EXPECT_EQ(c.burner.state().CurrentText, text.left(255));

    // a character of two UTF-16 units across the cut is left out whole
    const QString emoji = QString(254, u'a') + QString::fromUtf8("\xF0\x9F\x98\x80") + u8("tail");
    Conversion d({{u8("0"), emoji}});
    d.frameAt(0);
    EXPECT_EQ(d.burner.state().CurrentText, QString(254, u'a'));
}

TEST(SubtitleHook, GapIsTheTimeToTheNextRowInMilliseconds)
{
    Conversion c(table({{"1000", "a"}, {"1000", "b"}, {"4000", "c"}, {"9000", "d"}}));
    c.frameAt(s(5));
    // a is on screen; b and c wait
    const auto& queue = c.burner.state().Queue;
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue[0].Gap, 3000);
    EXPECT_EQ(queue[1].Gap, 5000);
    c.frameAt(s(9));
    EXPECT_EQ(c.burner.state().Queue.back().Gap, 0); // the last row has no next one
}

// 40 characters: 2400 ms alone, 1800 ms while another line waits.
const char* const k40a = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char* const k40b = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const char* const k40c = "cccccccccccccccccccccccccccccccccccccccc";

TEST(SubtitleHook, ReadingTimeHoldsLinesAndShortensThoseWithOthersWaiting)
{
    Conversion c(table({{"1000", k40a}, {"2000", k40b}, {"3000", k40c}}));
    // All three fall due on the frame at 3 s: a starts with three entries queued.
    EXPECT_EQ(c.frameAt(s(3)), u8(k40a));
    EXPECT_EQ(c.burner.state().CurrentDisplayTime, 1800);
    EXPECT_EQ(c.frameAt(s(4.8)), u8(k40a)); // held through its until time
    EXPECT_EQ(c.frameAt(s(4.9)), u8(k40b)); // two queued when it starts
    EXPECT_EQ(c.burner.state().CurrentDisplayTime, 1800);
    EXPECT_EQ(c.frameAt(s(6.7)), u8(k40b));
    EXPECT_EQ(c.frameAt(s(6.8)), u8(k40c)); // alone: its full reading time
    EXPECT_EQ(c.burner.state().CurrentDisplayTime, 2400);
    EXPECT_EQ(c.frameAt(s(9.2)), u8(k40c));
    EXPECT_EQ(c.frameAt(s(9.3)), u8("-"));
}

TEST(SubtitleHook, WithoutReadingTimeANewLineReplacesTheOneOnScreen)
{
    Conversion c(table({{"1000", k40a}, {"2000", k40b}, {"3000", k40c}}), fixedTime());
    EXPECT_EQ(c.frameAt(s(3.00)), u8(k40a)); // one frame each for the first two
    EXPECT_EQ(c.frameAt(s(3.04)), u8(k40b));
    EXPECT_EQ(c.frameAt(s(3.08)), u8(k40c)); // the last for the fixed 4 s
    EXPECT_EQ(c.burner.state().CurrentDisplayTime, 4000);
    EXPECT_EQ(c.frameAt(s(7.08)), u8(k40c));
    EXPECT_EQ(c.frameAt(s(7.12)), u8("-"));
}

TEST(SubtitleHook, StopsForTheRestOfTheTaskWhenTheSubtitleMarkIsOff)
{
    Conversion c(table({{"0", "text"}, {"1000", "more"}}));
    c.burner.btnSubOn().store(false); // hidden, or up
    c.frameAt(0);
    EXPECT_TRUE(c.last.StopHook);
    EXPECT_TRUE(c.last.Update); // left as the engine set it
    EXPECT_EQ(c.bitmap().rowsCalls(), 0);
    EXPECT_EQ(c.burner.state().CurrentRow, 0u); // schedule untouched

    // switched off while a line is on screen
    c.burner.btnSubOn().store(true);
    EXPECT_EQ(c.frameAt(0), u8("text"));
    c.burner.btnSubOn().store(false);
    c.frameAt(s(0.04));
    EXPECT_TRUE(c.last.StopHook);
}

TEST(SubtitleHook, FramesWithoutALineNeverAskForPixels)
{
    Conversion c(table({{"0", "credit www.x"}, {"10000", "ten"}}));
    c.frameAt(0);
    EXPECT_GT(c.bitmap().rowsCalls(), 0);
    c.bitmap().resetCounters();
    for (int frame = 1; frame < 240; ++frame) { // 25 fps up to 9.6 s: credit gone after 0.8 s
        const QString shown = c.frameAt(frame * 40'000);
        if (frame * 40'000 > 800'000) {
            ASSERT_EQ(shown, u8("-")) << frame;
            ASSERT_FALSE(c.last.Update);
        }
    }
    const int whileCreditHeld = c.bitmap().rowsCalls();
    EXPECT_EQ(whileCreditHeld, 20); // frames 1..20 (40 ms .. 800 ms) redraw the held credit
    EXPECT_EQ(c.frameAt(s(10)), u8("ten"));
}

TEST(SubtitleHook, HeldLineIsLaidOutOnceAndDrawnTheSameOnEveryFrame)
{
    Conversion c(table({{"0", "Zażółć gęślą jaźń|druga linia"}}));
    TRGBImage first = MakeRGBImage(320, 240, 90, 90, 90);
    ImageHookBitmap firstBitmap(first);
    THookInfo info;
    info.Bitmap = &firstBitmap;
    c.burner.FFVCLCustomHook(info);
    for (int frame = 1; frame < 10; ++frame) {
        TRGBImage again = MakeRGBImage(320, 240, 90, 90, 90);
        ImageHookBitmap bitmap(again);
        info = THookInfo{};
        info.Bitmap = &bitmap;
        info.PTS = frame * 40'000;
        c.burner.FFVCLCustomHook(info);
        ASSERT_TRUE(info.Update);
        ASSERT_EQ(again.Pixels, first.Pixels) << frame;
    }
    EXPECT_EQ(c.burner.layoutsMade(), 1);
}

TEST(SubtitleHook, EmptyTextIsOnScreenWithoutTouchingThePicture)
{
    Conversion c(table({{"0", ""}}));
    c.frameAt(0);
    EXPECT_TRUE(c.last.Update);
    EXPECT_TRUE(c.burner.state().OnScreen);
    EXPECT_EQ(c.bitmap().rowsCalls(), 0);
}

TEST(SubtitleHook, ResetStartsAFreshSchedule)
{
    Conversion c(table({{"1000", k40a}, {"1000", k40b}, {"1000", k40c}}));
    c.frameAt(s(1));
    ASSERT_TRUE(c.burner.state().OnScreen);
    ASSERT_EQ(c.burner.state().Queue.size(), 2u);

    c.burner.ResetSubtitleSchedule(
        std::make_shared<const SubtitleSnapshot>(SubtitleRenderSettings{}, table({{"5000", "new"}})));
    const SubtitleScheduleState& state = c.burner.state();
    EXPECT_EQ(state.CurrentRow, 0u);
    EXPECT_TRUE(state.Queue.empty());
    EXPECT_FALSE(state.OnScreen);
    EXPECT_TRUE(state.CurrentText.isEmpty());
    EXPECT_EQ(c.frameAt(s(1)), u8("-")); // nothing of the last conversion is still held
    EXPECT_EQ(c.frameAt(s(5)), u8("new"));
}

TEST(SubtitleHook, WithoutASnapshotNothingIsDrawn)
{
    SubtitleBurner burner;
    burner.btnSubOn().store(true);
    TRGBImage frame = MakeRGBImage(64, 48, 0, 0, 0);
    ImageHookBitmap bitmap(frame);
    THookInfo info;
    info.Bitmap = &bitmap;
    burner.FFVCLCustomHook(info);
    EXPECT_FALSE(info.Update);
    EXPECT_FALSE(info.StopHook);
    EXPECT_EQ(bitmap.rowsCalls(), 0);
}

TEST(SubtitleHook, DrawsOnAWorkerThreadAsOnTheGuiThread)
{
    const auto rows = table({{"0", "Zażółć gęślą jaźń|{Y:I}druga linia"}});
    Conversion onGui(rows);
    onGui.frameAt(0);
    Conversion onWorker(rows);
    std::thread worker([&] { onWorker.frameAt(0); });
    worker.join();
    ASSERT_TRUE(onWorker.last.Update);
    EXPECT_EQ(onWorker.bitmap().rowsCalls(), 1);
    TRGBImage a = MakeRGBImage(320, 240, 90, 90, 90), b = a;
    ImageHookBitmap ba(a), bb(b);
    // the same frames drawn again from each burner's cache
    THookInfo ia, ib;
    ia.Bitmap = &ba;
    ib.Bitmap = &bb;
    onGui.burner.FFVCLCustomHook(ia);
    std::thread again([&] { onWorker.burner.FFVCLCustomHook(ib); });
    again.join();
    EXPECT_EQ(a.Pixels, b.Pixels);
}

// ---- the single-frame preview -----------------------------------------------------------

TEST(BurnSubtitleAt, ShowsWhatTheConversionWouldShowAtThatTime)
{
    const auto snapshot = std::make_shared<const SubtitleSnapshot>(
        SubtitleRenderSettings{}, table({{"0", ".:: www.kestrovid.example ::."}, {"1000", "Hello"}}));
    TRGBImage frame = MakeRGBImage(320, 240, 90, 90, 90);
    const TRGBImage blank = frame;
    EXPECT_EQ(BurnSubtitleAt(snapshot, frame, s(1.5), 25), u8("Hello")); // 800 ms from 1 s
    EXPECT_NE(frame.Pixels, blank.Pixels);
    frame = blank;
    EXPECT_EQ(BurnSubtitleAt(snapshot, frame, s(1.84), 25), QString());
    EXPECT_EQ(frame.Pixels, blank.Pixels);
    EXPECT_EQ(BurnSubtitleAt(snapshot, frame, 0, 0), u8(".:: www.kestrovid.example ::."));
}

} // namespace
} // namespace kv::subtitles
