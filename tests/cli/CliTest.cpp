// The headless converter: its command line, its progress text, and the built program end to end.
#include "cli/Args.h"
#include "cli/Progress.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace kv::cli;
using namespace kv::test;

TEST(CliArgs, TableOfCommandLines)
{
    struct Case {
        std::vector<std::string> argv;
        bool ok;
        bool lo;
        std::string subtitles, output, source;
    };
    const Case cases[] = {
        {{"a.mkv"}, true, false, "", "", "a.mkv"},
        {{"--lo", "a.mkv"}, true, true, "", "", "a.mkv"},
        {{"--output", "o.mp4", "a.mkv"}, true, false, "", "o.mp4", "a.mkv"},
        {{"--output=o.mp4", "--lo", "a.mkv"}, true, true, "", "o.mp4", "a.mkv"},
        {{"--subtitles", "s.srt", "a.mkv"}, true, false, "s.srt", "", "a.mkv"},
        {{"--", "--lo"}, true, false, "", "", "--lo"}, // a file that starts with dashes
        {{}, false, false, "", "", ""},
        {{"--lo"}, false, false, "", "", ""},
        {{"--output"}, false, false, "", "", ""},
        {{"--output="}, false, false, "", "", ""},
        {{"--bogus", "a.mkv"}, false, false, "", "", ""},
        {{"a.mkv", "b.mkv"}, false, false, "", "", ""},
    };
    for (const auto& c : cases) {
        auto p = parseArgs(c.argv);
        std::string joined;
        for (const auto& a : c.argv)
            joined += a + " ";
        ASSERT_EQ(p.args.has_value(), c.ok) << joined << p.error;
        if (!c.ok) {
            EXPECT_FALSE(p.error.empty());
            continue;
        }
        EXPECT_EQ(p.args->lo, c.lo) << joined;
        EXPECT_EQ(p.args->subtitles, c.subtitles) << joined;
        EXPECT_EQ(p.args->output, c.output) << joined;
        EXPECT_EQ(p.args->source, c.source) << joined;
    }
    EXPECT_TRUE(parseArgs({"--help"}).args->help);
}

TEST(CliProgress, PercentTimeLeftAndSpeed)
{
    EXPECT_EQ(clockText(7.4), "0:07");
    EXPECT_EQ(clockText(754), "12:34");
    EXPECT_EQ(clockText(3723), "1:02:03");
    // 30 of 120 s done in 10 s: 25 %, 30 s left, 3x.
    EXPECT_EQ(progressText(30'000'000, 120'000'000, 10.0), " 25%  left 0:30  3.0x");
    // Truncated like the window: 119.999999 of 120 s is 99 %.
    EXPECT_EQ(progressText(119'999'999, 120'000'000, 10.0).substr(0, 4), " 99%");
    EXPECT_EQ(progressText(0, 120'000'000, 0.0), "  0%  left --:--");
    EXPECT_EQ(progressText(90'000'000, 120'000'000, 0.6), " 75%  left 0:00  150.0x"); // late enough to tell
    EXPECT_EQ(progressText(5'000'000, -1, 2.0), "0:05 converted  2.5x");
}

namespace {

fs::path cliBinary()
{
    return buildDir() / "cli" / "kestrovid-convert";
}

fs::path clip(const TempDir& dir, const std::string& name, double seconds)
{
    const auto f = dir / name;
    makeMedia({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=" + std::to_string(seconds), "-f",
               "lavfi", "-i", "sine=duration=" + std::to_string(seconds), "-c:v", "libx264", "-preset",
               "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", f.string()});
    return f;
}

} // namespace

TEST(CliProgram, ConvertsBesideTheSourceInBothProfilesAndNeverOverwrites)
{
    TempDir dir;
    const auto src = clip(dir, "clip.mkv", 1.0);
    auto r = run({cliBinary().string(), src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto hi = dir / "clip_(Kestrovid)_psp.mp4";
    EXPECT_EQ(pspCheck(hi, "hi").exitCode, 0);
    EXPECT_NE(r.output.find("Done: " + hi.string()), std::string::npos) << r.output;
    // The PSP lists the file by its title: the source's base name.
    auto facts = run({"python3", (sourceDir() / "tools" / "psp_probe.py").string(), hi.string(), "--json"});
    EXPECT_NE(facts.output.find("\"type\": 1,\n     \"lang\": \"eng\",\n     \"text\": \"clip\""),
              std::string::npos)
        << facts.output;

    // The plain name is taken now: the next one is numbered.
    r = run({cliBinary().string(), "--lo", src.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(pspCheck(dir / "clip_(Kestrovid_1)_psp.mp4", "lo").exitCode, 0);

    // An explicit output that exists is refused and left alone.
    const auto taken = dir / "taken.mp4";
    std::ofstream(taken) << "keep me";
    r = run({cliBinary().string(), "--output", taken.string(), src.string()});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("already exists"), std::string::npos) << r.output;
    std::ifstream in(taken);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "keep me");
}

TEST(CliProgram, UsageErrorsAndBadSourcesGiveTheirExitCodes)
{
    TempDir dir;
    auto r = run({cliBinary().string()});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_NE(r.output.find("usage:"), std::string::npos);

    r = run({cliBinary().string(), "--fps", "25", "a.mkv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--fps goes with --list-subtitles"), std::string::npos) << r.output;

    const auto missing = dir / "missing.avi";
    r = run({cliBinary().string(), missing.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot open file " + missing.string()), std::string::npos) << r.output;

    const auto garbage = dir / "garbage.mkv";
    std::ofstream(garbage) << std::string(5000, 'x');
    r = run({cliBinary().string(), garbage.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot open file " + garbage.string()), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "garbage_(Kestrovid)_psp.mp4"));
}

TEST(CliProgram, CtrlCStopsAndLeavesAPlayableShorterFile)
{
    TempDir dir;
    const auto src = clip(dir, "long.mkv", 30.0);
    const auto out = dir / "long_(Kestrovid)_psp.mp4";
    const auto log = dir / "log.txt";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        execl(cliBinary().c_str(), "kestrovid-convert", src.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the output has grown a little, then press Ctrl-C.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < until && (!fs::exists(out) || fs::file_size(out, ec) < 50'000))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 130) << text;
    EXPECT_NE(text.find("Stopped"), std::string::npos) << text;
    EXPECT_EQ(pspCheck(out, "hi").exitCode, 0);
    const double seconds = std::atof(probeValue(out, "v:0", "stream=duration").c_str());
    EXPECT_GT(seconds, 0.0);
    EXPECT_LT(seconds, 29.0);
}
