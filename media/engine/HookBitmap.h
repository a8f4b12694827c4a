#pragma once
// The source frame as the video-input hook sees it: a 24-bit RGB bitmap whose rows are
// converted from the decoded frame only when the hook asks for them, in bands aligned to
// the pixel format's chroma rows. After the call, commit() converts exactly the bands that
// were handed out back into the frame; the rest of the frame stays as decoded.
#include "media/Records.h"
#include "media/ff/FFPtr.h"

#include <vector>

namespace kv::media::engine {

class HookBitmap final : public THookBitmap {
  public:
    // Prepares for frames of this frame's size and format (buffers are reused between frames).
    void attach(AVFrame* frame);
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    TRGBView Rows(int top, int bottom) override;

    // Puts the handed-out rows back into the frame (making it writable first).
    void commit();
    bool touched() const { return touched_; }
    int rowsConverted() const { return rowsConverted_; } // rows converted to RGB since attach()

  private:
    void convertBand(int top, int bottom, bool toRgb);
    SwsContext* contextFor(int bandHeight, bool toRgb);

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
};

} // namespace kv::media::engine
