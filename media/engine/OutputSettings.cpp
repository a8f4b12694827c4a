#include "media/engine/OutputSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kv::media::engine {

std::pair<int, int> parseFrameSize(const std::string& text)
{
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0 || w > 16384 ||
        h > 16384)
        return {0, 0};
    return {w, h};
}

AVRational parseFrameRate(const std::string& text)
{
    int num = 0, den = 1;
    char tail = 0;
    const int n = std::sscanf(text.c_str(), "%d/%d%c", &num, &den, &tail);
    if ((n != 1 && n != 2) || num <= 0 || den <= 0)
        return {0, 1};
    AVRational r{num, den};
    av_reduce(&r.num, &r.den, r.num, r.den, INT32_MAX);
    return r;
}

std::int64_t interpretMaxRate(std::int64_t value)
{
    if (value <= 0)
        return -1;
    return value < 10000 ? value * 1000 : value;
}

std::string audioEncoderName(const std::string& requested)
{
    if (requested.empty())
        return {};
    if (avcodec_find_encoder_by_name(requested.c_str()))
        return requested;
    // "libfaac" and friends are AAC encoders FFmpeg may lack; its own "aac" does the same job.
    if (requested.find("aac") != std::string::npos && avcodec_find_encoder_by_name("aac"))
        return "aac";
    return requested;
}

FitRect fitInside(int srcWidth, int srcHeight, AVRational sampleAspect, int width, int height)
{
    FitRect r{0, 0, width, height};
    if (srcWidth <= 0 || srcHeight <= 0)
        return r;
    double sar = sampleAspect.num > 0 && sampleAspect.den > 0 ? av_q2d(sampleAspect) : 1.0;
    const double dar = srcWidth * sar / srcHeight;
    if (dar > static_cast<double>(width) / height) {
        r.width = width;
        r.height = static_cast<int>(std::lround(width / dar / 2.0)) * 2;
    } else {
        r.height = height;
        r.width = static_cast<int>(std::lround(height * dar / 2.0)) * 2;
    }
    r.width = std::clamp(r.width, 2, width - width % 2);
    r.height = std::clamp(r.height, 2, height - height % 2);
    r.x = (width - r.width) / 4 * 2;
    r.y = (height - r.height) / 4 * 2;
    return r;
}

std::string x264ParamsForPreset(const std::string& preset)
{
    // The settings of the old "fastfirstpass" preset file, as libx264 options.
    if (preset == "fastfirstpass")
        return "ref=1:partitions=none:me=dia:subme=2:merange=16:trellis=0:mixed-refs=0:fast-pskip=1:"
               "keyint=250:min-keyint=25:scenecut=40:bframes=3:b-adapt=1:direct=spatial:qcomp=0.6:"
               "qpmin=10:qpmax=51:qpstep=4:ipratio=1.41";
    return {};
}

std::string x264PspParams()
{
    return "cabac=1:slices=1:8x8dct=0:weightp=0:weightb=0:b-pyramid=none:ref=1";
}

OutputSettings resolveOutput(const TOutputOptions& options, int srcWidth, int srcHeight, AVRational srcRate)
{
    OutputSettings s;
    const AVOutputFormat* fmt =
        av_guess_format(options.ForceFormat.empty() ? nullptr : options.ForceFormat.c_str(),
                        options.ForceFormat.empty() ? options.FileName.c_str() : nullptr, nullptr);
    if (!fmt)
        throw ff::Error("no muxer for " +
                            (options.ForceFormat.empty() ? options.FileName : options.ForceFormat),
                        AVERROR_MUXER_NOT_FOUND);
    s.muxer = fmt->name;
    s.psp = s.muxer == "psp";

    auto& v = s.video;
    v.encoder = options.VideoCodec;
    if (v.encoder.empty()) {
        const AVCodec* c = avcodec_find_encoder(fmt->video_codec);
        v.encoder = c ? c->name : "";
    }
    auto [w, h] = parseFrameSize(options.FrameSize);
    if (w == 0) {
        w = srcWidth > 0 ? srcWidth : (s.psp ? 480 : 320);
        h = srcHeight > 0 ? srcHeight : (s.psp ? 272 : 240);
    }
    v.width = w + w % 2; // 4:2:0 needs even sizes
    v.height = h + h % 2;
    v.rate = parseFrameRate(options.FrameRate);
    if (v.rate.num == 0)
        v.rate = srcRate.num > 0 && srcRate.den > 0 && av_q2d(srcRate) <= 120 ? srcRate : AVRational{25, 1};
    v.bitrate = options.VideoBitrate > 0 ? options.VideoBitrate : -1;
    v.tolerance = options.VideoBitRateTolerance > 0 ? options.VideoBitRateTolerance : -1;
    v.maxRate = interpretMaxRate(options.VideoMaxRate);
    v.bufSize = options.VideoBufSize > 0 ? options.VideoBufSize : (v.maxRate > 0 ? 2 * v.maxRate : -1);
    v.preset = options.VideoPreset;

    auto& a = s.audio;
    a.encoder = audioEncoderName(options.AudioCodec);
    if (a.encoder.empty()) {
        const AVCodec* c = avcodec_find_encoder(fmt->audio_codec);
        a.encoder = c ? c->name : "";
    }
    a.sampleRate = options.AudioSampleRate > 0 ? options.AudioSampleRate : (s.psp ? 24000 : 44100);
    a.channels = options.AudioChannels > 0 ? options.AudioChannels : 2;
    a.bitrate = options.AudioBitrate > 0 ? options.AudioBitrate : 128000;
    return s;
}

} // namespace kv::media::engine
