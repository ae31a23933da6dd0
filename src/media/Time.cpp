#include "media/Time.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace media {

namespace {

int64_t roundDiv(__int128 num, __int128 den) {
    // Round half away from zero.
    if (den < 0) {
        num = -num;
        den = -den;
    }
    __int128 q = num / den;
    __int128 r = num % den;
    if (2 * (r < 0 ? -r : r) >= den) q += (num < 0) ? -1 : 1;
    return static_cast<int64_t>(q);
}

// Brings both times to one timescale; exact when the lcm fits 32 bits.
int32_t commonScale(int32_t a, int32_t b) {
    if (a == b) return a;
    int64_t l = std::lcm<int64_t>(a, b);
    if (l <= std::numeric_limits<int32_t>::max()) return static_cast<int32_t>(l);
    return std::max(a, b);
}

}  // namespace

Time Time::fromSeconds(double seconds, int32_t timescale) {
    if (!std::isfinite(seconds) || timescale <= 0) return Time();
    double v = std::round(seconds * timescale);  // std::round: halves away from zero
    if (std::fabs(v) > 9.2e18) return Time();
    return Time(static_cast<int64_t>(v), timescale);
}

double Time::seconds() const {
    if (!valid) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(value) / static_cast<double>(timescale);
}

Time Time::convertScale(int32_t ts) const {
    if (!valid || ts <= 0) return Time();
    if (ts == timescale) return *this;
    return Time(roundDiv(static_cast<__int128>(value) * ts, timescale), ts);
}

std::string Time::toString() const {
    if (!valid) return "invalid";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld/%d", static_cast<long long>(value), timescale);
    return buf;
}

Time operator+(const Time& a, const Time& b) {
    if (!a.valid || !b.valid) return Time();
    int32_t ts = commonScale(a.timescale, b.timescale);
    return Time(a.convertScale(ts).value + b.convertScale(ts).value, ts);
}

Time operator-(const Time& a, const Time& b) {
    if (!a.valid || !b.valid) return Time();
    int32_t ts = commonScale(a.timescale, b.timescale);
    return Time(a.convertScale(ts).value - b.convertScale(ts).value, ts);
}

int compare(const Time& a, const Time& b) {
    if (!a.valid || !b.valid) return (a.valid ? 1 : 0) - (b.valid ? 1 : 0);
    __int128 l = static_cast<__int128>(a.value) * b.timescale;
    __int128 r = static_cast<__int128>(b.value) * a.timescale;
    return l < r ? -1 : (l > r ? 1 : 0);
}

Time min(const Time& a, const Time& b) {
    return compare(a, b) <= 0 ? a : b;
}
Time max(const Time& a, const Time& b) {
    return compare(a, b) >= 0 ? a : b;
}

TimeRange TimeRange::intersection(const TimeRange& other) const {
    Time s = max(start, other.start);
    Time e = min(end(), other.end());
    if (e <= s) return TimeRange(s, Time(0, s.timescale));
    return TimeRange(s, e - s);
}

}  // namespace media
