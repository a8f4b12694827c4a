#include "media/player/PictureScaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kv::media::player {

FitRect fitPicture(int frameWidth, int frameHeight, AVRational sampleAspect, int screenWidth,
                   int screenHeight)
{
    FitRect r;
    if (frameWidth <= 0 || frameHeight <= 0 || screenWidth <= 0 || screenHeight <= 0)
        return r;
    double sar = 1.0;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        sar = av_q2d(sampleAspect);
    const double displayAspect = frameWidth * sar / frameHeight;
    if (static_cast<double>(screenWidth) / screenHeight > displayAspect) {
        r.height = screenHeight;
        r.width = std::clamp(static_cast<int>(std::lround(screenHeight * displayAspect)), 1, screenWidth);
    } else {
        r.width = screenWidth;
        r.height = std::clamp(static_cast<int>(std::lround(screenWidth / displayAspect)), 1, screenHeight);
    }
    r.x = (screenWidth - r.width) / 2;
    r.y = (screenHeight - r.height) / 2;
    return r;
}

bool PictureScaler::scale(const AVFrame& frame, int screenWidth, int screenHeight, TRGBImage& out,
                          std::string& error)
{
    const FitRect fit =
        fitPicture(frame.width, frame.height, frame.sample_aspect_ratio, screenWidth, screenHeight);
    if (fit.width <= 0 || fit.height <= 0) {
        error = "the picture or the screen has no size";
        return false;
    }
    out.Width = screenWidth;
    out.Height = screenHeight;
    out.Stride = screenWidth * 3;
    out.Pixels.assign(static_cast<std::size_t>(out.Stride) * screenHeight, 0); // black bars

    const auto srcFormat = static_cast<AVPixelFormat>(frame.format);
    SwsContext* ctx =
        sws_getCachedContext(sws_.release(), frame.width, frame.height, srcFormat, fit.width, fit.height,
                             AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    sws_.reset(ctx);
    if (!ctx) {
        const char* name = av_get_pix_fmt_name(srcFormat);
        error = std::string("cannot convert pictures of pixel format ") + (name ? name : "unknown");
        return false;
    }
    // Take the frame's own matrix and range; swscale would assume limited-range BT.601.
    int* invTable = nullptr;
    int* table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(ctx, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                 &saturation) >= 0) {
        const int space = frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame.colorspace;
        const int fullRange = frame.color_range == AVCOL_RANGE_JPEG ? 1 : srcRange;
        sws_setColorspaceDetails(ctx, sws_getCoefficients(space), fullRange, table, dstRange, brightness,
                                 contrast, saturation);
    }
    std::uint8_t* dst[4] = {out.Pixels.data() + static_cast<std::ptrdiff_t>(fit.y) * out.Stride + fit.x * 3,
                            nullptr, nullptr, nullptr};
    const int dstStride[4] = {out.Stride, 0, 0, 0};
    const int rows = sws_scale(ctx, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
    if (rows <= 0) {
        error = "the picture could not be scaled";
        return false;
    }
    return true;
}

} // namespace kv::media::player
