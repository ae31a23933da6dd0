#include "Command.h"

#include "media/capture/CaptureDevice.h"

#include <QStringList>

namespace {

int runDevices(const QStringList& args) {
    if (!args.isEmpty()) {
        cli::err(QStringLiteral("usage: tavrio-cli devices"));
        return cli::kExitUsage;
    }
    for (const auto& d : media::CaptureDevice::devices()) {
        const bool camera = d->mediaType() == media::MediaType::Video;
        cli::out(QStringLiteral("%1 %2  %3%4")
                     .arg(camera ? QStringLiteral("camera") : QStringLiteral("microphone"),
                          QString::fromStdString(d->uniqueID()), QString::fromStdString(d->localizedName()),
                          camera && d->hasTorch() ? QStringLiteral("  (torch)") : QString()));
        // One line per picture format: "  yuyv422 1280x720 30 15".
        for (const auto& f : d->formats()) {
            QStringList rates;
            for (double r : f.frameRates) rates << QString::number(r, 'g', 4);
            cli::out(QStringLiteral("  %1 %2x%3 %4")
                         .arg(QString::fromStdString(f.pixelFormat))
                         .arg(f.size.width)
                         .arg(f.size.height)
                         .arg(rates.join(QLatin1Char(' '))));
        }
    }
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(devices, "devices", "", "list cameras (with their formats) and microphones", runDevices);
