// Layout and drawing of burnt-in subtitles: screen lines, font size, block position,
// outline, the four styles, and that only the block's rows are touched.
#include "subtitles/ImageHookBitmap.h"
#include "subtitles/SubtitleBurner.h"
#include "subtitles/SubtitleLayout.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include <cstdlib>

namespace kv::subtitles {
namespace {

// Readable, shell- and CMake-safe names for the table cases in test listings.
std::string caseName(const char* text)
{
    std::string name;
    for (const char* p = text; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name.empty() ? std::string("empty") : name;
}

using kv::media::TRGBImage;

QString u8(const char* s)
{
    return QString::fromUtf8(s);
}

// ---- screen lines -------------------------------------------------------------------

struct SplitCase {
    const char* text;
    int count;
    const char* l1;
    const char* l2;
    const char* l3;
};

void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << caseName(c.text);
}

class ScreenLineSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ScreenLineSplitTest, SplitsAtBarsAndBackslashN)
{
    const SplitCase& c = GetParam();
    const SubtitleLayout layout = LayOutSubtitle(u8(c.text), 720, 576, SubtitleRenderSettings{});
    ASSERT_EQ(layout.LineCount, c.count) << c.text;
    EXPECT_EQ(layout.Lines[0], u8(c.l1));
    if (c.count >= 2) {
        EXPECT_EQ(layout.Lines[1], u8(c.l2));
    }
    if (c.count >= 3) {
        EXPECT_EQ(layout.Lines[2], u8(c.l3));
    }
    ASSERT_EQ(layout.Screen.size(), static_cast<std::size_t>(c.count));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScreenLineSplitTest,
    ::testing::Values(SplitCase{"One", 1, "One", "", ""}, SplitCase{"a|b", 2, "a", "b", ""},
                      SplitCase{"a|b|c", 3, "a", "b", "c"},
                      // a fourth part stays in the third line with its "|"
                      SplitCase{"a|b|c|d", 3, "a", "b", "c|d"}, SplitCase{"a\\Nb", 2, "a", "b", ""},
                      SplitCase{"a\\Nb\\Nc", 3, "a", "b", "c"},
                      // "\N" replaces the "|" split; the "|" is drawn
                      SplitCase{"a|b\\Nc", 2, "a|b", "c", ""}, SplitCase{"", 1, "", "", ""}));

// ---- font size and block geometry ---------------------------------------------------

TEST(SubtitleLayout, AutomaticHeightOnA576LineFrame)
{
    const SubtitleLayout layout = LayOutSubtitle(u8("Hello"), 720, 576, SubtitleRenderSettings{});
    EXPECT_EQ(layout.FontHeight, -57);
    EXPECT_EQ(layout.LineHeight, 57);
    EXPECT_EQ(layout.BlockHeight, 72);
    EXPECT_EQ(layout.BlockTop, 499);
    ASSERT_EQ(layout.Screen.size(), 1u);
    EXPECT_EQ(layout.Screen[0].Y, 500);
    // centred: block around the line, the line in the block
    // the block is measured in bold, the line drawn in the subtitle font's own style
    EXPECT_GT(layout.BlockWidth, layout.Screen[0].Width + 25);
    EXPECT_EQ(layout.BlockLeft, 360 - layout.BlockWidth / 2);
    EXPECT_EQ(layout.Screen[0].X, layout.BlockLeft + (layout.BlockWidth - layout.Screen[0].Width) / 2 + 1);
}

TEST(SubtitleLayout, FontSizeSettingLiftsATinyAutomaticHeight)
{
    SubtitleRenderSettings settings;
    settings.FontVol = 3; // 120 x 3 % = 3 pixels
    settings.EFontSize = 20;
    EXPECT_EQ(LayOutSubtitle(u8("Hi"), 160, 120, settings).FontHeight, -10);
    settings.EFontSize = 6; // 3 > 2 points: lifted to -3 (the same height)
    EXPECT_EQ(LayOutSubtitle(u8("Hi"), 160, 120, settings).FontHeight, -3);
}

TEST(SubtitleLayout, FixedSizeKeepsTheSubtitleFont)
{
    SubtitleRenderSettings settings;
    settings.CSubFontAutoHeight = false;
    EXPECT_EQ(LayOutSubtitle(u8("Hi"), 720, 576, settings).FontHeight, -27);
}

TEST(SubtitleLayout, MaximumWidthIsFWidthPlusOnePercent)
{
    SubtitleRenderSettings settings;
    EXPECT_EQ(LayOutSubtitle(u8("x"), 720, 576, settings).MaxWidth, 691);
    settings.FWidth = 50;
    EXPECT_EQ(LayOutSubtitle(u8("x"), 720, 576, settings).MaxWidth, 367);
}

TEST(SubtitleLayout, BlockTopRoundsHalvesToEven)
{
    SubtitleRenderSettings settings;
    settings.CSubFontAutoHeight = false; // 27-pixel lines: one-line block 42 high
    settings.NapisBottom = 50;
    // free height 100 - 42 = 58: 58 - 29 = 29 exactly
    EXPECT_EQ(LayOutSubtitle(u8("x"), 200, 100, settings).BlockTop, 29);
    // free height 101 - 42 = 59: 59 - 29.5 = 29.5 -> 30 (even); 103: 30.5 -> 30
    EXPECT_EQ(LayOutSubtitle(u8("x"), 200, 101, settings).BlockTop, 30);
    EXPECT_EQ(LayOutSubtitle(u8("x"), 200, 103, settings).BlockTop, 30);
    settings.NapisBottom = 0;
    EXPECT_EQ(LayOutSubtitle(u8("x"), 200, 100, settings).BlockTop, 58);
}

TEST(SubtitleLayout, ThreeLinesStackUnderEachOther)
{
    const SubtitleLayout layout = LayOutSubtitle(u8("One|Two|Three"), 720, 576, SubtitleRenderSettings{});
    ASSERT_EQ(layout.LineCount, 3);
    EXPECT_EQ(layout.BlockHeight, 3 * 57 + 15);
    EXPECT_EQ(layout.Screen[1].Y, layout.BlockTop + 57 + 3);
    EXPECT_EQ(layout.Screen[2].Y, layout.BlockTop + 2 * 57 + 6);
}

TEST(SubtitleLayout, OverLongLineBreaksAfterItsComma)
{
    const SubtitleLayout layout =
        LayOutSubtitle(u8("This is a long line, with a comma"), 720, 576, SubtitleRenderSettings{});
    ASSERT_EQ(layout.LineCount, 2);
    EXPECT_EQ(layout.Lines[0], u8("This is a long line,"));
    EXPECT_EQ(layout.Lines[1], u8(" with a comma"));
    EXPECT_EQ(layout.FontHeight, -57); // both halves fit: no shrinking
}

TEST(SubtitleLayout, SecondPassBreaksTheWiderLineAgain)
{
    const SubtitleLayout layout =
        LayOutSubtitle(u8("Ala ma kota, a kot ma Alę i jeszcze psa oraz chomika w klatce na stole"), 720, 576,
                       SubtitleRenderSettings{});
    ASSERT_EQ(layout.LineCount, 3);
    EXPECT_EQ(layout.Lines[0], u8("Ala ma kota,"));
    EXPECT_EQ(layout.Lines[1], u8(" a kot ma Alę i jeszcze "));
    EXPECT_EQ(layout.Lines[2], u8("psa oraz chomika w klatce na stole"));
    // the third line was still too wide: shrunk until it fits
    EXPECT_GT(layout.FontHeight, -57);
    EXPECT_LE(layout.BlockWidth - 25, layout.MaxWidth);
}

TEST(SubtitleLayout, WithoutBreakingOrShrinkingALongLineRunsOffBothEdges)
{
    SubtitleRenderSettings settings;
    settings.CIQDziel = false;
    settings.CIQZmniejsz = false;
    const SubtitleLayout layout =
        LayOutSubtitle(u8("This is a very long line, far too wide for the frame"), 720, 576, settings);
    EXPECT_EQ(layout.LineCount, 1);
    EXPECT_EQ(layout.FontHeight, -57);
    EXPECT_LT(layout.Screen[0].X, 0);
    EXPECT_GT(layout.Screen[0].X + layout.Screen[0].Width, 720);
}

TEST(SubtitleLayout, ShrinkingFitsTheLineOrStopsAtAReadableSize)
{
    SubtitleRenderSettings settings;
    settings.CIQDziel = false;
    const SubtitleLayout fits =
        LayOutSubtitle(u8("This line is somewhat too wide for the frame"), 720, 576, settings);
    EXPECT_GT(fits.FontHeight, -57);
    EXPECT_LE(fits.BlockWidth - 25, fits.MaxWidth);

    // Never fits: the size stops at 3 % of the frame height (17 px = 13 pt) and is drawn so.
    const SubtitleLayout stops = LayOutSubtitle(QString(400, u'W'), 720, 576, settings);
    EXPECT_EQ(stops.FontSize, 13);
    EXPECT_EQ(stops.FontHeight, -17);
    EXPECT_GT(stops.BlockWidth - 25, stops.MaxWidth);
}

TEST(SubtitleLayout, EachLineKeepsTheStyleAndColourItsTagsGive)
{
    const SubtitleLayout layout =
        LayOutSubtitle(u8("{C:$0000FF}Plain red|{Y:I}Italic|{Y:B}Bold"), 720, 576, SubtitleRenderSettings{});
    ASSERT_EQ(layout.LineCount, 3);
    EXPECT_EQ(layout.Screen[0].Text, u8("Plain red"));
    EXPECT_EQ(layout.Screen[0].Style, 0u); // the subtitle font has no style
    EXPECT_EQ(layout.Screen[1].Style, fsItalic);
    EXPECT_EQ(layout.Screen[2].Style, fsBold);
    for (const ScreenLine& line : layout.Screen)
        EXPECT_EQ(line.Colour, qRgb(255, 0, 0)); // a colour set on line 1 carries over
}

TEST(SubtitleLayout, OutlineWidthByStyle)
{
    SubtitleRenderSettings settings;
    settings.EObwodka = 3.7;
    for (int style : {0, 1, 2, 3}) {
        settings.GSubFontType = style;
        const SubtitleLayout layout = LayOutSubtitle(u8("x"), 720, 576, settings);
        EXPECT_EQ(layout.Outline, (style == 0 || style == 3) ? 3 : 0) << style;
        EXPECT_EQ(layout.OpaqueBoxes, style == 2) << style;
    }
}

// ---- pixels -------------------------------------------------------------------------

const std::uint8_t kGrey = 100;

bool isDark(const TRGBImage& image, int x, int y)
{
    const std::uint8_t* p = &image.Pixels[static_cast<std::size_t>(y) * image.Stride + x * 3];
    return p[0] < 40 && p[1] < 40 && p[2] < 40;
}

bool isWhite(const TRGBImage& image, int x, int y)
{
    const std::uint8_t* p = &image.Pixels[static_cast<std::size_t>(y) * image.Stride + x * 3];
    return p[0] > 215 && p[1] > 215 && p[2] > 215;
}

bool isGrey(const TRGBImage& image, int x, int y)
{
    const std::uint8_t* p = &image.Pixels[static_cast<std::size_t>(y) * image.Stride + x * 3];
    return p[0] == kGrey && p[1] == kGrey && p[2] == kGrey;
}

int countDark(const TRGBImage& image)
{
    int count = 0;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            count += isDark(image, x, y);
    return count;
}

// Sub-pixel positions where the values along a line of pixels cross `level`: with
// anti-aliasing, an edge lies where its pixel is half covered.
std::vector<double> crossings(const std::vector<int>& v, double level)
{
    std::vector<double> at;
    for (std::size_t i = 0; i + 1 < v.size(); ++i)
        if ((v[i] < level) != (v[i + 1] < level))
            at.push_back(static_cast<double>(i) + (level - v[i]) / static_cast<double>(v[i + 1] - v[i]));
    return at;
}

// Edges of a white "I" with a black rim on grey, along the row through the middle of the
// letter and along the column through the middle of its stem.
struct Edges {
    double rimFirst = 0, rimLast = 0;     // where grey turns black / black turns grey
    double whiteFirst = 0, whiteLast = 0; // where the letter's white begins and ends
    bool hasRim = false;
};

struct StemScan {
    Edges row, column;
    bool found = false;
};

Edges edgesAlong(const std::vector<int>& v)
{
    Edges e;
    const std::vector<double> dark = crossings(v, kGrey / 2.0); // half-way grey to black
    const std::vector<double> white = crossings(v, 255 / 2.0);  // half-way black to white
    if (!white.empty()) {
        e.whiteFirst = white.front();
        e.whiteLast = white.back();
    }
    if (!dark.empty()) {
        e.hasRim = true;
        e.rimFirst = dark.front();
        e.rimLast = dark.back();
    }
    return e;
}

StemScan scanStem(const TRGBImage& image)
{
    auto value = [&](int x, int y) {
        return int(image.Pixels[static_cast<std::size_t>(y) * image.Stride + x * 3]);
    };
    int top = -1, bottom = -1, left = image.Width, right = -1;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            if (isWhite(image, x, y)) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
    StemScan s;
    if (top < 0)
        return s;
    const int midY = (top + bottom) / 2;
    for (int x = 0; x < image.Width; ++x)
        if (isWhite(image, x, midY)) {
            left = std::min(left, x);
            right = std::max(right, x);
        }
    const int midX = (left + right) / 2;
    std::vector<int> row, column;
    for (int x = 0; x < image.Width; ++x)
        row.push_back(value(x, midY));
    for (int y = 0; y < image.Height; ++y)
        column.push_back(value(midX, y));
    s.row = edgesAlong(row);
    s.column = edgesAlong(column);
    s.found = true;
    return s;
}

SubtitleRenderSettings whiteText(int style, double outline)
{
    SubtitleRenderSettings settings;
    settings.GSubFontType = style;
    settings.EObwodka = outline;
    settings.PanelWzor.Colour = qRgb(255, 255, 255);
    return settings;
}

TEST(SubtitlePixels, OutlineOfFourHasBlackCopiesAtZeroAndFourAndTheTextAtTwo)
{
    TRGBImage frame = MakeRGBImage(720, 576, kGrey, kGrey, kGrey);
    BurnSubtitleText(whiteText(0, 4), u8("I"), frame);
    const StemScan s = scanStem(frame);
    ASSERT_TRUE(s.found);
    // Black copies at offsets 0 and 4, white at 2: two pixels of rim on each side of the
    // stem, and above and below the letter.
    for (const Edges& e : {s.row, s.column}) {
        ASSERT_TRUE(e.hasRim);
        EXPECT_NEAR(e.whiteFirst - e.rimFirst, 2, 0.3);
        EXPECT_NEAR(e.rimLast - e.whiteLast, 2, 0.3);
    }
}

TEST(SubtitlePixels, OutlineOfOneShowsOnlyRightAndBelow)
{
    TRGBImage frame = MakeRGBImage(720, 576, kGrey, kGrey, kGrey);
    BurnSubtitleText(whiteText(0, 1), u8("I"), frame);
    const StemScan s = scanStem(frame);
    ASSERT_TRUE(s.found);
    for (const Edges& e : {s.row, s.column}) {
        ASSERT_TRUE(e.hasRim);
        EXPECT_GT(e.rimFirst, e.whiteFirst); // nothing black before the letter
        EXPECT_NEAR(e.rimLast - e.whiteLast, 1, 0.3);
    }
}

TEST(SubtitlePixels, WithoutOutlineThereIsNoRim)
{
    TRGBImage frame = MakeRGBImage(720, 576, kGrey, kGrey, kGrey);
    BurnSubtitleText(whiteText(1, 4), u8("I"), frame);
    const StemScan s = scanStem(frame);
    ASSERT_TRUE(s.found);
    EXPECT_FALSE(s.row.hasRim);
    EXPECT_FALSE(s.column.hasRim);
}

TEST(SubtitlePixels, FourStyles)
{
    const QString text = u8("Hi there");
    for (int style : {0, 1, 2, 3}) {
        SCOPED_TRACE(style);
        TRGBImage frame = MakeRGBImage(720, 576, kGrey, kGrey, kGrey);
        const SubtitleRenderSettings settings = whiteText(style, 4);
        BurnSubtitleText(settings, text, frame);
        const SubtitleLayout layout = LayOutSubtitle(text, 720, 576, settings);
        const ScreenLine& line = layout.Screen[0];
        const int whiteCount = [&] {
            int n = 0;
            for (int y = 0; y < 576; ++y)
                for (int x = 0; x < 720; ++x)
                    n += isWhite(frame, x, y);
            return n;
        }();
        EXPECT_GT(whiteCount, 500);
        switch (style) {
        case 0:
        case 3: // outlined, letters on the picture
            EXPECT_GT(countDark(frame), 500);
            EXPECT_TRUE(isGrey(frame, line.X, line.Y));
            break;
        case 1: // no outline at all
            EXPECT_EQ(countDark(frame), 0);
            break;
        case 2: // a black box the size of the text cell
            EXPECT_TRUE(isDark(frame, line.X, line.Y));
            EXPECT_TRUE(isDark(frame, line.X + line.Width - 1, line.Y));
            EXPECT_TRUE(isDark(frame, line.X, line.Y + layout.LineHeight));
            EXPECT_TRUE(isGrey(frame, line.X - 2, line.Y));
            EXPECT_TRUE(isGrey(frame, line.X + line.Width + 2, line.Y));
            EXPECT_TRUE(isGrey(frame, line.X, line.Y - 2));
            break;
        }
    }
}

TEST(SubtitlePixels, CompositedBlockEqualsTextDrawnOntoTheFrame)
{
    const SubtitleRenderSettings settings = whiteText(0, 4);
    const QString text = u8("Zażółć gęślą|{Y:I}jaźń, {C:$00FFFF}żółw");
    TRGBImage composited = MakeRGBImage(720, 576, 40, 90, 160);
    BurnSubtitleText(settings, text, composited);

    TRGBImage direct = MakeRGBImage(720, 576, 40, 90, 160);
    {
        QImage image(direct.Pixels.data(), 720, 576, direct.Stride, QImage::Format_RGB888);
        image.setDotsPerMeterX(kDotsPerMeter96Dpi);
        image.setDotsPerMeterY(kDotsPerMeter96Dpi);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const SubtitleLayout layout = LayOutSubtitle(text, 720, 576, settings);
        for (const ScreenLine& line : layout.Screen)
            DrawAATextDIVX(painter, WorkingFont(layout.WorkingFontName, layout.LineHeight, line.Style),
                           line.X, line.Y, layout.Outline, line.Colour, line.FontName, line.Text, false);
    }
    int worst = 0, changed = 0;
    for (std::size_t i = 0; i < direct.Pixels.size(); ++i) {
        worst = std::max(worst, std::abs(int(direct.Pixels[i]) - int(composited.Pixels[i])));
        changed += composited.Pixels[i] != MakeRGBImage(1, 1, 40, 90, 160).Pixels[i % 3];
    }
    EXPECT_GT(changed, 1000);
    EXPECT_LE(worst, 3);
}

TEST(SubtitlePixels, OnlyTheBlocksRowsAreAskedForAndChanged)
{
    TRGBImage frame = MakeRGBImage(720, 576, kGrey, kGrey, kGrey);
    const TRGBImage before = frame;
    ImageHookBitmap bitmap(frame);
    const SubtitleLayout layout = LayOutSubtitle(u8("Hello|world"), 720, 576, whiteText(0, 4));
    CompositeOverlay(RenderSubtitleOverlay(layout), bitmap);
    EXPECT_EQ(bitmap.rowsCalls(), 1);
    EXPECT_GE(bitmap.askedTop(), layout.BlockTop - 4);
    EXPECT_LE(bitmap.askedBottom(), 576);
    EXPECT_LT(bitmap.askedBottom() - bitmap.askedTop(), layout.BlockHeight + 20);
    for (int y = 0; y < 576; ++y) {
        if (y >= bitmap.askedTop() && y < bitmap.askedBottom())
            continue;
        const auto* a = &before.Pixels[static_cast<std::size_t>(y) * before.Stride];
        const auto* b = &frame.Pixels[static_cast<std::size_t>(y) * frame.Stride];
        ASSERT_TRUE(std::equal(a, a + 720 * 3, b)) << "row " << y;
    }
}

TEST(SubtitlePixels, EmptyTextDrawsNothing)
{
    TRGBImage frame = MakeRGBImage(320, 240, kGrey, kGrey, kGrey);
    ImageHookBitmap bitmap(frame);
    CompositeOverlay(RenderSubtitleOverlay(LayOutSubtitle(QString(), 320, 240, whiteText(2, 4))), bitmap);
    EXPECT_EQ(bitmap.rowsCalls(), 0);
}

// A PAL frame with a Polish two-line cue, saved when KV_SUBTITLE_SAMPLE names a file, so
// the picture can be looked at.
TEST(SubtitlePixels, PolishTwoLineCueOnAPalFrame)
{
    TRGBImage frame = MakeRGBImage(720, 576, 0, 0, 0);
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 720; ++x) {
            std::uint8_t* p = &frame.Pixels[static_cast<std::size_t>(y) * frame.Stride + x * 3];
            p[0] = static_cast<std::uint8_t>(60 + x * 150 / 720);
            p[1] = static_cast<std::uint8_t>(120 + (y * 100 / 576));
            p[2] = static_cast<std::uint8_t>(((x / 40 + y / 40) % 2) ? 200 : 150);
        }
    SubtitleRenderSettings settings; // the program's defaults: white Arial, outline 4
    BurnSubtitleText(settings, u8("Zażółć gęślą jaźń,|a źdźbło żyta się łamie."), frame);
    int white = 0;
    for (int y = 400; y < 576; ++y)
        for (int x = 0; x < 720; ++x)
            white += isWhite(frame, x, y);
    EXPECT_GT(white, 2000);
    if (const char* out = std::getenv("KV_SUBTITLE_SAMPLE")) {
        const QImage image(frame.Pixels.data(), 720, 576, frame.Stride, QImage::Format_RGB888);
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(out)));
    }
}

} // namespace
} // namespace kv::subtitles
