#include "subtitles/SubtitleSchedule.h"

namespace kv::subtitles {

void ResetSubtitleSchedule(SubtitleScheduleState& state)
{
    state.CurrentRow = 0;
    state.Queue.clear();
    state.CurrentText.clear();
    state.OnScreen = false;
    state.OnScreenUntil = 0;
}

std::int64_t ReadingTimeMs(const QString& text, std::size_t queueLength,
                           const SubtitleRenderSettings& settings)
{
    if (!settings.CIQText)
        return settings.NapisyCzasTag;

    // 1.5 x the length, scaled by the reading speed: 60 ms a character at the default 4000.
    // 64-bit, so that no text length can overflow it.
    const std::int64_t length = text.size();
    std::int64_t ms = static_cast<std::int64_t>(settings.IQTimeValue) * (length + length / 2) / 100;
    // The credit line carries a web address nobody needs to read in full.
    if (text.contains(QStringLiteral("www."), Qt::CaseSensitive))
        ms /= 4;
    // Lines waiting behind this one: shorten it so the subtitles catch up.
    if (queueLength >= 2)
        ms = static_cast<std::int64_t>(static_cast<double>(ms) * 0.75);
    if (ms < 800)
        ms = 800;
    if (ms > settings.IQTimeMax)
        ms = settings.IQTimeMax;
    return ms;
}

} // namespace kv::subtitles
