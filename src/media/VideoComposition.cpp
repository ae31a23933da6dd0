#include "media/VideoComposition.h"

namespace media {

AffineTransform VideoComposition::transformAt(const Time& t) const {
    if (!zoom) return AffineTransform::identity();
    return filter == ResampleFilter::HighQuality ? zoom->scaleTransformAt(t, renderSize)
                                                 : zoom->rampTransformAt(t, renderSize);
}

namespace {

VideoComposition composition(Size size, std::shared_ptr<const ZoomCurve> zoom, ResampleFilter filter) {
    VideoComposition c;
    c.renderSize = size;
    c.frameDuration = Time(1, 30);
    c.filter = filter;
    c.zoom = std::move(zoom);
    return c;
}

}  // namespace

VideoComposition makeRampComposition(Size size, std::shared_ptr<const ZoomCurve> zoom) {
    return composition(size, std::move(zoom), ResampleFilter::Bilinear);
}

VideoComposition makeLayerComposition(Size size, std::shared_ptr<const ZoomCurve> zoom) {
    return composition(size, std::move(zoom), ResampleFilter::HighQuality);
}

}  // namespace media
