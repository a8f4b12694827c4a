#include "media/engine/HookBitmap.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>

namespace kv::media::engine {

void HookBitmap::attach(AVFrame* frame)
{
    frame_ = frame;
    touched_ = false;
    rowsConverted_ = 0;
    if (frame->width != width_ || frame->height != height_ || frame->format != format_) {
        width_ = frame->width;
        height_ = frame->height;
        format_ = frame->format;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format_));
        align_ = desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) ? 1 << desc->log2_chroma_h : 1;
        stride_ = (width_ * 3 + 31) & ~31;
        pixels_.clear(); // allocated when a hook first asks for rows
        toRgb_.reset();
        fromRgb_.reset();
        toRgbHeight_ = fromRgbHeight_ = 0;
    }
    converted_.assign(static_cast<size_t>(height_), 0);
}

TRGBView HookBitmap::Rows(int top, int bottom)
{
    top = std::clamp(top, 0, height_);
    bottom = std::clamp(bottom, top, height_);
    // Widen to whole chroma rows, then convert the rows not handed out yet, band by band.
    if (pixels_.empty())
        pixels_.assign(static_cast<size_t>(stride_) * height_, 0);
    const int from = top / align_ * align_;
    const int to = std::min(height_, (bottom + align_ - 1) / align_ * align_);
    int y = from;
    while (y < to) {
        if (converted_[y]) {
            ++y;
            continue;
        }
        int end = y;
        while (end < to && !converted_[end])
            ++end;
        convertBand(y, end, true);
        std::fill(converted_.begin() + y, converted_.begin() + end, 1);
        rowsConverted_ += end - y;
        y = end;
    }
    if (to > from)
        touched_ = true;
    TRGBView view;
    view.Width = width_;
    view.Height = height_;
    view.Stride = stride_;
    view.Top = top;
    view.Bottom = bottom;
    view.Data = pixels_.data();
    return view;
}

void HookBitmap::commit()
{
    if (!touched_)
        return;
    ff::check(av_frame_make_writable(frame_), "cannot change the frame");
    int y = 0;
    while (y < height_) {
        if (!converted_[y]) {
            ++y;
            continue;
        }
        int end = y;
        while (end < height_ && converted_[end])
            ++end;
        convertBand(y, end, false);
        y = end;
    }
}

SwsContext* HookBitmap::contextFor(int bandHeight, bool toRgb)
{
    auto& ctx = toRgb ? toRgb_ : fromRgb_;
    int& h = toRgb ? toRgbHeight_ : fromRgbHeight_;
    if (!ctx || h != bandHeight) {
        const auto fmt = static_cast<AVPixelFormat>(format_);
        SwsContext* c = toRgb ? sws_getContext(width_, bandHeight, fmt, width_, bandHeight, AV_PIX_FMT_RGB24,
                                               SWS_BICUBIC, nullptr, nullptr, nullptr)
                              : sws_getContext(width_, bandHeight, AV_PIX_FMT_RGB24, width_, bandHeight, fmt,
                                               SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!c)
            throw ff::Error(std::string("cannot convert frames of pixel format ") +
                            (av_get_pix_fmt_name(fmt) ? av_get_pix_fmt_name(fmt) : "?") +
                            " for the frame hook");
        ctx.reset(c);
        h = bandHeight;
    }
    return ctx.get();
}

void HookBitmap::convertBand(int top, int bottom, bool toRgb)
{
    const int bandHeight = bottom - top;
    SwsContext* ctx = contextFor(bandHeight, toRgb);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format_));
    // Pointers to the band's first row in every plane of the frame.
    std::uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int p = 0; p < 4 && frame_->data[p]; ++p) {
        const bool palette = (desc->flags & AV_PIX_FMT_FLAG_PAL) && p == 1;
        const bool chroma = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && (p == 1 || p == 2);
        const int row = palette ? 0 : chroma ? top >> desc->log2_chroma_h : top;
        planes[p] = frame_->data[p] + static_cast<std::ptrdiff_t>(row) * frame_->linesize[p];
        strides[p] = frame_->linesize[p];
    }
    std::uint8_t* rgb[4] = {pixels_.data() + static_cast<std::ptrdiff_t>(top) * stride_, nullptr, nullptr,
                            nullptr};
    int rgbStride[4] = {stride_, 0, 0, 0};
    int ret = toRgb ? sws_scale(ctx, planes, strides, 0, bandHeight, rgb, rgbStride)
                    : sws_scale(ctx, rgb, rgbStride, 0, bandHeight, planes, strides);
    if (ret < 0)
        ff::check(ret, "cannot convert the frame for the hook");
}

} // namespace kv::media::engine
