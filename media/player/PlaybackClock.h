#pragma once
// The clock the preview plays by: the time, in µs from the start of the file, that is being
// heard and seen now. The sound output pulls it to the samples it is playing; without sound
// (or after the sound has ended) it runs on the system's steady clock.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace kv::media::player {

class PlaybackClock {
public:
    using SteadyClock = std::chrono::steady_clock;

    // Stands at `pts` and does not run until started (after an open or a seek).
    void reset(std::int64_t pts)
    {
        std::lock_guard lk(mutex_);
        basePts_ = pts;
        baseTime_ = SteadyClock::now();
        started_ = false;
    }

    // Starts running from `pts`, unless something started it already.
    void start(std::int64_t pts)
    {
        std::lock_guard lk(mutex_);
        if (started_)
            return;
        basePts_ = pts;
        baseTime_ = SteadyClock::now();
        started_ = true;
    }

    // The sound output reports the time of the samples it hands to the device now.
    void sync(std::int64_t pts)
    {
        std::lock_guard lk(mutex_);
        basePts_ = pts;
        baseTime_ = SteadyClock::now();
        started_ = true;
    }

    void setPaused(bool paused)
    {
        std::lock_guard lk(mutex_);
        if (paused == paused_)
            return;
        if (paused)
            basePts_ = nowLocked();
        baseTime_ = SteadyClock::now();
        paused_ = paused;
    }

    bool started() const
    {
        std::lock_guard lk(mutex_);
        return started_;
    }

    std::int64_t now() const
    {
        std::lock_guard lk(mutex_);
        return nowLocked();
    }

private:
    std::int64_t nowLocked() const
    {
        if (!started_ || paused_)
            return basePts_;
        const auto run =
            std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - baseTime_);
        return basePts_ + run.count();
    }

    mutable std::mutex mutex_;
    std::int64_t basePts_ = 0;
    SteadyClock::time_point baseTime_ = SteadyClock::now();
    bool started_ = false;
    bool paused_ = false;
};

} // namespace kv::media::player
