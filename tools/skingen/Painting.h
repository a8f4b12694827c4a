#pragma once
// Drawing helpers shared by the skin's pictures: the palette, fonts read straight from the
// Liberation files (so the result does not depend on which font fontconfig would pick), text
// placement, and writing PNGs without anything that changes from run to run.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QString>

namespace kv::skingen {

namespace palette {
inline const QColor key{255, 0, 255}; // window colour key: bottom-left pixel of the background
inline const QColor rim{8, 9, 11};    // outer edge of the window shape
inline const QColor bodyTop{46, 50, 58};
inline const QColor bodyBottom{24, 26, 31};
inline const QColor well{13, 15, 18}; // recessed areas (screen, strip, sockets)
inline const QColor wellEdge{5, 6, 7};
inline const QColor accent{42, 168, 224};
inline const QColor accentLight{126, 214, 255};
inline const QColor accentDark{15, 96, 138};
inline const QColor text{214, 220, 228};
inline const QColor textDim{124, 131, 142};
inline const QColor danger{224, 73, 74};
inline const QColor amber{230, 160, 48};
inline const QColor green{60, 191, 106};
} // namespace palette

enum class FontStyle { Regular, Bold };

// A Liberation Sans face at a pixel size, loaded by file path.
QRawFont liberation(FontStyle style, qreal pixelSize);

// A Liberation Sans face whose capital letters are exactly `capHeight` pixels tall, so that labels
// drawn on a whole-pixel baseline get crisp tops and bottoms.
QRawFont liberationByCapHeight(FontStyle style, int capHeight);

// Advance width of a line of text.
qreal textWidth(const QRawFont& font, const QString& text);

// The outline of a line of text with its baseline's left end at `origin`.
QPainterPath textPath(const QRawFont& font, const QString& text, QPointF origin);

// Draws a line of text in `color` with its baseline's left end at `origin`.
void drawText(QPainter& p, const QRawFont& font, const QString& text, QPointF origin, const QColor& color);

// Draws a line of text centred in `box` (by advance width and by cap height), its baseline on a
// whole pixel.
void drawTextCentred(QPainter& p, const QRawFont& font, const QString& text, const QRectF& box,
                     const QColor& color);

// Greedy word wrap into lines no wider than `width`; returns the y below the last line.
qreal drawWrapped(QPainter& p, const QRawFont& font, const QString& text, QPointF topLeft, qreal width,
                  qreal lineHeight, const QColor& color);

// A colour `t` of the way from `a` to `b`.
QColor mix(const QColor& a, const QColor& b, qreal t);

// Two-stop vertical gradient over `r`.
QBrush vertical(const QRectF& r, const QColor& top, const QColor& bottom);

// An opaque RGB32 picture filled with one colour.
QImage blank(QSize size, const QColor& fill);

// Writes a PNG with fixed settings and no text chunks; throws std::runtime_error on failure.
void writePng(const QImage& image, const QString& path);

} // namespace kv::skingen
