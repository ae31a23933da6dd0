#include <gtest/gtest.h>

#include "PreviewGeometry.h"
#include "media/ZoomCurve.h"

using namespace preview;

namespace {

const QSizeF kScreen(320, 480);
const QSizeF kHd(1280, 720);
const QSizeF kVga(640, 480);

QPointF poi(QPointF tap, double scale, QSizeF picture, int mounting, bool fullScreen) {
    return pointOfInterest(tap, kScreen * scale, scale, picture, mounting, fullScreen);
}

void expectPoint(QPointF got, double x, double y, double tolerance = 1e-6) {
    EXPECT_NEAR(got.x(), x, tolerance) << "x of (" << got.x() << ", " << got.y() << ")";
    EXPECT_NEAR(got.y(), y, tolerance) << "y of (" << got.x() << ", " << got.y() << ")";
}

media::Point map(const media::AffineTransform& t, double x, double y) {
    return t.apply({x, y});
}

}  // namespace

TEST(PreviewStrips, PhoneMountingGivesTheSideStripsOfTheExamples) {
    EXPECT_EQ(stripsFor(kScreen, kHd, 90).sideWidth, 25);
    EXPECT_EQ(stripsFor(kScreen, kHd, 90).barHeight, 0);
    // A 4:3 picture turned is wider than the screen: the strip width goes negative and is kept.
    EXPECT_EQ(stripsFor(kScreen, kVga, 90).sideWidth, -20);
    EXPECT_EQ(stripsFor(kScreen, kVga, 270).sideWidth, -20);
    EXPECT_EQ(blackStripWidth(kScreen, turnedSize(kHd, 90)), 25);
}

TEST(PreviewStrips, UprightWebcamPicturesGetBarsAboveAndBelow) {
    // 320 wide shows 1280x720 180 points high: (480 - 180) / 2 above and below.
    EXPECT_EQ(stripsFor(kScreen, kHd, 0).barHeight, 150);
    EXPECT_EQ(stripsFor(kScreen, kHd, 0).sideWidth, 0);
    EXPECT_EQ(stripsFor(kScreen, kVga, 180).barHeight, 120);
    // A picture narrower than the view on an upright camera still gets side strips.
    EXPECT_EQ(stripsFor(kScreen, QSizeF(480, 1280), 0).sideWidth, 70);
    EXPECT_EQ(stripsFor(kScreen, QSizeF(480, 1280), 0).barHeight, 0);
}

TEST(PreviewStrips, NoPictureMeansNoStrips) {
    EXPECT_EQ(stripsFor(kScreen, QSizeF(), 90).sideWidth, 0);
    EXPECT_EQ(stripsFor(kScreen, QSizeF(0, 720), 0).barHeight, 0);
    EXPECT_EQ(normalizedMounting(-90), 270);
    EXPECT_EQ(normalizedMounting(450), 90);
    EXPECT_EQ(normalizedMounting(45), 0);
}

TEST(PointOfInterest, QuarterTurnWithSideStrips) {
    expectPoint(poi({160, 240}, 1, kHd, 90, false), 0.5, 0.5);
    expectPoint(poi({25, 0}, 1, kHd, 90, false), 0, 1);
    expectPoint(poi({295, 480}, 1, kHd, 90, false), 1, 0);
    // On a strip: the centre.
    expectPoint(poi({10, 100}, 1, kHd, 90, false), 0.5, 0.5);
    expectPoint(poi({300, 100}, 1, kHd, 90, false), 0.5, 0.5);
}

TEST(PointOfInterest, ZoomAndFullScreenAreUndoneAboutTheCentre) {
    // Zoom 2: the screen's edge of the shown picture is a quarter in from the picture's edge.
    expectPoint(poi({25, 0}, 2, kHd, 90, false), 0.25, 0.75);
    // Full screen: the strips are off the screen, so the tap is taken from the screen's left
    // edge over the picture's width; k = (1 - 3/4) / 2.
    const double s = double(kFullScreenScale);
    expectPoint(poi({0, 0}, s, kHd, 90, true), 0.125, 0.875, 1e-6);
    expectPoint(poi({160, 240}, s, kHd, 90, true), 0.5 / s + (1 - 1 / s) / 2, 1 - ((160.0 / 270) / s + (1 - 1 / s) / 2),
                1e-6);
}

TEST(PointOfInterest, PictureWiderThanTheViewUsesTheBarsBranch) {
    // Upright 16:9 webcam: the picture is 320 x 180 between bars of 150.
    expectPoint(poi({0, 150}, 1, kHd, 0, false), 0, 0);
    expectPoint(poi({320, 330}, 1, kHd, 0, false), 1, 1);
    expectPoint(poi({80, 195}, 1, kHd, 0, false), 0.25, 0.25);
    expectPoint(poi({160, 100}, 1, kHd, 0, false), 0.5, 0.5);  // on a bar
    // A 4:3 picture turned a quarter is wider too; the phone's axes: x down the screen.
    expectPoint(poi({0, 80.0 / 3}, 1, kVga, 90, false), 0, 1, 1e-9);
}

TEST(PointOfInterest, OtherMountingsTurnTheAxesBack) {
    expectPoint(poi({25, 0}, 1, kHd, 270, false), 1, 0);
    expectPoint(poi({0, 150}, 1, kHd, 180, false), 1, 1);
    // No picture yet: the centre.
    expectPoint(poi({25, 0}, 1, QSizeF(), 90, false), 0.5, 0.5);
}

TEST(PreviewTransform, TurnsFitsAndScalesAboutTheCentre) {
    const auto t = pictureToView(kHd, 90, kScreen, 1.0f);
    // The sensor's top left lands at the top right of the shown picture, its bottom right at
    // the bottom left: the picture sits between the 25-point strips.
    auto p = map(t, 0, 0);
    EXPECT_NEAR(p.x, 295, 1e-3);
    EXPECT_NEAR(p.y, 0, 1e-3);
    p = map(t, 1280, 720);
    EXPECT_NEAR(p.x, 25, 1e-3);
    EXPECT_NEAR(p.y, 480, 1e-3);
    // Scale 2 doubles every distance from the screen's centre.
    const auto t2 = pictureToView(kHd, 90, kScreen, 2.0f);
    p = map(t2, 0, 0);
    EXPECT_NEAR(p.x, 160 + 2 * 135, 1e-3);
    EXPECT_NEAR(p.y, 240 - 2 * 240, 1e-3);
    // Upright: between the bars.
    const auto t0 = pictureToView(kHd, 0, kScreen, 1.0f);
    p = map(t0, 1280, 0);
    EXPECT_NEAR(p.x, 320, 1e-3);
    EXPECT_NEAR(p.y, 150, 1e-3);
    const auto t270 = pictureToView(kHd, 270, kScreen, 1.0f);
    p = map(t270, 0, 0);
    EXPECT_NEAR(p.x, 25, 1e-3);
    EXPECT_NEAR(p.y, 480, 1e-3);
}

TEST(PreviewTransform, MatchesTheExportsMagnification) {
    // An upright picture shown at its own size is the export's frame: at every zoom, each source
    // point that is on screen must land where the export's transform puts it, far inside a
    // quarter pixel (the export's transform carries a tiny rotation the preview leaves out).
    for (float z : {1.0f, 1.37f, 2.0f, 2.999f}) {
        const auto shown = pictureToView(kHd, 0, kHd, z);
        const auto exported = media::zoomTransform(z, 1280, 720);
        const double hw = 640 / z, hh = 360 / z;
        for (auto [x, y] : {std::pair{640 - hw, 360 - hh},
                            {640.0, 360.0},
                            {640 + hw, 360 + hh},
                            {640 - hw, 360 + hh},
                            {600.25, 333.5}}) {
            const auto a = map(shown, x, y), b = map(exported, x, y);
            EXPECT_NEAR(a.x, b.x, 0.05) << z << " at " << x << "," << y;
            EXPECT_NEAR(a.y, b.y, 0.05) << z << " at " << x << "," << y;
        }
    }
}

TEST(PreviewTransform, ZoomOfTheSliderAndTheFullScreenFactor) {
    EXPECT_EQ(zoomForSliderValue(0.0f), 1.0f);
    EXPECT_EQ(zoomForSliderValue(1.0f), 3.0f);
    EXPECT_EQ(zoomForSliderValue(0.5f), 2.0f);
    EXPECT_EQ(kFullScreenScale, 1.3333334f);
    EXPECT_EQ(previewScale(2.0f, true), 2.0f * 1.3333334f);
    EXPECT_EQ(previewScale(2.0f, false), 2.0f);
}
