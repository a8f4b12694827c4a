#pragma once
// Burns the subtitle table into the frames of a conversion: the per-frame handler decides
// which line is due and how long it stays, and the renderer draws it into the frame.
//
// Threads: the window calls ResetSubtitleSchedule on the GUI thread before the engine's
// worker starts; from then on only the worker calls FFVCLCustomHook (one call at a time).
// The window may store btnSubOn's state at any time; the worker reads it atomically. The
// worker reads the settings and the table only through the immutable snapshot.
#include "media/Records.h"
#include "subtitles/SubtitleLayout.h"
#include "subtitles/SubtitleSchedule.h"
#include "subtitles/SubtitleSnapshot.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace kv::subtitles {

class SubtitleBurner {
  public:
    SubtitleBurner();

    // GUI thread, before the engine starts: the settings and table for this conversion, and
    // a fresh schedule (first row, empty queue, nothing on screen).
    void ResetSubtitleSchedule(std::shared_ptr<const SubtitleSnapshot> snapshot);

    // btnSubOn "visible and down"; the window stores it whenever either changes.
    std::atomic<bool>& btnSubOn() { return btnSubOn_; }

    // Worker thread, once per source frame.
    void FFVCLCustomHook(kv::media::THookInfo& info);

    // Draws `text` into the frame. Mode 0: a new line starts (its display time is fixed by
    // the reading-time rule); mode 1: the line on screen is drawn again. `gap` is carried
    // for the record only.
    void PiszTXT(const QString& text, std::int32_t gap, kv::media::THookBitmap& bitmap, int mode);

    const SubtitleScheduleState& state() const { return state_; }
    const SubtitleSnapshot& snapshot() const { return *snapshot_; }
    // The layout of the line drawn last (empty before the first line).
    const std::optional<SubtitleLayout>& lastLayout() const { return lastLayout_; }
    // How many times a line was laid out and drawn from scratch since the last reset.
    int layoutsMade() const { return layoutsMade_; }

  private:
    friend QString BurnSubtitleAt(std::shared_ptr<const SubtitleSnapshot>, kv::media::TRGBImage&,
                                  std::int64_t, double);
    void queueDueRows();
    const SubtitleOverlay& overlayFor(const QString& text, int frameWidth, int frameHeight);

    std::shared_ptr<const SubtitleSnapshot> snapshot_;
    std::atomic<bool> btnSubOn_{false};
    SubtitleScheduleState state_;
    bool drawing_ = true; // off while the preview replays the schedule up to its frame

    // The line laid out and drawn last: a held line is composited again, not laid out anew.
    QString cachedText_;
    int cachedWidth_ = -1;
    int cachedHeight_ = -1;
    std::optional<SubtitleLayout> lastLayout_;
    SubtitleOverlay cachedOverlay_;
    int layoutsMade_ = 0;
};

// For the single-frame preview: burns into `frame` the subtitle a conversion would show on
// a frame at `ptsUs`, replaying the schedule from the start over frames at `frameRate`
// (25 when it is not a positive number). Returns the text drawn, empty when none is on
// screen then.
QString BurnSubtitleAt(std::shared_ptr<const SubtitleSnapshot> snapshot, kv::media::TRGBImage& frame,
                       std::int64_t ptsUs, double frameRate);

// Draws one subtitle text into `frame` as a new line would be drawn.
void BurnSubtitleText(const SubtitleRenderSettings& settings, const QString& text,
                      kv::media::TRGBImage& frame);

} // namespace kv::subtitles
