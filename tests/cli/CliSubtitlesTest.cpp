// The headless converter's subtitle side: listing a subtitle file's table, burning subtitles
// into a conversion, and the single frame with its subtitle.
#include "cli/Args.h"

#include "tests/support/TestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace kv::cli;
using namespace kv::test;

TEST(CliArgs, SubtitleListingAndFrameOptions)
{
    auto p = parseArgs({"--list-subtitles", "s.sub", "--fps=23.976", "--encoding", "WINDOWS-1250"});
    ASSERT_TRUE(p.args) << p.error;
    EXPECT_EQ(p.args->command, Command::ListSubtitles);
    EXPECT_EQ(p.args->subtitles, "s.sub");
    EXPECT_DOUBLE_EQ(p.args->fps, 23.976);
    EXPECT_EQ(p.args->encoding, "WINDOWS-1250");
    EXPECT_DOUBLE_EQ(parseArgs({"--list-subtitles", "s.srt"}).args->fps, 25.0);

    p = parseArgs({"--frame-at", "1:02.5", "--output", "f.png", "--subtitles", "s.srt", "a.mkv"});
    ASSERT_TRUE(p.args) << p.error;
    EXPECT_EQ(p.args->command, Command::FrameAt);
    EXPECT_EQ(p.args->frameAtUs, 62'500'000);
    EXPECT_EQ(parseArgs({"--subtitles", "s.srt", "--encoding", "UTF-8", "a.mkv"}).args->command,
              Command::Convert);

    const std::vector<std::vector<std::string>> wrong = {
        {"--list-subtitles", "s.srt", "a.mkv"},      // listing takes no source
        {"--list-subtitles", "s.srt", "--fps", "0"}, // a frame rate must be positive
        {"--list-subtitles", "s.srt", "--fps", "25x"},
        {"--fps", "25", "a.mkv"},         // a conversion probes its rate
        {"--encoding", "UTF-8", "a.mkv"}, // nothing to decode
        {"--frame-at", "3", "a.mkv"},     // needs --output
        {"--frame-at", "3", "--lo", "--output", "f.png", "a.mkv"},
        {"--frame-at", "soon", "--output", "f.png", "a.mkv"},
        {"--frame-at", "3", "--list-subtitles", "s.srt", "--output", "f.png"},
    };
    for (const auto& argv : wrong) {
        std::string joined;
        for (const auto& a : argv)
            joined += a + " ";
        p = parseArgs(argv);
        EXPECT_FALSE(p.args) << joined;
        EXPECT_FALSE(p.error.empty()) << joined;
    }
}

TEST(CliArgs, TimesInSecondsOrClockForm)
{
    const std::pair<std::string, std::int64_t> good[] = {
        {"0", 0},
        {"12.5", 12'500'000},
        {"3", 3'000'000},
        {"1:05", 65'000'000},
        {"00:01:05.250", 65'250'000},
        {"1:00:00", 3'600'000'000},
        {".5", 500'000},
    };
    for (const auto& [text, us] : good)
        EXPECT_EQ(parseTimeUs(text), us) << text;
    for (const std::string text : {"", "-1", "1:60", "1:2:3:4", "a", "1.2.3", "1:", ":5", "1.5:00", "."})
        EXPECT_FALSE(parseTimeUs(text)) << text;
}

namespace {

fs::path cliBinary()
{
    return buildDir() / "cli" / "kestrovid-convert";
}

fs::path subtitleData(const std::string& name)
{
    return sourceDir() / "tests" / "subtitles" / "data" / name;
}

// The converter with its own (empty) settings store, so the user's settings play no part;
// stdout only when `stdoutOnly`.
CommandResult runCli(const fs::path& store, std::vector<std::string> args, bool stdoutOnly = false)
{
    std::vector<std::string> argv{"env",
                                  "KESTROVID_REGISTRY=" + store.string(),
                                  "sh",
                                  "-c",
                                  stdoutOnly ? "exec \"$0\" \"$@\" 2>/dev/null" : "exec \"$0\" \"$@\"",
                                  cliBinary().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

// A clip on a flat dark-grey picture, so that only burnt-in text is near white.
fs::path greyClip(const TempDir& dir, const std::string& name, int seconds)
{
    const auto f = dir / name;
    const std::string d = std::to_string(seconds);
    makeMedia({"-f", "lavfi", "-i", "color=c=0x404040:size=320x240:rate=25:duration=" + d, "-f", "lavfi",
               "-i", "sine=duration=" + d, "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
               "-c:a", "aac", f.string()});
    return f;
}

// Two cues: at 1 s (two lines, shown about 1.7 s by the reading-time rule) and at 4 s (one
// short line, shown 0.8 s).
fs::path twoCueSrt(const TempDir& dir, const std::string& name)
{
    const auto f = dir / name;
    std::ofstream(f, std::ios::binary) << "1\r\n00:00:01,000 --> 00:00:02,500\r\nZażółć gęślą jaźń\r\n"
                                          "Druga linia napisu\r\n\r\n2\r\n00:00:04,000 --> 00:00:05,000\r\n"
                                          "Trzecia\r\n";
    return f;
}

struct TextPixels {
    int white = 0; // near-white: the letters
    int dark = 0;  // near-black: their outline
};

// Counts text pixels in the lower part of an RGB24 picture, inside columns [x0, x1).
TextPixels countTextPixels(const std::uint8_t* rgb, int width, int height, int stride, int x0, int x1)
{
    TextPixels n;
    for (int y = height * 3 / 5; y < height; ++y)
        for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
            const std::uint8_t* p = rgb + static_cast<std::ptrdiff_t>(y) * stride + x * 3;
            const int lo = std::min({p[0], p[1], p[2]}), hi = std::max({p[0], p[1], p[2]});
            n.white += lo > 200;
            n.dark += hi < 30;
        }
    return n;
}

// The output's picture at `seconds` (480x272 RGB24), decoded by the ffmpeg tool.
TextPixels outputTextAt(const TempDir& dir, const fs::path& video, double seconds)
{
    const auto raw = dir / "frame.rgb";
    fs::remove(raw);
    makeMedia({"-ss", std::to_string(seconds), "-i", video.string(), "-frames:v", "1", "-f", "rawvideo",
               "-pix_fmt", "rgb24", raw.string()});
    std::ifstream in(raw, std::ios::binary);
    std::vector<std::uint8_t> px((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(px.size(), 480u * 272u * 3u);
    if (px.size() != 480u * 272u * 3u)
        return {};
    // The 4:3 source sits between black bars: look inside the picture only.
    return countTextPixels(px.data(), 480, 272, 480 * 3, 70, 410);
}

bool hasText(const TextPixels& n)
{
    return n.white > 40 && n.dark > 40;
}

} // namespace

TEST(CliListSubtitles, PrintsTheTableAsALoadBuildsIt)
{
    TempDir dir;
    const auto store = dir / "registry.reg";

    auto r = runCli(store, {"--list-subtitles", subtitleData("gaupol_subrip.srt").string()}, true);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string head = "0\t.:: www.kestrovid.example ::.\n"
                             "1000\tSo, one day when I was 17, I left.\n"
                             "4000\tThere I was in Paris.\n"
                             "9000\tSince I was a bit naive,\n";
    EXPECT_EQ(r.output.substr(0, head.size()), head);

    // MicroDVD frame numbers follow --fps; a Windows-1250 file read as such keeps its letters.
    const auto sub = subtitleData("napi_MicroDVDSubtitleFormatFile.txt").string();
    r = runCli(store, {"--list-subtitles", sub, "--fps", "23.976", "--encoding", "WINDOWS-1250"}, true);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("\n184000\t{Y:i}Baza, tu 7-3.|Mam denata na nabrzeżu...\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\n195000\t{C:$aaccff}{y:b}Odcinek 03x05|{y:b}Zbyt nieśmiały\n"),
              std::string::npos)
        << r.output;
    r = runCli(store, {"--list-subtitles", sub, "--encoding", "WINDOWS-1250"}, true); // 25 fps: 4414 / 25
    EXPECT_NE(r.output.find("\n176000\t{Y:i}Baza, tu 7-3."), std::string::npos) << r.output;
    // Listing reads the settings and writes nothing: no store appears.
    EXPECT_FALSE(fs::exists(store));

    // Errors go to stderr, nothing to stdout.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--list-subtitles", (dir / "missing.srt").string()},
          {"--list-subtitles", sub, "--encoding", "NO-SUCH-ENCODING"}}) {
        r = runCli(store, args, true);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.output, "");
        r = runCli(store, args);
        EXPECT_NE(r.output.find("kestrovid-convert: "), std::string::npos) << r.output;
    }
}

TEST(CliSubtitles, BurnsTheCuesAtTheirTimesAndOnlyThen)
{
    TempDir dir;
    const auto store = dir / "registry.reg";
    const auto src = greyClip(dir, "clip.mkv", 6);
    const auto srt = twoCueSrt(dir, "cues.srt");

    const auto out = dir / "burnt.mp4";
    auto r = runCli(store, {"--subtitles", srt.string(), "--output", out.string(), src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Loaded 2 subtitles (SubRip, UTF-8)"), std::string::npos) << r.output;
    EXPECT_EQ(pspCheck(out, "hi").exitCode, 0);

    const std::pair<double, bool> expected[] = {
        {1.4, true}, {2.2, true}, {3.3, false}, {4.4, true}, {5.5, false}};
    for (const auto& [seconds, text] : expected) {
        const TextPixels n = outputTextAt(dir, out, seconds);
        EXPECT_EQ(hasText(n), text) << seconds << " s: " << n.white << " white, " << n.dark << " dark";
        if (!text) {
            EXPECT_LT(n.white, 5) << seconds << " s";
        }
    }
    EXPECT_FALSE(fs::exists(store));
}

TEST(CliSubtitles, ASubtitleFileBesideTheSourceIsNotPickedUp)
{
    TempDir dir;
    const auto src = greyClip(dir, "clip.mkv", 2);
    twoCueSrt(dir, "clip.srt");
    const auto out = dir / "plain.mp4";
    auto r = runCli(dir / "registry.reg", {"--output", out.string(), src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const TextPixels n = outputTextAt(dir, out, 1.4);
    EXPECT_LT(n.white, 5);
}

TEST(CliSubtitles, AFileThatGivesNoSubtitlesFailsBeforeAnyOutput)
{
    TempDir dir;
    const auto src = greyClip(dir, "clip.mkv", 1);
    const auto garbage = dir / "garbage.srt";
    {
        std::mt19937 random(7);
        std::ofstream f(garbage, std::ios::binary);
        for (int i = 0; i < 4000; ++i)
            f.put(static_cast<char>(random()));
    }
    const auto empty = dir / "empty.srt";
    std::ofstream(empty).flush();
    for (const fs::path& subs : {dir / "missing.srt", garbage, empty}) {
        auto r = runCli(dir / "registry.reg", {"--subtitles", subs.string(), src.string()});
        EXPECT_EQ(r.exitCode, 1) << subs << r.output;
        EXPECT_NE(r.output.find("kestrovid-convert: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(subs.string()), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Converting"), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(dir / "clip_(Kestrovid)_psp.mp4")) << subs;
    }
}

TEST(CliFrameAt, WritesTheFrameWithItsSubtitleAsANewPicture)
{
    TempDir dir;
    const auto store = dir / "registry.reg";
    const auto src = greyClip(dir, "clip.mkv", 6);
    const auto srt = twoCueSrt(dir, "cues.srt");

    auto textIn = [](const fs::path& png) {
        QImage image(QString::fromStdString(png.string()));
        EXPECT_EQ(image.size(), QSize(320, 240)) << png; // the source's size
        image = image.convertToFormat(QImage::Format_RGB888);
        return countTextPixels(image.constBits(), image.width(), image.height(),
                               static_cast<int>(image.bytesPerLine()), 0, image.width());
    };

    const auto at = dir / "at1.5.png";
    auto r = runCli(
        store, {"--frame-at", "1.5", "--output", at.string(), "--subtitles", srt.string(), src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("subtitle: Zażółć gęślą jaźń|Druga linia napisu"), std::string::npos) << r.output;
    EXPECT_TRUE(hasText(textIn(at)));

    const auto between = dir / "between.png";
    r = runCli(store, {"--frame-at", "0:00:03.300", "--output", between.string(), "--subtitles", srt.string(),
                       src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("no subtitle on screen"), std::string::npos) << r.output;
    EXPECT_LT(textIn(between).white, 5);

    // An existing picture is refused and kept byte for byte.
    const auto before = fs::file_size(at);
    r = runCli(store, {"--frame-at", "4.4", "--output", at.string(), src.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("already exists"), std::string::npos) << r.output;
    EXPECT_EQ(fs::file_size(at), before);
    EXPECT_TRUE(hasText(textIn(at)));

    // The settings come from the user's store, as in the window: red text, and the store is
    // only read.
    const auto redStore = dir / "red.reg";
    const std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Quadrell\\Kestroplay]\r\n"
                            "\"FWidth\"=hex:00,00,00,00,00,c0,57,40\r\n"
                            "\"IQTime\"=dword:00000fa0\r\n"
                            "\"IQDziel\"=dword:00000001\r\n"
                            "\"IQZmniejsz\"=dword:00000001\r\n"
                            "\"EFontName\"=\"Arial\"\r\n"
                            "\"EFontSize\"=hex:00,00,00,00,00,00,34,40\r\n"
                            "\"FontColor\"=dword:000000ff\r\n"
                            "\"FontCharset\"=dword:000000ee\r\n";
    std::ofstream(redStore, std::ios::binary) << reg;
    const auto red = dir / "red.png";
    r = runCli(redStore,
               {"--frame-at", "1.5", "--output", red.string(), "--subtitles", srt.string(), src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    {
        const QImage image =
            QImage(QString::fromStdString(red.string())).convertToFormat(QImage::Format_RGB888);
        int redPixels = 0, whitePixels = 0;
        for (int y = image.height() * 3 / 5; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                redPixels += qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
                whitePixels += qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
            }
        EXPECT_GT(redPixels, 40);
        EXPECT_EQ(whitePixels, 0);
    }
    std::ifstream storeIn(redStore, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(storeIn)), {}), reg);

    // A time past the end is an error, and leaves no picture.
    const auto late = dir / "late.png";
    r = runCli(store, {"--frame-at", "60", "--output", late.string(), src.string()});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_FALSE(fs::exists(late));
    EXPECT_FALSE(fs::exists(store));
}
