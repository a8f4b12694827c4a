#pragma once
// Owning pointers for FFmpeg objects and the error helpers every FFmpeg call goes through.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv::ff {

// For the av_*_free(T**) family.
template <auto Fn> struct FreeWith {
    template <class T> void operator()(T* p) const noexcept { Fn(&p); }
};

struct InputCloser {
    void operator()(AVFormatContext* p) const noexcept { avformat_close_input(&p); }
};
struct SwsFreer {
    void operator()(SwsContext* p) const noexcept { sws_freeContext(p); }
};
struct DictFreer {
    void operator()(AVDictionary* p) const noexcept { av_dict_free(&p); }
};
struct AudioFifoFreer {
    void operator()(AVAudioFifo* p) const noexcept { av_audio_fifo_free(p); }
};

using FramePtr = std::unique_ptr<AVFrame, FreeWith<av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, FreeWith<av_packet_free>>;
using CodecCtxPtr = std::unique_ptr<AVCodecContext, FreeWith<avcodec_free_context>>;
using SwrPtr = std::unique_ptr<SwrContext, FreeWith<swr_free>>;
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFreer>;

// The text av_err2str gives for an FFmpeg error code.
inline std::string errorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_make_error_string(buf, sizeof buf, code);
    return buf;
}

// An FFmpeg failure with a readable message ("what: reason") and the original code.
class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& message, int code = AVERROR_UNKNOWN)
        : std::runtime_error(message), code_(code)
    {
    }
    int code() const { return code_; }

  private:
    int code_;
};

// Throws Error("what: <reason>") for a negative return code; passes others through.
inline int check(int ret, std::string_view what)
{
    if (ret < 0)
        throw Error(std::string(what) + ": " + errorText(ret), ret);
    return ret;
}

// Throws when an allocation returned null.
template <class T> T* checkAlloc(T* p, std::string_view what)
{
    if (!p)
        throw Error(std::string(what) + ": " + errorText(AVERROR(ENOMEM)), AVERROR(ENOMEM));
    return p;
}

inline FramePtr allocFrame()
{
    return FramePtr(checkAlloc(av_frame_alloc(), "cannot allocate a frame"));
}
inline PacketPtr allocPacket()
{
    return PacketPtr(checkAlloc(av_packet_alloc(), "cannot allocate a packet"));
}

} // namespace kv::ff
