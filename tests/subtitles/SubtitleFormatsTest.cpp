// The seven timing formats, read from short files written by the tests and from real files.
#include "LoaderTestSupport.h"

using namespace kv::subtitles;
using namespace kv::subtitles::test;

namespace {

struct FormatCase {
    const char* what;
    const char* fileName;
    QByteArray content;
    SubtitleFormat format;
    Rows cues;
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.what;
}

class SampleLines : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SampleLines, GiveTheirRows)
{
    const FormatCase& c = GetParam();
    const Loaded loaded = loadBytes(c.fileName, c.content);
    ASSERT_TRUE(loaded.result.ok) << loaded.result.message.toStdString();
    EXPECT_EQ(loaded.result.format, c.format);
    EXPECT_EQ(cuesOf(loaded.table), c.cues) << formatSubtitleTable(loaded.table).toStdString();
    EXPECT_EQ(loaded.table.key(0), QStringLiteral("0"));
    EXPECT_EQ(loaded.table.value(0), creditRowText());
    EXPECT_TRUE(loaded.rawLines.isEmpty());
}

const char kSsaHead[] = "[Script Info]\nTitle: x\n\n[Events]\n"
                        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

INSTANTIATE_TEST_SUITE_P(
    Formats, SampleLines,
    ::testing::Values(
        FormatCase{"MicroDvdAt25",
                   "a.sub",
                   "{250}{300}Hello|World\n",
                   SubtitleFormat::MicroDvd,
                   {{10000, "Hello|World"}}},
        FormatCase{"MicroDvdSecondZeroMovesPastCredit",
                   "a.sub",
                   "{24}{48}Hi\n",
                   SubtitleFormat::MicroDvd,
                   {{1000, "Hi"}}},
        FormatCase{"MicroDvdFrameRateLine",
                   "a.txt",
                   "{1}{1}23.976\n{250}{300}x\n",
                   SubtitleFormat::MicroDvd,
                   {{1000, "23.976"}, {10000, "x"}}},
        FormatCase{"MicroDvdWithoutEndFrame",
                   "a.sub",
                   "{250}Only start\n",
                   SubtitleFormat::MicroDvd,
                   {{10000, "Only start"}}},
        FormatCase{"MicroDvdSameSecondMovesOn",
                   "a.sub",
                   "{250}{260}A\n{260}{270}B\n{251}{280}C\n",
                   SubtitleFormat::MicroDvd,
                   {{10000, "A"}, {11000, "B"}, {12000, "C"}}},
        FormatCase{"MicroDvdUnreadableLinesSkipped",
                   "a.sub",
                   "{abc}{10}x\n{-50}{10}neg\n{50 no close\n{75}{80}ok\n",
                   SubtitleFormat::MicroDvd,
                   {{3000, "ok"}}},
        FormatCase{"Mpl2", "a.txt", "[125][150]Text\n", SubtitleFormat::Mpl2, {{12000, "Text"}}},
        FormatCase{"Mpl2FiveDigitsReadAsMinutesSeconds",
                   "a.txt",
                   "[12345][12400]x\n",
                   SubtitleFormat::BracketMinutesSeconds,
                   {{765000, "x"}}},
        FormatCase{"BracketMinutesSeconds",
                   "a.txt",
                   "[01:05]Text\n[01:09][01:12]Text two\n",
                   SubtitleFormat::BracketMinutesSeconds,
                   {{65000, "Text"}, {69000, "Text two"}}},
        FormatCase{
            "TmPlayerOneDigitHour", "a.txt", "0:01:05:Text\n", SubtitleFormat::TmPlayer, {{65000, "Text"}}},
        FormatCase{
            "TmPlayerEqualsSign", "a.txt", "00:01:05=Text\n", SubtitleFormat::TmPlayer, {{65000, "Text"}}},
        FormatCase{"TmPlayerNeighbourPass",
                   "a.txt",
                   "00:01:05:A\n00:01:05:B\n00:01:07:C\n00:01:05:D\n",
                   SubtitleFormat::TmPlayer,
                   {{65000, "A"}, {66000, "B"}, {67000, "C"}, {65000, "D"}}},
        FormatCase{"TmPlayerSecondZeroNeighbourOfCredit",
                   "a.txt",
                   "00:00:00:First\n00:02:09:Next\n",
                   SubtitleFormat::TmPlayer,
                   {{1000, "First"}, {129000, "Next"}}},
        FormatCase{"TmPlayerLastLineAtZeroDropped",
                   "a.txt",
                   "00:00:09:A\n00:00:30:B\n00:00:00:end marker\n",
                   SubtitleFormat::TmPlayer,
                   {{9000, "A"}, {30000, "B"}}},
        FormatCase{"TmPlayerBadTimesSkipped",
                   "a.txt",
                   "-0:00:07:neg\n24:00:00:late\n00:61:00:bad\nxx:yy\n01:00:00:ok\n",
                   SubtitleFormat::TmPlayer,
                   {{3600000, "ok"}}},
        FormatCase{"SubRipCue",
                   "a.srt",
                   "7\n00:01:05,900 --> 00:01:08,000\nFirst line\nSecond line\n",
                   SubtitleFormat::SubRip,
                   {{65000, "First line|Second line"}}},
        FormatCase{"SubRipShortSecondLineEndsCue",
                   "a.srt",
                   "1\r\n00:00:02,000 --> 00:00:03,000\r\nAre you there?\r\nYes.\r\n\r\n"
                   "2\r\n00:00:04,000 --> 00:00:05,000\r\nLast cue\r\n",
                   SubtitleFormat::SubRip,
                   {{2000, "Are you there?"}, {4000, "Last cue"}}},
        FormatCase{"SubRipFiveDigitCounters",
                   "a.srt",
                   "10000\n00:00:02,000 --> 00:00:03,000\nFirst text\n10001\n00:00:04,000 --> "
                   "00:00:05,000\nSecond\n",
                   SubtitleFormat::SubRip,
                   {{2000, "First text"}, {4000, "Second"}}},
        FormatCase{"SubRipWithoutCounters",
                   "a.srt",
                   "00:00:02,000 --> 00:00:03,000\nFirst text\n\n00:00:04,000 --> 00:00:05,000\nSecond\n",
                   SubtitleFormat::SubRip,
                   {{2000, "First text"}, {4000, "Second"}}},
        FormatCase{"SubRipTimingLineAtTheEnd",
                   "a.srt",
                   "1\n00:00:02,000 --> 00:00:03,000\nText\n2\n00:00:04,000 --> x\n",
                   SubtitleFormat::SubRip,
                   {{2000, "Text"}}},
        FormatCase{"SubRipNeedsItsExtension",
                   "a.txt",
                   "00:00:02,000 --> 00:00:03,000\nText\n",
                   SubtitleFormat::TmPlayer,
                   {{2000, "000 --> 00:00:03,000"}}},
        FormatCase{"Sami",
                   "a.smi",
                   "<SAMI><BODY>\n<SYNC Start=2500><P>Hi<br>there\n<SYNC Start=3000><P Class=ENCC>Skipped\n"
                   "<SYNC Start=4000><P>&nbsp;\n<SYNC Start=5999><P>Five<BR>and<br>more\n",
                   SubtitleFormat::Sami,
                   {{2000, "Hi|there"}, {5000, "Five|and<br>more"}}},
        FormatCase{"SubStationOverrideBlockRemoved",
                   "a.ass",
                   QByteArray(kSsaHead) +
                       "Dialogue: 0,0:01:05.50,0:01:07.00,Default,,0000,0000,0000,,{\\i1}Hi\n",
                   SubtitleFormat::SubStation,
                   {{65000, " Hi"}}},
        FormatCase{"SubStationCommaInText",
                   "a.SSA",
                   QByteArray(kSsaHead) +
                       "Dialogue: 0,0:00:01.23,0:00:04.56,Default,,0000,0000,0000,,Hello, world\n"
                       "Dialogue: 0,10:00:02.00,10:00:04.56,Default,,0000,0000,0000,,Late\n",
                   SubtitleFormat::SubStation,
                   {{1000, " Hello, world"}, {36002000, "Late"}}},
        FormatCase{"SubStationFormatWithoutStartColumn",
                   "a.ass",
                   "[Events]\nFormat: Layer, Begin, End, Text\nDialogue: 0,0:00:05.00,0:00:06.00,Hi\n",
                   SubtitleFormat::SubStation,
                   {}},
        FormatCase{"SubEditLinesAndShortLinesRemoved",
                   "a.sub",
                   "{1}{1}25.000 info|/SubEdit b.4060/\nab\n{100}{200}x\n",
                   SubtitleFormat::MicroDvd,
                   {{4000, "x"}}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(SplitByComma, PiecesAreTrimmedAndLimited)
{
    struct Case {
        QString text;
        QStringList pieces;
    };
    const QString b300(300, u'b');
    const Case cases[] = {
        {"a, b ,\tc", {"a", "b", "c"}},
        {"", {""}},
        {"no comma", {"no comma"}},
        {",", {"", ""}},
        {"x," + b300, {"x", QString(255, u'b')}},
        // After a comma only 255 characters remain, so a comma further on is never seen.
        {"x," + QString(256, u'b') + ",c", {"x", QString(255, u'b')}},
    };
    for (const Case& c : cases) {
        QStringList pieces{"kept"};
        SplitByComma(c.text, pieces);
        EXPECT_EQ(pieces, QStringList{"kept"} + c.pieces) << c.text.toStdString();
    }
}

TEST(LineLimits, TmPlayerReadsOnlyTheFirst3001Lines)
{
    QByteArray text;
    for (int i = 0; i < 6000; ++i)
        text += QStringLiteral("%1:%2:%3:Line %4\n")
                    .arg(i / 3600 + 1, 2, 10, QLatin1Char('0'))
                    .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(i)
                    .toUtf8();
    const Loaded loaded = loadBytes("long.txt", text);
    ASSERT_TRUE(loaded.result.ok);
    ASSERT_EQ(loaded.table.rowCount(), 1 + 3001);
    EXPECT_EQ(loaded.table.value(3001), QStringLiteral("Line 3000"));
}

TEST(LineLimits, CleanupLooksAtTheFirst5001LinesOnly)
{
    QByteArray text;
    for (int i = 0; i < 6000; ++i) {
        if (i == 10 || i == 5000 || i == 5001)
            text += QStringLiteral("[%1][0]SUBEDIT at %2\n").arg(i * 10).arg(i).toUtf8();
        else
            text += QStringLiteral("[%1][0]x\n").arg(i * 10).toUtf8();
    }
    const Loaded loaded = loadBytes("mpl2.txt", text);
    ASSERT_TRUE(loaded.result.ok);
    const QString table = formatSubtitleTable(loaded.table);
    EXPECT_FALSE(table.contains(QLatin1String("SUBEDIT at 10\n")));
    EXPECT_FALSE(table.contains(QLatin1String("SUBEDIT at 5000\n")));
    EXPECT_TRUE(table.contains(QLatin1String("5001000\tSUBEDIT at 5001\n")));
    EXPECT_EQ(loaded.table.rowCount(), 1 + 6000 - 2);
}

// Many cues in one second each move to the next free second (and fast: see the bench test).
TEST(NextFreeSecond, ManyCuesInOneSecond)
{
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "{0}{1}same\n";
    text += "{25}{26}one second\n";
    const Loaded loaded = loadBytes("same.sub", text);
    ASSERT_EQ(loaded.table.rowCount(), 1 + 2001);
    for (int r = 1; r <= 2000; ++r)
        ASSERT_EQ(loaded.table.keyMs(r), r * 1000) << r;
    EXPECT_EQ(loaded.table.keyMs(2001), 2001 * 1000);
}

// A second whose first row has no text counts as free: B and C both start there; the
// neighbour pass then moves B, the direct neighbour of the empty row.
TEST(NextFreeSecond, EmptyTextDoesNotTakeTheSecond)
{
    const Loaded loaded = loadBytes("empty.sub", "{250}{260}\n{250}{260}B\n{250}{260}C\n");
    EXPECT_EQ(cuesOf(loaded.table), (Rows{{10000, ""}, {11000, "B"}, {10000, "C"}}));
}

// Real files as users have them.
struct RealFileCase {
    const char* file;
    double fps;
    const char* language;
    SubtitleFormat format;
    int cueRows;
    std::int64_t firstKey;
    QString firstText;
};

void PrintTo(const RealFileCase& c, std::ostream* os)
{
    *os << c.file;
}

class RealFiles : public ::testing::TestWithParam<RealFileCase> {};

TEST_P(RealFiles, Load)
{
    const RealFileCase& c = GetParam();
    const Loaded loaded =
        loadPath(dataFile(c.file), c.fps, DecodeOptions{QString(), QString::fromLatin1(c.language)});
    ASSERT_TRUE(loaded.result.ok) << loaded.result.message.toStdString();
    EXPECT_EQ(loaded.result.format, c.format);
    const std::string dump = formatSubtitleTable(loaded.table).toStdString();
    EXPECT_EQ(loaded.result.cueRows, c.cueRows) << dump;
    ASSERT_GE(loaded.table.rowCount(), 2) << dump;
    EXPECT_EQ(loaded.table.keyMs(1), c.firstKey) << dump;
    EXPECT_EQ(loaded.table.value(1), c.firstText) << dump;
    for (int r = 1; r < loaded.table.rowCount(); ++r) {
        EXPECT_EQ(loaded.table.keyMs(r) % 1000, 0);
        EXPECT_NE(loaded.table.keyMs(r), loaded.table.keyMs(r - 1)) << "neighbours differ";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, RealFiles,
    ::testing::Values(RealFileCase{"napi_MicroDVDSubtitleFormatFile.txt", 23.976, "pl_PL",
                                   SubtitleFormat::MicroDvd, 7, 184000,
                                   "{Y:i}Baza, tu 7-3.|Mam denata na nabrzeżu..."},
                      RealFileCase{"gst-inline_microdvd_fpsinfo_italics.sub", 25, "en",
                                   SubtitleFormat::MicroDvd, 1, 4000, "/italics/|not italics"},
                      RealFileCase{"fixpolish-inline_fps23976_pl.sub", 23.976, "en", SubtitleFormat::MicroDvd,
                                   3, 1000, "23.976"},
                      RealFileCase{"napi_MPL2SubtitleFormatFile.txt", 0, "pl", SubtitleFormat::Mpl2, 7,
                                   184000, "{Y:i}Baza, tu 7-3.|Mam denata na nabrzeżu..."},
                      RealFileCase{"gaupol_mpl2.txt", 0, "en", SubtitleFormat::Mpl2, 8, 1000,
                                   "So, one day when I was 17, I left."},
                      RealFileCase{"napi_TMPlayerSubtitleFormatFile.txt", 0, "pl", SubtitleFormat::TmPlayer,
                                   7, 184000, "{Y:i}Baza, tu 7-3.|Mam denata na nabrzeżu..."},
                      RealFileCase{"gst-inline_tmplayer_style3b_noeol.txt", 0, "en", SubtitleFormat::TmPlayer,
                                   4, 10000, "This is the Earth at a time|when the dinosaurs roamed..."},
                      RealFileCase{"gaupol_subrip.srt", 0, "en", SubtitleFormat::SubRip, 8, 1000,
                                   "So, one day when I was 17, I left."},
                      RealFileCase{"pysrt_bom-utf-16-le.srt", 0, "en", SubtitleFormat::SubRip, 7, 6000,
                                   "About 2 months ago I found myself on|the comment section of YouTube"},
                      RealFileCase{"pysrt_no-indexes.srt", 0, "en", SubtitleFormat::SubRip, 7, 6000,
                                   "About 2 months ago I found myself on|the comment section of YouTube"},
                      RealFileCase{"gaupol_ass.ass", 0, "en", SubtitleFormat::SubStation, 8, 1000,
                                   " So, one day when I was 17, I left."},
                      RealFileCase{"astisub_example-in.ssa", 0, "en", SubtitleFormat::SubStation, 6, 99000,
                                   " (deep rumbling)"}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.file))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(RealFiles, NapiMicroDvdPolishTextAndTimes)
{
    const Loaded loaded =
        loadPath(dataFile("napi_MicroDVDSubtitleFormatFile.txt"), 23.976, DecodeOptions{QString(), "pl_PL"});
    EXPECT_EQ(loaded.result.encoding, QStringLiteral("WINDOWS-1250"));
    EXPECT_EQ(formatSubtitleTable(loaded.table),
              creditRowText().prepend("0\t") + "\n"
                                               "184000\t{Y:i}Baza, tu 7-3.|Mam denata na nabrzeżu...\n"
                                               "192000\t{C:$aaccff}{Y:b}Z ARCHIWUM X\n"
                                               "195000\t{C:$aaccff}{y:b}Odcinek 03x05|{y:b}Zbyt nieśmiały\n"
                                               "206000\t{Y:b}ZJAWISKA PARANORMALNE\n"
                                               "211000\t{C:$aaccff}{Y:b}W rolach głównych\n"
                                               "214000\t{Y:b}RZĄD ZAPRZECZA\n"
                                               "234000\t{Y:b}PRAWDA GDZIEŚ TAM JEST\n");
}

// SAMI lines that carry a class (as most real files do) are not read.
TEST(RealFiles, SamiClassLinesGiveNoRows)
{
    const Loaded loaded = loadPath(dataFile("node-captions_test.smi"));
    ASSERT_TRUE(loaded.result.ok);
    EXPECT_EQ(loaded.result.format, SubtitleFormat::Sami);
    EXPECT_EQ(loaded.result.cueRows, 0);
}

} // namespace
