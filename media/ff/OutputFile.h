#pragma once
// An output file that never replaces an existing one: it is created exclusively
// (O_CREAT | O_EXCL) and written through FFmpeg's muxer over that descriptor. Unless it is
// finished, the object removes the file when it dies, so a failed conversion leaves nothing.
#include "media/ff/FFPtr.h"

#include <string>

namespace kv::ff {

class OutputFile {
  public:
    // Throws Error("cannot create output file X: <reason>"), e.g. when X already exists.
    OutputFile(const std::string& path, const std::string& muxerName);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& path() const { return path_; }
    AVFormatContext* context() const { return fmt_; }

    // A stream carrying what `encoder` (already opened) produces.
    AVStream* addStream(const AVCodecContext* encoder);
    void writeHeader();
    // Writes one encoded packet (timestamps in the encoder's time base); takes its data.
    void write(AVPacket* packet, const AVCodecContext* encoder, const AVStream* stream);
    void finish(); // writes the trailer and closes; the file stays
    std::int64_t bytesWritten() const;

  private:
    void close() noexcept;
    static int writeCallback(void* opaque, std::uint8_t* buf, int size);
    static std::int64_t seekCallback(void* opaque, std::int64_t offset, int whence);

    std::string path_;
    int fd_ = -1;
    AVIOContext* io_ = nullptr;
    AVFormatContext* fmt_ = nullptr;
    bool headerWritten_ = false;
    bool finished_ = false;
};

} // namespace kv::ff
