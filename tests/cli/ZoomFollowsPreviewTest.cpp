// A recording made with the virtual camera while the zoom rests, jumps, rests and jumps again, as
// the camera screen's keys make it: its export must show at every frame the zoom the preview
// showed when the frame was captured. The zoom of each exported frame is measured from the
// picture itself: the centre mark's neighbourhood of the recorded frame, magnified about the
// centre by a trial factor, is compared with the exported frame, and the best factor wins.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "ZoomTrack.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::quote;
using testsupport::run;

namespace {

// The last line a command printed: the path it made.
std::string lastLine(const std::string& out) {
    std::string s = out;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s.substr(s.rfind('\n') == std::string::npos ? 0 : s.rfind('\n') + 1);
}

double bilinear(const testsupport::LumaFrame& f, double x, double y) {
    x = std::clamp(x - 0.5, 0.0, f.width - 1.001);
    y = std::clamp(y - 0.5, 0.0, f.height - 1.001);
    const int x0 = int(x), y0 = int(y);
    const double fx = x - x0, fy = y - y0;
    return (f.at(x0, y0) * (1 - fx) + f.at(x0 + 1, y0) * fx) * (1 - fy) +
           (f.at(x0, y0 + 1) * (1 - fx) + f.at(x0 + 1, y0 + 1) * fx) * fy;
}

// How far the exported picture differs from the source magnified by z about the centre, over the
// centre mark's square of the output (the cross, the ring and the grid around them).
double mismatch(const testsupport::LumaFrame& source, const testsupport::LumaFrame& exported, double z) {
    const double cx = exported.width / 2.0, cy = exported.height / 2.0;
    double sum = 0;
    int n = 0;
    for (int y = int(cy) - 70; y < int(cy) + 70; y += 2)
        for (int x = int(cx) - 70; x < int(cx) + 70; x += 2) {
            const double sx = (x + 0.5 - cx) / z + cx, sy = (y + 0.5 - cy) / z + cy;
            sum += std::fabs(exported.at(x, y) - bilinear(source, sx, sy));
            ++n;
        }
    return sum / n;
}

double measuredZoom(const testsupport::LumaFrame& source, const testsupport::LumaFrame& exported) {
    double best = 1.0, bestError = 1e300;
    for (double z = 1.0; z <= 2.6; z += 0.01) {
        const double e = mismatch(source, exported, z);
        if (e < bestError) bestError = e, best = z;
    }
    return best;
}

}  // namespace

TEST(ExportFollowsPreview, TheExportedZoomIsTheZoomThePreviewShowedAtEachFrame) {
    testsupport::TempHome home;  // inherited by the commands
    const std::string cli = quote(TAVRIO_CLI);
    std::string out;
    // Rest at 1.0, a jump to 1.6, rest, a jump to 2.2, rest: each jump a key press of the
    // camera screen, played through the same zoom sampler.
    ASSERT_EQ(run(cli + " record --seconds 4.5 --orientation landscape --camera virtual --mic none " +
                      "--quality 640x480 --zoom 0:1,1.5:1.6,3:2.2 2>/dev/null",
                  &out),
              0)
        << out;
    const std::string recording = lastLine(out);
    const auto track =
        readZoomTrackFile(QString::fromStdString((home.path() / "Library" / "Zooms").string()) + "/" +
                          QString::fromStdString(fs::path(recording).filename().string()) + ".zooms.lkbx");
    ASSERT_TRUE(track && track->size() >= 3) << recording;
    // What the preview showed at time t: the last value set at or before t.
    auto previewAt = [&](double t) {
        float z = track->entries.front().zoom;
        for (const media::ZoomEntry& e : *track)
            if (e.atTime <= t) z = e.zoom;
        return double(z);
    };
    std::vector<double> changes;
    for (qsizetype i = 1; i < track->size(); ++i)
        if ((*track)[i].zoom != ((*track)[i - 1]).zoom) changes.push_back((*track)[i].atTime);
    ASSERT_EQ(changes.size(), 2u);

    ASSERT_EQ(run(cli + " export " + quote(recording) + " --preset best --rescale good 2>/dev/null", &out), 0) << out;
    const std::string exported = lastLine(out);

    testsupport::MovieFacts src, exp;
    ASSERT_TRUE(testsupport::readMovie(recording, src));
    ASSERT_TRUE(testsupport::readMovie(exported, exp));
    ASSERT_FALSE(src.frames.empty());
    ASSERT_FALSE(exp.frames.empty());
    ASSERT_EQ(exp.frames[0].width, src.frames[0].width);

    int compared = 0;
    for (size_t k = 0; k < exp.frames.size(); k += 2) {
        const testsupport::LumaFrame& e = exp.frames[k];
        // The recorded picture this frame shows: the last one captured by its time.
        const testsupport::LumaFrame* s = &src.frames.front();
        for (const auto& f : src.frames)
            if (f.time <= e.time + 1e-6) s = &f;
        // A change glides for up to 0.25 s; the frame before it shows the composition at its
        // own output time, which may already be past the change.
        const bool nearChange = std::any_of(changes.begin(), changes.end(),
                                            [&](double c) { return s->time > c - 1.0 / 30 && s->time < c + 0.25; });
        if (nearChange) continue;
        const double shown = previewAt(s->time);
        EXPECT_NEAR(measuredZoom(*s, e), shown, 0.05) << "frame at " << e.time << " s, captured at " << s->time;
        ++compared;
    }
    EXPECT_GT(compared, 40);
}

TEST(ExportFollowsPreview, ARecordingZoomedAgainExportsItsNewZoom) {
    testsupport::TempHome home;
    const std::string cli = quote(TAVRIO_CLI);
    std::string out;
    ASSERT_EQ(run(cli + " record --seconds 3 --orientation landscape --camera virtual --mic none " +
                      "--quality 640x480 --zoom 0:2.2 2>/dev/null",
                  &out),
              0)
        << out;
    const std::string recording = lastLine(out);
    // The recorded 2.2x replaced by a rest at 1.0, a quick glide and a rest at 1.8.
    ASSERT_EQ(run(cli + " zooms " + quote(recording) + " --set 0:1,1.4:1,1.5:1.8 2>&1", &out), 0) << out;
    ASSERT_EQ(run(cli + " export " + quote(recording) + " --preset best --rescale good 2>/dev/null", &out), 0) << out;
    const std::string exported = lastLine(out);

    testsupport::MovieFacts src, exp;
    ASSERT_TRUE(testsupport::readMovie(recording, src));
    ASSERT_TRUE(testsupport::readMovie(exported, exp));
    ASSERT_FALSE(src.frames.empty());
    int compared = 0;
    for (size_t k = 0; k < exp.frames.size(); k += 3) {
        const testsupport::LumaFrame& e = exp.frames[k];
        if (e.time > 1.3 && e.time < 1.6) continue;  // the glide
        const testsupport::LumaFrame* s = &src.frames.front();
        for (const auto& f : src.frames)
            if (f.time <= e.time + 1e-6) s = &f;
        EXPECT_NEAR(measuredZoom(*s, e), e.time < 1.4 ? 1.0 : 1.8, 0.05) << "frame at " << e.time << " s";
        ++compared;
    }
    EXPECT_GT(compared, 20);
}
