#pragma once
// What a conversion's subtitle burner gets from the options holder: an immutable copy of
// the subtitle settings and the subtitle table, taken on the GUI thread when it starts.
#include "options/SubtitleSettings.h"
#include "subtitles/SubtitleSnapshot.h"
#include "subtitles/TimeTXTEditor.h"

#include <memory>

namespace kv::subtitles {

subtitles::SubtitleRenderSettings renderSettingsFrom(const options::SubtitleSettings& settings);

std::shared_ptr<const subtitles::SubtitleSnapshot>
makeSubtitleSnapshot(const options::SubtitleSettings& settings, const subtitles::TimeTXTEditor& table);

} // namespace kv::subtitles
