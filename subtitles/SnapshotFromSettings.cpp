#include "subtitles/SnapshotFromSettings.h"

namespace kv::subtitles {

subtitles::SubtitleRenderSettings renderSettingsFrom(const options::SubtitleSettings& s)
{
    subtitles::SubtitleRenderSettings r;
    r.EFontSize = s.EFontSize.Value;
    r.EObwodka = s.EObwodka.Value;
    r.CSubFontAutoHeight = s.CSubFontAutoHeight.Checked;
    r.FontVol = s.FontVol.Value;
    r.NapisyCzasTag = static_cast<int>(s.NapisyCzas.Tag);
    r.NapisBottom = s.NapisBottom.Value;
    r.FWidth = s.FWidth.Value;
    r.GSubFontType = s.GSubFontType.ItemIndex;
    r.CIQText = s.CIQText.Checked;
    r.IQTimeValue = s.IQTime.Value;
    r.IQTimeMax = s.IQTime.MaxValue;
    r.CIQDziel = s.CIQDziel.Checked;
    r.CIQZmniejsz = s.CIQZmniejsz.Checked;
    r.PanelWzor = subtitles::SubtitleFontInfo::fromQFont(s.PanelWzor.Font, s.PanelWzor.Color);
    return r;
}

std::shared_ptr<const subtitles::SubtitleSnapshot>
makeSubtitleSnapshot(const options::SubtitleSettings& settings, const subtitles::TimeTXTEditor& table)
{
    std::vector<subtitles::SubtitleTableEntry> rows;
    rows.reserve(static_cast<size_t>(table.rowCount()));
    for (int r = 0; r < table.rowCount(); ++r)
        rows.push_back({table.key(r), table.value(r)});
    return std::make_shared<const subtitles::SubtitleSnapshot>(renderSettingsFrom(settings), rows);
}

} // namespace kv::subtitles
