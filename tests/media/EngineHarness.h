#pragma once
// Runs the conversion engine the way the window does (handlers on a dispatcher-served
// thread) and collects what it reported.
#include "media/Dispatcher.h"
#include "media/TFFEncoder.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kv::test {

// The PSP profile records, as the options holder fills them.
media::TOutputOptions pspOutput(bool hi, const std::filesystem::path& out);

struct RunResult {
    std::vector<media::TTerminateInfo> terminates; // in the order they came
    int progressCount = 0;
    int previewCount = 0;
    std::string lastErr;
    bool finished() const { return !terminates.empty() && terminates.front().Finished; }
    std::string error() const { return terminates.empty() ? lastErr : terminates.front().ExceptionMsg; }
};

// Converts one file; `whileRunning` (if given) runs on the serving thread every few ms
// and may pause, resume or stop the engine. Gives up after `limit`.
RunResult convert(media::QueueDispatcher& dispatcher, media::TFFEncoder& engine,
                  const std::filesystem::path& src, const media::TOutputOptions& out,
                  const std::function<void(media::TFFEncoder&)>& whileRunning = {},
                  std::chrono::seconds limit = std::chrono::seconds(120));

// Same, with a dispatcher and engine of its own.
RunResult convertFile(const std::filesystem::path& src, const media::TOutputOptions& out);

} // namespace kv::test
