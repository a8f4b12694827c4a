#pragma once
// The press, hover and toggle state of the skinned button, kept apart from Qt so that
// every transition can be driven and checked without a widget. The widget turns its
// events into calls here and acts on the returned Reaction (paint, raise events).
#include <cstdint>

namespace kv::controls {

// Each enumeration is one byte, numbered from 0 in the order given; the names are the
// vocabulary of the window layout ("gsOver", "btNormal", ...).
enum TTextPos : std::uint8_t { tpNone, tpLeft, tpRight, tpAbove, tpBelow, tpOnGlyph };
enum TButtonState : std::uint8_t { bsUp, bsDisabled, bsDown, bsExclusive };
enum TGlyphState : std::uint8_t { gsDisabled, gsDown, gsUp, gsOver, gsNone };
enum TButtonStyle : std::uint8_t { btFlat, btSpeed, btNormal, btSpeedFlat };
enum TDropDownMenuPos : std::uint8_t { dmpBottom, dmpRight };
enum TPopupAlignment : std::uint8_t { paLeft, paRight, paCenter };

// What the widget has to do after a transition.
struct Reaction {
    bool invalidate = false; // schedule a paint
    bool repaint = false;    // paint at once (the state derivation runs in it)
    bool hover = false;      // pointer enter/leave accepted: run HoverEnter/HoverLeave
    bool ignored = false;    // press dropped altogether (no OnMouseDown)
    bool track = false;      // left press on an enabled button: menu handling follows
    bool click = false;      // raise Click
};

struct Point16 {
    int x = 0;
    int y = 0;
};

class MBButtonLogic {
  public:
    // Fields named as the control's own; public so the widget's accessors and the tests can read them.
    TButtonState FState = bsUp;
    TGlyphState FGlyphState = gsUp;
    TButtonStyle FButtonStyle = btSpeed;
    bool FDown = false;
    bool FBorder = true;
    bool FDragging = false;
    bool FMouseInControl = false;
    bool FMenuTracking = false;

    // Inside test of release, move and the swallowed click: the row just below the
    // button (y == h) counts as inside, the column just right of it (x == w) does not.
    static bool inside(int x, int y, int w, int h) { return x >= 0 && x < w && y >= 0 && y <= h; }
    static bool toggles(TButtonStyle s) { return s == btSpeed || s == btSpeedFlat; }
    static bool flat(TButtonStyle s) { return s == btFlat || s == btSpeedFlat; }

    // State derivation, run at the start of every paint.
    void derive(bool enabled);

    // Paint decisions (after derive).
    bool frameVisible() const;
    bool frameSunken() const { return FState == bsDown || FState == bsExclusive; }
    bool glyphPressedShift() const { return (FState == bsDown || FDown) && FBorder; }

    // Pointer enters / leaves; when Reaction::hover is set the widget runs HoverEnter/HoverLeave,
    // whose state part is hoverEnter/hoverLeave.
    Reaction pointerEnter(bool enabled, bool captureHeld);
    Reaction hoverEnter(bool hasOverGlyph);
    Reaction pointerLeave(bool enabled);
    Reaction hoverLeave(bool hasOverGlyph);

    // Mouse press up to the menu step. ignored: nothing at all happens (not even OnMouseDown);
    // track: FMenuTracking is now set and the caller must clear it with endTracking().
    Reaction press(bool leftButton, bool enabled);
    void endTracking() { FMenuTracking = false; }

    Reaction move(bool isInside);
    Reaction finishPress(bool leftButton, bool isInside);

    // A double click is dropped while a press (menu included) is being processed.
    bool acceptsDoubleClick() const { return !FMenuTracking; }

    Reaction setDown(bool value);
    Reaction setButtonStyle(TButtonStyle style);
    Reaction setBorder(bool border);
    Reaction setGlyphState(TGlyphState state);

    // The press ends without a release (the widget was hidden or disabled mid-press).
    Reaction cancelPress();
};

// Client point where the drop-down menu pops up; (0, 0) without a menu.
Point16 dropDownMenuPoint(bool hasMenu, TDropDownMenuPos pos, TPopupAlignment align, int width, int height);

// Where a W x H glyph is drawn and how the caption rectangle shrinks.
struct GlyphPlacement {
    int x = 0, y = 0;
    int trimLeft = 0, trimTop = 0, trimRight = 0, trimBottom = 0; // amounts taken off the caption rect
};
GlyphPlacement placeGlyph(TTextPos pos, int width, int height, int w, int h, bool pressedShift, int margin);

} // namespace kv::controls
