#pragma once
// One picture of a source, decoded through the shared reader and turned into 24-bit RGB.
#include "media/Records.h"

#include <cstdint>
#include <string>

namespace kv::cli {

struct GrabbedFrame {
    media::TRGBImage Image; // at the source's coded size
    std::int64_t PtsUs = 0; // the frame's time, µs from the start of the source
    double FrameRate = 0;   // of the video stream; 0 when unknown
};

// The first frame whose time is at or after `timeUs`; when the stream ends before such a
// frame, its last frame as long as `timeUs` lies within the source's duration. Throws
// std::runtime_error (kv::ff::Error for FFmpeg failures) with a readable reason otherwise.
GrabbedFrame grabFrameAt(const std::string& path, std::int64_t timeUs);

} // namespace kv::cli
