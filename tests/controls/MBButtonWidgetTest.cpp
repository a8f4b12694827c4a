// The button as a widget: Qt events reach the state machine, events are raised in order,
// and the paint shows the right glyph, frame, mark and caption.
#include "controls/MBButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace kv::controls;

namespace {

QImage solid(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

// A glyph whose bottom-left pixel (the key) is magenta and the rest one colour.
QImage keyed(int w, int h, QColor c)
{
    QImage img = solid(w, h, c);
    img.setPixelColor(0, h - 1, Qt::magenta);
    return img;
}

QImage shot(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

QColor at(const QImage& img, int x, int y)
{
    return img.pixelColor(x, y);
}
bool same(QColor a, QColor b)
{
    return a.rgba() == b.rgba();
}

void enter(QWidget& w)
{
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), w.mapToGlobal(QPointF(1, 1)));
    QApplication::sendEvent(&w, &e);
}

void leave(QWidget& w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}

void moveHeld(QWidget& w, QPoint p, Qt::KeyboardModifiers mods = {})
{
    QMouseEvent e(QEvent::MouseMove, p, w.mapToGlobal(p), Qt::NoButton, Qt::LeftButton, mods);
    QApplication::sendEvent(&w, &e);
}

// A button with distinct glyph colours and a palette whose frame colours are easy to spot.
struct Skinned : TMBButton {
    Skinned()
    {
        QPalette pal = palette();
        pal.setColor(QPalette::Light, QColor(255, 255, 255));
        pal.setColor(QPalette::Dark, QColor(0, 0, 128));
        pal.setColor(QPalette::ButtonText, QColor(0, 128, 0));
        setPalette(pal);
        setGlyphUp(keyed(20, 20, Qt::red));
        setGlyphDown(keyed(20, 20, Qt::blue));
        setGlyphOver(keyed(20, 20, Qt::yellow));
        setGlyphDisable(keyed(20, 20, Qt::gray));
    }
    QColor centre() { return at(shot(*this), width() / 2, height() / 2); }
};

struct Recorder {
    std::vector<std::string> log;
    void attach(TMBButton& b)
    {
        b.OnMouseDown = [this](TMBButton*, TMouseButton, TShiftState, int, int) { log.push_back("down"); };
        b.OnMouseUp = [this](TMBButton*, TMouseButton, TShiftState, int, int) { log.push_back("up"); };
        b.OnClick = [this](TMBButton* s) { log.push_back(s->Down() ? "click(D)" : "click(U)"); };
        b.OnDblClick = [this](TMBButton*) { log.push_back("dbl"); };
        b.OnMouseEnter = [this](TMBButton*) { log.push_back("enter"); };
        b.OnMouseLeave = [this](TMBButton*) { log.push_back("leave"); };
    }
    std::string str() const
    {
        std::string s;
        for (const auto& e : log)
            s += e + " ";
        return s;
    }
};

} // namespace

TEST(MBButton, NewButtonIs40x40SpeedBorderedTransparentWithRaisedFrameOnly)
{
    TMBButton b;
    EXPECT_EQ(b.size(), QSize(40, 40));
    EXPECT_EQ(b.ButtonStyle(), btSpeed);
    EXPECT_TRUE(b.Border());
    EXPECT_TRUE(b.Transparent());
    EXPECT_TRUE(b.GlyphTransparent());
    EXPECT_EQ(b.GlyphState(), gsUp);
    EXPECT_EQ(b.TextPosition(), tpNone);
    EXPECT_EQ(b.Margin(), -1);
    EXPECT_TRUE(b.MarkDropDown());
    EXPECT_FALSE(b.Shadow());
    EXPECT_EQ(b.ShadowColor(), QColor(128, 128, 128));
    EXPECT_TRUE(b.GlyphUp().isNull() && b.GlyphDown().isNull() && b.GlyphOver().isNull() &&
                b.GlyphDisable().isNull());
    EXPECT_EQ(b.focusPolicy(), Qt::NoFocus);

    const QImage img = shot(b);
    const QColor light = b.palette().color(QPalette::Light).toRgb(),
                 dark = b.palette().color(QPalette::Dark).toRgb();
    EXPECT_TRUE(same(at(img, 0, 0), light));
    EXPECT_TRUE(same(at(img, 38, 0), light));
    EXPECT_TRUE(same(at(img, 0, 38), light));
    EXPECT_TRUE(same(at(img, 39, 0), dark)); // right column and bottom row in the dark colour
    EXPECT_TRUE(same(at(img, 39, 39), dark));
    EXPECT_TRUE(same(at(img, 0, 39), dark));
    for (int y = 1; y < 39; ++y)
        for (int x = 1; x < 39; ++x)
            ASSERT_EQ(img.pixelColor(x, y).alpha(), 0) << x << "," << y; // nothing else drawn
}

TEST(MBButton, DownButtonHasSunkenFrameAndPressedShift)
{
    Skinned b;
    b.setDown(true);
    const QImage img = shot(b);
    EXPECT_EQ(at(img, 0, 0), QColor(0, 0, 128));
    EXPECT_EQ(at(img, 39, 39), QColor(255, 255, 255));
    // Down glyph 20x20 at (10,10) shifted by one: columns 11..30, its key pixel (11,30) left out.
    EXPECT_EQ(at(img, 11, 11), QColor(Qt::blue));
    EXPECT_EQ(at(img, 10, 11).alpha(), 0);
    EXPECT_EQ(at(img, 11, 30).alpha(), 0);
    EXPECT_EQ(at(img, 12, 30), QColor(Qt::blue));
}

TEST(MBButton, OpaqueButtonFillsWithItsColourAndFaceInsideTheFrame)
{
    Skinned b;
    b.setGlyphUp(QImage());
    QPalette pal = b.palette();
    pal.setColor(QPalette::Window, QColor(1, 2, 3));
    pal.setColor(QPalette::Button, QColor(4, 5, 6));
    b.setPalette(pal);
    b.setTransparent(false);
    QImage img = shot(b);
    EXPECT_EQ(at(img, 20, 20), QColor(4, 5, 6));
    b.setBorder(false);
    img = shot(b);
    EXPECT_EQ(at(img, 20, 20), QColor(1, 2, 3));
    EXPECT_EQ(at(img, 0, 0), QColor(1, 2, 3));
}

TEST(MBButton, GlyphFallsBackToUpAndMarginShiftsHorizontally)
{
    Skinned b;
    b.setBorder(false);
    b.setGlyphOver(QImage());
    b.setGlyphDisable(QImage());
    b.setGlyphState(gsOver); // over glyph empty: the up glyph is drawn
    EXPECT_EQ(b.centre(), QColor(Qt::red));
    b.setEnabled(false); // disable glyph empty: the up glyph too
    EXPECT_EQ(b.centre(), QColor(Qt::red));
    EXPECT_EQ(b.GlyphState(), gsDisabled);
    b.setEnabled(true);
    b.setMargin(-5); // ignored
    EXPECT_EQ(b.Margin(), -1);
    b.setMargin(15);
    const QImage img = shot(b);
    EXPECT_EQ(at(img, 25, 20), QColor(Qt::red)); // glyph at 10+15 = 25 .. 44
    EXPECT_EQ(at(img, 24, 20).alpha(), 0);
    EXPECT_EQ(at(img, 25, 9).alpha(), 0); // vertical position unchanged
    b.setGlyphUp(QImage());
    b.setGlyphState(gsUp);
    const QImage empty = shot(b);
    EXPECT_EQ(at(empty, 30, 20).alpha(), 0); // no glyph at all is seen
}

TEST(MBButton, GlyphTransparentOffDrawsTheKeyPixel)
{
    Skinned b;
    b.setBorder(false);
    b.setGlyphTransparent(false);
    EXPECT_EQ(at(shot(b), 10, 29), QColor(Qt::magenta));
}

TEST(MBButton, SpeedClickTogglesDownBeforeOnClick)
{
    Skinned b;
    b.show();
    Recorder rec;
    rec.attach(b);
    QSignalSpy spy(&b, &TMBButton::clicked);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(rec.str(), "down up click(D) ");
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(b.centre(), QColor(Qt::blue));
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(b.Down());
    EXPECT_EQ(b.centre(), QColor(Qt::red));
}

TEST(MBButton, NormalClickStaysUpAndIgnoresDown)
{
    Skinned b;
    b.setButtonStyle(btNormal);
    b.show();
    Recorder rec;
    rec.attach(b);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(rec.str(), "down up click(U) ");
    b.setDown(true);
    EXPECT_FALSE(b.Down());
    EXPECT_EQ(b.centre(), QColor(Qt::red));
}

TEST(MBButton, ReleaseEdgesAndReleaseOutside)
{
    Skinned b;
    b.resize(40, 30);
    b.show();
    Recorder rec;
    rec.attach(b);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(40, 5)); // column just right: outside
    EXPECT_EQ(rec.str(), "down up ");
    EXPECT_FALSE(b.Down());
    EXPECT_FALSE(b.MouseInControl());
    EXPECT_EQ(b.centre(), QColor(Qt::red));
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(39, 30)); // row just below: inside
    EXPECT_EQ(rec.str(), "down up down up click(D) ");
}

TEST(MBButton, DragOutAndBackShowsPressedGlyphOnlyInsideAndNoLeave)
{
    Skinned b;
    b.show();
    Recorder rec;
    rec.attach(b);
    enter(b);
    EXPECT_EQ(b.centre(), QColor(Qt::yellow));
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b.centre(), QColor(Qt::blue));
    moveHeld(b, QPoint(80, 5));
    leave(b);
    EXPECT_EQ(b.State(), bsUp);
    EXPECT_EQ(b.centre(), QColor(Qt::red));
    EXPECT_TRUE(b.MouseInControl());
    enter(b);
    moveHeld(b, QPoint(6, 6));
    EXPECT_EQ(b.centre(), QColor(Qt::blue));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(rec.str(), "enter down up click(D) ");
}

TEST(MBButton, HoverRules)
{
    Skinned b;
    b.show();
    Recorder rec;
    rec.attach(b);
    enter(b);
    EXPECT_EQ(b.centre(), QColor(Qt::yellow));
    leave(b);
    EXPECT_EQ(b.centre(), QColor(Qt::red));
    b.setDown(true);
    enter(b);
    EXPECT_EQ(b.centre(), QColor(Qt::blue)); // a down button keeps its down glyph
    leave(b);
    b.setDown(false);
    b.setGlyphOver(QImage());
    enter(b);
    EXPECT_EQ(b.centre(), QColor(Qt::red)); // empty over glyph: up stays
    EXPECT_EQ(rec.str(), "enter leave enter leave enter ");
}

TEST(MBButton, DisablingShowsDisabledGlyphCancelsPressAndEnablingRestores)
{
    Skinned b;
    b.show();
    Recorder rec;
    rec.attach(b);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(b.Dragging());
    b.setEnabled(false);
    EXPECT_FALSE(b.Dragging());
    EXPECT_EQ(b.centre(), QColor(Qt::gray));
    EXPECT_EQ(b.State(), bsDisabled);
    b.setEnabled(true);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5)); // the cancelled press gives no click
    EXPECT_EQ(rec.str(), "down up ");
    EXPECT_EQ(b.centre(), QColor(Qt::red));
    b.setDown(true);
    b.setEnabled(false);
    EXPECT_EQ(b.centre(), QColor(Qt::gray));
    b.setEnabled(true);
    EXPECT_EQ(b.centre(), QColor(Qt::blue));
}

TEST(MBButton, HidingMidPressDoesNotLeaveTheButtonDead)
{
    Skinned b;
    b.show();
    Recorder rec;
    rec.attach(b);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    b.hide(); // the release goes elsewhere
    b.show();
    EXPECT_FALSE(b.Dragging());
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(rec.str(), "down down up click(D) ");
}

TEST(MBButton, DoubleClickOnToggleButton)
{
    Skinned b;
    b.show();
    Recorder rec;
    rec.attach(b);
    // Qt sends press, release, double-click, release.
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(rec.str(), "down up click(D) down dbl up click(U) ");
    EXPECT_FALSE(b.Down());
}

TEST(MBButton, GlyphUpRepaintsAtOnceOthersWaitForTheNextPaint)
{
    struct Counting : Skinned {
        int paints = 0;
        void paintEvent(QPaintEvent* e) override
        {
            ++paints;
            Skinned::paintEvent(e);
        }
    } b;
    b.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
    QApplication::processEvents();
    const int before = b.paints;
    b.setGlyphDown(keyed(20, 20, Qt::cyan));
    b.setGlyphOver(keyed(20, 20, Qt::cyan));
    b.setGlyphDisable(keyed(20, 20, Qt::cyan));
    EXPECT_EQ(b.paints, before);
    b.setGlyphUp(keyed(20, 20, Qt::green));
    EXPECT_EQ(b.paints, before + 1);
}

namespace {

// Stands in for the modal menu loop: runs a scripted action while the "menu" is open.
struct MenuButton : Skinned {
    int execs = 0;
    QPoint lastPos;
    std::function<void(MenuButton&)> whileOpen;
    bool trackingSeenInside = false;
    void execDropDownMenu(TPopupMenu&, const QPoint& globalPos) override
    {
        ++execs;
        lastPos = mapFromGlobal(globalPos);
        trackingSeenInside = MenuTracking();
        if (whileOpen)
            whileOpen(*this);
    }
    void pressDirect(QPoint p)
    {
        QMouseEvent e(QEvent::MouseButtonPress, p, mapToGlobal(p), Qt::LeftButton, Qt::LeftButton, {});
        mousePressEvent(&e);
    }
};

} // namespace

TEST(MBButton, MenuPopsUpOnPressTogglesWithoutClickAndSwallowsTheClosingClick)
{
    MenuButton b;
    b.resize(40, 30);
    b.show();
    TPopupMenu menu;
    menu.Alignment = paRight;
    b.setDropDownMenu(&menu);
    Recorder rec;
    rec.attach(b);
    // The click that closes the menu lands on the button while the menu loop still runs.
    b.whileOpen = [](MenuButton& self) {
        QTest::mousePress(&self, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&self, Qt::LeftButton, {}, QPoint(5, 5));
    };
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b.execs, 1);
    EXPECT_TRUE(b.trackingSeenInside);
    EXPECT_EQ(b.lastPos, QPoint(41, 30));
    EXPECT_EQ(menu.PopupComponent, &b);
    EXPECT_FALSE(b.MenuTracking());
    EXPECT_FALSE(b.Dragging());
    EXPECT_TRUE(b.Down()); // toggled by the immediate finish, without a click
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(rec.str(), "down up up ");
    EXPECT_EQ(b.execs, 1); // did not reopen
}

TEST(MBButton, MenuWithoutAutoPopupBehavesAsNoMenu)
{
    MenuButton b;
    b.show();
    TPopupMenu menu;
    menu.AutoPopup = false;
    b.setDropDownMenu(&menu);
    Recorder rec;
    rec.attach(b);
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b.execs, 0);
    EXPECT_EQ(rec.str(), "down up click(D) ");
}

TEST(MBButton, ExceptionInMenuLoopStillClearsTracking)
{
    MenuButton b;
    b.show();
    TPopupMenu menu;
    b.setDropDownMenu(&menu);
    b.whileOpen = [](MenuButton&) { throw std::runtime_error("menu handler failed"); };
    EXPECT_THROW(b.pressDirect(QPoint(5, 5)), std::runtime_error);
    EXPECT_FALSE(b.MenuTracking());
}

TEST(MBButton, DestroyedMenuIsDroppedAndMarkGoes)
{
    Skinned b;
    b.resize(40, 30);
    b.setBorder(false);
    b.setGlyphState(gsNone);
    auto* menu = new TPopupMenu;
    b.setDropDownMenu(menu);
    QImage img = shot(b);
    const QColor mark(0, 128, 0);
    // The mark's widest row is at y = Height div 2 - 1, from x = Width - 10 to Width - 4.
    for (int x = 30; x <= 36; ++x)
        EXPECT_EQ(at(img, x, 14), mark) << x;
    EXPECT_EQ(at(img, 29, 14).alpha(), 0);
    EXPECT_EQ(at(img, 37, 14).alpha(), 0);
    EXPECT_EQ(at(img, 31, 15), mark);
    EXPECT_EQ(at(img, 30, 15).alpha(), 0);
    EXPECT_EQ(at(img, 33, 17), mark);
    EXPECT_EQ(at(img, 32, 17).alpha(), 0);
    EXPECT_EQ(at(img, 20, 15).alpha(), 0); // no glyph with gsNone
    delete menu;
    EXPECT_EQ(b.DropDownMenu(), nullptr);
    img = shot(b);
    EXPECT_EQ(at(img, 33, 14).alpha(), 0);
}

TEST(MBButton, MarkBesideGlyphWhenMenuSet)
{
    Skinned b;
    b.setBorder(false);
    TPopupMenu menu;
    b.setDropDownMenu(&menu);
    const QImage img = shot(b); // glyph 20x20 at (10,10): mark at x 30.., row y = 20 - 1
    EXPECT_EQ(at(img, 30, 19), QColor(0, 128, 0));
    EXPECT_EQ(at(img, 36, 19), QColor(0, 128, 0));
    b.setMarkDropDown(false);
    EXPECT_EQ(at(shot(b), 33, 19).alpha(), 0);
}

TEST(MBButton, DisabledCaptionIsEmbossed)
{
    TMBButton b;
    b.resize(120, 40);
    b.setBorder(false);
    QPalette pal = b.palette();
    pal.setColor(QPalette::Light, QColor(255, 0, 0));
    pal.setColor(QPalette::Dark, QColor(0, 0, 255));
    pal.setColor(QPalette::WindowText, QColor(0, 255, 0));
    b.setPalette(pal);
    QFont f = b.font();
    f.setPixelSize(24);
    f.setBold(true);
    f.setStyleStrategy(QFont::NoAntialias); // exact colours to count
    b.setFont(f);
    b.setCaption("HI");
    b.setTextPosition(tpOnGlyph);

    QImage img = shot(b);
    int text = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            text += img.pixelColor(x, y) == QColor(0, 255, 0);
    EXPECT_GT(text, 20); // enabled: the caption in the font colour

    b.setEnabled(false);
    img = shot(b);
    int dark = 0, lightBelowRight = 0, green = 0;
    for (int y = 0; y + 1 < img.height(); ++y)
        for (int x = 0; x + 1 < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            green += c.green() > 200;
            if (c == QColor(0, 0, 255)) {
                ++dark;
                const QColor d = img.pixelColor(x + 1, y + 1);
                lightBelowRight += d == QColor(255, 0, 0) || d == QColor(0, 0, 255);
            }
        }
    EXPECT_GT(dark, 20);
    EXPECT_EQ(green, 0);
    EXPECT_EQ(lightBelowRight, dark); // a light copy one pixel down-right under every dark pixel
    // The light copy shows somewhere (right and bottom edges of the strokes).
    int light = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            light += img.pixelColor(x, y) == QColor(255, 0, 0);
    EXPECT_GT(light, 0);
}

TEST(MBButton, ShadowDrawsCaptionOffsetInShadowColour)
{
    TMBButton b;
    b.resize(120, 40);
    b.setBorder(false);
    QPalette pal = b.palette();
    pal.setColor(QPalette::WindowText, QColor(0, 255, 0));
    b.setPalette(pal);
    QFont f = b.font();
    f.setPixelSize(24);
    b.setFont(f);
    b.setCaption("I");
    b.setTextPosition(tpOnGlyph);
    auto countGray = [&] {
        const QImage img = shot(b);
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += img.pixelColor(x, y) == QColor(128, 128, 128);
        return n;
    };
    EXPECT_EQ(countGray(), 0);
    b.setShadow(true);
    EXPECT_GT(countGray(), 0);
}

TEST(MBButton, RealMenuClosedByAClickOnTheButtonGivesNoClickAndDoesNotReopen)
{
    QWidget window;
    window.resize(200, 100);
    auto* b = new TMBButton(&window);
    b->setGeometry(10, 10, 40, 30);
    TPopupMenu menu;
    menu.addAction("one");
    b->setDropDownMenu(&menu);
    Recorder rec;
    rec.attach(*b);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int shown = 0;
    QObject::connect(&menu, &QMenu::aboutToShow, [&] {
        ++shown;
        // Once the menu is up, click the button through the window system, as a user would.
        QTimer::singleShot(50, [&] {
            QWindow* handle = window.windowHandle();
            QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(20, 20));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(20, 20));
        });
    });
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
    QApplication::processEvents();
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(menu.isVisible());
    EXPECT_FALSE(b->MenuTracking());
    EXPECT_FALSE(b->Dragging());
    EXPECT_TRUE(b->Down()); // the press that opened the menu toggled it, without a click
    EXPECT_EQ(rec.str().find("click"), std::string::npos) << rec.str();
}
