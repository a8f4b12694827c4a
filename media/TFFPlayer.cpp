#include "media/TFFPlayer.h"

#include "media/ff/InputFile.h"
#include "media/player/AudioOutput.h"
#include "media/player/PictureScaler.h"
#include "media/player/PlaybackClock.h"

#include <SDL2/SDL.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kv::media {

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kReportInterval = 200ms;         // position reports while playing
constexpr auto kPollInterval = 5ms;             // longest a player thread sleeps before looking again
constexpr auto kSoundStartGrace = 1s;           // how long the picture waits for the sound to start the clock
constexpr std::int64_t kAudioAheadUs = 500'000; // decode ahead of the sound device
constexpr std::int64_t kAudioMostUs = 10'000'000; // at most, when the file's interleaving needs it
constexpr std::size_t kVideoAhead = 4;            // decoded pictures ahead of the screen
constexpr std::size_t kVideoMost = 16;            // at most, when the file's interleaving needs it
constexpr std::int64_t kDefaultFrameUs = 40'000;

// The handlers and what a late event needs to know whether it is still wanted. Posted
// events hold it, so one that arrives after the player is gone finds `alive` false.
struct EventSink {
    std::mutex mutex;
    TFFPlayer::FileOpenHandler onFileOpen;
    TFFPlayer::PositionHandler onPosition;
    std::uint64_t session = 0;
    bool alive = true;
};

struct DecodedPicture {
    std::int64_t pts = 0;
    ff::FramePtr frame;
};

} // namespace

// One opened file being played: its reader/decoder thread, its presenting thread, the
// sound device and the state they share.
struct PlaySession {
    PlaySession(std::uint64_t id_, IDispatcher& dispatcher_, std::shared_ptr<EventSink> sink_)
        : id(id_), dispatcher(dispatcher_), sink(std::move(sink_))
    {
    }
    ~PlaySession() { join(); }

    void join()
    {
        if (decodeThread.joinable())
            decodeThread.join();
        if (presentThread.joinable())
            presentThread.join();
    }
    bool finished() const { return running.load() == 0; }

    void decodeLoop();
    void presentLoop();

    // Set before the threads start, constant afterwards.
    const std::uint64_t id;
    IDispatcher& dispatcher;
    std::shared_ptr<EventSink> sink;
    IVideoScreen* screen = nullptr;
    std::unique_ptr<ff::InputFile> input;
    bool hasVideo = false;
    std::int64_t duration = -1;
    int frameWidth = 0;
    int frameHeight = 0;
    std::int64_t frameUs = kDefaultFrameUs;
    TFFPlayer::FrameShownHandler onFrameShown;
    player::PlaybackClock clock;
    std::unique_ptr<player::AudioOutput> audio; // null: nothing heard

    std::atomic<int> screenWidth{0};
    std::atomic<int> screenHeight{0};
    std::atomic<bool> abort{false};
    std::atomic<int> running{0};
    std::atomic<int> seekDoneSerial{0};

    // Shared between the handler thread and both player threads, under `mutex`.
    std::mutex mutex;
    std::condition_variable cv;
    bool paused = false;
    bool seekPending = false;
    std::int64_t seekTarget = 0;
    int lastSerial = 0;                  // the newest seek asked for
    int serial = 0;                      // the seek the decoder has carried out
    std::int64_t serialTarget = 0;       // where that seek went
    std::deque<DecodedPicture> pictures; // of `serial`
    bool videoEnded = false;             // no more pictures of `serial`
    bool readEnded = false;              // the reader reached the end (or a break) for `serial`
    std::int64_t lastPacketEnd = 0;      // end of the latest packet read (files nobody hears or sees)

    std::thread decodeThread;
    std::thread presentThread;

private:
    // The decoder thread's own state.
    struct DecodeState {
        int serial = 0;
        std::int64_t target = 0;
        bool pictureQueued = false;    // a picture of this serial reached the queue
        ff::FramePtr lastBeforeTarget; // shown when the file ends before the target
        std::int64_t lastBeforeTargetPts = 0;
        std::int64_t nextVideoPts = 0;
        std::int64_t nextAudioPts = 0;
        ff::SwrPtr swr;
        AVChannelLayout swrLayout{};
        int swrRate = 0;
        int swrFormat = -1;
        std::vector<std::uint8_t> audioBuffer;
    };

    bool takeSeek(DecodeState& st, bool initial);
    bool roomToDecode();
    bool waitUntil(const std::function<bool()>& ready);
    void onVideoFrame(DecodeState& st, AVFrame* frame);
    void queuePicture(DecodeState& st, std::int64_t pts, ff::FramePtr frame);
    void onAudioFrame(DecodeState& st, AVFrame* frame);
    void queueSamples(DecodeState& st, std::int64_t pts, const std::uint8_t* data, int bytes);
    void finishStreams(DecodeState& st);

    void announceFileOpen();
    void postPosition(std::int64_t pts);
};

// ---------------------------------------------------------------------------------------
// Reading and decoding

bool PlaySession::waitUntil(const std::function<bool()>& ready)
{
    std::unique_lock lk(mutex);
    while (!abort && !seekPending && !ready())
        cv.wait_for(lk, kPollInterval);
    return !abort && !seekPending;
}

// Decoding goes on while either output wants more; it waits only when both have enough,
// so a file whose sound lies far from its picture cannot starve one output.
bool PlaySession::roomToDecode()
{
    const bool videoFull = !hasVideo || pictures.size() >= kVideoAhead;
    const bool audioFull = !audio || audio->bufferedMicros() >= kAudioAheadUs;
    return !(videoFull && audioFull) || (!hasVideo && !audio);
}

bool PlaySession::takeSeek(DecodeState& st, bool initial)
{
    {
        std::lock_guard lk(mutex);
        if (!initial && !seekPending)
            return false;
        if (!initial) { // a seek asked for before the start is taken on the next round
            st.serial = lastSerial;
            st.target = seekTarget;
            seekPending = false;
        }
    }
    if (!initial) {
        try {
            input->seek(st.target);
        } catch (const ff::Error& e) {
            // Reading goes on from where it was; frames before the target are skipped.
            av_log(nullptr, AV_LOG_WARNING, "%s\n", e.what());
        }
    }
    st.pictureQueued = false;
    st.lastBeforeTarget.reset();
    st.nextVideoPts = st.target;
    st.nextAudioPts = st.target;
    st.swr.reset();
    {
        std::lock_guard lk(mutex);
        serial = st.serial;
        serialTarget = st.target;
        pictures.clear();
        videoEnded = !hasVideo;
        readEnded = false;
        lastPacketEnd = st.target;
    }
    if (audio)
        audio->flush(st.serial, st.target); // also sets the clock, under the sound's lock
    else
        clock.reset(st.target);
    cv.notify_all();
    return true;
}

void PlaySession::queuePicture(DecodeState& st, std::int64_t pts, ff::FramePtr frame)
{
    if (!waitUntil([&] { return pictures.size() < kVideoMost; }))
        return;
    {
        std::lock_guard lk(mutex);
        pictures.push_back(DecodedPicture{pts, std::move(frame)});
    }
    st.pictureQueued = true;
    cv.notify_all();
}

void PlaySession::onVideoFrame(DecodeState& st, AVFrame* frame)
{
    std::int64_t pts = input->toMicroseconds(frame->pts, input->videoStreamIndex());
    if (pts == AV_NOPTS_VALUE)
        pts = st.nextVideoPts;
    st.nextVideoPts = pts + frameUs;
    ff::FramePtr copy = ff::allocFrame();
    ff::check(av_frame_ref(copy.get(), frame), "cannot keep a decoded picture");
    // After a seek, pictures that end before the target are skipped; the last of them is
    // kept in case the file ends first (a seek to the end shows the last picture).
    if (!st.pictureQueued && pts + frameUs <= st.target) {
        st.lastBeforeTarget = std::move(copy);
        st.lastBeforeTargetPts = pts;
        return;
    }
    st.lastBeforeTarget.reset();
    queuePicture(st, pts, std::move(copy));
}

void PlaySession::queueSamples(DecodeState& st, std::int64_t pts, const std::uint8_t* data, int bytes)
{
    const int frameBytes = 2 * audio->channels();
    // Samples before the seek target are not heard.
    if (pts < st.target) {
        const std::int64_t skipFrames = (st.target - pts) * audio->sampleRate() / 1'000'000;
        const std::int64_t skipBytes = std::min<std::int64_t>(skipFrames * frameBytes, bytes);
        data += skipBytes;
        bytes -= static_cast<int>(skipBytes);
        pts += skipFrames * 1'000'000 / audio->sampleRate();
    }
    if (bytes <= 0)
        return;
    if (!waitUntil([&] { return audio->bufferedMicros() < kAudioMostUs; }))
        return;
    audio->push(st.serial, pts, data, bytes);
}

void PlaySession::onAudioFrame(DecodeState& st, AVFrame* frame)
{
    if (!audio)
        return;
    const int outRate = audio->sampleRate();
    const int outChannels = audio->channels();
    if (!st.swr || st.swrRate != frame->sample_rate || st.swrFormat != frame->format ||
        av_channel_layout_compare(&st.swrLayout, &frame->ch_layout) != 0) {
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, outChannels);
        SwrContext* raw = nullptr;
        int ret =
            swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, outRate, &frame->ch_layout,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        ff::SwrPtr swr(raw);
        av_channel_layout_uninit(&outLayout);
        ff::check(ret, "cannot set up the sound resampler");
        ff::check(swr_init(swr.get()), "cannot set up the sound resampler");
        st.swr = std::move(swr);
        av_channel_layout_uninit(&st.swrLayout);
        ff::check(av_channel_layout_copy(&st.swrLayout, &frame->ch_layout), "cannot copy a channel layout");
        st.swrRate = frame->sample_rate;
        st.swrFormat = frame->format;
    }
    std::int64_t pts = input->toMicroseconds(frame->pts, input->audioStreamIndex());
    if (pts == AV_NOPTS_VALUE)
        pts = st.nextAudioPts;
    if (frame->sample_rate > 0)
        st.nextAudioPts = pts + static_cast<std::int64_t>(frame->nb_samples) * 1'000'000 / frame->sample_rate;
    // What comes out first is what the resampler still held from earlier input.
    const std::int64_t heldUs = swr_get_delay(st.swr.get(), 1'000'000);
    const int most = ff::check(swr_get_out_samples(st.swr.get(), frame->nb_samples), "cannot resample sound");
    st.audioBuffer.resize(static_cast<std::size_t>(most) * 2 * outChannels);
    std::uint8_t* out = st.audioBuffer.data();
    const int got =
        ff::check(swr_convert(st.swr.get(), &out, most,
                              const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples),
                  "cannot resample sound");
    queueSamples(st, pts - heldUs, out, got * 2 * outChannels);
}

void PlaySession::finishStreams(DecodeState& st)
{
    try {
        if (AVCodecContext* dec = input->videoDecoder())
            input->decode(dec, nullptr, [&](AVFrame* f) { onVideoFrame(st, f); });
        if (AVCodecContext* dec = input->audioDecoder(); dec && audio) {
            input->decode(dec, nullptr, [&](AVFrame* f) { onAudioFrame(st, f); });
            if (st.swr) {
                const int most = swr_get_out_samples(st.swr.get(), 0);
                if (most > 0) {
                    st.audioBuffer.resize(static_cast<std::size_t>(most) * 2 * audio->channels());
                    std::uint8_t* out = st.audioBuffer.data();
                    const int got = swr_convert(st.swr.get(), &out, most, nullptr, 0);
                    if (got > 0)
                        queueSamples(st, st.nextAudioPts, out, got * 2 * audio->channels());
                }
            }
        }
    } catch (const ff::Error& e) {
        av_log(nullptr, AV_LOG_WARNING, "%s\n", e.what());
    }
    if (!st.pictureQueued && st.lastBeforeTarget)
        queuePicture(st, st.lastBeforeTargetPts, std::move(st.lastBeforeTarget));
    {
        std::lock_guard lk(mutex);
        if (serial == st.serial && !seekPending) {
            videoEnded = true;
            readEnded = true;
        }
    }
    if (audio)
        audio->endOfStream(st.serial);
    cv.notify_all();
}

void PlaySession::decodeLoop()
{
    DecodeState st;
    try {
        ff::PacketPtr packet = ff::allocPacket();
        takeSeek(st, true);
        bool atEnd = false;
        while (!abort) {
            if (takeSeek(st, false))
                atEnd = false;
            if (atEnd) {
                std::unique_lock lk(mutex);
                cv.wait_for(lk, 50ms, [&] { return abort || seekPending; });
                continue;
            }
            if (!waitUntil([&] { return roomToDecode(); }))
                continue;
            bool more = false;
            try {
                more = input->readPacket(packet.get());
                if (more) {
                    const int index = packet->stream_index;
                    if (packet->pts != AV_NOPTS_VALUE) {
                        const std::int64_t end = input->toMicroseconds(
                            packet->pts + std::max<std::int64_t>(packet->duration, 0), index);
                        std::lock_guard lk(mutex);
                        lastPacketEnd = std::max(lastPacketEnd, end);
                    }
                    if (index == input->videoStreamIndex() && input->videoDecoder())
                        input->decode(input->videoDecoder(), packet.get(),
                                      [&](AVFrame* f) { onVideoFrame(st, f); });
                    else if (index == input->audioStreamIndex() && input->audioDecoder() && audio)
                        input->decode(input->audioDecoder(), packet.get(),
                                      [&](AVFrame* f) { onAudioFrame(st, f); });
                    av_packet_unref(packet.get());
                }
            } catch (const ff::Error& e) {
                // A break in the file: play what was read, then stand at the end.
                av_packet_unref(packet.get());
                if (abort)
                    break;
                av_log(nullptr, AV_LOG_WARNING, "%s\n", e.what());
                more = false;
            }
            if (!more) {
                finishStreams(st);
                atEnd = true;
            }
        }
    } catch (const std::exception& e) {
        av_log(nullptr, AV_LOG_ERROR, "preview stopped: %s\n", e.what());
        std::lock_guard lk(mutex);
        videoEnded = true;
        readEnded = true;
    }
    av_channel_layout_uninit(&st.swrLayout);
    cv.notify_all();
    --running;
}

// ---------------------------------------------------------------------------------------
// Presenting and reporting

void PlaySession::announceFileOpen()
{
    // The handler may change the screen size, so the first picture waits for it. It is
    // posted rather than invoked blocking, and this thread waits only while the session
    // lives: a handler that stops the player (and waits) cannot deadlock with it.
    struct Call {
        std::atomic<bool> done{false};
        std::atomic<int> width{0};
        std::atomic<int> height{0};
    };
    auto call = std::make_shared<Call>();
    call->width = screenWidth.load();
    call->height = screenHeight.load();
    dispatcher.post(
        [sink = sink, session = id, call, duration = duration, fw = frameWidth, fh = frameHeight] {
            TFFPlayer::FileOpenHandler handler;
            {
                std::lock_guard lk(sink->mutex);
                if (sink->alive && sink->session == session)
                    handler = sink->onFileOpen;
            }
            if (handler) {
                int width = call->width;
                int height = call->height;
                handler(duration, fw, fh, width, height);
                call->width = width;
                call->height = height;
            }
            call->done = true;
        });
    std::unique_lock lk(mutex);
    while (!abort && !call->done)
        cv.wait_for(lk, kPollInterval);
    screenWidth = std::max(call->width.load(), 0);
    screenHeight = std::max(call->height.load(), 0);
}

void PlaySession::postPosition(std::int64_t pts)
{
    if (duration > 0)
        pts = std::min(pts, duration);
    pts = std::max<std::int64_t>(pts, 0);
    dispatcher.post([sink = sink, session = id, pts] {
        TFFPlayer::PositionHandler handler;
        {
            std::lock_guard lk(sink->mutex);
            if (!sink->alive || sink->session != session)
                return;
            handler = sink->onPosition;
        }
        if (handler)
            handler(pts);
    });
}

void PlaySession::presentLoop()
{
    try {
        announceFileOpen();
        if (screen && !hasVideo)
            screen->Clear();
        player::PictureScaler scaler;
        TRGBImage picture;
        int shownSerial = -1;
        bool firstShown = false;
        bool ended = false;
        std::int64_t startPts = 0;
        std::int64_t shownEnd = 0;
        auto serialStart = SteadyClock::now();
        auto lastReport = SteadyClock::now();

        while (!abort) {
            std::unique_lock lk(mutex);
            if (shownSerial != serial) {
                shownSerial = serial;
                startPts = serialTarget;
                shownEnd = serialTarget;
                firstShown = false;
                ended = false;
                serialStart = SteadyClock::now();
                if (!hasVideo) {
                    seekDoneSerial = shownSerial;
                    lk.unlock();
                    postPosition(startPts);
                    continue;
                }
            }
            const bool isPaused = paused;
            const bool seekWaiting = seekPending;

            // The sound starts the clock; without sound (or when it does not come), the picture does.
            if (!clock.started() && !isPaused && !seekWaiting) {
                const bool soundComing = audio && !audio->drained(shownSerial) &&
                                         SteadyClock::now() - serialStart < kSoundStartGrace;
                if (!soundComing && (firstShown || !hasVideo || videoEnded))
                    clock.start(startPts);
            }

            if (hasVideo && !pictures.empty() && !seekWaiting) {
                const DecodedPicture& next = pictures.front();
                const std::int64_t now = clock.now();
                bool show = false;
                bool drop = false;
                if (!firstShown) {
                    show = true; // the first picture after an open or a seek, paused or not
                } else if (!isPaused && clock.started() && now >= next.pts) {
                    // Late by a whole picture and the next one is due too: skip this one unscaled.
                    drop = pictures.size() > 1 && now >= pictures[1].pts;
                    show = !drop;
                }
                if (show || drop) {
                    DecodedPicture taken = std::move(pictures.front());
                    pictures.pop_front();
                    lk.unlock();
                    cv.notify_all();
                    if (show) {
                        std::string error;
                        if (screen && scaler.scale(*taken.frame, screenWidth, screenHeight, picture, error))
                            screen->Present(picture);
                        else if (screen && !error.empty())
                            av_log(nullptr, AV_LOG_WARNING, "preview: %s\n", error.c_str());
                        if (onFrameShown)
                            onFrameShown(taken.pts, clock.now());
                        shownEnd = taken.pts + frameUs;
                        if (!firstShown) {
                            firstShown = true;
                            startPts = taken.pts;
                            seekDoneSerial = shownSerial;
                            postPosition(clock.started() ? clock.now() : taken.pts);
                            lastReport = SteadyClock::now();
                        }
                    }
                    continue;
                }
            }

            // The end: every picture shown and its time passed, every sample heard.
            if (!ended && !seekWaiting) {
                const std::int64_t now = clock.now();
                const bool videoDone =
                    !hasVideo || (videoEnded && pictures.empty() && (now >= shownEnd || !clock.started()));
                const bool soundDone =
                    audio ? audio->drained(shownSerial) : (hasVideo || (readEnded && now >= lastPacketEnd));
                if (videoDone && !firstShown && hasVideo)
                    seekDoneSerial = shownSerial; // nothing to show after this seek
                if (videoDone && soundDone && (clock.started() || !hasVideo || !firstShown)) {
                    ended = true;
                    lk.unlock();
                    postPosition(hasVideo ? std::max(now, shownEnd - frameUs) : now);
                    continue;
                }
            }

            if (!ended && !isPaused && clock.started() &&
                SteadyClock::now() - lastReport >= kReportInterval) {
                lk.unlock();
                lastReport = SteadyClock::now();
                postPosition(clock.now());
                continue;
            }

            auto wait = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::milliseconds(10));
            if (hasVideo && !pictures.empty() && !isPaused && clock.started()) {
                const auto until = std::chrono::microseconds(pictures.front().pts - clock.now());
                wait = std::clamp<SteadyClock::duration>(until, SteadyClock::duration::zero(), wait);
            }
            if (wait > SteadyClock::duration::zero())
                cv.wait_for(lk, wait);
        }
    } catch (const std::exception& e) {
        av_log(nullptr, AV_LOG_ERROR, "preview stopped: %s\n", e.what());
    }
    if (screen)
        screen->Clear();
    --running;
}

// ---------------------------------------------------------------------------------------
// The player

struct TFFPlayer::Impl {
    explicit Impl(IDispatcher& d) : dispatcher(d) {}

    IDispatcher& dispatcher;
    std::shared_ptr<EventSink> sink = std::make_shared<EventSink>();
    std::unique_ptr<PlaySession> current;
    std::vector<std::unique_ptr<PlaySession>> stopping; // stopped without waiting, not yet joined
    std::uint64_t nextSession = 1;
    std::atomic<int> volume{SDL_MIX_MAXVOLUME};
    FrameShownHandler onFrameShown;
    AudioTap audioTap;
    bool sdlAudio = false;
    bool libsChecked = false;
    mutable std::mutex errorMutex;
    std::string lastError;

    void setError(std::string text)
    {
        std::lock_guard lk(errorMutex);
        lastError = std::move(text);
    }
    void reap()
    {
        std::erase_if(stopping, [](const std::unique_ptr<PlaySession>& s) { return s->finished(); });
    }
};

namespace {

// The libraries this program was built against must be the ones it runs with (a LibAV
// folder beside the program is searched first); a different major version breaks the ABI.
std::string checkLibraries()
{
    struct Lib {
        const char* name;
        unsigned built;
        unsigned running;
    };
    const Lib libs[] = {
        {"libavformat", LIBAVFORMAT_VERSION_MAJOR, avformat_version() >> 16},
        {"libavcodec", LIBAVCODEC_VERSION_MAJOR, avcodec_version() >> 16},
        {"libavutil", LIBAVUTIL_VERSION_MAJOR, avutil_version() >> 16},
        {"libswscale", LIBSWSCALE_VERSION_MAJOR, swscale_version() >> 16},
        {"libswresample", LIBSWRESAMPLE_VERSION_MAJOR, swresample_version() >> 16},
    };
    for (const Lib& l : libs)
        if (l.built != l.running)
            return std::string(l.name) + " version " + std::to_string(l.running) +
                   " is in use, but version " + std::to_string(l.built) + " is needed";
    SDL_version sdl;
    SDL_GetVersion(&sdl);
    if (sdl.major != SDL_MAJOR_VERSION)
        return "SDL " + std::to_string(sdl.major) + " is in use, but SDL " +
               std::to_string(SDL_MAJOR_VERSION) + " is needed";
    return {};
}

} // namespace

TFFPlayer::TFFPlayer(IDispatcher& dispatcher) : d(std::make_unique<Impl>(dispatcher)) {}

TFFPlayer::~TFFPlayer()
{
    Stop(true);
    {
        std::lock_guard lk(d->sink->mutex);
        d->sink->alive = false;
    }
    if (d->sdlAudio)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool TFFPlayer::AVLibLoaded() const
{
    return d->libsChecked;
}

bool TFFPlayer::LoadAVLib(const std::string& folder)
{
    (void)folder; // the libraries are bound at start; the folder beside the program is searched first
    const std::string problem = checkLibraries();
    if (!problem.empty()) {
        d->setError("cannot use the media libraries: " + problem);
        return false;
    }
    d->libsChecked = true;
    return true;
}

bool TFFPlayer::Open(const std::string& fileName, IVideoScreen* screen, int screenWidth, int screenHeight,
                     bool paused)
{
    Stop(true);
    auto s = std::make_unique<PlaySession>(d->nextSession++, d->dispatcher, d->sink);
    s->screen = screen;
    s->screenWidth = screenWidth;
    s->screenHeight = screenHeight;
    s->onFrameShown = d->onFrameShown;
    s->paused = paused;
    try {
        ff::InputOpenOptions options;
        options.interrupt = [abort = &s->abort] { return abort->load(); };
        s->input = std::make_unique<ff::InputFile>(fileName, options);
    } catch (const std::exception& e) {
        d->setError(e.what());
        return false;
    }
    ff::InputFile& in = *s->input;
    s->hasVideo = in.videoDecoder() != nullptr;
    s->duration = in.durationUs();
    if (s->hasVideo) {
        // At preview size the deblocking filter's work cannot be seen; skipping it saves
        // a good part of the decoding time of large pictures.
        in.videoDecoder()->skip_loop_filter = AVDISCARD_ALL;
        s->frameWidth = in.videoDecoder()->width;
        s->frameHeight = in.videoDecoder()->height;
        const AVRational rate = in.videoFrameRate();
        if (rate.num > 0 && rate.den > 0)
            s->frameUs = std::max<std::int64_t>(1000, av_rescale(1'000'000, rate.den, rate.num));
    }
    if (AVCodecContext* dec = in.audioDecoder()) {
        if (!d->sdlAudio) {
            d->sdlAudio = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
            if (!d->sdlAudio)
                av_log(nullptr, AV_LOG_WARNING, "preview without sound: %s\n", SDL_GetError());
        }
        if (d->sdlAudio) {
            s->audio = std::make_unique<player::AudioOutput>(s->clock, d->volume, d->audioTap);
            std::string error;
            if (!s->audio->open(dec->sample_rate, dec->ch_layout.nb_channels, error)) {
                av_log(nullptr, AV_LOG_WARNING, "preview without sound: %s\n", error.c_str());
                s->audio.reset();
            }
        }
    }
    s->clock.setPaused(paused);
    if (s->audio)
        s->audio->setPaused(paused);
    {
        std::lock_guard lk(d->sink->mutex);
        d->sink->session = s->id;
    }
    s->running = 2;
    PlaySession* raw = s.get();
    s->decodeThread = std::thread([raw] { raw->decodeLoop(); });
    s->presentThread = std::thread([raw] { raw->presentLoop(); });
    if (s->audio)
        s->audio->start();
    d->current = std::move(s);
    return true;
}

void TFFPlayer::Stop(bool waitForStop)
{
    {
        std::lock_guard lk(d->sink->mutex);
        d->sink->session = 0; // reports still on their way are dropped
    }
    if (d->current) {
        d->current->abort = true;
        if (d->current->audio)
            d->current->audio->abort();
        d->current->cv.notify_all();
        d->stopping.push_back(std::move(d->current));
    }
    if (waitForStop && !d->stopping.empty()) {
        d->dispatcher.waitServing([this] {
            return std::all_of(d->stopping.begin(), d->stopping.end(),
                               [](const std::unique_ptr<PlaySession>& s) { return s->finished(); });
        });
    }
    d->reap();
}

void TFFPlayer::Pause()
{
    PlaySession* s = d->current.get();
    if (!s)
        return;
    {
        std::lock_guard lk(s->mutex);
        if (s->paused)
            return;
        s->paused = true;
        s->clock.setPaused(true);
        if (s->audio)
            s->audio->setPaused(true);
    }
    s->cv.notify_all();
}

void TFFPlayer::Resume()
{
    PlaySession* s = d->current.get();
    if (!s)
        return;
    {
        std::lock_guard lk(s->mutex);
        if (!s->paused)
            return;
        s->paused = false;
        s->clock.setPaused(false);
        if (s->audio)
            s->audio->setPaused(false);
    }
    s->cv.notify_all();
}

bool TFFPlayer::Paused() const
{
    PlaySession* s = d->current.get();
    if (!s)
        return false;
    std::lock_guard lk(s->mutex);
    return s->paused;
}

void TFFPlayer::Seek(std::int64_t pts, int seekFlags, bool waitForSeekEnd)
{
    (void)seekFlags; // always by time
    PlaySession* s = d->current.get();
    if (!s)
        return;
    std::int64_t target = std::max<std::int64_t>(pts, 0);
    if (s->duration > 0)
        target = std::min(target, s->duration);
    int serial = 0;
    {
        std::lock_guard lk(s->mutex);
        s->seekPending = true;
        s->seekTarget = target;
        serial = ++s->lastSerial;
    }
    s->cv.notify_all();
    // A handler served meanwhile may stop the player or open another file, which frees `s`:
    // then the seek is over, and `s` is looked at only while it is still the one playing.
    if (waitForSeekEnd)
        d->dispatcher.waitServing([this, id = s->id, serial] {
            const PlaySession* now = d->current.get();
            return !now || now->id != id || now->seekDoneSerial >= serial || now->finished();
        });
}

std::uint8_t TFFPlayer::AudioVolume() const
{
    return static_cast<std::uint8_t>(d->volume.load());
}

void TFFPlayer::SetAudioVolume(std::uint8_t volume)
{
    d->volume = std::min<int>(volume, SDL_MIX_MAXVOLUME);
}

std::string TFFPlayer::LastErrMsg() const
{
    std::lock_guard lk(d->errorMutex);
    return d->lastError;
}

void TFFPlayer::SetOnFileOpen(FileOpenHandler h)
{
    std::lock_guard lk(d->sink->mutex);
    d->sink->onFileOpen = std::move(h);
}

void TFFPlayer::SetOnPosition(PositionHandler h)
{
    std::lock_guard lk(d->sink->mutex);
    d->sink->onPosition = std::move(h);
}

void TFFPlayer::SetOnFrameShown(FrameShownHandler h)
{
    d->onFrameShown = std::move(h);
}

void TFFPlayer::SetAudioTap(AudioTap tap)
{
    d->audioTap = std::move(tap);
}

bool TFFPlayer::SoundActive() const
{
    return d->current && d->current->audio;
}

} // namespace kv::media
