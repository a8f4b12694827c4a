#pragma once
// Collects FFmpeg's own log and the engine's messages and delivers them on the handler
// thread (through the dispatcher) with the OS thread id, the level and the text.
#include "media/Dispatcher.h"
#include "media/Records.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kv::media {

class TFFLogger {
public:
    using LogHandler = std::function<void(std::uint32_t threadId, TLogLevel level, const std::string& text)>;

    explicit TFFLogger(IDispatcher& dispatcher);
    ~TFFLogger(); // stops taking FFmpeg's log
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    void SetLogLevel(TLogLevel level);
    TLogLevel LogLevel() const;

    // Set and cleared on the handler thread; nothing is delivered after clearing.
    void SetOnLog(LogHandler handler);

    // The engine's and player's own messages (any thread).
    static void Log(TLogLevel level, const std::string& text);
};

} // namespace kv::media
