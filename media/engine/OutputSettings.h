#pragma once
// Turns a task's output record into concrete encoder and muxer settings: fills what the
// record leaves unset, interprets its values and applies what the PSP needs.
#include "media/Records.h"
#include "media/ff/FFPtr.h"

#include <string>

namespace kv::media::engine {

struct VideoSettings {
    std::string encoder; // FFmpeg encoder name
    int width = 0;       // output frame size
    int height = 0;
    AVRational rate{0, 1};     // constant output frame rate
    std::int64_t bitrate = -1; // -1: the encoder's default
    std::int64_t tolerance = -1;
    std::int64_t maxRate = -1;
    std::int64_t bufSize = -1;
    std::string preset; // the record's VideoPreset
};

struct AudioSettings {
    std::string encoder;
    int sampleRate = 0;
    int channels = 0;
    std::int64_t bitrate = -1;
};

struct OutputSettings {
    std::string muxer; // FFmpeg muxer name
    bool psp = false;  // the PSP's limits apply (muxer "psp")
    VideoSettings video;
    AudioSettings audio;
};

// Where the picture goes inside the output frame (even offsets and sizes).
struct FitRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// "480x272" -> {480, 272}; {0, 0} when malformed.
std::pair<int, int> parseFrameSize(const std::string& text);
// "30000/1001" or "25" -> rational; {0, 1} when malformed.
AVRational parseFrameRate(const std::string& text);
// A maximum rate below 10000 is taken as kbit/s: no video is limited to a few thousand bit/s,
// and the Hi profile gives 768 meaning the PSP's 768 kbit/s ceiling.
std::int64_t interpretMaxRate(std::int64_t value);
// The named AAC encoder, or FFmpeg's own "aac" when that one is not available.
std::string audioEncoderName(const std::string& requested);
// The largest rectangle of the source's display aspect ratio (sample aspect included)
// that fits in width x height, centred.
FitRect fitInside(int srcWidth, int srcHeight, AVRational sampleAspect, int width, int height);

// srcWidth/srcHeight/srcRate describe the source's video (0 when it has none).
OutputSettings resolveOutput(const TOutputOptions& options, int srcWidth, int srcHeight, AVRational srcRate);

// The libx264 options a named preset stands for ("fastfirstpass"), empty when unknown.
std::string x264ParamsForPreset(const std::string& preset);
// The libx264 options the PSP's decoder needs (Main, one slice, no 8x8, no weighted
// prediction, no B-pyramid, at most 2 reference frames).
std::string x264PspParams();

} // namespace kv::media::engine
