#pragma once
// The latest camera picture for the UI. Capture threads put every picture in; the UI takes the
// newest whenever it draws. The slot holds a reference to the frame the session already made
// (the one conversion to the preset's size).

#include "media/NewestSlot.h"
#include "media/capture/CaptureTypes.h"

namespace media {

using PreviewSlot = NewestSlot<VideoSample>;

}  // namespace media
