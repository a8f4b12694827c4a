#pragma once
// Where the window's controls sit on the 590x260 background and which glyph pictures each
// button has. The background leaves room for these rectangles and frames them.
#include <QRect>
#include <QSize>
#include <QString>

#include <array>

namespace kv::skingen {

inline constexpr QSize kBackgroundSize{590, 260};

enum class GlyphState { Up, Over, Down, Disabled };

inline const char* stateName(GlyphState s)
{
    switch (s) {
    case GlyphState::Up:
        return "up";
    case GlyphState::Over:
        return "over";
    case GlyphState::Down:
        return "down";
    case GlyphState::Disabled:
        return "disabled";
    }
    return "up";
}

// The look of a button's face; each kind has its own painter in Glyphs.cpp.
enum class ButtonKind {
    Add,
    AddSub,
    SubOn,
    Hi,
    Lo,
    VolDown,
    VolUp,
    Play,
    Stop,
    Pause,
    Close,
    StartConvert,
    PauseConvert,
    ResumeConvert,
    Info,
    Minimize
};

struct ButtonSpec {
    const char* name;
    ButtonKind kind;
    QRect control; // position and size of the button in the window
    QSize glyph;   // size of its glyph pictures (drawn at the control's top-left, clipped)
    bool over;     // has an "over" glyph
    bool disabled; // has a "disabled" glyph
};

// Every button has "up" and "down" glyphs; "over" and "disabled" as listed.
inline const std::array<ButtonSpec, 16> kButtons{{
    {"btnAdd", ButtonKind::Add, {141, 157, 41, 27}, {41, 27}, true, true},
    {"btnAddSub", ButtonKind::AddSub, {188, 157, 41, 27}, {41, 27}, true, true},
    {"btnSubOn", ButtonKind::SubOn, {222, 160, 14, 12}, {15, 13}, false, false},
    {"btnHi", ButtonKind::Hi, {187, 193, 19, 15}, {19, 15}, true, true},
    {"btnLo", ButtonKind::Lo, {210, 193, 19, 15}, {19, 15}, true, true},
    {"btnVol1", ButtonKind::VolDown, {164, 230, 21, 15}, {21, 15}, true, true},
    {"btnVol2", ButtonKind::VolUp, {203, 230, 20, 15}, {20, 15}, true, true},
    {"btnPlay", ButtonKind::Play, {507, 64, 34, 34}, {34, 34}, true, true},
    {"btnStop", ButtonKind::Stop, {473, 99, 34, 34}, {35, 34}, true, true},
    {"btnPause", ButtonKind::Pause, {541, 100, 34, 34}, {34, 33}, true, true},
    {"btnClose", ButtonKind::Close, {507, 132, 34, 34}, {34, 34}, true, false},
    {"btnStartConvert", ButtonKind::StartConvert, {285, 181, 169, 27}, {169, 27}, true, true},
    // Pause and resume are moved onto the start button's place when a conversion starts.
    {"btnPauseConvert", ButtonKind::PauseConvert, {285, 181, 169, 27}, {169, 27}, true, false},
    {"btnResumeConvert", ButtonKind::ResumeConvert, {285, 181, 169, 27}, {169, 27}, true, false},
    {"btnInfo", ButtonKind::Info, {403, 228, 35, 18}, {35, 18}, true, false},
    {"btnMinimize", ButtonKind::Minimize, {441, 228, 35, 18}, {35, 18}, true, false},
}};

// Other areas the background frames.
inline constexpr QRect kPreviewRect{285, 36, 168, 95};
inline constexpr QRect kLabelRect{285, 141, 168, 14}; // autosized label, one line of bold 8 pt
inline constexpr QRect kStripRect{285, 158, 168, 11};
inline constexpr QRect kInfoPictureRect{127, 26, 336, 192};

inline constexpr QSize kStripSize{168, 11};
inline constexpr QSize kInfoSize{336, 192};

} // namespace kv::skingen
