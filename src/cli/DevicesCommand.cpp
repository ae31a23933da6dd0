#include "Command.h"

#include "TavrioCaptureManager.h"

#include <QStringList>

namespace {

int runDevices(const QStringList& args) {
    if (!args.isEmpty()) {
        cli::err(QStringLiteral("usage: tavrio-cli devices"));
        return cli::kExitUsage;
    }
    for (const auto& d : TavrioCaptureManager::devices()) {
        // The id is what --camera, --mic and the settings remember: it stays the same across a
        // replug, where the device file may not.
        // The backend too: one camera may be reachable both through PipeWire and V4L2, and
        // --camera v4l2:/dev/videoN or pipewire:NAME chooses.
        cli::out(QStringLiteral("%1 %2  %3  [%4]%5%6")
                     .arg(d.isCamera ? QStringLiteral("camera") : QStringLiteral("microphone"), d.uniqueID, d.name,
                          d.backend,
                          d.devicePath.isEmpty() || d.devicePath == d.uniqueID
                              ? QString()
                              : QStringLiteral("  (%1)").arg(d.devicePath),
                          d.hasTorch ? QStringLiteral("  (torch)") : QString()));
        // One line per picture format: "  yuyv422 1280x720 30 15".
        for (const auto& f : d.formats) {
            QStringList rates;
            for (double r : f.frameRates) rates << QString::number(r, 'g', 4);
            cli::out(QStringLiteral("  %1 %2x%3 %4")
                         .arg(f.pixelFormat)
                         .arg(f.width)
                         .arg(f.height)
                         .arg(rates.join(QLatin1Char(' '))));
        }
    }
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(devices, "devices", "", "list cameras (with their formats) and microphones", runDevices);
