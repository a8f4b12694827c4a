#pragma once
// One opened source: the demuxer, its best video and audio streams and their decoders.
// Shared by the probe, the conversion engine and the preview player, so there is exactly
// one way of reading and decoding a file. Every failure throws kv::ff::Error with a text
// such as "cannot open file X: <reason>".
#include "media/ff/FFPtr.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kv::ff {

struct InputOpenOptions {
    std::string formatName;          // demuxer name; empty: detect
    bool openDecoders = true;        // false: probe only (no decoder is opened)
    bool wantVideo = true;           // pick and decode a video stream
    bool wantAudio = true;           // pick and decode an audio stream
    int videoThreads = 0;            // decoder threads for video; 0: as many as the machine has
    std::function<bool()> interrupt; // returns true to abort a blocking open or read
};

// What a decoded frame callback gets; the frame is unreferenced after the call, so keep
// it with av_frame_ref/av_frame_move_ref. frame->pts holds the best-effort timestamp.
using FrameCallback = std::function<void(AVFrame* frame)>;

class InputFile {
  public:
    explicit InputFile(const std::string& path, const InputOpenOptions& options = {});
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return path_; }
    AVFormatContext* context() const { return fmt_.get(); }

    // Streams picked (av_find_best_stream; cover pictures are not video); -1 / null when none.
    int videoStreamIndex() const { return videoIndex_; }
    int audioStreamIndex() const { return audioIndex_; }
    AVStream* videoStream() const;
    AVStream* audioStream() const;
    // Open decoders; null when the stream is missing or decoders were not asked for.
    AVCodecContext* videoDecoder() const { return videoDec_.get(); }
    AVCodecContext* audioDecoder() const { return audioDec_.get(); }

    std::int64_t durationUs() const;           // -1 when unknown
    std::int64_t startTimeUs() const;          // the container's start time; 0 when unknown
    AVRational videoFrameRate() const;         // guessed; {0,1} when unknown or no video
    AVRational videoSampleAspectRatio() const; // {0,1} when unknown or no video

    // A stream timestamp in µs from the start of the file (startTimeUs()); AV_NOPTS_VALUE stays.
    std::int64_t toMicroseconds(std::int64_t ts, int streamIndex) const;

    // Reads the next packet of any stream; false at the end of the file.
    bool readPacket(AVPacket* packet);

    // Sends a packet to `decoder` (nullptr flushes it at the end) and hands every frame
    // it gives back to onFrame. Damaged data is logged and skipped. Returns the frame count.
    int decode(AVCodecContext* decoder, const AVPacket* packet, const FrameCallback& onFrame);

    // Seeks to the key frame at or before `us` (µs from the start) and flushes the decoders.
    void seek(std::int64_t us);

  private:
    void openDecoder(int streamIndex, CodecCtxPtr& out, int threads);
    static int interruptCallback(void* opaque);

    std::string path_;
    std::function<bool()> interrupt_;
    InputPtr fmt_;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    CodecCtxPtr videoDec_;
    CodecCtxPtr audioDec_;
    FramePtr frame_;
};

} // namespace kv::ff
