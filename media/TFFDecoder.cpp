#include "media/TFFDecoder.h"

#include "media/ff/InputFile.h"

namespace kv::media {

struct TFFDecoder::Impl {
    std::unique_ptr<ff::InputFile> file;
    std::string fileName;
    std::string forceFormat;
    std::string lastErr;
};

TFFDecoder::TFFDecoder() : d(std::make_unique<Impl>()) {}
TFFDecoder::~TFFDecoder() = default;

bool TFFDecoder::LoadFile(const std::string& fileName, const std::string& formatName)
{
    CloseFile();
    try {
        ff::InputOpenOptions opts;
        opts.formatName = formatName;
        opts.openDecoders = false;
        d->file = std::make_unique<ff::InputFile>(fileName, opts);
        d->fileName = fileName;
        d->forceFormat = formatName;
        d->lastErr.clear();
        return true;
    } catch (const std::exception& e) {
        d->lastErr = e.what();
        return false;
    }
}

void TFFDecoder::CloseFile()
{
    d->file.reset();
    d->fileName.clear();
    d->forceFormat.clear();
}

bool TFFDecoder::FileLoaded() const
{
    return d->file != nullptr;
}
const std::string& TFFDecoder::FileName() const
{
    return d->fileName;
}
const std::string& TFFDecoder::ForceFormat() const
{
    return d->forceFormat;
}
std::int64_t TFFDecoder::Duration() const
{
    return d->file ? d->file->durationUs() : -1;
}

int TFFDecoder::StreamCount() const
{
    return d->file ? static_cast<int>(d->file->context()->nb_streams) : 0;
}

TVideoStreamInfo TFFDecoder::VideoStreamInfo(int index) const
{
    TVideoStreamInfo info;
    if (!d->file || index < 0 || index >= StreamCount())
        return info;
    AVFormatContext* fmt = d->file->context();
    AVStream* st = fmt->streams[index];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return info;
    const AVRational rate = av_guess_frame_rate(fmt, st, nullptr);
    if (rate.num > 0 && rate.den > 0)
        info.FrameRate = {rate.num, rate.den};
    else
        info.FrameRate = {0, 1}; // a video stream of unknown rate
    info.Width = st->codecpar->width;
    info.Height = st->codecpar->height;
    const AVRational sar = av_guess_sample_aspect_ratio(fmt, st, nullptr);
    info.SampleAspectRatio = sar.num > 0 && sar.den > 0 ? TAVRational{sar.num, sar.den} : TAVRational{0, 1};
    return info;
}

const std::string& TFFDecoder::LastErrMsg() const
{
    return d->lastErr;
}

} // namespace kv::media
