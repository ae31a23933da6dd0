// Each test runs in a process of its own (as CTest runs them): Qt keeps the first session bus it
// met for the whole process.
//
// The portal's camera access, against a test service that speaks org.freedesktop.portal.Camera
// on the test's private bus: the real xdg-desktop-portal offers that interface only with an
// access dialog backend, which needs a display and a person to answer it.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QTimer>
#include <QVariantMap>

#include <sys/socket.h>
#include <sys/un.h>

#include "CameraPortal.h"
#include "PrivatePipeWire.h"
#include "media/capture/DeviceBackends.h"
#include "support/QtApp.h"

using namespace media;

namespace {

class CameraService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Camera")
    Q_PROPERTY(uint version READ version)
    Q_PROPERTY(bool IsCameraPresent READ isCameraPresent)
public:
    CameraService(QDBusConnection bus, uint answer, std::string socket)
        : bus_(bus), answer_(answer), socket_(std::move(socket)) {}
    uint version() const { return 1; }
    bool isCameraPresent() const { return true; }
    int accessCalls = 0, remoteCalls = 0;

public slots:
    QDBusObjectPath AccessCamera(const QVariantMap& options, const QDBusMessage& call) {
        ++accessCalls;
        QString sender = call.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        // As the portal does: the answer comes later, as the Request's signal.
        QTimer::singleShot(50, this, [this, path] {
            QDBusMessage response = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"),
                                                               QStringLiteral("Response"));
            response << answer_ << QVariantMap();
            bus_.send(response);
        });
        return QDBusObjectPath(path);
    }
    QDBusUnixFileDescriptor OpenPipeWireRemote(const QVariantMap&) {
        ++remoteCalls;
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_.c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
        QDBusUnixFileDescriptor out(fd);
        ::close(fd);
        return out;
    }

private:
    QDBusConnection bus_;
    uint answer_;
    std::string socket_;
};

class CameraPortalTest : public pwtest::PrivatePipeWire {
protected:
    void SetUp() override {
        PrivatePipeWire::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        testsupport::qtApp();
    }

    CameraPortal::Result ask(uint answer, CameraService** service) {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QString::fromStdString(busAddress()), QStringLiteral("portal"));
        EXPECT_TRUE(bus.isConnected());
        auto* s = new CameraService(bus, answer, runtime_.str() + "/pipewire-0");
        bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), s,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        EXPECT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        *service = s;
        QObject context;
        std::optional<CameraPortal::Result> result;
        CameraPortal::request(&context, [&](const CameraPortal::Result& r) { result = r; });
        EXPECT_TRUE(testsupport::spinUntil([&] { return result.has_value(); }));
        return result.value_or(CameraPortal::Result{});
    }
};

}  // namespace

TEST_F(CameraPortalTest, AGrantedCameraIsReachedThroughThePortalsConnection) {
    launchCamera();
    // As in a sandbox, the user's PipeWire socket cannot be reached: only the portal's connection.
    ::setenv("PIPEWIRE_REMOTE", "no-such-socket", 1);
    EXPECT_FALSE(backends::pipeWireProblem().empty());
    CameraService* service = nullptr;
    const auto r = ask(0, &service);
    EXPECT_EQ(r.outcome, CameraPortal::Outcome::Granted) << r.reason.toStdString();
    EXPECT_EQ(service->accessCalls, 1);
    EXPECT_EQ(service->remoteCalls, 1);
    ASSERT_TRUE(pwtest::eventually([] { return pwtest::listed("pipewire:TestCam"); }));
    auto cam = CaptureDevice::deviceWithUniqueID("pipewire:TestCam");
    ASSERT_TRUE(cam);
    Error error;
    auto source = cam->openVideo({1280, 720}, 30, &error);
    ASSERT_TRUE(source) << error.description;
    VideoSample s;
    EXPECT_TRUE(source->read(s, &error));
}

TEST_F(CameraPortalTest, ARefusalIsToldAndNoConnectionIsTaken) {
    CameraService* service = nullptr;
    const auto r = ask(1, &service);
    EXPECT_EQ(r.outcome, CameraPortal::Outcome::Refused);
    EXPECT_FALSE(r.reason.isEmpty());
    EXPECT_EQ(service->remoteCalls, 0);
    EXPECT_TRUE(CameraPortal::refusalMessage().contains(QStringLiteral("Privacy")));
}

TEST_F(CameraPortalTest, WithoutAPortalPipeWireIsReachedDirectly) {
    // The bus is there, the portal is not.
    QObject context;
    std::optional<CameraPortal::Result> result;
    testsupport::qtApp();
    CameraPortal::request(&context, [&](const CameraPortal::Result& r) { result = r; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->outcome, CameraPortal::Outcome::NoPortal);
    startCamera();  // listed through the user's own socket
}

#include "CameraPortalTest.moc"
