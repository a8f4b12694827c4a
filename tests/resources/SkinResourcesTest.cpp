// The skin pictures as the window uses them: compiled in under ":/skin/", at the sizes the window's
// layout needs, with the colour key giving the window its outline but never touching a control.
#include "resources/SkinResources.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QRect>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

struct Glyphs {
    const char* control;
    QRect bounds; // the button's place in the window
    QSize size;   // its glyph pictures' size
    const char* states;
};

// Buttons, their positions and glyph sizes as the window lays them out.
const std::vector<Glyphs> kGlyphs{
    {"btnAdd", {141, 157, 41, 27}, {41, 27}, "up over down disabled"},
    {"btnAddSub", {188, 157, 41, 27}, {41, 27}, "up over down disabled"},
    {"btnSubOn", {222, 160, 14, 12}, {15, 13}, "up down"},
    {"btnHi", {187, 193, 19, 15}, {19, 15}, "up over down disabled"},
    {"btnLo", {210, 193, 19, 15}, {19, 15}, "up over down disabled"},
    {"btnVol1", {164, 230, 21, 15}, {21, 15}, "up over down disabled"},
    {"btnVol2", {203, 230, 20, 15}, {20, 15}, "up over down disabled"},
    {"btnPlay", {507, 64, 34, 34}, {34, 34}, "up over down disabled"},
    {"btnStop", {473, 99, 34, 34}, {35, 34}, "up over down disabled"},
    {"btnPause", {541, 100, 34, 34}, {34, 33}, "up over down disabled"},
    {"btnClose", {507, 132, 34, 34}, {34, 34}, "up over down"},
    {"btnStartConvert", {285, 181, 169, 27}, {169, 27}, "up over down disabled"},
    {"btnPauseConvert", {285, 181, 169, 27}, {169, 27}, "up over down"},
    {"btnResumeConvert", {285, 181, 169, 27}, {169, 27}, "up over down"},
    {"btnInfo", {403, 228, 35, 18}, {35, 18}, "up over down"},
    {"btnMinimize", {441, 228, 35, 18}, {35, 18}, "up over down"},
};

// Other places on the window that must be solid: preview panel, progress label and strip.
const std::vector<QRect> kOtherAreas{{285, 36, 168, 95}, {285, 141, 168, 13}, {285, 158, 168, 11}};

QImage load(const QString& name)
{
    return QImage(kv::resources::skinPath(name)).convertToFormat(QImage::Format_RGB32);
}

QRgb keyOf(const QImage& img)
{
    return img.pixel(0, img.height() - 1);
}

int countColour(const QImage& img, const QRect& area, QRgb colour)
{
    int n = 0;
    const QRect r = area.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += img.pixel(x, y) == colour;
    return n;
}

TEST(SkinResources, EveryPictureIsCompiledInAtItsSize)
{
    for (const Glyphs& g : kGlyphs) {
        for (const QString& state : QString::fromLatin1(g.states).split(' ')) {
            const QString path = kv::resources::glyphPath(QString::fromLatin1(g.control), state);
            const QImage img(path);
            ASSERT_FALSE(img.isNull()) << path.toStdString();
            EXPECT_EQ(img.size(), g.size) << path.toStdString();
        }
    }
    const std::vector<std::pair<const char*, QSize>> pictures{
        {"background.png", {590, 260}},   {"ImgT.png", {1, 11}},       {"ImgN.png", {1, 11}},
        {"ImageProgress.png", {168, 11}}, {"info_pl.png", {336, 192}}, {"info_en.png", {336, 192}},
    };
    for (const auto& [name, size] : pictures) {
        const QImage img(kv::resources::skinPath(QString::fromLatin1(name)));
        ASSERT_FALSE(img.isNull()) << name;
        EXPECT_EQ(img.size(), size) << name;
    }
    const QImage icon(kv::resources::skinPath("icon.png"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.width(), icon.height());
    EXPECT_GE(icon.width(), 32);
    EXPECT_TRUE(icon.hasAlphaChannel());
}

TEST(SkinResources, ColourKeyShapesTheWindowButLeavesEveryControlSolid)
{
    const QImage bg = load("background.png");
    ASSERT_EQ(bg.size(), QSize(590, 260));
    const QRgb key = keyOf(bg);
    // The outline is rounded: all four corners are see-through.
    for (QPoint corner : {QPoint(0, 0), QPoint(589, 0), QPoint(0, 259), QPoint(589, 259)})
        EXPECT_EQ(bg.pixel(corner), key) << corner.x() << "," << corner.y();
    const int keyed = countColour(bg, bg.rect(), key);
    EXPECT_GT(keyed, 2000);
    EXPECT_LT(keyed, 590 * 260 / 4);

    for (const Glyphs& g : kGlyphs) {
        EXPECT_EQ(countColour(bg, g.bounds, key), 0) << g.control;
        EXPECT_EQ(countColour(bg, QRect(g.bounds.topLeft(), g.size), key), 0) << g.control;
    }
    for (const QRect& r : kOtherAreas)
        EXPECT_EQ(countColour(bg, r, key), 0) << r.x() << "," << r.y();

    // Only the outside is keyed: every key pixel is reached from the picture's border, so the
    // window has no see-through holes.
    std::vector<QPoint> todo;
    std::vector<char> seen(size_t(bg.width()) * bg.height(), 0);
    for (int x = 0; x < bg.width(); ++x)
        todo.insert(todo.end(), {QPoint(x, 0), QPoint(x, bg.height() - 1)});
    for (int y = 0; y < bg.height(); ++y)
        todo.insert(todo.end(), {QPoint(0, y), QPoint(bg.width() - 1, y)});
    int reached = 0;
    while (!todo.empty()) {
        const QPoint pt = todo.back();
        todo.pop_back();
        if (!bg.rect().contains(pt) || seen[size_t(pt.y()) * bg.width() + pt.x()] || bg.pixel(pt) != key)
            continue;
        seen[size_t(pt.y()) * bg.width() + pt.x()] = 1;
        ++reached;
        todo.insert(todo.end(), {pt + QPoint(1, 0), pt - QPoint(1, 0), pt + QPoint(0, 1), pt - QPoint(0, 1)});
    }
    EXPECT_EQ(reached, keyed);

    // No half-blended key colour along the outline: nothing else is even close to it.
    for (int y = 0; y < bg.height(); ++y) {
        for (int x = 0; x < bg.width(); ++x) {
            const QRgb v = bg.pixel(x, y);
            if (v == key)
                continue;
            const int d =
                qAbs(qRed(v) - qRed(key)) + qAbs(qGreen(v) - qGreen(key)) + qAbs(qBlue(v) - qBlue(key));
            ASSERT_GT(d, 120) << "pixel " << x << "," << y << " is nearly the colour key";
        }
    }
}

// A button may draw its glyph opaque or with the glyph's bottom-left colour left out; both must
// give the same window, and no glyph may bring the window's colour key in.
TEST(SkinResources, GlyphsLookTheSameDrawnOpaqueOrKeyed)
{
    const QImage bg = load("background.png");
    const QRgb windowKey = keyOf(bg);
    for (const Glyphs& g : kGlyphs) {
        for (const QString& state : QString::fromLatin1(g.states).split(' ')) {
            const QImage glyph = QImage(kv::resources::glyphPath(QString::fromLatin1(g.control), state))
                                     .convertToFormat(QImage::Format_RGB32);
            ASSERT_FALSE(glyph.isNull());
            const QRgb glyphKey = keyOf(glyph);
            int holes = 0, keyPixels = 0;
            const int w = qMin(g.size.width(), g.bounds.width()),
                      h = qMin(g.size.height(), g.bounds.height());
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const QRgb v = glyph.pixel(x, y);
                    keyPixels += v == windowKey;
                    if (v == glyphKey && v != bg.pixel(g.bounds.x() + x, g.bounds.y() + y))
                        ++holes;
                }
            }
            EXPECT_EQ(keyPixels, 0) << g.control << "_" << state.toStdString();
            EXPECT_EQ(holes, 0) << g.control << "_" << state.toStdString();
        }
    }
}

TEST(SkinResources, StatesOfAButtonDifferFromEachOther)
{
    for (const Glyphs& g : kGlyphs) {
        const QStringList states = QString::fromLatin1(g.states).split(' ');
        for (qsizetype i = 0; i < states.size(); ++i)
            for (qsizetype j = i + 1; j < states.size(); ++j)
                EXPECT_NE(load(kv::resources::glyphPath(g.control, states[i]).mid(7)),
                          load(kv::resources::glyphPath(g.control, states[j]).mid(7)))
                    << g.control << " " << states[i].toStdString() << "/" << states[j].toStdString();
    }
}

#ifdef KV_SKINGEN
TEST(SkinResources, GeneratorReproducesTheCommittedPictures)
{
    kv::test::TempDir tmp;
    const auto result = kv::test::run({KV_SKINGEN, tmp.path().string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;

    const QDir committed(QStringLiteral(KV_SKIN_DIR));
    const QDir generated(QString::fromStdString(tmp.path().string()));
    const QStringList names = committed.entryList({"*.png"}, QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    EXPECT_EQ(generated.entryList({"*.png"}, QDir::Files, QDir::Name), names);
    for (const QString& name : names) {
        const QImage a = QImage(committed.filePath(name)).convertToFormat(QImage::Format_ARGB32);
        const QImage b = QImage(generated.filePath(name)).convertToFormat(QImage::Format_ARGB32);
        EXPECT_FALSE(a.isNull()) << name.toStdString();
        EXPECT_EQ(a, b) << name.toStdString() << " differs: run kv-skingen resources/skin";
    }
}
#endif

TEST(SkinResources, GeneratorReportsBadArguments)
{
#ifdef KV_SKINGEN
    const auto result = kv::test::run({KV_SKINGEN});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.output.find("usage"), std::string::npos);

    // An output path below a plain file cannot be created: a clear error, not a crash.
    kv::test::TempDir tmp;
    std::FILE* f = std::fopen((tmp / "file").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const auto blocked = kv::test::run({KV_SKINGEN, (tmp / "file" / "skin").string()});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.output.find("cannot create folder"), std::string::npos) << blocked.output;
#else
    GTEST_SKIP() << "generator not built";
#endif
}

} // namespace
