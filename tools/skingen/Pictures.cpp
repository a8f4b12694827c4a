#include "Painting.h"
#include "Skin.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace kv::skingen {

QImage drawStripBase()
{
    // Black; the strip painter covers it with the tiles except for the separator column.
    return blank(kStripSize, QColor(0, 0, 0));
}

namespace {
QImage tile(const QColor& edge, const QColor& top, const QColor& bottom)
{
    // One column, as high as the strip: a dark edge row at top and bottom and a gradient between.
    QImage img(1, kStripSize.height(), QImage::Format_RGB32);
    const int h = img.height();
    for (int y = 0; y < h; ++y) {
        QColor c = mix(top, bottom, qreal(y - 1) / qreal(h - 3));
        if (y == 0 || y == h - 1)
            c = edge;
        img.setPixel(0, y, c.rgb());
    }
    return img;
}
} // namespace

QImage drawStripDoneTile()
{
    QImage t = tile(QColor(6, 40, 58), palette::accentLight, palette::accentDark);
    t.setPixel(0, 1, QColor(190, 236, 255).rgb()); // a bright top line reads as a lit bar
    return t;
}

QImage drawStripRemainingTile()
{
    return tile(QColor(8, 9, 11), QColor(30, 33, 39), QColor(46, 50, 58));
}

QImage drawInfoPicture(bool polish)
{
    QImage img(kInfoSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(palette::rim);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, true);
        const QRectF card(1, 1, kInfoSize.width() - 2, kInfoSize.height() - 2);
        p.setPen(Qt::NoPen);
        p.setBrush(vertical(card, QColor(36, 40, 47), QColor(19, 21, 25)));
        p.drawRoundedRect(card, 7, 7);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(mix(palette::accent, palette::rim, 0.45), 1.0));
        p.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);

        // Heading: the mark, the name and the version.
        drawMark(p, QRectF(14, 13, 34, 34));
        const QRawFont title = liberation(FontStyle::Bold, 19);
        const QString first = QStringLiteral("Kestrovid ");
        drawText(p, title, first, QPointF(58, 32), QColor(236, 240, 245));
        drawText(p, title, QStringLiteral("to PSP"), QPointF(58 + textWidth(title, first), 32),
                 palette::accent);
        drawText(p, liberation(FontStyle::Bold, 10),
                 polish ? QStringLiteral("wersja 1.3") : QStringLiteral("version 1.3"), QPointF(59, 46),
                 palette::textDim);

        p.setPen(QPen(QColor(255, 255, 255, 24), 1.0));
        p.drawLine(QPointF(14, 56.5), QPointF(kInfoSize.width() - 14, 56.5));

        const QRawFont body = liberation(FontStyle::Regular, 11);
        const QRawFont small = liberation(FontStyle::Regular, 10);
        const qreal left = 15, width = kInfoSize.width() - 30;
        qreal y = 63;
        if (polish) {
            y = drawWrapped(p, body,
                            QStringLiteral("Zamienia plik wideo lub audio na film MP4, który odtworzy "
                                           "konsola PSP, i wtapia w obraz napisy z pliku tekstowego "
                                           "(TXT, SUB, SRT, SSA, ASS, SMI)."),
                            QPointF(left, y), width, 14, palette::text);
            y = drawWrapped(
                p, small,
                QStringLiteral("Upuść plik na okno albo kliknij ADD, wybierz jakość HI lub LO, "
                               "dodaj napisy (SUBTITLES) i naciśnij START. Gotowy plik trafi obok źródła."),
                QPointF(left, y + 5), width, 13, palette::textDim);
        } else {
            y = drawWrapped(p, body,
                            QStringLiteral("Turns a video or audio file into an MP4 movie that plays on "
                                           "the PSP, and burns subtitles from a text file (TXT, SUB, SRT, "
                                           "SSA, ASS, SMI) into the picture."),
                            QPointF(left, y), width, 14, palette::text);
            y = drawWrapped(p, small,
                            QStringLiteral("Drop a file on the window or click ADD, pick HI or LO, add "
                                           "SUBTITLES and press START. The MP4 is saved beside the source."),
                            QPointF(left, y + 5), width, 13, palette::textDim);
        }

        // The two output profiles.
        const QRawFont profileFont = liberation(FontStyle::Bold, 9.5);
        const QString profiles =
            polish ? QStringLiteral("HI: H.264 480×272, 29,97 kl./s   ·   LO: MPEG-4 368×192, 14,985 kl./s")
                   : QStringLiteral("HI: H.264 480×272, 29.97 fps   ·   LO: MPEG-4 368×192, 14.985 fps");
        drawText(p, profileFont, profiles, QPointF(left, qMax(y + 13, 146.0)),
                 mix(palette::accentLight, palette::textDim, 0.35));

        // Footer: the author's web page.
        const QRectF footer(8, kInfoSize.height() - 32, kInfoSize.width() - 16, 24);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(42, 168, 224, 34));
        p.drawRoundedRect(footer, 5, 5);
        const QRawFont link = liberation(FontStyle::Bold, 12);
        const QString url = QStringLiteral("www.kestrovid.example");
        drawText(p, link, url, QPointF(footer.left() + 9, footer.center().y() + link.capHeight() / 2),
                 palette::accentLight);
        const QRawFont hint = liberation(FontStyle::Regular, 9.5);
        const QString hintText = polish ? QStringLiteral("kliknij, aby otworzyć stronę autora")
                                        : QStringLiteral("click to visit the author's page");
        drawText(p, hint, hintText,
                 QPointF(footer.right() - 9 - textWidth(hint, hintText),
                         footer.center().y() + hint.capHeight() / 2),
                 palette::textDim);
    }
    return img.convertToFormat(QImage::Format_RGB32);
}

QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        const qreal m = size * 0.04;
        drawMark(p, QRectF(m, m, size - 2 * m, size - 2 * m));
    }
    return img.convertToFormat(QImage::Format_ARGB32);
}

QImage drawContactSheet(const QImage& background, const QString& skinDir)
{
    auto load = [&](const QString& name) {
        QImage img(QDir(skinDir).filePath(name));
        if (img.isNull())
            throw std::runtime_error("missing " + name.toStdString());
        return img;
    };
    const int scale = 2;
    QImage sheet(1240, 1560, QImage::Format_RGB32);
    sheet.fill(QColor(96, 100, 108));
    QPainter p(&sheet);
    const QRawFont label = liberation(FontStyle::Regular, 11);

    // The window as it first shows (source buttons disabled, Hi down, subtitle mark hidden), and
    // while previewing a source with subtitles loaded, both scaled 2x.
    QImage window = background.convertToFormat(QImage::Format_RGB32);
    QImage lit = window;
    {
        QPainter w(&window), l(&lit);
        for (const ButtonSpec& b : kButtons) {
            if (b.kind == ButtonKind::PauseConvert || b.kind == ButtonKind::ResumeConvert)
                continue;
            const QString base = QString::fromLatin1(b.name);
            w.setClipRect(b.control);
            l.setClipRect(b.control);
            const bool disabledAtStart = b.kind == ButtonKind::AddSub || b.kind == ButtonKind::Play ||
                                         b.kind == ButtonKind::Stop || b.kind == ButtonKind::Pause ||
                                         b.kind == ButtonKind::StartConvert;
            if (b.kind != ButtonKind::SubOn)
                w.drawImage(b.control.topLeft(), load(base + (b.kind == ButtonKind::Hi ? "_down.png"
                                                              : disabledAtStart        ? "_disabled.png"
                                                                                       : "_up.png")));
            const bool down =
                b.kind == ButtonKind::Hi || b.kind == ButtonKind::SubOn || b.kind == ButtonKind::Play;
            l.drawImage(b.control.topLeft(), load(base + (down ? "_down.png" : "_up.png")));
        }
        l.setClipping(false);
        // The progress label: silver, bold, about 11 pixels high.
        drawText(l, liberation(FontStyle::Bold, 11), QStringLiteral("Progress: 0:00:42 / 0:01:45"),
                 QPointF(kLabelRect.left(), kLabelRect.top() + 10), QColor(192, 192, 192));
        l.drawImage(kStripRect.topLeft(), load("ImageProgress.png"));
        // Strip at 40%: done tile on columns 3..68, remaining tile on 0,1 and 70..167.
        for (int x = 0; x < kStripSize.width(); ++x) {
            if (x == 2 || x == 69)
                continue;
            l.drawImage(kStripRect.left() + x, kStripRect.top(),
                        load(x >= 3 && x < 69 ? "ImgT.png" : "ImgN.png"));
        }
    }
    auto keyed = [](QImage img) {
        // Show the colour key as the sheet's grey so the outline can be judged.
        const QRgb key = img.pixel(0, img.height() - 1);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) == key)
                    img.setPixel(x, y, qRgb(96, 100, 108));
        return img;
    };
    p.drawImage(QRect(10, 10, 590 * scale, 260 * scale), keyed(window));
    p.drawImage(QRect(10, 540, 590 * scale, 260 * scale), keyed(lit));

    // Every glyph, one row per button, 2x.
    int y = 1070;
    int x = 10;
    for (const ButtonSpec& b : kButtons) {
        const QString base = QString::fromLatin1(b.name);
        for (GlyphState s : {GlyphState::Up, GlyphState::Over, GlyphState::Down, GlyphState::Disabled}) {
            const QString file = base + "_" + stateName(s) + ".png";
            if (!QFileInfo::exists(QDir(skinDir).filePath(file)))
                continue;
            const QImage g = load(file);
            if (x + g.width() * scale > 1230) {
                x = 10;
                y += 64;
            }
            p.drawImage(QRect(x, y, g.width() * scale, g.height() * scale), g);
            x += g.width() * scale + 6;
        }
        x += 14;
    }
    y += 80;
    p.drawImage(QPoint(10, y), load("info_en.png"));
    p.drawImage(QPoint(356, y), load("info_pl.png"));
    p.drawImage(QRect(702, y, 128, 128), load("icon.png"));
    p.drawImage(QPoint(840, y),
                load("icon.png").scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    drawText(p, label, QStringLiteral("kv-skingen contact sheet"), QPointF(840, y + 60), QColor(20, 20, 20));
    return sheet;
}

} // namespace kv::skingen
