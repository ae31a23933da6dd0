#include "media/ExportSession.h"

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "media/AacEncoder.h"
#include "media/AudioFifo.h"
#include "media/BoundedQueue.h"
#include "media/ExportInternal.h"
#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "media/PictureConversion.h"
#include "media/H264Encoder.h"
#include "media/MediaInternal.h"
#include "media/VideoDecoder.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace media {

using internal::timeFromAv;
using namespace exportio;

namespace {

// Adds the wall time of a stretch of work to a total.
class Stopwatch {
public:
    explicit Stopwatch(double& total) : total_(total), start_(std::chrono::steady_clock::now()) {}
    ~Stopwatch() { total_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;

private:
    double& total_;
    std::chrono::steady_clock::time_point start_;
};

// A picture ready for the encoder, at its output time.
struct RenderedPicture {
    av::Frame frame;
    int64_t pts = 0;
    int64_t duration = 0;
};

struct DecodedPicture {
    av::Frame frame;  // 8-bit yuv420p
    Time time;        // presentation time on the movie's timeline
    int64_t pts = 0;  // in the source stream's time base
    int64_t duration = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Session

ExportSession::ExportSession(std::shared_ptr<const Asset> asset, ExportPreset preset)
    : impl_(std::make_shared<Impl>()) {
    impl_->asset = std::move(asset);
    impl_->preset = preset;
}

ExportSession::~ExportSession() {
    cancelExport();
    waitUntilFinished();
}

void ExportSession::waitUntilFinished() {
    std::unique_lock<std::mutex> lock(impl_->doneMutex);
    // The completion may drop the last reference from the export thread itself; waiting there
    // would wait for ourselves.
    if (impl_->started && impl_->workerId != std::this_thread::get_id())
        impl_->doneCv.wait(lock, [&] { return impl_->done; });
}

ExportPreset ExportSession::preset() const {
    return impl_->preset;
}
std::shared_ptr<const Asset> ExportSession::asset() const {
    return impl_->asset;
}
void ExportSession::setOutputPath(std::string path) {
    std::lock_guard<std::mutex> lock(impl_->outputPathMutex);
    impl_->outputPath = std::move(path);
}
std::string ExportSession::outputPath() const {
    std::lock_guard<std::mutex> lock(impl_->outputPathMutex);
    return impl_->outputPath;
}
void ExportSession::setOutputPathChooser(std::function<std::string()> next) {
    impl_->nextOutputPath = std::move(next);
}
void ExportSession::setOutputFileType(FileType t) {
    impl_->fileType = t;
}
FileType ExportSession::outputFileType() const {
    return impl_->fileType;
}
void ExportSession::setVideoComposition(std::optional<VideoComposition> c) {
    impl_->composition = std::move(c);
}
const std::optional<VideoComposition>& ExportSession::videoComposition() const {
    return impl_->composition;
}
void ExportSession::setVideoTrackPreferredTransform(AffineTransform t) {
    impl_->passthroughTransform = t;
}

ExportSession::Status ExportSession::status() const {
    return static_cast<Status>(impl_->status.load());
}
float ExportSession::progress() const {
    return impl_->progress.load();
}
ExportSession::Timings ExportSession::timings() const {
    std::lock_guard<std::mutex> lock(impl_->doneMutex);
    return impl_->done ? impl_->timings : Timings{};
}
Error ExportSession::error() const {
    std::lock_guard<std::mutex> lock(impl_->errorMutex);
    return status() == Status::Failed ? impl_->error : Error{};
}
void ExportSession::cancelExport() {
    impl_->cancelled = true;
}

void ExportSession::exportAsynchronously(std::function<void()> completion) {
    std::shared_ptr<Impl> impl = impl_;
    {
        std::lock_guard<std::mutex> lock(impl->doneMutex);
        if (impl->started) return;
        impl->started = true;
        impl->status = static_cast<int>(Status::Waiting);
        std::thread worker([impl, completion = std::move(completion)]() {
            impl->run();
            if (completion) completion();
            std::lock_guard<std::mutex> lock(impl->doneMutex);
            impl->done = true;
            impl->doneCv.notify_all();
        });
        impl->workerId = worker.get_id();
        worker.detach();
    }
}

ExportSession::Status ExportSession::exportAndWait() {
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
    exportAsynchronously([&] {
        std::lock_guard<std::mutex> lock(m);
        finished = true;
        cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return finished; });
    return status();
}

void ExportSession::Impl::run() {
    namespace fs = std::filesystem;
    if (!cancelled) status = static_cast<int>(Status::Exporting);
    std::error_code ec;
    if (!asset) {
        fail(plainError(AVERROR(EINVAL), "The export has no movie.", "No movie was given to export.", {}));
    } else if (outputPath.empty()) {
        fail(plainError(AVERROR(EINVAL), "The export could not be started.", "No output file was given.", {}));
    } else if (!nextOutputPath && (fs::exists(outputPath, ec) || fs::is_symlink(outputPath, ec))) {
        // Never overwrite: the output could be the source itself or another user's movie.
        fail(plainError(AVERROR(EEXIST), "The export could not be started.",
                        "A file already exists at " + outputPath + ".", "Remove the file or choose another name."));
    } else if (!cancelled) {
        if (preset == ExportPreset::Passthrough)
            runPassthrough();
        else
            runTranscode();
    }
    // A movie that took its name is complete, even when a cancel came in meanwhile; whatever
    // else was written goes (only the temporary ever was).
    const bool stored = output && output->isCommitted();
    output.reset();
    if (stored) {
        progress = 1.0f;
        status = static_cast<int>(Status::Completed);
    } else if (failed) {
        status = static_cast<int>(Status::Failed);
    } else if (cancelled) {
        status = static_cast<int>(Status::Cancelled);
    } else {
        progress = 1.0f;
        status = static_cast<int>(Status::Completed);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing the output, for passthrough and re-encoding alike

namespace exportio {

Error plainError(int code, std::string description, std::string reason, std::string suggestion) {
    return Error{code, std::move(description), std::move(reason), std::move(suggestion)};
}

// Checked writes: a short write (full disk, file size limit) must never pass as a finished movie.
int writePacket(AVFormatContext* out, AVPacket* pkt) {
    int r = av_interleaved_write_frame(out, pkt);
    if (r >= 0 && out->pb && out->pb->error < 0) r = out->pb->error;
    return r;
}

// A failed packet write is either the disk's doing (the file's I/O error is set) or the muxer
// refusing a sample; the user can fix the first, and should choose another preset for the second.
void failWrite(ExportSession::Impl& s, AVFormatContext* out, int r) {
    if (out->pb && out->pb->error < 0)
        s.failAv(out->pb->error, "The exported movie could not be written.", kWriteSuggestion);
    else if (r == AVERROR(ENOSPC) || r == AVERROR(EFBIG) || r == AVERROR(EIO) || r == AVERROR(EDQUOT))
        s.failAv(r, "The exported movie could not be written.", kWriteSuggestion);
    else
        s.failAv(r, "A sample of the movie cannot be stored in a QuickTime movie.",
                 "Export with a preset that converts the movie instead of copying it.");
}

// FFmpeg's name for the codec, or the file's four-character code when FFmpeg has none.
std::string codecName(const AVCodecParameters* par) {
    if (par->codec_id != AV_CODEC_ID_NONE) return avcodec_get_name(par->codec_id);
    char tag[AV_FOURCC_MAX_STRING_SIZE] = {0};
    av_fourcc_make_string(tag, par->codec_tag);
    return par->codec_tag ? tag : "unknown";
}

bool openOutput(ExportSession::Impl& s, const std::string& path, av::OutputContext& out) {
    AVFormatContext* oc = nullptr;
    int r = avformat_alloc_output_context2(&oc, nullptr, "mov", path.c_str());
    if (r < 0) {
        s.failAv(r, "The movie could not be exported.", kWriteSuggestion);
        return false;
    }
    out.reset(oc);
    return true;
}

bool startWriting(ExportSession::Impl& s, AVFormatContext* out, const std::string& path) {
    // The movie is written to a hidden temporary and only named when complete, so no broken
    // file ever stands under a final name, whatever happens to this process.
    Error created;
    s.output = OutputFile::create(path, &created);
    if (!s.output || !s.output->avio()) {
        s.fail(created ? Error{AVERROR(created.code), "The exported movie could not be created.", created.failureReason,
                               kWriteSuggestion}
                       : Error{AVERROR(ENOMEM), "The exported movie could not be created.", "Out of memory.", {}});
        return false;
    }
    out->pb = s.output->avio();
    out->flags |= AVFMT_FLAG_CUSTOM_IO;
    int r;
    // Edit lists are stored on the movie's timescale; the muxer's default of 1000 would move a
    // track that starts at 3822/44100 s by a fraction of a millisecond. The finest track
    // timescale keeps every start where it was.
    int movieTimescale = 1000;
    for (unsigned i = 0; i < out->nb_streams; ++i) {
        const AVStream* st = out->streams[i];
        int ts = st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && st->codecpar->sample_rate > 0
                     ? st->codecpar->sample_rate
                     : st->time_base.den;
        if (st->time_base.num == 1 && ts > movieTimescale && ts <= 1000000) movieTimescale = ts;
    }
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", movieTimescale, 0);
    r = avformat_write_header(out, &options);
    av_dict_free(&options);
    if (r < 0) {
        std::string codecs;
        for (unsigned i = 0; i < out->nb_streams; ++i)
            codecs += (codecs.empty() ? "" : ", ") + codecName(out->streams[i]->codecpar);
        s.fail(plainError(r, "The movie could not be exported.",
                          "Its tracks (" + codecs + ") cannot be stored in a QuickTime movie.",
                          "Export with a preset that converts the movie instead of copying it."));
        return false;
    }
    return true;
}

bool finishWriting(ExportSession::Impl& s, AVFormatContext* out) {
    int r = av_write_trailer(out);
    if (r >= 0 && out->pb && out->pb->error < 0) r = out->pb->error;
    if (r < 0) {
        s.failAv(r, "The exported movie could not be finished.", kWriteSuggestion);
        return false;
    }
    out->pb = nullptr;  // owned by the output file
    Error e;
    if (!s.output->commit(OutputFile::Commit::ClaimFree, &e, s.nextOutputPath)) {
        s.fail(
            Error{AVERROR(e.code), "The exported movie could not be finished.", e.failureReason, e.recoverySuggestion});
        return false;
    }
    std::lock_guard<std::mutex> lock(s.outputPathMutex);
    s.outputPath = s.output->finalPath();
    return true;
}

// Keeps the source's codec tag when the mov muxer knows it for that codec ("hvc1" stays
// "hvc1"); otherwise lets the muxer choose.
void chooseCodecTag(const AVFormatContext* out, AVCodecParameters* par) {
    if (par->codec_tag && av_codec_get_id(out->oformat->codec_tag, par->codec_tag) != par->codec_id) par->codec_tag = 0;
}

bool checkNotTruncated(ExportSession::Impl& s, AVFormatContext* in, const std::vector<int>& streams) {
    for (int i : streams)
        if (internal::streamIsTruncated(in, in->streams[i])) {
            s.fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.",
                              "The movie file is incomplete: it ends before its last samples.", kReadSuggestion));
            return false;
        }
    return true;
}

}  // namespace exportio

// ---------------------------------------------------------------------------------------------
// Re-encoding

namespace {

// Rendered pictures come from a pool of buffers. A fresh buffer per picture is handed back to
// the system by the allocator once the encoder lets go of it on its own thread, so every
// picture paid page faults on first touch (a tenth of the export's kernel time at 720p).
// The renderer writes every sample, so the buffers need no clearing.
class PicturePool {
public:
    PicturePool(int width, int height) : width_(width), height_(height) {
        lumaStride_ = FFALIGN(width, 64);
        chromaStride_ = FFALIGN((width + 1) / 2, 64);
        chromaHeight_ = (height + 1) / 2;
        lumaBytes_ = static_cast<size_t>(lumaStride_) * height;
        chromaBytes_ = static_cast<size_t>(chromaStride_) * chromaHeight_;
        pool_ = av_buffer_pool_init(lumaBytes_ + 2 * chromaBytes_ + 64, nullptr);
    }
    ~PicturePool() { av_buffer_pool_uninit(&pool_); }  // buffers still out keep it alive
    PicturePool(const PicturePool&) = delete;
    PicturePool& operator=(const PicturePool&) = delete;

    // A yuv420p picture of the pool's size; empty when out of memory.
    av::Frame take() {
        av::Frame f = av::makeFrame();
        if (!f || !pool_) return {};
        f->buf[0] = av_buffer_pool_get(pool_);
        if (!f->buf[0]) return {};
        f->format = AV_PIX_FMT_YUV420P;
        f->width = width_;
        f->height = height_;
        f->data[0] = f->buf[0]->data;
        f->data[1] = f->data[0] + lumaBytes_;
        f->data[2] = f->data[1] + chromaBytes_;
        f->linesize[0] = lumaStride_;
        f->linesize[1] = f->linesize[2] = chromaStride_;
        return f;
    }

private:
    int width_, height_;
    int lumaStride_ = 0, chromaStride_ = 0, chromaHeight_ = 0;
    size_t lumaBytes_ = 0, chromaBytes_ = 0;
    AVBufferPool* pool_ = nullptr;
};

// One audio track of the output: copied when it is AAC, otherwise decoded and encoded to AAC.
struct AudioLane {
    int inputIndex = -1;
    AVStream* out = nullptr;
    bool copy = true;
    av::CodecContext decoder;
    av::CodecContext encoder;
    AudioFifo fifo;
    int64_t nextPts = AV_NOPTS_VALUE;  // in encoder samples
};

}  // namespace

struct Transcoder {
    ExportSession::Impl& s;
    av::InputContext in;
    av::OutputContext out;
    std::mutex muxMutex;

    // Video
    int videoIndex = -1;
    VideoDecoder decoder;
    av::CodecContext encoder;
    AVStream* videoOut = nullptr;
    internal::Yuv420Converter converter;
    int outW = 0, outH = 0;
    Size sourceSize;  // the decoded picture's size
    Size compositionSize;
    bool renderNeeded = false;
    std::map<int64_t, int64_t> durations;  // output pts -> duration, for the muxer's last sample

    std::vector<std::unique_ptr<AudioLane>> audio;
    BoundedQueue<DecodedPicture> pictures{4};
    // Rendering and encoding run on threads of their own, so x264 never waits for a picture
    // being rendered.
    BoundedQueue<RenderedPicture> rendered{3};
    ExportSession::Timings timings;  // each thread adds to its own fields
    Time movieDuration;

    explicit Transcoder(ExportSession::Impl& session) : s(session) {}

    bool write(AVPacket* pkt) {
        std::lock_guard<std::mutex> lock(muxMutex);
        int r = writePacket(out.get(), pkt);
        if (r < 0)
            failWrite(s, out.get(), r);
        else
            ++written;
        return r >= 0;
    }
    int64_t written = 0;  // samples in the output, under muxMutex

    bool setUp();
    bool setUpVideo();
    bool setUpAudio(int index);
    void readAndDecode();
    bool decodeVideo(AVPacket* pkt);
    bool pushPicture(AVFrame* frame);
    bool handleAudio(AudioLane& lane, AVPacket* pkt);
    bool encodeAudio(AudioLane& lane, bool flush);
    bool drainAudioEncoder(AudioLane& lane);
    void renderPictures();
    void encodePictures();
    bool encode(AVFrame* frame);
};

bool Transcoder::setUp() {
    if (Error e = internal::openInput(s.asset->path(), in)) {
        s.fail(e);
        return false;
    }
    movieDuration = s.asset->duration();
    if (!openOutput(s, s.outputPath, out)) return false;
    std::vector<int> used;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* st = in->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && videoIndex < 0 &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            videoIndex = static_cast<int>(i);
    }
    if (videoIndex >= 0) {
        if (!setUpVideo()) return false;
        used.push_back(videoIndex);
    }
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (!setUpAudio(static_cast<int>(i))) return false;
            if (!audio.empty() && audio.back()->inputIndex == static_cast<int>(i)) used.push_back(static_cast<int>(i));
        }
    if (used.empty()) {
        s.fail(plainError(AVERROR_STREAM_NOT_FOUND, "The movie could not be exported.",
                          "The movie has no picture or sound that can be read.", kReadSuggestion));
        return false;
    }
    if (!checkNotTruncated(s, in.get(), used)) return false;
    if (s.composition && !(movieDuration.isValid() && movieDuration.value > 0)) {
        s.fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.", "The movie's length is unknown.",
                          kReadSuggestion));
        return false;
    }
    return startWriting(s, out.get(), s.outputPath);
}

bool Transcoder::setUpVideo() {
    AVStream* st = in->streams[videoIndex];
    // Two decoding threads keep up with the encoder; each further one holds more pictures.
    int r = decoder.open(st, {.count = 2});
    if (r == AVERROR_DECODER_NOT_FOUND) {
        s.fail(plainError(AVERROR_DECODER_NOT_FOUND, "The movie could not be exported.",
                          "Its pictures are stored as " + codecName(st->codecpar) + ", which cannot be decoded here.",
                          "Convert the movie to H.264 first."));
        return false;
    }
    if (r < 0) {
        s.failAv(r, "The movie's pictures could not be decoded.", kReadSuggestion);
        return false;
    }
    sourceSize = {st->codecpar->width, st->codecpar->height};
    if (sourceSize.width <= 0 || sourceSize.height <= 0) {
        s.fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.", "Its picture has no size.",
                          kReadSuggestion));
        return false;
    }
    Size base = sourceSize;
    if (s.composition) {
        const Size rs = s.composition->renderSize;
        if (!(rs.width >= 2 && rs.height >= 2 && rs.width <= 16384 && rs.height <= 16384) ||
            !(s.composition->frameDuration.isValid() && s.composition->frameDuration.value > 0)) {
            s.fail(plainError(AVERROR(EINVAL), "The movie could not be exported.",
                              "The video composition has no usable render size or frame duration.", {}));
            return false;
        }
        base = compositionSize = rs;
    }
    const Size os = exportOutputSize(s.preset, base);
    outW = os.width;
    outH = os.height;
    renderNeeded = s.composition.has_value() || outW != sourceSize.width || outH != sourceSize.height;

    H264Settings h264;
    h264.width = outW;
    h264.height = outH;
    if (s.composition) {
        const Time fd = s.composition->frameDuration;
        h264.timeBase = AVRational{static_cast<int>(fd.value), fd.timescale};
        h264.frameRate = AVRational{fd.timescale, static_cast<int>(fd.value)};
    } else {
        h264.timeBase = st->time_base;
        AVRational fr = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        h264.frameRate = fr.num > 0 && fr.den > 0 ? fr : AVRational{30, 1};
    }
    h264.sampleAspectRatio = st->codecpar->sample_aspect_ratio;
    h264.colorRange = AVCOL_RANGE_MPEG;
    h264.colorPrimaries = st->codecpar->color_primaries;
    h264.colorTransfer = st->codecpar->color_trc;
    h264.colorSpace = st->codecpar->color_space;
    h264.threadCount = 0;
    h264.globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;
    h264.preset = EncoderSettings::x264Preset;
    h264.crf = EncoderSettings::crf;
    h264.profile = EncoderSettings::profile;
    h264.x264Params = EncoderSettings::x264Params;
    r = H264Encoder::open(h264, encoder);
    if (r == AVERROR_ENCODER_NOT_FOUND) {
        s.fail(plainError(AVERROR_ENCODER_NOT_FOUND, "The movie could not be exported.",
                          "H.264 encoding is not available.", "Install FFmpeg with libx264."));
        return false;
    }
    if (r < 0) {
        s.failAv(r, "The H.264 encoder could not be started.");
        return false;
    }
    AVCodecContext* e = encoder.get();
    videoOut = avformat_new_stream(out.get(), nullptr);
    if (!videoOut) {
        s.failAv(AVERROR(ENOMEM), "The movie could not be exported.");
        return false;
    }
    avcodec_parameters_from_context(videoOut->codecpar, e);
    videoOut->time_base = e->time_base;
    videoOut->sample_aspect_ratio = e->sample_aspect_ratio;
    if (!s.composition) {
        // The stored pixels keep their orientation, so the display matrix goes along, its
        // translation following the new size.
        if (auto t = internal::streamDisplayMatrix(st); t && !t->isIdentity()) {
            t->tx *= static_cast<float>(outW) / static_cast<float>(sourceSize.width);
            t->ty *= static_cast<float>(outH) / static_cast<float>(sourceSize.height);
            if (!internal::setStreamDisplayMatrix(videoOut, *t)) {
                s.failAv(AVERROR(ENOMEM), "The movie could not be exported.");
                return false;
            }
        }
    }
    return true;
}

bool Transcoder::setUpAudio(int index) {
    AVStream* st = in->streams[index];
    auto lane = std::make_unique<AudioLane>();
    lane->inputIndex = index;
    lane->copy = st->codecpar->codec_id == AV_CODEC_ID_AAC;
    if (!lane->copy) {
        const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!dec) return true;  // a sound track nobody can play is dropped, like data tracks
        lane->decoder.reset(avcodec_alloc_context3(dec));
        avcodec_parameters_to_context(lane->decoder.get(), st->codecpar);
        lane->decoder->pkt_timebase = st->time_base;
        if (avcodec_open2(lane->decoder.get(), dec, nullptr) < 0) return true;
        const int rate = lane->decoder->sample_rate > 0 ? lane->decoder->sample_rate : 44100;
        const AVChannelLayout& source = lane->decoder->ch_layout;
        AacSettings aac;
        // The AAC encoder takes the standard rates only; the nearest one at or above the source.
        aac.sampleRate = AacEncoder::rateAtOrAbove(rate);
        aac.layout = source.nb_channels <= 6 ? &source : nullptr;
        aac.channels = std::clamp(source.nb_channels, 1, 6);
        aac.bitRate = EncoderSettings::audioBitRate;
        aac.globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;
        int r = AacEncoder::open(aac, lane->encoder);
        if (r == AVERROR_ENCODER_NOT_FOUND) {
            s.fail(plainError(AVERROR_ENCODER_NOT_FOUND, "The movie could not be exported.",
                              "AAC encoding is not available.", {}));
            return false;
        }
        if (r < 0) {
            s.failAv(r, "The sound could not be converted to AAC.");
            return false;
        }
        if ((r = lane->fifo.open(*lane->encoder)) < 0 ||
            (r = lane->fifo.setSource(lane->decoder->ch_layout, lane->decoder->sample_fmt, rate)) < 0) {
            s.failAv(r, "The sound could not be converted to AAC.");
            return false;
        }
    }
    lane->out = avformat_new_stream(out.get(), nullptr);
    if (!lane->out) {
        s.failAv(AVERROR(ENOMEM), "The movie could not be exported.");
        return false;
    }
    if (lane->copy) {
        avcodec_parameters_copy(lane->out->codecpar, st->codecpar);
        chooseCodecTag(out.get(), lane->out->codecpar);
        lane->out->time_base = st->time_base;
    } else {
        avcodec_parameters_from_context(lane->out->codecpar, lane->encoder.get());
        lane->out->time_base = lane->encoder->time_base;
    }
    lane->out->disposition = st->disposition;
    if (AVDictionaryEntry* lang = av_dict_get(st->metadata, "language", nullptr, 0))
        av_dict_set(&lane->out->metadata, "language", lang->value, 0);
    audio.push_back(std::move(lane));
    return true;
}

bool Transcoder::drainAudioEncoder(AudioLane& lane) {
    av::Packet pkt = av::makePacket();
    for (;;) {
        int r = avcodec_receive_packet(lane.encoder.get(), pkt.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) {
            s.failAv(r, "The sound could not be converted to AAC.");
            return false;
        }
        av_packet_rescale_ts(pkt.get(), lane.encoder->time_base, lane.out->time_base);
        pkt->stream_index = lane.out->index;
        if (!write(pkt.get())) return false;
    }
}

bool Transcoder::encodeAudio(AudioLane& lane, bool flush) {
    AVCodecContext* e = lane.encoder.get();
    while (lane.fifo.ready(flush)) {
        av::Frame f = lane.fifo.take(flush);
        if (!f) {
            s.failAv(AVERROR(ENOMEM), "The sound could not be converted to AAC.");
            return false;
        }
        f->pts = lane.nextPts;
        lane.nextPts += f->nb_samples;
        int r = avcodec_send_frame(e, f.get());
        if (r < 0) {
            s.failAv(r, "The sound could not be converted to AAC.");
            return false;
        }
        if (!drainAudioEncoder(lane)) return false;
    }
    if (flush) {
        avcodec_send_frame(e, nullptr);
        return drainAudioEncoder(lane);
    }
    return true;
}

bool Transcoder::handleAudio(AudioLane& lane, AVPacket* pkt) {
    AVStream* ist = in->streams[lane.inputIndex];
    if (lane.copy) {
        if (!pkt) return true;
        av_packet_rescale_ts(pkt, ist->time_base, lane.out->time_base);
        pkt->stream_index = lane.out->index;
        pkt->pos = -1;
        return write(pkt);
    }
    int r = avcodec_send_packet(lane.decoder.get(), pkt);
    if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) return true;  // a damaged sound packet is skipped
    av::Frame frame = av::makeFrame();
    AVCodecContext* e = lane.encoder.get();
    for (;;) {
        r = avcodec_receive_frame(lane.decoder.get(), frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) break;
        if (lane.nextPts == AV_NOPTS_VALUE) {
            const int64_t ts = frame->best_effort_timestamp;
            lane.nextPts = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, ist->time_base, e->time_base);
        }
        if (lane.fifo.resample(frame->extended_data, frame->nb_samples) == AVERROR(ENOMEM)) {
            s.failAv(AVERROR(ENOMEM), "The sound could not be converted to AAC.");
            return false;
        }
        lane.fifo.queueResampled();
        av_frame_unref(frame.get());
        if (!encodeAudio(lane, false)) return false;
    }
    if (!pkt) {
        // The resampler's tail, then everything the encoder still holds.
        if (lane.nextPts == AV_NOPTS_VALUE) lane.nextPts = 0;
        if (lane.fifo.resampleTail() > 0) lane.fifo.queueResampled();
        return encodeAudio(lane, true);
    }
    return true;
}

bool Transcoder::pushPicture(AVFrame* frame) {
    AVStream* st = in->streams[videoIndex];
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return true;  // a picture with no time cannot be placed
    DecodedPicture pic;
    pic.pts = pts;
    pic.time = timeFromAv(pts, st->time_base);
    pic.duration = frame->pkt_duration;
    const bool sameSize = frame->width == sourceSize.width && frame->height == sourceSize.height;
    // The renderer maps full range to limited range itself as it writes its output;
    // converting whole source pictures beforehand cost a twentieth of a full-range export.
    const bool full420 = frame->format == AV_PIX_FMT_YUVJ420P ||
                         (frame->format == AV_PIX_FMT_YUV420P && frame->color_range == AVCOL_RANGE_JPEG);
    if (sameSize && renderNeeded && full420) {
        pic.frame.reset(av_frame_clone(frame));
        if (!pic.frame) {
            s.failAv(AVERROR(ENOMEM), "Out of memory.");
            return false;
        }
    } else {
        // One format for the renderer and the encoder, whatever the decoder gives.
        switch (converter.convert(*frame, static_cast<int>(sourceSize.width), static_cast<int>(sourceSize.height),
                                  pic.frame)) {
        case internal::Yuv420Converter::Result::Ok: break;
        case internal::Yuv420Converter::Result::Unsupported:
            s.fail(plainError(AVERROR(EINVAL), "The movie could not be exported.",
                              std::string("Its pictures (") +
                                  (av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format)) ?: "?") +
                                  ") cannot be converted.",
                              kReadSuggestion));
            return false;
        case internal::Yuv420Converter::Result::OutOfMemory: s.failAv(AVERROR(ENOMEM), "Out of memory."); return false;
        }
    }
    Stopwatch waiting(timings.decoderWait);
    return pictures.push(std::move(pic));
}

bool Transcoder::decodeVideo(AVPacket* pkt) {
    int r = decoder.send(pkt);
    if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF && r != AVERROR_INVALIDDATA) {
        // Damaged pictures are skipped (the previous one stays on screen); anything else stops.
        if (r == AVERROR(ENOMEM)) {
            s.failAv(r, "The movie's pictures could not be decoded.", kReadSuggestion);
            return false;
        }
    }
    av::Frame frame = av::makeFrame();
    for (;;) {
        if (s.stopping()) return false;
        r = decoder.receive(frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return true;
        const bool ok = pushPicture(frame.get());
        av_frame_unref(frame.get());
        if (!ok) return false;
    }
}

void Transcoder::readAndDecode() {
    Stopwatch busy(timings.decode);  // the waits are taken out at the end
    av::Packet pkt = av::makePacket();
    std::vector<AudioLane*> laneOf(in->nb_streams, nullptr);
    const double total = movieDuration.isValid() ? movieDuration.seconds() : 0;
    for (auto& l : audio) laneOf[l->inputIndex] = l.get();
    bool ok = true;
    while (ok && !s.stopping()) {
        int r = av_read_frame(in.get(), pkt.get());
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            s.failAv(r, "The movie could not be read.", kReadSuggestion);
            ok = false;
            break;
        }
        const int idx = pkt->stream_index;
        // Without pictures, the sound is what advances the export.
        if (videoIndex < 0 && total > 0 && pkt->pts != AV_NOPTS_VALUE && idx >= 0 &&
            idx < static_cast<int>(in->nb_streams))
            s.setProgress(pkt->pts * av_q2d(in->streams[idx]->time_base) / total);
        if (idx == videoIndex)
            ok = decodeVideo(pkt.get());
        else if (idx >= 0 && idx < static_cast<int>(laneOf.size()) && laneOf[idx])
            ok = handleAudio(*laneOf[idx], pkt.get());
        av_packet_unref(pkt.get());
    }
    if (ok && !s.stopping()) {
        if (videoIndex >= 0) decodeVideo(nullptr);
        for (auto& l : audio)
            if (!s.stopping()) handleAudio(*l, nullptr);
    }
    pictures.close();
}

bool Transcoder::encode(AVFrame* frame) {
    Stopwatch encoding(timings.encode);
    int r = avcodec_send_frame(encoder.get(), frame);
    if (r < 0 && !(frame == nullptr && r == AVERROR_EOF)) {
        s.failAv(r, "The movie's pictures could not be encoded.");
        return false;
    }
    av::Packet pkt = av::makePacket();
    for (;;) {
        r = avcodec_receive_packet(encoder.get(), pkt.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) {
            s.failAv(r, "The movie's pictures could not be encoded.");
            return false;
        }
        // x264 leaves packet durations unset; the muxer needs them for the last sample. Packets
        // come in decode order, so with B-frames a later picture can come out before earlier
        // ones: consume exactly this picture's entry, never the ones below it.
        if (auto it = durations.find(pkt->pts); it != durations.end()) {
            if (pkt->duration <= 0) pkt->duration = it->second;
            durations.erase(it);
        }
        av_packet_rescale_ts(pkt.get(), encoder->time_base, videoOut->time_base);
        pkt->stream_index = videoOut->index;
        if (!write(pkt.get())) return false;
    }
}

void Transcoder::encodePictures() {
    RenderedPicture pic;
    for (;;) {
        bool got;
        {
            Stopwatch waiting(timings.encoderWait);
            got = rendered.pop(pic);
        }
        if (!got || s.stopping()) break;
        pic.frame->pts = pic.pts;
        durations[pic.pts] = pic.duration;
        if (!encode(pic.frame.get())) return;
        pic.frame.reset();
    }
    if (!s.stopping()) encode(nullptr);
}

void Transcoder::renderPictures() {
    const ResampleFilter filter = s.composition ? s.composition->filter : ResampleFilter::Bilinear;
    FrameRenderer renderer(filter, outW, outH);
    PicturePool pool(outW, outH);
    auto render = [&](const DecodedPicture& pic, const AffineTransform& t, int64_t pts, int64_t duration) -> bool {
        RenderedPicture out;
        out.pts = pts;
        out.duration = duration;
        if (!renderNeeded) {
            out.frame.reset(av_frame_clone(pic.frame.get()));
            if (!out.frame) {
                s.failAv(AVERROR(ENOMEM), "Out of memory.");
                return false;
            }
        } else {
            out.frame = pool.take();
            if (!out.frame) {
                s.failAv(AVERROR(ENOMEM), "Out of memory.");
                return false;
            }
            out.frame->sample_aspect_ratio = encoder->sample_aspect_ratio;
            Error e;
            Stopwatch rendering(timings.render);
            if (!renderer.render(*pic.frame, t, *out.frame, &e)) {
                s.fail(e.isError() ? e
                                   : plainError(AVERROR(EINVAL), "The movie could not be exported.",
                                                "A picture could not be rendered.", {}));
                return false;
            }
        }
        // Decoded picture types must not force the encoder's choices.
        out.frame->pict_type = AV_PICTURE_TYPE_NONE;
        out.frame->key_frame = 0;
        Stopwatch waiting(timings.rendererWait);
        return rendered.push(std::move(out));
    };
    auto take = [&](DecodedPicture& pic) {
        Stopwatch waiting(timings.rendererStarved);
        return pictures.pop(pic);
    };

    DecodedPicture cur, next;
    bool haveNext = take(cur);
    if (!haveNext) {
        if (!s.stopping())
            s.fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.",
                              "None of its pictures could be decoded.", kReadSuggestion));
        return;
    }
    haveNext = take(next);
    const double total = movieDuration.isValid() && movieDuration.seconds() > 0 ? movieDuration.seconds() : 0;

    if (s.composition) {
        const VideoComposition& c = *s.composition;
        const Time fd = c.frameDuration;
        // Frames 0 .. ceil(D / fd) - 1, in exact integer arithmetic.
        const __int128 num = static_cast<__int128>(movieDuration.value) * fd.timescale;
        const __int128 den = static_cast<__int128>(movieDuration.timescale) * fd.value;
        const int64_t count = static_cast<int64_t>((num + den - 1) / den);
        const AffineTransform fit =
            AffineTransform::makeScale(static_cast<float>(outW) / static_cast<float>(compositionSize.width),
                                       static_cast<float>(outH) / static_cast<float>(compositionSize.height));
        for (int64_t k = 0; k < count; ++k) {
            if (s.stopping()) return;
            const Time t(k * fd.value, fd.timescale);
            // The picture on screen at t: the latest one that starts at or before t (the first
            // one before it starts).
            while (haveNext && next.time <= t) {
                cur = std::move(next);
                haveNext = take(next);
            }
            AffineTransform m = c.transformAt(t);
            if (!m.isFinite() || m.determinant() == 0) m = AffineTransform::identity();
            if (!render(cur, m.concat(fit), k, 1)) return;
            s.setProgress(static_cast<double>(k + 1) / static_cast<double>(count));
        }
    } else {
        const AffineTransform fit =
            AffineTransform::makeScale(static_cast<float>(outW) / static_cast<float>(sourceSize.width),
                                       static_cast<float>(outH) / static_cast<float>(sourceSize.height));
        int64_t lastPts = INT64_MIN;
        AVStream* st = in->streams[videoIndex];
        for (;;) {
            if (s.stopping()) return;
            if (cur.pts > lastPts) {
                int64_t duration = cur.duration;
                if (haveNext) duration = next.pts - cur.pts;
                if (duration <= 0) duration = cur.duration > 0 ? cur.duration : 1;
                if (!render(cur, fit, cur.pts, duration)) return;
                lastPts = cur.pts;
                if (total > 0) s.setProgress((cur.time + timeFromAv(duration, st->time_base)).seconds() / total);
            }
            if (!haveNext) break;
            cur = std::move(next);
            haveNext = take(next);
        }
    }
    if (s.stopping()) return;
    // Pictures past the end are not shown, but the reader must get rid of them to go on
    // copying the sound that follows.
    while (haveNext) haveNext = take(next);
}

void ExportSession::Impl::runTranscode() {
    Transcoder t(*this);
    if (!t.setUp()) return;
    if (t.videoIndex >= 0) {
        std::thread renderThread([&t] {
            t.renderPictures();
            t.rendered.close();
            // Unblocks the reader if rendering stopped early.
            t.pictures.shutdown();
        });
        std::thread encodeThread([&t] {
            t.encodePictures();
            // Unblocks the renderer if encoding stopped early.
            t.rendered.shutdown();
        });
        t.readAndDecode();
        renderThread.join();
        encodeThread.join();
    } else {
        t.readAndDecode();
    }
    timings = t.timings;
    timings.decode -= timings.decoderWait;
    if (stopping()) return;
    if (t.written == 0) {
        // Tracks listed but no sample readable (a damaged index): not a movie worth the name.
        fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.",
                        "Not one of its samples could be read.", kReadSuggestion));
        return;
    }
    finishWriting(*this, t.out.get());
}

}  // namespace media
