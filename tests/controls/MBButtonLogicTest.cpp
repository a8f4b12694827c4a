// The button's state machine driven by event sequences, without a widget. The small driver
// below does what the widget does with each Reaction: a repaint runs the state derivation
// at once, hover acceptance runs HoverEnter/HoverLeave and records the raised events.
#include "controls/MBButtonLogic.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace kv::controls;

namespace {

constexpr int W = 40, H = 30;

struct Driver {
    MBButtonLogic L;
    bool enabled = true;
    bool hasOver = true;
    std::vector<std::string> raised;

    void apply(const Reaction& r)
    {
        if (r.repaint)
            L.derive(enabled);
    }
    void step(const std::string& ev)
    {
        if (ev == "enter") {
            const Reaction r = L.pointerEnter(enabled, false);
            apply(r);
            if (r.hover) {
                apply(L.hoverEnter(hasOver));
                raised.push_back("MouseEnter");
            }
        } else if (ev == "leave") {
            const Reaction r = L.pointerLeave(enabled);
            apply(r);
            if (r.hover) {
                apply(L.hoverLeave(hasOver));
                raised.push_back("MouseLeave");
            }
        } else if (ev == "pressL" || ev == "pressR") {
            const Reaction r = L.press(ev == "pressL", enabled);
            if (r.ignored)
                return;
            raised.push_back("MouseDown");
            apply(r);
            if (r.track)
                L.endTracking(); // no menu
        } else if (ev.rfind("move", 0) == 0 || ev.rfind("release", 0) == 0) {
            int x = 0, y = 0;
            std::istringstream in(ev.substr(ev.find(' ')));
            in >> x >> y;
            const bool inside = MBButtonLogic::inside(x, y, W, H);
            if (ev[0] == 'm') {
                apply(L.move(inside));
            } else {
                raised.push_back("MouseUp");
                const Reaction r = L.finishPress(true, inside);
                apply(r);
                if (r.click)
                    raised.push_back(L.FDown ? "Click(down)" : "Click(up)");
            }
        } else if (ev == "paint") {
            L.derive(enabled);
        } else if (ev == "disable") {
            enabled = false;
        } else if (ev == "enable") {
            enabled = true;
        } else if (ev == "down=1" || ev == "down=0") {
            apply(L.setDown(ev == "down=1"));
        } else if (ev == "noOver") {
            hasOver = false;
        } else if (ev == "normal") {
            L.setButtonStyle(btNormal);
        } else if (ev == "gsNone") {
            L.setGlyphState(gsNone);
        } else {
            ADD_FAILURE() << "unknown step " << ev;
        }
    }
};

struct Case {
    const char* name;
    std::vector<std::string> steps;
    TButtonState state;
    TGlyphState glyph;
    bool down;
    std::vector<std::string> raised;
    bool dragging = false;
};

std::string join(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& e : v)
        s += e + " ";
    return s;
}

} // namespace

TEST(MBButtonLogic, EventSequencesGiveTheDocumentedStatesAndEvents)
{
    const std::vector<Case> cases = {
        {"fresh button painted", {"paint"}, bsUp, gsUp, false, {}},
        {"hover shows over glyph", {"enter", "paint"}, bsUp, gsOver, false, {"MouseEnter"}},
        {"hover without over glyph keeps up",
         {"noOver", "enter", "paint"},
         bsUp,
         gsUp,
         false,
         {"MouseEnter"}},
        {"hover on a down button keeps down",
         {"down=1", "enter", "paint"},
         bsDown,
         gsDown,
         true,
         {"MouseEnter"}},
        {"hover then leave", {"enter", "leave", "paint"}, bsUp, gsUp, false, {"MouseEnter", "MouseLeave"}},
        {"speed click toggles before OnClick",
         {"enter", "pressL", "release 5 5", "paint"},
         bsDown,
         gsDown,
         true,
         {"MouseEnter", "MouseDown", "MouseUp", "Click(down)"}},
        {"speed second click toggles back",
         {"pressL", "release 5 5", "pressL", "release 5 5", "paint"},
         bsUp,
         gsUp,
         false,
         {"MouseDown", "MouseUp", "Click(down)", "MouseDown", "MouseUp", "Click(up)"}},
        {"normal click stays up",
         {"normal", "pressL", "release 5 5", "paint"},
         bsUp,
         gsUp,
         false,
         {"MouseDown", "MouseUp", "Click(up)"}},
        {"normal ignores Down := True", {"normal", "down=1", "paint"}, bsUp, gsUp, false, {}},
        {"release outside: no toggle, no click",
         {"pressL", "release 40 5", "paint"},
         bsUp,
         gsUp,
         false,
         {"MouseDown", "MouseUp"}},
        {"row just below counts as inside",
         {"pressL", "release 0 30", "paint"},
         bsDown,
         gsDown,
         true,
         {"MouseDown", "MouseUp", "Click(down)"}},
        {"negative row is outside", {"pressL", "release 5 -1"}, bsUp, gsUp, false, {"MouseDown", "MouseUp"}},
        {"pressed and held", {"pressL"}, bsDown, gsDown, false, {"MouseDown"}, true},
        {"drag out shows up", {"pressL", "move 60 5", "paint"}, bsUp, gsUp, false, {"MouseDown"}, true},
        {"drag out and back shows down",
         {"pressL", "move 60 5", "paint", "move 5 5", "paint"},
         bsDown,
         gsDown,
         false,
         {"MouseDown"},
         true},
        {"leave during press raises nothing",
         {"enter", "pressL", "leave", "move 60 5"},
         bsUp,
         gsDown,
         false,
         {"MouseEnter", "MouseDown"},
         true},
        {"down button dragged out keeps down look",
         {"down=1", "pressL", "move 60 5", "paint"},
         bsDown,
         gsDown,
         true,
         {"MouseDown"},
         true},
        {"down button released outside stays down",
         {"down=1", "pressL", "release 60 5"},
         bsDown, // the release's repaint derives bsDown from Down
         gsDown,
         true,
         {"MouseDown", "MouseUp"}},
        {"right press does not press",
         {"pressR", "release 5 5", "paint"},
         bsUp,
         gsUp,
         false,
         {"MouseDown", "MouseUp"}},
        {"disabled look", {"disable", "paint"}, bsDisabled, gsDisabled, false, {}},
        {"disabling cancels a press",
         {"pressL", "disable", "paint"},
         bsDisabled,
         gsDisabled,
         false,
         {"MouseDown"}},
        {"press after cancel is taken again",
         {"pressL", "disable", "paint", "enable", "paint", "pressL"},
         bsDown,
         gsDown,
         false,
         {"MouseDown", "MouseDown"},
         true},
        {"enabled again while down",
         {"down=1", "disable", "paint", "enable", "paint"},
         bsDown,
         gsDown,
         true,
         {}},
        {"disabled button ignores hover",
         {"disable", "paint", "enter", "paint"},
         bsDisabled,
         gsDisabled,
         false,
         {}},
        {"Down := True without paint", {"down=1"}, bsExclusive, gsUp, true, {}},
        {"Down := False", {"down=1", "paint", "down=0"}, bsUp, gsUp, false, {}},
        {"gsNone survives everything",
         {"gsNone", "enter", "pressL", "release 5 5", "disable", "paint"},
         bsDisabled,
         gsNone,
         true,
         {"MouseEnter", "MouseDown", "MouseUp", "Click(down)"}},
        {"over glyph survives painting while pressed elsewhere",
         {"enter", "paint", "paint"},
         bsUp,
         gsOver,
         false,
         {"MouseEnter"}},
        {"press on over glyph shows down",
         {"enter", "pressL"},
         bsDown,
         gsDown,
         false,
         {"MouseEnter", "MouseDown"},
         true},
    };
    for (const Case& c : cases) {
        Driver d;
        for (const auto& s : c.steps)
            d.step(s);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(d.L.FState, c.state);
        EXPECT_EQ(d.L.FGlyphState, c.glyph);
        EXPECT_EQ(d.L.FDown, c.down);
        EXPECT_EQ(d.L.FDragging, c.dragging);
        EXPECT_EQ(join(d.raised), join(c.raised));
    }
}

TEST(MBButtonLogic, PressWhileTrackingOrDraggingIsIgnored)
{
    MBButtonLogic l;
    ASSERT_TRUE(l.press(true, true).track);
    EXPECT_TRUE(l.press(true, true).ignored); // still tracking (menu loop)
    EXPECT_FALSE(l.acceptsDoubleClick());
    l.endTracking();
    EXPECT_TRUE(l.press(false, true).ignored); // dragging until the release
    EXPECT_TRUE(l.acceptsDoubleClick());
}

TEST(MBButtonLogic, ReleaseWhileTrackingTogglesWithoutClick)
{
    MBButtonLogic l; // the release that follows a menu pop-up
    l.press(true, true);
    const Reaction r = l.finishPress(true, true);
    EXPECT_FALSE(r.click);
    EXPECT_TRUE(l.FDown);
    EXPECT_EQ(l.FState, bsDown);
}

TEST(MBButtonLogic, FrameRules)
{
    struct Row {
        TButtonStyle style;
        bool border, hover, down, enabled, visible;
    };
    const Row rows[] = {
        {btSpeed, true, false, false, true, true},       {btNormal, true, false, false, false, true},
        {btSpeed, false, false, false, true, false},     {btFlat, true, false, false, true, false},
        {btFlat, false, true, false, true, true},        {btSpeedFlat, false, false, true, true, true},
        {btSpeedFlat, false, true, false, false, false},
    };
    for (const Row& row : rows) {
        MBButtonLogic l;
        l.FButtonStyle = row.style;
        l.FBorder = row.border;
        l.FMouseInControl = row.hover;
        l.FDown = row.down;
        l.derive(row.enabled);
        EXPECT_EQ(l.frameVisible(), row.visible) << int(row.style) << row.border << row.hover << row.down;
    }
    MBButtonLogic l;
    l.setDown(true);
    EXPECT_TRUE(l.frameSunken());
}

TEST(MBButtonLogic, DropDownMenuPointTable)
{
    struct Row {
        TDropDownMenuPos pos;
        TPopupAlignment align;
        int x, y;
    };
    const Row rows[] = {
        {dmpBottom, paLeft, -1, 30}, {dmpBottom, paRight, 41, 30}, {dmpBottom, paCenter, 20, 30},
        {dmpRight, paLeft, 40, -1},  {dmpRight, paRight, -1, -1},  {dmpRight, paCenter, 20, 30},
    };
    for (const Row& r : rows) {
        const Point16 p = dropDownMenuPoint(true, r.pos, r.align, 40, 30);
        EXPECT_EQ(p.x, r.x);
        EXPECT_EQ(p.y, r.y);
    }
    EXPECT_EQ(dropDownMenuPoint(false, dmpBottom, paRight, 40, 30).x, 0);
    EXPECT_EQ(dropDownMenuPoint(true, dmpBottom, paRight, 32767, 40000).x, -32768); // 16-bit halves
}

TEST(MBButtonLogic, GlyphPlacementByTextPositionShiftAndMargin)
{
    struct Row {
        TTextPos pos;
        bool shift;
        int margin, x, y, tl, tt, tr, tb;
    };
    const Row rows[] = {
        {tpNone, false, -1, 5, 5, 0, 0, 0, 0},    {tpOnGlyph, true, -1, 6, 6, 0, 0, 0, 0},
        {tpLeft, false, -1, 10, 5, 0, 0, 30, 0},  {tpRight, false, -1, 0, 5, 30, 0, 0, 0},
        {tpAbove, false, -1, 5, 10, 0, 0, 0, 20}, {tpBelow, false, 3, 8, 0, 0, 20, 0, 0},
        {tpBelow, true, 0, 6, 1, 0, 20, 0, 0},
    };
    for (const Row& r : rows) {
        const GlyphPlacement g = placeGlyph(r.pos, 40, 30, 30, 20, r.shift, r.margin);
        EXPECT_EQ(g.x, r.x) << int(r.pos);
        EXPECT_EQ(g.y, r.y) << int(r.pos);
        EXPECT_EQ(g.trimLeft, r.tl);
        EXPECT_EQ(g.trimTop, r.tt);
        EXPECT_EQ(g.trimRight, r.tr);
        EXPECT_EQ(g.trimBottom, r.tb);
    }
    // Odd differences truncate toward zero, also when the glyph is larger than the button.
    EXPECT_EQ(placeGlyph(tpNone, 10, 10, 13, 13, false, -1).x, -1);
}
