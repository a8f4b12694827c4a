#pragma once
// The source frame as the video-input hook sees it: a 24-bit RGB bitmap whose rows are
// converted from the decoded frame only when the hook asks for them, in bands aligned to
// the pixel format's chroma rows. After the call, commit() converts exactly the bands that
// were handed out back into the frame; the rest of the frame stays as decoded.
// 8-bit 4:2:0 frames also take an overlay blended straight into their planes, which skips
// the RGB round trip and leaves every pixel the overlay does not cover untouched.
#include "media/Records.h"
#include "media/ff/FFPtr.h"

#include <vector>

namespace kv::media::engine {

struct YuvCoefficients;

class HookBitmap final : public THookBitmap {
  public:
    HookBitmap();
    ~HookBitmap() override;
    HookBitmap(const HookBitmap&) = delete;
    HookBitmap& operator=(const HookBitmap&) = delete;

    // Prepares for frames of this frame's size and format (buffers are reused between frames).
    void attach(AVFrame* frame);
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    TRGBView Rows(int top, int bottom) override;
    bool BlendOverlay(const TOverlayView& overlay) override;

    // Puts the handed-out rows and blended overlays into the frame. A frame that others
    // still hold is first copied into a buffer of our own (reused from frame to frame).
    void commit();
    bool touched() const { return touched_; }
    int rowsConverted() const { return rowsConverted_; } // rows converted to RGB since attach()

  private:
    void convertBand(AVFrame* frame, int top, int bottom, bool toRgb);
    SwsContext* contextFor(int bandHeight, bool toRgb);
    AVFrame* source() { return working_ ? work_.get() : frame_; }
    void makeWorkingCopy();
    void blendYuv420(const TOverlayView& overlay, bool fullRange);
    void blendRunsYuv420(const TOverlayView& overlay, const YuvCoefficients& k, int x0, int x1, int y0,
                         int y1);

    AVFrame* frame_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int format_ = -1;
    int align_ = 1; // rows per chroma row
    int stride_ = 0;
    std::vector<std::uint8_t> pixels_;
    std::vector<char> converted_; // per row: handed out in this call
    bool touched_ = false;
    int rowsConverted_ = 0;
    ff::SwsPtr toRgb_;
    ff::SwsPtr fromRgb_;
    int toRgbHeight_ = 0;
    int fromRgbHeight_ = 0;

    // The frame's pixels in a buffer of our own once something is drawn: the decoder's
    // buffers stay untouched, and the pool spares a fresh allocation on every frame.
    AVBufferPool* pool_ = nullptr;
    int poolSize_ = 0;
    ff::FramePtr work_;
    bool working_ = false;         // work_ holds this frame's picture
    std::vector<int> blendTables_; // fixed-point weights by alpha sum, made on the first blend
    std::vector<int> chromaSums_;  // per chroma column of a row pair: alpha, Cb and Cr sums
};

} // namespace kv::media::engine
