#include "PreviewGeometry.h"

#include <algorithm>
#include <cmath>

namespace preview {

int normalizedMounting(int degrees) {
    switch (((degrees % 360) + 360) % 360) {
    case 90: return 90;
    case 180: return 180;
    case 270: return 270;
    default: return 0;
    }
}

int recordingTurn(int mounting, bool heldInLandscape) {
    const int m = normalizedMounting(mounting);
    const bool quarter = m == 90 || m == 270;
    return heldInLandscape && quarter ? m - 90 : m;
}

int captureOrientationForTurn(int turn) {
    switch (normalizedMounting(turn)) {
    case 90: return 1;
    case 180: return 4;
    case 270: return 2;
    default: return 3;
    }
}

QSizeF turnedSize(QSizeF picture, int mounting) {
    const int m = normalizedMounting(mounting);
    return m == 90 || m == 270 ? picture.transposed() : picture;
}

int blackStripWidth(QSizeF view, QSizeF turned) {
    const double w = view.width(), h = view.height();
    if (w <= 0 || h <= 0 || turned.width() <= 0 || turned.height() <= 0) return 0;
    return int(0.5 * w * (1.0 - (h / w) / (turned.height() / turned.width())));
}

int blackBarHeight(QSizeF view, QSizeF turned) {
    return blackStripWidth(view.transposed(), turned.transposed());
}

Strips stripsFor(QSizeF view, QSizeF picture, int mounting) {
    if (picture.width() <= 0 || picture.height() <= 0) return {};
    const QSizeF turned = turnedSize(picture, mounting);
    const int m = normalizedMounting(mounting);
    if (m == 90 || m == 270) return {blackStripWidth(view, turned), 0};
    const int bar = blackBarHeight(view, turned);
    if (bar > 0) return {0, bar};
    return {blackStripWidth(view, turned), 0};
}

namespace {
// A point in the turned picture (0 to 1 over what the screen shows) back to the sensor's picture.
QPointF unturn(double sx, double sy, int mounting) {
    switch (normalizedMounting(mounting)) {
    case 90: return {sy, 1.0 - sx};
    case 180: return {1.0 - sx, 1.0 - sy};
    case 270: return {1.0 - sy, sx};
    default: return {sx, sy};
    }
}
}  // namespace

QPointF pointOfInterest(QPointF tap, QSizeF frameSize, double scale, QSizeF picture, int mounting, bool fullScreen) {
    const QPointF centre(0.5, 0.5);
    if (picture.width() <= 0 || picture.height() <= 0 || scale == 0 || frameSize.isEmpty()) return centre;
    const double px = tap.x(), py = tap.y();
    const double fw = frameSize.width(), fh = frameSize.height();
    const double w0 = fw / scale, h0 = fh / scale;
    const QSizeF turned = turnedSize(picture, mounting);
    const double r = turned.width() / turned.height();
    if (r <= fw / fh) {
        // Narrower than the view: strips at the sides; the view's scale is undone about the centre.
        const double shownW = h0 * r;
        double sx, sy;
        if (fullScreen) {
            sy = py / h0;
            sx = px / shownW;
        } else {
            const double bar = (w0 - shownW) * 0.5;
            if (px < bar || px > bar + shownW) return centre;
            sy = py / h0;
            sx = (px - bar) / shownW;
        }
        const double k = (1.0 - 1.0 / scale) * 0.5;
        const QPointF p = unturn(sx / scale + k, sy / scale + k, mounting);
        return {double(float(p.x())), double(float(p.y()))};
    }
    // Wider than the view: bars above and below.
    const double shownH = w0 / r;
    const double bar = (h0 - shownH) * 0.5;
    if (py < bar || py > bar + shownH) return centre;
    return unturn(px / w0, (py - bar) / shownH, mounting);
}

media::AffineTransform pictureToView(QSizeF picture, int mounting, QSizeF view, float scale) {
    const float pw = float(picture.width()), ph = float(picture.height());
    if (pw <= 0 || ph <= 0 || view.isEmpty()) return {};
    // Turn about the origin, then bring the turned picture back to positive coordinates.
    media::AffineTransform turn;
    switch (normalizedMounting(mounting)) {
    case 90: turn = {0, 1, -1, 0, ph, 0}; break;
    case 180: turn = {-1, 0, 0, -1, pw, ph}; break;
    case 270: turn = {0, -1, 1, 0, 0, pw}; break;
    default: break;
    }
    const QSizeF turned = turnedSize(picture, mounting);
    const double fit = std::min(view.width() / turned.width(), view.height() / turned.height());
    const double cx = view.width() * 0.5, cy = view.height() * 0.5;
    // Fitted and centred, then scaled about the view's centre, in one step.
    const double k = fit * double(scale);
    const media::AffineTransform place{
        float(k), 0, 0, float(k), float(cx - turned.width() * 0.5 * k), float(cy - turned.height() * 0.5 * k)};
    return turn.concat(place);
}

}  // namespace preview
