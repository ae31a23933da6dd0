#include "LaunchOptions.h"

#include "TavrioCaptureManager.h"
#include "platform/DeviceOrientation.h"

namespace {
LaunchOptions& currentOptions() {
    static LaunchOptions options;
    return options;
}
}  // namespace

QString LaunchOptions::usage() {
    return QStringLiteral(
        "usage: tavrio [--camera virtual|/dev/videoN|v4l2:/dev/videoN|pipewire:NAME|file:PATH]\n"
        "              [--mic virtual|none|ID] [--orientation portrait|landscape]\n"
        "              [--camera-rotation 0|90|180|270]\n"
        "       tavrio -h | --help | --version\n"
        "\n"
        "Opens the Tavrio camera window with the camera and microphone chosen in its settings\n"
        "(else the first ones found). For this run only:\n"
        "  --camera       the camera to film with (tavrio-cli devices lists them; virtual:\n"
        "                 the test picture)\n"
        "  --mic          the microphone (virtual: the test tone), or none for silent movies\n"
        "  --orientation  how the camera is held, on a computer without an orientation sensor\n"
        "  --camera-rotation  how far the camera's picture turns to stand upright (a phone's\n"
        "                 sensor is mounted 90), when the camera does not say\n"
        "  --quit-after-first-paint  quit once the window has been drawn (start-up measurements)\n");
}

LaunchOptions LaunchOptions::parse(const QStringList& args) {
    LaunchOptions o;
    auto fail = [&o](const QString& why) {
        o.action = Action::Error;
        o.error = why;
        return o;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.action = Action::Help;
            return o;
        }
        if (a == QLatin1String("--version")) {
            o.action = Action::Version;
            return o;
        }
        if (a == QLatin1String("--quit-after-first-paint")) {
            o.quitAfterFirstPaint = true;
            continue;
        }
        const bool takesValue = a == QLatin1String("--camera") || a == QLatin1String("--mic") ||
                                a == QLatin1String("--orientation") || a == QLatin1String("--camera-rotation");
        if (!takesValue) return fail(QStringLiteral("unknown option %1").arg(a));
        if (i + 1 >= args.size() || args.at(i + 1).isEmpty()) return fail(QStringLiteral("%1 needs a value").arg(a));
        const QString v = args.at(++i);
        if (a == QLatin1String("--camera")) {
            o.camera = TavrioCaptureManager::cameraIDForArgument(v);
        } else if (a == QLatin1String("--mic")) {
            o.microphone = TavrioCaptureManager::microphoneIDForArgument(v);
        } else if (a == QLatin1String("--camera-rotation")) {
            const auto degrees = TavrioCaptureManager::cameraRotationForArgument(v);
            if (!degrees) return fail(QStringLiteral("--camera-rotation is 0, 90, 180 or 270, not %1").arg(v));
            o.cameraRotation = *degrees;
        } else if (v == QLatin1String("portrait")) {
            o.orientation = platform::DeviceOrientation::Portrait;
        } else if (v == QLatin1String("landscape")) {
            o.orientation = platform::DeviceOrientation::LandscapeRight;
        } else {
            return fail(QStringLiteral("--orientation is portrait or landscape, not %1").arg(v));
        }
    }
    return o;
}

const LaunchOptions& LaunchOptions::current() {
    return currentOptions();
}

void LaunchOptions::setCurrent(const LaunchOptions& options) {
    currentOptions() = options;
}
