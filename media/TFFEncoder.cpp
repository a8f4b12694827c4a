#include "media/TFFEncoder.h"

#include "media/TFFLogger.h"
#include "media/engine/Transcoder.h"
#include "media/ff/FFPtr.h"
#include "media/ff/LibCheck.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kv::media {

namespace {

// How deep the current thread is inside one of our handler calls on the handler thread.
// A Stop that waits cannot wait from there: the worker is waiting for that very call.
thread_local int handlerDepth = 0;

struct HandlerScope {
    HandlerScope() { ++handlerDepth; }
    ~HandlerScope() { --handlerDepth; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
};

int niceFor(TThreadPriority p)
{
    switch (p) {
    case TThreadPriority::tpIdle:
        return 19;
    case TThreadPriority::tpLowest:
        return 10;
    case TThreadPriority::tpLower:
        return 5;
    case TThreadPriority::tpNormal:
        return 0;
    case TThreadPriority::tpHigher:
        return -5;
    case TThreadPriority::tpHighest:
        return -10;
    }
    return 0;
}

std::atomic<bool> librariesChecked{false};

} // namespace

struct TFFEncoder::Impl {
    explicit Impl(IDispatcher& disp) : dispatcher(disp), handlerThread(std::this_thread::get_id()) {}

    struct Task {
        TInputOptions input;
        TOutputOptions output;
        bool hasOutput = false;
    };

    IDispatcher& dispatcher;
    const std::thread::id handlerThread; // the thread that built the engine runs the handlers
    TFFDecoder decoder;

    mutable std::mutex mutex; // tasks, lastErr, handlers, terminate thread
    std::vector<Task> tasks;
    std::string lastErr;
    ProgressHandler onProgress;
    PreviewHandler onPreview;
    TerminateHandler onTerminate;
    HookHandler onHook;

    std::atomic<bool> previewOn{true};
    std::atomic<int> previewWidth{168};
    std::atomic<int> previewHeight{95};
    std::atomic<int> progressInterval{500};
    std::atomic<TThreadPriority> priority{TThreadPriority::tpNormal};

    std::thread worker;
    std::mutex joinMutex; // Stop may be called from the handler thread and a terminate handler at once
    std::atomic<bool> working{false};
    std::atomic<bool> stopRequested{false};
    std::mutex stateMutex; // pause and worker end
    std::condition_variable stateCv;
    bool paused = false;
    std::atomic<bool> pausedFlag{false};

    std::thread terminateThread; // the newest; each one first waits for the one before it
    std::atomic<int> terminateRunning{0};

    // The hook and the terminate handler run off the handler thread, one call at a time each.
    // A handler's generation grows with every Set; a call notes the generation it took, so
    // a Set can wait until no call of an older handler is under way.
    struct CallTrack {
        std::uint64_t generation = 1;
        std::uint64_t running = 0; // generation of the call under way; 0: none
        std::thread::id caller;
    };
    CallTrack hookCalls, terminateCalls; // under `mutex`

    // Takes the handler for one call (under `mutex`) and marks the call as under way.
    template <class H> H beginCall(const H& handler, CallTrack& track)
    {
        std::lock_guard lk(mutex);
        if (handler) {
            track.running = track.generation;
            track.caller = std::this_thread::get_id();
        }
        return handler;
    }
    void endCall(CallTrack& track)
    {
        {
            std::lock_guard lk(mutex);
            track.running = 0;
        }
        stateCv.notify_all();
    }
    // After a handler was replaced: waits until a call of the one before has returned,
    // unless it is this very thread's call (a handler that clears itself).
    void waitForOlderCall(CallTrack& track, std::uint64_t generation)
    {
        auto older = [&] {
            std::lock_guard lk(mutex);
            return track.running != 0 && track.running < generation &&
                   track.caller != std::this_thread::get_id();
        };
        if (older())
            waitFor([&] { return !older(); });
    }
    template <class H> void replaceHandler(H& slot, H h, CallTrack& track)
    {
        std::uint64_t generation;
        {
            std::lock_guard lk(mutex);
            slot = std::move(h);
            generation = ++track.generation;
        }
        waitForOlderCall(track, generation);
    }

    void setError(const std::string& text)
    {
        std::lock_guard lk(mutex);
        lastErr = text;
    }

    bool eventsSuppressed() const { return pausedFlag.load() || stopRequested.load(); }

    // Hands an event to the handler thread and waits until it has run there.
    template <class Pick, class Info> void invoke(Pick pick, const Info& info)
    {
        {
            std::lock_guard lk(mutex);
            if (!pick())
                return;
        }
        if (eventsSuppressed())
            return;
        dispatcher.invokeBlocking([&] {
            // Checked again on the handler thread: a Pause or Stop made there before this
            // call came up means no event any more.
            if (eventsSuppressed())
                return;
            std::function<void(const Info&)> h;
            {
                std::lock_guard lk(mutex);
                h = pick();
            }
            if (h) {
                HandlerScope scope;
                h(info);
            }
        });
    }

    void waitWhilePaused()
    {
        std::unique_lock lk(stateMutex);
        stateCv.wait(lk, [&] { return !paused || stopRequested.load(); });
    }

    void raiseTerminate(const TTerminateInfo& info)
    {
        std::lock_guard lk(mutex);
        ++terminateRunning;
        std::thread previous = std::move(terminateThread);
        terminateThread = std::thread([this, info, previous = std::move(previous)]() mutable {
            if (previous.joinable())
                previous.join(); // reports keep their order
            TerminateHandler h = beginCall(onTerminate, terminateCalls);
            if (h) {
                try {
                    h(info);
                } catch (...) {
                    TFFLogger::Log(TLogLevel::llError, "the terminate handler failed");
                }
                h = nullptr; // what it holds goes before a waiting Set returns
                endCall(terminateCalls);
            }
            --terminateRunning;
            stateCv.notify_all();
        });
    }

    void run();

    // Waits for a condition: serving the dispatcher on the handler thread, plainly elsewhere.
    void waitFor(const std::function<bool()>& done)
    {
        if (std::this_thread::get_id() == handlerThread) {
            dispatcher.waitServing(done);
        } else {
            std::unique_lock lk(stateMutex);
            while (!done())
                stateCv.wait_for(lk, std::chrono::milliseconds(20));
        }
    }
};

void TFFEncoder::Impl::run()
{
    const int nice = niceFor(priority.load());
    if (nice != 0 && ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice) != 0)
        TFFLogger::Log(TLogLevel::llVerbose, "cannot change the conversion thread's priority");

    std::vector<Task> snapshot;
    {
        std::lock_guard lk(mutex);
        snapshot = tasks;
    }
    engine::TranscodeEvents ev;
    ev.waitWhilePaused = [this] { waitWhilePaused(); };
    ev.stopRequested = [this] { return stopRequested.load(); };
    ev.progress = [this](const TProgressInfo& p) { invoke([this] { return onProgress; }, p); };
    if (previewOn.load())
        ev.preview = [this](const TPreviewInfo& p) { invoke([this] { return onPreview; }, p); };
    ev.hook = [this](THookInfo& info) {
        HookHandler h = beginCall(onHook, hookCalls);
        if (!h)
            return false;
        struct End {
            Impl* self;
            HookHandler& h;
            ~End()
            {
                h = nullptr;
                self->endCall(self->hookCalls);
            }
        } end{this, h};
        h(info);
        return true;
    };
    ev.log = [](TLogLevel level, const std::string& text) { TFFLogger::Log(level, text); };
    ev.progressIntervalMs = std::max(50, progressInterval.load());
    ev.previewWidth = previewWidth.load();
    ev.previewHeight = previewHeight.load();

    bool allFinished = !snapshot.empty();
    for (size_t i = 0; i < snapshot.size(); ++i) {
        TTerminateInfo t;
        t.TaskIndex = static_cast<int>(i);
        if (stopRequested.load()) {
            // Stopped before this task began: it is reported as not finished all the same.
            allFinished = false;
            raiseTerminate(t);
            continue;
        }
        try {
            if (!snapshot[i].hasOutput)
                throw ff::Error("no output file is set for " + snapshot[i].input.FileName);
            t.Finished = engine::transcode(t.TaskIndex, snapshot[i].input, snapshot[i].output, ev) ==
                         engine::TranscodeEnd::Finished;
        } catch (const ff::Error& e) {
            if (e.code() == AVERROR_EXIT && stopRequested.load()) {
                t.Finished = false; // stopped while the source was being opened: nothing to report
            } else {
                t.Exception = true;
                t.ExceptionMsg = e.what();
                setError(e.what());
                TFFLogger::Log(TLogLevel::llError, e.what());
            }
        } catch (const std::exception& e) {
            t.Exception = true;
            t.ExceptionMsg = e.what();
            setError(e.what());
            TFFLogger::Log(TLogLevel::llError, e.what());
        }
        allFinished = allFinished && t.Finished;
        raiseTerminate(t);
    }
    TTerminateInfo last;
    last.TaskIndex = -1;
    last.Finished = allFinished;
    if (snapshot.empty()) {
        last.Exception = true;
        last.ExceptionMsg = "There is no file to convert.";
    }
    raiseTerminate(last);
    {
        std::lock_guard lk(stateMutex);
        working = false;
    }
    stateCv.notify_all();
}

TFFEncoder::TFFEncoder(IDispatcher& dispatcher) : d(std::make_unique<Impl>(dispatcher)) {}

TFFEncoder::~TFFEncoder()
{
    Stop(true);
    std::lock_guard joinLock(d->joinMutex);
    if (d->worker.joinable()) {
        if (d->worker.get_id() == std::this_thread::get_id())
            d->worker.detach();
        else
            d->worker.join();
    }
    // The last terminate report may still be on its way; let it end (serving meanwhile).
    std::thread last;
    {
        std::lock_guard lk(d->mutex);
        last = std::move(d->terminateThread);
    }
    if (last.joinable()) {
        if (last.get_id() == std::this_thread::get_id()) {
            last.detach();
        } else {
            d->waitFor([this] { return d->terminateRunning.load() == 0; });
            last.join();
        }
    }
}

bool TFFEncoder::AVLibLoaded() const
{
    return librariesChecked.load();
}

bool TFFEncoder::LoadAVLib(const std::string& folder)
{
    const auto& r = ff::checkLibraries();
    if (!r.ok) {
        d->setError("the FFmpeg libraries in use (" + r.libraryPath + ") lack: " + r.missing);
        return false;
    }
    std::error_code ec;
    if (!folder.empty() && std::filesystem::is_directory(folder, ec))
        TFFLogger::Log(TLogLevel::llVerbose, "FFmpeg libraries in use: " + r.libraryPath);
    librariesChecked = true;
    return true;
}

TFFDecoder& TFFEncoder::Decoder()
{
    return d->decoder;
}

void TFFEncoder::ClearTasks()
{
    std::lock_guard lk(d->mutex);
    d->tasks.clear();
}

int TFFEncoder::AddTask(const std::string& fileName, const TInputOptions& options)
{
    if (Working()) {
        d->setError("cannot add a task while converting");
        return -1;
    }
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::exists(fileName, ec)) {
        d->setError("cannot open file " + fileName + ": No such file or directory");
        return -1;
    }
    std::lock_guard lk(d->mutex);
    Impl::Task t;
    t.input = options;
    t.input.FileName = fileName;
    d->tasks.push_back(std::move(t));
    return static_cast<int>(d->tasks.size()) - 1;
}

bool TFFEncoder::SetOutputFile(int taskIndex, const std::string& fileName, const TOutputOptions& options)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fileName.empty()) {
        d->setError("no output file name given");
        return false;
    }
    if (fs::exists(fs::symlink_status(fileName, ec))) {
        d->setError("cannot create output file " + fileName + ": the file already exists");
        return false;
    }
    const fs::path parent = fs::path(fileName).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
        d->setError("cannot create output file " + fileName + ": the folder " + parent.string() +
                    " does not exist");
        return false;
    }
    if (::access(parent.empty() ? "." : parent.c_str(), W_OK) != 0) {
        d->setError("cannot create output file " + fileName + ": the folder " + parent.string() +
                    " is not writable");
        return false;
    }
    std::lock_guard lk(d->mutex);
    if (taskIndex < 0 || taskIndex >= static_cast<int>(d->tasks.size())) {
        d->lastErr = "no task " + std::to_string(taskIndex);
        return false;
    }
    auto& t = d->tasks[static_cast<size_t>(taskIndex)];
    t.output = options;
    t.output.FileName = fileName;
    t.hasOutput = true;
    return true;
}

void TFFEncoder::RemoveTask(int taskIndex)
{
    std::lock_guard lk(d->mutex);
    if (taskIndex >= 0 && taskIndex < static_cast<int>(d->tasks.size()))
        d->tasks.erase(d->tasks.begin() + taskIndex);
}

int TFFEncoder::TaskCount() const
{
    std::lock_guard lk(d->mutex);
    return static_cast<int>(d->tasks.size());
}

void TFFEncoder::SetThreadPriority(TThreadPriority priority)
{
    d->priority = priority;
}

void TFFEncoder::Start(int /*threadCount: one worker converts the tasks in turn*/)
{
    if (Working())
        return;
    std::lock_guard joinLock(d->joinMutex);
    if (d->worker.joinable())
        d->worker.join(); // the previous run has ended (Working() is false)
    {
        std::lock_guard lk(d->stateMutex);
        d->paused = false;
        d->pausedFlag = false;
        d->stopRequested = false;
        d->working = true;
    }
    d->worker = std::thread([this] { d->run(); });
}

void TFFEncoder::Pause()
{
    if (!Working())
        return;
    std::lock_guard lk(d->stateMutex);
    d->paused = true;
    d->pausedFlag = true;
}

void TFFEncoder::Resume()
{
    {
        std::lock_guard lk(d->stateMutex);
        d->paused = false;
        d->pausedFlag = false;
    }
    d->stateCv.notify_all();
}

void TFFEncoder::Stop(bool waitForStop)
{
    {
        std::lock_guard lk(d->stateMutex);
        d->stopRequested = true;
    }
    d->stateCv.notify_all();
    // From inside one of our handlers the worker is waiting for us: asking is all we can do.
    if (!waitForStop || handlerDepth > 0)
        return;
    {
        std::lock_guard lk(d->joinMutex);
        if (!d->worker.joinable() || d->worker.get_id() == std::this_thread::get_id())
            return;
    }
    d->waitFor([this] { return !d->working.load(); });
    std::lock_guard lk(d->joinMutex);
    if (d->worker.joinable())
        d->worker.join();
}

bool TFFEncoder::Working() const
{
    return d->working.load();
}
bool TFFEncoder::Paused() const
{
    return d->pausedFlag.load();
}

std::string TFFEncoder::LastErrMsg() const
{
    std::lock_guard lk(d->mutex);
    return d->lastErr;
}

void TFFEncoder::SetOnProgress(ProgressHandler h)
{
    std::lock_guard lk(d->mutex);
    d->onProgress = std::move(h);
}

void TFFEncoder::SetOnPreviewBitmap(PreviewHandler h)
{
    std::lock_guard lk(d->mutex);
    d->onPreview = std::move(h);
}

void TFFEncoder::SetOnTerminate(TerminateHandler h)
{
    d->replaceHandler(d->onTerminate, std::move(h), d->terminateCalls);
}

void TFFEncoder::SetOnVideoInputHook(HookHandler h)
{
    d->replaceHandler(d->onHook, std::move(h), d->hookCalls);
}

void TFFEncoder::SetPreviewBitmap(bool on)
{
    d->previewOn = on;
}

void TFFEncoder::SetPreviewSize(int width, int height)
{
    d->previewWidth = std::max(2, width);
    d->previewHeight = std::max(2, height);
}

void TFFEncoder::SetProgressInterval(int milliseconds)
{
    d->progressInterval = std::max(50, milliseconds);
}

} // namespace kv::media
