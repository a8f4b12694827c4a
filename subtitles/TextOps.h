#pragma once
// Text operations the subtitle renderer applies to each screen line: where to break an
// over-long line, and how the inline style tags of a line change the font it is drawn with.
#include <QRgb>
#include <QString>

namespace kv::subtitles {

// A font style set as the subtitle settings store it (bit 0 bold, 1 italic, 2 underline,
// 3 strike-out).
enum FontStyleBit : unsigned { fsBold = 1u, fsItalic = 2u, fsUnderline = 4u, fsStrikeOut = 8u };
using FontStyles = unsigned;

// The font name, colour and style one rendering call carries from screen line to screen
// line. One object per rendering call, owned by the caller: the renderer runs on the
// conversion worker, so nothing of this may live in globals.
struct InlineTagState {
    QString FontName;          // current subtitle font name
    QRgb Colour = 0xffffffffu; // current subtitle colour
    FontStyles Style = 0;      // style of the working font
    // What the first line of a subtitle starts from (the subtitle font's face and style).
    QString BaseFontName;
    FontStyles BaseStyle = 0;
};

// Position (counted from 1) at which an over-long line is cut in two; 0: do not cut.
// The caller keeps characters 1 .. position-1 as the first part and the rest as the second.
int FindSplitPoint(const QString& line);

// Resolves the inline tags of one screen line ({F:name}, {C:$BBGGRR}, <FONT COLOR="#RRGGBB">,
// </FONT, <i>, {Y:I}, {Y:B}, {Y:U} ...), updates the state and returns the line without them.
// `reset` is on for the first screen line of a subtitle, off for the following ones.
QString ApplyInlineTags(const QString& line, bool reset, InlineTagState& state);

} // namespace kv::subtitles
