#include "media/TFFLogger.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <memory>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv::media {

namespace {

struct HandlerBox {
    std::mutex mutex;
    TFFLogger::LogHandler handler;
};

// The logger that currently takes FFmpeg's log (the newest one alive).
struct ActiveLogger {
    std::mutex mutex;
    const TFFLogger* owner = nullptr;
    IDispatcher* dispatcher = nullptr;
    std::shared_ptr<HandlerBox> box;
    TLogLevel level = TLogLevel::llInfo;
};

ActiveLogger& active()
{
    static ActiveLogger a;
    return a;
}

TLogLevel fromFFmpeg(int level)
{
    if (level <= AV_LOG_QUIET)
        return TLogLevel::llQuiet;
    if (level <= AV_LOG_PANIC)
        return TLogLevel::llPanic;
    if (level <= AV_LOG_FATAL)
        return TLogLevel::llFatal;
    if (level <= AV_LOG_ERROR)
        return TLogLevel::llError;
    if (level <= AV_LOG_WARNING)
        return TLogLevel::llWarning;
    if (level <= AV_LOG_INFO)
        return TLogLevel::llInfo;
    if (level <= AV_LOG_VERBOSE)
        return TLogLevel::llVerbose;
    return TLogLevel::llDebug;
}

int toFFmpeg(TLogLevel level)
{
    switch (level) {
    case TLogLevel::llQuiet:
        return AV_LOG_QUIET;
    case TLogLevel::llPanic:
        return AV_LOG_PANIC;
    case TLogLevel::llFatal:
        return AV_LOG_FATAL;
    case TLogLevel::llError:
        return AV_LOG_ERROR;
    case TLogLevel::llWarning:
        return AV_LOG_WARNING;
    case TLogLevel::llInfo:
        return AV_LOG_INFO;
    case TLogLevel::llVerbose:
        return AV_LOG_VERBOSE;
    case TLogLevel::llDebug:
        return AV_LOG_DEBUG;
    }
    return AV_LOG_INFO;
}

void deliver(TLogLevel level, std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty())
        return;
    const auto tid = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    auto& a = active();
    // Posted under the lock: the logger's destructor takes it too, so once that has returned
    // no thread is still handing a line to the dispatcher (which may be gone right after).
    std::lock_guard lk(a.mutex);
    if (!a.owner || level == TLogLevel::llQuiet || static_cast<int>(level) > static_cast<int>(a.level))
        return;
    a.dispatcher->post([box = a.box, tid, level, text = std::move(text)] {
        TFFLogger::LogHandler h;
        {
            std::lock_guard lk(box->mutex);
            h = box->handler;
        }
        if (h)
            h(tid, level, text);
    });
}

// FFmpeg hands a line over in pieces; each thread collects its own until the newline.
thread_local std::string partialLine;
thread_local int printPrefix = 1;

void ffmpegCallback(void* avcl, int level, const char* fmt, va_list vl)
{
    const TLogLevel ours = fromFFmpeg(level);
    {
        auto& a = active();
        std::lock_guard lk(a.mutex);
        if (!a.owner || static_cast<int>(ours) > static_cast<int>(a.level))
            return;
    }
    char line[2048];
    va_list copy;
    va_copy(copy, vl);
    av_log_format_line2(avcl, level, fmt, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    partialLine += line;
    if (!partialLine.empty() && partialLine.back() == '\n') {
        std::string text;
        text.swap(partialLine);
        deliver(ours, std::move(text));
    }
}

} // namespace

TFFLogger::TFFLogger(IDispatcher& dispatcher)
{
    auto& a = active();
    std::lock_guard lk(a.mutex);
    a.owner = this;
    a.dispatcher = &dispatcher;
    a.box = std::make_shared<HandlerBox>();
    av_log_set_level(toFFmpeg(a.level));
    av_log_set_callback(&ffmpegCallback);
}

TFFLogger::~TFFLogger()
{
    auto& a = active();
    std::lock_guard lk(a.mutex);
    if (a.owner != this)
        return;
    av_log_set_callback(&av_log_default_callback);
    {
        std::lock_guard blk(a.box->mutex);
        a.box->handler = nullptr; // calls still queued deliver nothing
    }
    a.owner = nullptr;
    a.dispatcher = nullptr;
    a.box.reset();
}

void TFFLogger::SetLogLevel(TLogLevel level)
{
    auto& a = active();
    std::lock_guard lk(a.mutex);
    if (a.owner != this)
        return;
    a.level = level;
    av_log_set_level(toFFmpeg(level));
}

TLogLevel TFFLogger::LogLevel() const
{
    auto& a = active();
    std::lock_guard lk(a.mutex);
    return a.level;
}

void TFFLogger::SetOnLog(LogHandler handler)
{
    auto& a = active();
    std::lock_guard lk(a.mutex);
    if (a.owner != this)
        return;
    std::lock_guard blk(a.box->mutex);
    a.box->handler = std::move(handler);
}

void TFFLogger::Log(TLogLevel level, const std::string& text)
{
    deliver(level, text);
}

} // namespace kv::media
