#pragma once
// The pictures of the window skin. Each function draws one picture; main.cpp writes them.
#include "SkinLayout.h"

#include <QImage>
#include <QPainterPath>

namespace kv::skingen {

// Outline of the window: everything outside it gets the colour key.
QPainterPath windowShape();

// The 590x260 background, key colour outside the shape.
QImage drawBackground();

// One glyph of a button, drawn over the part of `background` it covers.
QImage drawGlyph(const ButtonSpec& button, GlyphState state, const QImage& background);

// Progress strip: the black base picture and the two 1-pixel tiles.
QImage drawStripBase();
QImage drawStripDoneTile();
QImage drawStripRemainingTile();

// The info pictures (Polish and English text) and the window icon.
QImage drawInfoPicture(bool polish);
QImage drawIcon(int size);

// The program's mark (rounded square with a play sign), shared by the icon and the title.
void drawMark(QPainter& p, const QRectF& box);

// A review sheet: the background with the up glyphs in place, then every glyph and picture.
QImage drawContactSheet(const QImage& background, const QString& skinDir);

} // namespace kv::skingen
