#include "subtitles/SubtitleBurner.h"

#include "subtitles/ImageHookBitmap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv::subtitles {

namespace {

// A frame that has no pixels: the preview's replay of the schedule never draws.
class NoPixels final : public kv::media::THookBitmap {
  public:
    NoPixels(int width, int height) : width_(width), height_(height) {}
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    kv::media::TRGBView Rows(int, int) override { return {}; }

  private:
    int width_;
    int height_;
};

std::int32_t clampToInt32(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace

SubtitleBurner::SubtitleBurner() : snapshot_(std::make_shared<const SubtitleSnapshot>()) {}

void SubtitleBurner::ResetSubtitleSchedule(std::shared_ptr<const SubtitleSnapshot> snapshot)
{
    snapshot_ = snapshot ? std::move(snapshot) : std::make_shared<const SubtitleSnapshot>();
    kv::subtitles::ResetSubtitleSchedule(state_);
    cachedText_.clear();
    cachedWidth_ = cachedHeight_ = -1;
    cachedOverlay_ = {};
    lastLayout_.reset();
    layoutsMade_ = 0;
}

void SubtitleBurner::queueDueRows()
{
    const auto& rows = snapshot_->rows();
    // Nothing due among the remaining rows: the usual frame costs one comparison.
    if (snapshot_->earliestDueFrom(state_.CurrentRow) > state_.FrameTime)
        return;
    // Every remaining row is examined: rows out of time order are queued as soon as they
    // are due, and a row not yet due that lies before a due one is passed over for good.
    for (std::size_t r = state_.CurrentRow; r < rows.size(); ++r) {
        const SubtitleSnapshot::Row& row = rows[r];
        if (!row.KeyValid || row.DueUs > state_.FrameTime)
            continue;
        state_.CurrentRow = r + 1;
        TKolejkaTXT entry;
        entry.Text = row.Text.left(kMaxQueuedTextLength);
        if (!entry.Text.isEmpty() && entry.Text.back().isHighSurrogate())
            entry.Text.chop(1); // never leave half a character at the cut
        if (r + 1 < rows.size() && rows[r + 1].KeyValid)
            entry.Gap = clampToInt32(static_cast<std::int64_t>(rows[r + 1].KeyMs) - row.KeyMs);
        state_.Queue.push_back(std::move(entry));
    }
}

void SubtitleBurner::FFVCLCustomHook(kv::media::THookInfo& info)
{
    if (!btnSubOn_.load(std::memory_order_relaxed)) {
        info.StopHook = true; // subtitles stay off for the rest of this task
        return;
    }
    if (info.Bitmap == nullptr) {
        info.Update = false; // no picture handed over: nothing to draw into
        return;
    }
    state_.FrameTime = info.PTS;
    queueDueRows();

    if (state_.OnScreen && state_.FrameTime > state_.OnScreenUntil)
        state_.OnScreen = false;
    // Without the reading-time rule a newly due line replaces the one on screen at once.
    if (!snapshot_->settings().CIQText && !state_.Queue.empty())
        state_.OnScreen = false;

    if (state_.OnScreen) {
        PiszTXT(state_.CurrentText, 0, *info.Bitmap, 1);
        info.Update = true;
        return;
    }
    if (!state_.Queue.empty()) {
        try {
            const TKolejkaTXT& head = state_.Queue.front();
            state_.CurrentText = head.Text;
            PiszTXT(head.Text, head.Gap, *info.Bitmap, 0);
            state_.Queue.pop_front();
            info.Update = true;
            return;
        } catch (...) {
            // The line stays at the head and is tried again on the next frame; this frame
            // goes on unchanged.
        }
    }
    info.Update = false;
}

void SubtitleBurner::PiszTXT(const QString& text, std::int32_t /*gap*/, kv::media::THookBitmap& bitmap,
                             int mode)
{
    if (mode == 0) {
        state_.OnScreen = false;
        state_.CurrentDisplayTime = ReadingTimeMs(text, state_.Queue.size(), snapshot_->settings());
    }
    if (drawing_)
        CompositeOverlay(overlayFor(text, bitmap.Width(), bitmap.Height()), bitmap);
    if (mode == 0)
        state_.OnScreenUntil = state_.FrameTime + state_.CurrentDisplayTime * 1000;
    state_.OnScreen = true;
}

const SubtitleOverlay& SubtitleBurner::overlayFor(const QString& text, int frameWidth, int frameHeight)
{
    if (lastLayout_ && text == cachedText_ && frameWidth == cachedWidth_ && frameHeight == cachedHeight_)
        return cachedOverlay_;
    lastLayout_ = LayOutSubtitle(text, frameWidth, frameHeight, snapshot_->settings());
    cachedOverlay_ = RenderSubtitleOverlay(*lastLayout_);
    ++layoutsMade_;
    cachedText_ = text;
    cachedWidth_ = frameWidth;
    cachedHeight_ = frameHeight;
    return cachedOverlay_;
}

QString BurnSubtitleAt(std::shared_ptr<const SubtitleSnapshot> snapshot, kv::media::TRGBImage& frame,
                       std::int64_t ptsUs, double frameRate)
{
    if (!(frameRate > 0) || !std::isfinite(frameRate))
        frameRate = 25;
    SubtitleBurner burner;
    burner.ResetSubtitleSchedule(std::move(snapshot));
    burner.btnSubOn().store(true);

    // Replay the frames before this one without drawing, so queue and hold are as they
    // would be in the conversion.
    burner.drawing_ = false;
    NoPixels noPixels(frame.Width, frame.Height);
    for (std::int64_t index = 0;; ++index) {
        const auto time =
            static_cast<std::int64_t>(std::llround(static_cast<double>(index) * 1e6 / frameRate));
        if (time >= ptsUs)
            break;
        kv::media::THookInfo info;
        info.Bitmap = &noPixels;
        info.PTS = time;
        burner.FFVCLCustomHook(info);
    }

    burner.drawing_ = true;
    ImageHookBitmap bitmap(frame);
    kv::media::THookInfo info;
    info.Bitmap = &bitmap;
    info.PTS = ptsUs;
    burner.FFVCLCustomHook(info);
    return info.Update ? burner.state().CurrentText : QString();
}

void BurnSubtitleText(const SubtitleRenderSettings& settings, const QString& text,
                      kv::media::TRGBImage& frame)
{
    ImageHookBitmap bitmap(frame);
    const SubtitleLayout layout = LayOutSubtitle(text, frame.Width, frame.Height, settings);
    CompositeOverlay(RenderSubtitleOverlay(layout), bitmap);
}

} // namespace kv::subtitles
