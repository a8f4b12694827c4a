#include "subtitles/SubtitleLoader.h"

#include "platform/Product.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace kv::subtitles {

namespace {

constexpr qsizetype kMaxText = 255;
constexpr qsizetype kMaxFileBytes = 64 * 1024 * 1024; // far above any real subtitle file
constexpr int kCleanupLastPosition = 5000;
constexpr int kTmPlayerLastPosition = 3000;
// Keys are read back elsewhere as 32-bit integers of milliseconds.
constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::int32_t>::max() / 1000;

// Blanks and control characters at both ends removed.
QString trimBlanks(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b).toString();
}

// A decimal integer with optional leading blanks and sign, within 32 bits.
std::optional<std::int64_t> parseInteger(QStringView s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i >= s.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return std::nullopt;
        value = value * 10 + (s[i].unicode() - u'0');
        if (value > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
    }
    return negative ? -value : value;
}

// Exactly `s` made of digits only (times of day, SubRip fields, minutes and seconds).
std::optional<int> parseDigits(QStringView s)
{
    if (s.isEmpty())
        return std::nullopt;
    int value = 0;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// "hh:mm:ss" with hours below 24, as a time of day in seconds.
std::optional<std::int64_t> parseTimeOfDay(QStringView s)
{
    if (s.size() != 8 || s[2] != u':' || s[5] != u':')
        return std::nullopt;
    const auto h = parseDigits(s.mid(0, 2));
    const auto m = parseDigits(s.mid(3, 2));
    const auto sec = parseDigits(s.mid(6, 2));
    if (!h || !m || !sec || *h >= 24 || *m >= 60 || *sec >= 60)
        return std::nullopt;
    return *h * 3600 + *m * 60 + *sec;
}

// 1-based character access that is safe past the end.
QChar charAt(const QString& s, qsizetype position)
{
    return position >= 1 && position <= s.size() ? s[position - 1] : QChar();
}

// The text after the next `close` in `rest`, or all of it when there is none.
QString afterNext(const QString& rest, QChar close)
{
    const qsizetype at = rest.indexOf(close);
    return at < 0 ? rest : rest.mid(at + 1);
}

// A timing line ("... --> ..."), or a counter of any length followed by one. Without this a
// counter above 9999 or a file without counters would run every later cue into one text.
bool startsSubRipCue(const QStringList& lines, qsizetype i)
{
    const QString& line = lines[i];
    if (line.contains(QLatin1String("-->")))
        return true;
    const bool counter =
        !line.isEmpty() && std::all_of(line.begin(), line.end(), [](QChar c) { return c.isDigit(); });
    return counter && i + 1 < lines.size() && lines[i + 1].contains(QLatin1String("-->"));
}

// Finds the next second, from a given one, at which the table has no row with text. A second
// taken once stays taken, so the searches share their jumps and a file of many cues in the
// same second still loads in linear time.
class FreeSeconds {
  public:
    explicit FreeSeconds(const TimeTXTEditor& table) : table_(table) {}

    std::int64_t from(std::int64_t second)
    {
        path_.clear();
        std::int64_t current = second;
        while (taken(current)) {
            path_.push_back(current);
            const auto jump = next_.constFind(current);
            current = jump != next_.constEnd() ? *jump : current + 1;
        }
        for (std::int64_t s : path_)
            next_.insert(s, current);
        return current;
    }

  private:
    bool taken(std::int64_t second) const
    {
        const auto text = table_.textForKey(second * 1000);
        return text && !text->isEmpty();
    }

    const TimeTXTEditor& table_;
    QHash<std::int64_t, std::int64_t> next_;
    std::vector<std::int64_t> path_;
};

// The SubStation event lines rewritten as "h:mm:ss. text" lines. Returns an error text when
// there is no "[Events]" line or nothing after it.
QString rewriteSubStation(QStringList& lines)
{
    qsizetype events = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].toUpper().contains(QLatin1String("[EVENTS]"))) {
            events = i;
            break;
        }
    }
    if (events < 0)
        return QStringLiteral("The SubStation file has no [Events] section");
    if (events + 1 >= lines.size())
        return QStringLiteral("The SubStation file has nothing after its [Events] line");
    lines.erase(lines.begin(), lines.begin() + events + 1);

    QStringList format;
    SplitByComma(lines.front().toUpper(), format);
    lines.removeFirst();
    qsizetype startColumn = format.indexOf(QLatin1String("START"));
    qsizetype textColumn = format.indexOf(QLatin1String("TEXT"));
    if (startColumn < 0 || textColumn < 0)
        startColumn = textColumn = 0;

    QStringList pieces;
    for (QString& line : lines) {
        pieces.clear();
        SplitByComma(line, pieces);
        if (pieces.size() <= std::max(startColumn, textColumn))
            continue;
        const qsizetype textAt = line.indexOf(pieces[textColumn]);
        QString rewritten =
            pieces[startColumn].left(8) + u' ' + line.mid(std::max<qsizetype>(textAt, 0), kMaxText);
        const qsizetype open = rewritten.indexOf(u'{');
        const qsizetype close = rewritten.indexOf(u'}');
        if (open >= 0 && close >= 0) // one override block is removed
            rewritten = rewritten.left(open) + rewritten.mid(close + 1);
        line = std::move(rewritten);
    }
    return {};
}

void cleanUp(QStringList& lines, bool subRip)
{
    QStringList kept;
    kept.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (subRip) {
            if (line.isEmpty())
                continue;
        } else if (i <= kCleanupLastPosition) {
            if (line.size() < 3 || line.contains(QLatin1String("SUBEDIT"), Qt::CaseInsensitive))
                continue;
        }
        kept.append(line);
    }
    lines = std::move(kept);
}

SubtitleFormat recognise(const QString& extension, const QStringList& lines, bool subRip)
{
    if (extension == QLatin1String(".SMI"))
        return SubtitleFormat::Sami;
    const QString& first = lines.front();
    if (charAt(first, 1) == u'{')
        return SubtitleFormat::MicroDvd;
    if (charAt(first, 1) == u'[')
        return (charAt(first, 7) == u']' && charAt(first, 4) != u'[') ? SubtitleFormat::BracketMinutesSeconds
                                                                      : SubtitleFormat::Mpl2;
    return subRip ? SubtitleFormat::SubRip : SubtitleFormat::TmPlayer;
}

void readTmPlayer(QStringList& lines, TimeTXTEditor& table)
{
    if (lines.back().startsWith(QLatin1String("00:00")))
        lines.removeLast();
    const qsizetype count = std::min<qsizetype>(lines.size(), kTmPlayerLastPosition + 1);
    for (qsizetype i = 0; i < count; ++i) {
        QString line = lines[i];
        if (charAt(line, 2) == u':')
            line.prepend(u'0');
        const auto seconds = parseTimeOfDay(QStringView(line).left(8));
        if (!seconds)
            continue;
        table.append(*seconds * 1000, line.mid(9, kMaxText));
    }
}

// The other formats; `fps` is only used for MicroDVD.
void readTimed(SubtitleFormat format, const QStringList& lines, double fps, TimeTXTEditor& table)
{
    FreeSeconds freeSeconds(table);
    const qsizetype n = lines.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QString& line = lines[i];
        const QString rest = line.mid(1, kMaxText);
        std::int64_t total = 0;
        std::int64_t hours = 0, minutes = 0, seconds = 0;
        QString text;
        switch (format) {
        case SubtitleFormat::MicroDvd:
        case SubtitleFormat::Mpl2: {
            const QChar close = format == SubtitleFormat::MicroDvd ? u'}' : u']';
            const qsizetype at = rest.indexOf(close);
            const auto number = at < 0 ? std::nullopt : parseInteger(QStringView(rest).left(at));
            if (!number || *number < 0)
                continue;
            if (format == SubtitleFormat::MicroDvd) {
                const double exact = static_cast<double>(*number) / fps;
                if (!(exact < static_cast<double>(kMaxSeconds + 1)))
                    continue;
                total = static_cast<std::int64_t>(exact);
            } else {
                total = *number / 10;
            }
            text = afterNext(rest.mid(at + 1), close);
            break;
        }
        case SubtitleFormat::BracketMinutesSeconds: {
            const auto m = parseDigits(QStringView(rest).mid(0, 2));
            const auto s = parseDigits(QStringView(rest).mid(3, 2));
            if (!m || !s)
                continue;
            minutes = *m;
            seconds = *s;
            text = afterNext(afterNext(rest, u']'), u']');
            break;
        }
        case SubtitleFormat::Sami: {
            if (!rest.startsWith(QLatin1String("SYNC "), Qt::CaseInsensitive) ||
                rest.contains(QLatin1String("CLASS"), Qt::CaseInsensitive) || rest.endsWith(u';'))
                continue;
            const qsizetype eq = rest.indexOf(u'=');
            if (eq < 0)
                continue;
            QString tail = rest.mid(eq + 1);
            const qsizetype gt = tail.indexOf(u'>');
            const auto ms = gt < 0 ? std::nullopt : parseInteger(QStringView(tail).left(gt));
            if (!ms || *ms < 0)
                continue;
            total = *ms / 1000;
            tail = tail.mid(gt + 1);
            const qsizetype br = tail.indexOf(QLatin1String("<BR>"), 0, Qt::CaseInsensitive);
            if (br >= 0)
                tail.replace(br, 4, QStringLiteral("|"));
            text = afterNext(tail, u'>');
            break;
        }
        case SubtitleFormat::SubRip: {
            const auto h = parseDigits(QStringView(line).mid(0, 2));
            const auto m = parseDigits(QStringView(line).mid(3, 2));
            const auto s = parseDigits(QStringView(line).mid(6, 2));
            if (!h || !m || !s)
                continue;
            if (i + 1 >= n)
                continue; // a timing line without text
            hours = *h;
            minutes = *m;
            seconds = *s;
            text = lines[++i];
            // Text lines go on until a short line (normally the next cue's counter) or the
            // start of the next cue.
            while (i + 1 < n && lines[i + 1].size() > 4 && !startsSubRipCue(lines, i + 1)) {
                text += u'|';
                text += lines[++i];
            }
            break;
        }
        default:
            return;
        }
        if (total == 0)
            total = hours * 3600 + minutes * 60 + seconds;
        if (total > kMaxSeconds)
            continue;
        total = freeSeconds.from(total);
        if (total > kMaxSeconds)
            continue;
        table.append(total * 1000, text.left(kMaxText));
    }
}

// No two neighbouring rows keep the same key: the lower one moves one second on.
void separateNeighbours(TimeTXTEditor& table)
{
    for (int row = 1; row < table.rowCount(); ++row) {
        if (table.keyMs(row) == table.keyMs(row - 1))
            table.setKeyMs(row, table.keyMs(row - 1) + 1000);
    }
    table.reindex();
}

} // namespace

QString formatName(SubtitleFormat format)
{
    switch (format) {
    case SubtitleFormat::SubStation:
        return QStringLiteral("SubStation Alpha");
    case SubtitleFormat::Sami:
        return QStringLiteral("SAMI");
    case SubtitleFormat::MicroDvd:
        return QStringLiteral("MicroDVD");
    case SubtitleFormat::Mpl2:
        return QStringLiteral("MPL2");
    case SubtitleFormat::BracketMinutesSeconds:
        return QStringLiteral("[mm:ss]");
    case SubtitleFormat::SubRip:
        return QStringLiteral("SubRip");
    case SubtitleFormat::TmPlayer:
        return QStringLiteral("TMPlayer");
    case SubtitleFormat::None:
        break;
    }
    return QStringLiteral("unknown");
}

QString creditRowText()
{
    return QStringLiteral(".:: www.") + QLatin1String(platform::kVendorDomain) + QStringLiteral(" ::.");
}

void SplitByComma(const QString& text, QStringList& list)
{
    QStringView remainder(text);
    for (;;) {
        const qsizetype comma = remainder.indexOf(u',');
        if (comma < 0) {
            list.append(trimBlanks(remainder));
            return;
        }
        list.append(trimBlanks(remainder.left(comma)));
        remainder = remainder.mid(comma + 1).left(kMaxText);
    }
}

LoadResult LoadTXT(const QString& path, double sourceFrameRate,
                   [[maybe_unused]] const options::SubtitleSettings& settings, TimeTXTEditor& table,
                   QStringList& rawLines, const DecodeOptions& decodeOptions)
{
    LoadResult result;
    const QFileInfo info(path);

    // 1. The file's lines. A file that cannot be read changes nothing.
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        result.message = QStringLiteral("Cannot read the subtitle file %1: %2")
                             .arg(path, info.isDir() ? QStringLiteral("it is a folder") : file.errorString());
        return result;
    }
    if (file.size() > kMaxFileBytes) {
        result.message =
            QStringLiteral("The subtitle file %1 is too large (%2 bytes)").arg(path).arg(file.size());
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.message = QStringLiteral("Cannot read the subtitle file %1: %2").arg(path, file.errorString());
        return result;
    }
    QString decodeError;
    const auto decoded = decodeSubtitleBytes(bytes, decodeOptions, &decodeError);
    if (!decoded) {
        result.message = decodeError;
        return result;
    }
    result.encoding = decoded->encoding;
    QStringList lines = splitLines(decoded->text);

    // 2. SubStation events become "h:mm:ss. text" lines.
    const qsizetype dot = info.fileName().lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : info.fileName().mid(dot).toUpper();
    const bool subStation = extension == QLatin1String(".SSA") || extension == QLatin1String(".ASS");
    if (subStation) {
        const QString error = rewriteSubStation(lines);
        if (!error.isEmpty()) {
            result.message = error + QStringLiteral(": ") + path;
            return result;
        }
    }

    // 3. Cleanup.
    const bool subRip = extension == QLatin1String(".SRT");
    cleanUp(lines, subRip);
    rawLines = lines;

    // 4. A fresh table with the credit row.
    table.clear();
    table.append(0, creditRowText());

    if (rawLines.isEmpty()) {
        result.message = QStringLiteral("The subtitle file %1 holds no subtitle lines").arg(path);
        return result;
    }

    // 5. The format.
    result.format = subStation ? SubtitleFormat::SubStation : recognise(extension, rawLines, subRip);

    if (result.format == SubtitleFormat::SubStation || result.format == SubtitleFormat::TmPlayer) {
        // 6. TMPlayer lines (also the rewritten SubStation events).
        readTmPlayer(rawLines, table);
    } else if (result.format == SubtitleFormat::MicroDvd &&
               !(std::isfinite(sourceFrameRate) && sourceFrameRate > 0)) {
        // Frame numbers mean nothing without the source's frame rate.
        result.message = QStringLiteral("MicroDVD subtitles %1 need the frame rate of the source, which is "
                                        "unknown (no video stream?); no subtitles were loaded")
                             .arg(path);
        rawLines.clear();
        return result;
    } else {
        // 7. The other formats.
        readTimed(result.format, rawLines, sourceFrameRate, table);
    }

    // 8. Neighbour pass; 9. done.
    separateNeighbours(table);
    rawLines.clear();
    result.ok = true;
    result.cueRows = table.rowCount() - 1;
    result.message = QStringLiteral("Loaded %1 subtitles (%2, %3) from %4")
                         .arg(result.cueRows)
                         .arg(formatName(result.format), result.encoding, path);
    return result;
}

} // namespace kv::subtitles
