#pragma once
// Mouse button and shift state as the window's handlers see them: which keys and mouse
// buttons are held at the moment of a mouse event.
#include <Qt>

namespace kv::controls {

enum TMouseButton { mbLeft, mbRight, mbMiddle };

using TShiftState = unsigned;
enum : unsigned {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
    ssDouble = 1u << 6,
};

inline TMouseButton toMouseButton(Qt::MouseButton b)
{
    switch (b) {
    case Qt::RightButton:
        return mbRight;
    case Qt::MiddleButton:
        return mbMiddle;
    default:
        return mbLeft;
    }
}

inline TShiftState toShiftState(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods, bool isDouble = false)
{
    TShiftState s = 0;
    if (mods & Qt::ShiftModifier)
        s |= ssShift;
    if (mods & Qt::AltModifier)
        s |= ssAlt;
    if (mods & Qt::ControlModifier)
        s |= ssCtrl;
    if (buttons & Qt::LeftButton)
        s |= ssLeft;
    if (buttons & Qt::RightButton)
        s |= ssRight;
    if (buttons & Qt::MiddleButton)
        s |= ssMiddle;
    if (isDouble)
        s |= ssDouble;
    return s;
}

} // namespace kv::controls
