#include "media/player/AudioOutput.h"

#include <algorithm>
#include <cstring>

namespace kv::media::player {

AudioOutput::AudioOutput(PlaybackClock& clock, const std::atomic<int>& volume, AudioTap tap)
    : clock_(clock), volume_(volume), tap_(std::move(tap))
{
}

AudioOutput::~AudioOutput()
{
    abort();
    if (device_ != 0)
        SDL_CloseAudioDevice(device_);
}

bool AudioOutput::open(int sampleRate, int channels, std::string& error)
{
    SDL_AudioSpec want{};
    want.freq = sampleRate > 0 ? sampleRate : 44100;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(std::clamp(channels, 1, 2));
    // About 20 ms per callback: the clock is pulled often enough for a smooth picture.
    int samples = 256;
    while (samples < want.freq / 50)
        samples *= 2;
    want.samples = static_cast<Uint16>(samples);
    want.callback = &AudioOutput::callback;
    want.userdata = this;
    // SDL converts to the device's own format; only rate and channel count may change.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &spec_,
                                  SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device_ == 0) {
        error = std::string("cannot open the sound device: ") + SDL_GetError();
        return false;
    }
    if (spec_.channels < 1 || spec_.channels > 8 || spec_.freq <= 0) {
        error = "the sound device offers an unusable format";
        SDL_CloseAudioDevice(device_);
        device_ = 0;
        return false;
    }
    bytesPerFrame_ = 2 * spec_.channels;
    return true;
}

void AudioOutput::start()
{
    if (device_ != 0)
        SDL_PauseAudioDevice(device_, 0);
}

void AudioOutput::setPaused(bool paused)
{
    std::lock_guard lk(mutex_);
    paused_ = paused;
}

bool AudioOutput::push(int serial, std::int64_t pts, const std::uint8_t* data, int bytes)
{
    if (bytes <= 0)
        return true;
    std::lock_guard lk(mutex_);
    if (aborted_ || serial != serial_)
        return false;
    chunks_.push_back(Chunk{pts, std::vector<std::uint8_t>(data, data + bytes), 0});
    buffered_ += static_cast<std::size_t>(bytes);
    return true;
}

std::int64_t AudioOutput::bufferedMicros() const
{
    std::lock_guard lk(mutex_);
    return bytesToMicros(static_cast<std::int64_t>(buffered_));
}

void AudioOutput::endOfStream(int serial)
{
    std::lock_guard lk(mutex_);
    if (serial == serial_)
        ended_ = true;
}

void AudioOutput::flush(int serial, std::int64_t target)
{
    {
        std::lock_guard lk(mutex_);
        serial_ = serial;
        chunks_.clear();
        buffered_ = 0;
        ended_ = false;
        clock_.reset(target);
    }
}

bool AudioOutput::drained(int serial) const
{
    std::lock_guard lk(mutex_);
    return serial == serial_ && ended_ && chunks_.empty();
}

void AudioOutput::abort()
{
    std::lock_guard lk(mutex_);
    aborted_ = true;
}

std::int64_t AudioOutput::bytesToMicros(std::int64_t bytes) const
{
    return bytes / bytesPerFrame_ * 1000000 / spec_.freq;
}

void SDLCALL AudioOutput::callback(void* self, Uint8* stream, int len)
{
    static_cast<AudioOutput*>(self)->fill(stream, len);
}

void AudioOutput::fill(Uint8* stream, int len)
{
    std::memset(stream, spec_.silence, static_cast<std::size_t>(len));
    {
        std::lock_guard lk(mutex_);
        if (!paused_ && !aborted_ && !chunks_.empty()) {
            const int volume = std::clamp(volume_.load(std::memory_order_relaxed), 0, SDL_MIX_MAXVOLUME);
            const std::int64_t firstPts =
                chunks_.front().pts + bytesToMicros(static_cast<std::int64_t>(chunks_.front().offset));
            int written = 0;
            while (written < len && !chunks_.empty()) {
                Chunk& c = chunks_.front();
                const int n =
                    static_cast<int>(std::min<std::size_t>(c.data.size() - c.offset, len - written));
                // Mixing onto silence at SDL's scale: 128 leaves the samples as they are.
                if (volume == SDL_MIX_MAXVOLUME)
                    std::memcpy(stream + written, c.data.data() + c.offset, static_cast<std::size_t>(n));
                else if (volume > 0)
                    SDL_MixAudioFormat(stream + written, c.data.data() + c.offset, spec_.format,
                                       static_cast<Uint32>(n), volume);
                c.offset += static_cast<std::size_t>(n);
                written += n;
                buffered_ -= static_cast<std::size_t>(n);
                if (c.offset >= c.data.size())
                    chunks_.pop_front();
            }
            // What is handed over now is heard after the buffer the device is still playing.
            clock_.sync(firstPts - bytesToMicros(len));
        }
    }
    if (tap_)
        tap_(reinterpret_cast<const std::int16_t*>(stream), len / 2, spec_.channels);
}

} // namespace kv::media::player
