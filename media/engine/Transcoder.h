#pragma once
// Converts one source into one output on the calling thread: demux, decode, the per-frame
// hook, constant-rate frame selection, fitting into the output frame, resampling,
// encoding and muxing. The engine's worker runs it once per task.
#include "media/Records.h"

#include <functional>

namespace kv::media::engine {

struct TranscodeEvents {
    std::function<void()> waitWhilePaused; // returns once not paused (or a stop was asked)
    std::function<bool()> stopRequested;
    std::function<void(const TProgressInfo&)> progress; // null: no reports
    std::function<void(const TPreviewInfo&)> preview;   // null: no preview frames
    // Calls the program's hook; returns false when no hook handler is set right now.
    std::function<bool(THookInfo&)> hook;
    std::function<void(TLogLevel, const std::string&)> log;
    int progressIntervalMs = 500;
    int previewWidth = 168;
    int previewHeight = 95;
    int previewIntervalMs = 250; // a few frames a second are plenty for a small preview
};

enum class TranscodeEnd { Finished, Stopped };

// Stopped: the output holds what was converted so far, finalised so that it plays.
// Throws kv::ff::Error on failure; the partial output is removed.
TranscodeEnd transcode(int taskIndex, const TInputOptions& input, const TOutputOptions& output,
                       const TranscodeEvents& events);

} // namespace kv::media::engine
