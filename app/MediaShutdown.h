#pragma once
// What the main window needs from the media layer when it closes, in the order it calls
// it: no engine event may reach the window any more, then the engine is stopped and waited
// for (the GUI thread keeps serving the engine's hand-overs meanwhile), then the logger is
// detached.
namespace kv::app {

struct IMediaShutdown {
    virtual void detachEngineHandlers() = 0;
    virtual void stopEngineAndWait() = 0;
    virtual void detachLogger() = 0;
    virtual ~IMediaShutdown() = default;
};

} // namespace kv::app
