// The main window: start-up states, shape and size, dragging, the log pane, the progress
// strip and the shutdown order.
#include "app/MainFrm.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

using namespace kv::app;
using namespace kv::controls;

namespace {

const QColor kBase(10, 10, 10), kDone(200, 0, 0), kRemaining(0, 200, 0);

QImage filled(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(c);
    return img;
}

// Pictures a test controls: a strip and tiles in known colours, and a background picture
// of the given size whose key colour (its bottom-left pixel) also fills its top-left corner.
PictureSource testPictures(QSize background = {590, 260})
{
    return [background](const QString& name) -> QImage {
        if (name == "background") {
            QImage img = filled(background.width(), background.height(), QColor(90, 90, 90));
            const QColor key(255, 0, 255);
            for (int y = 0; y < 20; ++y)
                for (int x = 0; x < 20; ++x)
                    img.setPixelColor(x, y, key);
            img.setPixelColor(0, background.height() - 1, key);
            return img;
        }
        if (name == "ImageProgress")
            return filled(168, 11, kBase);
        if (name == "ImgT")
            return filled(1, 11, kDone);
        if (name == "ImgN")
            return filled(1, 11, kRemaining);
        return {};
    };
}

TfrmMainSetup setupWith(PictureSource pictures, QLocale locale = QLocale(QLocale::English))
{
    TfrmMainSetup s;
    s.locale = locale;
    s.pictures = std::move(pictures);
    return s;
}

void moveWith(QWidget* w, QPoint p, Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = {})
{
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void pressWith(QWidget* w, QPoint p, Qt::MouseButton button, Qt::KeyboardModifiers mods = {})
{
    QMouseEvent e(QEvent::MouseButtonPress, p, w->mapToGlobal(p), button, button, mods);
    QApplication::sendEvent(w, &e);
}

} // namespace

TEST(MainWindow, StartUpTextsModeAndDialog)
{
    TfrmMain f(setupWith(testPictures()));
    EXPECT_EQ(f.windowTitle(), "KestrovidToPSP");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "KestrovidToPSP");
    EXPECT_EQ(f.VersionText, "1.3");
    EXPECT_EQ(f.Panel->Tag, kPreviewMode);
    EXPECT_TRUE(f.isPreviewMode());
    EXPECT_EQ(f.ImageProgress->Tag, 0);
    EXPECT_EQ(f.Image1->Tag, 0);
    EXPECT_EQ(f.LProgress->text(), "Progress: 0%");
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);

    EXPECT_EQ(f.OpenDialog1.Options, unsigned(ofHideReadOnly | ofFileMustExist | ofEnableSizing));
    EXPECT_EQ(f.OpenDialog1.FilterIndex, 1);
    EXPECT_TRUE(f.OpenDialog1.Filter.startsWith("Video/Audio Files|*.AVI;*.AVM;*.ASF;"));
    EXPECT_TRUE(f.OpenDialog1.Filter.endsWith(";*.AC3;*.DTS;|All Files|*.*"));
    EXPECT_EQ(f.OpenDialog1.Filter.count('|'), 7);
    const QStringList filters = qtNameFilters(f.OpenDialog1.Filter);
    ASSERT_EQ(filters.size(), 4);
    EXPECT_TRUE(filters[0].startsWith("Video/Audio Files (*.AVI *.AVM *.ASF "));
    EXPECT_TRUE(filters[0].endsWith(" *.AC3 *.DTS)"));
    EXPECT_TRUE(filters[1].startsWith("Video Files (*.AVI ") && filters[1].endsWith(" *.NSV)"));
    EXPECT_TRUE(filters[2].startsWith("Audio Files (*.MP3 ") && filters[2].endsWith(" *.DTS)"));
    EXPECT_EQ(filters[3], "All Files (*.*)");

    EXPECT_EQ(f.grpLogLevel->ItemIndex(), 5);
    EXPECT_EQ(f.grpLogLevel->title(), "Log Level");
    EXPECT_EQ(f.grpLogLevel->Items(),
              QStringList({"Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose", "Debug"}));
    EXPECT_FALSE(f.TimerStatystyki->isActive());
    EXPECT_EQ(f.TimerStatystyki->interval(), 3000);
    EXPECT_EQ(f.TimerCheckVersion->interval(), 3000);
}

TEST(MainWindow, ProgressPrefixFollowsTheUsersLanguage)
{
    const std::vector<std::pair<QLocale, QString>> cases = {
        {QLocale(QLocale::Polish, QLocale::Poland), QString::fromUtf8("Postęp: ")},
        {QLocale(QLocale::English, QLocale::UnitedStates), "Progress: "},
        {QLocale(QLocale::German, QLocale::Germany), "Progress: "},
        {QLocale::c(), "Progress: "},
    };
    for (const auto& [locale, prefix] : cases) {
        TfrmMain f(setupWith(testPictures(), locale));
        EXPECT_EQ(f.ProgressPrefix, prefix) << locale.name().toStdString();
        EXPECT_EQ(f.LProgress->text(), "Progress: 0%"); // design text until the first report
    }
}

TEST(MainWindow, EveryControlStartsAtItsPlaceAndState)
{
    TfrmMain f(setupWith(testPictures()));
    struct Row {
        TMBButton* b;
        QRect rect;
        bool visible, enabled, down;
        TButtonStyle style;
        bool opaque;
    };
    const std::vector<Row> rows = {
        {f.btnAdd, {141, 157, 41, 27}, true, true, false, btNormal, false},
        {f.btnAddSub, {188, 157, 41, 27}, true, false, false, btNormal, false},
        {f.btnSubOn, {222, 160, 14, 12}, false, true, false, btSpeed, false},
        {f.btnHi, {187, 193, 19, 15}, true, true, true, btSpeed, false},
        {f.btnLo, {210, 193, 19, 15}, true, true, false, btSpeed, false},
        {f.btnVol1, {164, 230, 21, 15}, true, true, false, btNormal, false},
        {f.btnVol2, {203, 230, 20, 15}, true, true, false, btNormal, false},
        {f.btnPlay, {507, 64, 34, 34}, true, false, false, btSpeed, false},
        {f.btnStop, {473, 99, 34, 34}, true, false, false, btNormal, false},
        {f.btnPause, {541, 100, 34, 34}, true, false, false, btSpeed, false},
        {f.btnClose, {507, 132, 34, 34}, true, true, false, btNormal, false},
        {f.btnStartConvert, {285, 181, 169, 27}, true, false, false, btNormal, true},
        {f.btnPauseConvert, {285, 190, 169, 27}, false, true, false, btNormal, true},
        {f.btnResumeConvert, {285, 200, 169, 27}, false, true, false, btNormal, true},
        {f.btnInfo, {403, 228, 35, 18}, true, true, false, btSpeed, false},
        {f.btnMinimize, {441, 228, 35, 18}, true, true, false, btNormal, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.b->objectName().toStdString());
        EXPECT_EQ(r.b->parentWidget(), f.Panel1);
        EXPECT_EQ(r.b->geometry(), r.rect);
        EXPECT_EQ(!r.b->isHidden(), r.visible);
        EXPECT_EQ(r.b->isEnabled(), r.enabled);
        EXPECT_EQ(r.b->Down(), r.down);
        EXPECT_EQ(r.b->ButtonStyle(), r.style);
        EXPECT_EQ(r.b->Transparent(), !r.opaque);
        EXPECT_FALSE(r.b->Border());
        EXPECT_EQ(r.b->TextPosition(), tpNone);
        EXPECT_EQ(r.b->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(r.b->cursor().shape(), r.b == f.btnInfo ? Qt::WhatsThisCursor : Qt::PointingHandCursor);
    }
    EXPECT_EQ(f.btnResumeConvert->GlyphState(), gsOver);
    EXPECT_EQ(f.btnPauseConvert->GlyphState(), gsUp);

    struct Other {
        QWidget* w;
        QWidget* parent;
        QRect rect;
        bool visible;
    };
    const std::vector<Other> others = {
        {f.Panel1, &f, {0, 0, 590, 260}, true},
        {f.ImageBgn, f.Panel1, {0, 0, 590, 260}, true},
        {f.ImageProgress, f.Panel1, {285, 158, 168, 11}, true},
        {f.Panel, f.Panel1, {285, 36, 168, 95}, false},
        {f.Image1, f.Panel, {0, 0, 168, 95}, true},
        {f.ImgT, &f, {592, 0, 33, 33}, true},
        {f.ImgN, &f, {632, 0, 33, 33}, true},
        {f.mmoLog, &f, {600, 32, 166, 37}, false},
        {f.grpLogLevel, &f, {604, 87, 160, 98}, false},
    };
    for (const Other& o : others) {
        SCOPED_TRACE(o.w->objectName().toStdString());
        EXPECT_EQ(o.w->parentWidget(), o.parent);
        EXPECT_EQ(o.w->geometry(), o.rect);
        EXPECT_EQ(!o.w->isHidden(), o.visible);
    }
    EXPECT_EQ(f.LProgress->pos(), QPoint(285, 141));
    EXPECT_TRUE(f.LProgress->font().bold());
    EXPECT_EQ(f.LProgress->palette().color(QPalette::WindowText), QColor(192, 192, 192));
    EXPECT_GE(f.LProgress->width(), f.LProgress->fontMetrics().horizontalAdvance("Progress: 0%"));
    EXPECT_EQ(f.ImageProgress->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(f.Image1->Stretch());
    EXPECT_TRUE(f.ImageInfoPL->isHidden() && f.ImageInfoEn->isHidden());
    EXPECT_EQ(f.ImageInfoPL->pos(), QPoint(559, 26));
    EXPECT_EQ(f.ImageInfoEn->pos(), QPoint(576, 26));
    EXPECT_EQ(f.ImageInfoPL->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(f.mmoLog->toPlainText().isEmpty());
    EXPECT_EQ(f.mmoLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(MainWindow, SkinPicturesBecomeGlyphsAndMissingOnesStayEmpty)
{
    TfrmMain f(setupWith([](const QString& name) -> QImage {
        if (name == "btnAdd_up" || name == "btnAdd_over")
            return filled(41, 27, Qt::red);
        return {};
    }));
    EXPECT_FALSE(f.btnAdd->GlyphUp().isNull());
    EXPECT_FALSE(f.btnAdd->GlyphOver().isNull());
    EXPECT_TRUE(f.btnAdd->GlyphDown().isNull()); // drawn as the up glyph
    EXPECT_TRUE(f.btnClose->GlyphUp().isNull());
    // Without a background picture the window still gets the skin's size and a shape.
    EXPECT_EQ(f.background().size(), QSize(590, 260));
    EXPECT_EQ(f.ImageProgress->Picture.size(), QSize(168, 11));
    f.ProgressBar(42); // missing tiles do not crash
}

TEST(MainWindow, WindowTakesTheBackgroundsSizeAndShapeAndKeepsThem)
{
    for (const QSize size : {QSize(590, 260), QSize(300, 200), QSize(640, 300)}) {
        SCOPED_TRACE(size.width());
        TfrmMain f(setupWith(testPictures(size)));
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
        EXPECT_EQ(f.size(), size);
        f.resize(774, 261);
        QApplication::processEvents();
        EXPECT_EQ(f.size(), size);
        f.setGeometry(f.x(), f.y(), 100, 100);
        QApplication::processEvents();
        EXPECT_EQ(f.size(), size);
        EXPECT_EQ(f.minimumSize(), size);
        EXPECT_EQ(f.maximumSize(), size);
        EXPECT_FALSE(f.ImageBgn->Stretch());

        const QRegion shape = f.mask();
        EXPECT_TRUE(shape.contains(QPoint(100, 100)));
        EXPECT_TRUE(shape.contains(QPoint(size.width() - 1, size.height() - 1)));
        EXPECT_TRUE(shape.contains(QPoint(20, 0)));
        EXPECT_FALSE(shape.contains(QPoint(0, 0)));   // key colour: cut out
        EXPECT_FALSE(shape.contains(QPoint(19, 19))); // key colour: cut out
        EXPECT_FALSE(shape.contains(QPoint(0, size.height() - 1)));
        EXPECT_FALSE(shape.contains(QPoint(size.width(), 0)));
    }
}

TEST(MainWindow, DefaultWindowIsCentredWithTheSkinsSize)
{
    TfrmMain f;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    EXPECT_EQ(f.size(), QSize(590, 260));
    const QPoint screenCentre = f.screen()->availableGeometry().center();
    EXPECT_LE(std::abs(f.geometry().center().x() - screenCentre.x()), 1);
    EXPECT_LE(std::abs(f.geometry().center().y() - screenCentre.y()), 1);
}

TEST(MainWindow, DraggingFollowsTheLeftButtonAloneOnBackgroundAndPreviewOnly)
{
    TfrmMain f(setupWith(testPictures()));
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.move(100, 100);
    QApplication::processEvents();
    const QPoint start = f.pos();

    // Left drag on the background moves the window by the pointer's travel.
    pressWith(f.ImageBgn, {50, 50}, Qt::LeftButton);
    moveWith(f.ImageBgn, {60, 57}, Qt::LeftButton);
    EXPECT_EQ(f.pos(), start + QPoint(10, 7));
    QTest::mouseRelease(f.ImageBgn, Qt::LeftButton, {}, {50, 50});

    // The right button does not drag.
    QPoint now = f.pos();
    pressWith(f.ImageBgn, {50, 50}, Qt::RightButton);
    moveWith(f.ImageBgn, {70, 70}, Qt::RightButton);
    EXPECT_EQ(f.pos(), now);

    // Ctrl held ends the drag at the first move, also for later plain moves.
    pressWith(f.ImageBgn, {50, 50}, Qt::LeftButton);
    moveWith(f.ImageBgn, {60, 60}, Qt::LeftButton, Qt::ControlModifier);
    moveWith(f.ImageBgn, {70, 70}, Qt::LeftButton);
    EXPECT_EQ(f.pos(), now);

    // Left plus right held is not the left button alone.
    pressWith(f.ImageBgn, {50, 50}, Qt::LeftButton);
    moveWith(f.ImageBgn, {60, 60}, Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(f.pos(), now);

    // A press on a button and a move do not drag (the click's source dialog is cancelled).
    f.OpenDialog1.OnExecute = [](TOpenDialog&) { return false; };
    QTest::mousePress(f.btnAdd, Qt::LeftButton, {}, {5, 5});
    moveWith(f.btnAdd, {30, 20}, Qt::LeftButton);
    EXPECT_EQ(f.pos(), now);
    QTest::mouseRelease(f.btnAdd, Qt::LeftButton, {}, {30, 20});

    // The preview picture drags.
    f.Panel->show();
    pressWith(f.Image1, {20, 20}, Qt::LeftButton);
    moveWith(f.Image1, {15, 30}, Qt::LeftButton);
    EXPECT_EQ(f.pos(), now + QPoint(-5, 10));
}

TEST(MainWindow, LogLinesCarryUnsignedThreadIdAndLevel)
{
    TfrmMain f(setupWith(testPictures()));
    f.FFLoggerLog(1234, 5, "abc");
    f.FFLoggerLog(4294967295u, 0, "quiet %1 text");
    f.FFLoggerLog(0, 7, "");
    EXPECT_EQ(f.mmoLog->toPlainText(), "#1234.5: abc\n#4294967295.0: quiet %1 text\n#0.7: ");
    EXPECT_TRUE(f.mmoLog->isHidden());
}

TEST(MainWindow, ProgressBarPaintsTheDocumentedColumns)
{
    TfrmMain f(setupWith(testPictures()));
    // Fresh strip each time; 'd' done tile, 'r' remaining tile, 'b' base picture.
    auto paint = [&](int position) {
        f.ImageProgress->Picture.fill(kBase);
        f.ProgressBar(position);
        EXPECT_EQ(f.ImageProgress->Tag, position);
        std::string cols;
        const QImage& img = f.ImageProgress->Picture;
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, 0);
            EXPECT_EQ(c, img.pixelColor(x, img.height() - 1)) << "column " << x << " not one colour";
            cols += c == kDone ? 'd' : c == kRemaining ? 'r' : c == kBase ? 'b' : '?';
        }
        return cols;
    };
    auto runs = [](std::initializer_list<std::pair<char, int>> parts) {
        std::string s;
        for (auto [c, n] : parts)
            s.append(n, c);
        return s;
    };
    const std::string empty = runs({{'r', 2}, {'b', 1}, {'r', 165}});
    EXPECT_EQ(paint(0), empty);
    EXPECT_EQ(paint(1), empty);
    EXPECT_EQ(paint(2), empty);
    EXPECT_EQ(paint(-7), empty);
    EXPECT_EQ(paint(3), runs({{'r', 2}, {'b', 2}, {'r', 164}}));
    EXPECT_EQ(paint(42), runs({{'r', 2}, {'b', 1}, {'d', 39}, {'b', 1}, {'r', 125}}));
    EXPECT_EQ(paint(164), runs({{'r', 2}, {'b', 1}, {'d', 161}, {'b', 1}, {'r', 3}}));
    EXPECT_EQ(paint(167), runs({{'r', 2}, {'b', 1}, {'d', 164}, {'b', 1}}));
    const std::string full = runs({{'r', 2}, {'b', 1}, {'d', 165}});
    EXPECT_EQ(paint(168), full);
    EXPECT_EQ(paint(500), full);
    EXPECT_EQ(paint(INT_MAX), full);

    // Column D keeps what an earlier call painted: growing by one leaves no gap.
    f.ImageProgress->Picture.fill(kBase);
    f.ProgressBar(42);
    f.ProgressBar(43);
    const QImage& img = f.ImageProgress->Picture;
    EXPECT_EQ(img.pixelColor(42, 5), kDone);
    EXPECT_EQ(img.pixelColor(43, 5), kRemaining);
    EXPECT_EQ(img.pixelColor(2, 5), kBase);
}

namespace {

struct RecordingMedia : IMediaShutdown {
    std::vector<std::string> calls;
    void detachEngineHandlers() override { calls.push_back("detachEngineHandlers"); }
    void stopEngineAndWait() override { calls.push_back("stopEngineAndWait"); }
    void detachLogger() override { calls.push_back("detachLogger"); }
};

const std::vector<std::string> kShutdownOrder = {"detachEngineHandlers", "stopEngineAndWait", "detachLogger"};

} // namespace

TEST(MainWindow, CloseShutsTheMediaDownInOrderOnce)
{
    RecordingMedia media;
    TfrmMainSetup s = setupWith(testPictures());
    s.media = &media;
    TfrmMain f(std::move(s));
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    EXPECT_TRUE(f.close());
    EXPECT_EQ(media.calls, kShutdownOrder);
    EXPECT_FALSE(f.isVisible());
    f.show();
    f.close();
    EXPECT_EQ(media.calls.size(), 3u);
}

TEST(MainWindow, CloseButtonTakesTheSamePath)
{
    RecordingMedia media;
    TfrmMain f(setupWith(testPictures()));
    f.setMediaShutdown(&media);
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    QTest::mouseClick(f.btnClose, Qt::LeftButton, {}, {10, 10});
    EXPECT_EQ(media.calls, kShutdownOrder);
    EXPECT_FALSE(f.isVisible());
}

TEST(MainWindow, WindowDestroyedWithoutCloseStillShutsDown)
{
    RecordingMedia media;
    {
        TfrmMain f(setupWith(testPictures()));
        f.setMediaShutdown(&media);
    }
    EXPECT_EQ(media.calls, kShutdownOrder);
}

TEST(MainWindow, MinimiseButtonMinimises)
{
    TfrmMain f(setupWith(testPictures()));
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    QTest::mouseClick(f.btnMinimize, Qt::LeftButton, {}, {5, 5});
    EXPECT_TRUE(f.isMinimized());
    EXPECT_EQ(f.size(), QSize(590, 260));
}
