#include "media/ImageGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/FFmpeg.h"
#include "media/MediaInternal.h"

namespace media {

namespace {

// The display matrix taken to the nearest quarter turn, possibly mirrored: entries -1, 0, 1.
struct QuarterTurn {
    int a = 1, b = 0, c = 0, d = 1;
    bool swapsAxes() const { return a == 0; }
};

QuarterTurn nearestQuarterTurn(const AffineTransform& t) {
    auto sign = [](float v) { return v < 0 ? -1 : 1; };
    QuarterTurn q;
    if (std::fabs(t.a) + std::fabs(t.d) >= std::fabs(t.b) + std::fabs(t.c)) {
        q = {sign(t.a), 0, 0, sign(t.d)};
    } else {
        q = {0, sign(t.b), sign(t.c), 0};
    }
    return q;
}

Error noPicture(const std::string& reason) {
    return Error{AVERROR_INVALIDDATA, "No picture could be made of the movie.", reason,
                 "The movie may be damaged. Try another movie."};
}

}  // namespace

RgbImage ImageGenerator::copyFirstImage(Error* error) const {
    auto bail = [&](const Error& e) {
        if (error) *error = e;
        return RgbImage{};
    };
    av::InputContext in;
    if (Error e = internal::openInput(path_, in)) return bail(e);
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return bail(noPicture("The movie has no video track."));
    AVStream* st = in->streams[index];
    const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!dec)
        return bail(noPicture("Its pictures are stored in a format that cannot be decoded here."));
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (static_cast<int>(i) != index) in->streams[i]->discard = AVDISCARD_ALL;

    av::CodecContext ctx(avcodec_alloc_context3(dec));
    avcodec_parameters_to_context(ctx.get(), st->codecpar);
    ctx->pkt_timebase = st->time_base;
    // Slice threads only: frame threads would decode several pictures before giving the first.
    ctx->thread_type = FF_THREAD_SLICE;
    ctx->thread_count = 0;
    int r = avcodec_open2(ctx.get(), dec, nullptr);
    if (r < 0) return bail(errorFromAv(r, "No picture could be made of the movie.", "The movie may be damaged."));

    av::Packet pkt = av::makePacket();
    av::Frame frame = av::makeFrame();
    bool got = false, draining = false;
    // A bounded number of packets: a movie whose first pictures never decode does not keep us.
    for (int packets = 0; !got && packets < 600;) {
        if (!draining) {
            r = av_read_frame(in.get(), pkt.get());
            if (r < 0) {
                draining = true;
                avcodec_send_packet(ctx.get(), nullptr);
            } else if (pkt->stream_index != index) {
                av_packet_unref(pkt.get());
                continue;
            } else {
                ++packets;
                avcodec_send_packet(ctx.get(), pkt.get());
                av_packet_unref(pkt.get());
            }
        }
        r = avcodec_receive_frame(ctx.get(), frame.get());
        if (r == 0) got = true;
        else if (draining && r != AVERROR(EAGAIN)) break;
    }
    if (!got) return bail(noPicture("None of its pictures could be decoded."));

    QuarterTurn q;
    if (appliesTransform_) {
        if (auto t = internal::streamDisplayMatrix(st)) q = nearestQuarterTurn(*t);
    }
    const int srcW = frame->width, srcH = frame->height;
    const int shownW = q.swapsAxes() ? srcH : srcW, shownH = q.swapsAxes() ? srcW : srcH;
    double scale = 1;
    if (maximumSize_.width > 0 && maximumSize_.height > 0)
        scale = std::min({1.0, maximumSize_.width / static_cast<double>(shownW), maximumSize_.height / static_cast<double>(shownH)});
    else if (maximumSize_.width > 0)
        scale = std::min(1.0, maximumSize_.width / static_cast<double>(shownW));
    else if (maximumSize_.height > 0)
        scale = std::min(1.0, maximumSize_.height / static_cast<double>(shownH));
    const int outShownW = std::max(1, static_cast<int>(std::lround(shownW * scale)));
    const int outShownH = std::max(1, static_cast<int>(std::lround(shownH * scale)));
    const int scaledW = q.swapsAxes() ? outShownH : outShownW, scaledH = q.swapsAxes() ? outShownW : outShownH;

    av::Sws sws(sws_getContext(srcW, srcH, static_cast<AVPixelFormat>(frame->format), scaledW, scaledH, AV_PIX_FMT_RGB24,
                               scale < 1 ? SWS_AREA : SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws) return bail(noPicture("Its picture format cannot be converted."));
    const int* coeffs = sws_getCoefficients(frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace);
    const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P ||
                           frame->format == AV_PIX_FMT_YUVJ422P || frame->format == AV_PIX_FMT_YUVJ444P;
    sws_setColorspaceDetails(sws.get(), coeffs, fullRange ? 1 : 0, coeffs, 1, 0, 1 << 16, 1 << 16);

    // swscale's SIMD converters write whole blocks of pixels, past the end of a row whose width
    // is not a multiple of the block (a 58-pixel-wide picture overran a tight buffer and broke
    // the heap): it draws into a frame FFmpeg pads, and the rows are copied out.
    av::Frame rgb = av::makeFrame();
    if (!rgb) return bail(noPicture("Out of memory."));
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = scaledW;
    rgb->height = scaledH;
    if (av_frame_get_buffer(rgb.get(), 64) < 0) return bail(noPicture("Out of memory."));
    sws_scale(sws.get(), frame->data, frame->linesize, 0, srcH, rgb->data, rgb->linesize);
    RgbImage scaled;
    scaled.width = scaledW;
    scaled.height = scaledH;
    scaled.stride = scaledW * 3;
    scaled.bytes.resize(static_cast<size_t>(scaled.stride) * scaledH);
    for (int y = 0; y < scaledH; ++y)
        std::memcpy(scaled.bytes.data() + static_cast<size_t>(y) * scaled.stride,
                    rgb->data[0] + static_cast<ptrdiff_t>(y) * rgb->linesize[0], static_cast<size_t>(scaled.stride));
    if (q.a == 1 && q.d == 1) return scaled;

    // Turn the pixels. A pixel centre (x, y) goes to (a x + c y, b x + d y); the picture is then
    // moved back into the positive quarter.
    RgbImage out;
    out.width = outShownW;
    out.height = outShownH;
    out.stride = outShownW * 3;
    out.bytes.assign(static_cast<size_t>(out.stride) * outShownH, 0);
    const int offX = (q.a < 0 || q.c < 0) ? out.width : 0;
    const int offY = (q.b < 0 || q.d < 0) ? out.height : 0;
    for (int y = 0; y < scaledH; ++y) {
        const uint8_t* row = scaled.bytes.data() + static_cast<size_t>(y) * scaled.stride;
        for (int x = 0; x < scaledW; ++x) {
            // Using pixel centres: the mapped centre minus a half gives the destination index.
            const int X = offX + q.a * (2 * x + 1) / 2 + q.c * (2 * y + 1) / 2 - ((q.a < 0 || q.c < 0) ? 1 : 0);
            const int Y = offY + q.b * (2 * x + 1) / 2 + q.d * (2 * y + 1) / 2 - ((q.b < 0 || q.d < 0) ? 1 : 0);
            uint8_t* p = out.bytes.data() + static_cast<size_t>(Y) * out.stride + 3 * X;
            p[0] = row[3 * x];
            p[1] = row[3 * x + 1];
            p[2] = row[3 * x + 2];
        }
    }
    return out;
}

}  // namespace media
