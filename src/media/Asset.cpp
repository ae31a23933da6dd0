#include "media/Asset.h"

#include <algorithm>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "media/FFmpeg.h"
#include "media/MediaInternal.h"

namespace media {

namespace internal {

Time timeFromAv(int64_t value, AVRational tb) {
    if (value == AV_NOPTS_VALUE || tb.num <= 0 || tb.den <= 0) return Time::invalid();
    // Most containers use 1/N; anything else is brought onto a timescale of its denominator.
    if (tb.num == 1) return Time(value, tb.den);
    __int128 v = static_cast<__int128>(value) * tb.num;
    if (v > INT64_MAX || v < INT64_MIN) return Time::invalid();
    return Time(static_cast<int64_t>(v), tb.den);
}

Error openLocalFile(const std::string& path, AVFormatContext** ctx, const AVInputFormat* format,
                    AVDictionary** options) {
    // A movie is a local file and nothing else. FFmpeg reads a name as a URL ("http:x.mov",
    // "pipe:0", "concat:a|b"), so it is given an absolute path, which no protocol prefix can
    // start, and only the file protocol, also for anything the file itself refers to.
    std::error_code ec;
    const std::string absolute = path.empty() ? path : std::filesystem::absolute(path, ec).string();
    struct stat st {};
    if (path.empty() || ec || ::stat(absolute.c_str(), &st) != 0)
        return Error{AVERROR(ENOENT), "The movie could not be opened.", "There is no file at \"" + path + "\".",
                     "Choose an existing movie file."};
    if (!S_ISREG(st.st_mode))
        return Error{AVERROR(EINVAL), "The movie could not be opened.", "\"" + path + "\" is not a file.",
                     "Choose a movie file."};
    AVDictionary* opts = nullptr;
    if (options) av_dict_copy(&opts, *options, 0);
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    const int r = avformat_open_input(ctx, absolute.c_str(), format, &opts);
    av_dict_free(&opts);
    if (r < 0)
        return errorFromAv(r, "The movie could not be opened.",
                           "The file may be damaged or may not be a movie. Try another file.");
    return {};
}

Error openInput(const std::string& path, av::InputContext& out) {
    AVFormatContext* ctx = nullptr;
    if (Error e = openLocalFile(path, &ctx)) return e;
    out.reset(ctx);
    // Some damaged files fail here after a usable header; what was learnt is still good.
    avformat_find_stream_info(ctx, nullptr);
    return {};
}

bool streamIsTruncated(AVFormatContext* ctx, AVStream* st) {
    const int64_t fileSize = ctx->pb ? avio_size(ctx->pb) : -1;
    if (fileSize <= 0) return false;
    const int n = avformat_index_get_entries_count(st);
    if (n <= 0) return false;
    // The index is sorted by time, not by offset; a cut file loses its last bytes, so any sample
    // reaching past the end tells.
    for (int i = n - 1; i >= 0 && i >= n - 64; --i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e && e->pos + e->size > fileSize) return true;
    }
    return false;
}

std::optional<AffineTransform> streamDisplayMatrix(const AVStream* st) {
    size_t size = 0;
    const uint8_t* sd = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!sd || size < 9 * sizeof(int32_t)) return std::nullopt;
    int32_t m[9];
    memcpy(m, sd, sizeof m);
    AffineTransform t = AffineTransform::fromDisplayMatrix(m);
    // A matrix that flattens the picture cannot be shown; treat it as absent.
    if (!t.isFinite() || t.determinant() == 0) return std::nullopt;
    return t;
}

bool setStreamDisplayMatrix(AVStream* st, const AffineTransform& t) {
    const auto m = t.toDisplayMatrix();
    uint8_t* sd = av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, sizeof(int32_t) * 9);
    if (!sd) return false;
    memcpy(sd, m.data(), sizeof(int32_t) * 9);
    return true;
}

}  // namespace internal

using internal::timeFromAv;

namespace {

// Where the audio and video samples listed in the index end: the latest sample's time plus an
// average sample's length. Invalid when no track has an index.
Time samplesEndOfTracks(AVFormatContext* ctx) {
    double latest = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream* st = ctx->streams[i];
        const AVMediaType type = st->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) ||
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const int n = avformat_index_get_entries_count(st);
        if (n <= 0 || st->time_base.num <= 0 || st->time_base.den <= 0) continue;
        int64_t first = INT64_MAX, last = INT64_MIN;
        for (int k = 0; k < n; ++k) {
            const AVIndexEntry* e = avformat_index_get_entry(st, k);
            if (!e || e->timestamp == AV_NOPTS_VALUE) continue;
            first = std::min(first, e->timestamp);
            last = std::max(last, e->timestamp);
        }
        if (first > last) continue;
        const double step = n > 1 ? static_cast<double>(last - first) / (n - 1) : 0;
        latest = std::max(latest, (static_cast<double>(last) + step) * av_q2d(st->time_base));
    }
    if (!(latest >= 0) || !std::isfinite(latest)) return Time::invalid();
    return Time(static_cast<int64_t>(std::llround(latest * 1000000)), 1000000);
}

}  // namespace

std::shared_ptr<Asset> Asset::open(const std::string& path, Error* error) {
    av::InputContext ctx;
    if (Error e = internal::openInput(path, ctx)) {
        if (error) *error = e;
        return nullptr;
    }
    std::shared_ptr<Asset> asset(new Asset());
    asset->path_ = path;

    std::vector<Time> trackEnds;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const AVCodecParameters* par = st->codecpar;
        AssetTrack t;
        t.streamIndex = static_cast<int>(i);
        t.trackID = st->id > 0 ? st->id : static_cast<int>(i) + 1;
        t.mediaType = par->codec_type == AVMEDIA_TYPE_VIDEO   ? MediaType::Video
                      : par->codec_type == AVMEDIA_TYPE_AUDIO ? MediaType::Audio
                                                              : MediaType::Other;
        // Cover art is a still picture attached to the file, not a track of moving pictures.
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) t.mediaType = MediaType::Other;
        if (par->codec_id != AV_CODEC_ID_NONE) {
            t.codecName = avcodec_get_name(par->codec_id);
        } else {
            char tag[AV_FOURCC_MAX_STRING_SIZE] = {0};
            av_fourcc_make_string(tag, par->codec_tag);
            t.codecName = par->codec_tag ? tag : "unknown";
        }
        t.decodable = par->codec_id != AV_CODEC_ID_NONE && avcodec_find_decoder(par->codec_id) != nullptr;
        if (t.mediaType == MediaType::Video) {
            t.naturalSize = {std::max(0, par->width), std::max(0, par->height)};
            const AVRational sar = av_guess_sample_aspect_ratio(ctx.get(), ctx->streams[i], nullptr);
            if (sar.num > 0 && sar.den > 0) t.pixelAspectRatio = av_q2d(sar);
            t.displaySize = displaySizeFor(t.naturalSize, t.pixelAspectRatio);
            if (auto tr = internal::streamDisplayMatrix(st)) t.preferredTransform = *tr;
            AVRational fr =
                st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate : st->r_frame_rate;
            if (fr.num > 0 && fr.den > 0) t.nominalFrameRate = av_q2d(fr);
        } else if (t.mediaType == MediaType::Audio) {
            t.sampleRate = par->sample_rate;
            t.channelCount = par->ch_layout.nb_channels;
        }
        Time start = timeFromAv(st->start_time, st->time_base);
        if (!start.isValid()) start = Time::zero();
        Time duration = st->duration > 0 ? timeFromAv(st->duration, st->time_base) : Time::invalid();
        t.timeRange = TimeRange(start, duration);
        if (duration.isValid() && t.mediaType != MediaType::Other) {
            trackEnds.push_back(start + duration);
            trackEnds.push_back(duration);
        }
        if (t.mediaType != MediaType::Other) t.samplesMissing = internal::streamIsTruncated(ctx.get(), ctx->streams[i]);
        asset->tracks_.push_back(std::move(t));
    }
    // The container's duration went through microseconds; the tracks keep their own exact
    // timescales, so the track end it was made from is the exact figure.
    Time duration = Time::invalid();
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0) {
        const Time container(ctx->duration, AV_TIME_BASE);
        duration = container;
        double best = 0.001;
        for (const Time& end : trackEnds) {
            const double diff = std::fabs((end - container).seconds());
            if (diff <= best) {
                best = diff;
                duration = end;
            }
        }
        // A damaged header (a wrong movie time scale) can claim far more than the samples hold;
        // a player plays the samples, so their end is the length.
        const Time samplesEnd = samplesEndOfTracks(ctx.get());
        if (samplesEnd.isValid() && container.seconds() > samplesEnd.seconds() * 1.5 + 1.0) {
            duration = samplesEnd;
            for (const Time& end : trackEnds)
                if (std::fabs((end - samplesEnd).seconds()) <= 0.1 && end > duration) duration = end;
        }
    } else {
        for (const Time& end : trackEnds)
            if (!duration.isValid() || end > duration) duration = end;
    }
    if (!duration.isValid() && ctx->nb_streams == 0) duration = Time::zero();
    asset->duration_ = duration;
    return asset;
}

void Asset::loadAsync(const std::string& path, Dispatch dispatch,
                      std::function<void(std::shared_ptr<Asset>, Error)> completion) {
    std::thread([path, dispatch = std::move(dispatch), completion = std::move(completion)]() mutable {
        Error error;
        std::shared_ptr<Asset> asset = open(path, &error);
        dispatch([asset, error, completion = std::move(completion)]() { completion(asset, error); });
    }).detach();
}

Size displaySizeFor(Size stored, double pixelAspectRatio) {
    if (!(pixelAspectRatio > 0) || !std::isfinite(pixelAspectRatio)) return stored;
    return {static_cast<int>(std::lround(stored.width * pixelAspectRatio)), stored.height};
}

bool Asset::isIncomplete() const {
    for (const auto& t : tracks_)
        if (t.samplesMissing) return true;
    return false;
}

std::vector<AssetTrack> Asset::tracksWithMediaType(MediaType type) const {
    std::vector<AssetTrack> out;
    for (const auto& t : tracks_)
        if (t.mediaType == type) out.push_back(t);
    return out;
}

const AssetTrack* Asset::trackWithID(int trackID) const {
    for (const auto& t : tracks_)
        if (t.trackID == trackID) return &t;
    return nullptr;
}

}  // namespace media
