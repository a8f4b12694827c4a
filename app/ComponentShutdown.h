#pragma once
// The window's media shutdown over the real components: no engine or player event reaches
// the window any more, the player and the engine are stopped and waited for (the GUI thread
// keeps serving their hand-overs meanwhile), then the logger is detached.
#include "app/MediaShutdown.h"
#include "media/TFFEncoder.h"
#include "media/TFFLogger.h"
#include "media/TFFPlayer.h"

namespace kv::app {

class ComponentShutdown final : public IMediaShutdown {
  public:
    ComponentShutdown(media::TFFEncoder& engine, media::TFFPlayer& player, media::TFFLogger& logger)
        : engine_(engine), player_(player), logger_(logger)
    {
    }

    void detachEngineHandlers() override
    {
        engine_.SetOnVideoInputHook(nullptr);
        engine_.SetOnPreviewBitmap(nullptr);
        engine_.SetOnProgress(nullptr);
        engine_.SetOnTerminate(nullptr);
        player_.SetOnFileOpen(nullptr);
        player_.SetOnPosition(nullptr);
    }
    void stopEngineAndWait() override
    {
        player_.Stop(true);
        engine_.Stop(true); // a running conversion ends with a finished, playable file
    }
    void detachLogger() override { logger_.SetOnLog(nullptr); }

  private:
    media::TFFEncoder& engine_;
    media::TFFPlayer& player_;
    media::TFFLogger& logger_;
};

} // namespace kv::app
