#include "media/ff/InputFile.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

using kv::ff::InputFile;
using kv::test::TempDir;

namespace {

// Reads the whole file, decoding both streams; returns {video frames, audio samples}.
std::pair<int, std::int64_t> decodeAll(InputFile& in, std::vector<std::int64_t>* videoPtsUs = nullptr)
{
    int videoFrames = 0;
    std::int64_t audioSamples = 0;
    auto pkt = kv::ff::allocPacket();
    auto onVideo = [&](AVFrame* f) {
        ++videoFrames;
        if (videoPtsUs)
            videoPtsUs->push_back(in.toMicroseconds(f->pts, in.videoStreamIndex()));
    };
    auto onAudio = [&](AVFrame* f) { audioSamples += f->nb_samples; };
    while (in.readPacket(pkt.get())) {
        if (pkt->stream_index == in.videoStreamIndex())
            in.decode(in.videoDecoder(), pkt.get(), onVideo);
        else if (pkt->stream_index == in.audioStreamIndex())
            in.decode(in.audioDecoder(), pkt.get(), onAudio);
        av_packet_unref(pkt.get());
    }
    if (in.videoDecoder())
        in.decode(in.videoDecoder(), nullptr, onVideo);
    if (in.audioDecoder())
        in.decode(in.audioDecoder(), nullptr, onAudio);
    return {videoFrames, audioSamples};
}

} // namespace

TEST(InputFile, OpensPicksStreamsAndDecodesEveryFrame)
{
    TempDir dir;
    auto clip = kv::test::makeClip(dir / "clip.mkv", 1.0, "160x120", "25");
    InputFile in(clip.string());
    ASSERT_GE(in.videoStreamIndex(), 0);
    ASSERT_GE(in.audioStreamIndex(), 0);
    EXPECT_EQ(in.videoDecoder()->width, 160);
    EXPECT_EQ(av_q2d(in.videoFrameRate()), 25.0);
    EXPECT_NEAR(in.durationUs(), 1'000'000, 100'000);

    std::vector<std::int64_t> pts;
    auto [frames, samples] = decodeAll(in, &pts);
    EXPECT_EQ(frames, 25);
    EXPECT_NEAR(samples, 44100, 2048);
    ASSERT_FALSE(pts.empty());
    EXPECT_TRUE(std::is_sorted(pts.begin(), pts.end()));
    EXPECT_NEAR(pts.front(), 0, 50'000); // audio priming may start the file a little earlier

    // After a seek back to the start the file decodes again from its first frame.
    in.seek(0);
    auto [again, _] = decodeAll(in);
    EXPECT_EQ(again, 25);
}

TEST(InputFile, ProbeOnlyOpensNoDecoderAndAudioOnlyHasNoVideo)
{
    TempDir dir;
    auto mp3 = dir / "tone.mp3";
    kv::test::makeMedia({"-f", "lavfi", "-i", "sine=duration=0.5", "-c:a", "libmp3lame", mp3.string()});
    kv::ff::InputOpenOptions probe;
    probe.openDecoders = false;
    InputFile in(mp3.string(), probe);
    EXPECT_EQ(in.videoStreamIndex(), -1);
    EXPECT_GE(in.audioStreamIndex(), 0);
    EXPECT_EQ(in.audioDecoder(), nullptr);
}

TEST(InputFile, FailuresNameTheFileAndTheReason)
{
    TempDir dir;
    const auto garbage = dir / "garbage.mp4";
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 4096; ++i)
            out.put(static_cast<char>((i * 7919) & 0xff));
    }
    const auto missing = dir / "missing.mkv";
    for (const auto& path : {garbage, missing}) {
        try {
            InputFile in(path.string());
            FAIL() << "opened " << path;
        } catch (const kv::ff::Error& e) {
            const std::string msg = e.what();
            EXPECT_EQ(msg.rfind("cannot open file " + path.string() + ": ", 0), 0u) << msg;
            EXPECT_GT(msg.size(), ("cannot open file " + path.string() + ": ").size());
        }
    }
    kv::ff::InputOpenOptions forced;
    forced.formatName = "no-such-format";
    EXPECT_THROW(InputFile(garbage.string(), forced), kv::ff::Error);
}
