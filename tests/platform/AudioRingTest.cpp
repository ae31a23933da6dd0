#include <gtest/gtest.h>

#include <QByteArray>

#include "platform/AudioSinkOutput.h"

using platform::AudioRing;

// The sink's clock is what it pulled of the player's sound: silence it gets while the ring is
// dry must not count, or the pictures would run ahead of the sound.
TEST(AudioRing, CountsOnlyRealSoundAndHoldsNoMoreThanItsCapacity) {
    AudioRing ring(8);
    ring.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    EXPECT_EQ(ring.push("abcdef", 6), 6);
    EXPECT_EQ(ring.push("ghij", 4), 2) << "only what fits";
    QByteArray got = ring.read(5);
    EXPECT_EQ(got, QByteArray("abcde"));
    EXPECT_EQ(ring.consumed(), 5);
    got = ring.read(6);
    ASSERT_EQ(got.size(), 6) << "a dry ring pads with silence";
    EXPECT_EQ(got, QByteArray("fgh\0\0\0", 6));
    EXPECT_EQ(ring.consumed(), 8);
    ring.push("xy", 2);
    ring.clear();
    EXPECT_EQ(ring.consumed(), 0);
    EXPECT_EQ(ring.read(2), QByteArray("\0\0", 2)) << "cleared sound is never played";
    EXPECT_EQ(ring.consumed(), 0);
}
