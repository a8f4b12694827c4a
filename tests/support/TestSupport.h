#pragma once
// Helpers shared by every test executable: scratch folders, child processes, test media.
#include <filesystem>
#include <string>
#include <vector>

namespace kv::test {

// Project root and build folder (set by CTest in the environment; fall back to the cwd).
std::filesystem::path sourceDir();
std::filesystem::path buildDir();

// Sets QT_QPA_PLATFORM=offscreen and SDL_AUDIODRIVER=dummy unless already set (test mains call it).
void useHeadlessDefaults();

// A fresh folder under the system's temporary folder, removed when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int exitCode = -1;  // -1 when the program could not be started or was killed
    std::string output; // stdout and stderr together
};

// Runs a program (looked up on PATH) with the given arguments, no shell involved.
CommandResult run(const std::vector<std::string>& argv);

// Runs `ffmpeg -y -v error <args>`; fails the current test when ffmpeg fails.
// Example: makeMedia({"-f","lavfi","-i","testsrc2=size=320x240:rate=25:duration=2", out})
bool makeMedia(const std::vector<std::string>& ffmpegArgs);

// A short clip with picture and tone: duration in seconds, size, rate and container by
// the file's extension (.mp4/.mkv use H.264+AAC, .avi MPEG-4+MP3).
std::filesystem::path makeClip(const std::filesystem::path& file, double seconds = 2.0,
                               const std::string& size = "320x240", const std::string& rate = "25");

// Runs tools/psp_probe.py --check hi|lo on a file; exitCode 0 means every item passed.
CommandResult pspCheck(const std::filesystem::path& file, const std::string& profile);

// ffprobe's value of one entry, e.g. probeValue(f, "v:0", "stream=width").
std::string probeValue(const std::filesystem::path& file, const std::string& stream,
                       const std::string& entry);

} // namespace kv::test
