#include "media/capture/MovieRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "media/AacEncoder.h"
#include "media/AudioFifo.h"
#include "media/FFmpeg.h"
#include "media/H264Encoder.h"
#include "media/OutputFile.h"

namespace media {

namespace {

constexpr AVRational kVideoTimeBase{1, 90000};

Error errnoError(int e, const std::string& what) {
    std::string suggestion;
    if (e == ENOSPC || e == EDQUOT)
        suggestion = "Free some space on the disk.";
    else if (e == EFBIG)
        suggestion = "The file reached the largest size allowed; record shorter movies.";
    return Error{e, what, std::strerror(e), suggestion};
}

// Output through our own file descriptor: every failed write is seen with its errno at once, the
// file can be synced after each fragment and cut back to the last whole one.
struct FdSink {
    int fd = -1;
    int64_t pos = 0;
    int64_t end = 0;  // file length written so far
    int error = 0;
    bool created = false;
    AVIOContext* pb = nullptr;

    bool open(const std::string& path, Error* err) {
        // Never over an existing file: whatever is there (an earlier movie) must survive.
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            int e = errno;
            if (err)
                *err = errnoError(e, e == EEXIST ? "A file already exists at " + path + "."
                                                 : "Cannot create the movie file " + path + ".");
            return false;
        }
        created = true;
        const int size = 1 << 16;
        auto* buf = static_cast<unsigned char*>(av_malloc(size));
        pb = avio_alloc_context(buf, size, 1, this, nullptr, &FdSink::write, &FdSink::seek);
        if (!pb) {
            av_free(buf);
            if (err) *err = Error{ENOMEM, "Out of memory.", "", ""};
            return false;
        }
        return true;
    }

    static int write(void* opaque, uint8_t* data, int n) {
        auto* s = static_cast<FdSink*>(opaque);
        if (s->error) return AVERROR(s->error);
        int left = n;
        while (left > 0) {
            ssize_t w = ::pwrite(s->fd, data, size_t(left), s->pos);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                s->error = w < 0 ? errno : ENOSPC;
                return AVERROR(s->error);
            }
            data += w;
            left -= int(w);
            s->pos += w;
            s->end = std::max(s->end, s->pos);
        }
        return n;
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto* s = static_cast<FdSink*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return s->end;
        case SEEK_SET: s->pos = offset; break;
        case SEEK_CUR: s->pos += offset; break;
        case SEEK_END: s->pos = s->end + offset; break;
        default: return AVERROR(EINVAL);
        }
        return s->pos;
    }

    // Closes; false (with errno in `error`) when the data could not be made durable.
    bool close() {
        bool ok = error == 0;
        if (pb) {
            avio_flush(pb);
            ok = ok && error == 0;
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
        if (fd >= 0) {
            if (::fdatasync(fd) != 0 && ok) {
                error = errno;
                ok = false;
            }
            ::close(fd);
            fd = -1;
        }
        return ok;
    }
    ~FdSink() { close(); }
};

void syncDirectoryOf(const std::string& path) {
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Copies a (fragmented) movie's samples into an ordinary QuickTime movie, written to `dst`.
Error rewriteUnfragmented(const std::string& src, OutputFile& dst) {
    AVFormatContext* ic = nullptr;
    int r = avformat_open_input(&ic, src.c_str(), nullptr, nullptr);
    if (r < 0) return errorFromAv(r, "Cannot read the recording back.");
    av::InputContext in(ic);
    if ((r = avformat_find_stream_info(ic, nullptr)) < 0) return errorFromAv(r, "Cannot read the recording back.");

    AVFormatContext* oc = nullptr;
    avformat_alloc_output_context2(&oc, nullptr, "mov", dst.finalPath().c_str());
    if (!oc) return Error{ENOMEM, "Cannot make the movie file.", "", ""};
    av::OutputContext out(oc);
    oc->pb = dst.avio();
    if (!oc->pb) return Error{ENOMEM, "Cannot make the movie file.", "", ""};
    oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    std::vector<int> map(ic->nb_streams, -1);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* is = ic->streams[i];
        if (is->codecpar->codec_type != AVMEDIA_TYPE_VIDEO && is->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        AVStream* os = avformat_new_stream(oc, nullptr);
        avcodec_parameters_copy(os->codecpar, is->codecpar);
        os->codecpar->codec_tag = 0;
        os->time_base = is->time_base;
        for (int k = 0; k < is->nb_side_data; ++k) {
            const AVPacketSideData& sd = is->side_data[k];
            uint8_t* d = av_stream_new_side_data(os, sd.type, sd.size);
            if (d) std::memcpy(d, sd.data, sd.size);
        }
        map[i] = os->index;
    }
    // The temporary goes with `dst` when the caller drops it.
    auto ioError = [&] { return oc->pb && oc->pb->error < 0 ? oc->pb->error : 0; };
    auto fail = [&](int code, const std::string& what) {
        Error e = errorFromAv(ioError() ? ioError() : code, what);
        oc->pb = nullptr;
        return e;
    };
    if ((r = avformat_write_header(oc, nullptr)) < 0 || ioError()) return fail(r, "Cannot write the finished movie.");
    av::Packet pkt = av::makePacket();
    while ((r = av_read_frame(ic, pkt.get())) >= 0) {
        int o = map[size_t(pkt->stream_index)];
        if (o < 0) {
            av_packet_unref(pkt.get());
            continue;
        }
        av_packet_rescale_ts(pkt.get(), ic->streams[pkt->stream_index]->time_base, oc->streams[o]->time_base);
        pkt->stream_index = o;
        pkt->pos = -1;
        if ((r = av_interleaved_write_frame(oc, pkt.get())) < 0 || ioError())
            return fail(r, "Cannot write the finished movie.");
    }
    if ((r = av_write_trailer(oc)) < 0 || ioError()) return fail(r, "Cannot write the finished movie.");
    oc->pb = nullptr;
    return {};
}

}  // namespace

struct MovieRecorder::Impl {
    RecorderSettings s;
    std::function<void()> started;
    std::function<void(const Error&)> finished;

    struct Item {
        bool isVideo;
        VideoSample v;
        AudioSample a;
        // Pictures the full queue turned away just before this one: already counted, so the gap
        // they leave in the sequence is not the source's.
        uint64_t turnedAwayBefore = 0;
    };
    // Threads: s and the callbacks are fixed at construction. The queue and the flags below it
    // are shared between the appending threads and the recorder's thread, under mutex; the
    // counters are atomics read anywhere; the rest belongs to the recorder's thread alone.
    mutable std::mutex mutex;
    std::condition_variable cond;
    std::deque<Item> queue;
    int queuedFrames = 0;
    bool stopRequested = false;
    std::optional<Error> failReason;
    bool done = false;
    uint64_t turnedAway = 0;  // pictures turned away since the last one queued
    std::thread thread;

    std::atomic<uint64_t> dropped{0}, written{0};
    std::atomic<double> seconds{0};
    std::atomic<int64_t> startNs{INT64_MIN};

    // Thread-side state.
    FdSink sink;
    av::OutputContext oc;
    av::CodecContext venc, aenc;
    AVStream* vst = nullptr;
    AVStream* ast = nullptr;
    av::Packet pkt;
    av::Sws sws;
    AudioFifo fifo;
    bool haveT0 = false;
    int64_t t0 = 0;
    int64_t lastVideoPts = -1;
    int64_t lastSequence = -1;
    int64_t audioQueued = 0;   // samples laid on the timeline (sound and filled gaps)
    int64_t audioEncoded = 0;  // samples given to the encoder
    int64_t primingToSkip = 0;
    bool audioLaid = false;
    std::deque<AudioSample> earlyAudio;
    Error writeError;
    int64_t lastGoodEnd = 0;
    int64_t headerEnd = 0;  // a file no longer than this holds no sample
    int64_t lastSyncNs = 0;
    uint64_t lastLoggedDrops = 0;

    Error open() {
        Error err;
        // Finishes cut short by a kill leave hidden temporaries; the next recording clears them.
        OutputFile::removeStaleTemporaries(std::filesystem::path(s.path).parent_path().string());
        AVFormatContext* c = nullptr;
        avformat_alloc_output_context2(&c, nullptr, "mov", s.path.c_str());
        if (!c) return Error{ENOMEM, "Cannot make the movie file.", "", ""};
        oc.reset(c);
        if (!sink.open(s.path, &err)) return err;
        c->pb = sink.pb;
        c->flags |= AVFMT_FLAG_CUSTOM_IO;
        c->flush_packets = 1;
        pkt = av::makePacket();
        int r;
        if (!s.videoSize.empty()) {
            H264Settings h264;
            h264.width = s.videoSize.width & ~1;
            h264.height = s.videoSize.height & ~1;
            h264.timeBase = kVideoTimeBase;
            const AVRational fr = av_d2q(s.frameRate > 0 ? s.frameRate : 30, 1001000);
            h264.frameRate = fr;
            // A key frame every second: each fragment then starts where a decoder can.
            h264.gopSize = std::max(1, int(std::lround(av_q2d(fr) * s.fragmentSeconds)));
            h264.maxBFrames = 0;
            h264.globalHeader = true;
            h264.preset = s.x264Preset;
            h264.tune = "zerolatency";
            h264.crf = s.crf;
            r = H264Encoder::open(h264, venc);
            if (r == AVERROR_ENCODER_NOT_FOUND)
                return Error{AVERROR_ENCODER_NOT_FOUND, "The H.264 encoder (libx264) is missing.", "", ""};
            if (r < 0) return errorFromAv(r, "Cannot start the H.264 encoder.");
            vst = avformat_new_stream(c, nullptr);
            avcodec_parameters_from_context(vst->codecpar, venc.get());
            vst->time_base = kVideoTimeBase;
            vst->avg_frame_rate = fr;
            if (s.displayMatrix && !s.displayMatrix->isIdentity()) {
                auto m = s.displayMatrix->toDisplayMatrix();
                uint8_t* d = av_stream_new_side_data(vst, AV_PKT_DATA_DISPLAYMATRIX, sizeof(int32_t) * 9);
                if (d) std::memcpy(d, m.data(), sizeof(int32_t) * 9);
            }
        }
        if (s.sampleRate > 0 && s.channels > 0) {
            const int channels = std::min(s.channels, 2);
            r = AacEncoder::open(
                {.sampleRate = s.sampleRate, .channels = channels, .bitRate = 64000 * channels, .globalHeader = true},
                aenc);
            if (r == AVERROR_ENCODER_NOT_FOUND)
                return Error{AVERROR_ENCODER_NOT_FOUND, "The AAC encoder is missing.", "", ""};
            if (r < 0) return errorFromAv(r, "Cannot start the AAC encoder.");
            ast = avformat_new_stream(c, nullptr);
            avcodec_parameters_from_context(ast->codecpar, aenc.get());
            ast->time_base = aenc->time_base;
            if ((r = fifo.open(*aenc)) < 0) return errorFromAv(r, "Cannot start the AAC encoder.");
        }
        if (!vst && !ast)
            return Error{EINVAL, "There is nothing to record.", "No camera or microphone is connected.", ""};
        AVDictionary* mo = nullptr;
        av_dict_set(&mo, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
        av_dict_set(&mo, "frag_duration", std::to_string(int64_t(s.fragmentSeconds * 1e6)).c_str(), 0);
        r = avformat_write_header(c, &mo);
        av_dict_free(&mo);
        if (r < 0 || sink.error)
            return sink.error ? errnoError(sink.error, "Cannot write the movie file.")
                              : errorFromAv(r, "Cannot write the movie file.");
        avio_flush(c->pb);
        lastGoodEnd = headerEnd = sink.end;
        lastSyncNs = monotonicNowNs();
        return {};
    }

    bool mux(AVCodecContext* enc, AVStream* st) {
        av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
        pkt->stream_index = st->index;
        int64_t before = sink.end;
        int r = av_write_frame(oc.get(), pkt.get());
        av_packet_unref(pkt.get());
        if (sink.error || r < 0) {
            writeError = sink.error ? errnoError(sink.error, "The recording could not be written.")
                                    : errorFromAv(r, "The recording could not be written.");
            return false;
        }
        if (sink.end != before) {
            // A fragment went out whole; make it durable about once a second.
            lastGoodEnd = sink.end;
            int64_t now = monotonicNowNs();
            if (now - lastSyncNs >= 900000000LL) {
                ::fdatasync(sink.fd);
                lastSyncNs = now;
            }
        }
        return true;
    }

    bool encode(AVCodecContext* enc, AVStream* st, AVFrame* f) {
        int r = avcodec_send_frame(enc, f);
        if (r < 0 && r != AVERROR_EOF) {
            writeError = errorFromAv(r, "The recording could not be encoded.");
            return false;
        }
        while ((r = avcodec_receive_packet(enc, pkt.get())) == 0)
            if (!mux(enc, st)) return false;
        if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
            writeError = errorFromAv(r, "The recording could not be encoded.");
            return false;
        }
        return true;
    }

    void begin(int64_t t) {
        haveT0 = true;
        t0 = t;
        startNs = t;
        // The AAC encoder's priming delays its output by `initial_padding` samples. The movie
        // has no edit list to hide it (a fragmented file's header is written before any sample),
        // so the packets start at 0 and the same number of captured samples is left out at the
        // start instead: sound then plays exactly in step with the pictures.
        if (aenc) primingToSkip = aenc->initial_padding;
        if (started) started();
    }

    bool video(const VideoSample& v, uint64_t turnedAwayBefore) {
        if (!vst) return true;
        if (!haveT0) begin(v.timeNs);
        if (v.timeNs < t0) return true;
        if (lastSequence >= 0 && v.sequence > lastSequence + 1 + int64_t(turnedAwayBefore))
            noteDropped(uint64_t(v.sequence - lastSequence - 1) - turnedAwayBefore);
        lastSequence = v.sequence;
        int64_t pts = av_rescale(v.timeNs - t0, kVideoTimeBase.den, 1000000000LL);
        if (pts <= lastVideoPts) pts = lastVideoPts + 1;
        lastVideoPts = pts;
        const AVFrame* src = v.frame.get();
        av::Frame f;
        if (src->width != venc->width || src->height != venc->height || src->format != AV_PIX_FMT_YUV420P) {
            // Pictures of another size (a device change mid-recording) are scaled to the movie's.
            sws.reset(sws_getCachedContext(sws.release(), src->width, src->height, AVPixelFormat(src->format),
                                           venc->width, venc->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                           nullptr, nullptr));
            f = av::makeFrame();
            f->format = AV_PIX_FMT_YUV420P;
            f->width = venc->width;
            f->height = venc->height;
            if (!sws || av_frame_get_buffer(f.get(), 0) < 0) return true;
            sws_scale(sws.get(), src->data, src->linesize, 0, src->height, f->data, f->linesize);
        } else {
            f.reset(av_frame_clone(src));
            if (!f) return true;
        }
        f->pts = pts;
        f->pict_type = AV_PICTURE_TYPE_NONE;
        if (!encode(venc.get(), vst, f.get())) return false;
        ++written;
        seconds = double(pts) / kVideoTimeBase.den;
        return true;
    }

    bool audio(const AudioSample& a) {
        if (!ast || a.channels <= 0 || a.sampleRate <= 0) return true;
        if (!haveT0) {
            if (vst) {
                // Sound waits for the first picture, which fixes time zero for both tracks;
                // three seconds of it at most, for a camera that never delivers.
                earlyAudio.push_back(a);
                while (!earlyAudio.empty() && a.timeNs - earlyAudio.front().timeNs > 3000000000LL)
                    earlyAudio.pop_front();
                return true;
            }
            begin(a.timeNs);
        }
        AVChannelLayout inLayout{};
        av_channel_layout_default(&inLayout, a.channels);
        const int changed = fifo.setSource(inLayout, AV_SAMPLE_FMT_S16, a.sampleRate);
        av_channel_layout_uninit(&inLayout);
        if (changed < 0) return true;  // sound the resampler cannot take is left out
        const int rate = aenc->sample_rate;
        const uint8_t* inPtr = reinterpret_cast<const uint8_t*>(a.samples.data());
        const int got = fifo.resample(&inPtr, a.frames());
        if (got <= 0) return true;

        // Lay the sound on the shared timeline: small clock jitter is ignored so the sound stays
        // continuous; a real gap (the device stalled) is filled with silence, and sound from
        // before time zero or overlapping what is laid already is cut.
        int64_t expectedNs = t0 + av_rescale(audioQueued, 1000000000LL, rate);
        int64_t diffNs = a.timeNs - expectedNs;
        // The first sound laid is placed exactly; after that, jitter within the tolerance is
        // taken as the device's clock wobbling, not as sound missing or repeated.
        const int64_t tolerance = audioLaid ? 60000000LL : 0;
        int skip = 0;
        if (diffNs > tolerance) {
            const int64_t gap = av_rescale(diffNs, rate, 1000000000LL);
            const int n = fifo.queueSilence(int(std::min<int64_t>(gap, rate * 10)));
            if (n > 0) audioQueued += n;
        } else if (diffNs < -tolerance) {
            skip = int(std::min<int64_t>(got, av_rescale(-diffNs, rate, 1000000000LL)));
        }
        if (primingToSkip > 0 && got > skip) {
            int n = int(std::min<int64_t>(primingToSkip, got - skip));
            skip += n;
            primingToSkip -= n;
            audioQueued += n;
        }
        if (got > skip) {
            audioQueued += fifo.queueResampled(skip);
            audioLaid = true;
        }
        return drainAudio(false);
    }

    bool drainAudio(bool flush) {
        while (fifo.ready(flush)) {
            av::Frame f = fifo.take(flush);
            if (!f) return false;
            const int n = f->nb_samples;
            f->pts = audioEncoded + aenc->initial_padding;
            audioEncoded += n;
            if (!encode(aenc.get(), ast, f.get())) return false;
            if (!vst) seconds = double(audioEncoded) / aenc->sample_rate;
        }
        return true;
    }

    void noteDropped(uint64_t n) {
        dropped += n;
        uint64_t total = dropped.load();
        // The first drop, then every 30th: enough to see a pattern without flooding the log.
        if (lastLoggedDrops == 0 || total - lastLoggedDrops >= 30) {
            captureLog("%llu frame(s) dropped so far in %s", static_cast<unsigned long long>(total), s.path.c_str());
            lastLoggedDrops = total;
        }
    }

    bool process(Item& it) {
        if (it.isVideo) {
            if (!video(it.v, it.turnedAwayBefore)) return false;
            // Sound that arrived before the first picture is laid out now that time zero is known.
            while (haveT0 && !earlyAudio.empty()) {
                AudioSample a = std::move(earlyAudio.front());
                earlyAudio.pop_front();
                if (!audio(a)) return false;
            }
            return true;
        }
        return audio(it.a);
    }

    void run() {
        Error result = open();
        bool opened = !result.isError();
        if (!opened) {
            finish(false, result);
            return;
        }
        while (opened) {
            std::deque<Item> batch;
            bool stopping = false;
            {
                std::unique_lock lock(mutex);
                cond.wait(lock, [&] { return !queue.empty() || stopRequested || failReason; });
                if (failReason) {
                    result = *failReason;
                    queue.clear();
                    queuedFrames = 0;
                    stopping = true;
                } else {
                    batch.swap(queue);
                    queuedFrames = 0;
                    stopping = stopRequested;
                }
            }
            bool ok = true;
            for (auto& it : batch)
                if (!(ok = process(it))) break;
            if (!ok) {
                result = writeError;
                break;
            }
            if (stopping) break;
        }
        finish(opened, result);
    }

    void finish(bool opened, Error result) {
        if (!opened) {
            // Nothing was recorded: leave no half-made file behind.
            if (oc) oc->pb = nullptr;
            sink.close();
            if (sink.created) ::unlink(s.path.c_str());
            report(result);
            return;
        }
        bool writeFailed = writeError.isError();
        if (opened && !writeFailed) {
            bool ok = true;
            if (venc) ok = encode(venc.get(), vst, nullptr);
            if (ok && aenc) ok = drainAudio(true) && encode(aenc.get(), ast, nullptr);
            if (ok) {
                int r = av_write_trailer(oc.get());
                if (r < 0 || sink.error) {
                    writeError = sink.error ? errnoError(sink.error, "The recording could not be written.")
                                            : errorFromAv(r, "The recording could not be written.");
                }
            }
            writeFailed = writeError.isError();
            if (writeFailed && !result.isError()) result = writeError;
        }
        if (oc) oc->pb = nullptr;
        int fd = sink.fd;
        if (writeFailed && fd >= 0) {
            // Whatever followed the last whole fragment is a torn one: cut it off so the movie
            // ends cleanly where the recording could still be stored.
            sink.error = 0;
            if (sink.pb) {
                av_freep(&sink.pb->buffer);
                avio_context_free(&sink.pb);
            }
            if (::ftruncate(fd, lastGoodEnd) == 0) sink.end = lastGoodEnd;
        }
        bool durable = sink.close();
        if (opened && !durable && !writeFailed && !result.isError()) {
            result = errnoError(sink.error, "The recording could not be written.");
            writeFailed = true;
        }

        bool anything = written > 0 || audioEncoded > 0;
        if (opened && writeFailed && sink.end <= headerEnd) {
            // Not one fragment reached the disk (it was full or at its size limit from the
            // start): a movie without samples is no recording, so none is kept.
            ::unlink(s.path.c_str());
            result = Error{result.code, "Nothing was recorded.",
                           result.description + (result.failureReason.empty() ? "" : " (" + result.failureReason + ")"),
                           result.recoverySuggestion};
        } else if (opened && !anything && !writeFailed) {
            ::unlink(s.path.c_str());
            if (!result.isError())
                result = Error{ENODATA, "Nothing was recorded.",
                               "The recording stopped before any picture or sound arrived.", ""};
        } else if (opened && !writeFailed && s.finalizeOnStop) {
            // Rewritten into a hidden temporary beside the recording and renamed over it: at
            // every instant the name holds a playable movie, and a finish cut short leaves only
            // a temporary that the next recording or export in the folder removes.
            Error e;
            auto tmp = OutputFile::create(s.path, &e);
            if (tmp) e = rewriteUnfragmented(s.path, *tmp);
            if (!e.isError() && !tmp->commit(OutputFile::Commit::Replace, &e))
                e = Error{e.code, "Cannot finish the movie file.", e.failureReason, e.recoverySuggestion};
            if (e.isError()) {
                // The fragmented movie is complete and plays; keeping it loses nothing, while
                // reporting a failure would make the app drop the recording's zoom track.
                tmp.reset();
                captureLog("%s (%s); the recording stays fragmented", e.description.c_str(), e.failureReason.c_str());
            } else {
                syncDirectoryOf(s.path);
            }
        }
        if (dropped > 0)
            captureLog("%llu frame(s) dropped in %s", static_cast<unsigned long long>(dropped.load()), s.path.c_str());
        report(result);
    }

    void report(const Error& result) {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        cond.notify_all();
        if (finished) finished(result);
    }
};

MovieRecorder::MovieRecorder(RecorderSettings settings, std::function<void()> started,
                             std::function<void(const Error&)> finished)
    : impl_(std::make_unique<Impl>()) {
    impl_->s = std::move(settings);
    impl_->started = std::move(started);
    impl_->finished = std::move(finished);
    impl_->thread = std::thread([this] { impl_->run(); });
}

MovieRecorder::~MovieRecorder() {
    stop();
    if (impl_->thread.joinable()) {
        if (isOwnThread())
            impl_->thread.detach();  // only reachable through misuse; never self-join
        else
            impl_->thread.join();
    }
}

void MovieRecorder::appendVideo(const VideoSample& v) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested || impl_->failReason || impl_->done) return;
    if (impl_->queuedFrames >= impl_->s.maxQueuedFrames) {
        impl_->dropped++;
        impl_->turnedAway++;
        return;
    }
    impl_->queue.push_back({true, v, {}, impl_->turnedAway});
    impl_->turnedAway = 0;
    impl_->queuedFrames++;
    impl_->cond.notify_one();
}

void MovieRecorder::appendAudio(const AudioSample& a) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested || impl_->failReason || impl_->done) return;
    impl_->queue.push_back({false, {}, a});
    impl_->cond.notify_one();
}

void MovieRecorder::stop() {
    std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
    impl_->cond.notify_all();
}

void MovieRecorder::fail(const Error& reason) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested || impl_->failReason || impl_->done) return;
    impl_->failReason = reason;
    impl_->cond.notify_all();
}

void MovieRecorder::waitUntilFinished() {
    std::unique_lock lock(impl_->mutex);
    impl_->cond.wait(lock, [&] { return impl_->done; });
}

bool MovieRecorder::isFinished() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->done;
}

bool MovieRecorder::isOwnThread() const {
    return impl_->thread.get_id() == std::this_thread::get_id();
}

uint64_t MovieRecorder::droppedFrames() const {
    return impl_->dropped;
}
uint64_t MovieRecorder::writtenFrames() const {
    return impl_->written;
}
int64_t MovieRecorder::startTimeNs() const {
    return impl_->startNs;
}
double MovieRecorder::recordedSeconds() const {
    return impl_->seconds;
}

}  // namespace media
