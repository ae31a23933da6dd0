#pragma once
// The main screen's scale: device pixels per point. The window that shows the 320 x 480 point
// screen sets it whenever its size or its display changes; code that picks artwork reads it.
// 1.0 until a window says otherwise (the command line has no screen).
//
// Artwork is picked for it: the plain picture, or its "@2x" variant at 2.0 or more. Controls are
// made before their window has its size (and a window moves between displays), so what was
// picked is marked with where it came from, and whoever draws artwork passes it through
// repick() first: it is read again only when the scale has crossed 2.0 since.

#include <QImage>
#include <QString>

namespace platform {

class ScreenScale {
public:
    static double scale();
    // Values that are not finite or not above zero are taken as 1.0.
    static void setScale(double scale);

    // The picture at `path`, or its "@2x" variant when `scale` is at least 2.0 and the variant
    // exists (with a device pixel ratio of 2, so its size in points is the plain picture's).
    // Null when neither can be read.
    static QImage artwork(const QString& path, double scale);
    // `image` as artwork() would pick it now; itself when that pick still holds or when it is
    // not artwork (a picture made or changed by other code).
    static QImage repick(const QImage& image);
    // "a/b.png" -> "a/b@2x.png"; a path without an extension gives "<name>@2x." in its folder.
    static QString highResolutionVariantPath(const QString& path);
    // Marks `image` as no longer the artwork it was read as (turned, cropped, painted on), so
    // repick() leaves it alone.
    static void forget(QImage& image);
};

}  // namespace platform
