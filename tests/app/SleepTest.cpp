// The system going to sleep while a take records. logind is a small service of this test on a
// private bus that stands for the system bus, reached over the real bus daemon; its Inhibit hands
// out the write end of a pipe, so the test sees the moment the program lets go of the lock.

#include "LaunchOptions.h"
#include "RecordingController.h"
#include "TavrioCameraController.h"
#include "MediaStore.h"
#include "ZoomTrack.h"

#include "media/Asset.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/AlertService.h"
#include "platform/SleepInhibitor.h"
#include "ui/ApplicationState.h"
#include "ui/Window.h"

#include "support/GuiApp.h"
#include "support/TestSupport.h"
#include "support/ZoomMoves.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

using testsupport::spinUntil;
using State = RecordingController::State;

namespace {

class Logind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Lock {
        QString what, who, why, mode;
        int readEnd = -1;
    };
    std::vector<Lock> locks;
    ~Logind() override {
        for (const Lock& l : locks) ::close(l.readEnd);
    }
    // Every copy of the lock's descriptor is closed: logind would let the system sleep now.
    bool released(size_t i) const {
        pollfd p{locks.at(i).readEnd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }
    void prepareForSleep(QDBusConnection bus, bool start) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << start;
        ASSERT_TRUE(bus.send(signal));
    }
public slots:
    Q_SCRIPTABLE QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                                 const QString& mode) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {};
        locks.push_back({what, who, why, mode, fds[0]});
        QDBusUnixFileDescriptor writeEnd(fds[1]);  // a copy of its own
        ::close(fds[1]);
        return writeEnd;
    }
};

}  // namespace

TEST(Sleep, ATakeHoldsADelayLockThatSleepEndsWithTheMovieWholeAndTheWakeTellsWhyAndRestartsTheCamera) {
    if (!testsupport::onPrivateSystemBus(
            "Sleep.ATakeHoldsADelayLockThatSleepEndsWithTheMovieWholeAndTheWakeTellsWhyAndRestartsTheCamera"))
        return;
    testsupport::guiApp();
    testsupport::TempHome home;
    std::vector<platform::Alert> alerts;
    platform::AlertService::setPresenter([&](const platform::Alert& a) { alerts.push_back(a); });

    Logind logind;
    QDBusConnection system = QDBusConnection::connectToBus(QDBusConnection::SystemBus, "logind");
    ASSERT_TRUE(system.isConnected());
    ASSERT_TRUE(system.registerService("org.freedesktop.login1"));
    ASSERT_TRUE(system.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportScriptableSlots));

    LaunchOptions options;
    options.camera = QString::fromLatin1(media::CaptureDevice::kVirtualCameraID);
    options.microphone = QStringLiteral("none");
    LaunchOptions::setCurrent(options);
    ui::Window window;
    ui::ApplicationState state(&window);
    auto* camera = new TavrioCameraController();
    window.setRootViewController(camera);
    window.resize(640, 360);
    window.show();
    RecordingController* recorder = camera->recorder();
    ASSERT_TRUE(spinUntil([&] { return recorder->isRecordEnabled(); }, 30000));
    ASSERT_TRUE(spinUntil([] { return platform::SleepInhibitor::instance().isChecked(); }, 10000));
    ASSERT_TRUE(platform::SleepInhibitor::instance().hasLogind());

    // A take holds a delay lock, asked for in plain words, and a stop lets go of it.
    QTest::keyClick(camera, Qt::Key_Space);
    ASSERT_TRUE(spinUntil([&] { return recorder->state() == State::Recording; }, 30000));
    ASSERT_TRUE(spinUntil([&] { return logind.locks.size() == 1; }, 10000));
    EXPECT_EQ(logind.locks[0].what, "sleep");
    EXPECT_EQ(logind.locks[0].who, "Tavrio");
    EXPECT_EQ(logind.locks[0].mode, "delay");
    EXPECT_TRUE(logind.locks[0].why.contains("record")) << logind.locks[0].why.toStdString();
    ASSERT_TRUE(spinUntil([] { return platform::SleepInhibitor::lockedCount() == 1; }, 10000));
    EXPECT_FALSE(logind.released(0));
    QTest::keyClick(camera, Qt::Key_Space);
    ASSERT_TRUE(spinUntil([&] { return logind.released(0); }, 30000));
    ASSERT_TRUE(spinUntil([&] { return recorder->state() == State::Idle && recorder->isRecordEnabled(); }, 30000));

    // Sleep during the next take: the take ends as a stop ends it, and the lock goes only once the
    // movie is whole on disk with its zoom track.
    QTest::keyClick(camera, Qt::Key_Space);
    ASSERT_TRUE(spinUntil([&] { return recorder->state() == State::Recording; }, 30000));
    ASSERT_TRUE(spinUntil([&] { return logind.locks.size() == 2; }, 10000));
    ASSERT_TRUE(spinUntil([] { return platform::SleepInhibitor::lockedCount() == 1; }, 10000));
    camera->zoomSliderChanged(0.5f);
    ASSERT_TRUE(
        spinUntil([&] { return recorder->captureManager().movieFileOutput()->recordedDuration() >= 1.0; }, 30000));
    const QString movie = recorder->moviePath();
    QSignalSpy finished(recorder, &RecordingController::movieFinished);
    logind.prepareForSleep(system, true);
    ASSERT_TRUE(spinUntil([&] { return logind.released(1); }, 30000));
    EXPECT_NE(recorder->state(), State::Recording);
    const auto asset = media::Asset::open(movie.toStdString());
    ASSERT_NE(asset, nullptr);
    EXPECT_GE(asset->duration().seconds(), 1.0);
    const auto track = readZoomTrackFile(MediaStore::zoomsArchiveFilePath(QFileInfo(movie).fileName()));
    ASSERT_TRUE(track);
    ASSERT_EQ(testsupport::movesOf(*track).size(), 2);
    EXPECT_FLOAT_EQ((testsupport::movesOf(*track)[1]).zoom, 2.0f);
    // Kept as any take is: the saving animation gets its thumbnail. The camera rests, unannounced.
    ASSERT_TRUE(spinUntil([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(finished[0][0].toString(), movie);
    EXPECT_FALSE(finished[0][1].value<QImage>().isNull());
    EXPECT_FALSE(recorder->isSessionRunning());
    EXPECT_FALSE(recorder->isRecordEnabled());
    EXPECT_TRUE(alerts.empty());

    // The wake: the window says why the take ended, and the camera runs again.
    logind.prepareForSleep(system, false);
    ASSERT_TRUE(spinUntil([&] { return !alerts.empty(); }, 10000));
    EXPECT_EQ(alerts[0].message.toStdString(), "The recording was ended and kept because the computer went to sleep.");
    ASSERT_TRUE(spinUntil([&] { return recorder->isSessionRunning() && recorder->isRecordEnabled(); }, 30000));
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(logind.locks.size(), 2u);
    LaunchOptions::setCurrent({});
}

#include "SleepTest.moc"
