#include "ExportNotices.h"

#include "TavrioExportController.h"
#include "VideosFolder.h"

#include "platform/AlertService.h"
#include "ui/DesktopNotification.h"

#include <QFileInfo>
#include <QWidget>

ExportNotices::ExportNotices(QWidget* window, QObject* parent) : QObject(parent), window_(window) {
    connect(&RunningExports::shared(), &RunningExports::finished, this, &ExportNotices::exportFinished);
    connect(&RunningExports::shared(), &RunningExports::problem, this, [](const QString&, const QString& text) {
        platform::AlertService::show(QStringLiteral("Error"), text, QStringLiteral("Okay"));
    });
}

QString ExportNotices::title(RunningExports::Status status, bool zoomed) {
    if (status == RunningExports::Status::Completed)
        return zoomed ? QStringLiteral("Export Successful!") : QStringLiteral("Exported without zoom");
    if (status == RunningExports::Status::Cancelled) return QStringLiteral("Export Cancelled!");
    return QStringLiteral("Export Failed");
}

QString ExportNotices::message(RunningExports::Status status, const QString& recordingPath, const QString& finalPath,
                               const QString& reason) {
    const QString recording = QFileInfo(recordingPath).fileName();
    if (status == RunningExports::Status::Completed)
        return QStringLiteral("%1 is exported as %2.").arg(recording, QFileInfo(finalPath).fileName());
    if (status == RunningExports::Status::Cancelled)
        return QStringLiteral("The export of %1 was cancelled; the recording is kept.").arg(recording);
    if (!reason.isEmpty())
        return QStringLiteral("%1 could not be exported (%2); the recording is kept. Try exporting it again.")
            .arg(recording, reason);
    return QStringLiteral("%1 could not be exported; the recording is kept. Try exporting it again.").arg(recording);
}

void ExportNotices::exportFinished(const QString& recordingPath, RunningExports::Status status,
                                   const QString& finalPath, bool zoomed, bool toldOnScreen, const QString& reason) {
    QString text = message(status, recordingPath, finalPath, reason);
    if (status == RunningExports::Status::Completed && !zoomed)
        text += QLatin1Char(' ') + TavrioExportController::noZoomText() + QLatin1Char('.');
    // A cancel is the user's own doing, on the screen that shows it.
    if (status == RunningExports::Status::Cancelled) return;
    if (!toldOnScreen) platform::AlertService::show(title(status, zoomed), text, QStringLiteral("Okay"));
    if (!window_ || !window_->isActiveWindow())
        ui::DesktopNotification::send(title(status, zoomed), text,
                                      status == RunningExports::Status::Completed ? finalPath : QString());
}

void ExportNotices::saveFinished(QWidget* window, const QString& savedPath) {
    if (window && window->isActiveWindow()) return;
    ui::DesktopNotification::send(QStringLiteral("Saved to Videos"),
                                  QStringLiteral("%1 is saved as %2.")
                                      .arg(QFileInfo(savedPath).fileName(), VideosFolder::shortLocation(savedPath)),
                                  savedPath);
}
