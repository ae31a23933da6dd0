#include "media/AffineTransform.h"

#include <cmath>

namespace media {

AffineTransform AffineTransform::makeRotation(float angle) {
    float s = std::sin(angle), c = std::cos(angle);
    return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::makeScale(float sx, float sy) {
    return {sx, 0, 0, sy, 0, 0};
}

AffineTransform AffineTransform::makeTranslation(float x, float y) {
    return {1, 0, 0, 1, x, y};
}

AffineTransform AffineTransform::scaled(float sx, float sy) const {
    return {sx * a, sx * b, sy * c, sy * d, tx, ty};
}

AffineTransform AffineTransform::translated(float x, float y) const {
    return {a, b, c, d, x * a + y * c + tx, x * b + y * d + ty};
}

AffineTransform AffineTransform::rotated(float angle) const {
    float s = std::sin(angle), co = std::cos(angle);
    return {co * a + s * c, co * b + s * d, co * c - s * a, co * d - s * b, tx, ty};
}

AffineTransform AffineTransform::concat(const AffineTransform& t) const {
    return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
            c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

AffineTransform AffineTransform::inverted() const {
    // Inverse in double so that large zooms keep their sub-pixel translation.
    double det = static_cast<double>(a) * d - static_cast<double>(b) * c;
    if (det == 0.0 || !std::isfinite(det)) return identity();
    double ia = d / det, ib = -b / det, ic = -c / det, id = a / det;
    double itx = -(tx * ia + ty * ic), ity = -(tx * ib + ty * id);
    return {static_cast<float>(ia), static_cast<float>(ib),  static_cast<float>(ic),
            static_cast<float>(id), static_cast<float>(itx), static_cast<float>(ity)};
}

Point AffineTransform::apply(Point p) const {
    return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty};
}

bool AffineTransform::isIdentity() const {
    return *this == identity();
}

bool AffineTransform::isFinite() const {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) && std::isfinite(tx) &&
           std::isfinite(ty);
}

AffineTransform AffineTransform::lerp(const AffineTransform& f, const AffineTransform& t, double u) {
    auto mix = [u](float x, float y) { return static_cast<float>(x + (static_cast<double>(y) - x) * u); };
    return {mix(f.a, t.a), mix(f.b, t.b), mix(f.c, t.c), mix(f.d, t.d), mix(f.tx, t.tx), mix(f.ty, t.ty)};
}

std::array<int32_t, 9> AffineTransform::toDisplayMatrix() const {
    auto fx = [](float v) { return static_cast<int32_t>(std::lround(static_cast<double>(v) * 65536.0)); };
    return {fx(a), fx(b), 0, fx(c), fx(d), 0, fx(tx), fx(ty), 1 << 30};
}

AffineTransform AffineTransform::fromDisplayMatrix(const int32_t* m) {
    if (!m) return identity();
    bool allZero = true;
    for (int i = 0; i < 9; ++i) allZero = allZero && m[i] == 0;
    if (allZero) return identity();
    auto fl = [](int32_t v) { return static_cast<float>(v / 65536.0); };
    return {fl(m[0]), fl(m[1]), fl(m[3]), fl(m[4]), fl(m[6]), fl(m[7])};
}

}  // namespace media
