#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "media/AacEncoder.h"
#include "media/AudioFifo.h"
#include "media/BoundedQueue.h"
#include "media/H264Encoder.h"
#include "media/MediaInternal.h"
#include "media/MediaTestSupport.h"
#include "media/VideoDecoder.h"
#include "support/TestSupport.h"

using namespace media;
using namespace mediatest;

TEST(BoundedQueue, ClosedQueueDrainsInOrderAndShutdownReleasesABlockedPusher) {
    BoundedQueue<int> q(2);
    ASSERT_TRUE(q.push(1));
    ASSERT_TRUE(q.push(2));
    q.close();
    int v = 0;
    ASSERT_TRUE(q.pop(v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(q.pop(v));
    EXPECT_EQ(v, 2);
    EXPECT_FALSE(q.pop(v));

    BoundedQueue<int> full(1);
    ASSERT_TRUE(full.push(1));
    bool pushed = true;
    std::thread pusher([&] { pushed = full.push(2); });  // waits: the queue is full
    full.shutdown();
    pusher.join();
    EXPECT_FALSE(pushed);
    EXPECT_FALSE(full.pop(v));  // shut down: nothing more comes out, even what was queued
}

TEST(VideoDecoder, DecodesEveryPictureThenEndsAndStartsOverAfterASeek) {
    testsupport::TempDir dir;
    const std::string path = dir.str() + "/pattern.mov";
    auto o = patternOptions(12);
    o.writer.maxBFrames = 2;  // stored out of order: the decoder must reorder
    o.writer.audioCodec = AudioCodec::Aac;
    makePatternMovie(path, o);

    av::InputContext in;
    ASSERT_FALSE(internal::openInput(path, in));
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ASSERT_GE(index, 0);
    VideoDecoder decoder;
    ASSERT_EQ(decoder.open(in->streams[index], {.count = 2}), 0);
    av::Packet pkt = av::makePacket();
    av::Frame frame = av::makeFrame();
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        std::vector<int64_t> pts;
        int r;
        while ((r = decoder.decodeNext(in.get(), pkt.get(), frame.get())) == 0) {
            pts.push_back(frame->best_effort_timestamp);
            EXPECT_EQ(frame->width, 320);
            av_frame_unref(frame.get());
        }
        EXPECT_EQ(r, AVERROR_EOF);
        ASSERT_EQ(pts.size(), 12u);
        for (size_t i = 1; i < pts.size(); ++i) EXPECT_LT(pts[i - 1], pts[i]);
        decoder.restart();
        av_seek_frame(in.get(), index, INT64_MIN, AVSEEK_FLAG_BACKWARD);
    }

    // A packet budget ends the reading early: at most that many of the stream's packets go in.
    av::InputContext again;
    ASSERT_FALSE(internal::openInput(path, again));
    VideoDecoder limited;
    ASSERT_EQ(limited.open(again->streams[index], {.count = 1}), 0);
    int budget = 3, pictures = 0;
    while (limited.decodeNext(again.get(), pkt.get(), frame.get(), &budget) == 0) {
        ++pictures;
        av_frame_unref(frame.get());
    }
    EXPECT_EQ(budget, 0);
    EXPECT_GE(pictures, 1);
    EXPECT_LE(pictures, 3);
}

TEST(VideoDecoder, FormatWithoutADecoderIsToldApart) {
    auto path = testsupport::sharedMedia("mp4ff__vvc_400kbps_2s.mp4");
    if (path.empty()) GTEST_SKIP() << "shared media not available";
    av::InputContext in;
    ASSERT_FALSE(internal::openInput(path.string(), in));
    VideoDecoder decoder;
    EXPECT_EQ(decoder.open(in->streams[0], {}), AVERROR_DECODER_NOT_FOUND);
}

TEST(H264Encoder, NamedSettingsReachTheEncoder) {
    H264Settings h;
    h.width = 320;
    h.height = 240;
    h.preset = "fast";
    h.profile = "main";  // a ceiling: "fast" alone would use High
    h.gopSize = 15;
    h.maxBFrames = 0;
    h.globalHeader = true;
    h.sampleAspectRatio = AVRational{3, 2};
    av::CodecContext enc;
    ASSERT_EQ(H264Encoder::open(h, enc), 0);
    EXPECT_EQ(enc->gop_size, 15);
    EXPECT_EQ(enc->max_b_frames, 0);
    EXPECT_EQ(enc->sample_aspect_ratio.num, 3);
    // With the global header the parameter sets are ready before the first picture; the
    // sequence parameter set names the profile (77: Main).
    const std::string sets(reinterpret_cast<const char*>(enc->extradata), static_cast<size_t>(enc->extradata_size));
    const size_t sps = sets.find(std::string("\x00\x00\x01\x67", 4));
    ASSERT_NE(sps, std::string::npos);
    EXPECT_EQ(static_cast<uint8_t>(sets[sps + 4]), 77);

    H264Settings odd = h;
    odd.width = 0;  // no picture size: the encoder refuses to start
    EXPECT_LT(H264Encoder::open(odd, enc), 0);
}

TEST(AacEncoder, StandardRatesAndLayoutsWithAFallback) {
    EXPECT_EQ(AacEncoder::rateAtOrAbove(44100), 44100);
    EXPECT_EQ(AacEncoder::rateAtOrAbove(44101), 48000);
    EXPECT_EQ(AacEncoder::rateAtOrAbove(1), 8000);
    EXPECT_EQ(AacEncoder::rateAtOrAbove(192000), 96000);

    AVChannelLayout surround = AV_CHANNEL_LAYOUT_5POINT1;
    av::CodecContext enc;
    ASSERT_EQ(AacEncoder::open({.sampleRate = 48000, .layout = &surround, .channels = 6, .globalHeader = true}, enc),
              0);
    EXPECT_EQ(av_channel_layout_compare(&enc->ch_layout, &surround), 0);
    EXPECT_EQ(enc->time_base.den, 48000);
    EXPECT_EQ(enc->sample_fmt, AV_SAMPLE_FMT_FLTP);

    // A layout that names no channels (as some files have) gives way to the channel count.
    AVChannelLayout unknown{};
    unknown.order = AV_CHANNEL_ORDER_UNSPEC;
    ASSERT_EQ(AacEncoder::open({.sampleRate = 44100, .layout = &unknown, .channels = 2}, enc), 0);
    EXPECT_EQ(enc->ch_layout.nb_channels, 2);
}

TEST(AudioFifo, DropsTheAskedForHeadFillsGapsWithSilenceAndHandsOutEncoderFrames) {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av::CodecContext enc;
    ASSERT_EQ(AacEncoder::open({.sampleRate = 48000, .layout = &stereo, .channels = 2}, enc), 0);
    AudioFifo fifo;
    ASSERT_EQ(fifo.open(*enc), 0);
    ASSERT_EQ(fifo.setSource(stereo, AV_SAMPLE_FMT_S16, 48000), 0);

    // Left counts up, right counts down, so a wrong offset or a swapped plane shows.
    std::vector<int16_t> pcm;
    for (int i = 0; i < 1000; ++i) {
        pcm.push_back(static_cast<int16_t>(i * 10));
        pcm.push_back(static_cast<int16_t>(-i * 10));
    }
    const uint8_t* in = reinterpret_cast<const uint8_t*>(pcm.data());
    ASSERT_EQ(fifo.resample(&in, 1000), 1000);
    EXPECT_EQ(fifo.queueResampled(100), 900);
    EXPECT_EQ(fifo.queueSilence(300), 300);
    EXPECT_EQ(fifo.size(), 1200);

    ASSERT_TRUE(fifo.ready(false));
    av::Frame f = fifo.take(false);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->nb_samples, 1024);
    EXPECT_EQ(f->format, AV_SAMPLE_FMT_FLTP);
    const float* left = reinterpret_cast<const float*>(f->data[0]);
    const float* right = reinterpret_cast<const float*>(f->data[1]);
    EXPECT_FLOAT_EQ(left[0], 1000 / 32768.0f);
    EXPECT_FLOAT_EQ(right[0], -1000 / 32768.0f);
    EXPECT_FLOAT_EQ(left[899], 9990 / 32768.0f);
    for (int i = 900; i < 1024; ++i) ASSERT_EQ(left[i], 0.0f) << i;

    // What is left comes out only when flushing.
    EXPECT_FALSE(fifo.ready(false));
    EXPECT_FALSE(fifo.take(false));
    f = fifo.take(true);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->nb_samples, 176);
    EXPECT_EQ(fifo.size(), 0);

    // A new source rate: what the resampler holds back comes out with the tail, so half a
    // second at 24 kHz makes half a second at 48 kHz.
    ASSERT_EQ(fifo.setSource(stereo, AV_SAMPLE_FMT_S16, 24000), 0);
    std::vector<int16_t> tone(2 * 12000, 1000);
    in = reinterpret_cast<const uint8_t*>(tone.data());
    const int body = fifo.resample(&in, 12000);
    fifo.queueResampled();
    const int tail = fifo.resampleTail();
    fifo.queueResampled();
    EXPECT_GT(tail, 0);
    EXPECT_NEAR(body + tail, 24000, 2);
    EXPECT_EQ(fifo.size(), body + tail);
}
