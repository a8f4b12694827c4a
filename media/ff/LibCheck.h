#pragma once
// Checks that the FFmpeg libraries in use (a LibAV folder beside the executable comes first
// through the run path, else the system's) can do everything a conversion needs.
#include <string>

namespace kv::ff {

struct LibCheckResult {
    bool ok = false;
    std::string missing;     // e.g. "encoder libx264, muxer psp"; empty when ok
    std::string libraryPath; // the file libavcodec was loaded from
};

// Cached after the first call; cheap to repeat.
const LibCheckResult& checkLibraries();

} // namespace kv::ff
