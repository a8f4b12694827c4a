#include "Painting.h"
#include "Skin.h"

#include <cmath>

namespace kv::skingen {

namespace {

// Colours of a button face in one state.
struct Face {
    QColor top, bottom, border, sheen, ink, inkShadow;
};

enum class Tint { Neutral, Danger, Primary, Amber, Green };

QColor tintColour(Tint t)
{
    switch (t) {
    case Tint::Danger:
        return palette::danger;
    case Tint::Amber:
        return palette::amber;
    case Tint::Green:
        return palette::green;
    case Tint::Primary:
    case Tint::Neutral:
        break;
    }
    return palette::accent;
}

Face faceFor(GlyphState s, Tint tint)
{
    const QColor c = tintColour(tint);
    const QColor light = mix(c, QColor(255, 255, 255), 0.45);
    const QColor shadow(0, 0, 0, 130);
    if (tint == Tint::Neutral || tint == Tint::Danger) {
        switch (s) {
        case GlyphState::Up:
            return {QColor(74, 80, 92),        QColor(44, 48, 56), QColor(10, 11, 13),
                    QColor(255, 255, 255, 46), palette::text,      shadow};
        case GlyphState::Over:
            return {QColor(88, 95, 109),
                    QColor(53, 58, 68),
                    mix(c, QColor(10, 11, 13), 0.25),
                    QColor(255, 255, 255, 60),
                    light,
                    shadow};
        case GlyphState::Down:
            return {mix(c, QColor(0, 0, 0), 0.1), mix(c, QColor(0, 0, 0), 0.45), mix(c, QColor(0, 0, 0), 0.7),
                    QColor(255, 255, 255, 60),    QColor(255, 255, 255),         QColor(0, 0, 0, 90)};
        case GlyphState::Disabled:
            return {QColor(48, 51, 58),        QColor(37, 40, 45),  QColor(17, 18, 21),
                    QColor(255, 255, 255, 14), QColor(88, 93, 102), QColor(0, 0, 0, 0)};
        }
    }
    // Coloured call-to-action faces (the wide conversion buttons).
    switch (s) {
    case GlyphState::Up:
        return {
            mix(c, QColor(255, 255, 255), 0.08), mix(c, QColor(0, 0, 0), 0.4), mix(c, QColor(0, 0, 0), 0.75),
            QColor(255, 255, 255, 70),           QColor(255, 255, 255),        QColor(0, 0, 0, 110)};
    case GlyphState::Over:
        return {mix(c, QColor(255, 255, 255), 0.3),
                mix(c, QColor(0, 0, 0), 0.2),
                mix(c, QColor(255, 255, 255), 0.5),
                QColor(255, 255, 255, 90),
                QColor(255, 255, 255),
                QColor(0, 0, 0, 110)};
    case GlyphState::Down:
        return {mix(c, QColor(0, 0, 0), 0.55),       mix(c, QColor(0, 0, 0), 0.25),
                mix(c, QColor(0, 0, 0), 0.8),        QColor(255, 255, 255, 20),
                mix(c, QColor(255, 255, 255), 0.75), QColor(0, 0, 0, 110)};
    case GlyphState::Disabled:
        return {QColor(58, 62, 70),        QColor(42, 45, 51),    QColor(17, 18, 21),
                QColor(255, 255, 255, 16), QColor(102, 108, 118), QColor(0, 0, 0, 0)};
    }
    return {};
}

// Face of a rounded rectangle button: border, gradient, one-pixel sheen along the top.
void drawRectFace(QPainter& p, const QRectF& r, qreal radius, const Face& f)
{
    p.setPen(Qt::NoPen);
    p.setBrush(f.border);
    p.drawRoundedRect(r, radius, radius);
    const QRectF inner = r.adjusted(1, 1, -1, -1);
    p.setBrush(vertical(inner, f.top, f.bottom));
    p.drawRoundedRect(inner, radius - 1, radius - 1);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(f.sheen, 1.0));
    p.drawLine(QPointF(inner.left() + radius - 0.5, inner.top() + 0.5),
               QPointF(inner.right() - radius + 0.5, inner.top() + 0.5));
}

void drawRoundFace(QPainter& p, QPointF c, qreal radius, const Face& f)
{
    p.setPen(Qt::NoPen);
    p.setBrush(f.border);
    p.drawEllipse(c, radius, radius);
    const QRectF inner(c.x() - radius + 1, c.y() - radius + 1, 2 * radius - 2, 2 * radius - 2);
    p.setBrush(vertical(inner, f.top, f.bottom));
    p.drawEllipse(inner);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(f.sheen, 1.0));
    p.drawArc(inner.adjusted(1, 1, -1, -1), 35 * 16, 110 * 16);
}

// Draws an icon path in the ink colour with a soft one-pixel drop shadow.
void drawInk(QPainter& p, const QPainterPath& path, const Face& f)
{
    p.setPen(Qt::NoPen);
    if (f.inkShadow.alpha() > 0) {
        p.setBrush(f.inkShadow);
        p.drawPath(path.translated(0, 1));
    }
    p.setBrush(f.ink);
    p.drawPath(path);
}

QPainterPath roundedRect(const QRectF& r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

QPainterPath rect(const QRectF& r)
{
    QPainterPath path;
    path.addRect(r);
    return path;
}

QPainterPath plus(QPointF c, qreal size, qreal thickness)
{
    return rect(QRectF(c.x() - size / 2, c.y() - thickness / 2, size, thickness))
        .united(rect(QRectF(c.x() - thickness / 2, c.y() - size / 2, thickness, size)));
}

QPainterPath folderWithPlus(QPointF c)
{
    // A folder 19x14 with a plus cut out of its front.
    const QRectF body(c.x() - 9.5, c.y() - 5, 19, 12);
    QPainterPath folder = roundedRect(body, 1.5);
    folder = folder.united(roundedRect(QRectF(body.left(), body.top() - 2.5, 8, 4), 1.2));
    return folder.subtracted(plus(QPointF(c.x(), c.y() + 1), 8, 2.2));
}

QPainterPath subtitleBubble(QPointF c)
{
    // A speech bubble with a "T" cut out of it.
    const QRectF body(c.x() - 10, c.y() - 7, 20, 13);
    QPainterPath bubble = roundedRect(body, 3);
    QPainterPath tail;
    tail.moveTo(body.left() + 4, body.bottom() - 1);
    tail.lineTo(body.left() + 4, body.bottom() + 4);
    tail.lineTo(body.left() + 9, body.bottom() - 1);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    const QPainterPath t = rect(QRectF(c.x() - 4.5, body.top() + 2.5, 9, 2.2))
                               .united(rect(QRectF(c.x() - 1.1, body.top() + 2.5, 2.2, 8)));
    return bubble.subtracted(t);
}

QPainterPath speaker(QPointF c, bool louder)
{
    // Speaker body and cone on the left, a minus or plus on the right.
    QPainterPath cone;
    const qreal x = c.x() - 6.5;
    cone.moveTo(x, c.y() - 1.8);
    cone.lineTo(x + 2.5, c.y() - 1.8);
    cone.lineTo(x + 6, c.y() - 4.8);
    cone.lineTo(x + 6, c.y() + 4.8);
    cone.lineTo(x + 2.5, c.y() + 1.8);
    cone.lineTo(x, c.y() + 1.8);
    cone.closeSubpath();
    const QPointF sign(c.x() + 4.5, c.y());
    if (louder)
        return cone.united(plus(sign, 6, 1.8));
    return cone.united(rect(QRectF(sign.x() - 3, sign.y() - 0.9, 6, 1.8)));
}

QPainterPath playTriangle(QPointF c, qreal h)
{
    QPainterPath tri;
    const qreal w = h * 0.9;
    tri.moveTo(c.x() - w * 0.38, c.y() - h / 2);
    tri.lineTo(c.x() + w * 0.62, c.y());
    tri.lineTo(c.x() - w * 0.38, c.y() + h / 2);
    tri.closeSubpath();
    return tri;
}

QPainterPath pauseBars(QPointF c, qreal h)
{
    const qreal w = h * 0.3, gap = h * 0.28;
    return roundedRect(QRectF(c.x() - gap / 2 - w, c.y() - h / 2, w, h), 0.8)
        .united(roundedRect(QRectF(c.x() + gap / 2, c.y() - h / 2, w, h), 0.8));
}

QPainterPath cross(QPointF c, qreal size, qreal thickness)
{
    QPainterPath bar = roundedRect(QRectF(-size / 2, -thickness / 2, size, thickness), thickness / 2);
    QTransform a, b;
    a.translate(c.x(), c.y());
    a.rotate(45);
    b.translate(c.x(), c.y());
    b.rotate(-45);
    return a.map(bar).united(b.map(bar));
}

QPainterPath checkMark(QPointF c)
{
    QPainterPath stroke;
    stroke.moveTo(c + QPointF(-3.2, 0.2));
    stroke.lineTo(c + QPointF(-0.9, 2.5));
    stroke.lineTo(c + QPointF(3.4, -2.6));
    QPainterPathStroker s;
    s.setWidth(1.9);
    s.setCapStyle(Qt::RoundCap);
    s.setJoinStyle(Qt::RoundJoin);
    return s.createStroke(stroke);
}

// The label of a wide conversion button: an icon then the word, centred together.
void drawWideLabel(QPainter& p, const QRectF& face, const QPainterPath& iconAtOrigin, qreal iconWidth,
                   const QString& word, const Face& f)
{
    const int capHeight = 9;
    const QRawFont font = liberationByCapHeight(FontStyle::Bold, capHeight);
    const qreal gap = 8;
    const qreal total = iconWidth + gap + textWidth(font, word) + word.size() * 0.8;
    const qreal left = std::round(face.center().x() - total / 2);
    const qreal baseline = std::round(face.center().y() + capHeight / 2.0);
    QPainterPath label = iconAtOrigin.translated(left, face.center().y());
    // Letter-spaced word.
    qreal x = left + iconWidth + gap;
    for (const QChar ch : word) {
        label.addPath(textPath(font, QString(ch), QPointF(x, baseline)));
        x += textWidth(font, QString(ch)) + 0.8;
    }
    label.setFillRule(Qt::WindingFill);
    drawInk(p, label, f);
}

void drawSmallText(QPainter& p, const QRectF& face, const QString& text, int capHeight, const Face& f)
{
    const QRawFont font = liberationByCapHeight(FontStyle::Bold, capHeight);
    const qreal w = textWidth(font, text);
    const QPointF origin(std::round(face.center().x() - w / 2),
                         std::round(face.center().y() + capHeight / 2.0));
    drawInk(p, textPath(font, text, origin), f);
}

// Pixels the button painted over must never equal the glyph's bottom-left colour: a button may
// draw its glyphs with that colour transparent, and the face must not get holes then.
void protectFromGlyphKey(QImage& glyph, const QImage& under)
{
    const QRgb keyColour = glyph.pixel(0, glyph.height() - 1) | 0xff000000u;
    for (int y = 0; y < glyph.height(); ++y) {
        for (int x = 0; x < glyph.width(); ++x) {
            const QRgb v = glyph.pixel(x, y) | 0xff000000u;
            if (v == keyColour && v != (under.pixel(x, y) | 0xff000000u)) {
                const int g = qGreen(v);
                glyph.setPixel(x, y, qRgb(qRed(v), g < 255 ? g + 1 : g - 1, qBlue(v)));
            }
        }
    }
}

} // namespace

QImage drawGlyph(const ButtonSpec& b, GlyphState state, const QImage& background)
{
    // The glyph starts as the background it covers, so its surroundings match the window whether
    // the button draws it opaque or with its bottom-left colour transparent.
    const QImage under =
        background.copy(QRect(b.control.topLeft(), b.glyph)).convertToFormat(QImage::Format_RGB32);
    QImage glyph = under.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Only the part inside the button is visible (a larger glyph is clipped by the button).
    const QRectF visible(0, 0, qMin(b.glyph.width(), b.control.width()),
                         qMin(b.glyph.height(), b.control.height()));
    {
        QPainter p(&glyph);
        p.setRenderHint(QPainter::Antialiasing, true);
        switch (b.kind) {
        case ButtonKind::Add:
        case ButtonKind::AddSub: {
            const Face f = faceFor(state, Tint::Neutral);
            const QRectF face = visible.adjusted(0.5, 0.5, -0.5, -0.5);
            drawRectFace(p, face, 5, f);
            // The subtitle mark sits on the top-right corner of the subtitle button: keep the
            // icon left of it.
            const QPointF c = b.kind == ButtonKind::Add ? face.center() + QPointF(0, 0.5)
                                                        : face.center() + QPointF(-3, 0.5);
            drawInk(p, b.kind == ButtonKind::Add ? folderWithPlus(c) : subtitleBubble(c), f);
            break;
        }
        case ButtonKind::SubOn: {
            // A small chip; lit with a tick while subtitles are burnt in.
            const bool on = state == GlyphState::Down;
            const QRectF face = visible.adjusted(0.5, 0.5, -0.5, -0.5);
            Face chip = faceFor(GlyphState::Up, Tint::Neutral);
            if (on) {
                chip.top = palette::green;
                chip.bottom = mix(palette::green, QColor(0, 0, 0), 0.35);
                chip.border = QColor(8, 30, 16);
                chip.ink = QColor(255, 255, 255);
            } else {
                chip.top = QColor(62, 66, 75);
                chip.bottom = QColor(44, 47, 54);
                chip.border = QColor(8, 9, 11);
                chip.ink = QColor(150, 156, 166);
            }
            drawRectFace(p, face, 3, chip);
            drawInk(p, checkMark(face.center() + QPointF(0, 0.3)), chip);
            break;
        }
        case ButtonKind::Hi:
        case ButtonKind::Lo: {
            const Face f = faceFor(state, Tint::Neutral);
            const QRectF face = visible.adjusted(0.5, 0.5, -0.5, -0.5);
            drawRectFace(p, face, 3.5, f);
            drawSmallText(p, face, b.kind == ButtonKind::Hi ? QStringLiteral("HI") : QStringLiteral("LO"), 6,
                          f);
            break;
        }
        case ButtonKind::VolDown:
        case ButtonKind::VolUp: {
            const Face f = faceFor(state, Tint::Neutral);
            const QRectF face = visible.adjusted(0.5, 0.5, -0.5, -0.5);
            drawRectFace(p, face, 3.5, f);
            drawInk(p, speaker(face.center(), b.kind == ButtonKind::VolUp), f);
            break;
        }
        case ButtonKind::Play:
        case ButtonKind::Stop:
        case ButtonKind::Pause:
        case ButtonKind::Close: {
            const Face f = faceFor(state, b.kind == ButtonKind::Close ? Tint::Danger : Tint::Neutral);
            // Centred on the button (whose rectangle may differ from the glyph's by a pixel).
            const QPointF c = QRectF(QPointF(0, 0), QSizeF(b.control.size())).center();
            drawRoundFace(p, c, 15.5, f);
            QPainterPath icon;
            switch (b.kind) {
            case ButtonKind::Play:
                icon = playTriangle(c, 13);
                break;
            case ButtonKind::Stop:
                icon = roundedRect(QRectF(c.x() - 5.5, c.y() - 5.5, 11, 11), 1.2);
                break;
            case ButtonKind::Pause:
                icon = pauseBars(c, 12);
                break;
            default:
                icon = cross(c, 14, 2.6);
                break;
            }
            drawInk(p, icon, f);
            break;
        }
        case ButtonKind::StartConvert:
        case ButtonKind::PauseConvert:
        case ButtonKind::ResumeConvert: {
            const Tint tint = b.kind == ButtonKind::StartConvert   ? Tint::Primary
                              : b.kind == ButtonKind::PauseConvert ? Tint::Amber
                                                                   : Tint::Green;
            const Face f = faceFor(state, tint);
            const QRectF face = visible.adjusted(0.5, 0.5, -0.5, -0.5);
            drawRectFace(p, face, 6, f);
            if (b.kind == ButtonKind::PauseConvert)
                drawWideLabel(p, face, pauseBars(QPointF(5, 0), 11), 10, QStringLiteral("PAUSE"), f);
            else
                drawWideLabel(p, face, playTriangle(QPointF(4, 0), 12), 10,
                              b.kind == ButtonKind::StartConvert ? QStringLiteral("START")
                                                                 : QStringLiteral("RESUME"),
                              f);
            break;
        }
        case ButtonKind::Info:
        case ButtonKind::Minimize: {
            const Face f = faceFor(state, Tint::Neutral);
            const QRectF face = visible.adjusted(0.5, 0.5, -0.5, -0.5);
            drawRectFace(p, face, 4, f);
            if (b.kind == ButtonKind::Info)
                drawSmallText(p, face, QStringLiteral("INFO"), 6, f);
            else
                drawInk(p, roundedRect(QRectF(face.center().x() - 5, face.center().y() + 1.5, 10, 2.2), 0.8),
                        f);
            break;
        }
        }
    }
    QImage out = glyph.convertToFormat(QImage::Format_RGB32);
    protectFromGlyphKey(out, under);
    return out;
}

} // namespace kv::skingen
