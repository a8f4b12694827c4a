#include "media/ff/InputFile.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/cpu.h>
}

#include <algorithm>

namespace kv::ff {

int InputFile::interruptCallback(void* opaque)
{
    auto* self = static_cast<InputFile*>(opaque);
    return self->interrupt_ && self->interrupt_() ? 1 : 0;
}

InputFile::InputFile(const std::string& path, const InputOpenOptions& options)
    : path_(path), interrupt_(options.interrupt), frame_(allocFrame())
{
    const std::string prefix = "cannot open file " + path + ": ";
    const AVInputFormat* format = nullptr;
    if (!options.formatName.empty()) {
        format = av_find_input_format(options.formatName.c_str());
        if (!format)
            throw Error(prefix + "unknown format \"" + options.formatName + "\"", AVERROR_DEMUXER_NOT_FOUND);
    }

    // avformat_open_input frees a context it was given when it fails, so the owning
    // pointer takes the context only after success.
    AVFormatContext* raw = checkAlloc(avformat_alloc_context(), prefix.substr(0, prefix.size() - 2));
    raw->interrupt_callback.callback = &InputFile::interruptCallback;
    raw->interrupt_callback.opaque = this;
    int ret = avformat_open_input(&raw, path.c_str(), format, nullptr);
    if (ret < 0)
        throw Error(prefix + errorText(ret), ret);
    fmt_.reset(raw);

    ret = avformat_find_stream_info(fmt_.get(), nullptr);
    if (ret < 0)
        throw Error(prefix + "cannot read its streams: " + errorText(ret), ret);

    if (options.wantVideo) {
        // A cover picture in an audio file is not a video track.
        for (int attempt = 0; attempt < 2 && videoIndex_ < 0; ++attempt) {
            int idx = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
            if (idx >= 0 && !(fmt_->streams[idx]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                videoIndex_ = idx;
                break;
            }
            for (unsigned i = 0; i < fmt_->nb_streams && videoIndex_ < 0; ++i) {
                const AVStream* s = fmt_->streams[i];
                if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                    !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
                    videoIndex_ = static_cast<int>(i);
            }
        }
    }
    if (options.wantAudio) {
        int idx = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, videoIndex_, nullptr, 0);
        if (idx >= 0)
            audioIndex_ = idx;
    }
    if (videoIndex_ < 0 && audioIndex_ < 0)
        throw Error(prefix + "it has no video or audio stream", AVERROR_STREAM_NOT_FOUND);

    // Only the picked streams are read; the demuxer drops the others' packets early.
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != videoIndex_ && static_cast<int>(i) != audioIndex_)
            fmt_->streams[i]->discard = AVDISCARD_ALL;

    if (options.openDecoders) {
        if (videoIndex_ >= 0)
            openDecoder(videoIndex_, videoDec_, options.videoThreads);
        if (audioIndex_ >= 0)
            openDecoder(audioIndex_, audioDec_, 1);
    }
}

InputFile::~InputFile() = default;

void InputFile::openDecoder(int streamIndex, CodecCtxPtr& out, int threads)
{
    AVStream* st = fmt_->streams[streamIndex];
    const char* kind = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    const std::string prefix = "cannot open file " + path_ + ": ";
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        throw Error(prefix + "no decoder for its " + kind + " format \"" +
                        avcodec_get_name(st->codecpar->codec_id) + "\"",
                    AVERROR_DECODER_NOT_FOUND);
    CodecCtxPtr ctx(checkAlloc(avcodec_alloc_context3(codec), prefix + "out of memory"));
    int ret = avcodec_parameters_to_context(ctx.get(), st->codecpar);
    if (ret < 0)
        throw Error(prefix + "cannot set up the " + kind + " decoder: " + errorText(ret), ret);
    ctx->pkt_timebase = st->time_base;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        ctx->framerate = av_guess_frame_rate(fmt_.get(), st, nullptr);
        ctx->thread_count = threads; // 0: automatic
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    } else {
        ctx->thread_count = std::max(1, threads);
    }
    ret = avcodec_open2(ctx.get(), codec, nullptr);
    if (ret < 0)
        throw Error(
            prefix + "cannot open the " + kind + " decoder \"" + codec->name + "\": " + errorText(ret), ret);
    out = std::move(ctx);
}

AVStream* InputFile::videoStream() const
{
    return videoIndex_ >= 0 ? fmt_->streams[videoIndex_] : nullptr;
}
AVStream* InputFile::audioStream() const
{
    return audioIndex_ >= 0 ? fmt_->streams[audioIndex_] : nullptr;
}

std::int64_t InputFile::durationUs() const
{
    return fmt_->duration == AV_NOPTS_VALUE || fmt_->duration < 0 ? -1 : fmt_->duration;
}

std::int64_t InputFile::startTimeUs() const
{
    return fmt_->start_time == AV_NOPTS_VALUE ? 0 : fmt_->start_time;
}

AVRational InputFile::videoFrameRate() const
{
    if (videoIndex_ < 0)
        return {0, 1};
    AVRational r = av_guess_frame_rate(fmt_.get(), fmt_->streams[videoIndex_], nullptr);
    return r.num > 0 && r.den > 0 ? r : AVRational{0, 1};
}

AVRational InputFile::videoSampleAspectRatio() const
{
    if (videoIndex_ < 0)
        return {0, 1};
    AVRational r = av_guess_sample_aspect_ratio(fmt_.get(), fmt_->streams[videoIndex_], nullptr);
    return r.num > 0 && r.den > 0 ? r : AVRational{0, 1};
}

std::int64_t InputFile::toMicroseconds(std::int64_t ts, int streamIndex) const
{
    if (ts == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q(ts, fmt_->streams[streamIndex]->time_base, AV_TIME_BASE_Q) - startTimeUs();
}

bool InputFile::readPacket(AVPacket* packet)
{
    for (;;) {
        int ret = av_read_frame(fmt_.get(), packet);
        if (ret >= 0)
            return true;
        if (ret == AVERROR_EOF)
            return false;
        if (ret == AVERROR(EAGAIN))
            continue;
        if (ret == AVERROR_EXIT)
            throw Error("reading " + path_ + " was interrupted", ret);
        // Damaged or cut-off data near the end: what was read so far is kept.
        if (fmt_->pb && avio_feof(fmt_->pb)) {
            av_log(nullptr, AV_LOG_WARNING, "%s: the file ends early: %s\n", path_.c_str(),
                   errorText(ret).c_str());
            return false;
        }
        throw Error("cannot read file " + path_ + ": " + errorText(ret), ret);
    }
}

int InputFile::decode(AVCodecContext* decoder, const AVPacket* packet, const FrameCallback& onFrame)
{
    int ret = avcodec_send_packet(decoder, packet);
    if (ret == AVERROR_EOF)
        ret = 0; // already flushed
    if (ret < 0) {
        if (ret != AVERROR_INVALIDDATA && ret != AVERROR(EAGAIN))
            throw Error("cannot decode " + path_ + ": " + errorText(ret), ret);
        av_log(nullptr, AV_LOG_WARNING, "%s: damaged %s data skipped: %s\n", path_.c_str(),
               av_get_media_type_string(decoder->codec_type), errorText(ret).c_str());
    }
    int frames = 0;
    for (;;) {
        ret = avcodec_receive_frame(decoder, frame_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            break;
        if (ret == AVERROR_INVALIDDATA) {
            av_log(nullptr, AV_LOG_WARNING, "%s: damaged frame skipped\n", path_.c_str());
            continue;
        }
        if (ret < 0)
            throw Error("cannot decode " + path_ + ": " + errorText(ret), ret);
        frame_->pts = frame_->best_effort_timestamp;
        ++frames;
        try {
            onFrame(frame_.get());
        } catch (...) {
            av_frame_unref(frame_.get());
            throw;
        }
        av_frame_unref(frame_.get());
    }
    return frames;
}

void InputFile::seek(std::int64_t us)
{
    const std::int64_t target = us + startTimeUs();
    int ret = avformat_seek_file(fmt_.get(), -1, INT64_MIN, target, target, 0);
    if (ret < 0)
        throw Error("cannot seek in " + path_ + ": " + errorText(ret), ret);
    if (videoDec_)
        avcodec_flush_buffers(videoDec_.get());
    if (audioDec_)
        avcodec_flush_buffers(audioDec_.get());
}

} // namespace kv::ff
