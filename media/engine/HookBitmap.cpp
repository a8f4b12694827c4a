#include "media/engine/HookBitmap.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>

namespace kv::media::engine {

// RGB to Y'CbCr in 14-bit fixed point, as the scaler converts by default (BT.601 matrix).
struct YuvCoefficients {
    int y[3], u[3], v[3];
    int lumaOffset;
};

namespace {

constexpr int kPlaneAlign = 64; // line and plane alignment of our own copies, enough for any SIMD

constexpr int kFix = 1 << 14;
constexpr int fix(double c)
{
    return static_cast<int>(c * kFix + (c < 0 ? -0.5 : 0.5));
}
constexpr YuvCoefficients kLimitedRange{{fix(0.256788), fix(0.504129), fix(0.097906)},
                                        {fix(-0.148223), fix(-0.290993), fix(0.439216)},
                                        {fix(0.439216), fix(-0.367788), fix(-0.071427)},
                                        16};
constexpr YuvCoefficients kFullRange{{fix(0.299), fix(0.587), fix(0.114)},
                                     {fix(-0.168736), fix(-0.331264), fix(0.5)},
                                     {fix(0.5), fix(-0.418688), fix(-0.081312)},
                                     0};

} // namespace

HookBitmap::HookBitmap() = default;

HookBitmap::~HookBitmap()
{
    work_.reset();                 // hands its buffer back before the pool goes
    av_buffer_pool_uninit(&pool_); // buffers still held downstream keep the pool alive until freed
}

void HookBitmap::attach(AVFrame* frame)
{
    frame_ = frame;
    touched_ = false;
    rowsConverted_ = 0;
    working_ = false;
    if (work_)
        av_frame_unref(work_.get()); // a copy the last hook did not commit
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
        convertBand(source(), y, end, true);
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
    if (!touched_ && !working_)
        return;
    // Rows drawn in RGB go straight into a frame nobody else holds; otherwise into our copy.
    AVFrame* target = working_ || !av_frame_is_writable(frame_) ? (makeWorkingCopy(), work_.get()) : frame_;
    int y = 0;
    while (y < height_) {
        if (!converted_[y]) {
            ++y;
            continue;
        }
        int end = y;
        while (end < height_ && converted_[end])
            ++end;
        convertBand(target, y, end, false);
        y = end;
    }
    if (target != work_.get())
        return;
    // The frame takes over our copy's buffer in place of the decoder's.
    for (AVBufferRef*& buf : frame_->buf)
        av_buffer_unref(&buf);
    for (int i = 0; i < frame_->nb_extended_buf; ++i)
        av_buffer_unref(&frame_->extended_buf[i]);
    av_freep(&frame_->extended_buf);
    frame_->nb_extended_buf = 0;
    frame_->buf[0] = work_->buf[0];
    work_->buf[0] = nullptr;
    for (int p = 0; p < AV_NUM_DATA_POINTERS; ++p) {
        frame_->data[p] = work_->data[p];
        frame_->linesize[p] = work_->linesize[p];
    }
    frame_->extended_data = frame_->data;
    av_frame_unref(work_.get());
    working_ = false;
}

void HookBitmap::makeWorkingCopy()
{
    if (working_)
        return;
    const auto fmt = static_cast<AVPixelFormat>(format_);
    const int size =
        ff::check(av_image_get_buffer_size(fmt, width_, height_, kPlaneAlign), "cannot size the frame copy");
    if (!pool_ || poolSize_ != size) {
        av_buffer_pool_uninit(&pool_);
        pool_ = ff::checkAlloc(av_buffer_pool_init(static_cast<std::size_t>(size), av_buffer_alloc),
                               "cannot copy the frame");
        poolSize_ = size;
    }
    if (!work_)
        work_.reset(ff::checkAlloc(av_frame_alloc(), "cannot copy the frame"));
    av_frame_unref(work_.get());
    work_->buf[0] = ff::checkAlloc(av_buffer_pool_get(pool_), "cannot copy the frame");
    ff::check(av_image_fill_arrays(work_->data, work_->linesize, work_->buf[0]->data, fmt, width_, height_,
                                   kPlaneAlign),
              "cannot lay out the frame copy");
    work_->format = format_;
    work_->width = width_;
    work_->height = height_;
    av_image_copy(work_->data, work_->linesize, const_cast<const std::uint8_t**>(frame_->data),
                  frame_->linesize, fmt, width_, height_);
    working_ = true;
}

bool HookBitmap::BlendOverlay(const TOverlayView& overlay)
{
    const bool limited = format_ == AV_PIX_FMT_YUV420P;
    const bool full = format_ == AV_PIX_FMT_YUVJ420P;
    // Rows already handed out in RGB would be written back over the blend.
    if ((!limited && !full) || touched_)
        return false;
    if (!overlay.Pixels || overlay.Width <= 0 || overlay.Height <= 0 || overlay.Stride < overlay.Width)
        return true;
    const int x0 = std::max(0, overlay.Left), x1 = std::min(width_, overlay.Left + overlay.Width);
    const int y0 = std::max(0, overlay.Top), y1 = std::min(height_, overlay.Top + overlay.Height);
    if (x0 >= x1 || y0 >= y1)
        return true;
    makeWorkingCopy();
    blendYuv420(overlay, full);
    return true;
}

// Source-over of a premultiplied pixel (r, g, b, a) on a Y'CbCr sample d, per component:
// out = offset * a / 255 + M * (r, g, b) + d * (255 - a) / 255, in 14-bit fixed point.
// Chroma takes the 2x2 pixels it covers: their premultiplied colour and alpha are summed,
// so a chroma sample changes only where at least one of its pixels is covered.
void HookBitmap::blendYuv420(const TOverlayView& overlay, bool fullRange)
{
    const YuvCoefficients& k = fullRange ? kFullRange : kLimitedRange;
    if (blendTables_.empty()) {
        // By the alpha summed over four pixels s (one pixel of alpha a counts as s = 4a):
        // [0, 1020] the weight left to the sample below, [1021, 2041] the chroma offset's share.
        blendTables_.resize(2 * 1021);
        for (int s = 0; s <= 1020; ++s) {
            blendTables_[s] = static_cast<int>((2LL * (1020 - s) * kFix + 1020) / 2040);
            blendTables_[1021 + s] = static_cast<int>((2LL * 128 * s * kFix + 1020) / 2040);
        }
    }
    const int* keep = blendTables_.data();
    const int* chromaOffset = blendTables_.data() + 1021;

    const int x0 = std::max(0, overlay.Left), x1 = std::min(width_, overlay.Left + overlay.Width);
    const int y0 = std::max(0, overlay.Top), y1 = std::min(height_, overlay.Top + overlay.Height);
    AVFrame* f = work_.get();
    if (overlay.Runs && overlay.RowRuns) {
        blendRunsYuv420(overlay, k, x0, x1, y0, y1);
        return;
    }
    const std::uint32_t* rows[2];
    std::uint8_t* luma[2];
    for (int cy = y0 / 2; cy < (y1 + 1) / 2; ++cy) {
        for (int i = 0; i < 2; ++i) {
            const int y = 2 * cy + i;
            const bool inside = y >= y0 && y < y1;
            rows[i] = inside
                          ? overlay.Pixels + static_cast<std::ptrdiff_t>(y - overlay.Top) * overlay.Stride -
                                overlay.Left
                          : nullptr;
            luma[i] = f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0];
        }
        std::uint8_t* cb = f->data[1] + static_cast<std::ptrdiff_t>(cy) * f->linesize[1];
        std::uint8_t* cr = f->data[2] + static_cast<std::ptrdiff_t>(cy) * f->linesize[2];
        for (int cx = x0 / 2; cx < (x1 + 1) / 2; ++cx) {
            const int xa = std::max(x0, 2 * cx), xb = std::min(x1, 2 * cx + 2);
            // Most of an overlay is transparent: a block of four such pixels costs one test.
            if (rows[0] && rows[1] && xb - xa == 2 &&
                ((rows[0][xa] | rows[0][xa + 1] | rows[1][xa] | rows[1][xa + 1]) >> 24) == 0)
                continue;
            int sumA = 0, sumU = 0, sumV = 0;
            for (int i = 0; i < 2; ++i) {
                if (!rows[i])
                    continue;
                for (int x = xa; x < xb; ++x) {
                    const std::uint32_t p = rows[i][x];
                    const int a = static_cast<int>(p >> 24);
                    if (a == 0)
                        continue;
                    const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
                    std::uint8_t& d = luma[i][x];
                    const int y = k.y[0] * r + k.y[1] * g + k.y[2] * b +
                                  k.lumaOffset * chromaOffset[4 * a] / 128 + d * keep[4 * a];
                    d = static_cast<std::uint8_t>(std::clamp((y + kFix / 2) >> 14, 0, 255));
                    sumA += a;
                    sumU += k.u[0] * r + k.u[1] * g + k.u[2] * b;
                    sumV += k.v[0] * r + k.v[1] * g + k.v[2] * b;
                }
            }
            if (sumA == 0)
                continue;
            // Four pixels' premultiplied colour, averaged: (sum + 4 * (offset + d * keep)) / 4.
            const int u = sumU + 4 * (chromaOffset[sumA] + cb[cx] * keep[sumA]);
            const int v = sumV + 4 * (chromaOffset[sumA] + cr[cx] * keep[sumA]);
            cb[cx] = static_cast<std::uint8_t>(std::clamp((u + 2 * kFix) >> 16, 0, 255));
            cr[cx] = static_cast<std::uint8_t>(std::clamp((v + 2 * kFix) >> 16, 0, 255));
        }
    }
}

// As above, reading only the overlay's runs: each row pair's covered pixels are blended
// into luma while their chroma contributions gather per chroma column, then the chroma
// samples those runs reach are written and their sums cleared for the next pair.
void HookBitmap::blendRunsYuv420(const TOverlayView& overlay, const YuvCoefficients& k, int x0, int x1,
                                 int y0, int y1)
{
    const int* keep = blendTables_.data();
    const int* chromaOffset = blendTables_.data() + 1021;
    AVFrame* f = work_.get();
    const std::size_t chromaWidth = static_cast<std::size_t>(width_ + 1) / 2;
    if (chromaSums_.size() != 3 * chromaWidth)
        chromaSums_.assign(3 * chromaWidth, 0);
    int* sumA = chromaSums_.data();
    int* sumU = sumA + chromaWidth;
    int* sumV = sumU + chromaWidth;
    auto runsOf = [&](int y, auto&& each) {
        const int row = y - overlay.Top;
        for (int r = overlay.RowRuns[row]; r < overlay.RowRuns[row + 1]; ++r) {
            const int from = std::max(x0, overlay.Left + overlay.Runs[r].first);
            const int to = std::min(x1, overlay.Left + overlay.Runs[r].second);
            if (from < to)
                each(from, to);
        }
    };
    for (int cy = y0 / 2; cy < (y1 + 1) / 2; ++cy) {
        const int ya = std::max(y0, 2 * cy), yb = std::min(y1, 2 * cy + 2);
        for (int y = ya; y < yb; ++y) {
            const std::uint32_t* src =
                overlay.Pixels + static_cast<std::ptrdiff_t>(y - overlay.Top) * overlay.Stride - overlay.Left;
            std::uint8_t* luma = f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0];
            runsOf(y, [&](int from, int to) {
                for (int x = from; x < to; ++x) {
                    const std::uint32_t p = src[x];
                    const int a = static_cast<int>(p >> 24);
                    if (a == 0)
                        continue;
                    const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
                    const int v = k.y[0] * r + k.y[1] * g + k.y[2] * b +
                                  k.lumaOffset * chromaOffset[4 * a] / 128 + luma[x] * keep[4 * a];
                    luma[x] = static_cast<std::uint8_t>(std::clamp((v + kFix / 2) >> 14, 0, 255));
                    sumA[x >> 1] += a;
                    sumU[x >> 1] += k.u[0] * r + k.u[1] * g + k.u[2] * b;
                    sumV[x >> 1] += k.v[0] * r + k.v[1] * g + k.v[2] * b;
                }
            });
        }
        std::uint8_t* cb = f->data[1] + static_cast<std::ptrdiff_t>(cy) * f->linesize[1];
        std::uint8_t* cr = f->data[2] + static_cast<std::ptrdiff_t>(cy) * f->linesize[2];
        for (int y = ya; y < yb; ++y)
            runsOf(y, [&](int from, int to) {
                for (int cx = from >> 1; cx < (to + 1) >> 1; ++cx) {
                    const int s = sumA[cx];
                    if (s == 0)
                        continue; // none of its pixels covered, or written already
                    const int u = sumU[cx] + 4 * (chromaOffset[s] + cb[cx] * keep[s]);
                    const int v = sumV[cx] + 4 * (chromaOffset[s] + cr[cx] * keep[s]);
                    cb[cx] = static_cast<std::uint8_t>(std::clamp((u + 2 * kFix) >> 16, 0, 255));
                    cr[cx] = static_cast<std::uint8_t>(std::clamp((v + 2 * kFix) >> 16, 0, 255));
                    sumA[cx] = sumU[cx] = sumV[cx] = 0;
                }
            });
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

void HookBitmap::convertBand(AVFrame* frame, int top, int bottom, bool toRgb)
{
    const int bandHeight = bottom - top;
    SwsContext* ctx = contextFor(bandHeight, toRgb);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format_));
    // Pointers to the band's first row in every plane of the frame.
    std::uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int p = 0; p < 4 && frame->data[p]; ++p) {
        const bool palette = (desc->flags & AV_PIX_FMT_FLAG_PAL) && p == 1;
        const bool chroma = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && (p == 1 || p == 2);
        const int row = palette ? 0 : chroma ? top >> desc->log2_chroma_h : top;
        planes[p] = frame->data[p] + static_cast<std::ptrdiff_t>(row) * frame->linesize[p];
        strides[p] = frame->linesize[p];
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
