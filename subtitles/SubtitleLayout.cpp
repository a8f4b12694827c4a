#include "subtitles/SubtitleLayout.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kv::subtitles {

namespace {

constexpr qsizetype kMaxRest = 255; // a copied rest of text keeps at most this many characters
constexpr int kScreenDpi = 96;

// a * b / c rounded half away from zero, as font size and height convert into each other.
int mulDivRound(std::int64_t a, std::int64_t b, std::int64_t c)
{
    const std::int64_t product = a * b;
    const std::int64_t half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

int sizeFromHeight(int height)
{
    return mulDivRound(-static_cast<std::int64_t>(height), 72, kScreenDpi);
}
int heightFromSize(int size)
{
    return -mulDivRound(size, kScreenDpi, 72);
}

// Measures text widths at 96 dpi, as the frame is drawn.
class Measurer {
  public:
    Measurer() : device_(1, 1, QImage::Format_RGB888)
    {
        device_.setDotsPerMeterX(kDotsPerMeter96Dpi);
        device_.setDotsPerMeterY(kDotsPerMeter96Dpi);
    }
    int width(const QFont& font, const QString& text)
    {
        return QFontMetrics(font, &device_).horizontalAdvance(text);
    }

  private:
    QImage device_;
};

// Splits a subtitle into up to three screen lines at "|" and, overriding that, at "\N".
int splitScreenLines(const QString& text, std::array<QString, 3>& lines)
{
    int count = 1;
    QString& l1 = lines[0];
    QString& l2 = lines[1];
    QString& l3 = lines[2];
    l1 = text;
    l2.clear();
    l3.clear();
    QString rest = text;
    if (const qsizetype at = rest.indexOf(u'|'); at >= 0) {
        count = 2;
        l1 = rest.left(at);
        l2 = rest.mid(at + 1, kMaxRest);
    }
    if (const qsizetype at = l2.indexOf(u'|'); at >= 0) {
        count = 3;
        rest = l2;
        l2 = rest.left(at);
        l3 = rest.mid(at + 1, kMaxRest);
    }
    if (const qsizetype at = rest.indexOf(u"\\N"); at >= 0) {
        count = 2;
        l1 = rest.left(at);
        l2 = rest.mid(at + 2, kMaxRest);
    }
    if (const qsizetype at = l2.indexOf(u"\\N"); at >= 0) {
        count = 3;
        rest = l2;
        l2 = rest.left(at);
        l3 = rest.mid(at + 2, kMaxRest);
    }
    return count;
}

// The smallest size shrinking goes down to: 3 % of the frame height (the smallest automatic
// height the settings offer), and never below 6 points. Text smaller than that cannot be
// read after the frame is scaled down to the handheld's screen, and an unbounded loop
// would run the size down to nothing.
int minimumShrinkSize(int frameHeight)
{
    return std::max(6, mulDivRound(frameHeight * 3 / 100, 72, kScreenDpi));
}

} // namespace

QFont WorkingFont(const QString& name, int pixelHeight, FontStyles style)
{
    QFont font(name);
    font.setPixelSize(std::max(1, pixelHeight));
    font.setBold(style & fsBold);
    font.setItalic(style & fsItalic);
    font.setUnderline(style & fsUnderline);
    font.setStrikeOut(style & fsStrikeOut);
    font.setKerning(false); // widths add up character by character, as the layout assumes
    return font;
}

SubtitleLayout LayOutSubtitle(const QString& text, int frameWidth, int frameHeight,
                              const SubtitleRenderSettings& unchecked)
{
    const SubtitleRenderSettings settings = WithinRanges(unchecked);
    SubtitleLayout layout;
    layout.FrameWidth = frameWidth;
    layout.FrameHeight = frameHeight;
    Measurer measure;
    auto& lines = layout.Lines;
    int count = splitScreenLines(text, lines);

    // Working font: the subtitle font in bold.
    const SubtitleFontInfo& panel = settings.PanelWzor;
    layout.WorkingFontName = panel.Name;
    int height = -panel.PixelHeight;
    if (settings.CSubFontAutoHeight) {
        height = -static_cast<int>(frameHeight * (settings.FontVol / 100.0));
        if (settings.EFontSize / 2 > sizeFromHeight(height))
            height = -static_cast<int>(settings.EFontSize / 2);
    }
    auto widthOf = [&](const QString& line, FontStyles style = fsBold) {
        return measure.width(WorkingFont(panel.Name, -height, style), line);
    };

    layout.MaxWidth =
        static_cast<std::int64_t>(frameWidth) * static_cast<std::int64_t>(settings.FWidth + 1) / 100;
    const std::int64_t maxWidth = layout.MaxWidth;

    // Two passes of breaking the wider line at its split point.
    for (int pass = 0; pass < 2; ++pass) {
        const int w1 = widthOf(lines[0]);
        const int w2 = widthOf(lines[1]);
        if (!settings.CIQDziel || count >= 3 || (w1 <= maxWidth && w2 <= maxWidth))
            continue;
        if (w1 >= w2) {
            if (const int at = FindSplitPoint(lines[0]); at > 0) {
                lines[2] = lines[1];
                lines[1] = lines[0].mid(at - 1, kMaxRest);
                lines[0] = lines[0].left(at - 1);
                ++count;
            }
        } else if (const int at = FindSplitPoint(lines[1]); at > 0) {
            lines[2] = lines[1].mid(at - 1, kMaxRest);
            lines[1] = lines[1].left(at - 1);
            ++count;
        }
    }

    // Block width, shrinking the font while a line is too wide.
    int widest = 0;
    if (settings.CIQZmniejsz) {
        const int minimumSize = minimumShrinkSize(frameHeight);
        int size = sizeFromHeight(height);
        for (int i = 0; i < count; ++i) {
            const int w = widthOf(lines[i]);
            if (i > 0 && w <= widest)
                continue;
            widest = w;
            while (widest > maxWidth && size > minimumSize) {
                --size;
                height = heightFromSize(size);
                widest = widthOf(lines[i]);
            }
        }
    } else {
        for (int i = 0; i < count; ++i)
            widest = std::max(widest, widthOf(lines[i]));
    }
    layout.LineCount = count;
    layout.FontHeight = height;
    layout.FontSize = sizeFromHeight(height);
    layout.LineHeight = -height;
    layout.BlockWidth = widest + 25;
    layout.BlockHeight = count * layout.LineHeight + 15;

    // Centred; NapisBottom is the gap below the block in percent of the free height.
    layout.BlockLeft = frameWidth / 2 - layout.BlockWidth / 2;
    const double freeHeight = frameHeight - layout.BlockHeight;
    layout.BlockTop =
        static_cast<int>(std::nearbyint(freeHeight - freeHeight * settings.NapisBottom / 100.0));

    const int style = settings.GSubFontType;
    layout.Outline = (style == 0 || style == 3) ? static_cast<int>(settings.EObwodka) : 0;
    layout.OpaqueBoxes = style == 2;

    // The inline tags of each line; what a line sets carries over to the lines after it.
    InlineTagState tags;
    tags.FontName = panel.Name;
    tags.Colour = panel.Colour;
    tags.Style = fsBold;
    tags.BaseFontName = panel.Name;
    tags.BaseStyle = panel.Style;
    for (int i = 0; i < count; ++i) {
        ScreenLine line;
        line.Text = ApplyInlineTags(lines[i], i == 0, tags);
        line.Style = tags.Style;
        line.FontName = tags.FontName;
        line.Colour = tags.Colour;
        line.Width = widthOf(line.Text, line.Style);
        line.X = layout.BlockLeft + (layout.BlockWidth - line.Width) / 2 + 1;
        line.Y = i == 0 ? layout.BlockTop + 1 : layout.BlockTop + i * (layout.LineHeight + 3);
        layout.Screen.push_back(std::move(line));
    }
    return layout;
}

void DrawAATextDIVX(QPainter& painter, const QFont& font, int x, int y, int outline, QRgb colour,
                    const QString& fontName, const QString& text, bool opaqueBox)
{
    QFont face = font;
    if (!fontName.isEmpty())
        face.setFamily(fontName);
    painter.setFont(face);
    const QFontMetrics metrics(face, painter.device());
    const int ascent = metrics.ascent();
    const QSize cell(metrics.horizontalAdvance(text), metrics.height());
    auto write = [&](int left, int top, QColor c) {
        if (opaqueBox && !text.isEmpty())
            painter.fillRect(QRect(QPoint(left, top), cell), Qt::black);
        painter.setPen(c);
        painter.drawText(QPoint(left, top + ascent), text);
    };
    const int o = outline;
    write(x, y, Qt::black);
    write(x, y + o, Qt::black);
    write(x + o, y, Qt::black);
    write(x + o, y + o, Qt::black);
    write(x + o / 2, y + o / 2, QColor::fromRgb(colour));
}

SubtitleOverlay RenderSubtitleOverlay(const SubtitleLayout& layout)
{
    SubtitleOverlay overlay;
    const QRect frame(0, 0, layout.FrameWidth, layout.FrameHeight);
    // Room around each line's cell for the outline, overhanging glyphs and accents.
    const int margin = layout.LineHeight / 2 + 2;
    QRect area;
    for (const ScreenLine& line : layout.Screen) {
        if (line.Text.isEmpty())
            continue;
        area |= QRect(line.X - margin, line.Y - margin, line.Width + layout.Outline + 2 * margin,
                      layout.LineHeight * 2 + layout.Outline + 2 * margin);
    }
    area &= frame;
    if (area.isEmpty())
        return overlay;

    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(kDotsPerMeter96Dpi);
    image.setDotsPerMeterY(kDotsPerMeter96Dpi);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.translate(-area.topLeft());
        for (const ScreenLine& line : layout.Screen) {
            const QFont font = WorkingFont(layout.WorkingFontName, layout.LineHeight, line.Style);
            DrawAATextDIVX(painter, font, line.X, line.Y, layout.Outline, line.Colour, line.FontName,
                           line.Text, layout.OpaqueBoxes);
        }
    }

    // Keep only the rectangle that was drawn on.
    int top = image.height(), bottom = -1, left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) == 0)
                continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    if (bottom < 0)
        return overlay;
    const QRect used(QPoint(left, top), QPoint(right, bottom));
    overlay.Image = image.copy(used);
    overlay.Origin = area.topLeft() + used.topLeft();
    overlay.RowRuns.reserve(static_cast<std::size_t>(overlay.Image.height()) + 1);
    for (int y = 0; y < overlay.Image.height(); ++y) {
        overlay.RowRuns.push_back(static_cast<int>(overlay.Runs.size()));
        const auto* row = reinterpret_cast<const QRgb*>(overlay.Image.constScanLine(y));
        for (int x = 0; x < overlay.Image.width();) {
            if (qAlpha(row[x]) == 0) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x < overlay.Image.width() && qAlpha(row[x]) != 0)
                ++x;
            overlay.Runs.emplace_back(begin, x);
        }
    }
    overlay.RowRuns.push_back(static_cast<int>(overlay.Runs.size()));
    return overlay;
}

void CompositeOverlay(const SubtitleOverlay& overlay, kv::media::THookBitmap& frame)
{
    if (overlay.empty())
        return;
    const int top = std::max(0, overlay.Origin.y());
    const int bottom = std::min(frame.Height(), overlay.Origin.y() + overlay.Image.height());
    if (top >= bottom)
        return;
    // A frame that blends in its own pixel format spares the RGB round trip of the rows.
    static_assert(sizeof(QRgb) == sizeof(std::uint32_t));
    kv::media::TOverlayView direct;
    direct.Pixels = reinterpret_cast<const std::uint32_t*>(overlay.Image.constBits());
    direct.Stride = static_cast<int>(overlay.Image.bytesPerLine() / 4);
    direct.Left = overlay.Origin.x();
    direct.Top = overlay.Origin.y();
    direct.Width = overlay.Image.width();
    direct.Height = overlay.Image.height();
    if (overlay.RowRuns.size() == static_cast<std::size_t>(overlay.Image.height()) + 1) {
        direct.Runs = overlay.Runs.data();
        direct.RowRuns = overlay.RowRuns.data();
    }
    if (overlay.Image.format() == QImage::Format_ARGB32_Premultiplied && frame.BlendOverlay(direct))
        return;
    const kv::media::TRGBView view = frame.Rows(top, bottom);
    if (view.Data == nullptr)
        return;
    // Source-over by hand: this runs on every frame a line is shown, and a painter on a
    // 24-bit image converts every covered pixel to 32 bits and back. Transparent pixels
    // (most of the overlay) are skipped.
    const int ox = overlay.Origin.x();
    const int left = std::max(0, ox);
    const int right = std::min(view.Width, ox + overlay.Image.width());
    const bool haveRuns = overlay.RowRuns.size() == static_cast<std::size_t>(overlay.Image.height()) + 1;
    auto blendRange = [&](const QRgb* src, std::uint8_t* row, int from, int to) { // frame columns
        std::uint8_t* dst = row + static_cast<std::ptrdiff_t>(from) * 3;
        for (int x = from; x < to; ++x, dst += 3) {
            const QRgb p = src[x - ox];
            const unsigned alpha = qAlpha(p);
            if (alpha == 0)
                continue;
            if (alpha == 255) {
                dst[0] = static_cast<std::uint8_t>(qRed(p));
                dst[1] = static_cast<std::uint8_t>(qGreen(p));
                dst[2] = static_cast<std::uint8_t>(qBlue(p));
                continue;
            }
            // Premultiplied: out = src + dst * (255 - alpha) / 255, rounded.
            const unsigned keep = 255 - alpha;
            auto blend = [keep](unsigned s, unsigned d) {
                const unsigned t = d * keep + 128;
                return static_cast<std::uint8_t>(std::min(255u, s + ((t + (t >> 8)) >> 8)));
            };
            dst[0] = blend(static_cast<unsigned>(qRed(p)), dst[0]);
            dst[1] = blend(static_cast<unsigned>(qGreen(p)), dst[1]);
            dst[2] = blend(static_cast<unsigned>(qBlue(p)), dst[2]);
        }
    };
    for (int y = top; y < bottom; ++y) {
        const int imageRow = y - overlay.Origin.y();
        const auto* src = reinterpret_cast<const QRgb*>(overlay.Image.constScanLine(imageRow));
        std::uint8_t* row = view.row(y);
        if (!haveRuns) {
            blendRange(src, row, left, right);
            continue;
        }
        for (int r = overlay.RowRuns[imageRow]; r < overlay.RowRuns[imageRow + 1]; ++r) {
            const auto& run = overlay.Runs[static_cast<std::size_t>(r)];
            blendRange(src, row, std::max(left, ox + run.first), std::min(right, ox + run.second));
        }
    }
}

} // namespace kv::subtitles
