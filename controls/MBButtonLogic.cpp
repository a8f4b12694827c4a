#include "controls/MBButtonLogic.h"

namespace kv::controls {

void MBButtonLogic::derive(bool enabled)
{
    if (!enabled) {
        FState = bsDisabled;
        if (FGlyphState != gsNone)
            FGlyphState = gsDisabled;
        FDragging = false;
    } else if (FState == bsDisabled) {
        FState = FDown ? bsExclusive : bsUp; // enabled again
    }
    if (FDown && FState != bsDisabled)
        FState = bsDown;
    if (FGlyphState != gsOver && FGlyphState != gsNone) {
        switch (FState) {
        case bsUp:
        case bsExclusive:
            FGlyphState = gsUp;
            break;
        case bsDisabled:
            FGlyphState = gsDisabled;
            break;
        case bsDown:
            FGlyphState = gsDown;
            break;
        }
    }
}

bool MBButtonLogic::frameVisible() const
{
    const bool bordered = FBorder && (FButtonStyle == btSpeed || FButtonStyle == btNormal);
    const bool hotFlat = (FMouseInControl || FDown) && FState != bsDisabled && flat(FButtonStyle);
    return bordered || hotFlat;
}

Reaction MBButtonLogic::pointerEnter(bool enabled, bool captureHeld)
{
    Reaction r;
    if (!FMouseInControl && enabled && !captureHeld) {
        FMouseInControl = true;
        r.repaint = flat(FButtonStyle);
        r.hover = true;
    }
    return r;
}

Reaction MBButtonLogic::hoverEnter(bool hasOverGlyph)
{
    Reaction r;
    if (FGlyphState != gsNone && hasOverGlyph && !FDown) {
        FGlyphState = gsOver;
        r.invalidate = true;
    }
    return r;
}

Reaction MBButtonLogic::pointerLeave(bool enabled)
{
    Reaction r;
    // Leaving during a press keeps the hover flag; the release decides.
    if (FMouseInControl && enabled && !FDragging) {
        FMouseInControl = false;
        r.invalidate = flat(FButtonStyle);
        r.hover = true;
    }
    return r;
}

Reaction MBButtonLogic::hoverLeave(bool hasOverGlyph)
{
    Reaction r;
    if (FGlyphState != gsNone && hasOverGlyph) {
        FGlyphState = gsUp; // the next paint derives the right glyph from FState
        r.invalidate = true;
    }
    return r;
}

Reaction MBButtonLogic::press(bool leftButton, bool enabled)
{
    Reaction r;
    if (FMenuTracking || FDragging) {
        r.ignored = true;
        return r;
    }
    if (!FMouseInControl && enabled) {
        FMouseInControl = true;
        r.repaint = true;
    }
    if (!leftButton || !enabled)
        return r;
    if (!FDown) {
        FState = bsDown;
        if (FGlyphState != gsNone)
            FGlyphState = gsDown;
        r.repaint = true;
    }
    FDragging = true;
    FMenuTracking = true;
    r.track = true;
    return r;
}

Reaction MBButtonLogic::move(bool isInside)
{
    Reaction r;
    if (!FDragging)
        return r;
    const TButtonState next = FDown ? bsExclusive : (isInside ? bsDown : bsUp);
    if (next != FState) {
        FState = next;
        r.invalidate = true;
    }
    return r;
}

Reaction MBButtonLogic::finishPress(bool leftButton, bool isInside)
{
    Reaction r;
    if (!FDragging || !leftButton)
        return r;
    FDragging = false;
    FState = bsUp;
    if (isInside) {
        if (toggles(FButtonStyle)) {
            FDown = !FDown; // directly, not through setDown: no forced repaint of the setter
            if (FDown)
                FState = bsDown;
        }
        r.repaint = true;
        r.click = !FMenuTracking;
    } else {
        FMouseInControl = false;
        if (FDown)
            FState = bsExclusive;
        r.repaint = true;
    }
    return r;
}

Reaction MBButtonLogic::setDown(bool value)
{
    Reaction r;
    if (FButtonStyle == btFlat || FButtonStyle == btNormal)
        value = false;
    if (value == FDown)
        return r;
    FDown = value;
    if (value) {
        r.invalidate = FState == bsUp;
        FState = bsExclusive;
    } else {
        FState = bsUp;
        r.repaint = true;
    }
    return r;
}

Reaction MBButtonLogic::setButtonStyle(TButtonStyle style)
{
    Reaction r;
    if (style != FButtonStyle) {
        FButtonStyle = style;
        r.invalidate = true;
    }
    return r;
}

Reaction MBButtonLogic::setBorder(bool border)
{
    Reaction r;
    if (border != FBorder) {
        FBorder = border;
        r.invalidate = true;
    }
    return r;
}

Reaction MBButtonLogic::setGlyphState(TGlyphState state)
{
    Reaction r;
    if (state != FGlyphState) {
        FGlyphState = state;
        r.invalidate = true;
    }
    return r;
}

Reaction MBButtonLogic::cancelPress()
{
    if (!FDragging)
        return {};
    return finishPress(true, false);
}

Point16 dropDownMenuPoint(bool hasMenu, TDropDownMenuPos pos, TPopupAlignment align, int width, int height)
{
    if (!hasMenu)
        return {0, 0};
    Point16 p;
    if (pos == dmpBottom) {
        switch (align) {
        case paLeft:
            p = {-1, height};
            break;
        case paRight:
            p = {width + 1, height};
            break;
        case paCenter:
            p = {width / 2, height};
            break;
        }
    } else {
        switch (align) {
        case paLeft:
            p = {width, -1};
            break;
        case paRight:
            p = {-1, -1};
            break;
        case paCenter:
            p = {width / 2, height};
            break;
        }
    }
    // The point travels as two signed 16-bit halves.
    return {static_cast<std::int16_t>(p.x), static_cast<std::int16_t>(p.y)};
}

GlyphPlacement placeGlyph(TTextPos pos, int width, int height, int w, int h, bool pressedShift, int margin)
{
    GlyphPlacement g;
    switch (pos) {
    case tpNone:
    case tpOnGlyph:
        g.x = (width - w) / 2;
        g.y = (height - h) / 2;
        break;
    case tpLeft:
        g.x = width - w;
        g.y = (height - h) / 2;
        g.trimRight = w;
        break;
    case tpRight:
        g.x = 0;
        g.y = (height - h) / 2;
        g.trimLeft = w;
        break;
    case tpAbove:
        g.x = (width - w) / 2;
        g.y = height - h;
        g.trimBottom = h;
        break;
    case tpBelow:
        g.x = (width - w) / 2;
        g.y = 0;
        g.trimTop = h;
        break;
    }
    if (pressedShift) {
        ++g.x;
        ++g.y;
    }
    if (margin != -1)
        g.x += margin;
    return g;
}

} // namespace kv::controls
