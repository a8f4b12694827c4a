#include "subtitles/TextOps.h"

#include <QStringView>

namespace kv::subtitles {

using namespace Qt::StringLiterals;

namespace {

// Value of a hex digit, or -1.
int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Six hex digits at `from` read as one number, or -1 when they are not all there.
long readHex6(const QString& s, qsizetype from)
{
    if (from < 0 || from + 6 > s.size())
        return -1;
    long value = 0;
    for (qsizetype i = from; i < from + 6; ++i) {
        const int digit = hexValue(s[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool charAt(const QString& s, qsizetype i, char16_t c)
{
    return i >= 0 && i < s.size() && s[i].unicode() == c;
}

} // namespace

int FindSplitPoint(const QString& line)
{
    const qsizetype length = line.size();
    // Only the middle is searched for punctuation: a break right after the first few
    // words or just before the last one would leave a stub line.
    const qsizetype middleLength = length - 15; // characters 10 .. length-6
    if (middleLength > 0) {
        const QStringView middle = QStringView(line).mid(9, middleLength);
        if (const qsizetype at = middle.indexOf(u"..."); at >= 0)
            return static_cast<int>(9 + at + 4);
        if (const qsizetype at = middle.indexOf(u','); at >= 0)
            return static_cast<int>(9 + at + 2);
        if (const qsizetype at = middle.indexOf(u'.'); at >= 0)
            return static_cast<int>(9 + at + 2);
    }
    const qsizetype third = length / 3;
    const qsizetype from = third < 1 ? 0 : third - 1; // character `third`, counted from 1
    const QStringView rest = QStringView(line).mid(from);
    if (rest.contains(u'{') || rest.contains(u'}'))
        return 0; // never cut inside a style tag
    if (const qsizetype at = rest.indexOf(u' '); at >= 0)
        return static_cast<int>(from + at + 2);
    return static_cast<int>(third);
}

QString ApplyInlineTags(const QString& line, bool reset, InlineTagState& state)
{
    QString s = line;
    const auto ci = Qt::CaseInsensitive;

    // {F:name} picks the font face.
    if (const qsizetype at = s.indexOf(u"{F:", 0, ci); at >= 0) {
        const qsizetype close = s.indexOf(u'}', at + 3);
        if (close >= 0) {
            state.FontName = s.mid(at + 3, close - at - 3);
            s.remove(at, close - at + 1);
        } else {
            state.FontName.clear();
            s.remove(at, 3);
        }
    } else if (reset) {
        state.FontName = state.BaseFontName;
    }

    // {C:$BBGGRR}: blue, green, red.
    if (const qsizetype at = s.indexOf(u"{C:$", 0, ci); at >= 0) {
        const long bgr = readHex6(s, at + 4);
        if (bgr >= 0 && charAt(s, at + 10, u'}')) {
            state.Colour = qRgb(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff);
            s.remove(at, 11);
        }
    }

    // <FONT COLOR="#RRGGBB">: red, green, blue.
    if (const qsizetype at = s.indexOf(u"<FONT COLOR=", 0, ci); at >= 0) {
        const long rgb = readHex6(s, at + 14);
        if (rgb >= 0 && charAt(s, at + 12, u'"') && charAt(s, at + 13, u'#') && charAt(s, at + 20, u'"') &&
            charAt(s, at + 21, u'>')) {
            state.Colour = qRgb((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
            s.remove(at, 22);
        }
    }

    if (const qsizetype at = s.indexOf(u"</FONT", 0, ci); at >= 0)
        s.truncate(at);

    // Italic, bold and underline tags all become a "/" marker that is then looked for
    // near the start of the line.
    s.replace(u"<i>"_s, u"/"_s, Qt::CaseSensitive);
    s.remove(u"</i>"_s, Qt::CaseSensitive);
    for (const QString& tag : {u"{Y:I}"_s, u"{Y I}"_s, u"{Y: I}"_s})
        s.replace(tag, u"/"_s, ci);

    bool resetInForce = reset;
    if (const qsizetype at = s.indexOf(u'/'); at >= 0 && at < 4) {
        s.remove(at, 1);
        state.Style = fsItalic;
        resetInForce = false;
    } else if (resetInForce) {
        state.Style = state.BaseStyle;
    }

    for (const QString& tag : {u"{Y:B}"_s, u"{Y: B}"_s})
        s.replace(tag, u"/"_s, ci);
    if (s.startsWith(u'/')) {
        s.remove(0, 1);
        state.Style = fsBold;
        resetInForce = false;
    } else if (resetInForce) {
        state.Style = state.BaseStyle;
    }

    s.replace(u"{Y:U}"_s, u"/"_s, ci);
    if (s.startsWith(u'/')) {
        s.remove(0, 1);
        state.Style = fsUnderline;
    } else if (resetInForce) {
        state.Style = state.BaseStyle;
    }
    return s;
}

} // namespace kv::subtitles
