#include "Painting.h"

#include <QBuffer>
#include <QFile>
#include <QGlyphRun>
#include <QImageWriter>
#include <QLinearGradient>
#include <QSaveFile>
#include <QStringList>

#include <cmath>
#include <stdexcept>

namespace kv::skingen {

namespace {
const char* const kFontDir = "/usr/share/fonts/truetype/liberation/";

QByteArray readFontFile(FontStyle style)
{
    const QString file =
        QString::fromLatin1(kFontDir) +
        (style == FontStyle::Bold ? "LiberationSans-Bold.ttf" : "LiberationSans-Regular.ttf");
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read font " + file.toStdString() + " (package fonts-liberation)");
    return f.readAll();
}

QGlyphRun glyphRun(const QRawFont& font, const QString& text, QPointF origin)
{
    const QList<quint32> glyphs = font.glyphIndexesForString(text);
    const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    QPointF pen = origin;
    for (const QPointF& a : advances) {
        positions.push_back(pen);
        pen += a;
    }
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    return run;
}
} // namespace

QRawFont liberation(FontStyle style, qreal pixelSize)
{
    // Read each file once; a QRawFont per size is cheap.
    static const QByteArray regular = readFontFile(FontStyle::Regular);
    static const QByteArray bold = readFontFile(FontStyle::Bold);
    QRawFont font(style == FontStyle::Bold ? bold : regular, pixelSize, QFont::PreferNoHinting);
    if (!font.isValid())
        throw std::runtime_error("font data could not be loaded");
    return font;
}

QRawFont liberationByCapHeight(FontStyle style, int capHeight)
{
    const qreal ratio = liberation(style, 100).capHeight() / 100.0;
    return liberation(style, capHeight / ratio);
}

qreal textWidth(const QRawFont& font, const QString& text)
{
    qreal w = 0;
    for (const QPointF& a :
         font.advancesForGlyphIndexes(font.glyphIndexesForString(text), QRawFont::KernedAdvances))
        w += a.x();
    return w;
}

QPainterPath textPath(const QRawFont& font, const QString& text, QPointF origin)
{
    QPainterPath path;
    const QGlyphRun run = glyphRun(font, text, origin);
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    for (qsizetype i = 0; i < glyphs.size(); ++i)
        path.addPath(font.pathForGlyph(glyphs[i]).translated(positions[i]));
    path.setFillRule(Qt::WindingFill);
    return path;
}

void drawText(QPainter& p, const QRawFont& font, const QString& text, QPointF origin, const QColor& color)
{
    // Filled outlines rather than the glyph cache: the same pixels whatever the rasteriser's
    // hinting settings are.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(textPath(font, text, origin));
    p.restore();
}

void drawTextCentred(QPainter& p, const QRawFont& font, const QString& text, const QRectF& box,
                     const QColor& color)
{
    const qreal w = textWidth(font, text);
    const qreal capHeight = font.capHeight();
    const QPointF origin(std::round(box.center().x() - w / 2), std::round(box.center().y() + capHeight / 2));
    drawText(p, font, text, origin, color);
}

qreal drawWrapped(QPainter& p, const QRawFont& font, const QString& text, QPointF topLeft, qreal width,
                  qreal lineHeight, const QColor& color)
{
    const QStringList words = text.split(' ', Qt::SkipEmptyParts);
    qreal y = topLeft.y();
    QString line;
    auto flush = [&] {
        drawText(p, font, line, QPointF(topLeft.x(), y + font.ascent()), color);
        y += lineHeight;
        line.clear();
    };
    for (const QString& word : words) {
        const QString candidate = line.isEmpty() ? word : line + ' ' + word;
        if (!line.isEmpty() && textWidth(font, candidate) > width)
            flush();
        line = line.isEmpty() ? word : line + ' ' + word;
    }
    if (!line.isEmpty())
        flush();
    return y;
}

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    auto ch = [t](int x, int y) { return qRound(x + (y - x) * t); };
    return QColor(ch(a.red(), b.red()), ch(a.green(), b.green()), ch(a.blue(), b.blue()),
                  ch(a.alpha(), b.alpha()));
}

QBrush vertical(const QRectF& r, const QColor& top, const QColor& bottom)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return QBrush(g);
}

QImage blank(QSize size, const QColor& fill)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(fill);
    return img;
}

void writePng(const QImage& image, const QString& path)
{
    QImage out = image;
    // Fixed resolution (72 dpi) and no text chunks: re-running gives the same bytes.
    out.setDotsPerMeterX(2835);
    out.setDotsPerMeterY(2835);
    for (const QString& k : out.textKeys())
        out.setText(k, QString());
    if (out.format() != QImage::Format_ARGB32 && out.hasAlphaChannel())
        out = out.convertToFormat(QImage::Format_ARGB32);
    else if (!out.hasAlphaChannel() && out.format() != QImage::Format_RGB32)
        out = out.convertToFormat(QImage::Format_RGB32);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    QImageWriter writer(&file, "png");
    writer.setQuality(0); // smallest file: zlib level 9
    if (!writer.write(out))
        throw std::runtime_error("cannot encode " + path.toStdString() + ": " +
                                 writer.errorString().toStdString());
    if (!file.commit())
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
}

} // namespace kv::skingen
