#pragma once
// The preview's sound: an SDL2 audio device fed from a buffer of decoded, resampled
// samples (signed 16-bit, interleaved). Its callback applies the volume on SDL's 0..128
// mixing scale and pulls the playback clock to the samples it plays.
#include "media/player/PlaybackClock.h"

#include <SDL2/SDL.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kv::media::player {

// Receives every buffer the callback hands to the device, after the volume was applied:
// `samples` interleaved signed 16-bit values, `count` of them in all. For tests and measurements.
using AudioTap = std::function<void(const std::int16_t* samples, int count, int channels)>;

class AudioOutput {
public:
    AudioOutput(PlaybackClock& clock, const std::atomic<int>& volume, AudioTap tap);
    ~AudioOutput(); // closes the device (waits for a running callback)
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the default output device near the wanted format; false with the reason when
    // this machine has no usable sound. The device starts silent (see start()).
    bool open(int sampleRate, int channels, std::string& error);
    int sampleRate() const { return spec_.freq; }
    int channels() const { return spec_.channels; }

    void start();                // lets the callback run
    void setPaused(bool paused); // silence, the buffer and the clock stay

    // Decoder side. Queues samples (bytes of whole frames) that start at `pts` µs; never
    // waits (the decoder asks bufferedMicros() first). False when `serial` is not current.
    bool push(int serial, std::int64_t pts, const std::uint8_t* data, int bytes);
    std::int64_t bufferedMicros() const;
    void endOfStream(int serial);
    // After a seek: drops everything queued, takes `serial` as current and sets the clock
    // to `target` (under the same lock the callback takes, so no old sample moves it again).
    void flush(int serial, std::int64_t target);
    // The stream of `serial` ended and every sample of it was played.
    bool drained(int serial) const;
    void abort(); // the callback plays silence from now on

private:
    struct Chunk {
        std::int64_t pts = 0;
        std::vector<std::uint8_t> data;
        std::size_t offset = 0;
    };
    static void SDLCALL callback(void* self, Uint8* stream, int len);
    void fill(Uint8* stream, int len);
    std::int64_t bytesToMicros(std::int64_t bytes) const;

    PlaybackClock& clock_;
    const std::atomic<int>& volume_;
    AudioTap tap_;
    SDL_AudioDeviceID device_ = 0;
    SDL_AudioSpec spec_{};
    int bytesPerFrame_ = 4;

    mutable std::mutex mutex_;
    std::deque<Chunk> chunks_;
    std::size_t buffered_ = 0;
    int serial_ = 0;
    bool ended_ = false;
    bool paused_ = false;
    bool aborted_ = false;
};

} // namespace kv::media::player
