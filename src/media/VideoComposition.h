#pragma once
// How to render a movie's video again: render size, frame rate, and the zoom the picture follows
// over time, read from one ZoomCurve. The filter says how pictures are resampled and with it how
// the curve becomes a transform: the ramp form renders bilinearly through the zoom transforms of
// each glide's ends, the layer form through a high-quality separable filter (zimg) with the
// factor as a scale about the centre. Plain data, cheap to copy: the curve is shared.

#include <memory>

#include "media/AffineTransform.h"
#include "media/Size.h"
#include "media/Time.h"
#include "media/ZoomCurve.h"

namespace media {

enum class ResampleFilter { Bilinear, HighQuality };

struct VideoComposition {
    Size renderSize;
    Time frameDuration = Time(1, 30);
    ResampleFilter filter = ResampleFilter::Bilinear;
    std::shared_ptr<const ZoomCurve> zoom;  // none: unzoomed

    // The transform from source pixel coordinates (pixel (i, j) covers [i, i+1) x [j, j+1)) of
    // the movie's video to output pixel coordinates at time t.
    AffineTransform transformAt(const Time& t) const;
};

// The two forms, for a movie whose pictures are `size`: rendered bilinearly ("Good", also what
// playback shows) or with high-quality rescaling ("Best").
VideoComposition makeRampComposition(Size size, std::shared_ptr<const ZoomCurve> zoom);
VideoComposition makeLayerComposition(Size size, std::shared_ptr<const ZoomCurve> zoom);

}  // namespace media
