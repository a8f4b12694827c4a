// How subtitle bytes become text, and what a load does with files it cannot use.
#include "LoaderTestSupport.h"

#include <QElapsedTimer>

#include <cmath>
#include <iostream>

using namespace kv::subtitles;
using namespace kv::subtitles::test;

namespace {

const QString kPolish = QStringLiteral("Zażółć gęślą jaźń Ś");

QByteArray utf16(const QString& s, bool littleEndian)
{
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE", 2) : QByteArray("\xFE\xFF", 2);
    for (QChar c : s) {
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        const char hi = static_cast<char>(c.unicode() >> 8);
        out.append(littleEndian ? lo : hi);
        out.append(littleEndian ? hi : lo);
    }
    return out;
}

struct EncodingCase {
    const char* what;
    QByteArray bytes;
    const char* language;
    const char* encodingOverride;
    QString expectedText;
    const char* expectedEncoding;
};

void PrintTo(const EncodingCase& c, std::ostream* os)
{
    *os << c.what;
}

class Encodings : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(Encodings, DecodeTheCueText)
{
    const EncodingCase& c = GetParam();
    const Loaded loaded =
        loadBytes("enc.txt", c.bytes, 25, DecodeOptions{QString::fromLatin1(c.encodingOverride), c.language});
    ASSERT_TRUE(loaded.result.ok) << loaded.result.message.toStdString();
    EXPECT_EQ(loaded.result.encoding, QString::fromLatin1(c.expectedEncoding));
    EXPECT_EQ(cuesOf(loaded.table), (Rows{{12000, c.expectedText}}));
}

const QString kLine = QStringLiteral("[125][150]") + kPolish + QStringLiteral("\r\n");

INSTANTIATE_TEST_SUITE_P(
    Subtitles, Encodings,
    ::testing::Values(
        EncodingCase{"Utf8Bom", "\xEF\xBB\xBF" + kLine.toUtf8(), "en", "", kPolish,
                     "UTF-8 (byte-order mark)"},
        EncodingCase{"Utf16LeBom", utf16(kLine, true), "en", "", kPolish, "UTF-16LE (byte-order mark)"},
        EncodingCase{"Utf16BeBom", utf16(kLine, false), "en", "", kPolish, "UTF-16BE (byte-order mark)"},
        EncodingCase{"ValidUtf8WithoutBom", kLine.toUtf8(), "pl_PL", "", kPolish, "UTF-8"},
        // "Zażółć gęślą jaźń Ś" in Windows-1250.
        EncodingCase{"Windows1250ForPolish",
                     "[125][150]Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1 \x8C\r\n", "pl_PL.UTF-8", "",
                     kPolish, "WINDOWS-1250"},
        EncodingCase{"Windows1252ForEnglish", "[125][150]caf\xE9 \x93quoted\x94\n", "en_GB", "",
                     QStringLiteral("café “quoted”"), "WINDOWS-1252"},
        EncodingCase{"Windows1251ForRussian", "[125][150]\xCF\xF0\xE8\xE2\xE5\xF2\n", "ru_RU", "",
                     QStringLiteral("Привет"), "WINDOWS-1251"},
        EncodingCase{"OverrideBeatsLanguage", "[125][150]\xBF\xF3\xB3\xE6\n", "en_US", "ISO-8859-2",
                     QStringLiteral("\u017C\u00F3\u0142\u0107"), "ISO-8859-2"},
        EncodingCase{"OverrideBeatsValidUtf8", "[125][150]\xC3\xB3\n", "en_US", "WINDOWS-1250",
                     QStringLiteral("\u0102\u0142"), "WINDOWS-1250"},
        EncodingCase{"BomBeatsOverride", "\xEF\xBB\xBF[125][150]\xC3\xB3\n", "en_US", "WINDOWS-1250",
                     QStringLiteral("ó"), "UTF-8 (byte-order mark)"},
        EncodingCase{"UndefinedByteBecomesReplacement", "[125][150]a\x81z\n", "pl", "",
                     QStringLiteral("a\uFFFDz"), "WINDOWS-1250"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Encodings, EnvironmentOverrideAndParameterOrder)
{
    const QByteArray iso = "[125][150]\xBF\xF3\n"; // "żó" in ISO-8859-2, "¿ó" in Windows-1252
    qputenv("KESTROVID_SUBTITLE_ENCODING", "ISO-8859-2");
    const Loaded byEnvironment = loadBytes("env.txt", iso);
    const Loaded byParameter = loadBytes("env.txt", iso, 25, DecodeOptions{"WINDOWS-1252", "pl"});
    qunsetenv("KESTROVID_SUBTITLE_ENCODING");
    EXPECT_EQ(byEnvironment.table.value(1), QStringLiteral("\u017C\u00F3"));
    EXPECT_EQ(byParameter.table.value(1), QStringLiteral("\u00BF\u00F3"));
}

TEST(Encodings, LegacyCodePageByLanguage)
{
    const std::pair<const char*, const char*> cases[] = {
        {"pl_PL.UTF-8", "WINDOWS-1250"},
        {"cs", "WINDOWS-1250"},
        {"hu_HU", "WINDOWS-1250"},
        {"ro-RO", "WINDOWS-1250"},
        {"hr_HR", "WINDOWS-1250"},
        {"sl", "WINDOWS-1250"},
        {"sk_SK", "WINDOWS-1250"},
        {"ru_RU", "WINDOWS-1251"},
        {"uk_UA", "WINDOWS-1251"},
        {"be", "WINDOWS-1251"},
        {"bg_BG", "WINDOWS-1251"},
        {"sr_RS@latin", "WINDOWS-1251"},
        {"mk", "WINDOWS-1251"},
        {"el_GR", "WINDOWS-1253"},
        {"tr_TR", "WINDOWS-1254"},
        {"lt_LT", "WINDOWS-1257"},
        {"lv", "WINDOWS-1257"},
        {"et_EE", "WINDOWS-1257"},
        {"de_DE", "WINDOWS-1252"},
        {"C", "WINDOWS-1252"},
        {"", "WINDOWS-1252"},
        {"zh_TW", "CP950"},
        {"zh_CN", "CP936"},
    };
    for (const auto& [language, page] : cases)
        EXPECT_EQ(legacyCodePageFor(QString::fromLatin1(language)), QString::fromLatin1(page)) << language;
}

TEST(Encodings, Utf8Validation)
{
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8(kPolish.toUtf8()));
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80")); // an emoji
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));        // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));    // a surrogate
    EXPECT_FALSE(isValidUtf8("abc\xC5"));         // cut off
    EXPECT_FALSE(isValidUtf8("\xB3\xF3"));        // Windows-1250 "łó"
}

TEST(Encodings, LineEndsOfEveryKind)
{
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\n\nb\n"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(splitLines("\r\r\n"), (QStringList{"", ""}));
    EXPECT_TRUE(splitLines("").isEmpty());

    const Loaded loaded = loadBytes("mixed.sub", "{25}{30}one\r{50}{60}two\r\n{75}{80}three\n{100}{110}four");
    EXPECT_EQ(cuesOf(loaded.table), (Rows{{1000, "one"}, {2000, "two"}, {3000, "three"}, {4000, "four"}}));
}

// Failures that keep the table as it was: a load replaces a table only when it can.
TEST(LoadErrors, TableKeptWhenTheFileCannotBeUsed)
{
    kv::test::TempDir dir;
    const auto write = [&](const char* name, const QByteArray& bytes) {
        const QString path = QString::fromStdString((dir / name).string());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    };
    struct Case {
        const char* what;
        QString path;
        DecodeOptions options;
        const char* messagePart;
    };
    const Case cases[] = {
        {"missing file", QString::fromStdString((dir / "missing.srt").string()), {}, "Cannot read"},
        {"folder", QString::fromStdString(dir.path().string()), {}, "folder"},
        {"SubStation without events", write("a.ssa", "[Script Info]\nTitle: x\n"), {}, "[Events]"},
        {"SubStation ends at events", write("b.ass", "[Script Info]\n[Events]\n"), {}, "nothing after"},
        {"unknown override", write("c.txt", "[10][20]x\n"), DecodeOptions{"NO-SUCH-ENCODING", "en"},
         "NO-SUCH-ENCODING"},
    };
    for (const Case& c : cases) {
        TimeTXTEditor table;
        table.append(0, "earlier");
        table.append(5000, "load");
        QStringList raw;
        const kv::options::SubtitleSettings settings;
        const LoadResult r = LoadTXT(c.path, 25, settings, table, raw, c.options);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_TRUE(r.message.contains(QLatin1String(c.messagePart)))
            << c.what << ": " << r.message.toStdString();
        EXPECT_EQ(rowsOf(table), (Rows{{0, "earlier"}, {5000, "load"}})) << c.what;
    }
}

// Failures that leave only the credit row.
TEST(LoadErrors, NothingToReadLeavesTheCreditRow)
{
    struct Case {
        const char* what;
        const char* name;
        QByteArray bytes;
        double fps;
        const char* messagePart;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {"empty file", "a.srt", "", 25, "no subtitle lines"},
        {"only short lines", "a.txt", "a\nbb\n\n", 25, "no subtitle lines"},
        {"MicroDVD without frame rate", "a.sub", "{250}{300}x\n", 0, "frame rate"},
        {"MicroDVD with NaN frame rate", "a.sub", "{250}{300}x\n", nan, "frame rate"},
        {"MicroDVD with infinite frame rate", "a.sub", "{250}{300}x\n", INFINITY, "frame rate"},
        {"MicroDVD with negative frame rate", "a.sub", "{250}{300}x\n", -1, "frame rate"},
    };
    for (const Case& c : cases) {
        const Loaded loaded = loadBytes(c.name, c.bytes, c.fps);
        EXPECT_FALSE(loaded.result.ok) << c.what;
        EXPECT_TRUE(loaded.result.message.contains(QLatin1String(c.messagePart)))
            << c.what << ": " << loaded.result.message.toStdString();
        EXPECT_EQ(rowsOf(loaded.table), (Rows{{0, creditRowText()}})) << c.what;
    }
    // The frame rate matters only to MicroDVD.
    EXPECT_TRUE(loadBytes("a.txt", "[125][150]Text\n", nan).result.ok);
}

TEST(LoadErrors, OddContentNeverCrashes)
{
    const QByteArray cases[] = {
        QByteArray(3000, '\0'),
        QByteArray("{") + QByteArray(100000, '9') + "}{1}x\n",
        "[" + QByteArray(100000, '[') + "\n",
        "{2147483647}{1}huge frame\n{99999999999}{1}too big\n",
        "\xFF\xFE\x41",                // UTF-16 with an odd byte
        "<SYNC Start=>\n<SYNC \n",     // SAMI-like without numbers
        QByteArray(70000, 'x') + "\n", // one very long line
    };
    for (const QByteArray& bytes : cases) {
        for (const char* name : {"a.sub", "a.smi", "a.srt", "a.ass"}) {
            const Loaded loaded = loadBytes(name, bytes, 0.001);
            for (int r = 0; r < loaded.table.rowCount(); ++r) {
                EXPECT_LE(loaded.table.value(r).size(), 255);
                EXPECT_LE(loaded.table.keyMs(r), std::numeric_limits<std::int32_t>::max());
                EXPECT_GE(loaded.table.keyMs(r), 0);
            }
        }
    }
}

TEST(SubtitleTable, LookupListingAndNeighbourKeys)
{
    TimeTXTEditor table;
    table.append(0, "credit");
    table.append(5000, "first");
    table.append(5000, "second");
    EXPECT_EQ(table.textForKey(5000), QStringLiteral("first")) << "the first row of a key answers";
    EXPECT_EQ(table.textForKey(QStringLiteral("5000")), QStringLiteral("first"));
    EXPECT_FALSE(table.textForKey(QStringLiteral("05000")));
    EXPECT_FALSE(table.textForKey(7000));
    table.setKeyMs(1, 7000);
    EXPECT_EQ(table.textForKey(5000), QStringLiteral("second"));
    EXPECT_EQ(table.textForKey(7000), QStringLiteral("first"));
    table.reindex();
    EXPECT_EQ(table.textForKey(5000), QStringLiteral("second"));
    EXPECT_EQ(table.textForKey(7000), QStringLiteral("first"));
    table.append(5000, "third");
    EXPECT_EQ(table.textForKey(5000), QStringLiteral("second"));
    EXPECT_EQ(formatSubtitleTable(table),
              QStringLiteral("0\tcredit\n7000\tfirst\n5000\tsecond\n5000\tthird\n"));
    table.clear();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_FALSE(table.textForKey(0));
}

// Not a timed assertion: prints how long a 20,000-cue SubRip file takes, for the record.
TEST(LoadSpeed, TwentyThousandSubRipCues)
{
    QByteArray text;
    for (int i = 0; i < 20000; ++i) {
        const int s = i * 3;
        text += QStringLiteral(
                    "%1\r\n%2:%3:%4,500 --> %2:%3:%5,000\r\nCue number %1 first line\r\nsecond line\r\n\r\n")
                    .arg(i + 1)
                    .arg(s / 3600, 2, 10, QLatin1Char('0'))
                    .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(s % 60, 2, 10, QLatin1Char('0'))
                    .arg((s + 2) % 60, 2, 10, QLatin1Char('0'))
                    .toUtf8();
    }
    kv::test::TempDir dir;
    const QString path = QString::fromStdString((dir / "big.srt").string());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    QElapsedTimer timer;
    timer.start();
    const Loaded loaded = loadPath(path);
    const qint64 ms = timer.elapsed();
    ASSERT_TRUE(loaded.result.ok);
    EXPECT_EQ(loaded.result.cueRows, 20000);
    std::cout << "[ bench    ] 20000-cue SubRip file (" << text.size() << " bytes) loaded in " << ms
              << " ms\n";
}

} // namespace
