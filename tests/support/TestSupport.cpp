#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kv::test {

static fs::path envPath(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? fs::path(v) : fs::path(fallback);
}

fs::path sourceDir() { return envPath("KV_SOURCE_DIR", KV_DEFAULT_SOURCE_DIR); }
fs::path buildDir() { return envPath("KV_BUILD_DIR", KV_DEFAULT_BUILD_DIR); }

namespace {
// Headless defaults for media and GUI tests when CTest did not pass them on.
[[maybe_unused]] const bool headlessDefaults = [] {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return true;
}();
} // namespace

TempDir::TempDir()
{
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = fs::temp_directory_path() / ("kvtest-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

static std::string shellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

CommandResult run(const std::vector<std::string>& argv)
{
    // popen keeps this short; every argument is quoted, so no word is interpreted.
    std::string cmd;
    for (const auto& a : argv)
        cmd += shellQuote(a) + " ";
    cmd += "2>&1";
    CommandResult result;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.output.append(buf.data(), n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool makeMedia(const std::vector<std::string>& ffmpegArgs)
{
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-y", "-v", "error"};
    argv.insert(argv.end(), ffmpegArgs.begin(), ffmpegArgs.end());
    auto r = run(argv);
    EXPECT_EQ(r.exitCode, 0) << "ffmpeg failed: " << r.output;
    return r.exitCode == 0;
}

fs::path makeClip(const fs::path& file, double seconds, const std::string& size, const std::string& rate)
{
    const std::string d = std::to_string(seconds);
    std::vector<std::string> args{"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + rate + ":duration=" + d,
                                  "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + d};
    const auto ext = file.extension().string();
    if (ext == ".avi")
        args.insert(args.end(), {"-c:v", "mpeg4", "-q:v", "5", "-c:a", "libmp3lame", "-b:a", "96k"});
    else
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "96k"});
    args.push_back("-shortest");
    args.push_back(file.string());
    makeMedia(args);
    return file;
}

CommandResult pspCheck(const fs::path& file, const std::string& profile)
{
    return run({"python3", (sourceDir() / "tools" / "psp_probe.py").string(), "--check", profile, file.string()});
}

std::string probeValue(const fs::path& file, const std::string& stream, const std::string& entry)
{
    auto r = run({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", entry, "-of",
                  "default=nw=1:nk=1", file.string()});
    std::string out = r.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace kv::test
