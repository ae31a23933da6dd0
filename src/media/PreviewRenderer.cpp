#include "media/PreviewRenderer.h"

#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"

#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace media {

struct PreviewRenderer::Impl {
    std::unique_ptr<FrameRenderer> renderer;
    av::Frame yuv;
    // swscale's vector code writes whole blocks past a row's end; it gets a padded frame of its
    // own and the caller's buffer receives the exact rows.
    av::Frame rgb;
    av::Sws toRgb;
    int width = 0;
    int height = 0;

    bool prepare(int w, int h) {
        if (renderer && w == width && h == height) return true;
        width = height = 0;
        renderer = std::make_unique<FrameRenderer>(ResampleFilter::Bilinear, w, h);
        yuv = av::makeFrame();
        if (!yuv) return false;
        yuv->format = AV_PIX_FMT_YUV420P;
        yuv->width = w;
        yuv->height = h;
        if (av_frame_get_buffer(yuv.get(), 0) < 0) return false;
        rgb = av::makeFrame();
        if (!rgb) return false;
        rgb->format = AV_PIX_FMT_BGR0;
        rgb->width = w;
        rgb->height = h;
        if (av_frame_get_buffer(rgb.get(), 64) < 0) return false;
        // The renderer always gives limited range; the screen wants full-range RGB.
        toRgb.reset(
            sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR0, SWS_POINT, nullptr, nullptr, nullptr));
        if (!toRgb) return false;
        const int* coeffs = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(toRgb.get(), coeffs, 0, coeffs, 1, 0, 1 << 16, 1 << 16);
        width = w;
        height = h;
        return true;
    }
};

PreviewRenderer::PreviewRenderer() : impl_(std::make_unique<Impl>()) {}
PreviewRenderer::~PreviewRenderer() = default;

Size PreviewRenderer::pictureSize(const VideoSample& sample) {
    if (!sample.frame) return {};
    return {sample.frame->width, sample.frame->height};
}

bool PreviewRenderer::render(const VideoSample& sample, const AffineTransform& sourceToOutput, int width, int height,
                             uint8_t* bgrx, int stride, Error* error) {
    auto fail = [error](const char* why) {
        if (error) *error = Error{AVERROR(EINVAL), why, {}, {}};
        return false;
    };
    const AVFrame* src = sample.frame.get();
    if (!src || (src->format != AV_PIX_FMT_YUV420P && src->format != AV_PIX_FMT_YUVJ420P))
        return fail("The preview needs a yuv420p picture.");
    if (width <= 0 || height <= 0 || !bgrx || stride < 4 * width) return fail("The preview has no pixels to draw in.");
    if (!impl_->prepare(width, height)) return fail("The preview could not allocate its buffers.");
    if (av_frame_make_writable(impl_->yuv.get()) < 0) return fail("The preview could not allocate its buffers.");
    if (!impl_->renderer->render(*src, sourceToOutput, *impl_->yuv, error)) return false;
    AVFrame* rgb = impl_->rgb.get();
    sws_scale(impl_->toRgb.get(), impl_->yuv->data, impl_->yuv->linesize, 0, height, rgb->data, rgb->linesize);
    for (int y = 0; y < height; ++y)
        std::memcpy(bgrx + size_t(y) * stride, rgb->data[0] + size_t(y) * rgb->linesize[0], size_t(width) * 4);
    return true;
}

}  // namespace media
