#pragma once
// A frame for the subtitle hook over a plain RGB image (tests, the single-frame preview).
// It hands out rows of the image in place and remembers which rows were asked for.
#include "media/Records.h"

#include <algorithm>
#include <stdexcept>

namespace kv::subtitles {

class ImageHookBitmap final : public kv::media::THookBitmap {
  public:
    explicit ImageHookBitmap(kv::media::TRGBImage& image) : image_(image)
    {
        if (image.Width < 0 || image.Height < 0 || image.Stride < image.Width * 3 ||
            image.Pixels.size() <
                static_cast<std::size_t>(image.Stride) * static_cast<std::size_t>(image.Height))
            throw std::invalid_argument("ImageHookBitmap: the image's stride or pixel buffer is too small");
    }

    int Width() const override { return image_.Width; }
    int Height() const override { return image_.Height; }

    kv::media::TRGBView Rows(int top, int bottom) override
    {
        top = std::clamp(top, 0, image_.Height);
        bottom = std::clamp(bottom, top, image_.Height);
        ++rowsCalls_;
        askedTop_ = std::min(askedTop_, top);
        askedBottom_ = std::max(askedBottom_, bottom);
        kv::media::TRGBView view;
        view.Width = image_.Width;
        view.Height = image_.Height;
        view.Stride = image_.Stride;
        view.Top = top;
        view.Bottom = bottom;
        view.Data = image_.Pixels.data();
        return view;
    }

    // How often Rows was called, and the union of the rows handed out ([top, bottom)).
    int rowsCalls() const { return rowsCalls_; }
    int askedTop() const { return askedTop_; }
    int askedBottom() const { return askedBottom_; }
    void resetCounters()
    {
        rowsCalls_ = 0;
        askedTop_ = image_.Height;
        askedBottom_ = 0;
    }

  private:
    kv::media::TRGBImage& image_;
    int rowsCalls_ = 0;
    int askedTop_ = image_.Height;
    int askedBottom_ = 0;
};

// A frame of the given size filled with one colour.
inline kv::media::TRGBImage MakeRGBImage(int width, int height, std::uint8_t r, std::uint8_t g,
                                         std::uint8_t b)
{
    kv::media::TRGBImage image;
    image.Width = width;
    image.Height = height;
    image.Stride = width * 3;
    image.Pixels.resize(static_cast<std::size_t>(image.Stride) * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i + 2 < image.Pixels.size(); i += 3) {
        image.Pixels[i] = r;
        image.Pixels[i + 1] = g;
        image.Pixels[i + 2] = b;
    }
    return image;
}

} // namespace kv::subtitles
