#pragma once
// Layout and drawing of one subtitle: splitting it into up to three screen lines, sizing the
// font to the frame, breaking and shrinking over-long lines, placing the block near the
// bottom, and drawing each screen line with a black outline of offset copies.
#include "media/Records.h"
#include "subtitles/SubtitleSnapshot.h"
#include "subtitles/TextOps.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

class QPainter;

namespace kv::subtitles {

// One screen line as it is drawn.
struct ScreenLine {
    QString Text; // without its inline tags
    int X = 0;    // top-left of the text cell in the frame
    int Y = 0;
    int Width = 0;    // measured with the working font in this line's style
    QString FontName; // face it is drawn with (empty: the working font's face)
    QRgb Colour = 0;
    FontStyles Style = 0;
};

struct SubtitleLayout {
    int FrameWidth = 0;
    int FrameHeight = 0;
    int LineCount = 0;            // screen lines, 1 to 3
    std::array<QString, 3> Lines; // after splitting and breaking, tags still in
    QString WorkingFontName;      // the subtitle font's face
    int FontHeight = 0;           // working font height: negative, pixels
    int FontSize = 0;             // working font size, points at 96 dpi
    int LineHeight = 0;           // -FontHeight
    std::int64_t MaxWidth = 0;    // widest a line may be
    int BlockWidth = 0;
    int BlockHeight = 0;
    int BlockLeft = 0;
    int BlockTop = 0;
    int Outline = 0;                // outline width o
    bool OpaqueBoxes = false;       // style 2: each line on a black box
    std::vector<ScreenLine> Screen; // LineCount entries
};

// The layout of `text` on a frame of the given size. Pure: needs fonts (a QGuiApplication)
// but no pixels.
SubtitleLayout LayOutSubtitle(const QString& text, int frameWidth, int frameHeight,
                              const SubtitleRenderSettings& settings);

// The font a screen line is measured and drawn with.
QFont WorkingFont(const QString& name, int pixelHeight, FontStyles style);

// Draws one outlined line with its top-left cell corner at (x, y): black copies at (x, y),
// (x, y+o), (x+o, y), (x+o, y+o), then the text in `colour` at (x+o/2, y+o/2). An empty
// `fontName` keeps the face of `font`. With `opaqueBox` each copy's cell is painted black.
void DrawAATextDIVX(QPainter& painter, const QFont& font, int x, int y, int outline, QRgb colour,
                    const QString& fontName, const QString& text, bool opaqueBox);

// A subtitle block drawn once onto a transparent image, cut to the pixels it covers and
// clipped to the frame; compositing it onto each frame gives the same picture as drawing
// the text there.
struct SubtitleOverlay {
    QImage Image;  // premultiplied ARGB; null when nothing is visible
    QPoint Origin; // its top-left corner in the frame
    // The runs of visible pixels, so compositing touches only those: run i covers columns
    // [Runs[i].first, Runs[i].second) of the image; the runs of image row y are
    // RowRuns[y] .. RowRuns[y + 1] - 1. Empty: every pixel of the image is looked at.
    std::vector<std::pair<int, int>> Runs;
    std::vector<int> RowRuns;
    bool empty() const { return Image.isNull(); }
};

SubtitleOverlay RenderSubtitleOverlay(const SubtitleLayout& layout);

// Blends the overlay into the frame, asking the frame only for the rows the overlay covers.
// An empty overlay touches nothing.
void CompositeOverlay(const SubtitleOverlay& overlay, kv::media::THookBitmap& frame);

// 96 dpi in dots per metre: point sizes on our images mean what they mean on a screen.
inline constexpr int kDotsPerMeter96Dpi = 3780;

} // namespace kv::subtitles
