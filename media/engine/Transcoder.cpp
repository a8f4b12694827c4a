#include "media/engine/Transcoder.h"

#include "media/engine/HookBitmap.h"
#include "media/engine/OutputSettings.h"
#include "media/ff/InputFile.h"
#include "media/ff/OutputFile.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace kv::media::engine {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int64_t kSecond = 1'000'000;
// Audio drifting further than this from its timestamps is corrected with silence or by
// dropping samples (as ffmpeg's aresample=async does); smaller jitter is left alone.
constexpr double kAudioHardSyncSeconds = 0.1;
// In formats whose clock may restart (transport streams), a jump of more than this between
// one packet of a stream and the next is a cut in the recording, not a pause to fill in.
constexpr std::int64_t kClockJumpUs = 10 * kSecond;
// Filling a hole in the source (repeated pictures, silence) looks for a pause or a stop after
// this many frames, so a long hole does not hold either up.
constexpr int kFillFramesBetweenChecks = 64;

void fillBlack(AVFrame* f)
{
    const std::ptrdiff_t ls[4] = {f->linesize[0], f->linesize[1], f->linesize[2], f->linesize[3]};
    ff::check(av_image_fill_black(f->data, ls, static_cast<AVPixelFormat>(f->format), AVCOL_RANGE_MPEG,
                                  f->width, f->height),
              "cannot clear a video frame");
}

std::string baseNameOf(const std::string& path)
{
    return std::filesystem::path(path).stem().string();
}

// Days since 1899-12-30 in local time (0: now) as an ISO 8601 UTC text for creation_time.
std::string creationTime(double days)
{
    std::time_t t;
    if (days == 0) {
        t = std::time(nullptr);
    } else {
        const double secs = (days - 25569.0) * 86400.0; // 25569: 1970-01-01
        std::time_t asUtc = static_cast<std::time_t>(secs);
        std::tm local{};
        gmtime_r(&asUtc, &local); // the value's fields are local time
        local.tm_isdst = -1;
        t = std::mktime(&local);
    }
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return buf;
}

class Transcoder {
  public:
    Transcoder(int taskIndex, const TInputOptions& input, const TOutputOptions& output,
               const TranscodeEvents& ev)
        : task_(taskIndex), inOpts_(input), outOpts_(output), ev_(ev)
    {
    }

    ~Transcoder() { av_channel_layout_uninit(&swrInLayout_); }
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    TranscodeEnd run();

  private:
    void log(TLogLevel level, const std::string& text) const
    {
        if (ev_.log)
            ev_.log(level, text);
    }
    bool stopRequested() const { return ev_.stopRequested && ev_.stopRequested(); }
    // For loops that fill a hole: every so many frames, halts while paused; false once a
    // stop was asked for (the hole is then left unfilled: the output ends there anyway).
    bool keepFilling(int& framesSinceCheck)
    {
        if (++framesSinceCheck < kFillFramesBetweenChecks)
            return true;
        framesSinceCheck = 0;
        if (ev_.waitWhilePaused)
            ev_.waitWhilePaused();
        if (stopRequested())
            fillCut_ = true;
        return !fillCut_;
    }

    void openVideoEncoder();
    void openAudioEncoder();
    void setMetadata();

    // video
    void onVideoFrame(AVFrame* frame);
    void runHook(AVFrame* frame, std::int64_t ptsUs);
    AVFrame* hookableCopy(const AVFrame* frame);
    std::int64_t slotOf(std::int64_t us) const;
    std::int64_t slotTimeUs(std::int64_t slot) const;
    void emitVideoUntil(std::int64_t endSlot);
    void scaleIntoCanvas(const AVFrame* frame);
    void sendVideo(const AVFrame* frame);
    void maybePreview();

    // audio
    void onAudioFrame(AVFrame* frame);
    void setupResampler(const AVFrame* frame);
    void convertAudio(const AVFrame* frame); // null flushes the resampler
    void pushSilence(std::int64_t samples);
    void encodeAudio(bool final);
    void sendAudio(const AVFrame* frame);
    std::int64_t audioSamplesQueued() const;

    void stitchClockJumps(AVPacket* packet);
    void drain(AVCodecContext* enc, AVStream* st);
    void keepSyntheticStreamsUp();
    void maybeProgress(bool force = false);

    int task_;
    const TInputOptions& inOpts_;
    const TOutputOptions& outOpts_;
    const TranscodeEvents& ev_;

    std::unique_ptr<ff::InputFile> in_;
    std::unique_ptr<ff::OutputFile> out_;
    OutputSettings settings_;
    std::int64_t originUs_ = 0;     // source time of the output's start
    std::int64_t jumpOffsetUs_ = 0; // added to every packet to close the clock jumps met so far
    std::int64_t nextVideoDtsUs_ = AV_NOPTS_VALUE;
    std::int64_t nextAudioDtsUs_ = AV_NOPTS_VALUE;
    bool fillCut_ = false; // a stop cut a hole's filling short: the output is not complete
    ff::PacketPtr packet_ = ff::allocPacket();

    // video
    ff::CodecCtxPtr venc_;
    AVStream* vst_ = nullptr;
    bool realVideo_ = false;
    ff::FramePtr canvas_;  // the output picture: black borders, the source fitted inside
    ff::FramePtr pending_; // the newest source frame not yet placed on every slot it covers
    bool pendingScaled_ = false;
    std::int64_t pendingEndUs_ = 0;
    std::int64_t lastVideoUs_ = AV_NOPTS_VALUE;
    std::int64_t lastVideoDurUs_ = 0;
    std::int64_t nextSlot_ = 0; // next output frame number
    bool canvasReady_ = false;  // canvas_ holds a picture that may be repeated
    ff::SwsPtr scaler_;
    FitRect fit_{};
    int fitSrcW_ = 0, fitSrcH_ = 0, fitSrcFmt_ = -1;
    AVRational fitSar_{0, 1};
    HookBitmap hookBitmap_;
    ff::FramePtr hookScratch_; // the source in a format the hook's rows can go back into
    ff::SwsPtr hookConvert_;
    int hookScratchSrcFmt_ = -1;
    bool hookOn_ = false;
    int decodedFrames_ = 0;

    // audio
    ff::CodecCtxPtr aenc_;
    AVStream* ast_ = nullptr;
    bool realAudio_ = false;
    bool audioStarted_ = false;
    ff::SwrPtr swr_;
    int swrInFmt_ = -1, swrInRate_ = 0;
    AVChannelLayout swrInLayout_{};
    ff::AudioFifoPtr fifo_;
    ff::FramePtr audioTmp_;
    int audioTmpCap_ = 0;
    ff::FramePtr audioFrame_;
    int audioFrameSize_ = 1024;
    std::int64_t audioSamplesEncoded_ = 0;

    // progress and preview
    std::int64_t sourcePosUs_ = 0;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastProgress_ = Clock::now();
    Clock::time_point lastPreview_{};
    ff::SwsPtr previewScaler_;
    TRGBImage preview_;
    FitRect previewFit_{};
};

// ---------------------------------------------------------------- setup

void Transcoder::openVideoEncoder()
{
    const auto& v = settings_.video;
    const AVCodec* codec = avcodec_find_encoder_by_name(v.encoder.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw ff::Error("the video encoder \"" + v.encoder + "\" is not available",
                        AVERROR_ENCODER_NOT_FOUND);
    venc_.reset(ff::checkAlloc(avcodec_alloc_context3(codec), "cannot allocate the video encoder"));
    AVCodecContext* c = venc_.get();
    c->width = v.width;
    c->height = v.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    if (codec->pix_fmts) {
        bool has420 = false;
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            has420 |= *p == AV_PIX_FMT_YUV420P;
        if (!has420)
            throw ff::Error("the video encoder \"" + v.encoder + "\" does not take 4:2:0 pictures");
    }
    c->time_base = av_inv_q(v.rate);
    c->framerate = v.rate;
    c->sample_aspect_ratio = {0, 1}; // square pixels, no aspect box (the picture is fitted instead)
    if (v.bitrate > 0)
        c->bit_rate = v.bitrate;
    if (v.tolerance > 0)
        c->bit_rate_tolerance = static_cast<int>(std::min<std::int64_t>(v.tolerance, INT32_MAX));
    if (v.maxRate > 0)
        c->rc_max_rate = v.maxRate;
    if (v.bufSize > 0)
        c->rc_buffer_size = static_cast<int>(std::min<std::int64_t>(v.bufSize, INT32_MAX));
    c->thread_count = 0;
    if (out_->context()->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* raw = nullptr;
    std::unique_ptr<AVDictionary, ff::DictFreer> opts;
    const std::string name = codec->name;
    if (name == "libx264") {
        std::string params = x264ParamsForPreset(v.preset);
        if (!v.preset.empty() && params.empty())
            log(TLogLevel::llWarning, "unknown video preset \"" + v.preset + "\" ignored");
        if (settings_.psp) {
            if (!params.empty())
                params += ':';
            params += x264PspParams();
            av_dict_set(&raw, "profile", "main", 0);
            c->level = 21;
        }
        if (!params.empty())
            av_dict_set(&raw, "x264-params", params.c_str(), 0);
    } else if (!v.preset.empty()) {
        log(TLogLevel::llWarning, "video preset \"" + v.preset + "\" ignored for " + name);
    }
    if (name == "mpeg4" && settings_.psp) {
        c->max_b_frames = 0;           // Simple Profile: I and P only
        c->flags |= AV_CODEC_FLAG_4MV; // no quarter-pel, no global motion (both off by default)
    }
    int ret = avcodec_open2(c, codec, &raw);
    opts.reset(raw);
    if (ret < 0)
        throw ff::Error("cannot open the video encoder \"" + name + "\": " + ff::errorText(ret), ret);
    vst_ = out_->addStream(c);
}

void Transcoder::openAudioEncoder()
{
    const auto& a = settings_.audio;
    const AVCodec* codec = avcodec_find_encoder_by_name(a.encoder.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO)
        throw ff::Error("the audio encoder \"" + a.encoder + "\" is not available",
                        AVERROR_ENCODER_NOT_FOUND);
    aenc_.reset(ff::checkAlloc(avcodec_alloc_context3(codec), "cannot allocate the audio encoder"));
    AVCodecContext* c = aenc_.get();
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    c->sample_rate = a.sampleRate;
    av_channel_layout_default(&c->ch_layout, a.channels);
    c->bit_rate = a.bitrate;
    c->time_base = {1, a.sampleRate};
    if (codec->id == AV_CODEC_ID_AAC)
        c->profile = FF_PROFILE_AAC_LOW;
    if (out_->context()->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0)
        throw ff::Error(
            "cannot open the audio encoder \"" + std::string(codec->name) + "\": " + ff::errorText(ret), ret);
    audioFrameSize_ = c->frame_size > 0 ? c->frame_size : 1024;
    ast_ = out_->addStream(c);

    fifo_.reset(
        ff::checkAlloc(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, 4 * audioFrameSize_),
                       "cannot allocate the audio buffer"));
    audioFrame_ = ff::allocFrame();
    audioFrame_->format = c->sample_fmt;
    ff::check(av_channel_layout_copy(&audioFrame_->ch_layout, &c->ch_layout), "cannot set up audio");
    audioFrame_->sample_rate = c->sample_rate;
    audioFrame_->nb_samples = audioFrameSize_;
    ff::check(av_frame_get_buffer(audioFrame_.get(), 0), "cannot allocate an audio frame");
}

void Transcoder::setMetadata()
{
    AVDictionary** md = &out_->context()->metadata;
    const auto& info = outOpts_.Info;
    const std::string title = info.Title.empty() ? baseNameOf(inOpts_.FileName) : info.Title;
    av_dict_set(md, "title", title.c_str(), 0);
    if (!info.Author.empty())
        av_dict_set(md, "author", info.Author.c_str(), 0);
    if (!info.Comment.empty())
        av_dict_set(md, "comment", info.Comment.c_str(), 0);
    av_dict_set(md, "creation_time", creationTime(info.TimeStamp).c_str(), 0);
}

// ---------------------------------------------------------------- run

TranscodeEnd Transcoder::run()
{
    ff::InputOpenOptions io;
    io.formatName = inOpts_.ForceFormat;
    io.wantVideo = !outOpts_.DisableVideo;
    io.wantAudio = !outOpts_.DisableAudio;
    io.interrupt = ev_.stopRequested;
    in_ = std::make_unique<ff::InputFile>(inOpts_.FileName, io);
    realVideo_ = in_->videoDecoder() != nullptr;
    realAudio_ = in_->audioDecoder() != nullptr;
    if (inOpts_.TimeStart > 0) {
        in_->seek(inOpts_.TimeStart);
        originUs_ = inOpts_.TimeStart;
    }

    const AVCodecContext* vdec = in_->videoDecoder();
    settings_ =
        resolveOutput(outOpts_, vdec ? vdec->width : 0, vdec ? vdec->height : 0, in_->videoFrameRate());
    out_ = std::make_unique<ff::OutputFile>(outOpts_.FileName, settings_.muxer);
    log(TLogLevel::llInfo, "converting " + inOpts_.FileName + " to " + outOpts_.FileName);

    // The PSP takes exactly one video and one audio stream, video first; a source that
    // lacks one gets a black picture or silence instead.
    openVideoEncoder();
    openAudioEncoder();
    setMetadata();
    out_->writeHeader();

    canvas_ = ff::allocFrame();
    canvas_->format = venc_->pix_fmt;
    canvas_->width = venc_->width;
    canvas_->height = venc_->height;
    ff::check(av_frame_get_buffer(canvas_.get(), 0), "cannot allocate a video frame");
    fillBlack(canvas_.get());
    if (!realVideo_)
        canvasReady_ = true; // black

    hookOn_ = outOpts_.VideoInputHook && static_cast<bool>(ev_.hook) && realVideo_;
    if (ev_.preview) {
        preview_.Width = std::max(2, ev_.previewWidth);
        preview_.Height = std::max(2, ev_.previewHeight);
        preview_.Stride = preview_.Width * 3;
        preview_.Pixels.assign(static_cast<size_t>(preview_.Stride) * preview_.Height, 0);
        previewFit_ = fitInside(canvas_->width, canvas_->height, {1, 1}, preview_.Width, preview_.Height);
    }

    const int vidx = in_->videoStreamIndex();
    const int aidx = in_->audioStreamIndex();
    auto onVideo = [this](AVFrame* f) { onVideoFrame(f); };
    auto onAudio = [this](AVFrame* f) { onAudioFrame(f); };
    bool stopped = false;
    for (;;) {
        if (ev_.waitWhilePaused)
            ev_.waitWhilePaused();
        if (stopRequested()) {
            stopped = true;
            break;
        }
        bool more;
        try {
            more = in_->readPacket(packet_.get());
        } catch (const ff::Error& e) {
            if (e.code() == AVERROR_EXIT && stopRequested()) {
                stopped = true;
                break;
            }
            throw;
        }
        if (!more)
            break;
        stitchClockJumps(packet_.get());
        if (realVideo_ && packet_->stream_index == vidx)
            in_->decode(in_->videoDecoder(), packet_.get(), onVideo);
        else if (realAudio_ && packet_->stream_index == aidx)
            in_->decode(in_->audioDecoder(), packet_.get(), onAudio);
        av_packet_unref(packet_.get());
        keepSyntheticStreamsUp();
        maybeProgress();
    }
    av_packet_unref(packet_.get());
    if (!stopped) {
        if (realVideo_)
            in_->decode(in_->videoDecoder(), nullptr, onVideo);
        if (realAudio_)
            in_->decode(in_->audioDecoder(), nullptr, onAudio);
    }

    // Close the last picture's time, then end both streams together.
    if (pending_ || realVideo_) {
        std::int64_t end = pending_ ? slotOf(pendingEndUs_) : nextSlot_;
        if (pending_ && end <= nextSlot_ && !pendingScaled_)
            end = nextSlot_ + 1; // a frame that fell between slots is still shown once
        emitVideoUntil(end);
    }
    if (realAudio_ && swr_)
        convertAudio(nullptr);
    const std::int64_t videoEndUs = slotTimeUs(nextSlot_);
    const std::int64_t audioEndUs = av_rescale(audioSamplesQueued(), kSecond, aenc_->sample_rate);
    const std::int64_t endUs = std::max(videoEndUs, audioEndUs);
    if (!canvasReady_)
        canvasReady_ = true; // no picture at all: black
    emitVideoUntil(slotOf(endUs));
    const std::int64_t audioTarget = av_rescale(slotTimeUs(nextSlot_), aenc_->sample_rate, kSecond);
    pushSilence(audioTarget - audioSamplesQueued());
    encodeAudio(true);
    sendVideo(nullptr);
    sendAudio(nullptr);
    maybeProgress(true);
    out_->finish();
    stopped = stopped || fillCut_;
    log(TLogLevel::llInfo, std::string(stopped ? "stopped: " : "finished: ") + outOpts_.FileName);
    return stopped ? TranscodeEnd::Stopped : TranscodeEnd::Finished;
}

// ---------------------------------------------------------------- video

std::int64_t Transcoder::slotOf(std::int64_t us) const
{
    return av_rescale_q_rnd(us, AV_TIME_BASE_Q, venc_->time_base,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

std::int64_t Transcoder::slotTimeUs(std::int64_t slot) const
{
    return av_rescale_q(slot, venc_->time_base, AV_TIME_BASE_Q);
}

void Transcoder::onVideoFrame(AVFrame* frame)
{
    ++decodedFrames_;
    std::int64_t t = in_->toMicroseconds(frame->pts, in_->videoStreamIndex());
    if (t == AV_NOPTS_VALUE)
        t = lastVideoUs_ == AV_NOPTS_VALUE ? 0 : lastVideoUs_ + lastVideoDurUs_;
    else
        t -= originUs_;
    std::int64_t dur = frame->pkt_duration > 0
                           ? av_rescale_q(frame->pkt_duration, in_->videoStream()->time_base, AV_TIME_BASE_Q)
                           : 0;
    if (dur <= 0) {
        AVRational r = in_->videoFrameRate();
        dur = r.num > 0 ? av_rescale(kSecond, r.den, r.num) : slotTimeUs(1);
    }
    lastVideoUs_ = t;
    lastVideoDurUs_ = dur;
    sourcePosUs_ = std::max(sourcePosUs_, t);

    if (hookOn_ && !sws_isSupportedOutput(static_cast<AVPixelFormat>(frame->format)))
        frame = hookableCopy(frame); // e.g. palette pictures: the hook's rows could not go back
    if (hookOn_)
        runHook(frame, t);

    if (pending_)
        emitVideoUntil(slotOf(t));
    if (!pending_)
        pending_ = ff::allocFrame();
    av_frame_unref(pending_.get());
    ff::check(av_frame_ref(pending_.get(), frame), "cannot keep a video frame");
    pendingScaled_ = false;
    pendingEndUs_ = t + dur;
}

void Transcoder::runHook(AVFrame* frame, std::int64_t ptsUs)
{
    hookBitmap_.attach(frame);
    THookInfo info;
    info.TaskIndex = task_;
    info.Bitmap = &hookBitmap_;
    info.FrameNumber = decodedFrames_ - 1;
    info.PTS = ptsUs;
    info.Update = true;
    info.StopHook = false;
    bool called = false;
    try {
        called = ev_.hook(info);
    } catch (const std::exception& e) {
        log(TLogLevel::llError, std::string("the frame hook failed: ") + e.what());
        return; // the frame goes on as decoded
    } catch (...) {
        log(TLogLevel::llError, "the frame hook failed");
        return;
    }
    if (!called)
        return;
    if (info.StopHook)
        hookOn_ = false;
    if (!info.Update)
        return;
    try {
        hookBitmap_.commit();
    } catch (const std::exception& e) {
        log(TLogLevel::llError, std::string("the frame hook's picture cannot be used: ") + e.what());
    }
}

AVFrame* Transcoder::hookableCopy(const AVFrame* frame)
{
    if (!hookScratch_ || hookScratch_->width != frame->width || hookScratch_->height != frame->height ||
        hookScratchSrcFmt_ != frame->format) {
        hookScratch_ = ff::allocFrame();
        hookScratch_->format = AV_PIX_FMT_YUV444P;
        hookScratch_->width = frame->width;
        hookScratch_->height = frame->height;
        ff::check(av_frame_get_buffer(hookScratch_.get(), 0), "cannot allocate a video frame");
        hookScratchSrcFmt_ = frame->format;
        hookConvert_.reset(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                          frame->width, frame->height, AV_PIX_FMT_YUV444P, SWS_BICUBIC, nullptr,
                                          nullptr, nullptr));
        if (!hookConvert_)
            throw ff::Error("cannot convert the video for the frame hook");
    }
    ff::check(av_frame_make_writable(hookScratch_.get()), "cannot prepare a video frame");
    ff::check(sws_scale(hookConvert_.get(), frame->data, frame->linesize, 0, frame->height, hookScratch_->data,
                        hookScratch_->linesize),
              "cannot convert the video for the frame hook");
    ff::check(av_frame_copy_props(hookScratch_.get(), frame), "cannot convert the video for the frame hook");
    return hookScratch_.get();
}

void Transcoder::emitVideoUntil(std::int64_t endSlot)
{
    int sinceCheck = 0;
    while (nextSlot_ < endSlot && keepFilling(sinceCheck)) {
        if (pending_ && !pendingScaled_) {
            scaleIntoCanvas(pending_.get());
            pendingScaled_ = true;
            canvasReady_ = true;
            maybePreview();
        }
        if (!canvasReady_)
            return;
        canvas_->pts = nextSlot_++;
        sendVideo(canvas_.get());
    }
}

void Transcoder::scaleIntoCanvas(const AVFrame* frame)
{
    AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = in_->videoSampleAspectRatio();
    if (!scaler_ || frame->width != fitSrcW_ || frame->height != fitSrcH_ || frame->format != fitSrcFmt_ ||
        av_cmp_q(sar, fitSar_) != 0) {
        fitSrcW_ = frame->width;
        fitSrcH_ = frame->height;
        fitSrcFmt_ = frame->format;
        fitSar_ = sar;
        fit_ = fitInside(frame->width, frame->height, sar, canvas_->width, canvas_->height);
        scaler_.reset(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                     fit_.width, fit_.height, static_cast<AVPixelFormat>(canvas_->format),
                                     SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!scaler_)
            throw ff::Error("cannot scale the video (" + std::to_string(frame->width) + "x" +
                            std::to_string(frame->height) + ")");
        ff::check(av_frame_make_writable(canvas_.get()), "cannot prepare a video frame");
        fillBlack(canvas_.get());
    }
    // The encoder may still hold the previous picture; then this gives the canvas new memory.
    ff::check(av_frame_make_writable(canvas_.get()), "cannot prepare a video frame");
    std::uint8_t* dst[4] = {
        canvas_->data[0] + static_cast<std::ptrdiff_t>(fit_.y) * canvas_->linesize[0] + fit_.x,
        canvas_->data[1] + static_cast<std::ptrdiff_t>(fit_.y / 2) * canvas_->linesize[1] + fit_.x / 2,
        canvas_->data[2] + static_cast<std::ptrdiff_t>(fit_.y / 2) * canvas_->linesize[2] + fit_.x / 2,
        nullptr};
    int ret =
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, dst, canvas_->linesize);
    if (ret < 0)
        ff::check(ret, "cannot scale the video");
}

void Transcoder::sendVideo(const AVFrame* frame)
{
    int ret = avcodec_send_frame(venc_.get(), frame);
    if (ret < 0 && !(frame == nullptr && ret == AVERROR_EOF))
        ff::check(ret, "cannot encode the video");
    drain(venc_.get(), vst_);
}

void Transcoder::maybePreview()
{
    if (!ev_.preview)
        return;
    const auto now = Clock::now();
    if (lastPreview_ != Clock::time_point{} &&
        now - lastPreview_ < std::chrono::milliseconds(ev_.previewIntervalMs))
        return;
    lastPreview_ = now;
    if (!previewScaler_) {
        previewScaler_.reset(sws_getContext(
            canvas_->width, canvas_->height, static_cast<AVPixelFormat>(canvas_->format), previewFit_.width,
            previewFit_.height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!previewScaler_)
            return;
    }
    std::uint8_t* dst[4] = {preview_.Pixels.data() +
                                static_cast<std::ptrdiff_t>(previewFit_.y) * preview_.Stride +
                                previewFit_.x * 3,
                            nullptr, nullptr, nullptr};
    int dstStride[4] = {preview_.Stride, 0, 0, 0};
    if (sws_scale(previewScaler_.get(), canvas_->data, canvas_->linesize, 0, canvas_->height, dst,
                  dstStride) < 0)
        return;
    TPreviewInfo info;
    info.TaskIndex = task_;
    info.Bitmap = &preview_;
    info.FrameNumber = static_cast<int>(nextSlot_);
    info.PTS = lastVideoUs_ == AV_NOPTS_VALUE ? 0 : lastVideoUs_;
    ev_.preview(info);
}

// ---------------------------------------------------------------- audio

std::int64_t Transcoder::audioSamplesQueued() const
{
    return audioSamplesEncoded_ + av_audio_fifo_size(fifo_.get());
}

void Transcoder::setupResampler(const AVFrame* frame)
{
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(1, frame->ch_layout.nb_channels));
    else
        ff::check(av_channel_layout_copy(&inLayout, &frame->ch_layout), "cannot read the audio layout");
    const bool same = swr_ && frame->format == swrInFmt_ && frame->sample_rate == swrInRate_ &&
                      av_channel_layout_compare(&inLayout, &swrInLayout_) == 0;
    if (same) {
        av_channel_layout_uninit(&inLayout);
        return;
    }
    if (swr_)
        convertAudio(nullptr); // keep what the old converter still holds
    SwrContext* raw = nullptr;
    int ret = swr_alloc_set_opts2(&raw, &aenc_->ch_layout, aenc_->sample_fmt, aenc_->sample_rate, &inLayout,
                                  static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    swr_.reset(raw);
    if (ret >= 0)
        ret = swr_init(swr_.get());
    av_channel_layout_uninit(&swrInLayout_);
    swrInLayout_ = inLayout;
    swrInFmt_ = frame->format;
    swrInRate_ = frame->sample_rate;
    if (ret < 0)
        throw ff::Error("cannot convert the audio (" + std::to_string(frame->sample_rate) + " Hz, " +
                            std::to_string(frame->ch_layout.nb_channels) +
                            " channels): " + ff::errorText(ret),
                        ret);
}

void Transcoder::onAudioFrame(AVFrame* frame)
{
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0)
        return;
    setupResampler(frame);
    std::int64_t t = in_->toMicroseconds(frame->pts, in_->audioStreamIndex());
    if (t != AV_NOPTS_VALUE) {
        t -= originUs_;
        const int rate = aenc_->sample_rate;
        const std::int64_t expected = av_rescale(t, rate, kSecond);
        const std::int64_t have = audioSamplesQueued() + swr_get_delay(swr_.get(), rate);
        const std::int64_t diff = expected - have;
        const std::int64_t hard = audioStarted_ ? static_cast<std::int64_t>(kAudioHardSyncSeconds * rate) : 0;
        if (diff > hard) {
            // A gap in the source (or audio starting after the video): fill it with silence.
            convertAudio(nullptr);
            pushSilence(diff);
        } else if (diff < -hard) {
            // Overlapping or early audio: drop what lies before the timeline.
            ff::check(swr_drop_output(swr_.get(), static_cast<int>(std::min<std::int64_t>(-diff, INT32_MAX))),
                      "cannot convert the audio");
        }
        sourcePosUs_ = std::max(sourcePosUs_, t);
    }
    audioStarted_ = true;
    convertAudio(frame);
}

void Transcoder::convertAudio(const AVFrame* frame)
{
    const int inSamples = frame ? frame->nb_samples : 0;
    const int cap = swr_get_out_samples(swr_.get(), inSamples);
    if (cap <= 0)
        return;
    if (!audioTmp_ || audioTmpCap_ < cap) {
        audioTmp_ = ff::allocFrame();
        audioTmp_->format = aenc_->sample_fmt;
        ff::check(av_channel_layout_copy(&audioTmp_->ch_layout, &aenc_->ch_layout), "cannot set up audio");
        audioTmp_->sample_rate = aenc_->sample_rate;
        audioTmp_->nb_samples = cap;
        ff::check(av_frame_get_buffer(audioTmp_.get(), 0), "cannot allocate audio");
        audioTmpCap_ = cap;
    }
    int n = swr_convert(swr_.get(), audioTmp_->extended_data, audioTmpCap_,
                        frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, inSamples);
    ff::check(n, "cannot convert the audio");
    if (n > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(audioTmp_->extended_data), n) < n)
        throw ff::Error("cannot buffer the audio", AVERROR(ENOMEM));
    encodeAudio(false);
}

void Transcoder::pushSilence(std::int64_t samples)
{
    int sinceCheck = 0;
    while (samples > 0 && keepFilling(sinceCheck)) {
        const int n = static_cast<int>(std::min<std::int64_t>(samples, audioFrameSize_));
        ff::check(av_frame_make_writable(audioFrame_.get()), "cannot prepare an audio frame");
        av_samples_set_silence(audioFrame_->extended_data, 0, n, aenc_->ch_layout.nb_channels,
                               aenc_->sample_fmt);
        if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(audioFrame_->extended_data), n) < n)
            throw ff::Error("cannot buffer the audio", AVERROR(ENOMEM));
        samples -= n;
        encodeAudio(false);
    }
}

void Transcoder::encodeAudio(bool final)
{
    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        if (available <= 0 || (available < audioFrameSize_ && !final))
            return;
        const int n = std::min(available, audioFrameSize_);
        ff::check(av_frame_make_writable(audioFrame_.get()), "cannot prepare an audio frame");
        audioFrame_->nb_samples = n;
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(audioFrame_->extended_data), n) < n)
            throw ff::Error("cannot read the audio buffer");
        audioFrame_->pts = audioSamplesEncoded_; // stamped by sample count
        audioSamplesEncoded_ += n;
        sendAudio(audioFrame_.get());
        audioFrame_->nb_samples = audioFrameSize_;
    }
}

void Transcoder::sendAudio(const AVFrame* frame)
{
    int ret = avcodec_send_frame(aenc_.get(), frame);
    if (ret < 0 && !(frame == nullptr && ret == AVERROR_EOF))
        ff::check(ret, "cannot encode the audio");
    drain(aenc_.get(), ast_);
}

// ---------------------------------------------------------------- common

void Transcoder::drain(AVCodecContext* enc, AVStream* st)
{
    for (;;) {
        int ret = avcodec_receive_packet(enc, packet_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        ff::check(ret, enc->codec_type == AVMEDIA_TYPE_VIDEO ? "cannot encode the video"
                                                             : "cannot encode the audio");
        out_->write(packet_.get(), enc, st);
    }
}

void Transcoder::stitchClockJumps(AVPacket* packet)
{
    if (!(in_->context()->iformat->flags & AVFMT_TS_DISCONT))
        return;
    const int idx = packet->stream_index;
    std::int64_t* next = idx == in_->videoStreamIndex()   ? &nextVideoDtsUs_
                         : idx == in_->audioStreamIndex() ? &nextAudioDtsUs_
                                                          : nullptr;
    if (!next)
        return;
    const AVRational tb = in_->context()->streams[idx]->time_base;
    if (packet->dts != AV_NOPTS_VALUE) {
        std::int64_t dtsUs = av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q) + jumpOffsetUs_;
        if (*next != AV_NOPTS_VALUE) {
            const std::int64_t delta = dtsUs - *next;
            if (delta > kClockJumpUs || delta < -kClockJumpUs) {
                jumpOffsetUs_ -= delta;
                dtsUs -= delta;
                log(TLogLevel::llWarning, "the source's clock jumps by " + std::to_string(delta / kSecond) +
                                              " s; the parts are joined");
            }
        }
        *next = dtsUs + (packet->duration > 0 ? av_rescale_q(packet->duration, tb, AV_TIME_BASE_Q) : 0);
    }
    if (jumpOffsetUs_ != 0) {
        const std::int64_t shift = av_rescale_q(jumpOffsetUs_, AV_TIME_BASE_Q, tb);
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts += shift;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts += shift;
    }
}

void Transcoder::keepSyntheticStreamsUp()
{
    // The invented stream follows the real one, so the muxer interleaves them as it goes.
    if (!realVideo_) {
        const std::int64_t audioUs = av_rescale(audioSamplesQueued(), kSecond, aenc_->sample_rate);
        emitVideoUntil(slotOf(audioUs));
    }
    if (!realAudio_) {
        const std::int64_t target = av_rescale(slotTimeUs(nextSlot_), aenc_->sample_rate, kSecond);
        pushSilence(target - audioSamplesQueued());
    }
}

void Transcoder::maybeProgress(bool force)
{
    if (!ev_.progress)
        return;
    const auto now = Clock::now();
    if (!force && now - lastProgress_ < std::chrono::milliseconds(ev_.progressIntervalMs))
        return;
    lastProgress_ = now;
    TProgressInfo p;
    p.TaskIndex = task_;
    p.FileIndex = 0;
    p.FrameNumber = static_cast<int>(nextSlot_);
    const double secs = std::chrono::duration<double>(now - started_).count();
    p.FPS = secs > 0 ? static_cast<int>(nextSlot_ / secs) : 0;
    p.CurrentSize = out_ ? out_->bytesWritten() : 0;
    const double outSecs = static_cast<double>(slotTimeUs(nextSlot_)) / kSecond;
    p.BitRate = outSecs > 0 ? static_cast<float>(p.CurrentSize * 8 / outSecs / 1000.0) : 0.f;
    const std::int64_t total = in_->durationUs();
    p.TotalDuration = total >= 0 ? std::max<std::int64_t>(0, total - originUs_) : -1;
    p.CurrentDuration = std::max<std::int64_t>(0, sourcePosUs_);
    if (p.TotalDuration >= 0)
        p.CurrentDuration = std::min(p.CurrentDuration, p.TotalDuration);
    ev_.progress(p);
}

} // namespace

TranscodeEnd transcode(int taskIndex, const TInputOptions& input, const TOutputOptions& output,
                       const TranscodeEvents& events)
{
    Transcoder t(taskIndex, input, output, events);
    return t.run();
}

} // namespace kv::media::engine
