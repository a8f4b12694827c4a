#pragma once
// The conversion engine: a list of tasks (one source, one output each) converted on a
// worker thread of its own. Progress and preview frames are handed to the handler thread
// through the dispatcher, and the worker waits until the handler has run; the end of each
// task is reported from a short-lived thread. Every Stop that waits keeps serving the
// dispatcher, so it never deadlocks.
#include "media/Dispatcher.h"
#include "media/Records.h"
#include "media/TFFDecoder.h"

#include <functional>
#include <memory>
#include <string>

namespace kv::media {

class TFFEncoder {
public:
    using ProgressHandler = std::function<void(const TProgressInfo&)>;
    using PreviewHandler = std::function<void(const TPreviewInfo&)>;
    using TerminateHandler = std::function<void(const TTerminateInfo&)>;
    using HookHandler = std::function<void(THookInfo&)>;

    explicit TFFEncoder(IDispatcher& dispatcher);
    ~TFFEncoder(); // stops the worker and waits for it
    TFFEncoder(const TFFEncoder&) = delete;
    TFFEncoder& operator=(const TFFEncoder&) = delete;

    // Checks that the FFmpeg libraries in use provide everything a conversion needs.
    bool AVLibLoaded() const;
    bool LoadAVLib(const std::string& folder);

    TFFDecoder& Decoder();

    void ClearTasks();
    int AddTask(const std::string& fileName, const TInputOptions& options); // index, or <0
    bool SetOutputFile(int taskIndex, const std::string& fileName, const TOutputOptions& options);
    void RemoveTask(int taskIndex);
    int TaskCount() const;

    void SetThreadPriority(TThreadPriority priority);
    void Start(int threadCount = 1); // returns at once
    void Pause();                    // the worker halts; no event while halted
    void Resume();
    void Stop(bool waitForStop);
    bool Working() const;
    bool Paused() const;

    std::string LastErrMsg() const;

    // Handlers may be set or cleared from the handler thread at any time, also while converting.
    // Once a Set has returned, the handler it replaced is not running any more (unless the
    // call is that handler's own) and is not called again.
    void SetOnProgress(ProgressHandler h);
    void SetOnPreviewBitmap(PreviewHandler h);
    void SetOnTerminate(TerminateHandler h);     // called on a short-lived thread
    void SetOnVideoInputHook(HookHandler h);     // called on the worker thread

    void SetPreviewBitmap(bool on);              // preview frames on/off (default on)
    void SetPreviewSize(int width, int height);  // default 168x95
    void SetProgressInterval(int milliseconds);  // default 500

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kv::media
