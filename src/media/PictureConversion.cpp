#include "media/PictureConversion.h"

namespace media::internal {

void matchSourceColours(SwsContext* sws, const AVFrame& source, bool fullRangeOut) {
    const int* coeffs =
        sws_getCoefficients(source.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : source.colorspace);
    const bool fullIn = source.color_range == AVCOL_RANGE_JPEG || source.format == AV_PIX_FMT_YUVJ420P ||
                        source.format == AV_PIX_FMT_YUVJ422P || source.format == AV_PIX_FMT_YUVJ444P;
    sws_setColorspaceDetails(sws, coeffs, fullIn ? 1 : 0, coeffs, fullRangeOut ? 1 : 0, 0, 1 << 16, 1 << 16);
}

Yuv420Converter::Result Yuv420Converter::convert(const AVFrame& frame, int width, int height, av::Frame& out) {
    if (frame.format == AV_PIX_FMT_YUV420P && frame.color_range != AVCOL_RANGE_JPEG && frame.width == width &&
        frame.height == height) {
        out.reset(av_frame_clone(&frame));
        return out ? Result::Ok : Result::OutOfMemory;
    }
    if (!sws_ || w_ != frame.width || h_ != frame.height || fmt_ != frame.format) {
        sws_.reset(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width, height,
                                  AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                  nullptr, nullptr));
        w_ = frame.width;
        h_ = frame.height;
        fmt_ = frame.format;
        if (!sws_) return Result::Unsupported;
        matchSourceColours(sws_.get(), frame, false);
    }
    out = av::makeFrame();
    if (!out) return Result::OutOfMemory;
    out->format = AV_PIX_FMT_YUV420P;
    out->width = width;
    out->height = height;
    if (av_frame_get_buffer(out.get(), 0) < 0) return Result::OutOfMemory;
    sws_scale(sws_.get(), frame.data, frame.linesize, 0, frame.height, out->data, out->linesize);
    av_frame_copy_props(out.get(), &frame);
    out->color_range = AVCOL_RANGE_MPEG;
    return Result::Ok;
}

}  // namespace media::internal
