#include "media/Player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "media/MediaInternal.h"
#include "media/PictureConversion.h"
#include "media/VideoDecoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
}

namespace media {

namespace {

// Longest a worker sleeps before it looks at the clock again: the sound clock only moves when
// the sound thread reads it, and a stuck device must not stall the pictures for long.
constexpr auto kPoll = std::chrono::milliseconds(5);
// A sound device that takes sound but plays none for this long is given up for the clock.
constexpr int64_t kStuckAudioNs = 1'000'000'000;
// Sound written ahead of what is heard, in frames' worth of seconds.
constexpr double kAudioChunkSeconds = 0.02;

int64_t defaultClockNs() {
    return monotonicNowNs();
}

int rotationOf(const AffineTransform& t) {
    const double deg = std::atan2(t.b, t.a) * 180.0 / M_PI;
    int r = static_cast<int>(std::lround(deg / 90.0)) * 90;
    return ((r % 360) + 360) % 360;
}

}  // namespace

struct Player::Impl : std::enable_shared_from_this<Impl> {
    PlayerItem item;
    Options opt;
    std::function<int64_t()> now;
    NewestSlot<PlayerPicture> slot;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);

    // Fixed once the item is known (before the threads start).
    const AssetTrack* videoTrack = nullptr;
    const AssetTrack* audioTrack = nullptr;
    int sourceW = 0, sourceH = 0;  // the video track's stored size
    Size shownSize;                // render size stretched by the pixel aspect ratio, not turned
    int rotation = 0;
    Time frameDuration = Time(1, 30);
    double durationSeconds = 0;

    // Everything below is guarded by m; cv wakes both workers on any change.
    mutable std::mutex m;
    std::condition_variable cv;
    bool quit = false;
    Status status = Status::Unknown;
    Error error;
    float rate = 0;
    // The clock. Held: `heldPos` (paused, seeking, at the end). Monotonic: anchorPos advanced
    // by elapsed time x rate. Sound: audioBase + frames heard / sample rate.
    double heldPos = 0;
    std::optional<Time> heldExact;  // a seek's exact target while the position is held there
    double anchorPos = 0;
    int64_t anchorNs = 0;
    bool audioDriven = false;
    double audioBase = 0;
    int64_t audioHeard = 0;
    int audioRate = 0;
    bool audioUsable = false;  // a device was opened for this item's sound
    uint64_t generation = 0;   // bumped by every seek; workers restart from heldPos
    bool seeking = false;
    std::function<void(bool)> seekCompletion;
    Time seekBefore = Time::zero(), seekAfter = Time::zero();
    bool atEnd = false;
    int boxW = 0, boxH = 0;
    // Bumped when the view asks for another size or the composition changes: the picture on
    // screen is made again.
    uint64_t boxGeneration = 0;
    // What pictures are rendered through; replaced whole, so a worker keeps the one it took.
    std::shared_ptr<const VideoComposition> composition;
    struct Observer {
        double interval;
        std::shared_ptr<const std::function<void(Time)>> block;
        // Cleared on removal: a call already queued then does nothing.
        std::shared_ptr<std::atomic<bool>> live;
        double nextTick = 0;
    };
    std::map<int, Observer> observers;
    int lastToken = 0;
    std::function<void(Status)> statusHandler;
    std::function<void(float)> rateHandler;

    std::thread videoThread, audioThread;

    // --- reports ---------------------------------------------------------------------------
    void post(std::function<void()> fn) {
        auto flag = alive;
        auto guarded = [flag, fn = std::move(fn)] {
            if (flag->load()) fn();
        };
        if (opt.dispatch)
            opt.dispatch(std::move(guarded));
        else
            guarded();
    }
    void reportRateLocked() {
        if (!rateHandler) return;
        auto h = rateHandler;
        const float r = rate;
        post([h, r] { h(r); });
    }
    void reportStatusLocked() {
        if (!statusHandler) return;
        auto h = statusHandler;
        const Status s = status;
        post([h, s] { h(s); });
    }
    // Fires every observer now (a jump or a rate change) and sets its next tick after `pos`.
    void fireObserversLocked(double pos) {
        const Time t = timeAt(pos);
        for (auto& entry : observers) {
            Observer& o = entry.second;
            o.nextTick = (std::floor(pos / o.interval) + 1) * o.interval;
            postObserver(o, t);
        }
    }
    void postObserver(const Observer& o, Time t) {
        post([block = o.block, live = o.live, t] {
            if (live->load()) (*block)(t);
        });
    }
    void tickObserversLocked(double pos) {
        for (auto& entry : observers) {
            Observer& o = entry.second;
            if (pos + 1e-9 < o.nextTick) continue;
            o.nextTick = (std::floor(pos / o.interval + 1e-9) + 1) * o.interval;
            postObserver(o, timeAt(pos));
        }
    }
    Time timeAt(double pos) const {
        if (heldExact && (rate == 0 || seeking)) return *heldExact;
        return Time::fromSeconds(pos, 1'000'000);
    }

    // --- the clock -------------------------------------------------------------------------
    double positionLocked() const {
        if (rate == 0 || seeking || atEnd) return heldPos;
        double p;
        if (audioDriven)
            p = audioBase + (audioRate > 0 ? static_cast<double>(audioHeard) / audioRate : 0);
        else
            p = anchorPos + static_cast<double>(now() - anchorNs) * 1e-9 * rate;
        return durationSeconds > 0 ? std::min(p, durationSeconds) : p;
    }
    // Leaves the sound clock (sound ended, device stuck, rate not 1) without a jump.
    void monotonicFromHereLocked() {
        const double p = positionLocked();
        audioDriven = false;
        anchorPos = p;
        anchorNs = now();
    }

    void setRateLocked(float r) {
        if (!(r > 0)) r = 0;
        if (r == rate) return;
        if (r > 0 && atEnd) {
            // Play at the end starts over, as a user pressing play expects.
            atEnd = false;
            heldPos = 0;
            heldExact.reset();
            ++generation;
            seeking = true;
            seekBefore = seekAfter = Time::zero();
        }
        const double p = positionLocked();
        if (r == 0) {
            heldPos = p;
        } else {
            heldExact.reset();
            audioDriven = false;
            anchorPos = rate == 0 ? heldPos : p;
            anchorNs = now();
        }
        rate = r;
        reportRateLocked();
        fireObserversLocked(rate == 0 ? heldPos : p);
        cv.notify_all();
    }

    void failLocked(Error e) {
        if (status == Status::Failed) return;
        status = Status::Failed;
        error = std::move(e);
        reportStatusLocked();
        if (rate != 0) {
            heldPos = positionLocked();
            rate = 0;
            reportRateLocked();
        }
        cv.notify_all();
    }

    // Waits at most `d` (or until something changes); false when the player is going away.
    template <typename Rep, typename Period>
    bool nap(std::unique_lock<std::mutex>& lock, std::chrono::duration<Rep, Period> d) {
        cv.wait_for(lock, d);
        return !quit;
    }

    void runVideo();
    void runAudio();
};

// --- pictures --------------------------------------------------------------------------------

namespace {

// Source pictures as the renderer reads them, and the view's RGB conversion.
struct PictureMaker {
    Player::Impl& p;
    std::optional<FrameRenderer> renderer;
    internal::Yuv420Converter toYuv;
    av::Sws toRgb;
    int toRgbKey[5] = {0, 0, -1, 0, 0};

    explicit PictureMaker(Player::Impl& player) : p(player) {}

    // The picture for time `t`: `src` through the composition at t when there is one.
    PlayerPicture make(const AVFrame* src, Time t, int boxW, int boxH, const VideoComposition* composition) {
        PlayerPicture pic;
        pic.time = t;
        pic.rotation = p.rotation;
        std::shared_ptr<const AVFrame> shown;
        if (composition) {
            const VideoComposition& c = *composition;
            const int w = static_cast<int>(c.renderSize.width), h = static_cast<int>(c.renderSize.height);
            // The export's own preparation, so the rendered pictures match it to the byte.
            av::Frame in;
            if (toYuv.convert(*src, p.sourceW, p.sourceH, in) != internal::Yuv420Converter::Result::Ok) return {};
            if (!renderer) renderer.emplace(ResampleFilter::Bilinear, w, h);
            av::Frame out = av::makeFrame();
            out->format = AV_PIX_FMT_YUV420P;
            out->width = w;
            out->height = h;
            if (av_frame_get_buffer(out.get(), 0) < 0) return {};
            AffineTransform m = c.transformAt(t);
            if (!m.isFinite() || m.determinant() == 0) m = AffineTransform::identity();
            if (!renderer->render(*in, m, *out)) return {};
            shown = shareFrame(out.release());
        } else {
            shown = shareFrame(av_frame_clone(src));
        }
        if (!shown) return {};
        // Fit the shown size (turned as the view will turn it) into the box.
        double sw = p.shownSize.width, sh = p.shownSize.height;
        const bool sideways = p.rotation == 90 || p.rotation == 270;
        double bw = boxW, bh = boxH;
        if (sideways) std::swap(bw, bh);
        double scale = 1;
        if (bw > 0 && bh > 0) scale = std::min(bw / sw, bh / sh);
        const int ow = std::max(2, static_cast<int>(std::lround(sw * scale)));
        const int oh = std::max(2, static_cast<int>(std::lround(sh * scale)));
        if (!toRgb || toRgbKey[0] != shown->width || toRgbKey[1] != shown->height || toRgbKey[2] != shown->format ||
            toRgbKey[3] != ow || toRgbKey[4] != oh) {
            toRgb.reset(sws_getContext(shown->width, shown->height, static_cast<AVPixelFormat>(shown->format), ow, oh,
                                       AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
            if (!toRgb) return {};
            internal::matchSourceColours(toRgb.get(), *shown, true);
            toRgbKey[0] = shown->width;
            toRgbKey[1] = shown->height;
            toRgbKey[2] = shown->format;
            toRgbKey[3] = ow;
            toRgbKey[4] = oh;
        }
        // swscale's SIMD code writes whole blocks past a row's end: it draws into a padded frame,
        // which the picture keeps alive through its pixels.
        av::Frame rgbFrame = av::makeFrame();
        if (!rgbFrame) return {};
        rgbFrame->format = AV_PIX_FMT_RGB32;
        rgbFrame->width = ow;
        rgbFrame->height = oh;
        if (av_frame_get_buffer(rgbFrame.get(), 64) < 0) return {};
        sws_scale(toRgb.get(), shown->data, shown->linesize, 0, shown->height, rgbFrame->data, rgbFrame->linesize);
        pic.bytesPerLine = rgbFrame->linesize[0];
        const uint8_t* pixels = rgbFrame->data[0];
        pic.rgb = std::shared_ptr<const uint8_t[]>(shareFrame(rgbFrame.release()), pixels);
        pic.width = ow;
        pic.height = oh;
        pic.frame = std::move(shown);
        return pic;
    }
};

// Decoded pictures of one stream in order, with the one on screen at a time picked as a
// composition export picks it (the latest that starts at or before the time).
struct SourceCursor {
    AVFormatContext* in = nullptr;
    VideoDecoder decoder;
    AVRational tb{1, 1};
    av::Packet pkt = av::makePacket();
    av::Frame cur = av::makeFrame(), next = av::makeFrame();
    Time curTime, nextTime;
    bool haveCur = false, haveNext = false, ended = false;

    bool decodeInto(av::Frame& f, Time& t) {
        for (;;) {
            av_frame_unref(f.get());
            const int r = decoder.decodeNext(in, pkt.get(), f.get());
            if (r < 0) return false;
            const int64_t pts = f->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE) continue;  // a picture with no time cannot be placed
            t = internal::timeFromAv(pts, tb);
            return true;
        }
    }
    // Starts over after the input was positioned (seek or open).
    void restart() {
        decoder.restart();
        haveCur = haveNext = ended = false;
        haveCur = decodeInto(cur, curTime);
        if (haveCur) haveNext = decodeInto(next, nextTime);
        ended = !haveNext;
    }
    void advance() {
        std::swap(cur, next);
        curTime = nextTime;
        haveNext = decodeInto(next, nextTime);
        ended = !haveNext;
    }
    // Moves on to the picture on screen at t.
    void moveTo(const Time& t) {
        while (haveNext && nextTime <= t) advance();
    }
};

}  // namespace

void Player::Impl::runVideo() {
    av::InputContext in;
    SourceCursor src;
    if (videoTrack) {
        if (Error e = internal::openInput(item.asset->path(), in)) {
            std::lock_guard lock(m);
            failLocked(e);
            return;
        }
        AVStream* st = in->streams[videoTrack->streamIndex];
        for (unsigned i = 0; i < in->nb_streams; ++i)
            if (static_cast<int>(i) != videoTrack->streamIndex) in->streams[i]->discard = AVDISCARD_ALL;
        const int r = src.decoder.open(st, {.count = 2});
        if (r < 0) {
            std::lock_guard lock(m);
            failLocked(errorFromAv(r, "The movie's pictures cannot be decoded.",
                                   "Convert the movie to H.264 or choose another movie."));
            return;
        }
        src.in = in.get();
        src.tb = st->time_base;
    }
    PictureMaker maker(*this);
    const bool composed = item.videoComposition.has_value();
    const double fd = frameDuration.seconds();

    // The output picture index shown at position `pos` (composition frames are at k * fd).
    auto slotTime = [&](double pos) -> Time {
        if (!composed) return src.curTime;
        int64_t k = static_cast<int64_t>(std::floor(pos / fd + 1e-9));
        int64_t last = static_cast<int64_t>(std::ceil(durationSeconds / fd - 1e-9)) - 1;
        k = std::clamp<int64_t>(k, 0, std::max<int64_t>(last, 0));
        return Time(k * frameDuration.value, frameDuration.timescale);
    };
    // Called with the lock released; `comp` was taken under it.
    auto present = [&](const Time& t, int bw, int bh, const std::shared_ptr<const VideoComposition>& comp) {
        if (!src.haveCur) return false;
        PlayerPicture pic = maker.make(src.cur.get(), t, bw, bh, comp.get());
        if (!pic) return false;
        slot.put(pic);
        return true;
    };

    uint64_t seenGeneration = ~uint64_t(0);
    uint64_t seenBox = 0;
    Time shown = Time::invalid();  // the output time of the picture in the slot
    bool ready = false;

    std::unique_lock lock(m);
    while (!quit) {
        if (status == Status::Failed) {
            cv.wait(lock);
            continue;
        }
        // A seek (or the first showing): position the input, then the picture at the target.
        if (generation != seenGeneration) {
            seenGeneration = generation;
            const uint64_t gen = generation;
            const double target = heldPos;
            const Time exact = heldExact.value_or(Time::fromSeconds(target, 1'000'000));
            const double before = seekBefore.isValid() ? seekBefore.seconds() : 0;
            const double after = seekAfter.isValid() ? seekAfter.seconds() : 0;
            const int bw = boxW, bh = boxH;
            const std::shared_ptr<const VideoComposition> comp = composition;
            seenBox = boxGeneration;
            lock.unlock();
            double landed = target;
            bool ok = true;
            if (videoTrack) {
                AVStream* st = in->streams[videoTrack->streamIndex];
                const int64_t ts = av_rescale_q(static_cast<int64_t>(std::llround(target * 1e6)),
                                                AVRational{1, 1000000}, st->time_base);
                if (avformat_seek_file(in.get(), st->index, INT64_MIN, ts, ts, 0) < 0)
                    avformat_seek_file(in.get(), st->index, INT64_MIN, ts, INT64_MAX, 0);
                src.restart();
                if (!src.haveCur) {
                    ok = false;
                } else {
                    const bool tolerant = before > 0 || after > 0;
                    const double key = src.curTime.seconds();
                    if (tolerant && key >= target - before && key <= target + after) {
                        // A keyframe within the tolerance: no decoding up to the target.
                        landed = key;
                    } else if (tolerant) {
                        // The first picture inside the tolerance on the way to the target.
                        while (src.haveNext && src.nextTime.seconds() <= target &&
                               src.curTime.seconds() < target - before)
                            src.advance();
                        const double c = src.curTime.seconds();
                        if (c >= target - before && c <= target) landed = c;
                    }
                    Time t;
                    if (composed) {
                        // Composition frames sit on their grid: the first one at or after the
                        // landing point, if the tolerance allows, else the one on screen at the target.
                        Time g = slotTime(landed);
                        if (tolerant && g.seconds() < landed - 1e-9)
                            g = Time(g.value + frameDuration.value, frameDuration.timescale);
                        if (!tolerant || g.seconds() > target + after + 1e-9 || g.seconds() >= durationSeconds) {
                            g = slotTime(target);
                            landed = target;
                        } else {
                            landed = g.seconds();
                        }
                        src.moveTo(g);
                        t = g;
                    } else {
                        if (!tolerant) src.moveTo(exact);
                        t = src.curTime;
                    }
                    ok = present(t, bw, bh, comp);
                    if (ok) shown = t;
                }
            }
            lock.lock();
            if (gen != generation) continue;  // a newer seek took over
            if (!ok && videoTrack && !ready) {
                failLocked({AVERROR_INVALIDDATA, "The movie cannot be played.",
                            "None of its pictures could be decoded.", "Choose another movie."});
                continue;
            }
            seeking = false;
            if (before == 0 && after == 0)
                heldExact = exact;
            else
                heldExact.reset();
            heldPos = landed;
            anchorPos = landed;
            anchorNs = now();
            audioDriven = false;
            seekBefore = seekAfter = Time::zero();
            if (!ready) {
                ready = true;
                status = Status::ReadyToPlay;
                reportStatusLocked();
            } else if (seekCompletion) {
                auto c = std::move(seekCompletion);
                seekCompletion = nullptr;
                post([c] { c(true); });
            }
            fireObserversLocked(landed);
            cv.notify_all();
            continue;
        }

        const double pos = positionLocked();
        // The view asked for another size: show the current picture again in it.
        if (boxGeneration != seenBox && videoTrack && src.haveCur) {
            seenBox = boxGeneration;
            const int bw = boxW, bh = boxH;
            const std::shared_ptr<const VideoComposition> comp = composition;
            const Time t = shown.isValid() ? shown : src.curTime;
            lock.unlock();
            present(t, bw, bh, comp);
            lock.lock();
            continue;
        }
        if (rate == 0 || atEnd) {
            cv.wait(lock);
            continue;
        }
        tickObserversLocked(pos);

        // The end: the last picture is out and the clock has reached the end.
        const bool picturesDone = !videoTrack || (composed ? shown.isValid() && slotTime(pos) == shown &&
                                                                 shown.seconds() + fd >= durationSeconds - 1e-9
                                                           : src.ended && shown == src.curTime);
        if (picturesDone && (durationSeconds <= 0 || pos >= durationSeconds - 1e-6 ||
                             (videoTrack && !composed && src.ended && durationSeconds <= 0))) {
            atEnd = true;
            heldPos = durationSeconds > 0 ? durationSeconds : pos;
            heldExact = item.asset->duration().isValid() ? std::optional<Time>(item.asset->duration()) : std::nullopt;
            rate = 0;
            audioDriven = false;
            reportRateLocked();
            fireObserversLocked(heldPos);
            cv.notify_all();
            continue;
        }
        if (!videoTrack) {
            nap(lock, kPoll);
            continue;
        }

        // The next picture to show and when it is due.
        Time due;
        if (composed) {
            const Time at = slotTime(pos);
            due = at == shown ? Time(at.value + frameDuration.value, at.timescale) : at;
        } else {
            due = shown == src.curTime && src.haveNext ? src.nextTime : src.curTime;
            if (shown == src.curTime && !src.haveNext) {
                nap(lock, kPoll);
                continue;
            }
        }
        const double wait = due.seconds() - pos;
        if (wait > 0) {
            const double ms = std::min(wait * 1000.0 / std::max(rate, 0.01f), 5.0);
            nap(lock, std::chrono::microseconds(static_cast<int64_t>(ms * 1000)));
            continue;
        }
        // Due (or late): a picture more than a frame late is skipped for the next one.
        const int bw = boxW, bh = boxH;
        const std::shared_ptr<const VideoComposition> comp = composition;
        const uint64_t gen = generation;
        lock.unlock();
        if (composed) {
            // The picture on screen now, rendered for the frame time now due.
            const Time at = slotTime(std::max(pos, due.seconds()));
            src.moveTo(at);
            if (present(at, bw, bh, comp)) shown = at;
        } else {
            if (shown == src.curTime) src.advance();
            while (src.haveNext && src.nextTime.seconds() <= pos) src.advance();  // late ones go
            if (present(src.curTime, bw, bh, comp)) shown = src.curTime;
        }
        lock.lock();
        (void)gen;
    }
}

// --- sound -----------------------------------------------------------------------------------

void Player::Impl::runAudio() {
    AudioOutput* out = opt.audio.get();
    av::InputContext in;
    if (Error e = internal::openInput(item.asset->path(), in)) return;  // the pictures report it
    AVStream* st = in->streams[audioTrack->streamIndex];
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (static_cast<int>(i) != audioTrack->streamIndex) in->streams[i]->discard = AVDISCARD_ALL;
    // The shared decoder reads any one stream, sound included.
    VideoDecoder decoder;
    if (decoder.open(st, {.count = 1}) < 0) return;
    AVCodecContext* dec = decoder.context();
    const int sampleRate = dec->sample_rate;
    const int channels = std::min(2, std::max(1, dec->ch_layout.nb_channels));
    if (sampleRate <= 0 || !out->open(sampleRate, channels)) return;  // silent, on the monotonic clock
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, channels);
    av::Swr swr;
    {
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &outLayout, AV_SAMPLE_FMT_S16, sampleRate, &dec->ch_layout, dec->sample_fmt,
                                sampleRate, 0, nullptr) < 0 ||
            swr_init(s) < 0) {
            swr_free(&s);
            out->close();
            return;
        }
        swr.reset(s);
    }
    {
        std::lock_guard lock(m);
        audioUsable = true;
        audioRate = sampleRate;
    }

    av::Packet pkt = av::makePacket();
    av::Frame frame = av::makeFrame();
    std::vector<int16_t> pcm;
    size_t pcmAt = 0;       // frames of pcm already written
    int64_t written = 0;    // frames written since the last flush
    double firstTime = -1;  // movie time of the first frame written since the flush
    double skipUntil = 0;   // sound before this time is dropped (after a seek)
    bool ended = false;
    bool paused = true;
    int64_t lastHeard = 0, lastHeardNs = 0;
    uint64_t seenGeneration = ~uint64_t(0);
    bool playing = false;  // this thread's sound is what the clock follows

    std::unique_lock lock(m);
    while (!quit) {
        if (status == Status::Failed) break;
        if (generation != seenGeneration || seeking) {
            if (seeking) {
                cv.wait(lock);
                continue;
            }
            seenGeneration = generation;
            const double target = heldPos;
            lock.unlock();
            out->flush();
            const int64_t ts =
                av_rescale_q(static_cast<int64_t>(std::llround(target * 1e6)), AVRational{1, 1000000}, st->time_base);
            avformat_seek_file(in.get(), st->index, INT64_MIN, ts, ts, 0);
            decoder.restart();
            swr_init(swr.get());
            pcm.clear();
            pcmAt = 0;
            written = 0;
            firstTime = -1;
            skipUntil = target;
            ended = false;
            lastHeard = 0;
            lastHeardNs = now();
            lock.lock();
            playing = false;
            continue;
        }
        const bool wantSound = rate == 1 && !atEnd;
        if (!wantSound) {
            if (!paused) {
                lock.unlock();
                out->setPaused(true);
                lock.lock();
                paused = true;
            }
            if (playing) {
                monotonicFromHereLocked();
                playing = false;
            }
            cv.wait(lock);
            continue;
        }
        lock.unlock();
        // Refill from the decoder when what was decoded is all written.
        if (pcmAt * channels >= pcm.size() && !ended) {
            pcm.clear();
            pcmAt = 0;
            const int r = decoder.decodeNext(in.get(), pkt.get(), frame.get());
            if (r < 0) {
                ended = true;
            } else {
                const int64_t pts = frame->best_effort_timestamp;
                const double t = pts == AV_NOPTS_VALUE ? -1 : internal::timeFromAv(pts, st->time_base).seconds();
                const int cap = swr_get_out_samples(swr.get(), frame->nb_samples);
                pcm.resize(static_cast<size_t>(std::max(cap, 0)) * channels);
                uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(pcm.data())};
                const int got = swr_convert(swr.get(), dst, cap, const_cast<const uint8_t**>(frame->extended_data),
                                            frame->nb_samples);
                pcm.resize(static_cast<size_t>(std::max(got, 0)) * channels);
                av_frame_unref(frame.get());
                // Sound before the seek target is cut to the sample.
                if (t >= 0 && t < skipUntil && got > 0) {
                    const int64_t drop =
                        std::min<int64_t>(got, static_cast<int64_t>(std::llround((skipUntil - t) * sampleRate)));
                    pcmAt = static_cast<size_t>(drop);
                    if (firstTime < 0 && pcmAt < static_cast<size_t>(got)) firstTime = skipUntil;
                } else if (firstTime < 0 && got > 0) {
                    firstTime = t >= 0 ? t : skipUntil;
                }
            }
        }
        const int left = static_cast<int>(pcm.size() / channels - pcmAt);
        int took = 0;
        if (left > 0) {
            const int chunk = std::min(left, std::max(1, static_cast<int>(kAudioChunkSeconds * sampleRate)));
            took = out->write(pcm.data() + pcmAt * channels, chunk);
            pcmAt += static_cast<size_t>(std::max(took, 0));
            written += std::max(took, 0);
        }
        if (paused) {
            out->setPaused(false);
            paused = false;
        }
        const int64_t heard = out->framesPlayed();
        const int64_t t = now();
        if (heard != lastHeard || heard >= written) {
            lastHeard = heard;
            lastHeardNs = t;
        }
        lock.lock();
        if (generation != seenGeneration || rate != 1 || quit) continue;
        if (firstTime >= 0 && !playing && written > 0 && audioUsable) {
            // From here the pictures follow what is heard.
            audioBase = firstTime;
            audioHeard = 0;
            audioDriven = true;
            playing = true;
        }
        if (playing) {
            audioHeard = heard;
            if (ended && heard >= written) {
                // The sound is over; the pictures go on by the monotonic clock.
                monotonicFromHereLocked();
                playing = false;
                audioUsable = false;
            } else if (written > heard && t - lastHeardNs > kStuckAudioNs) {
                // A device that takes sound but plays none would stop the pictures for good.
                monotonicFromHereLocked();
                playing = false;
                audioUsable = false;
            }
        }
        if (!audioUsable && !playing) {
            // No clock to give any more: stay quiet until a seek brings the sound back.
            lock.unlock();
            out->setPaused(true);
            lock.lock();
            paused = true;
            while (!quit && generation == seenGeneration) cv.wait(lock);
            audioUsable = !quit;
            continue;
        }
        if (took == 0 || (ended && left <= 0)) nap(lock, kPoll);
    }
    lock.unlock();
    out->close();
}

// --- Player ----------------------------------------------------------------------------------

Player::Player(PlayerItem item, Options options) : impl_(std::make_shared<Impl>()) {
    Impl& p = *impl_;
    p.item = std::move(item);
    p.opt = std::move(options);
    p.now = p.opt.clockNs ? p.opt.clockNs : defaultClockNs;
    p.anchorNs = p.now();
    if (!p.item.asset) {
        p.status = Status::Failed;
        p.error = {AVERROR(EINVAL), "The movie cannot be played.", "There is no movie.", {}};
        return;
    }
    const Asset& a = *p.item.asset;
    for (const AssetTrack& t : a.tracks()) {
        if (t.mediaType == MediaType::Video && !p.videoTrack && t.decodable) p.videoTrack = a.trackWithID(t.trackID);
        if (t.mediaType == MediaType::Audio && !p.audioTrack && t.decodable) p.audioTrack = a.trackWithID(t.trackID);
    }
    p.durationSeconds = a.duration().isValid() ? a.duration().seconds() : 0;
    if (!p.videoTrack && !p.audioTrack) {
        p.status = Status::Failed;
        p.error = {AVERROR_INVALIDDATA, "The movie cannot be played.",
                   "It has no picture or sound that can be decoded.", "Choose another movie."};
        return;
    }
    if (p.videoTrack) {
        Size base = p.videoTrack->naturalSize;
        p.sourceW = static_cast<int>(base.width);
        p.sourceH = static_cast<int>(base.height);
        if (p.item.videoComposition) {
            const VideoComposition& c = *p.item.videoComposition;
            const Size rs = c.renderSize;
            if (!(rs.width >= 2 && rs.height >= 2 && rs.width <= 16384 && rs.height <= 16384) ||
                !(c.frameDuration.isValid() && c.frameDuration.value > 0)) {
                p.status = Status::Failed;
                p.error = {AVERROR(EINVAL),
                           "The movie cannot be played.",
                           "The video composition has no usable render size or frame duration.",
                           {}};
                return;
            }
            base = rs;
            p.frameDuration = c.frameDuration;
            p.composition = std::make_shared<const VideoComposition>(c);
        } else if (p.videoTrack->nominalFrameRate > 0) {
            p.frameDuration = Time::fromSeconds(1.0 / p.videoTrack->nominalFrameRate, 90000);
        }
        p.shownSize = displaySizeFor(base, p.videoTrack->pixelAspectRatio);
        p.rotation = rotationOf(p.videoTrack->preferredTransform);
    }
    // The first showing runs as a seek to the start.
    p.generation = 1;
    p.seeking = true;
    p.heldExact = Time::zero();
    p.videoThread = std::thread([&p] { p.runVideo(); });
    if (p.audioTrack && p.opt.audio) p.audioThread = std::thread([&p] { p.runAudio(); });
    if (!p.videoTrack) {
        // Sound alone: ready at once, the clock thread only watches for the end.
        std::lock_guard lock(p.m);
        p.seeking = false;
    }
}

Player::~Player() {
    if (!impl_) return;
    impl_->alive->store(false);
    {
        std::lock_guard lock(impl_->m);
        impl_->quit = true;
        impl_->cv.notify_all();
    }
    if (impl_->videoThread.joinable()) impl_->videoThread.join();
    if (impl_->audioThread.joinable()) impl_->audioThread.join();
}

const PlayerItem& Player::currentItem() const {
    return impl_->item;
}
bool Player::setVideoComposition(VideoComposition composition) {
    Impl& p = *impl_;
    std::lock_guard lock(p.m);
    if (!p.composition || !(composition.renderSize == p.composition->renderSize &&
                            composition.frameDuration == p.composition->frameDuration))
        return false;
    p.composition = std::make_shared<const VideoComposition>(std::move(composition));
    ++p.boxGeneration;
    p.cv.notify_all();
    return true;
}

Player::Status Player::status() const {
    std::lock_guard lock(impl_->m);
    return impl_->status;
}
Error Player::error() const {
    std::lock_guard lock(impl_->m);
    return impl_->error;
}
void Player::play() {
    setRate(1);
}
void Player::pause() {
    setRate(0);
}
void Player::setRate(float rate) {
    std::lock_guard lock(impl_->m);
    if (impl_->status == Status::Failed) return;
    impl_->setRateLocked(rate);
}
float Player::rate() const {
    std::lock_guard lock(impl_->m);
    return impl_->rate;
}

void Player::seekToTime(Time time, Time toleranceBefore, Time toleranceAfter, std::function<void(bool)> completion) {
    Impl& p = *impl_;
    std::lock_guard lock(p.m);
    if (p.status == Status::Failed || !time.isValid()) {
        if (completion) p.post([completion] { completion(false); });
        return;
    }
    if (p.seekCompletion) {
        auto c = std::move(p.seekCompletion);
        p.post([c] { c(false); });
    }
    double s = time.seconds();
    if (p.durationSeconds > 0 && s > p.durationSeconds) {
        s = p.durationSeconds;
        time = p.item.asset->duration();
    }
    if (s < 0) {
        s = 0;
        time = Time::zero();
    }
    p.seekCompletion = std::move(completion);
    p.seekBefore = toleranceBefore.isValid() && toleranceBefore.value > 0 ? toleranceBefore : Time::zero();
    p.seekAfter = toleranceAfter.isValid() && toleranceAfter.value > 0 ? toleranceAfter : Time::zero();
    p.heldPos = s;
    p.heldExact = time;
    p.atEnd = false;
    p.audioDriven = false;
    p.seeking = true;
    ++p.generation;
    if (!p.videoTrack) {
        // Nothing to decode: the position is taken at once.
        p.seeking = false;
        p.anchorPos = s;
        p.anchorNs = p.now();
        if (p.seekCompletion) {
            auto c = std::move(p.seekCompletion);
            p.seekCompletion = nullptr;
            p.post([c] { c(true); });
        }
        p.fireObserversLocked(s);
    }
    p.cv.notify_all();
}

Time Player::currentTime() const {
    std::lock_guard lock(impl_->m);
    return impl_->timeAt(impl_->positionLocked());
}
Time Player::duration() const {
    return impl_->item.asset ? impl_->item.asset->duration() : Time::invalid();
}

int Player::addPeriodicTimeObserver(Time interval, std::function<void(Time)> block) {
    Impl& p = *impl_;
    std::lock_guard lock(p.m);
    double s = interval.isValid() ? interval.seconds() : 0;
    if (!(s > 0)) s = 0.1;
    const int token = ++p.lastToken;
    const double pos = p.positionLocked();
    p.observers[token] = {s, std::make_shared<const std::function<void(Time)>>(std::move(block)),
                          std::make_shared<std::atomic<bool>>(true), (std::floor(pos / s) + 1) * s};
    return token;
}
void Player::removeTimeObserver(int token) {
    std::lock_guard lock(impl_->m);
    auto it = impl_->observers.find(token);
    if (it == impl_->observers.end()) return;
    it->second.live->store(false);
    impl_->observers.erase(it);
}

void Player::setStatusHandler(std::function<void(Status)> handler) {
    std::lock_guard lock(impl_->m);
    impl_->statusHandler = std::move(handler);
    // A status that is already known is told to the new handler.
    if (impl_->status != Status::Unknown) impl_->reportStatusLocked();
}
void Player::setRateHandler(std::function<void(float)> handler) {
    std::lock_guard lock(impl_->m);
    impl_->rateHandler = std::move(handler);
}

NewestSlot<PlayerPicture>& Player::pictures() {
    return impl_->slot;
}
void Player::setPictureBox(int width, int height) {
    std::lock_guard lock(impl_->m);
    if (impl_->boxW == width && impl_->boxH == height) return;
    impl_->boxW = std::max(0, width);
    impl_->boxH = std::max(0, height);
    ++impl_->boxGeneration;
    impl_->cv.notify_all();
}
Size Player::presentationSize() const {
    const Impl& p = *impl_;
    if (p.rotation == 90 || p.rotation == 270) return {p.shownSize.height, p.shownSize.width};
    return p.shownSize;
}

}  // namespace media
