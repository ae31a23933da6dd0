// Every real movie in the shared folder goes through the engine: it opens or fails with a clear
// error, its first picture is made or refused, and an export completes or fails cleanly.
// Nothing crashes or hangs, and no source changes.

#include <gtest/gtest.h>

#include <filesystem>

#include "media/Asset.h"
#include "media/ExportSession.h"
#include "media/ImageGenerator.h"
#include "media/MediaTestSupport.h"
#include "support/TestSupport.h"

using namespace media;
using namespace mediatest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> sharedMovies() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(TAVRIO_SHARED_MEDIA, ec))
        if (e.is_regular_file() && e.path().extension() != ".md") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SharedMovie : public testing::TestWithParam<std::string> {};

void expectCleanError(const Error& e) {
    EXPECT_TRUE(e.isError());
    EXPECT_FALSE(e.description.empty());
    EXPECT_FALSE(e.failureReason.empty());
}

}  // namespace

TEST_P(SharedMovie, OpensExportsOrFailsCleanly) {
    const std::string path = (fs::path(TAVRIO_SHARED_MEDIA) / GetParam()).string();
    const std::string before = fileDigest(path);
    testsupport::TempDir dir;

    Error e;
    auto asset = Asset::open(path, &e);
    if (!asset) {
        expectCleanError(e);
        EXPECT_FALSE(e.recoverySuggestion.empty());
        return;
    }
    const auto video = asset->tracksWithMediaType(MediaType::Video);
    for (const auto& t : video) {
        EXPECT_TRUE(t.preferredTransform.isFinite());
        EXPECT_NE(t.preferredTransform.determinant(), 0.0f);
    }

    ImageGenerator g(path);
    g.setAppliesPreferredTrackTransform(true);
    g.setMaximumSize({160, 160});
    Error thumbError;
    RgbImage thumb = g.copyFirstImage(&thumbError);
    if (thumb.isNull()) {
        expectCleanError(thumbError);
    } else {
        EXPECT_LE(thumb.width, 160);
        EXPECT_LE(thumb.height, 160);
        EXPECT_GT(thumb.width, 0);
    }

    // A zoomed export the way the app makes one, at a small size to keep this quick.
    const bool hasVideo = !video.empty();
    ExportSession s(asset, ExportPreset::MediumQuality);
    const std::string out = dir.str() + "/out.mov";
    s.setOutputPath(out);
    if (hasVideo && asset->duration().isValid()) {
        s.setVideoComposition(zoomComposition(video[0].naturalSize, asset->duration(), 1, 2));
    }
    const auto status = runExport(s);
    if (status == ExportSession::Status::Completed) {
        auto result = Asset::open(out, &e);
        ASSERT_TRUE(result) << "a completed export must be a readable movie: " << e.failureReason;
        EXPECT_EQ(result->tracksWithMediaType(MediaType::Video).size(), hasVideo ? 1u : 0u);
        for (const auto& t : result->tracks()) EXPECT_NE(t.mediaType, MediaType::Other);
        if (hasVideo) {
            const Size size = result->tracksWithMediaType(MediaType::Video)[0].naturalSize;
            EXPECT_GT(size.width, 0);
            EXPECT_LE(std::max(size.width, size.height), 480);
        }
    } else {
        EXPECT_EQ(status, ExportSession::Status::Failed);
        expectCleanError(s.error());
    }

    ExportSession copy(asset, ExportPreset::Passthrough);
    copy.setOutputPath(dir.str() + "/copy.mov");
    if (runExport(copy) == ExportSession::Status::Completed) {
        EXPECT_TRUE(Asset::open(dir.str() + "/copy.mov"));
    } else {
        EXPECT_EQ(copy.status(), ExportSession::Status::Failed);
        expectCleanError(copy.error());
    }
    EXPECT_EQ(fileDigest(path), before);
}

// A checkout without the shared movies beside it has no instances; that is not a failure.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SharedMovie);
INSTANTIATE_TEST_SUITE_P(All, SharedMovie, testing::ValuesIn(sharedMovies()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });
