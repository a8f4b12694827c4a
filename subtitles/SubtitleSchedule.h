#pragma once
// The state the per-frame subtitle handler keeps between frames, and the reading-time rule
// that fixes how long a new line stays on screen.
#include "subtitles/SubtitleSnapshot.h"

#include <QString>

#include <cstdint>
#include <deque>

namespace kv::subtitles {

// One line that is due and waits to be shown.
struct TKolejkaTXT {
    QString Text;         // at most kMaxQueuedTextLength characters of the table's text
    std::int32_t Gap = 0; // ms from this row's start to the next row's start (0: no next row)
};

// Texts longer than this are cut when they are queued.
inline constexpr qsizetype kMaxQueuedTextLength = 255;

struct SubtitleScheduleState {
    std::size_t CurrentRow = 0;          // first row of the snapshot's table not taken yet
    std::deque<TKolejkaTXT> Queue;       // due lines, oldest first
    QString CurrentText;                 // the line last taken for display
    bool OnScreen = false;               // a line is held on screen
    std::int64_t OnScreenUntil = 0;      // µs: frame time after which the line is not held
    std::int64_t CurrentDisplayTime = 0; // ms: display time of the line on screen
    std::int64_t FrameTime = 0;          // µs: time of the frame being processed
};

// Prepares the state for a new conversion: the walk starts again at the first row, and
// nothing the previous conversion left queued or on screen carries over into this one.
void ResetSubtitleSchedule(SubtitleScheduleState& state);

// Display time in ms of a line that starts now. `queueLength` counts the line itself, which
// is still at the head of the queue when the rule runs.
std::int64_t ReadingTimeMs(const QString& text, std::size_t queueLength,
                           const SubtitleRenderSettings& settings);

} // namespace kv::subtitles
