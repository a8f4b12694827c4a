#include "options/Profiles.h"

#include "options/Vendor.h"

#include <filesystem>

namespace kv::options {

media::TOutputOptions pspProfile(bool hi)
{
    media::TOutputOptions o;
    o.FileExt = kOutputFileExt;
    o.ForceFormat = "psp";
    o.AudioCodec = "libfaac"; // the engine falls back to FFmpeg's own "aac" when this one is missing
    o.AudioSampleRate = 24000;
    o.AudioBitrate = 128000;
    o.AudioChannels = 2;
    o.VideoInputHook = true;
    o.CopyTimestamp = false;
    o.DisableSubtitle = true;
    o.Info.Author = kAuthor;
    o.Info.Comment = kVendorDomain;
    o.Info.TimeStamp = 0;
    if (hi) {
        o.FrameSize = "480x272";
        o.VideoCodec = "libx264";
        o.VideoPreset = "fastfirstpass";
        o.FrameRate = "30000/1001";
        o.VideoBitrate = 672000;
        o.VideoBitRateTolerance = 256000;
        o.VideoMaxRate = 768; // kbit/s: the engine reads small maximum rates that way
    } else {
        o.FrameSize = "368x192";
        o.VideoCodec = "mpeg4";
        o.FrameRate = "15000/1001";
        o.VideoBitrate = 384000;
        o.VideoBitRateTolerance = 96000;
    }
    return o;
}

std::string OutputFileName(const std::string& sourcePath, const std::string& fileExt)
{
    namespace fs = std::filesystem;
    fs::path source(sourcePath);
    // Only the file name's extension goes; a name without one stays whole.
    const fs::path base = source.parent_path() / source.stem();
    auto taken = [](const fs::path& p) {
        std::error_code ec;
        return fs::exists(fs::symlink_status(p, ec)); // a dangling link still blocks the name
    };
    fs::path candidate = base;
    candidate += "_(Kestrovid)" + fileExt;
    for (unsigned long n = 1; taken(candidate); ++n) {
        candidate = base;
        candidate += "_(Kestrovid_" + std::to_string(n) + ")" + fileExt;
    }
    return candidate.string();
}

ProfileButtons afterHiClick(ProfileButtons b)
{
    if (!b.loEnabled)
        b.hiDown = true;
    b.loDown = !b.hiDown;
    return b;
}

ProfileButtons afterLoClick(ProfileButtons b)
{
    if (!b.hiEnabled)
        b.loDown = true;
    b.hiDown = !b.loDown;
    return b;
}

} // namespace kv::options
