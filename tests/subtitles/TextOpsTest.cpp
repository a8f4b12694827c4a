// Split points and inline style tags of subtitle lines.
#include "subtitles/TextOps.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

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

struct SplitCase {
    const char* line;
    int expected;
};

void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << caseName(c.line);
}

class FindSplitPointTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FindSplitPointTest, CutsWhereExpected)
{
    const SplitCase& c = GetParam();
    EXPECT_EQ(FindSplitPoint(QString::fromUtf8(c.line)), c.expected) << c.line;
}

INSTANTIATE_TEST_SUITE_P(Table, FindSplitPointTest,
                         ::testing::Values(
                             // after the comma of the middle
                             SplitCase{"This is a long line, with a comma", 21},
                             // "..." wins over a comma, which lies before the middle here
                             SplitCase{"Well, I think... maybe not", 17},
                             // no "..." or "," in the middle: after the first "."
                             SplitCase{"Hi, this is the end. Bye now", 21},
                             // 12 characters: the middle is empty; first space from character 4 on
                             SplitCase{"abcdef ghijk", 8}, SplitCase{"ab cdef ghij", 9},
                             // no space from character L/3 on: cut at that character
                             SplitCase{"abcdefghijklmnop", 5},
                             // a style tag after L/3 is never cut
                             SplitCase{"Some words here {Y:I} and more", 0},
                             // too short to cut
                             SplitCase{"ab", 0}, SplitCase{"", 0},
                             // Polish text, counted in characters, not bytes
                             SplitCase{"Zażółć gęślą jaźń, żółty kocie", 19}));

struct TagCase {
    const char* input;
    bool reset;
    const char* text;
    const char* fontName;
    QRgb colour;
    FontStyles style;
};

void PrintTo(const TagCase& c, std::ostream* os)
{
    *os << caseName(c.input);
}

class ApplyInlineTagsTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ApplyInlineTagsTest, ResolvesTags)
{
    const TagCase& c = GetParam();
    // As a line before this one left it: face "Prev", grey, bold; the subtitle font is
    // "Arial", white, without style.
    InlineTagState state;
    state.FontName = QStringLiteral("Prev");
    state.Colour = qRgb(128, 128, 128);
    state.Style = fsBold;
    state.BaseFontName = QStringLiteral("Arial");
    state.BaseStyle = 0;
    EXPECT_EQ(ApplyInlineTags(QString::fromUtf8(c.input), c.reset, state), QString::fromUtf8(c.text))
        << c.input;
    EXPECT_EQ(state.FontName, QString::fromUtf8(c.fontName)) << c.input;
    EXPECT_EQ(state.Colour, c.colour) << c.input;
    EXPECT_EQ(state.Style, c.style) << c.input;
}

const QRgb grey = qRgb(128, 128, 128);

INSTANTIATE_TEST_SUITE_P(
    Table, ApplyInlineTagsTest,
    ::testing::Values(
        TagCase{"{Y:I}{Y:B}Text", true, "Text", "Arial", grey, fsBold},
        TagCase{"<i>Text</i>", true, "Text", "Arial", grey, fsItalic},
        TagCase{"{C:$0000FF}Red", true, "Red", "Arial", qRgb(255, 0, 0), 0},
        TagCase{"<FONT COLOR=\"#0000FF\">Blue</FONT>", true, "Blue", "Arial", qRgb(0, 0, 255), 0},
        TagCase{"<font color=\"#00ff00\">Green", false, "Green", "Prev", qRgb(0, 255, 0), fsBold},
        TagCase{"{f:Times New Roman}Hi", true, "Hi", "Times New Roman", grey, 0},
        // "{F:" without "}" empties the face and only "{F:" goes
        TagCase{"{F:Broken", false, "Broken", "", grey, fsBold},
        // digits that are not hexadecimal change nothing and stay
        TagCase{"{C:$GG0000}X", true, "{C:$GG0000}X", "Arial", grey, 0},
        // a later line without tags keeps face, colour and style of the line before
        TagCase{"Plain", false, "Plain", "Prev", grey, fsBold},
        TagCase{"{y:u}Under", true, "Under", "Arial", grey, fsUnderline},
        TagCase{"{Y: B}Bold", false, "Bold", "Prev", grey, fsBold},
        TagCase{"{Y I}{Y:U}x", true, "x", "Arial", grey, fsUnderline},
        TagCase{"{Y: I}Slanted", false, "Slanted", "Prev", grey, fsItalic},
        // a "/" among the first four characters is taken for italic, one further on stays
        TagCase{"Who/what", true, "Whowhat", "Arial", grey, fsItalic},
        TagCase{"Either/or", true, "Either/or", "Arial", grey, 0},
        TagCase{"Cut here</FONT> gone", true, "Cut here", "Arial", grey, 0},
        // "<I>" is not an italic tag
        TagCase{"<I>Upper</I>", true, "<I>Upper</I>", "Arial", grey, 0}));

TEST(ApplyInlineTags, ResetRestoresTheSubtitleFontsStyle)
{
    InlineTagState state;
    state.Style = fsUnderline;
    state.BaseStyle = fsItalic | fsBold;
    state.BaseFontName = QStringLiteral("Arial");
    EXPECT_EQ(ApplyInlineTags(QStringLiteral("Text"), true, state), QStringLiteral("Text"));
    EXPECT_EQ(state.Style, fsItalic | fsBold);
    EXPECT_EQ(state.FontName, QStringLiteral("Arial"));
}

} // namespace
} // namespace kv::subtitles
