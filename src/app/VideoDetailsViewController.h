#pragma once
// One movie of the library and what can be done with it: play it (a recording through its zoom,
// as the export will show it), export a recording with progress and cancel, save a movie to the
// Videos folder, delete it (to the Trash). After a completed export the screen goes on with the
// exported movie; the recording goes to the Trash only once the final movie is complete.
//
// The export runs in RunningExports: leaving the screen (back, the player pushed) leaves it
// running, and a screen opened again for the recording shows it. A recording without a usable
// zoom track says so ("No zoom was recorded with this movie").
//
// A recording can be zoomed again: "Zoom Again" opens the player in its zoom mode; "Undo Zoom
// Again" (shown while the recording has an earlier zoom) puts the earlier zoom back.

#include "TavrioExportController.h"
#include "TavrioExportControllerDelegate.h"
#include "VideoLibraryUpdateDelegate.h"

#include "ui/ImageButton.h"
#include "ui/Indicators.h"
#include "ui/ViewController.h"

#include <QLabel>
#include <QPushButton>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "media/VideoComposition.h"

namespace media {
class Asset;
}
namespace ui {
class ImageView;
}

class TavrioAVPlayerViewController;

class VideoDetailsViewController : public ui::ViewController, public TavrioExportControllerDelegate {
    Q_OBJECT
public:
    // The three wide buttons' slots and the spinner, in points.
    // Centred on the 320-point screen.
    static constexpr double kButtonWidth = 293, kButtonX = (320 - kButtonWidth) / 2, kButtonHeight = 58;
    static constexpr double kTopSlotY = 139, kMiddleSlotY = 230, kBottomSlotY = 320;
    // A recording's Zoom Again and Undo Zoom Again, side by side under the three.
    static constexpr double kZoomAgainRowY = 392;
    // The export's state ("Exporting...", "Export Successful!"), clear of the top slot's button.
    static constexpr QRectF kStatusFrame{35, 110, 250, 28};
    // What the screen says while the movie is being opened for its export.
    static QString preparingText() { return QStringLiteral("Preparing export..."); }

    VideoDetailsViewController(const QString& videoPath, const QString& thumbPath, QWidget* parent = nullptr);
    ~VideoDetailsViewController() override;

    QString videoPath() const { return _videoPath; }
    QString thumbPath() const { return _thumbPath; }
    VideoLibraryUpdateDelegate* delegate() const;
    // Not owned; a delegate that is also a QObject is forgotten when it is destroyed. Builds the
    // export or save button, which depends on what the delegate says the movie is.
    void setDelegate(VideoLibraryUpdateDelegate* delegate);

    void playVideo();
    void zoomAgain();
    void undoZoomAgain();
    void exportVideo();
    void cancelExportButtonPressed();
    void saveVideoButtonPressed();
    void deleteVideoButtonPressed();
    void deleteVideoAtPath(const QString& path);
    void showHideSavingSpinner(bool show);
    void updateButtonsAfterExport(Status status);

    // What the running export reports, as its job reports it.
    void exportDidStart() override;
    void exportProgress(float progress) override;
    // The export ended; on Completed the screen goes on with `finalPath`, on Failed it tells
    // `reason`.
    void exportEnded(Status status, const QString& finalPath, bool zoomed, const QString& reason = QString());

    void viewWillDisappear(bool animated) override;
    void viewWillAppear(bool animated) override;

    // For tests and automation: the controls as they are now (null when not on the screen).
    ui::ImageButton* playButton() const { return _playButton; }
    ui::ImageButton* exportButton() const { return _exportButton; }
    ui::ImageButton* saveVideoButton() const { return _saveVideoButton; }
    ui::ImageButton* deleteVideoButton() const { return _deleteVideoButton; }
    ui::ImageButton* cancelExportButton() const { return _cancelExportButton; }
    ui::ShrinkLabel* percentageLabel() const { return _percentageLabel; }
    ui::ProgressView* conversionProgress() const { return _conversionProgress; }
    ui::ShrinkLabel* processingLabel() const { return _processingLabel; }
    QLabel* disclaimerTextLabel() const { return _disclaimerTextLabel; }
    // Why the last export failed, shown after it ended so.
    QLabel* exportErrorLabel() const { return _exportErrorLabel; }
    ui::ActivityIndicator* spinner() const { return _spinner; }
    bool isExporting() const;
    // "No zoom was recorded with this movie", shown for a recording without a usable track.
    QLabel* noZoomLabel() const { return _noZoomLabel; }
    // After a save: where the copy is ("Saved to Videos/Tavrio/Video-3.mov"), and its button.
    QLabel* savedLabel() const { return _savedLabel; }
    QPushButton* showInFilesButton() const { return _showInFilesButton; }
    QPushButton* zoomAgainButton() const { return _zoomAgainButton; }
    QPushButton* undoZoomAgainButton() const { return _undoZoomAgainButton; }

    // The text the percentage label shows for a progress of 0 to 1 ("%2d").
    static QString percentageText(float progress);

signals:
    // A save to the Videos folder ended: the saved movie's path, or empty when nothing was
    // copied (failed, or already saved there).
    void saveFinished(const QString& savedPath);
    // Playback was asked for and could not start (the movie does not open).
    void playbackFailed();
    // Whether the recording has an earlier zoom was looked up (the undo button follows it).
    void earlierZoomLookedUp(bool exists);

private:
    ui::ImageButton* makeButton(const QString& picture, const QString& accessibleName, double y);
    void removeProgressDisplay();
    void showExportFailure();
    void orderTabs();
    void followExport();
    void lookForZoomTrack();
    // Opens the movie, and with `withTrack` reads its zoom track and makes its curve and the
    // composition through it, off the UI thread; `opened` runs on the UI thread while the screen
    // lives (a null asset: it did not open, `error` says why).
    struct OpenedMovie {
        std::shared_ptr<const media::Asset> asset;
        std::optional<ZoomTrack> track;
        std::shared_ptr<const media::ZoomCurve> curve;
        std::optional<media::VideoComposition> composition;  // nullopt also for a movie without pictures
        QString error;
    };
    using Opened = std::function<void(OpenedMovie)>;
    void openMovie(bool withTrack, Opened opened);
    void makeZoomAgainButtons();
    void lookForEarlierZoom();
    void showNoZoomNote();
    void saveVideo(bool evenIfSaved);
    void showSavedNote(const QString& text, const QString& savedPath);
    // Shows the player for the opened movie, through the composition when there is one.
    TavrioAVPlayerViewController* pushPlayer(std::shared_ptr<const media::Asset> asset,
                                             std::optional<media::VideoComposition> composition);

    QString _videoPath;
    QString _thumbPath;
    VideoLibraryUpdateDelegate* _delegate = nullptr;
    QPointer<QObject> _delegateObject;
    bool _delegateIsObject = false;

    QPointer<ui::ImageButton> _playButton;
    QPointer<ui::ImageButton> _exportButton;
    QPointer<ui::ImageButton> _saveVideoButton;
    QPointer<ui::ImageButton> _deleteVideoButton;
    QPointer<ui::ImageButton> _cancelExportButton;
    ui::ImageView* _lensImageView = nullptr;
    QPointer<ui::ShrinkLabel> _percentageLabel;
    QPointer<QLabel> _percentageSymbolLabel;
    QPointer<ui::ProgressView> _conversionProgress;
    QPointer<ui::ShrinkLabel> _processingLabel;
    QPointer<QLabel> _disclaimerTextLabel;
    QPointer<QLabel> _exportErrorLabel;
    QString _exportFailure;  // the reason of the failed export the screen shows
    QPointer<ui::ActivityIndicator> _spinner;
    QPointer<QLabel> _noZoomLabel;
    QPointer<QLabel> _savedLabel;
    QPointer<QPushButton> _showInFilesButton;
    QPointer<QPushButton> _zoomAgainButton;
    QPointer<QPushButton> _undoZoomAgainButton;
    QString _savedPath;
    QString _exportingPath;  // the recording whose export this screen follows
    bool _exportedWithoutZoom = false;
    bool _opening = false;  // a movie is being opened for the player
};
