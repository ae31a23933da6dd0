#include "media/ExportSession.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "media/MediaInternal.h"
#include "media/OutputFile.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace media {

using internal::timeFromAv;

// ---------------------------------------------------------------------------------------------
// Presets

namespace {

struct Box {
    int longSide, shortSide;
};

bool presetBox(const std::string& preset, Box& box) {
    if (preset == kExportPreset960x540) box = {960, 540};
    else if (preset == kExportPreset640x480) box = {640, 480};
    else if (preset == kExportPresetMediumQuality) box = {480, 360};
    else return false;
    return true;
}

bool isKnownPreset(const std::string& p) {
    Box b;
    return p == kExportPresetHighestQuality || p == kExportPresetPassthrough || presetBox(p, b);
}

int evenAtLeastTwo(double v) { return std::max(2, 2 * static_cast<int>(std::lround(v / 2))); }

}  // namespace

Size exportOutputSize(const std::string& preset, Size source) {
    if (!(source.width >= 1 && source.height >= 1) || !std::isfinite(source.width) || !std::isfinite(source.height))
        return {};
    if (!isKnownPreset(preset)) return {};
    double scale = 1;
    Box box;
    if (presetBox(preset, box)) {
        // The box turns with the picture: a portrait picture fits a portrait box.
        const bool portrait = source.height > source.width;
        const double bw = portrait ? box.shortSide : box.longSide, bh = portrait ? box.longSide : box.shortSide;
        scale = std::min({1.0, bw / source.width, bh / source.height});
    }
    return {static_cast<float>(evenAtLeastTwo(source.width * scale)),
            static_cast<float>(evenAtLeastTwo(source.height * scale))};
}

std::vector<std::string> ExportSession::allExportPresets() {
    return {kExportPresetHighestQuality, kExportPreset960x540, kExportPreset640x480, kExportPresetMediumQuality,
            kExportPresetPassthrough};
}

std::vector<std::string> ExportSession::exportPresetsCompatibleWithAsset(const Asset& asset) {
    std::vector<std::string> out{kExportPresetHighestQuality};
    auto video = asset.tracksWithMediaType(MediaType::Video);
    if (!video.empty()) {
        const Size s = video.front().naturalSize;
        const double longSide = std::max(s.width, s.height), shortSide = std::min(s.width, s.height);
        for (const char* p : {kExportPreset960x540, kExportPreset640x480}) {
            Box b;
            presetBox(p, b);
            if (longSide >= b.longSide && shortSide >= b.shortSide) out.push_back(p);
        }
    }
    out.push_back(kExportPresetMediumQuality);
    out.push_back(kExportPresetPassthrough);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Shared state

struct ExportSession::Impl {
    std::shared_ptr<const Asset> asset;
    std::string preset;
    std::string outputPath;
    mutable std::mutex outputPathMutex;  // the path changes when a taken name makes way for another
    std::function<std::string()> nextOutputPath;
    std::unique_ptr<OutputFile> output;  // the hidden temporary until the movie is complete
    std::string fileType = kFileTypeQuickTimeMovie;
    std::optional<VideoComposition> composition;
    std::optional<AffineTransform> passthroughTransform;

    std::atomic<int> status{static_cast<int>(Status::Unknown)};
    std::atomic<float> progress{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> failed{false};
    mutable std::mutex errorMutex;
    Error error;

    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool started = false;
    bool done = false;
    std::thread::id workerId;

    bool stopping() const { return cancelled.load() || failed.load(); }
    // The first error wins: later ones are usually consequences of it.
    void fail(const Error& e) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!failed.exchange(true)) error = e;
    }
    void failAv(int r, const std::string& what, const std::string& suggestion = {}) {
        fail(errorFromAv(r, what, suggestion));
    }
    void setProgress(double p) {
        float v = static_cast<float>(std::clamp(p, 0.0, 1.0));
        float cur = progress.load();
        while (v > cur && !progress.compare_exchange_weak(cur, v)) {
        }
    }

    void run();
    void runPassthrough();
    void runTranscode();
};

namespace {

const char* kWriteSuggestion = "Check that the destination folder exists and the disk has free space.";
const char* kReadSuggestion = "The movie may be damaged. Try another movie.";

Error plainError(int code, std::string description, std::string reason, std::string suggestion) {
    return Error{code, std::move(description), std::move(reason), std::move(suggestion)};
}

// Checked writes: a short write (full disk, file size limit) must never pass as a finished movie.
int writePacket(AVFormatContext* out, AVPacket* pkt) {
    int r = av_interleaved_write_frame(out, pkt);
    if (r >= 0 && out->pb && out->pb->error < 0) r = out->pb->error;
    return r;
}

// A bounded queue between two threads: keeps memory flat whatever the relative speeds.
template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(capacity) {}
    // False when the queue was shut down.
    bool push(T item) {
        std::unique_lock<std::mutex> lock(m_);
        notFull_.wait(lock, [&] { return q_.size() < capacity_ || shutdown_; });
        if (shutdown_) return false;
        q_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }
    // False at the end (closed and drained) or on shutdown.
    bool pop(T& item) {
        std::unique_lock<std::mutex> lock(m_);
        notEmpty_.wait(lock, [&] { return !q_.empty() || closed_ || shutdown_; });
        if (shutdown_ || q_.empty()) return false;
        item = std::move(q_.front());
        q_.pop_front();
        notFull_.notify_one();
        return true;
    }
    void close() {
        std::lock_guard<std::mutex> lock(m_);
        closed_ = true;
        notEmpty_.notify_all();
    }
    void shutdown() {
        std::lock_guard<std::mutex> lock(m_);
        shutdown_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    size_t capacity_;
    std::mutex m_;
    std::condition_variable notEmpty_, notFull_;
    std::deque<T> q_;
    bool closed_ = false, shutdown_ = false;
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

ExportSession::ExportSession(std::shared_ptr<const Asset> asset, std::string presetName)
    : impl_(std::make_shared<Impl>()) {
    impl_->asset = std::move(asset);
    impl_->preset = std::move(presetName);
}

ExportSession::~ExportSession() {
    cancelExport();
    std::unique_lock<std::mutex> lock(impl_->doneMutex);
    // The completion may drop the last reference from the export thread itself; waiting there
    // would wait for ourselves.
    if (impl_->started && impl_->workerId != std::this_thread::get_id())
        impl_->doneCv.wait(lock, [&] { return impl_->done; });
}

const std::string& ExportSession::presetName() const { return impl_->preset; }
std::shared_ptr<const Asset> ExportSession::asset() const { return impl_->asset; }
void ExportSession::setOutputPath(std::string path) {
    std::lock_guard<std::mutex> lock(impl_->outputPathMutex);
    impl_->outputPath = std::move(path);
}
std::string ExportSession::outputPath() const {
    std::lock_guard<std::mutex> lock(impl_->outputPathMutex);
    return impl_->outputPath;
}
void ExportSession::setOutputPathChooser(std::function<std::string()> next) { impl_->nextOutputPath = std::move(next); }
void ExportSession::setOutputFileType(std::string t) { impl_->fileType = std::move(t); }
const std::string& ExportSession::outputFileType() const { return impl_->fileType; }
void ExportSession::setVideoComposition(std::optional<VideoComposition> c) { impl_->composition = std::move(c); }
const std::optional<VideoComposition>& ExportSession::videoComposition() const { return impl_->composition; }
void ExportSession::setVideoTrackPreferredTransform(AffineTransform t) { impl_->passthroughTransform = t; }

ExportSession::Status ExportSession::status() const { return static_cast<Status>(impl_->status.load()); }
float ExportSession::progress() const { return impl_->progress.load(); }
Error ExportSession::error() const {
    std::lock_guard<std::mutex> lock(impl_->errorMutex);
    return status() == Status::Failed ? impl_->error : Error{};
}
void ExportSession::cancelExport() { impl_->cancelled = true; }

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
    } else if (!isKnownPreset(preset)) {
        fail(plainError(AVERROR(EINVAL), "The export could not be started.", "Unknown export preset \"" + preset + "\".", {}));
    } else if (fileType != kFileTypeQuickTimeMovie) {
        fail(plainError(AVERROR(EINVAL), "The export could not be started.",
                        "The file type \"" + fileType + "\" cannot be written.", "Export as a QuickTime movie."));
    } else if (outputPath.empty()) {
        fail(plainError(AVERROR(EINVAL), "The export could not be started.", "No output file was given.", {}));
    } else if (!nextOutputPath && (fs::exists(outputPath, ec) || fs::is_symlink(outputPath, ec))) {
        // Never overwrite: the output could be the source itself or another user's movie.
        fail(plainError(AVERROR(EEXIST), "The export could not be started.",
                        "A file already exists at " + outputPath + ".", "Remove the file or choose another name."));
    } else if (!cancelled) {
        if (preset == kExportPresetPassthrough) runPassthrough();
        else runTranscode();
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
// Passthrough

namespace {

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
        s.fail(Error{AVERROR(e.code), "The exported movie could not be finished.", e.failureReason, e.recoverySuggestion});
        return false;
    }
    std::lock_guard<std::mutex> lock(s.outputPathMutex);
    s.outputPath = s.output->finalPath();
    return true;
}

// Keeps the source's codec tag when the mov muxer knows it for that codec ("hvc1" stays
// "hvc1"); otherwise lets the muxer choose.
void chooseCodecTag(const AVFormatContext* out, AVCodecParameters* par) {
    if (par->codec_tag && av_codec_get_id(out->oformat->codec_tag, par->codec_tag) != par->codec_id)
        par->codec_tag = 0;
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

}  // namespace

void ExportSession::Impl::runPassthrough() {
    av::InputContext in;
    if (Error e = internal::openInput(asset->path(), in)) {
        fail(e);
        return;
    }
    av::OutputContext out;
    if (!openOutput(*this, outputPath, out)) return;
    std::vector<int> map(in->nb_streams, -1);
    std::vector<int> used;
    bool firstVideo = true;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* ist = in->streams[i];
        const auto type = ist->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) || ist->codecpar->codec_id == AV_CODEC_ID_NONE ||
            (ist->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        AVStream* ost = avformat_new_stream(out.get(), nullptr);
        if (!ost || avcodec_parameters_copy(ost->codecpar, ist->codecpar) < 0) {
            failAv(AVERROR(ENOMEM), "The movie could not be exported.");
            return;
        }
        chooseCodecTag(out.get(), ost->codecpar);
        ost->time_base = ist->time_base;
        ost->disposition = ist->disposition;
        if (AVDictionaryEntry* lang = av_dict_get(ist->metadata, "language", nullptr, 0))
            av_dict_set(&ost->metadata, "language", lang->value, 0);
        if (type == AVMEDIA_TYPE_VIDEO) {
            size_t n = 0;
            const uint8_t* sd = av_stream_get_side_data(ist, AV_PKT_DATA_DISPLAYMATRIX, &n);
            bool ok = true;
            if (firstVideo && passthroughTransform) ok = internal::setStreamDisplayMatrix(ost, *passthroughTransform);
            else if (sd && n >= 36) {
                uint8_t* copy = av_stream_new_side_data(ost, AV_PKT_DATA_DISPLAYMATRIX, n);
                if (copy) memcpy(copy, sd, n);
                ok = copy != nullptr;
            }
            if (!ok) {
                failAv(AVERROR(ENOMEM), "The movie could not be exported.");
                return;
            }
            firstVideo = false;
        }
        map[i] = ost->index;
        used.push_back(static_cast<int>(i));
    }
    if (used.empty()) {
        fail(plainError(AVERROR_STREAM_NOT_FOUND, "The movie could not be exported.",
                        "The movie has no sound or picture that can be copied.", kReadSuggestion));
        return;
    }
    if (!checkNotTruncated(*this, in.get(), used)) return;
    if (!startWriting(*this, out.get(), outputPath)) return;

    const double total = asset->duration().isValid() && asset->duration().seconds() > 0 ? asset->duration().seconds() : 0;
    av::Packet pkt = av::makePacket();
    int64_t copied = 0;
    for (;;) {
        if (stopping()) return;
        int r = av_read_frame(in.get(), pkt.get());
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            failAv(r, "The movie could not be read.", kReadSuggestion);
            return;
        }
        const int idx = pkt->stream_index;
        if (idx < 0 || idx >= static_cast<int>(map.size()) || map[idx] < 0) {
            av_packet_unref(pkt.get());
            continue;
        }
        AVStream* ist = in->streams[idx];
        AVStream* ost = out->streams[map[idx]];
        if (total > 0 && pkt->pts != AV_NOPTS_VALUE) setProgress(pkt->pts * av_q2d(ist->time_base) / total);
        av_packet_rescale_ts(pkt.get(), ist->time_base, ost->time_base);
        pkt->stream_index = ost->index;
        pkt->pos = -1;
        r = writePacket(out.get(), pkt.get());
        av_packet_unref(pkt.get());
        if (r < 0) {
            failWrite(*this, out.get(), r);
            return;
        }
        ++copied;
    }
    if (stopping()) return;
    if (copied == 0) {
        // A damaged index can list tracks whose samples are not there: the copy would be a
        // movie without a single track.
        fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.",
                        "Not one of its samples could be read.", kReadSuggestion));
        return;
    }
    finishWriting(*this, out.get());
}

// ---------------------------------------------------------------------------------------------
// Re-encoding

namespace {

// One audio track of the output: copied when it is AAC, otherwise decoded and encoded to AAC.
struct AudioLane {
    int inputIndex = -1;
    AVStream* out = nullptr;
    bool copy = true;
    av::CodecContext decoder;
    av::CodecContext encoder;
    av::Swr resampler;
    AVAudioFifo* fifo = nullptr;
    int64_t nextPts = AV_NOPTS_VALUE;  // in encoder samples
    ~AudioLane() {
        if (fifo) av_audio_fifo_free(fifo);
    }
};

}  // namespace

struct Transcoder {
    ExportSession::Impl& s;
    av::InputContext in;
    av::OutputContext out;
    std::mutex muxMutex;

    // Video
    int videoIndex = -1;
    int videoTrackID = 0;
    av::CodecContext decoder;
    av::CodecContext encoder;
    AVStream* videoOut = nullptr;
    av::Sws converter;
    int converterW = 0, converterH = 0, converterFmt = -1;
    int outW = 0, outH = 0;
    Size sourceSize;     // the decoded picture's size
    Size compositionSize;
    bool renderNeeded = false;
    std::map<int64_t, int64_t> durations;  // output pts -> duration, for the muxer's last sample

    std::vector<std::unique_ptr<AudioLane>> audio;
    BoundedQueue<DecodedPicture> pictures{4};
    Time movieDuration;

    explicit Transcoder(ExportSession::Impl& session) : s(session) {}

    bool write(AVPacket* pkt) {
        std::lock_guard<std::mutex> lock(muxMutex);
        int r = writePacket(out.get(), pkt);
        if (r < 0) failWrite(s, out.get(), r);
        else ++written;
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
    void renderAndEncode();
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
    videoTrackID = st->id > 0 ? st->id : videoIndex + 1;
    const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!dec) {
        s.fail(plainError(AVERROR_DECODER_NOT_FOUND, "The movie could not be exported.",
                          "Its pictures are stored as " + codecName(st->codecpar) + ", which cannot be decoded here.",
                          "Convert the movie to H.264 first."));
        return false;
    }
    decoder.reset(avcodec_alloc_context3(dec));
    avcodec_parameters_to_context(decoder.get(), st->codecpar);
    decoder->pkt_timebase = st->time_base;
    // Two decoding threads keep up with the encoder; each further one holds more pictures.
    decoder->thread_count = 2;
    int r = avcodec_open2(decoder.get(), dec, nullptr);
    if (r < 0) {
        s.failAv(r, "The movie's pictures could not be decoded.", kReadSuggestion);
        return false;
    }
    sourceSize = {static_cast<float>(st->codecpar->width), static_cast<float>(st->codecpar->height)};
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
    outW = static_cast<int>(os.width);
    outH = static_cast<int>(os.height);
    renderNeeded = s.composition.has_value() || outW != static_cast<int>(sourceSize.width) ||
                   outH != static_cast<int>(sourceSize.height);

    const AVCodec* enc = avcodec_find_encoder_by_name(EncoderSettings::videoCodec);
    if (!enc) {
        s.fail(plainError(AVERROR_ENCODER_NOT_FOUND, "The movie could not be exported.", "H.264 encoding is not available.",
                          "Install FFmpeg with libx264."));
        return false;
    }
    encoder.reset(avcodec_alloc_context3(enc));
    AVCodecContext* e = encoder.get();
    e->width = outW;
    e->height = outH;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    if (s.composition) {
        const Time fd = s.composition->frameDuration;
        e->time_base = AVRational{static_cast<int>(fd.value), fd.timescale};
        e->framerate = AVRational{fd.timescale, static_cast<int>(fd.value)};
    } else {
        e->time_base = st->time_base;
        AVRational fr = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        e->framerate = fr.num > 0 && fr.den > 0 ? fr : AVRational{30, 1};
    }
    e->sample_aspect_ratio = st->codecpar->sample_aspect_ratio;
    e->color_range = AVCOL_RANGE_MPEG;
    e->color_primaries = st->codecpar->color_primaries;
    e->color_trc = st->codecpar->color_trc;
    e->colorspace = st->codecpar->color_space;
    e->thread_count = 0;
    if (out->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(e->priv_data, "preset", EncoderSettings::x264Preset, 0);
    av_opt_set_int(e->priv_data, "crf", EncoderSettings::crf, 0);
    av_opt_set(e->priv_data, "profile", EncoderSettings::profile, 0);
    av_opt_set(e->priv_data, "x264-params", EncoderSettings::x264Params, 0);
    r = avcodec_open2(e, enc, nullptr);
    if (r < 0) {
        s.failAv(r, "The H.264 encoder could not be started.");
        return false;
    }
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
            t->tx *= outW / sourceSize.width;
            t->ty *= outH / sourceSize.height;
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
        const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!enc) {
            s.fail(plainError(AVERROR_ENCODER_NOT_FOUND, "The movie could not be exported.",
                              "AAC encoding is not available.", {}));
            return false;
        }
        lane->encoder.reset(avcodec_alloc_context3(enc));
        AVCodecContext* e = lane->encoder.get();
        e->sample_fmt = AV_SAMPLE_FMT_FLTP;
        int rate = lane->decoder->sample_rate > 0 ? lane->decoder->sample_rate : 44100;
        // The AAC encoder takes the standard rates only; the nearest one at or above the source.
        static const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};
        int chosen = 96000;
        for (int r : rates)
            if (r >= rate) {
                chosen = r;
                break;
            }
        e->sample_rate = chosen;
        int channels = std::clamp(lane->decoder->ch_layout.nb_channels, 1, 6);
        if (lane->decoder->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && lane->decoder->ch_layout.nb_channels <= 6)
            av_channel_layout_copy(&e->ch_layout, &lane->decoder->ch_layout);
        else
            av_channel_layout_default(&e->ch_layout, channels);
        e->bit_rate = EncoderSettings::audioBitRate;
        e->time_base = AVRational{1, e->sample_rate};
        if (out->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(e, enc, nullptr);
        if (r < 0) {
            av_channel_layout_uninit(&e->ch_layout);
            av_channel_layout_default(&e->ch_layout, channels);
            r = avcodec_open2(e, enc, nullptr);
        }
        if (r < 0) {
            s.failAv(r, "The sound could not be converted to AAC.");
            return false;
        }
        SwrContext* swr = nullptr;
        AVChannelLayout inLayout;
        if (lane->decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || lane->decoder->ch_layout.nb_channels == 0)
            av_channel_layout_default(&inLayout, std::max(1, lane->decoder->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&inLayout, &lane->decoder->ch_layout);
        r = swr_alloc_set_opts2(&swr, &e->ch_layout, e->sample_fmt, e->sample_rate, &inLayout,
                                lane->decoder->sample_fmt, rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        if (r < 0 || (r = swr_init(swr)) < 0) {
            swr_free(&swr);
            s.failAv(r, "The sound could not be converted to AAC.");
            return false;
        }
        lane->resampler.reset(swr);
        lane->fifo = av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, e->frame_size * 4);
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
    while (av_audio_fifo_size(lane.fifo) >= e->frame_size || (flush && av_audio_fifo_size(lane.fifo) > 0)) {
        av::Frame f = av::makeFrame();
        f->nb_samples = std::min(av_audio_fifo_size(lane.fifo), e->frame_size);
        f->format = e->sample_fmt;
        f->sample_rate = e->sample_rate;
        av_channel_layout_copy(&f->ch_layout, &e->ch_layout);
        if (av_frame_get_buffer(f.get(), 0) < 0 ||
            av_audio_fifo_read(lane.fifo, reinterpret_cast<void**>(f->data), f->nb_samples) < f->nb_samples) {
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
        const int outSamples = swr_get_out_samples(lane.resampler.get(), frame->nb_samples);
        std::vector<uint8_t*> planes(static_cast<size_t>(e->ch_layout.nb_channels), nullptr);
        uint8_t** data = nullptr;
        if (av_samples_alloc_array_and_samples(&data, nullptr, e->ch_layout.nb_channels, std::max(1, outSamples),
                                               e->sample_fmt, 0) < 0) {
            s.failAv(AVERROR(ENOMEM), "The sound could not be converted to AAC.");
            return false;
        }
        const int got = swr_convert(lane.resampler.get(), data, outSamples,
                                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (got > 0) av_audio_fifo_write(lane.fifo, reinterpret_cast<void**>(data), got);
        av_freep(&data[0]);
        av_freep(&data);
        av_frame_unref(frame.get());
        if (!encodeAudio(lane, false)) return false;
    }
    if (!pkt) {
        // The resampler's tail, then everything the encoder still holds.
        if (lane.nextPts == AV_NOPTS_VALUE) lane.nextPts = 0;
        uint8_t** data = nullptr;
        const int tail = swr_get_out_samples(lane.resampler.get(), 0);
        if (tail > 0 && av_samples_alloc_array_and_samples(&data, nullptr, e->ch_layout.nb_channels, tail,
                                                           e->sample_fmt, 0) >= 0) {
            const int got = swr_convert(lane.resampler.get(), data, tail, nullptr, 0);
            if (got > 0) av_audio_fifo_write(lane.fifo, reinterpret_cast<void**>(data), got);
            av_freep(&data[0]);
            av_freep(&data);
        }
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
    if (frame->format == AV_PIX_FMT_YUV420P && frame->color_range != AVCOL_RANGE_JPEG &&
        frame->width == static_cast<int>(sourceSize.width) && frame->height == static_cast<int>(sourceSize.height)) {
        pic.frame.reset(av_frame_clone(frame));
    } else {
        // Other pixel formats (10-bit, 4:2:2, full-range JPEG) become 8-bit limited-range 4:2:0
        // once here, so the renderer and the encoder see one format. A picture whose size
        // changed mid-stream is brought back to the first size.
        if (!converter || converterW != frame->width || converterH != frame->height || converterFmt != frame->format) {
            converter.reset(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                           static_cast<int>(sourceSize.width), static_cast<int>(sourceSize.height),
                                           AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                           nullptr, nullptr, nullptr));
            converterW = frame->width;
            converterH = frame->height;
            converterFmt = frame->format;
            if (!converter) {
                s.fail(plainError(AVERROR(EINVAL), "The movie could not be exported.",
                                  std::string("Its pictures (") +
                                      (av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format)) ?: "?") +
                                      ") cannot be converted.",
                                  kReadSuggestion));
                return false;
            }
            const int* coeffs = sws_getCoefficients(frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT
                                                                                              : frame->colorspace);
            const bool fullIn = frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P ||
                                frame->format == AV_PIX_FMT_YUVJ422P || frame->format == AV_PIX_FMT_YUVJ444P;
            sws_setColorspaceDetails(converter.get(), coeffs, fullIn ? 1 : 0, coeffs, 0, 0, 1 << 16, 1 << 16);
        }
        pic.frame = av::makeFrame();
        pic.frame->format = AV_PIX_FMT_YUV420P;
        pic.frame->width = static_cast<int>(sourceSize.width);
        pic.frame->height = static_cast<int>(sourceSize.height);
        if (av_frame_get_buffer(pic.frame.get(), 0) < 0) {
            s.failAv(AVERROR(ENOMEM), "Out of memory.");
            return false;
        }
        sws_scale(converter.get(), frame->data, frame->linesize, 0, frame->height, pic.frame->data,
                  pic.frame->linesize);
        av_frame_copy_props(pic.frame.get(), frame);
        pic.frame->color_range = AVCOL_RANGE_MPEG;
    }
    return pictures.push(std::move(pic));
}

bool Transcoder::decodeVideo(AVPacket* pkt) {
    int r = avcodec_send_packet(decoder.get(), pkt);
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
        r = avcodec_receive_frame(decoder.get(), frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return true;
        const bool ok = pushPicture(frame.get());
        av_frame_unref(frame.get());
        if (!ok) return false;
    }
}

void Transcoder::readAndDecode() {
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
        if (videoIndex < 0 && total > 0 && pkt->pts != AV_NOPTS_VALUE && idx >= 0 && idx < static_cast<int>(in->nb_streams))
            s.setProgress(pkt->pts * av_q2d(in->streams[idx]->time_base) / total);
        if (idx == videoIndex) ok = decodeVideo(pkt.get());
        else if (idx >= 0 && idx < static_cast<int>(laneOf.size()) && laneOf[idx]) ok = handleAudio(*laneOf[idx], pkt.get());
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

void Transcoder::renderAndEncode() {
    const ResampleFilter filter = s.composition ? s.composition->filter() : ResampleFilter::Bilinear;
    FrameRenderer renderer(filter, outW, outH);
    av::Frame output = av::makeFrame();
    output->format = AV_PIX_FMT_YUV420P;
    output->width = outW;
    output->height = outH;
    if (av_frame_get_buffer(output.get(), 0) < 0) {
        s.failAv(AVERROR(ENOMEM), "Out of memory.");
        return;
    }
    output->sample_aspect_ratio = encoder->sample_aspect_ratio;
    auto render = [&](const DecodedPicture& pic, const AffineTransform& t, int64_t pts, int64_t duration) -> bool {
        AVFrame* toEncode = nullptr;
        av::Frame passthrough;
        if (!renderNeeded) {
            passthrough.reset(av_frame_clone(pic.frame.get()));
            if (!passthrough) {
                s.failAv(AVERROR(ENOMEM), "Out of memory.");
                return false;
            }
            toEncode = passthrough.get();
        } else {
            if (av_frame_make_writable(output.get()) < 0) {
                s.failAv(AVERROR(ENOMEM), "Out of memory.");
                return false;
            }
            Error e;
            if (!renderer.render(*pic.frame, t, *output, &e)) {
                s.fail(e.isError() ? e
                                   : plainError(AVERROR(EINVAL), "The movie could not be exported.",
                                                "A picture could not be rendered.", {}));
                return false;
            }
            toEncode = output.get();
        }
        toEncode->pts = pts;
        // Decoded picture types must not force the encoder's choices.
        toEncode->pict_type = AV_PICTURE_TYPE_NONE;
        toEncode->key_frame = 0;
        durations[pts] = duration;
        return encode(toEncode);
    };

    DecodedPicture cur, next;
    bool haveNext = pictures.pop(cur);
    if (!haveNext) {
        if (!s.stopping())
            s.fail(plainError(AVERROR_INVALIDDATA, "The movie could not be exported.",
                              "None of its pictures could be decoded.", kReadSuggestion));
        return;
    }
    haveNext = pictures.pop(next);
    const double total = movieDuration.isValid() && movieDuration.seconds() > 0 ? movieDuration.seconds() : 0;

    if (s.composition) {
        const VideoComposition& c = *s.composition;
        const Time fd = c.frameDuration;
        // Frames 0 .. ceil(D / fd) - 1, in exact integer arithmetic.
        const __int128 num = static_cast<__int128>(movieDuration.value) * fd.timescale;
        const __int128 den = static_cast<__int128>(movieDuration.timescale) * fd.value;
        const int64_t count = static_cast<int64_t>((num + den - 1) / den);
        const AffineTransform fit = AffineTransform::makeScale(outW / compositionSize.width, outH / compositionSize.height);
        for (int64_t k = 0; k < count; ++k) {
            if (s.stopping()) return;
            const Time t(k * fd.value, fd.timescale);
            // The picture on screen at t: the latest one that starts at or before t (the first
            // one before it starts).
            while (haveNext && next.time <= t) {
                cur = std::move(next);
                haveNext = pictures.pop(next);
            }
            AffineTransform m = c.transformAt(t, videoTrackID);
            if (!m.isFinite() || m.determinant() == 0) m = AffineTransform::identity();
            if (!render(cur, m.concat(fit), k, 1)) return;
            s.setProgress(static_cast<double>(k + 1) / static_cast<double>(count));
        }
    } else {
        const AffineTransform fit = AffineTransform::makeScale(outW / sourceSize.width, outH / sourceSize.height);
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
            haveNext = pictures.pop(next);
        }
    }
    if (s.stopping()) return;
    // Pictures past the end are not shown, but the reader must get rid of them to go on
    // copying the sound that follows.
    while (haveNext) haveNext = pictures.pop(next);
    encode(nullptr);
}

void ExportSession::Impl::runTranscode() {
    Transcoder t(*this);
    if (!t.setUp()) return;
    if (t.videoIndex >= 0) {
        std::thread renderThread([&t] {
            t.renderAndEncode();
            // Unblocks the reader if rendering stopped early.
            t.pictures.shutdown();
        });
        t.readAndDecode();
        renderThread.join();
    } else {
        t.readAndDecode();
    }
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
