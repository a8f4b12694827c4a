// kv-skingen OUTPUT_DIR [--sheet FILE]
// Draws every picture of the window skin into OUTPUT_DIR (resources/skin in the source tree).
// With --sheet, also writes a review picture of the window with its glyphs in place.
#include "Painting.h"
#include "Skin.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

using namespace kv::skingen;

namespace {

int generate(const QString& dirPath, const QString& sheetPath)
{
    QDir dir(dirPath);
    if (!dir.mkpath("."))
        throw std::runtime_error("cannot create folder " + dirPath.toStdString());
    auto write = [&](const QImage& img, const QString& name) { writePng(img, dir.filePath(name)); };

    const QImage background = drawBackground();
    write(background, "background.png");
    for (const ButtonSpec& b : kButtons) {
        for (GlyphState s : {GlyphState::Up, GlyphState::Over, GlyphState::Down, GlyphState::Disabled}) {
            if ((s == GlyphState::Over && !b.over) || (s == GlyphState::Disabled && !b.disabled))
                continue;
            write(drawGlyph(b, s, background), QString::fromLatin1(b.name) + "_" + stateName(s) + ".png");
        }
    }
    write(drawStripBase(), "ImageProgress.png");
    write(drawStripDoneTile(), "ImgT.png");
    write(drawStripRemainingTile(), "ImgN.png");
    write(drawInfoPicture(true), "info_pl.png");
    write(drawInfoPicture(false), "info_en.png");
    write(drawIcon(256), "icon.png");
    if (!sheetPath.isEmpty())
        writePng(drawContactSheet(background, dir.path()), sheetPath);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Pictures only: no display needed.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString out, sheet;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == "--sheet" && i + 1 < args.size())
            sheet = args[++i];
        else if (out.isEmpty() && !args[i].startsWith("--"))
            out = args[i];
        else {
            out.clear();
            break;
        }
    }
    if (out.isEmpty()) {
        std::fprintf(stderr, "usage: kv-skingen OUTPUT_DIR [--sheet FILE]\n");
        return 2;
    }
    try {
        return generate(out, sheet);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kv-skingen: %s\n", e.what());
        return 1;
    }
}
