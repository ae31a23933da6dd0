#include <gtest/gtest.h>

#include <cmath>

#include "media/AffineTransform.h"
#include "media/Time.h"

using namespace media;

TEST(Time, SecondsRoundToNearestTickAndSumExactly) {
    EXPECT_EQ(Time::fromSeconds(1.5), Time(900, 600));
    EXPECT_EQ(Time::fromSeconds(1.5).value, 900);
    EXPECT_EQ(Time::fromSeconds(0.0008333).value, 0);  // under half a tick
    EXPECT_EQ(Time::fromSeconds(0.00084).value, 1);    // over half a tick
    EXPECT_FALSE(Time::fromSeconds(std::nan("")).isValid());
    EXPECT_FALSE(Time::fromSeconds(INFINITY).isValid());

    // 1/30 + 1/600 on the common scale, with nothing lost.
    Time s = Time(1, 30) + Time(1, 600);
    EXPECT_EQ(s, Time(21, 600));
    EXPECT_EQ(Time(1, 3) + Time(1, 7), Time(10, 21));
    EXPECT_DOUBLE_EQ(Time(1, 3).seconds(), 1.0 / 3.0);
    EXPECT_LT(Time(1, 3), Time(334, 1000));
    EXPECT_GT(Time(1, 3), Time(333, 1000));
    // Values far beyond double precision still compare exactly.
    EXPECT_LT(Time(INT64_MAX - 1, 1000), Time(INT64_MAX, 1000));
}

TEST(TimeRange, EndsAndIntersections) {
    TimeRange r(Time(0, 600), Time(900, 600));
    EXPECT_EQ(r.end(), Time(900, 600));
    TimeRange d(Time(0, 1), Time(4, 1));
    TimeRange cut = TimeRange(Time(900, 600), Time(3000, 600)).intersection(d);
    EXPECT_EQ(cut.start, Time(900, 600));
    EXPECT_EQ(cut.end(), Time(4, 1));
    TimeRange none = TimeRange(Time(5, 1), Time(1, 1)).intersection(d);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(r.contains(Time::zero()));
    EXPECT_FALSE(r.contains(Time(900, 600)));
}

TEST(AffineTransform, ComposesInSourceSpaceAndInverts) {
    // Scale, then translate in the source space: the translation is scaled.
    AffineTransform t = AffineTransform::identity().scaled(2, 2).translated(-10, 5);
    EXPECT_FLOAT_EQ(t.tx, -20);
    EXPECT_FLOAT_EQ(t.ty, 10);
    Point p = t.apply({3, 4});
    EXPECT_DOUBLE_EQ(p.x, -14);
    EXPECT_DOUBLE_EQ(p.y, 18);
    Point back = t.inverted().apply(p);
    EXPECT_NEAR(back.x, 3, 1e-5);
    EXPECT_NEAR(back.y, 4, 1e-5);

    AffineTransform r = AffineTransform::makeRotation(static_cast<float>(M_PI / 2));
    EXPECT_NEAR(r.a, -4.371139e-08, 1e-12);
    EXPECT_FLOAT_EQ(r.b, 1);
    EXPECT_FLOAT_EQ(r.c, -1);
    auto m = r.toDisplayMatrix();
    EXPECT_EQ(m[0], 0);
    EXPECT_EQ(m[1], 65536);
    EXPECT_EQ(m[3], -65536);
    EXPECT_EQ(m[4], 0);
    EXPECT_EQ(m[8], 1 << 30);

    int32_t zero[9] = {0};
    EXPECT_TRUE(AffineTransform::fromDisplayMatrix(zero).isIdentity());
    AffineTransform degenerate{0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(degenerate.inverted().isIdentity());
}
