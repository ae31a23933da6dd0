#pragma once
// Rational media time: a 64-bit value over a 32-bit timescale, with exact arithmetic.
// Sums and comparisons are exact; converting from seconds rounds to the nearest tick.

#include <cstdint>
#include <string>

namespace media {

struct Time {
    int64_t value = 0;
    int32_t timescale = 0;  // 0 marks an invalid time
    bool valid = false;

    constexpr Time() = default;
    constexpr Time(int64_t v, int32_t ts) : value(v), timescale(ts), valid(ts > 0) {}

    static constexpr Time zero() { return Time(0, 1); }
    static constexpr Time invalid() { return Time(); }
    // Rounded to the nearest tick of `timescale`; halves round away from zero.
    static Time fromSeconds(double seconds, int32_t timescale = 600);

    double seconds() const;  // value / timescale in double; NaN when invalid
    bool isValid() const { return valid; }

    // Same instant on another timescale, rounded to nearest (exact when the scales divide).
    Time convertScale(int32_t newTimescale) const;

    std::string toString() const;
};

// Exact when the common timescale (the least common multiple) fits 32 bits; otherwise both are
// taken to the larger timescale, rounding to nearest.
Time operator+(const Time& a, const Time& b);
Time operator-(const Time& a, const Time& b);
int compare(const Time& a, const Time& b);  // -1, 0, 1; invalid times sort first
inline bool operator==(const Time& a, const Time& b) {
    return compare(a, b) == 0;
}
inline bool operator!=(const Time& a, const Time& b) {
    return compare(a, b) != 0;
}
inline bool operator<(const Time& a, const Time& b) {
    return compare(a, b) < 0;
}
inline bool operator<=(const Time& a, const Time& b) {
    return compare(a, b) <= 0;
}
inline bool operator>(const Time& a, const Time& b) {
    return compare(a, b) > 0;
}
inline bool operator>=(const Time& a, const Time& b) {
    return compare(a, b) >= 0;
}
Time min(const Time& a, const Time& b);
Time max(const Time& a, const Time& b);

struct TimeRange {
    Time start = Time::zero();
    Time duration = Time::zero();

    TimeRange() = default;
    TimeRange(Time s, Time d) : start(s), duration(d) {}
    static TimeRange fromStartEnd(const Time& s, const Time& e) { return TimeRange(s, e - s); }

    Time end() const { return start + duration; }
    bool isEmpty() const { return duration.value <= 0; }
    // Half-open: start <= t < end.
    bool contains(const Time& t) const { return t >= start && t < end(); }
    // The overlap; when the ranges are disjoint the result is empty and starts at the later start.
    TimeRange intersection(const TimeRange& other) const;
    bool operator==(const TimeRange& o) const { return start == o.start && duration == o.duration; }
};

}  // namespace media
