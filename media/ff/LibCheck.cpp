#include "media/ff/LibCheck.h"

#include "media/ff/FFPtr.h"

#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace kv::ff {

namespace {

LibCheckResult runCheck()
{
    std::vector<std::string> missing;
    // Containers and codecs of the sources we must read, the encoders and the muxer we write with.
    for (const char* name : {"mov", "matroska", "avi", "mp3", "wav", "flac"})
        if (!av_find_input_format(name))
            missing.push_back(std::string("demuxer ") + name);
    for (AVCodecID id : {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4, AV_CODEC_ID_AAC, AV_CODEC_ID_MP3,
                         AV_CODEC_ID_FLAC, AV_CODEC_ID_PCM_S16LE})
        if (!avcodec_find_decoder(id))
            missing.push_back(std::string("decoder ") + avcodec_get_name(id));
    for (const char* name : {"libx264", "mpeg4", "aac"})
        if (!avcodec_find_encoder_by_name(name))
            missing.push_back(std::string("encoder ") + name);
    if (!av_guess_format("psp", nullptr, nullptr))
        missing.push_back("muxer psp");
    if (SwsContext* sws = sws_getContext(64, 64, AV_PIX_FMT_YUV420P, 32, 32, AV_PIX_FMT_RGB24, SWS_BICUBIC,
                                         nullptr, nullptr, nullptr))
        sws_freeContext(sws);
    else
        missing.push_back("swscale");
    {
        SwrContext* swr = nullptr;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        if (swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLTP, 24000, &stereo, AV_SAMPLE_FMT_S16, 44100,
                                0, nullptr) < 0 ||
            swr_init(swr) < 0)
            missing.push_back("swresample");
        swr_free(&swr);
    }
    LibCheckResult r;
    r.ok = missing.empty();
    for (const auto& m : missing)
        r.missing += (r.missing.empty() ? "" : ", ") + m;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&avcodec_version), &info) && info.dli_fname)
        r.libraryPath = info.dli_fname;
    return r;
}

} // namespace

const LibCheckResult& checkLibraries()
{
    static std::once_flag once;
    static LibCheckResult result;
    std::call_once(once, [] { result = runCheck(); });
    return result;
}

} // namespace kv::ff
