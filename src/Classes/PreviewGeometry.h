#pragma once
// The geometry between the camera's picture and the camera screen, as pure functions so that
// every number can be checked without a window.
//
// The picture arrives as the sensor delivers it. The camera's mounting (degrees, clockwise: 0,
// 90, 180 or 270) says how far it must turn to stand upright on the screen: a phone's sensor is
// mounted a quarter turn (90) from its portrait screen, a desktop webcam delivers its picture
// upright (0). The turned picture is fitted into the preview (aspect kept, centred) and shown
// scaled about the preview's centre by the zoom (and 4/3 more in full screen).
//
// Screen points: the camera screen's 320 x 480 points, origin top left, y down. Point of
// interest: 0 to 1 over the unturned picture, (0, 0) its top left.

#include <QPointF>
#include <QSizeF>

#include "media/AffineTransform.h"

namespace preview {

// The full-screen enlargement, as the 32-bit float the preview transform is built with.
inline constexpr float kFullScreenScale = 4.0f / 3.0f;

// The zoom factor of a slider value (0 to 1 gives 1 to 3), in 32-bit float as the track stores it.
inline float zoomForSliderValue(float v) {
    return v + v + 1.0f;
}
// The preview's scale for a zoom factor.
inline float previewScale(float zoom, bool fullScreen) {
    return fullScreen ? zoom * kFullScreenScale : zoom;
}

// 90 and 270 swap width and height; anything else keeps them. Mountings are normalised to
// 0, 90, 180 or 270 (other values count as 0).
int normalizedMounting(int degrees);
QSizeF turnedSize(QSizeF picture, int mounting);

// How a recording is shown: the clockwise turn its display matrix gives the stored pictures, so
// that the movie plays as the preview looked. The preview turns the picture by the mounting on
// the portrait screen; a screen held in landscape (a phone turned on its side) is itself turned a
// quarter, which a quarter-mounted sensor's picture then needs no more. A picture whose mounting
// leaves it landscape (a webcam's, 0) is shown as the preview shows it however the screen is held.
int recordingTurn(int mounting, bool heldInLandscape);
// The capture orientation (as stored in zoom tracks: 1 portrait, 2 portrait upside down, 3
// landscape right, 4 landscape left) whose display matrix makes that turn (0, 90, 180, 270).
int captureOrientationForTurn(int turn);

// Width of each black strip beside a turned picture narrower than the view (negative when the
// picture is wider), truncated towards zero: 0.5 W (1 - (H / W) / (th / tw)).
int blackStripWidth(QSizeF view, QSizeF turned);
// Height of each black bar above and below a turned picture wider than the view (negative when
// it is narrower): the same rule across the other axis.
int blackBarHeight(QSizeF view, QSizeF turned);

// The strips a screen shows for a picture: side strips whenever the picture stands upright on
// its mounting turned a quarter (the phone's case: the strip width is kept even when negative,
// which draws nothing), else bars above and below when the picture is wider than the view.
struct Strips {
    int sideWidth = 0;  // width of the left and right strips
    int barHeight = 0;  // height of the top and bottom bars
};
Strips stripsFor(QSizeF view, QSizeF picture, int mounting);

// A tapped screen point to the point of interest. `frameSize` is the preview's frame (its
// bounds scaled by `scale`, the preview's horizontal scale). Outside the shown picture, and
// without a picture, the result is the centre (0.5, 0.5).
QPointF pointOfInterest(QPointF tap, QSizeF frameSize, double scale, QSizeF picture, int mounting, bool fullScreen);

// Source pixels (continuous coordinates) to preview points: turned, fitted into `view`, scaled
// by `scale` about the view's centre. For an unturned picture in a view of its own size this is
// the export's magnification about the centre.
media::AffineTransform pictureToView(QSizeF picture, int mounting, QSizeF view, float scale);

}  // namespace preview
