#pragma once
// 2-D affine transform in 32-bit floats. A point (x, y) maps to
// (a*x + c*y + tx, b*x + d*y + ty): row vectors, as QuickTime display matrices store them.

#include <array>
#include <cstdint>

namespace media {

struct Point {
    double x = 0, y = 0;
};

struct AffineTransform {
    float a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static constexpr AffineTransform identity() { return {}; }
    static AffineTransform makeRotation(float angle);
    static AffineTransform makeScale(float sx, float sy);
    static AffineTransform makeTranslation(float x, float y);

    // Each of these applies the new operation *before* this transform, in the source space.
    AffineTransform scaled(float sx, float sy) const;
    AffineTransform translated(float x, float y) const;
    AffineTransform rotated(float angle) const;
    // This transform followed by `then`.
    AffineTransform concat(const AffineTransform& then) const;
    // The inverse; the identity when the transform is degenerate (determinant 0 or not finite).
    AffineTransform inverted() const;

    Point apply(Point p) const;
    bool isIdentity() const;
    bool isFinite() const;
    float determinant() const { return a * d - b * c; }

    // Field-wise linear interpolation, as transform ramps are evaluated.
    static AffineTransform lerp(const AffineTransform& from, const AffineTransform& to, double t);

    // The 3x3 display matrix of a movie's video track (16.16 fixed point, the last column 2.30),
    // in the order a, b, u, c, d, v, tx, ty, w.
    std::array<int32_t, 9> toDisplayMatrix() const;
    // From a display matrix; an all-zero matrix counts as the identity.
    static AffineTransform fromDisplayMatrix(const int32_t* m);

    bool operator==(const AffineTransform& o) const = default;
};

}  // namespace media
