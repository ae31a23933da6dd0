#pragma once
// Tells the user that an export which runs on its own has ended: in the window, when no details
// screen showing it was there to say so, and on the desktop when the window is not the active
// one (minimized, covered, another window in front); and what an export reports about its movie
// before it runs (a movie without pictures), in the window.

#include <QObject>
#include <QPointer>

#include "RunningExports.h"

class QWidget;

class ExportNotices : public QObject {
    Q_OBJECT
public:
    // `window` is not owned; its state is read when an export ends.
    explicit ExportNotices(QWidget* window, QObject* parent = nullptr);

    // The notice for an export's end: a title and a sentence naming the movies.
    static QString title(RunningExports::Status status, bool zoomed);
    // A failure's sentence says why (`reason`) when it is known.
    static QString message(RunningExports::Status status, const QString& recordingPath, const QString& finalPath,
                           const QString& reason = QString());

    // A save to the Videos folder ended while `window` may not be the active one: told on the
    // desktop then (the window itself shows it on the details screen).
    static void saveFinished(QWidget* window, const QString& savedPath);

private:
    void exportFinished(const QString& recordingPath, RunningExports::Status status, const QString& finalPath,
                        bool zoomed, bool toldOnScreen, const QString& reason);

    QPointer<QWidget> window_;
};
