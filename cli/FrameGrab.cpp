#include "cli/FrameGrab.h"

#include "media/ff/InputFile.h"

#include <stdexcept>

namespace kv::cli {

namespace {

media::TRGBImage toRgb(const AVFrame* frame)
{
    if (frame->width <= 0 || frame->height <= 0)
        throw std::runtime_error("the decoder gave a picture without a size");
    ff::SwsPtr sws(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                  frame->width, frame->height, AV_PIX_FMT_RGB24,
                                  SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!sws)
        throw std::runtime_error("cannot convert pictures of this pixel format to RGB");
    media::TRGBImage image;
    image.Width = frame->width;
    image.Height = frame->height;
    image.Stride = frame->width * 3;
    image.Pixels.resize(static_cast<size_t>(image.Stride) * static_cast<size_t>(image.Height));
    uint8_t* dst[4] = {image.Pixels.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {image.Stride, 0, 0, 0};
    ff::check(sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride),
              "cannot convert the picture to RGB");
    return image;
}

} // namespace

GrabbedFrame grabFrameAt(const std::string& path, std::int64_t timeUs)
{
    ff::InputOpenOptions options;
    options.wantAudio = false;
    ff::InputFile input(path, options);
    AVCodecContext* decoder = input.videoDecoder();
    const int stream = input.videoStreamIndex();
    if (!decoder || stream < 0)
        throw std::runtime_error(path + " has no video stream");

    const AVRational rate = input.videoFrameRate();
    const std::int64_t duration = input.durationUs();
    if (duration >= 0 && timeUs > duration)
        throw std::runtime_error("the source is only " + std::to_string(duration / 1000) + " ms long");
    if (timeUs > 0)
        input.seek(timeUs);

    ff::FramePtr found = ff::allocFrame();
    ff::FramePtr last = ff::allocFrame();
    bool haveFound = false, haveLast = false;
    std::int64_t foundPts = 0, lastPts = 0;
    auto onFrame = [&](AVFrame* frame) {
        if (haveFound)
            return;
        const std::int64_t pts =
            frame->pts == AV_NOPTS_VALUE ? lastPts : input.toMicroseconds(frame->pts, stream);
        AVFrame* keep = pts >= timeUs ? found.get() : last.get();
        av_frame_unref(keep);
        ff::check(av_frame_ref(keep, frame), "cannot keep a decoded frame");
        (pts >= timeUs ? haveFound : haveLast) = true;
        (pts >= timeUs ? foundPts : lastPts) = pts;
    };

    ff::PacketPtr packet = ff::allocPacket();
    while (!haveFound && input.readPacket(packet.get())) {
        if (packet->stream_index == stream)
            input.decode(decoder, packet.get(), onFrame);
        av_packet_unref(packet.get());
    }
    if (!haveFound)
        input.decode(decoder, nullptr, onFrame); // the frames the decoder still holds

    GrabbedFrame result;
    if (haveFound) {
        result.Image = toRgb(found.get());
        result.PtsUs = foundPts;
    } else if (haveLast) {
        result.Image = toRgb(last.get());
        result.PtsUs = lastPts;
    } else {
        throw std::runtime_error("no picture could be decoded at that time");
    }
    result.FrameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
    return result;
}

} // namespace kv::cli
