#include "subtitles/SubtitleSnapshot.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace kv::subtitles {

SubtitleFontInfo SubtitleFontInfo::fromQFont(const QFont& font, const QColor& colour)
{
    SubtitleFontInfo info;
    info.Name = font.family();
    if (font.pixelSize() > 0)
        info.PixelHeight = font.pixelSize();
    else if (font.pointSizeF() > 0)
        info.PixelHeight = static_cast<int>(std::lround(font.pointSizeF() * 96.0 / 72.0));
    info.Style = (font.bold() ? fsBold : 0u) | (font.italic() ? fsItalic : 0u) |
                 (font.underline() ? fsUnderline : 0u) | (font.strikeOut() ? fsStrikeOut : 0u);
    info.Colour = colour.rgb();
    return info;
}

namespace {

// A value read from another program's settings may be anything a double can hold: keep it
// within what its control allows, and take the default for a value that is not a number.
void keepInRange(double& value, double lowest, double highest, double fallback)
{
    value = std::isfinite(value) ? std::clamp(value, lowest, highest) : fallback;
}

} // namespace

SubtitleRenderSettings WithinRanges(SubtitleRenderSettings s)
{
    const SubtitleRenderSettings defaults;
    keepInRange(s.EFontSize, 6, 99, defaults.EFontSize);
    keepInRange(s.EObwodka, 1, 6, defaults.EObwodka);
    keepInRange(s.FontVol, 3, 30, defaults.FontVol);
    keepInRange(s.NapisBottom, 0, 99, defaults.NapisBottom);
    keepInRange(s.FWidth, 50, 99, defaults.FWidth);
    return s;
}

SubtitleSnapshot::SubtitleSnapshot(const SubtitleRenderSettings& settings,
                                   const std::vector<SubtitleTableEntry>& table)
    : settings_(WithinRanges(settings))
{
    // The grid's lookup by key finds the first row holding it.
    QHash<QString, qsizetype> firstWithKey;
    for (qsizetype i = 0; i < static_cast<qsizetype>(table.size()); ++i)
        if (!firstWithKey.contains(table[i].Key))
            firstWithKey.insert(table[i].Key, i);

    rows_.reserve(table.size());
    for (const SubtitleTableEntry& entry : table) {
        Row row;
        bool ok = false;
        const int key = entry.Key.toInt(&ok, 10);
        row.KeyValid = ok;
        row.KeyMs = ok ? key : 0;
        row.DueUs = static_cast<std::int64_t>(row.KeyMs) * 1000;
        row.Text = table[firstWithKey.value(entry.Key)].Text;
        rows_.push_back(std::move(row));
    }

    earliestDue_.assign(rows_.size() + 1, std::numeric_limits<std::int64_t>::max());
    for (std::size_t i = rows_.size(); i-- > 0;)
        earliestDue_[i] =
            rows_[i].KeyValid ? std::min(rows_[i].DueUs, earliestDue_[i + 1]) : earliestDue_[i + 1];
}

std::int64_t SubtitleSnapshot::earliestDueFrom(std::size_t from) const
{
    if (from >= earliestDue_.size())
        return std::numeric_limits<std::int64_t>::max();
    return earliestDue_[from];
}

} // namespace kv::subtitles
