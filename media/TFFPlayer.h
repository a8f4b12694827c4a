#pragma once
// The preview player: plays a file's picture into a screen (a video sink the window's
// preview panel implements) and its sound through SDL2. Decoding and scaling run on the
// player's own threads; OnFileOpen and OnPosition are handed to the handler thread.
#include "media/Dispatcher.h"
#include "media/Records.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kv::media {

// Receives finished pictures, already scaled to the screen size (keeping the picture's
// display aspect ratio inside it). Called on a player thread.
class IVideoScreen {
public:
    virtual ~IVideoScreen() = default;
    virtual void Present(const TRGBImage& picture) = 0;
    virtual void Clear() = 0; // nothing to show (audio-only file, stopped)
};

// Every member is called on the handler thread (the one that serves the dispatcher), except
// SetAudioVolume/AudioVolume, which any thread may use.
class TFFPlayer {
public:
    // duration µs (-1 unknown), frame size, screen size the handler may change.
    using FileOpenHandler = std::function<void(std::int64_t duration, int frameWidth, int frameHeight,
                                               int& screenWidth, int& screenHeight)>;
    using PositionHandler = std::function<void(std::int64_t pts)>;
    // Diagnostics for tests and measurements, called on player threads: each picture handed
    // to the screen with its time and the playback clock at that moment (both µs) ...
    using FrameShownHandler = std::function<void(std::int64_t framePts, std::int64_t clockNow)>;
    // ... and each buffer the sound callback writes to the device, after the volume was
    // applied: `count` interleaved signed 16-bit samples of `channels` channels.
    using AudioTap = std::function<void(const std::int16_t* samples, int count, int channels)>;

    explicit TFFPlayer(IDispatcher& dispatcher);
    ~TFFPlayer(); // stops and waits
    TFFPlayer(const TFFPlayer&) = delete;
    TFFPlayer& operator=(const TFFPlayer&) = delete;

    bool AVLibLoaded() const;
    bool LoadAVLib(const std::string& folder);

    // Stops what plays, opens the file, starts playing it into `screen` (screenWidth x
    // screenHeight) unless paused. False with the reason in LastErrMsg().
    bool Open(const std::string& fileName, IVideoScreen* screen, int screenWidth, int screenHeight,
              bool paused = false);
    // Ends playback; with waitForStop returns once every player thread has ended, serving
    // the dispatcher while it waits.
    void Stop(bool waitForStop);
    void Pause();
    void Resume();
    bool Paused() const;
    // Jumps to `pts` µs from the start (by time; beyond the end: to the end). With
    // waitForSeekEnd, returns once the new picture is shown, serving the dispatcher meanwhile.
    void Seek(std::int64_t pts, int seekFlags = 0, bool waitForSeekEnd = false);
    std::uint8_t AudioVolume() const; // 0..128, 128 = unchanged
    void SetAudioVolume(std::uint8_t volume);

    std::string LastErrMsg() const;

    void SetOnFileOpen(FileOpenHandler h);
    void SetOnPosition(PositionHandler h);

    // Take effect from the next Open.
    void SetOnFrameShown(FrameShownHandler h);
    void SetAudioTap(AudioTap tap);
    // Whether the file playing now is heard (false: no sound stream, or no sound device,
    // in which case the picture runs on the system clock).
    bool SoundActive() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kv::media
