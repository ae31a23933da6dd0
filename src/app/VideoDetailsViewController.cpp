#include "VideoDetailsViewController.h"

#include "TavrioAVPlayerViewController.h"
#include "UIImageAdditions.h"
#include "RunningExports.h"
#include "ZoomTrack.h"
#include "VideosFolder.h"
#include "ExportNotices.h"

#include "media/Asset.h"
#include "platform/AlertService.h"
#include "platform/Logging.h"
#include "platform/Background.h"
#include "platform/StringTable.h"
#include "ui/Alerts.h"
#include "ui/Theme.h"
#include "ui/Fonts.h"
#include "ui/FileManager.h"
#include "ui/FrameLayout.h"
#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/Indicators.h"
#include "ui/NavigationController.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

namespace {

const QColor kBackground = ui::theme::kBackground;

QString localized(const char* key) {
    return platform::StringTable::localized(QStringLiteral("localizable"), QString::fromLatin1(key));
}

QImage picture(const char* name) {
    return UIImageAdditions::imageWithContentsOfResolutionIndependentFile(
        UIImageAdditions::pathForResource(QString::fromLatin1(name), QStringLiteral("png")));
}

void styleProgressText(QLabel* label, double points) {
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    ui::Fonts::set(label, points);
}

template <typename T>
void removeFromView(QPointer<T>& widget) {
    if (widget) widget->deleteLater();
    widget = nullptr;
}

}  // namespace

VideoDetailsViewController::VideoDetailsViewController(const QString& videoPath, const QString& thumbPath,
                                                       QWidget* parent)
    : ui::ViewController(parent), _videoPath(videoPath), _thumbPath(thumbPath) {
    setTitle(QFileInfo(videoPath).fileName());
    setBackgroundColor(kBackground);
    _lensImageView = new ui::ImageView(picture("lensimage"), this);
    addSubview(_lensImageView, QRectF(125, 302, 195, 178));
    _playButton = makeButton(QString(), QStringLiteral("Play"), kTopSlotY);
    _playButton->setImage(picture("button_play"));
    connect(_playButton, &ui::ImageButton::clicked, this, &VideoDetailsViewController::playVideo);
    _deleteVideoButton = makeButton(QStringLiteral("delete-icon"), QStringLiteral("Delete"), kBottomSlotY);
    connect(_deleteVideoButton, &ui::ImageButton::clicked, this, &VideoDetailsViewController::deleteVideoButtonPressed);

    // The export of this recording may run already (started here before, the screen left and
    // opened again), and goes on whether this screen stays or not.
    RunningExports& exports = RunningExports::shared();
    connect(&exports, &RunningExports::started, this, [this](const QString& path) {
        if (path == _exportingPath) exportDidStart();
    });
    connect(&exports, &RunningExports::progressChanged, this, [this](const QString& path, float progress) {
        if (path == _exportingPath) exportProgress(progress);
    });
    connect(
        &exports, &RunningExports::finished, this,
        [this](const QString& path, Status status, const QString& finalPath, bool zoomed, bool, const QString& reason) {
            if (path == _exportingPath) exportEnded(status, finalPath, zoomed, reason);
        });
}

VideoDetailsViewController::~VideoDetailsViewController() = default;

ui::ImageButton* VideoDetailsViewController::makeButton(const QString& pictureName, const QString& accessibleName,
                                                        double y) {
    auto* button =
        new ui::ImageButton(pictureName.isEmpty() ? QImage() : picture(pictureName.toLatin1().constData()), this);
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    addSubview(button, QRectF(kButtonX, y, kButtonWidth, kButtonHeight));
    button->show();
    return button;
}

VideoLibraryUpdateDelegate* VideoDetailsViewController::delegate() const {
    if (_delegateIsObject && !_delegateObject) return nullptr;
    return _delegate;
}

void VideoDetailsViewController::setDelegate(VideoLibraryUpdateDelegate* delegate) {
    _delegate = delegate;
    _delegateObject = dynamic_cast<QObject*>(delegate);
    _delegateIsObject = _delegateObject != nullptr;
    if (!delegate || _exportButton || _saveVideoButton) return;
    if (delegate->isExportNeededForAsset(_videoPath)) {
        _exportButton = makeButton(QStringLiteral("export-icon"), QStringLiteral("Export"), kMiddleSlotY);
        connect(_exportButton, &ui::ImageButton::clicked, this, &VideoDetailsViewController::exportVideo);
        lookForZoomTrack();
        makeZoomAgainButtons();
        if (RunningExports::shared().isExporting(_videoPath)) {
            // Back on the screen of a running export: its progress as it is now.
            followExport();
            if (!RunningExports::shared().isPreparing(_videoPath)) {
                exportDidStart();
                exportProgress(RunningExports::shared().progress(_videoPath));
            }
        }
    } else {
        _saveVideoButton = makeButton(QStringLiteral("save-to-camera-roll-icon"), QStringLiteral("Save"), kMiddleSlotY);
        connect(_saveVideoButton, &ui::ImageButton::clicked, this, &VideoDetailsViewController::saveVideoButtonPressed);
    }
    orderTabs();
}

void VideoDetailsViewController::orderTabs() {
    // Tab follows the screen from top to bottom, whichever buttons the last export left.
    QList<QWidget*> order;
    const bool saveOnTop = _saveVideoButton && frames()->frame(_saveVideoButton).y() == kTopSlotY;
    if (saveOnTop) order << _saveVideoButton;
    order << _playButton << _exportButton;
    if (!saveOnTop) order << _saveVideoButton;
    order << _deleteVideoButton << _zoomAgainButton << _undoZoomAgainButton << _showInFilesButton;
    order.removeAll(nullptr);
    for (int i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QString VideoDetailsViewController::percentageText(float progress) {
    return QString::asprintf("%2d", static_cast<int>(progress * 100));
}

// ---- Playing

void VideoDetailsViewController::openMovie(bool withTrack, Opened opened) {
    _opening = true;
    const QString path = _videoPath;
    // Opening reads the whole index of the movie, the track is a file too, and a long track
    // makes a long curve: the window keeps drawing meanwhile, and the player starts with all of
    // it there.
    platform::Background::run(
        this,
        [path, withTrack] {
            media::Error error;
            OpenedMovie m;
            m.asset = media::Asset::open(path.toStdString(), &error);
            if (m.asset && withTrack) {
                m.track = zoomsForVideoFile(path);
                m.curve = zoomCurveFor(m.track.value_or(ZoomTrack{}), m.asset->duration());
                m.composition = playbackComposition(*m.asset, m.curve);
            }
            m.error = QString::fromStdString(error.description + " " + error.failureReason).trimmed();
            return m;
        },
        [this, opened](OpenedMovie m) {
            _opening = false;
            opened(std::move(m));
        },
        platform::Background::Lane::Normal, "movie opened");
}

void VideoDetailsViewController::playVideo() {
    if (_opening) return;
    VideoLibraryUpdateDelegate* d = delegate();
    const bool recording = d && d->isExportNeededForAsset(_videoPath);
    QPointer<VideoDetailsViewController> self(this);
    openMovie(recording, [self, recording](OpenedMovie m) {
        if (!m.asset) {
            qCWarning(lcPlayer).noquote() << QStringLiteral("The asset's tracks were not loaded:\n%1").arg(m.error);
            emit self->playbackFailed();
            return;
        }
        // A recording plays as its export will look: through its zoom curve.
        if (recording && !m.composition)
            platform::AlertService::show(
                QStringLiteral("Error"),
                QStringLiteral("The Video File looks Corrupted, try saving the original file in the Videos folder."),
                QStringLiteral("Okay"));
        TavrioAVPlayerViewController* player = self->pushPlayer(std::move(m.asset), m.composition);
        if (player && m.track) player->setZoomCurve(m.curve);
    });
}

TavrioAVPlayerViewController* VideoDetailsViewController::pushPlayer(
    std::shared_ptr<const media::Asset> asset, std::optional<media::VideoComposition> composition) {
    ui::NavigationController* nav = navigationController();
    if (!nav) return nullptr;
    media::PlayerItem item = media::PlayerItem::playerItemWithAsset(std::move(asset));
    if (composition) item.setVideoComposition(*composition);
    auto* player = new TavrioAVPlayerViewController(std::move(item));
    nav->pushViewController(player, true);
    return player;
}

// ---- Zooming again

void VideoDetailsViewController::makeZoomAgainButtons() {
    auto make = [this](const QString& text, double x) {
        auto* button = new QPushButton(text, this);
        button->setAccessibleName(text);
        button->setStyleSheet(ui::theme::buttonStyleSheet());
        ui::Fonts::set(button, 13);
        addSubview(button, QRectF(x, kZoomAgainRowY, kButtonWidth / 2 - 4, 32));
        return button;
    };
    _zoomAgainButton = make(QStringLiteral("Zoom Again"), kButtonX);
    _zoomAgainButton->setToolTip(QStringLiteral("Play the recording and zoom it anew"));
    connect(_zoomAgainButton, &QPushButton::clicked, this, &VideoDetailsViewController::zoomAgain);
    _undoZoomAgainButton = make(QStringLiteral("Undo Zoom Again"), kButtonX + kButtonWidth / 2 + 4);
    _undoZoomAgainButton->setToolTip(QStringLiteral("Put the zoom back as it was before the last Zoom Again"));
    connect(_undoZoomAgainButton, &QPushButton::clicked, this, &VideoDetailsViewController::undoZoomAgain);
    _zoomAgainButton->show();
    _undoZoomAgainButton->hide();
    lookForEarlierZoom();
}

void VideoDetailsViewController::lookForEarlierZoom() {
    if (!_undoZoomAgainButton) return;
    const QString path = _videoPath;
    platform::Background::run(
        this, [path] { return hasEarlierZoomTrack(path); },
        [this, path](bool exists) {
            if (_videoPath != path || !_undoZoomAgainButton) return;
            _undoZoomAgainButton->setVisible(exists && !isExporting());
            orderTabs();
            emit earlierZoomLookedUp(exists);
        },
        platform::Background::Lane::Normal, "earlier zoom looked up");
}

void VideoDetailsViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    // Back from zooming again: the track and its earlier version may have changed.
    if (!_zoomAgainButton) return;
    lookForEarlierZoom();
    lookForZoomTrack();
}

void VideoDetailsViewController::zoomAgain() {
    // Not twice: a second press while the player slides in would stack a second player.
    ui::NavigationController* nav = navigationController();
    if (_opening || isExporting() || (nav && nav->topViewController() != this)) return;
    QPointer<VideoDetailsViewController> self(this);
    const QString path = _videoPath;
    openMovie(true, [self, path](OpenedMovie m) {
        const std::shared_ptr<const media::Asset>& asset = m.asset;
        const std::optional<ZoomTrack>& track = m.track;
        const QString& error = m.error;
        std::optional<media::VideoComposition> composition;
        if (asset) composition = playbackComposition(*asset, std::make_shared<const media::ZoomCurve>());
        if (!composition) {
            const QString name = QFileInfo(path).fileName();
            platform::AlertService::show(QStringLiteral("Cannot Zoom Again"),
                                         asset ? QStringLiteral("%1 has no picture to zoom.").arg(name)
                                               : QStringLiteral("%1 cannot be opened: %2").arg(name, error),
                                         QStringLiteral("Okay"));
            emit self->playbackFailed();
            return;
        }
        if (TavrioAVPlayerViewController* player = self->pushPlayer(asset, composition))
            player->beginZoomAgain(path, track);
    });
}

void VideoDetailsViewController::undoZoomAgain() {
    if (_spinner || ui::ActionSheet::current() || isExporting()) return;
    QPointer<VideoDetailsViewController> self(this);
    auto* sheet = new ui::ActionSheet(
        QStringLiteral("Put back the zoom from before the last Zoom Again? The newer zoom is dropped."),
        localized("Cancel"), QStringLiteral("Undo Zoom Again"), {}, [self](int index) {
            if (!self || index != 0) return;
            const QString path = self->_videoPath;
            platform::Background::run(
                self,
                [path] {
                    QString error;
                    return restoreEarlierZoomTrack(path, &error) ? QString() : error;
                },
                [self](const QString& error) {
                    if (!error.isEmpty())
                        platform::AlertService::show(QStringLiteral("Undo Zoom Again Failed"), error,
                                                     QStringLiteral("Okay"));
                    qCInfo(lcLibrary).noquote() << "undo zoom again:" << (error.isEmpty() ? "done" : error);
                    self->lookForEarlierZoom();
                    self->lookForZoomTrack();
                },
                platform::Background::Lane::Normal, "earlier zoom restored");
        });
    sheet->showFrom(this);
}

// ---- Exporting

void VideoDetailsViewController::exportVideo() {
    if (isExporting()) return;
    followExport();
    if (!RunningExports::shared().start(_videoPath)) exportDidStart();  // already running
}

void VideoDetailsViewController::followExport() {
    _exportingPath = _videoPath;
    RunningExports::shared().setShownBy(_exportingPath, this);
    removeProgressDisplay();
    _percentageLabel = new ui::ShrinkLabel(QString(), this);
    _percentageLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    _percentageLabel->setMinimumFontPoints(10);
    styleProgressText(_percentageLabel, 17);
    _percentageLabel->setFontPoints(17);
    addSubview(_percentageLabel, QRectF(110, 54, 50, 28));
    _percentageSymbolLabel = new QLabel(QStringLiteral("%"), this);
    styleProgressText(_percentageSymbolLabel, 17);
    addSubview(_percentageSymbolLabel, QRectF(162, 54, 30, 28));
    _conversionProgress = new ui::ProgressView(this);
    _conversionProgress->setProgress(0);
    addSubview(_conversionProgress, QRectF(35, 90, 222, 9));
    _cancelExportButton = new ui::ImageButton(picture("cross-icon"), this);
    _cancelExportButton->setAccessibleName(QStringLiteral("Cancel export"));
    _cancelExportButton->setToolTip(QStringLiteral("Cancel export"));
    connect(_cancelExportButton, &ui::ImageButton::clicked, this,
            &VideoDetailsViewController::cancelExportButtonPressed);
    addSubview(_cancelExportButton, QRectF(263, 82, 24, 24));
    removeFromView(_processingLabel);
    removeFromView(_exportErrorLabel);
    // The movie is opened off the UI thread before the export starts: meanwhile the screen says
    // so, and Cancel is already there.
    _processingLabel = new ui::ShrinkLabel(preparingText(), this);
    _processingLabel->setAlignment(Qt::AlignCenter);
    _processingLabel->setMinimumFontPoints(10);
    styleProgressText(_processingLabel, 17);
    _processingLabel->setFontPoints(17);
    addSubview(_processingLabel, kStatusFrame);
    _disclaimerTextLabel = new QLabel(QStringLiteral("Please wait for the export to complete."), this);
    _disclaimerTextLabel->setWordWrap(true);
    _disclaimerTextLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    styleProgressText(_disclaimerTextLabel, 17);
    addSubview(_disclaimerTextLabel, QRectF(36, 192, 286, 134));
    for (QWidget* w : std::initializer_list<QWidget*>{_percentageLabel, _percentageSymbolLabel, _conversionProgress,
                                                      _disclaimerTextLabel})
        w->hide();
    _processingLabel->show();
    _cancelExportButton->show();
    // Not pressable twice, nor anything that would change the movie under the export.
    for (QWidget* w : std::initializer_list<QWidget*>{_playButton, _deleteVideoButton, _exportButton, _saveVideoButton,
                                                      _zoomAgainButton, _undoZoomAgainButton, _noZoomLabel})
        if (w) w->hide();
    _cancelExportButton->setFocus(Qt::OtherFocusReason);
}

void VideoDetailsViewController::cancelExportButtonPressed() {
    if (isExporting()) RunningExports::shared().cancel(_exportingPath);
}

bool VideoDetailsViewController::isExporting() const {
    return !_exportingPath.isEmpty();
}

void VideoDetailsViewController::exportDidStart() {
    for (QWidget* w : std::initializer_list<QWidget*>{_percentageLabel, _percentageSymbolLabel, _conversionProgress,
                                                      _cancelExportButton, _processingLabel, _disclaimerTextLabel})
        if (w) w->show();
    for (QWidget* w : std::initializer_list<QWidget*>{_playButton, _deleteVideoButton, _exportButton, _saveVideoButton,
                                                      _zoomAgainButton, _undoZoomAgainButton})
        if (w) w->hide();
    if (_processingLabel) _processingLabel->setText(QStringLiteral("Exporting..."));
    if (_cancelExportButton) _cancelExportButton->setFocus(Qt::OtherFocusReason);
}

void VideoDetailsViewController::exportProgress(float progress) {
    if (_conversionProgress) _conversionProgress->setProgress(progress);
    if (_percentageLabel) _percentageLabel->setText(percentageText(progress));
}

void VideoDetailsViewController::exportEnded(Status status, const QString& finalPath, bool zoomed,
                                             const QString& reason) {
    _exportFailure = status == Status::Failed ? reason : QString();
    RunningExports::shared().setShownBy(_exportingPath, nullptr);
    _exportingPath.clear();
    // The recording has gone to the Trash by now (or stays, if the user kept it): this screen
    // goes on with the export.
    if (status == Status::Completed) _videoPath = finalPath;
    _exportedWithoutZoom = status == Status::Completed && !zoomed;
    updateButtonsAfterExport(status);
}

void VideoDetailsViewController::showExportFailure() {
    removeFromView(_exportErrorLabel);
    const QString reason =
        _exportFailure.isEmpty() ? QStringLiteral("The export failed for a reason it did not give.") : _exportFailure;
    _exportErrorLabel = new QLabel(reason, this);
    _exportErrorLabel->setAccessibleName(QStringLiteral("Why the export failed"));
    _exportErrorLabel->setAccessibleDescription(reason);
    _exportErrorLabel->setToolTip(reason);
    _exportErrorLabel->setAlignment(Qt::AlignCenter);
    _exportErrorLabel->setWordWrap(true);
    _exportErrorLabel->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(ui::theme::kDestructive.name()));
    ui::Fonts::set(_exportErrorLabel, 12);
    // Above the advice to try again (three lines), where a later save says where the copy went
    // instead.
    addSubview(_exportErrorLabel, QRectF(kButtonX, 46, kButtonWidth, 44));
    _exportErrorLabel->show();
    qCInfo(lcLibrary).noquote() << "export failure shown:" << reason;
}

void VideoDetailsViewController::removeProgressDisplay() {
    removeFromView(_percentageLabel);
    removeFromView(_percentageSymbolLabel);
    removeFromView(_conversionProgress);
    removeFromView(_cancelExportButton);
    removeFromView(_disclaimerTextLabel);
}

void VideoDetailsViewController::updateButtonsAfterExport(Status status) {
    removeProgressDisplay();
    if (!_processingLabel) {
        _processingLabel = new ui::ShrinkLabel(QString(), this);
        styleProgressText(_processingLabel, 17);
        _processingLabel->setAlignment(Qt::AlignCenter);
        addSubview(_processingLabel, kStatusFrame);
    }
    _processingLabel->show();
    if (_deleteVideoButton) _deleteVideoButton->show();
    removeFromView(_saveVideoButton);
    if (status == Status::Completed) {
        // A movie without a recorded zoom came out as it went in: that is no zoomed success.
        _processingLabel->setText(_exportedWithoutZoom ? QStringLiteral("Exported without zoom")
                                                       : QStringLiteral("Export Successful!"));
        removeFromView(_exportButton);
        removeFromView(_noZoomLabel);
        // An export has no zoom track to zoom again.
        removeFromView(_zoomAgainButton);
        removeFromView(_undoZoomAgainButton);
        if (_playButton) _playButton->show();
        _saveVideoButton = makeButton(QStringLiteral("save-to-camera-roll-icon"), QStringLiteral("Save"), kMiddleSlotY);
        connect(_saveVideoButton, &ui::ImageButton::clicked, this, &VideoDetailsViewController::saveVideoButtonPressed);
        setTitle(QFileInfo(_videoPath).fileName());
    } else {
        if (_exportButton) _exportButton->show();
        if (_noZoomLabel) _noZoomLabel->show();
        if (_zoomAgainButton) _zoomAgainButton->show();
        lookForEarlierZoom();
        if (status == Status::Cancelled) {
            _processingLabel->setText(QStringLiteral("Export Cancelled!"));
            if (_playButton) _playButton->show();
        } else {
            if (_playButton) _playButton->hide();
            _processingLabel->setFontPoints(13);
            ui::Fonts::set(_processingLabel, 13);
            _processingLabel->setMinimumFontPoints(10);
            _processingLabel->setWordWrap(true);
            frames()->setFrame(_processingLabel, QRectF(40, 92, 220, 44));
            _processingLabel->setText(
                QStringLiteral("Try Exporting Again or press Save button to save the original File !"));
            showExportFailure();
            _saveVideoButton =
                makeButton(QStringLiteral("save-original-icon"), QStringLiteral("Save original"), kTopSlotY);
            connect(_saveVideoButton, &ui::ImageButton::clicked, this,
                    &VideoDetailsViewController::saveVideoButtonPressed);
        }
    }
    orderTabs();
    qCInfo(lcLibrary).noquote() << "export ended:" << _processingLabel->text();
    focusFirstControl();
}

// ---- Saving and deleting

void VideoDetailsViewController::saveVideoButtonPressed() {
    saveVideo(false);
}

void VideoDetailsViewController::saveVideo(bool evenIfSaved) {
    if (_spinner) return;  // one save at a time
    showHideSavingSpinner(true);
    QPointer<VideoDetailsViewController> self(this);
    const QString path = _videoPath;
    VideosFolder::writeVideoAtPath(
        path, this,
        [self, path](VideosFolder::Outcome outcome, const QString& result) {
            self->showHideSavingSpinner(false);
            switch (outcome) {
            case VideosFolder::Outcome::Saved:
                qCInfo(lcLibrary).noquote() << "saved" << path << "as" << result;
                self->showSavedNote(QStringLiteral("Saved to %1").arg(VideosFolder::shortLocation(result)), result);
                ExportNotices::saveFinished(self->window(), result);
                emit self->saveFinished(result);
                break;
            case VideosFolder::Outcome::AlreadySaved: {
                const QString where = VideosFolder::shortLocation(result);
                self->showSavedNote(QStringLiteral("Already saved as %1").arg(where), result);
                platform::Alert alert;
                alert.title = QStringLiteral("Already Saved");
                alert.message = QStringLiteral("This movie is already saved as %1.").arg(where);
                alert.cancelButton = localized("OK");
                alert.otherButtons = {QStringLiteral("Save Another Copy")};
                alert.dismissed = [self](int button) {
                    if (self && button == 1) self->saveVideo(true);
                };
                platform::AlertService::show(alert);
                emit self->saveFinished(QString());
                break;
            }
            case VideosFolder::Outcome::Incompatible:
            case VideosFolder::Outcome::Failed:
                platform::AlertService::show(QStringLiteral("Error Saving to Library"),
                                             QStringLiteral("%1 could not be saved to %2: %3")
                                                 .arg(QFileInfo(path).fileName(), VideosFolder::folder(), result),
                                             QStringLiteral("Okay"));
                emit self->saveFinished(QString());
                break;
            }
        },
        evenIfSaved);
}

void VideoDetailsViewController::showSavedNote(const QString& text, const QString& savedPath) {
    _savedPath = savedPath;
    // The note and its button take the place of a failed export's reason and advice: the
    // original is saved now.
    if (_exportErrorLabel) {
        _exportErrorLabel->hide();
        if (_processingLabel) _processingLabel->hide();
    }
    if (!_savedLabel) {
        _savedLabel = new QLabel(this);
        _savedLabel->setAlignment(Qt::AlignCenter);
        _savedLabel->setWordWrap(true);
        styleProgressText(_savedLabel, 13);
        addSubview(_savedLabel, QRectF(kButtonX, 48, kButtonWidth, 34));
        _showInFilesButton = new QPushButton(QStringLiteral("Show in Files"), this);
        _showInFilesButton->setAccessibleName(QStringLiteral("Show in Files"));
        _showInFilesButton->setStyleSheet(ui::theme::buttonStyleSheet());
        ui::Fonts::set(_showInFilesButton, 13);
        connect(_showInFilesButton, &QPushButton::clicked, this, [this] { ui::FileManager::showItem(_savedPath); });
        addSubview(_showInFilesButton, QRectF(100, 84, 120, 26));
    }
    _savedLabel->setText(text);
    _savedLabel->setAccessibleName(text);
    qCInfo(lcLibrary).noquote() << "save note:" << text;
    _savedLabel->show();
    _showInFilesButton->show();
    orderTabs();
}

void VideoDetailsViewController::showHideSavingSpinner(bool show) {
    if (show) {
        if (_spinner) return;
        _spinner = new ui::ActivityIndicator(this);
        _spinner->setHidesWhenStopped(true);
        _spinner->setAccessibleName(QStringLiteral("Saving"));
        addSubview(_spinner, QRectF(135, 213, 50, 50));
        _spinner->raise();
        _spinner->startAnimating();
        return;
    }
    if (!_spinner) return;
    _spinner->stopAnimating();
    removeFromView(_spinner);
}

void VideoDetailsViewController::deleteVideoButtonPressed() {
    if (_spinner || ui::ActionSheet::current()) return;
    QPointer<VideoDetailsViewController> self(this);
    auto* sheet = new ui::ActionSheet(QStringLiteral("Delete Video:"), localized("Cancel"), localized("Delete"), {},
                                      [self](int index) {
                                          if (self && index == 0) self->deleteVideoAtPath(self->_videoPath);
                                      });
    sheet->showFrom(this);
}

void VideoDetailsViewController::deleteVideoAtPath(const QString& path) {
    VideoLibraryUpdateDelegate* d = delegate();
    if (!d) return;
    QPointer<VideoDetailsViewController> self(this);
    d->deleteVideoAssetAtPath(path, [self](bool deleted) {
        if (!self || !deleted) return;  // kept: the user would not delete it for good
        if (ui::NavigationController* nav = self->navigationController()) nav->popViewControllerAnimated(true);
    });
}

void VideoDetailsViewController::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    // A running export goes on without this screen; the library row shows it.
    if (_spinner) showHideSavingSpinner(false);
}

void VideoDetailsViewController::lookForZoomTrack() {
    // Reading the track is a file read: off the UI thread, told when it is done.
    const QString path = _videoPath;
    platform::Background::run(
        this,
        [path] {
            const std::optional<ZoomTrack> track = zoomsForVideoFile(path);
            return track && zoomTrackProblem(*track).isEmpty();
        },
        [this, path](bool usable) {
            if (_videoPath != path) return;
            // A zoom kept or undone meanwhile may have given the recording a usable track.
            if (usable) removeFromView(_noZoomLabel);
            if (usable || _noZoomLabel) return;
            showNoZoomNote();
        },
        platform::Background::Lane::Normal, "zoom track looked up");
}

void VideoDetailsViewController::showNoZoomNote() {
    _noZoomLabel = new QLabel(TavrioExportController::noZoomText(), this);
    _noZoomLabel->setAlignment(Qt::AlignCenter);
    _noZoomLabel->setWordWrap(true);
    _noZoomLabel->setAccessibleName(_noZoomLabel->text());
    styleProgressText(_noZoomLabel, 13);
    addSubview(_noZoomLabel, QRectF(kButtonX, kTopSlotY + kButtonHeight + 4, kButtonWidth,
                                    kMiddleSlotY - kTopSlotY - kButtonHeight - 8));
    _noZoomLabel->setVisible(!isExporting());
}
