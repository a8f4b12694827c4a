#pragma once
// Probes a source file: what it contains, its duration and its first video stream's rate.
#include "media/Records.h"

#include <memory>
#include <string>

namespace kv::media {

class TFFDecoder {
public:
    TFFDecoder();
    ~TFFDecoder();
    TFFDecoder(const TFFDecoder&) = delete;
    TFFDecoder& operator=(const TFFDecoder&) = delete;

    // Opens and probes the file; false with the reason in LastErrMsg().
    bool LoadFile(const std::string& fileName, const std::string& formatName = {});
    void CloseFile();
    bool FileLoaded() const;

    const std::string& FileName() const;    // the file as given to LoadFile
    const std::string& ForceFormat() const; // the format name given to LoadFile
    std::int64_t Duration() const;          // µs, -1 when unknown
    int StreamCount() const;

    // Information about stream `index` of the container; FrameRate {-1,-1} when that stream
    // does not exist or is not a video stream.
    TVideoStreamInfo VideoStreamInfo(int index) const;

    const std::string& LastErrMsg() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kv::media
