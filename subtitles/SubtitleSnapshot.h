#pragma once
// What the conversion worker needs of the subtitle settings and the subtitle table, copied
// once on the GUI thread when a conversion starts. The worker reads only this immutable
// value, never the window's settings or table, so nothing it reads can change under it.
#include "subtitles/TextOps.h"

#include <QColor>
#include <QFont>
#include <QRgb>
#include <QString>

#include <cstdint>
#include <vector>

namespace kv::subtitles {

// The subtitle font (the font of the sample panel PanelWzor): face, character height in
// pixels (a 20-point font at 96 dpi is 27 pixels high), style and colour.
struct SubtitleFontInfo {
    QString Name = QStringLiteral("Arial");
    int PixelHeight = 27;
    FontStyles Style = 0;
    QRgb Colour = qRgb(255, 255, 255);

    // From a QFont (pixel size, or point size taken at 96 dpi) and its colour.
    static SubtitleFontInfo fromQFont(const QFont& font, const QColor& colour);
};

// The settings the burner reads, by their control names, with the program's defaults.
struct SubtitleRenderSettings {
    double EFontSize = 20;          // points; with automatic height also a lower bound
    double EObwodka = 4;            // outline width in pixels (integer part used)
    bool CSubFontAutoHeight = true; // font height follows the frame height
    double FontVol = 10;            // automatic height, percent of the frame height
    int NapisyCzasTag = 4000;       // fixed display time in ms (IQ rule off)
    double NapisBottom = 1;         // gap below the block, percent of the free height
    double FWidth = 95;             // maximum line width, percent of the frame width (+1)
    int GSubFontType = 0;           // 0 transparent, 1 opaque, 2 semi-transparent, 3 semi (XP)
    bool CIQText = true;            // reading-time rule on
    int IQTimeValue = 4000;         // reading speed
    int IQTimeMax = 5500;           // longest display time of the reading-time rule, ms
    bool CIQDziel = true;           // break over-long lines
    bool CIQZmniejsz = true;        // shrink the font for over-long lines
    SubtitleFontInfo PanelWzor;     // the subtitle font
};

// The settings with each spin-edit value kept within its control's range (a value that is
// not a number takes the default), so that no arithmetic on them can go astray.
SubtitleRenderSettings WithinRanges(SubtitleRenderSettings settings);

// One row of the subtitle table as the grid holds it: key (start time in ms as decimal
// text) and text.
struct SubtitleTableEntry {
    QString Key;
    QString Text;
};

class SubtitleSnapshot {
  public:
    // One table row ready for the worker.
    struct Row {
        bool KeyValid = false;  // false: the key is not a 32-bit decimal integer; never due
        std::int32_t KeyMs = 0; // start time, ms
        std::int64_t DueUs = 0; // KeyMs * 1000: due when the frame time reaches it
        QString Text;           // the text stored under this row's key (the first row's
                                // text when several rows share the key)
    };

    SubtitleSnapshot() = default;
    // `table` in grid order, first data row first (the credit row). Spin-edit values are
    // kept within their controls' ranges (a value that is not a number takes the default).
    SubtitleSnapshot(const SubtitleRenderSettings& settings, const std::vector<SubtitleTableEntry>& table);

    const SubtitleRenderSettings& settings() const { return settings_; }
    const std::vector<Row>& rows() const { return rows_; }
    // Earliest due time among rows[from ..]; INT64_MAX past the end. Lets a frame with
    // nothing due skip the walk.
    std::int64_t earliestDueFrom(std::size_t from) const;

  private:
    SubtitleRenderSettings settings_;
    std::vector<Row> rows_;
    std::vector<std::int64_t> earliestDue_; // suffix minima of DueUs over valid rows
};

} // namespace kv::subtitles
