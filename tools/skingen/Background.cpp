#include "Painting.h"
#include "Skin.h"

#include <QRadialGradient>

#include <cmath>

namespace kv::skingen {

namespace {

constexpr QPointF kDialCentre{524, 116}; // the round pad holding play, stop, pause and close
constexpr qreal kDialRadius = 63;

// A recessed area: dark fill, shadowed top edge, faint light lower edge.
void drawWell(QPainter& p, const QRectF& r, qreal radius, const QColor& fill = palette::well)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 22));
    p.drawRoundedRect(r.adjusted(-1, -1, 1, 1).translated(0, 0.5), radius + 1, radius + 1);
    p.setBrush(palette::wellEdge);
    p.drawRoundedRect(r.adjusted(-1, -1, 1, 0), radius + 1, radius + 1);
    p.setBrush(vertical(r, mix(fill, palette::wellEdge, 0.5), fill));
    p.drawRoundedRect(r, radius, radius);
    p.restore();
}

void drawRoundSocket(QPainter& p, QPointF centre, qreal radius)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 26));
    p.drawEllipse(centre + QPointF(0, 0.8), radius + 1, radius + 1);
    p.setBrush(palette::wellEdge);
    p.drawEllipse(centre, radius + 1, radius + 1);
    const QRectF r(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.setBrush(vertical(r, palette::wellEdge, palette::well));
    p.drawEllipse(centre, radius, radius);
    p.restore();
}

void drawLabel(QPainter& p, const QString& text, const QRectF& box, qreal px = 7.5)
{
    drawTextCentred(p, liberation(FontStyle::Bold, px), text, box, palette::textDim);
}

const ButtonSpec& button(ButtonKind kind)
{
    for (const ButtonSpec& b : kButtons)
        if (b.kind == kind)
            return b;
    return kButtons.front();
}

QRectF around(const QRect& r, qreal margin)
{
    return QRectF(r).adjusted(-margin, -margin, margin, margin);
}

void drawBody(QPainter& p, const QPainterPath& shape)
{
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(QRectF(0, 18, 590, 234), palette::bodyTop, palette::bodyBottom));
    p.drawPath(shape);

    // Soft sheen from the top left.
    QRadialGradient sheen(QPointF(120, -40), 360);
    sheen.setColorAt(0, QColor(255, 255, 255, 26));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(sheen);
    p.drawPath(shape);

    // Bevel: a light inner line just inside the outline, a dark one on the outline.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 34), 1.0));
    p.drawPath(shape.translated(0, 1.2));
    p.setPen(QPen(palette::rim, 2.0));
    p.drawPath(shape);
}

void drawDial(QPainter& p)
{
    p.setPen(Qt::NoPen);
    const QRectF disc(kDialCentre.x() - kDialRadius + 4, kDialCentre.y() - kDialRadius + 4,
                      2 * (kDialRadius - 4), 2 * (kDialRadius - 4));
    p.setBrush(vertical(disc, QColor(22, 24, 29), QColor(40, 44, 52)));
    p.drawEllipse(disc);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 20), 1.0));
    p.drawEllipse(disc.adjusted(0.5, 1.5, -0.5, -0.5));
    p.setPen(QPen(palette::wellEdge, 1.0));
    p.drawEllipse(disc);
    // A faint ring through the four button centres.
    p.setPen(QPen(QColor(42, 168, 224, 40), 1.0));
    p.drawEllipse(kDialCentre + QPointF(0.5, 0.5), 34.5, 34.5);

    for (ButtonKind k : {ButtonKind::Play, ButtonKind::Stop, ButtonKind::Pause, ButtonKind::Close}) {
        const QRectF r = button(k).control;
        drawRoundSocket(p, r.center(), 17.5);
    }
}

void drawScreen(QPainter& p)
{
    const QRectF screen = kPreviewRect;
    drawWell(p, screen.adjusted(-8, -8, 8, 8), 9, QColor(16, 18, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0));
    p.drawRect(screen);

    // Empty screen: a dim play mark in the middle until a source is shown in the panel.
    const QPointF c = screen.center();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(34, 38, 45), 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c + QPointF(0, -6), 18, 18);
    QPainterPath tri;
    tri.moveTo(c + QPointF(-6, -15));
    tri.lineTo(c + QPointF(10, -6));
    tri.lineTo(c + QPointF(-6, 3));
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(34, 38, 45));
    p.drawPath(tri);
    drawTextCentred(p, liberation(FontStyle::Bold, 8), QStringLiteral("DROP A VIDEO HERE"),
                    QRectF(screen.left(), c.y() + 17, screen.width(), 10), QColor(52, 57, 66));
}

void drawProgressArea(QPainter& p)
{
    // One well for the label and the strip, one socket for the wide start button.
    drawWell(p, QRectF(279, 137, 180, 37), 6);
    const QRectF strip = kStripRect;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 44, 52));
    p.drawRect(strip.adjusted(-1, -1, 1, 1));
    p.setBrush(QColor(0, 0, 0));
    p.drawRect(strip);
    drawWell(p, around(button(ButtonKind::StartConvert).control, 3), 7);
}

void drawLeftCluster(QPainter& p)
{
    drawWell(p, QRectF(134, 134, 108, 81), 8, QColor(20, 22, 26));
    const QRect add = button(ButtonKind::Add).control;
    const QRect sub = button(ButtonKind::AddSub).control;
    drawLabel(p, QStringLiteral("ADD"), QRectF(add.left(), 140, add.width(), 10));
    drawLabel(p, QStringLiteral("SUBTITLES"), QRectF(sub.left() - 4, 140, sub.width() + 8, 10));
    const QRect hi = button(ButtonKind::Hi).control;
    drawLabel(p, QStringLiteral("QUALITY"),
              QRectF(add.left() - 2, hi.top(), hi.left() - add.left(), hi.height()));

    // Volume: a small well for the two buttons with "VOL" between them.
    const QRect v1 = button(ButtonKind::VolDown).control;
    const QRect v2 = button(ButtonKind::VolUp).control;
    drawWell(p, QRectF(v1.left() - 5, v1.top() - 4, v2.right() + 6 - v1.left(), v1.height() + 8), 6,
             QColor(20, 22, 26));
    drawLabel(p, QStringLiteral("VOL"),
              QRectF(v1.right() + 1, v1.top(), v2.left() - v1.right() - 1, v1.height()), 7);
}

void drawBottomRight(QPainter& p)
{
    const QRect info = button(ButtonKind::Info).control;
    const QRect min = button(ButtonKind::Minimize).control;
    drawWell(p, QRectF(info.left() - 4, info.top() - 4, min.right() + 5 - info.left(), info.height() + 8), 6,
             QColor(20, 22, 26));
}

void drawTitle(QPainter& p)
{
    drawMark(p, QRectF(22, 30, 36, 36));
    const QRawFont title = liberation(FontStyle::Bold, 22);
    const QString first = QStringLiteral("Kestrovid ");
    const QPointF origin(68, 53);
    drawText(p, title, first, origin + QPointF(0, 1), QColor(0, 0, 0, 120));
    drawText(p, title, first, origin, QColor(236, 240, 245));
    const qreal w = textWidth(title, first);
    drawText(p, title, QStringLiteral("to PSP"), origin + QPointF(w, 1), QColor(0, 0, 0, 120));
    drawText(p, title, QStringLiteral("to PSP"), origin + QPointF(w, 0), palette::accent);
    drawText(p, liberation(FontStyle::Bold, 9), QStringLiteral("VIDEO CONVERTER  \u00b7  VERSION 1.3"),
             QPointF(69, 67), palette::textDim);
}

// A speaker grille of small holes on the left wing.
void drawGrille(QPainter& p)
{
    p.setPen(Qt::NoPen);
    const QPointF c(72, 170);
    for (int row = -7; row <= 7; ++row) {
        for (int col = -7; col <= 7; ++col) {
            const QPointF at = c + QPointF(col * 7 + (row % 2 ? 3.5 : 0), row * 6.5);
            const qreal dx = (at.x() - c.x()) / 48.0, dy = (at.y() - c.y()) / 46.0;
            if (dx * dx + dy * dy > 1.0)
                continue;
            p.setBrush(QColor(255, 255, 255, 18));
            p.drawEllipse(at + QPointF(0, 0.8), 2.0, 2.0);
            p.setBrush(QColor(6, 7, 9));
            p.drawEllipse(at, 1.9, 1.9);
        }
    }
}

// Everything inside the shape is opaque; edge pixels are blended towards the rim colour so no
// pixel near the key colour appears, and any stray exact key colour inside is nudged off it.
QImage applyColourKey(const QImage& layer)
{
    QImage out(layer.size(), QImage::Format_RGB32);
    const QRgb key = palette::key.rgb();
    const QRgb rim = palette::rim.rgb();
    for (int y = 0; y < layer.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < layer.width(); ++x) {
            const QRgb px = in[x]; // premultiplied
            const int a = qAlpha(px);
            if (a < 128) {
                o[x] = key;
                continue;
            }
            auto over = [a](int c, int back) { return qMin(255, c + (back * (255 - a) + 127) / 255); };
            QRgb v =
                qRgb(over(qRed(px), qRed(rim)), over(qGreen(px), qGreen(rim)), over(qBlue(px), qBlue(rim)));
            if ((v & 0xffffff) == (key & 0xffffff))
                v = qRgb(255, 1, 255);
            o[x] = v;
        }
    }
    return out;
}

} // namespace

QPainterPath windowShape()
{
    constexpr qreal bodyRight = 550;
    QPainterPath body;
    body.addRoundedRect(QRectF(6, 18, bodyRight - 6, 234), 30, 30);
    QPainterPath shape = body;
    QPainterPath dial;
    dial.addEllipse(kDialCentre, kDialRadius, kDialRadius);
    shape = shape.united(dial);

    // Round off the two inner corners where the dial meets the body's right edge: a fillet
    // circle touching both the edge and the dial, and the web between them.
    constexpr qreal fillet = 10;
    const qreal dx = bodyRight + fillet - kDialCentre.x();
    const qreal dy = std::sqrt((kDialRadius + fillet) * (kDialRadius + fillet) - dx * dx);
    for (int side : {-1, 1}) {
        const QPointF centre(bodyRight + fillet, kDialCentre.y() + side * dy);
        const QPointF onEdge(bodyRight, centre.y());
        const QPointF onDial = kDialCentre + (centre - kDialCentre) * (kDialRadius / (kDialRadius + fillet));
        QPainterPath web;
        web.moveTo(onEdge);
        web.lineTo(centre);
        web.lineTo(onDial);
        web.lineTo(QPointF(bodyRight, onDial.y() - side * 1.5));
        web.closeSubpath();
        QPainterPath round;
        round.addEllipse(centre, fillet, fillet);
        shape = shape.united(web.subtracted(round));
    }
    return shape.simplified();
}

void drawMark(QPainter& p, const QRectF& box)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal s = box.width();
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(box, palette::accentLight, palette::accentDark));
    p.drawRoundedRect(box, s * 0.24, s * 0.24);
    p.setBrush(vertical(box, palette::accent, mix(palette::accentDark, QColor(0, 0, 0), 0.2)));
    p.drawRoundedRect(box.adjusted(s * 0.03, s * 0.04, -s * 0.03, -s * 0.03), s * 0.21, s * 0.21);
    // Film perforations along the top and bottom edges.
    p.setBrush(QColor(255, 255, 255, 70));
    for (int i = 0; i < 4; ++i) {
        const qreal x = box.left() + s * (0.2 + i * 0.17);
        p.drawRoundedRect(QRectF(x, box.top() + s * 0.1, s * 0.09, s * 0.07), s * 0.02, s * 0.02);
        p.drawRoundedRect(QRectF(x, box.bottom() - s * 0.17, s * 0.09, s * 0.07), s * 0.02, s * 0.02);
    }
    QPainterPath tri;
    tri.moveTo(box.left() + s * 0.38, box.top() + s * 0.3);
    tri.lineTo(box.left() + s * 0.72, box.top() + s * 0.5);
    tri.lineTo(box.left() + s * 0.38, box.top() + s * 0.7);
    tri.closeSubpath();
    p.setBrush(QColor(255, 255, 255));
    p.drawPath(tri);
    p.restore();
}

QImage drawBackground()
{
    QImage layer(kBackgroundSize, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    const QPainterPath shape = windowShape();
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing, true);
        drawBody(p, shape);
        p.setClipPath(shape.translated(0, 0)); // details never spill over the outline
        drawDial(p);
        drawScreen(p);
        drawProgressArea(p);
        drawLeftCluster(p);
        drawBottomRight(p);
        drawGrille(p);
        drawTitle(p);
    }
    return applyColourKey(layer);
}

} // namespace kv::skingen
