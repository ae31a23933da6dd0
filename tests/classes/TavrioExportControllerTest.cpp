#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Settings.h"
#include "ZoomTrack.h"
#include "MediaStore.h"
#include "TavrioExportController.h"
#include "media/Asset.h"
#include "media/ExportPresets.h"
#include "support/MovieWriter.h"
#include "support/TestPattern.h"
#include "platform/AlertService.h"
#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/Notifications.h"
#include "support/MovieFrames.h"
#include "support/QtApp.h"
#include "support/TestSupport.h"
#include "support/WorkWatch.h"
#include "platform/Background.h"

extern "C" {
#include <libavutil/frame.h>
}

using testsupport::spinUntil;
using Status = media::ExportSession::Status;

namespace {

constexpr int kW = 640, kH = 360;
// Dots around the centre; under zoom z each moves to centre + z * offset.
const std::vector<std::pair<double, double>> kDotOffsets{{-80, -45}, {80, -45}, {-80, 45}, {80, 45}};

// A still scene of soft dots over a gentle gradient, 2 s at 30 fps, with AAC sound.
void makeDotMovie(const std::string& path, double seconds = 2.0, bool audio = true) {
    media::MovieWriterSettings s;
    s.width = kW;
    s.height = kH;
    s.crf = 12;
    s.audioCodec = audio ? media::AudioCodec::Aac : media::AudioCodec::None;
    media::Error error;
    auto writer = media::MovieWriter::create(path, s, &error);
    ASSERT_TRUE(writer) << error.description << " " << error.failureReason;
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = kW;
    f->height = kH;
    ASSERT_EQ(av_frame_get_buffer(f, 0), 0);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double v = 40 + 20.0 * x / kW;
            for (auto [dx, dy] : kDotOffsets) {
                const double ex = x + 0.5 - (kW / 2.0 + dx), ey = y + 0.5 - (kH / 2.0 + dy);
                v += 180 * std::exp(-(ex * ex + ey * ey) / (2 * 2.2 * 2.2));
            }
            f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(std::lround(std::min(v, 235.0)));
        }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < kH / 2; ++y) std::fill_n(f->data[p] + y * f->linesize[p], kW / 2, 128);
    const int frames = static_cast<int>(std::lround(seconds * 30));
    std::vector<int16_t> tone(1470);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(8000 * std::sin(i * 0.06));
    for (int i = 0; i < frames; ++i) {
        ASSERT_TRUE(writer->writeVideoFrame(*f, media::Time(i, 30)));
        if (audio) {
            ASSERT_TRUE(writer->writeAudioSamples(tone.data(), static_cast<int>(tone.size())));
        }
    }
    ASSERT_TRUE(writer->finish()) << writer->error().description;
    av_frame_free(&f);
}

struct Recorder : TavrioExportControllerDelegate {
    std::vector<std::string> events;
    int progressTicks = 0;
    Status zoomStatus = Status::Unknown, rotationStatus = Status::Unknown;
    QString zoomPath, rotationPath;
    bool needsRotation = false;
    std::function<void(const std::string&)> onEvent;

    QStringList problems;

    void exportProblem(const QString& text) override {
        problems << text;
        note("problem");
    }
    void exportDidStart() override { note("start"); }
    void exportProgress(float p) override {
        EXPECT_GE(p, 0.0f);
        EXPECT_LE(p, 1.0f);
        ++progressTicks;
        if (onEvent) onEvent("progress");
    }
    void exportFinished(Status status, const QString& path, bool needs) override {
        zoomStatus = status;
        zoomPath = path;
        needsRotation = needs;
        note("finished");
    }
    void rotationDidStart() override { note("rotationStart"); }
    void rotationFinished(Status status, const QString& path) override {
        rotationStatus = status;
        rotationPath = path;
        note("rotationFinished");
    }
    void note(const std::string& e) {
        events.push_back(e);
        if (onEvent) onEvent(e);
    }
    bool done() const {
        if (rotationStatus != Status::Unknown) return true;
        return zoomStatus != Status::Unknown && !(zoomStatus == Status::Completed && needsRotation);
    }
};

class ExportJob : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::qtApp();
        setenv("TAVRIO_HOME", home.str().c_str(), 1);
        platform::Defaults::standard().setInteger(0, "exportOpt");
        platform::Defaults::standard().setInteger(0, "rescaleOpt");
        platform::AlertService::setPresenter([this](const platform::Alert& a) { alerts.push_back(a.message); });
        recording = MediaStore::filePathForRecording();
    }
    void TearDown() override { platform::AlertService::setPresenter({}); }

    void writeTrack(const ZoomTrack& track) {
        ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath(QFileInfo(recording).fileName()), track));
    }

    // The zoom of the ramp 1.0 -> 2.5 over [0, 1.2 s), then held.
    static double expectedZoom(double t) { return t < 1.2 ? 1.0 + 1.5 * t / 1.2 : 2.5; }
    ZoomTrack rampTrack(qint64 orient) { return ZoomTrack{{{1.0f, 0.0}, {2.5f, 1.2}}, orient}; }

    void runJob(TavrioExportController& job, Recorder& r) {
        job.setDelegate(&r);
        job.startExporting();
        ASSERT_TRUE(spinUntil([&] { return r.done(); }));
    }

    QStringList documentsMovies() const {
        return QDir(MediaStore::baseDirForVideos()).entryList({"*.mov"}, QDir::Files);
    }

    testsupport::TempDir home;
    QString recording;
    std::vector<QString> alerts;
};

void expectZoomFollowsTrack(const std::string& path, const std::function<double(double)>& zoomAt, double tolerance) {
    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(path, facts));
    ASSERT_EQ(facts.frames.size(), 60u);  // 2 s at 30 fps
    EXPECT_NEAR(facts.videoDuration, 2.0, 1.0 / 30);
    for (int k : {0, 12, 24, 36, 48, 59}) {
        const auto& f = facts.frames[k];
        EXPECT_NEAR(f.time, k / 30.0, 1e-3);
        const double z = zoomAt(k / 30.0);
        for (auto [dx, dy] : kDotOffsets) {
            const double ex = kW / 2.0 + z * dx, ey = kH / 2.0 + z * dy;
            auto c = testsupport::brightCentroid(f, ex, ey, 9);
            ASSERT_TRUE(c.found) << "frame " << k;
            EXPECT_NEAR(c.x, ex, tolerance) << "frame " << k << " zoom " << z;
            EXPECT_NEAR(c.y, ey, tolerance) << "frame " << k << " zoom " << z;
        }
    }
}

}  // namespace

TEST_F(ExportJob, LandscapeExportFollowsTheTrackInBothRescaleQualities) {
    makeDotMovie(recording.toStdString());
    writeTrack(rampTrack(3));
    for (int rescale : {0, 1}) {
        // The setting is read when the export starts, not when the job is made.
        platform::Defaults::standard().setInteger(1 - rescale, "rescaleOpt");
        TavrioExportController job(recording);
        platform::Defaults::standard().setInteger(rescale, "rescaleOpt");
        Recorder r;
        runJob(job, r);
        EXPECT_EQ(r.zoomStatus, Status::Completed);
        EXPECT_FALSE(r.needsRotation);
        EXPECT_EQ(r.events.front(), "start");
        EXPECT_EQ(r.events.back(), "finished");
        EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "rotationStart"), 0);
        EXPECT_TRUE(QFileInfo(r.zoomPath).fileName().startsWith("Video"));
        EXPECT_EQ(QFileInfo(r.zoomPath).dir().absolutePath(), QDir(MediaStore::baseDirForVideos()).absolutePath());
        expectZoomFollowsTrack(r.zoomPath.toStdString(), expectedZoom, 0.25);
        testsupport::MovieFacts facts;
        ASSERT_TRUE(testsupport::readMovie(r.zoomPath.toStdString(), facts, 1000));
        EXPECT_EQ(facts.audioCodec, "aac");
        EXPECT_FALSE(job.zooms().has_value());  // the track is let go when the pass ends
    }
    EXPECT_TRUE(QFileInfo::exists(recording));  // the job never touches its source
    EXPECT_EQ(documentsMovies(), (QStringList{"Video-1.mov", "Video.mov"}));
}

TEST_F(ExportJob, PortraitRecordingComesOutUprightWithTheZoomPassUnchanged) {
    makeDotMovie(recording.toStdString());
    writeTrack(rampTrack(3));
    QString landscapePath;
    {
        TavrioExportController job(recording);
        Recorder r;
        runJob(job, r);
        ASSERT_EQ(r.zoomStatus, Status::Completed);
        landscapePath = r.zoomPath;
    }
    writeTrack(rampTrack(1));
    // A left-over intermediate from an interrupted export is replaced, not appended to.
    testsupport::writeFile((MediaStore::baseDirForVideos() + "/For_Portrait_Exporting.mov").toStdString(), "junk");
    TavrioExportController job(recording);
    Recorder r;
    runJob(job, r);
    EXPECT_EQ(r.zoomStatus, Status::Completed);
    EXPECT_TRUE(r.needsRotation);
    EXPECT_EQ(QFileInfo(r.zoomPath).fileName(), "For_Portrait_Exporting.mov");
    EXPECT_EQ(r.rotationStatus, Status::Completed);
    EXPECT_EQ(r.events, (std::vector<std::string>{"start", "finished", "rotationStart", "rotationFinished"}));
    EXPECT_FALSE(QFileInfo::exists(r.zoomPath));
    EXPECT_EQ(QFileInfo(r.rotationPath).fileName(), "Video-1.mov");

    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(r.rotationPath.toStdString(), facts, 1000));
    ASSERT_TRUE(facts.hasDisplayMatrix);
    const int32_t portrait[9] = {0, 65536, 0, -65536, 0, 0, 0, 0, 1 << 30};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(facts.displayMatrix[i], portrait[i]) << i;
    EXPECT_EQ(facts.audioCodec, "aac");

    // The rotation re-wraps the zoom pass's samples: the same encoded pictures as the
    // landscape export of the same track.
    std::vector<uint64_t> a, b;
    ASSERT_TRUE(testsupport::videoPacketDigest(landscapePath.toStdString(), a));
    ASSERT_TRUE(testsupport::videoPacketDigest(r.rotationPath.toStdString(), b));
    EXPECT_EQ(a, b);

    std::string probe;
    ASSERT_EQ(
        testsupport::run(
            "ffprobe -v error -select_streams v:0 -show_streams '" + r.rotationPath.toStdString() + "' 2>&1", &probe),
        0);
    EXPECT_NE(probe.find("rotation=-90"), std::string::npos) << probe;
}

TEST_F(ExportJob, CancelAtAnyMomentLeavesNothingAndResignActiveCancelsNothing) {
    makeDotMovie(recording.toStdString(), 6.0);
    writeTrack(rampTrack(1));
    {
        // Cancelled by the user while the zoom pass runs.
        TavrioExportController job(recording);
        Recorder r;
        r.onEvent = [&](const std::string& e) {
            if (e == "progress") job.cancelExporting();
        };
        runJob(job, r);
        EXPECT_EQ(r.zoomStatus, Status::Cancelled);
        EXPECT_TRUE(r.needsRotation);  // the flag follows the orientation only
        EXPECT_EQ(r.rotationStatus, Status::Unknown);
        EXPECT_FALSE(QFileInfo::exists(r.zoomPath));
    }
    {
        // The desktop going inactive (minimized, locked, asleep) is no cancel; a cancel sent
        // between the passes, as the zoom pass's end is heard, is honoured: no rotation runs
        // and the intermediate goes.
        TavrioExportController job(recording);
        Recorder r;
        r.onEvent = [&](const std::string& e) {
            if (e == "progress") platform::Notifications::center().post(platform::kWillResignActive);
            if (e == "finished") {
                EXPECT_TRUE(job.isExporting());
                job.cancelExporting();
            }
        };
        runJob(job, r);
        EXPECT_EQ(r.zoomStatus, Status::Completed);
        EXPECT_EQ(r.rotationStatus, Status::Cancelled);
        EXPECT_EQ(r.events, (std::vector<std::string>{"start", "finished", "rotationFinished"}));
        EXPECT_FALSE(job.isExporting());
        EXPECT_FALSE(QFileInfo::exists(r.zoomPath));
        // The rotation that was due, once its turn of the event loop comes, finds nothing to do.
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(r.events.size(), 3u);
    }
    {
        // Cancelled as the rotation pass starts: neither the intermediate nor the output stays.
        TavrioExportController job(recording);
        Recorder r;
        r.onEvent = [&](const std::string& e) {
            if (e == "rotationStart") job.cancelExporting();
        };
        runJob(job, r);
        EXPECT_EQ(r.zoomStatus, Status::Completed);
        EXPECT_EQ(r.rotationStatus, Status::Cancelled);
        EXPECT_FALSE(QFileInfo::exists(r.zoomPath));
        EXPECT_FALSE(QFileInfo::exists(r.rotationPath));
    }
    {
        // Cancelled while the intermediate is being opened for the rotation pass, off the UI
        // thread on a slow disk: the pass never starts, also once the opening is done.
        TavrioExportController job(recording);
        Recorder r;
        testsupport::WorkWatch slowDisk({"intermediate opened"}, true);
        job.setDelegate(&r);
        job.startExporting();
        ASSERT_TRUE(spinUntil([&] { return slowDisk.started() == 1 || r.done(); }));
        ASSERT_EQ(r.zoomStatus, Status::Completed);
        EXPECT_TRUE(job.isExporting());
        job.cancelExporting();
        EXPECT_EQ(r.rotationStatus, Status::Cancelled);
        slowDisk.release();
        platform::Background::drain();
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(r.events, (std::vector<std::string>{"start", "finished", "rotationFinished"}));
        EXPECT_FALSE(job.isExporting());
        EXPECT_FALSE(QFileInfo::exists(r.zoomPath));
    }
    EXPECT_TRUE(documentsMovies().isEmpty()) << documentsMovies().join(",").toStdString();
    EXPECT_TRUE(QFileInfo::exists(recording));
}

TEST_F(ExportJob, JobDestroyedDuringEitherPassWindsItUpAndLeavesNothing) {
    makeDotMovie(recording.toStdString(), 6.0);
    writeTrack(rampTrack(1));
    // During the zoom pass, between the passes (let go by the delegate as it hears the zoom
    // pass end), and during the rotation pass.
    for (const std::string when : {"progress", "finished", "rotationStart"}) {
        SCOPED_TRACE(when);
        auto job = std::make_unique<TavrioExportController>(recording);
        Recorder r;
        r.onEvent = [&](const std::string& e) {
            if (e != when) return;
            if (e == "finished")
                job.reset();
            else
                platform::MainThread::dispatchAsync([&] { job.reset(); });
        };
        job->setDelegate(&r);
        job->startExporting();
        ASSERT_TRUE(spinUntil([&] { return !job; }));
        // By the time the job is gone its pass has ended and what it left unfinished is removed.
        // A rotation pass can complete just before the job goes: its movie is whole and stays.
        const QStringList left = documentsMovies();
        if (!left.isEmpty()) {
            EXPECT_EQ(when, "rotationStart");
            ASSERT_EQ(left, QStringList{"Video.mov"});
            testsupport::MovieFacts facts;
            ASSERT_TRUE(testsupport::readMovie(MediaStore::baseDirForVideos().toStdString() + "/Video.mov", facts));
            EXPECT_EQ(facts.frames.size(), 180u);
            QFile::remove(MediaStore::baseDirForVideos() + "/Video.mov");
        }
        EXPECT_EQ(r.rotationStatus, Status::Unknown);
    }
    EXPECT_TRUE(QFileInfo::exists(recording));
}

TEST_F(ExportJob, DamagedOrMissingTrackExportsUnzoomed) {
    makeDotMovie(recording.toStdString(), 2.0, false);
    writeTrack(ZoomTrack{{{1.0f, 0.0}, {0.0f, 0.5}, {2.0f, 1.0}}, 3});
    {
        TavrioExportController job(recording);
        EXPECT_FALSE(job.zoomTrackProblemText().isEmpty());
        EXPECT_TRUE(job.zoomCurve()->isEmpty());
        Recorder r;
        runJob(job, r);
        ASSERT_EQ(r.zoomStatus, Status::Completed);
        EXPECT_FALSE(r.needsRotation);  // entry 0 still says landscape
        expectZoomFollowsTrack(
            r.zoomPath.toStdString(), [](double) { return 1.0; }, 0.25);
    }
    // No track at all: orientation 0, which goes through the rotation pass.
    QFile::remove(MediaStore::zoomsArchiveFilePath(QFileInfo(recording).fileName()));
    TavrioExportController job(recording);
    EXPECT_EQ(job.videoOrientation(), 0);
    Recorder r;
    runJob(job, r);
    EXPECT_EQ(r.rotationStatus, Status::Completed);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(ExportJob, MovieWithoutVideoIsReportedOnceForTheFrontEndToTellAndStillEnds) {
    // A sound-only file: the composition builders give nothing; the job reports it to its
    // delegate before the pass starts, raises no alert itself, and the export goes on.
    media::MovieWriterSettings s;
    s.audioCodec = media::AudioCodec::Aac;
    media::Error error;
    {
        auto writer = media::MovieWriter::create(recording.toStdString(), s, &error);
        ASSERT_TRUE(writer);
        std::vector<int16_t> silence(44100, 0);
        ASSERT_TRUE(writer->writeAudioSamples(silence.data(), 44100));
        ASSERT_TRUE(writer->finish());
    }
    TavrioExportController job(recording);
    EXPECT_FALSE(job.zoomCompositionForPreview().has_value());
    EXPECT_FALSE(job.zoomCompositionWithHighQualityRescaling().has_value());
    Recorder r;
    runJob(job, r);
    EXPECT_EQ(r.problems, QStringList{TavrioExportController::corruptMovieText()});
    ASSERT_GE(r.events.size(), 2u);
    EXPECT_EQ(r.events[0], "problem");
    EXPECT_EQ(r.events[1], "start");
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(r.zoomStatus == Status::Completed || r.zoomStatus == Status::Failed) << static_cast<int>(r.zoomStatus);
    if (r.zoomStatus == Status::Failed) {
        EXPECT_FALSE(QFileInfo::exists(r.zoomPath));
    }
}

TEST_F(ExportJob, BetterPresetsNeverGiveSmallerPicturesAndNeverEnlarge) {
    // Each export choice, best first, for sources a camera gives; what each gives is what the
    // session makes of it (exportOutputSize) after the choice meets the movie.
    const std::vector<media::Size> sources{{1920, 1080}, {1280, 720}, {960, 540}, {640, 480}, {480, 360}};
    for (const media::Size source : sources) {
        SCOPED_TRACE(std::to_string(source.width) + "x" + std::to_string(source.height));
        media::testpattern::MovieOptions options;
        options.writer.width = source.width;
        options.writer.height = source.height;
        options.writer.audioCodec = media::AudioCodec::None;
        options.frameCount = 2;
        media::Error error;
        ASSERT_TRUE(media::testpattern::makeMovie(recording.toStdString(), options, &error)) << error.description;
        auto asset = media::Asset::open(recording.toStdString());
        ASSERT_TRUE(asset);
        media::Size previous = source;
        for (int option = 0; option < 4; ++option) {
            SCOPED_TRACE(option);
            const media::ExportPreset preset = settings::exportPresetForOption(option, asset.get());
            const media::Size size = media::exportOutputSize(preset, source);
            EXPECT_LE(size.width, previous.width);
            EXPECT_LE(size.height, previous.height);
            EXPECT_LE(size.width, source.width);
            EXPECT_LE(size.height, source.height);
            EXPECT_NEAR(double(size.width) / size.height, double(source.width) / source.height, 0.02);
            previous = size;
        }
        // The worst choice fits the medium box; the best keeps the picture.
        EXPECT_LE(previous.width, 480);
        EXPECT_LE(previous.height, 360);
        EXPECT_EQ(media::exportOutputSize(settings::exportPresetForOption(0, asset.get()), source), source);
    }
    // What the settings choose is what the export makes: "Good" of a 640x480 recording keeps
    // its size (it once came out smaller than "Average").
    media::testpattern::MovieOptions options;
    options.writer.width = 640;
    options.writer.height = 480;
    options.writer.audioCodec = media::AudioCodec::None;
    options.frameCount = 2;
    ASSERT_TRUE(media::testpattern::makeMovie(recording.toStdString(), options));
    writeTrack(rampTrack(3));
    platform::Defaults::standard().setInteger(1, "exportOpt");
    TavrioExportController job(recording);
    Recorder r;
    runJob(job, r);
    ASSERT_EQ(r.zoomStatus, Status::Completed);
    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(r.zoomPath.toStdString(), facts));
    ASSERT_FALSE(facts.frames.empty());
    EXPECT_EQ(facts.frames[0].width, 640);
    EXPECT_EQ(facts.frames[0].height, 480);
}
