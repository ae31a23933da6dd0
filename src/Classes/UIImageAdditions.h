#pragma once
// The image loader the custom controls share: on a screen of scale 2.0 or more it prefers the
// double-resolution variant "<name>@2x.<ext>" beside a picture. Works on files and on the
// application's compiled-in resources (":/..." paths) alike.

#include <QImage>
#include <QString>

namespace UIImageAdditions {

// The picture at `path`, or its "@2x" variant when `screenScale` is at least 2.0 and the variant
// exists. A variant carries a device pixel ratio of 2, so its size in points equals the plain
// picture's. Null when neither can be read. The picture remembers where it came from: drawn
// through platform::ScreenScale::repick it follows the window's scale as it changes.
QImage imageWithContentsOfResolutionIndependentFile(const QString& path, double screenScale);
// The same at the main screen's current scale (platform::ScreenScale).
QImage imageWithContentsOfResolutionIndependentFile(const QString& path);

// Where the "@2x" variant of `path` would be: "a/b.png" -> "a/b@2x.png"; a path without an
// extension gives "<name>@2x." in the same folder.
QString highResolutionVariantPath(const QString& path);

// The full path of a resource of the application bundle, e.g. ("bottombg", "png").
QString pathForResource(const QString& name, const QString& type);

}  // namespace UIImageAdditions
