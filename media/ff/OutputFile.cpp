#include "media/ff/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::ff {

namespace {
constexpr int kIoBufferSize = 256 * 1024;
}

OutputFile::OutputFile(const std::string& path, const std::string& muxerName) : path_(path)
{
    const std::string prefix = "cannot create output file " + path + ": ";
    const AVOutputFormat* format = av_guess_format(muxerName.empty() ? nullptr : muxerName.c_str(),
                                                   muxerName.empty() ? path.c_str() : nullptr, nullptr);
    if (!format)
        throw Error(prefix + "no muxer \"" + muxerName + "\"", AVERROR_MUXER_NOT_FOUND);

    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        const int err = errno;
        throw Error(prefix + (err == EEXIST ? std::string("the file already exists") : std::strerror(err)),
                    AVERROR(err));
    }
    try {
        auto* buffer =
            static_cast<std::uint8_t*>(checkAlloc(av_malloc(kIoBufferSize), prefix + "out of memory"));
        io_ = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &OutputFile::writeCallback,
                                 &OutputFile::seekCallback);
        if (!io_) {
            av_free(buffer);
            throw Error(prefix + "out of memory", AVERROR(ENOMEM));
        }
        io_->seekable = AVIO_SEEKABLE_NORMAL;
        int ret = avformat_alloc_output_context2(&fmt_, format, nullptr, path.c_str());
        if (ret < 0)
            throw Error(prefix + errorText(ret), ret);
        fmt_->pb = io_;
        fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
    } catch (...) {
        close();
        ::unlink(path_.c_str());
        throw;
    }
}

OutputFile::~OutputFile()
{
    close();
    if (!finished_)
        ::unlink(path_.c_str()); // we created it exclusively, so it is ours to remove
}

void OutputFile::close() noexcept
{
    if (fmt_) {
        avformat_free_context(fmt_); // a custom pb is not closed by it
        fmt_ = nullptr;
    }
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int OutputFile::writeCallback(void* opaque, std::uint8_t* buf, int size)
{
    auto* self = static_cast<OutputFile*>(opaque);
    int done = 0;
    while (done < size) {
        ssize_t n = ::write(self->fd_, buf + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return size;
}

std::int64_t OutputFile::seekCallback(void* opaque, std::int64_t offset, int whence)
{
    auto* self = static_cast<OutputFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(self->fd_, &st) == 0 ? st.st_size : AVERROR(errno);
    }
    off_t pos = ::lseek(self->fd_, offset, whence & ~AVSEEK_FORCE);
    return pos < 0 ? AVERROR(errno) : pos;
}

AVStream* OutputFile::addStream(const AVCodecContext* encoder)
{
    AVStream* st = checkAlloc(avformat_new_stream(fmt_, nullptr), "cannot add a stream to " + path_);
    check(avcodec_parameters_from_context(st->codecpar, encoder), "cannot set up a stream of " + path_);
    st->time_base = encoder->time_base;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        st->avg_frame_rate = encoder->framerate;
    return st;
}

void OutputFile::writeHeader()
{
    AVDictionary* opts = nullptr;
    int ret = avformat_write_header(fmt_, &opts);
    av_dict_free(&opts);
    if (ret < 0)
        throw Error("cannot write the header of " + path_ + ": " + errorText(ret), ret);
    headerWritten_ = true;
}

void OutputFile::write(AVPacket* packet, const AVCodecContext* encoder, const AVStream* stream)
{
    av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    int ret = av_interleaved_write_frame(fmt_, packet);
    if (ret < 0)
        throw Error("cannot write " + path_ + ": " + errorText(ret), ret);
}

void OutputFile::finish()
{
    int ret = av_write_trailer(fmt_);
    if (ret < 0)
        throw Error("cannot finish " + path_ + ": " + errorText(ret), ret);
    avio_flush(io_);
    if (io_->error < 0)
        throw Error("cannot write " + path_ + ": " + errorText(io_->error), io_->error);
    if (::fsync(fd_) != 0 && errno != EINVAL)
        throw Error("cannot write " + path_ + ": " + std::strerror(errno), AVERROR(errno));
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw Error("cannot write " + path_ + ": " + std::strerror(errno), AVERROR(errno));
    finished_ = true;
    close();
}

std::int64_t OutputFile::bytesWritten() const
{
    return io_ ? avio_tell(io_) : 0;
}

} // namespace kv::ff
