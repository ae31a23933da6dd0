// tavrio: the camera application's window.

#include "GuiAppDelegate.h"
#include "LaunchOptions.h"

#include "media/LibraryLog.h"
#include "platform/Background.h"
#include "platform/Bundle.h"
#include "platform/DeviceOrientation.h"
#include "platform/StallWatch.h"
#include "ui/Alerts.h"
#include "ui/Window.h"

#include <QApplication>

#include "ui/Theme.h"
#include <QIcon>
#include <QLoggingCategory>
#include <QTimer>

#include <QGuiApplication>

#include <dlfcn.h>
#include <sys/socket.h>

#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

// The X server's process when it runs on this machine (0 otherwise): the peer of the display
// connection's socket. libxcb is asked through the loaded platform plugin, so that nothing is
// linked for it and other platforms simply have none.
int localDisplayServer() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return 0;
    // Loaded by the platform plugin already; NOLOAD only finds it.
    void* xcb = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!xcb) return 0;
    using FileDescriptor = int (*)(void*);
    auto fileDescriptor = reinterpret_cast<FileDescriptor>(::dlsym(xcb, "xcb_get_file_descriptor"));
    ::dlclose(xcb);
    if (!fileDescriptor) return 0;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fileDescriptor(x11->connection()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return 0;
    return peer.pid;
}

}  // namespace

int main(int argc, char** argv) {
    // Options that only print are answered before any display is needed.
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const LaunchOptions options = LaunchOptions::parse(args);
    switch (options.action) {
    case LaunchOptions::Action::Help: std::fputs(qPrintable(LaunchOptions::usage()), stdout); return 0;
    case LaunchOptions::Action::Version:
        std::printf("tavrio %s\n%s\n", TAVRIO_VERSION, qPrintable(platform::Bundle::copyrightNotice()));
        return 0;
    case LaunchOptions::Action::Error:
        std::fprintf(stderr, "tavrio: %s\n%s", qPrintable(options.error), qPrintable(LaunchOptions::usage()));
        return 2;
    case LaunchOptions::Action::Run: break;
    }
    LaunchOptions::setCurrent(options);
    // As in tavrio-cli: a file-size limit ends an export or a save with an error the screen
    // reports, instead of killing the window with the user's work; the libraries' own lines
    // stay hidden unless TAVRIO_FFMPEG_LOG=1.
    std::signal(SIGXFSZ, SIG_IGN);
    media::setLibraryLogLevel(qEnvironmentVariableIntValue("TAVRIO_FFMPEG_LOG") == 1 ? media::LibraryLogLevel::Verbose
                                                                                     : media::LibraryLogLevel::Quiet);
    // Debug lines (screens appearing and the like) only when asked for with QT_LOGGING_RULES.
    QLoggingCategory::setFilterRules(QStringLiteral("tavrio.*.debug=false"));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrio"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.tavrio.Tavrio"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Resources/tavrio.png")));
    ui::theme::apply();
    // Debug builds, and any build run with TAVRIO_STALL_MS, log each time the UI thread is held.
    platform::StallWatch::installFromEnvironment();
    platform::StallWatch::setDisplayServer(localDisplayServer());

    ui::Window window;
    ui::AlertPresenter::install(&window);
    if (options.quitAfterFirstPaint)
        QObject::connect(&window, &ui::Window::firstPaint, &app, [] {
            // The wall-clock time, for the start-up benchmark to set against the launch.
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::fprintf(stderr, "first paint at %lld\n",
                         static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        });

    GuiAppDelegate delegate(&window);
    delegate.didFinishLaunching();
    // A recording orientation given on the command line wins over a sensor. The sensor's plugins
    // take a while to load, and nothing needs the orientation before the window is up.
    window.afterFirstPaint(&app, [orientation = options.orientation] {
        if (orientation != platform::DeviceOrientation::Unknown || !platform::DeviceOrientation::startSensor())
            platform::DeviceOrientation::setOrientation(orientation);
    });
    const int status = QApplication::exec();
    ui::AlertPresenter::uninstall();
    // Background work still running (a device listing, a thumbnail, a copy into Videos) is
    // finished rather than cut off: a library it loads while the process unloads its own
    // aborts the program, and a copy must not be left half made.
    platform::Background::drain();
    platform::StallWatch::uninstall();
    return status;
}
