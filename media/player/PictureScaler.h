#pragma once
// Turns a decoded frame into the picture the preview screen shows: scaled into the
// screen's size keeping the frame's display aspect ratio (sample aspect ratio included),
// centred on black.
#include "media/Records.h"

#include "media/ff/FFPtr.h"

#include <string>

namespace kv::media::player {

struct FitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Where a frame of frameWidth x frameHeight with the given sample aspect ratio (0/x or
// invalid: square samples) goes inside a screen, as large as fits, centred.
FitRect fitPicture(int frameWidth, int frameHeight, AVRational sampleAspect, int screenWidth,
                   int screenHeight);

class PictureScaler {
public:
    // Fills `out` (screenWidth x screenHeight, 24-bit RGB) from the frame; false with the
    // reason when the frame cannot be converted.
    bool scale(const AVFrame& frame, int screenWidth, int screenHeight, TRGBImage& out, std::string& error);

private:
    ff::SwsPtr sws_;
};

} // namespace kv::media::player
