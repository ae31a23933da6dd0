#include "TavrioCameraController.h"
#include "platform/ScreenScale.h"

#include "CameraOverlays.h"
#include "LaunchOptions.h"
#include "PreviewGeometry.h"
#include "Settings.h"
#include "RDButton.h"
#include "ZoomTrack.h"
#include "TavrioCaptureManager.h"
#include "UIImageAdditions.h"
#include "VideoAssetsScreen.h"

#include "media/capture/CaptureSession.h"
#include "media/capture/VirtualDevices.h"
#include "platform/AlertService.h"
#include "platform/Defaults.h"
#include "platform/DeviceOrientation.h"
#include "platform/Logging.h"
#include "platform/Notifications.h"
#include "ui/Fonts.h"
#include "ui/FrameLayout.h"
#include "ui/PointScale.h"
#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/Indicators.h"
#include "ui/NavigationController.h"
#include "ui/SystemSound.h"
#include "ui/Theme.h"
#include "ui/Window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>
#include <QShortcut>
#include <QTimer>
#include <QTransform>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

QImage resourceImage(const char* name) {
    using namespace UIImageAdditions;
    return imageWithContentsOfResolutionIndependentFile(pathForResource(QLatin1String(name), QStringLiteral("png")));
}

QImage turned(const QImage& image, double degrees) {
    if (image.isNull()) return image;
    QImage out = image.transformed(QTransform().rotate(degrees));
    out.setDevicePixelRatio(image.devicePixelRatio());
    platform::ScreenScale::forget(out);  // picked again unturned, it would stand the wrong way
    return out;
}

const QRectF kScreenRect(0, 0, 320, 480);
const QRectF kSliderFrame(13, 380, 300, 23);
// The landscape layout's control column and the slider's distance from the bottom edge.
constexpr double kColumnWidth = 120;
constexpr double kSliderBottomMargin = 16;
constexpr int kFullScreenMs = 300;
constexpr int kSavingAnimationMs = 1000;
constexpr int kFocusBoxSide = 50;

}  // namespace

TavrioCameraController::TavrioCameraController(QWidget* parent)
    : ui::ViewController(parent), recorder_(new RecordingController(this)) {
    setTitle(QStringLiteral("Camera"));
    setBackgroundColor(ui::theme::kPictureGround);
    // Laid out for its real shape (layoutControls), not stretched from the phone's screen.
    frames()->setStretchesAcross(false);
    buildControls();
    installShortcuts();

    // The recording is asked for once the start sound has played.
    recorder_->setStartGate([this](std::function<void()> proceed) {
        if (beep_)
            beep_->play(std::move(proceed));
        else
            proceed();
    });

    connect(recorder_, &RecordingController::sessionSetUp, this, &TavrioCameraController::sessionSetUp);
    connect(recorder_, &RecordingController::stateChanged, this, &TavrioCameraController::recordingStateChanged);
    connect(recorder_, &RecordingController::clockTicked, this, [this](const QString& text) {
        if (auto* label = qobject_cast<ClockLabel*>(timeLabel_)) label->setText(text);
    });
    connect(recorder_, &RecordingController::recordingStarted, this, [this](const QString& path) {
        qCDebug(lcApp) << "camera: recording began" << path;
        const auto& stats = previewView_->stats();
        auto* slot = previewView_->previewSlot();
        previewMark_ = {media::monotonicNowNs(), stats.paintedPictures, slot ? slot->generation() : 0,
                        media::virtualCameraEncodeCpuNs()};
    });
    connect(recorder_, &RecordingController::movieFinished, this, [this](const QString& path, const QImage& thumbnail) {
        qCDebug(lcApp) << "camera: recording finished" << path;
        logPreviewStats();
        generateVideoSavingAnimationForVideo(thumbnail);
    });
    connect(recorder_, &RecordingController::errorReported, this,
            [](const QString& title, const QString& message, const QString& detail) {
                if (!detail.isEmpty()) qCWarning(lcApp) << title << message << detail;
                platform::AlertService::show(title, message, QStringLiteral("Okay"));
            });
    connect(recorder_, &RecordingController::recordEnabledChanged, this, [this](bool enabled) {
        recCtrlButton_->setEnabled(enabled);
        qCDebug(lcApp) << (enabled ? "camera: record enabled" : "camera: record disabled");
    });
    connect(recorder_, &RecordingController::cameraChanged, this, &TavrioCameraController::updateCameraState);
    connect(recorder_, &RecordingController::devicesChanged, this, &TavrioCameraController::updateSwitchButton);
    // A new session (another camera or preset) replaces the one whose pictures the preview shows.
    connect(&recorder_->captureManager(), &TavrioCaptureManager::sessionWillChange, this,
            [this] { previewView_->setPreviewSlot(nullptr); });
    connect(recorder_, &RecordingController::torchModeChanged, this, &TavrioCameraController::torchModeChanged);
    connect(recorder_, &RecordingController::apertureChanged, this,
            &TavrioCameraController::adjustPreviewLayerForAspectRatio);

    platform::Notifications::center().addObserver(this, QLatin1String(platform::kOrientationDidChange),
                                                  [this](const QString&, const QVariantMap&) { didRotate(); });

    // The screen and its spinner are drawn before the camera opens and the sound output is
    // asked for: both load libraries of their own, which would hold up the first picture.
    QTimer::singleShot(0, this, [this] {
        auto start = [this] {
            if (!beep_)
                beep_ = new ui::SystemSound(QStringLiteral("qrc") + UIImageAdditions::pathForResource(
                                                                        QStringLiteral("beep2"), QStringLiteral("wav")),
                                            this);
            setUpCaptureManager();
        };
        if (auto* shown = qobject_cast<ui::Window*>(window()))
            shown->afterFirstPaint(this, start);
        else
            start();
    });
}

TavrioCameraController::~TavrioCameraController() {
    platform::Notifications::center().removeObserver(this);
    // The preview lets go of the session's slot before the session goes with the controller.
    previewView_->setPreviewSlot(nullptr);
}

void TavrioCameraController::buildControls() {
    previewView_ = new TavrioPreviewView(this);
    previewView_->setDelegate(this);
    addSubview(previewView_, kScreenRect);
    connect(previewView_, &TavrioPreviewView::scaleShown, this,
            [](float scale) { qCDebug(lcApp, "camera: preview shows scale %.3f", double(scale)); });
    // A pinch on the picture moves the slider as a drag would, so it zooms and records the same.
    connect(previewView_, &TavrioPreviewView::pinchStarted, this, [this] { pinchStartZoom_ = zoom_; });
    connect(previewView_, &TavrioPreviewView::pinched, this,
            [this](float spread) { slider_->setValue(ZoomSampler::sliderValueForZoom(pinchStartZoom_ * spread)); });

    controlColumn_ = new QWidget(this);
    controlColumn_->setObjectName(QStringLiteral("controlColumn"));
    controlColumn_->setAttribute(Qt::WA_StyledBackground);
    controlColumn_->setStyleSheet(
        QStringLiteral("#controlColumn { background: %1; }").arg(ui::theme::kOverPicture.name(QColor::HexArgb)));
    addSubview(controlColumn_, {});
    controlColumn_->hide();

    slider_ = new TavrioSlider(this);
    slider_->setDelegate(this);
    addSubview(slider_, kSliderFrame);

    zoomLabel_ = new QLabel(QStringLiteral("1.0×"), this);
    zoomLabel_->setAlignment(Qt::AlignCenter);
    zoomLabel_->setAccessibleName(QStringLiteral("Zoom factor"));
    zoomLabel_->setToolTip(QStringLiteral("Double-click or press 0 for 1.0×"));
    zoomLabel_->setStyleSheet(
        QStringLiteral("color: %1; background: %2; border-radius: 4px; padding: 0 2px;")
            .arg(ui::theme::kOverPictureText.name(), ui::theme::kOverPicture.name(QColor::HexArgb)));
    ui::Fonts::set(zoomLabel_, 13, true);
    zoomLabel_->installEventFilter(this);
    addSubview(zoomLabel_, {});

    recordingButtonBkView_ = new ui::ImageView(resourceImage("bottombg"), this);
    addSubview(recordingButtonBkView_, QRectF(0, 426, 320, 54));

    recCtrlButton_ = new RDButton(this);
    addSubview(recCtrlButton_, QRectF(111, 434, 98, 38));
    recCtrlButton_->setEnabled(false);  // until a camera delivers pictures
    connect(recCtrlButton_, &RDButton::pressed, this, [this] { recCtrlButton_->setHighlighted(true); });
    connect(recCtrlButton_, &RDButton::clicked, this, &TavrioCameraController::record);

    infoButton_ = new ui::InfoButton(this);
    addSubview(infoButton_, QRectF(280, 446, 20, 20));
    connect(infoButton_, &ui::InfoButton::clicked, this, &TavrioCameraController::presentInstructionsAndSettings);

    listButton_ = new ui::ImageButton(resourceImage("list-icon"), this);
    listButton_->setAccessibleName(QStringLiteral("Library"));
    listButton_->setToolTip(QStringLiteral("Library (L)"));
    addSubview(listButton_, QRectF(20, 436, 48, 38));
    connect(listButton_, &ui::ImageButton::clicked, this, &TavrioCameraController::listButtonPressed);

    spinner_ = new ui::ActivityIndicator(this);
    addSubview(spinner_, QRectF(140, 213, 30, 30));
    spinner_->startAnimating();

    focusBox_ = new FocusBoxView(this);
    addSubview(focusBox_, QRectF(0, 0, kFocusBoxSide, kFocusBoxSide));
    focusBox_->hide();

    noCameraView_ = new QWidget(this);
    noCameraView_->setAccessibleName(QStringLiteral("No camera"));
    noCameraLabel_ = new QLabel(QStringLiteral("No camera found"), noCameraView_);
    noCameraLabel_->setAlignment(Qt::AlignCenter);
    noCameraLabel_->setWordWrap(true);
    noCameraLabel_->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    ui::Fonts::set(noCameraLabel_, 17);
    testPictureButton_ = new QPushButton(QStringLiteral("Use Test Picture"), noCameraView_);
    testPictureButton_->setAccessibleName(testPictureButton_->text());
    testPictureButton_->setToolTip(QStringLiteral("Film the moving test picture instead of a camera"));
    testPictureButton_->setStyleSheet(ui::theme::buttonStyleSheet());
    ui::Fonts::set(testPictureButton_, 15);
    connect(testPictureButton_, &QPushButton::clicked, this, &TavrioCameraController::useTestPicture);
    addSubview(noCameraView_, QRectF(20, 150, 280, 150));
    auto* inner = new ui::FrameLayout(noCameraView_);
    inner->addWidget(noCameraLabel_, QRectF(0, 0, 280, 90));
    inner->addWidget(testPictureButton_, QRectF(60, 100, 160, 40));
    noCameraView_->hide();

    switchCameraButton_ = new ui::ImageButton(resourceImage("switch-camera"), this);
    switchCameraButton_->setAccessibleName(QStringLiteral("Switch Camera"));
    switchCameraButton_->setToolTip(QStringLiteral("Next camera"));
    addSubview(switchCameraButton_, QRectF(262, 10, 48, 31));
    connect(switchCameraButton_, &ui::ImageButton::clicked, this, &TavrioCameraController::switchCamera);
    switchCameraButton_->hide();
    layoutControls();
}

QRectF TavrioCameraController::bounds() const {
    const double ppp = ui::PointScale::current().pixelsPerPoint();
    if (width() <= 0 || height() <= 0 || ppp <= 0) return kScreenRect;
    return QRectF(0, 0, width() / ppp, height() / ppp);
}

QRectF TavrioCameraController::sliderFrame() const {
    if (!landscape_) return kSliderFrame;
    const QRectF b = bounds();
    const double left = b.width() - kColumnWidth;
    return QRectF(std::floor((left - kSliderFrame.width()) / 2),
                  b.height() - kSliderFrame.height() - kSliderBottomMargin, kSliderFrame.width(),
                  kSliderFrame.height());
}

QRectF TavrioCameraController::torchFrame() const {
    const QSizeF size = torchTurned_ ? QSizeF(37, 72) : QSizeF(72, 37);
    if (!landscape_) return QRectF(QPointF(10, 10), size);
    const QRectF b = bounds();
    const QPointF centre(b.width() - kColumnWidth / 2, b.height() / 2 - 130);
    return QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size);
}

void TavrioCameraController::resizeEvent(QResizeEvent* event) {
    ui::ViewController::resizeEvent(event);
    layoutControls();
}

void TavrioCameraController::layoutControls() {
    const QRectF b = bounds();
    landscape_ = b.width() > b.height();
    ui::FrameLayout* f = frames();
    f->setFrame(previewView_, b);
    if (!landscape_) {
        controlColumn_->hide();
        recordingButtonBkView_->show();
        f->setFrame(recCtrlButton_, QRectF(111, 434, 98, 38));
        f->setFrame(infoButton_, QRectF(280, 446, 20, 20));
        f->setFrame(listButton_, QRectF(20, 436, 48, 38));
        f->setFrame(switchCameraButton_, QRectF(262, 10, 48, 31));
        f->setFrame(noCameraView_, QRectF(20, 150, 280, 150));
        if (spinner_) f->setFrame(spinner_, QRectF(140, 213, 30, 30));
    } else {
        // Record in the middle of the column, the library below it, settings and torch above;
        // the slider runs along the bottom of the picture beside the column.
        const double column = b.width() - kColumnWidth;
        const QPointF c(column + kColumnWidth / 2, b.height() / 2);
        const QPointF picture(column / 2, b.height() / 2);
        f->setFrame(controlColumn_, QRectF(column, 0, kColumnWidth, b.height()));
        controlColumn_->show();
        recordingButtonBkView_->hide();
        f->setFrame(recCtrlButton_, QRectF(c.x() - 49, c.y() - 19, 98, 38));
        f->setFrame(listButton_, QRectF(c.x() - 24, c.y() + 70, 48, 38));
        f->setFrame(infoButton_, QRectF(c.x() - 10, c.y() - 70, 20, 20));
        f->setFrame(switchCameraButton_, QRectF(c.x() - 24, 16, 48, 31));
        f->setFrame(noCameraView_, QRectF(picture.x() - 140, picture.y() - 75, 280, 150));
        if (spinner_) f->setFrame(spinner_, QRectF(picture.x() - 15, picture.y() - 15, 30, 30));
    }
    const QRectF slider = sliderFrame();
    f->setFrame(slider_, slider);
    f->setFrame(zoomLabel_, landscape_ ? QRectF(slider.right() + 6, slider.y(), 44, slider.height())
                                       : QRectF(slider.right() - 48, slider.y() - 24, 44, 20));
    if (flashButton_) f->setFrame(flashButton_, torchFrame());
    placeClock();
    // The strips and the full-screen factor depend on the shape.
    adjustPreviewLayerForAspectRatio();
    if (!fullScreenAnimation_) applyPreviewScale();
    logLayout();
}

void TavrioCameraController::logLayout() {
    // Where the controls are in the window's pixels, for diagnostics and for the end-to-end
    // tests that click them.
    if (!isVisible() || !lcApp().isDebugEnabled()) return;
    QWidget* top = window();
    auto at = [top](const QWidget* w, QPointF inWidget) {
        const QPoint p = w->mapTo(top, inWidget.toPoint());
        return QStringLiteral("%1,%2").arg(p.x()).arg(p.y());
    };
    auto centre = [&](const QWidget* w) {
        return w && w->isVisible() ? at(w, QRectF(w->rect()).center()) : QStringLiteral("-");
    };
    const double ppp = ui::PointScale::current().pixelsPerPoint();
    const double ballHalf = slider_->ballFrame().width() / 2, y = slider_->height() / 2.0;
    const QRect preview(previewView_->mapTo(top, QPoint(0, 0)), previewView_->size());
    const QString line =
        QStringLiteral("camera: layout %1 preview %2,%3 %4x%5 record %6 library %7 settings %8 torch %9 slider %10-%11")
            .arg(landscape_ ? QStringLiteral("landscape") : QStringLiteral("portrait"))
            .arg(preview.x())
            .arg(preview.y())
            .arg(preview.width())
            .arg(preview.height())
            .arg(centre(recCtrlButton_), centre(listButton_), centre(infoButton_), centre(flashButton_),
                 at(slider_, QPointF((TavrioSlider::kLeftMin + ballHalf) * ppp, y)),
                 at(slider_, QPointF((TavrioSlider::kRightMax + ballHalf) * ppp, y)));
    if (line == loggedLayout_) return;
    loggedLayout_ = line;
    qCDebug(lcApp).noquote() << line;
}

void TavrioCameraController::installShortcuts() {
    auto add = [this](const QKeySequence& keys, auto slot) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    add(QKeySequence(Qt::Key_F), [this] { handleDoubleTap(); });
    add(QKeySequence(Qt::Key_0), [this] { resetZoom(); });
    // Space records wherever the keyboard is, also where no control has it: a focused button or
    // the slider does not take it for itself (a shortcut comes before their key handling). The
    // screen is hidden while another covers it, which then has Space to itself.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WindowShortcut);
    space->setAutoRepeat(false);
    connect(space, &QShortcut::activated, this, [this] {
        if (modalViewController()) return;
        if (recCtrlButton_->isEnabled())
            record();
        else
            qCDebug(lcApp) << "camera: record key ignored" << recorder_->state();
    });
    add(QKeySequence(Qt::Key_L), [this] { listButtonPressed(); });
    add(QKeySequence(Qt::Key_Comma), [this] { presentInstructionsAndSettings(); });
    add(QKeySequence(Qt::Key_T), [this] { torchChange(); });
    add(QKeySequence(Qt::Key_O), [this] {
        // A stand-in for turning the machine: the next recording is portrait or landscape.
        if (recorder_->isRecording()) return;
        const int o = platform::DeviceOrientation::orientation();
        platform::DeviceOrientation::setOrientation(o == platform::DeviceOrientation::Portrait
                                                        ? platform::DeviceOrientation::LandscapeRight
                                                        : platform::DeviceOrientation::Portrait);
    });
}

void TavrioCameraController::focusFirstControl() {
    // Space then presses the record button; a user who tabs to another button presses that one.
    recCtrlButton_->setFocus(Qt::OtherFocusReason);
}

void TavrioCameraController::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    // + comes with Shift on most layouts, so it is matched here, whatever the modifiers; = is
    // the same key unshifted. Held keys repeat.
    case Qt::Key_Plus:
    case Qt::Key_Equal: slider_->nudge(1); break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: slider_->nudge(-1); break;
    default: ui::ViewController::keyPressEvent(event); return;
    }
    event->accept();
}

bool TavrioCameraController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == zoomLabel_ && event->type() == QEvent::MouseButtonDblClick) {
        resetZoom();
        return true;
    }
    return ui::ViewController::eventFilter(watched, event);
}

void TavrioCameraController::wheelEvent(QWheelEvent* event) {
    // The wheel zooms over the picture as over the slider.
    slider_->scrollBy(event->angleDelta().y());
    event->accept();
}

// ---- Set-up

void TavrioCameraController::setUpCaptureManager() {
    const LaunchOptions& options = LaunchOptions::current();
    TavrioCaptureManager& manager = recorder_->captureManager();
    manager.setCameraID(options.camera);
    manager.setMicrophoneID(options.microphone);
    if (options.cameraRotation >= 0) manager.setCameraRotationOverride(options.cameraRotation);
    // A set-up replaces the session, and its preview slot with it.
    previewView_->setPreviewSlot(nullptr);
    recorder_->setUpSession(settings::getSessionPresetFromSettings());
}

void TavrioCameraController::sessionSetUp(bool running) {
    qCDebug(lcApp) << (running ? "camera: session running" : "camera: session not running");
    TavrioCaptureManager& manager = recorder_->captureManager();
    if (running && manager.session()) {
        previewView_->setMounting(manager.cameraRotation());
        previewView_->setPreviewSlot(&manager.session()->previewSlot());
    }
    adjustPreviewLayerForAspectRatio();
    if (!std::exchange(firstSetUpDone_, true)) drawFocusBoxAtPointOfInterest(bounds().center());
    // On the phone's screen the first picture that does not fill it starts enlarged (as the
    // user can undo); a landscape window shows all that is recorded.
    if (running && !landscape_ && !std::exchange(enlargedOnce_, true)) {
        const QSizeF a = cleanAperture();
        if (!a.isEmpty() && 3 * a.width() != 4 * a.height())
            QTimer::singleShot(kFullScreenMs, this, [this] {
                if (!_isFullScreen && !landscape_) handleDoubleTap();
            });
    }
    if (spinner_) {
        spinner_->stopAnimating();
        spinner_->deleteLater();
        spinner_ = nullptr;
    }
    if (running && manager.hasTorch() && !flashButton_) {
        flashButton_ = new ui::ImageButton(resourceImage("flash-off-iphone4"), this);
        flashButton_->setAccessibleName(QStringLiteral("Torch"));
        flashButton_->setToolTip(QStringLiteral("Torch (T)"));
        addSubview(flashButton_, torchFrame());
        connect(flashButton_, &ui::ImageButton::clicked, this, &TavrioCameraController::torchChange);
        torchModeChanged(manager.torchMode());
        didRotate();
    }
    if (flashButton_) flashButton_->setVisible(running && manager.hasTorch());
    updateCameraState();
    logLayout();
    updateSwitchButton();
}

void TavrioCameraController::updateCameraState() {
    const bool showNoCamera = firstSetUpDone_ && !recorder_->isCameraRunning() && !recorder_->isSessionSetUpPending();
    if (showNoCamera) {
        const auto camera = recorder_->captureManager().camera();
        // No camera at all, or the one chosen cannot be used (the alert told why).
        noCameraLabel_->setText(camera.id.isEmpty()
                                    ? QStringLiteral("No camera found")
                                    : RecordingController::deviceProblemMessage(camera.name, camera.error, true));
        noCameraLabel_->setAccessibleDescription(noCameraLabel_->text());
        testPictureButton_->setVisible(camera.id != QLatin1String(media::CaptureDevice::kVirtualCameraID));
        noCameraView_->raise();
    }
    if (showNoCamera != noCameraView_->isVisible())
        qCDebug(lcApp) << (showNoCamera ? "camera: no camera shown" : "camera: no camera hidden");
    noCameraView_->setVisible(showNoCamera);
    recCtrlButton_->setEnabled(recorder_->isRecordEnabled());
    // The record button could not take the keyboard while it was off: Space records once a
    // camera runs, unless the user is elsewhere.
    QWidget* focused = QApplication::focusWidget();
    if (recCtrlButton_->isEnabled() && !modalViewController() &&
        (!focused || !isAncestorOf(focused) || !focused->isVisible() || focused == testPictureButton_))
        focusFirstControl();
}

void TavrioCameraController::updateSwitchButton() {
    // Only real cameras count: the test picture is chosen in the settings or the no-camera view.
    switchCameraButton_->setVisible(recorder_->captureManager().cameraCount() > 1 && !recorder_->isRecording());
    if (switchCameraButton_->isVisible()) switchCameraButton_->raise();
}

void TavrioCameraController::chooseCamera(const QString& id) {
    platform::Defaults& defaults = platform::Defaults::standard();
    defaults.setString(id, QLatin1String(settings::kCameraDevice));
    if (!defaults.synchronize()) qCWarning(lcApp) << "the camera choice cannot be stored; it holds until Tavrio quits";
    recorder_->captureManager().setCameraID(QString());
    qCDebug(lcApp).noquote() << "camera: chose" << id;
    recorder_->followDeviceChoice();
}

void TavrioCameraController::useTestPicture() {
    chooseCamera(QString::fromLatin1(media::CaptureDevice::kVirtualCameraID));
}

void TavrioCameraController::switchCamera() {
    if (recorder_->isRecording()) return;
    QStringList cameras;
    for (const auto& d : TavrioCaptureManager::knownDevices())
        if (d.isCamera && !d.isVirtual) cameras << d.uniqueID;
    if (cameras.size() < 2) return;
    const int at = int(cameras.indexOf(recorder_->captureManager().camera().id));
    chooseCamera(cameras.at((at + 1) % cameras.size()));
}

void TavrioCameraController::restartSession() {
    recorder_->restartSession();
}

QSizeF TavrioCameraController::cleanAperture() const {
    const auto& input = recorder_->captureManager().videoInput();
    if (!input) return {};
    for (const auto& port : input->ports()) {
        if (port->mediaType() != media::MediaType::Video) continue;
        const media::PixelRect a = port->formatDescription().cleanAperture;
        return QSizeF(a.width, a.height);
    }
    return {};
}

void TavrioCameraController::adjustPreviewLayerForAspectRatio() {
    const QSizeF aperture = cleanAperture();
    if (aperture.width() <= 0 || aperture.height() <= 0) return;
    const int mounting = recorder_->captureManager().cameraRotation();
    previewView_->setMounting(mounting);
    // Black over whatever of the view the picture does not cover, so that a zoomed picture
    // shows no more than the export will.
    const preview::Strips strips = preview::stripsFor(bounds().size(), aperture, mounting);
    if (strips.sideWidth == blackStripWidth_ && strips.barHeight == blackBarHeight_ && leftView_) return;
    blackStripWidth_ = strips.sideWidth;
    blackBarHeight_ = strips.barHeight;
    delete leftView_;
    delete rightView_;
    leftView_ = rightView_ = nullptr;
    if (blackStripWidth_ == 0 && blackBarHeight_ == 0) return;
    for (QWidget** strip : {&leftView_, &rightView_}) {
        auto* v = new QWidget(this);
        v->setAutoFillBackground(true);
        QPalette pal = v->palette();
        pal.setColor(QPalette::Window, ui::theme::kPictureGround);
        v->setPalette(pal);
        v->setAttribute(Qt::WA_TransparentForMouseEvents);
        addSubview(v, {});
        v->stackUnder(controlColumn_);
        v->show();
        *strip = v;
    }
    setStripFrames(stripSlide_);
}

void TavrioCameraController::setStripFrames(double slide) {
    stripSlide_ = slide;
    if (!leftView_ || !rightView_) return;
    ui::FrameLayout* layout = frames();
    const QSizeF size = bounds().size();
    if (blackBarHeight_ > 0) {
        const double b = blackBarHeight_, off = b * slide;
        layout->setFrame(leftView_, QRectF(0, -off, size.width(), b));
        layout->setFrame(rightView_, QRectF(0, size.height() - b + off, size.width(), b));
    } else {
        const double s = blackStripWidth_, off = s * slide;
        layout->setFrame(leftView_, QRectF(-off, 0, s, size.height()));
        layout->setFrame(rightView_, QRectF(size.width() - s + off, 0, s, size.height()));
    }
}

// ---- Taps, focus and full screen

QPointF TavrioCameraController::convertToPointOfInterestFromViewCoordinates(QPointF point) const {
    const double s = previewView_->previewScale();
    if (landscape_) {
        // Back through the preview's own transform: the point of the picture drawn there.
        const QSizeF picture = cleanAperture();
        if (picture.isEmpty()) return {0.5, 0.5};
        const media::AffineTransform toView =
            preview::pictureToView(picture, recorder_->captureManager().cameraRotation(), bounds().size(), float(s));
        const media::Point p = toView.inverted().apply({point.x(), point.y()});
        const QPointF poi(p.x / picture.width(), p.y / picture.height());
        if (poi.x() < 0 || poi.x() > 1 || poi.y() < 0 || poi.y() > 1) return {0.5, 0.5};
        return poi;
    }
    return preview::pointOfInterest(point, kScreenRect.size() * s, s, cleanAperture(),
                                    recorder_->captureManager().cameraRotation(), _isFullScreen);
}

void TavrioCameraController::tapToFocus(QPointF point) {
    // Taps on the slider and just above it belong to the slider, as the column to its controls.
    const QRectF slider = sliderFrame();
    if (landscape_ ? slider.adjusted(-5, -5, 5, 5).contains(point) || point.x() >= bounds().width() - kColumnWidth
                   : point.y() >= slider.y() - 5)
        return;
    TavrioCaptureManager& manager = recorder_->captureManager();
    const auto& input = manager.videoInput();
    if (!input || !input->device()->isFocusPointOfInterestSupported()) return;
    const QPointF poi = convertToPointOfInterestFromViewCoordinates(point);
    manager.focusAtPoint(poi);
    manager.exposureAtPoint(poi);
    drawFocusBoxAtPointOfInterest(point);
}

void TavrioCameraController::drawFocusBoxAtPointOfInterest(QPointF point) {
    if (!recorder_->captureManager().hasFocus()) return;
    const double half = kFocusBoxSide / 2.0;
    frames()->setFrame(focusBox_, QRectF(point.x() - half, point.y() - half, kFocusBoxSide, kFocusBoxSide));
    static_cast<FocusBoxView*>(focusBox_)->flash();
}

void TavrioCameraController::handleDoubleTap() {
    const QSizeF a = cleanAperture();
    if (a.isEmpty()) return;  // no picture to enlarge
    if (fullScreenAnimation_) fullScreenAnimation_->stop();
    _isFullScreen = !_isFullScreen;
    const float from = previewView_->previewScale();
    const float to = _isFullScreen ? zoom_ * fullScreenFactor() : zoom_;
    const double slideFrom = stripSlide_, slideTo = _isFullScreen ? 1.0 : 0.0;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(kFullScreenMs);
    connect(animation, &QVariantAnimation::valueChanged, this, [=, this](const QVariant& v) {
        const double t = v.toDouble();
        previewView_->setPreviewScale(float(from + (to - from) * t));
        setStripFrames(slideFrom + (slideTo - slideFrom) * t);
    });
    connect(animation, &QVariantAnimation::finished, this, [this] { applyPreviewScale(); });
    fullScreenAnimation_ = animation;
    qCDebug(lcApp) << (_isFullScreen ? "camera: full screen on" : "camera: full screen off");
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

float TavrioCameraController::fullScreenFactor() const {
    if (!landscape_) return preview::kFullScreenScale;
    const QSizeF turned = preview::turnedSize(cleanAperture(), recorder_->captureManager().cameraRotation());
    const QSizeF view = bounds().size();
    if (turned.isEmpty() || view.isEmpty()) return 1.0f;
    const double sx = view.width() / turned.width(), sy = view.height() / turned.height();
    return float(std::max(sx, sy) / std::min(sx, sy));
}

void TavrioCameraController::applyPreviewScale() {
    previewView_->setPreviewScale(_isFullScreen ? zoom_ * fullScreenFactor() : zoom_);
    setStripFrames(_isFullScreen ? 1.0 : 0.0);
}

void TavrioCameraController::resetZoom() {
    slider_->moveSliderBallToPoint(TavrioSlider::kLeftMin);
}

// ---- Recording

void TavrioCameraController::record() {
    const bool taken = recorder_->record();
    qCDebug(lcApp) << (taken ? "camera: record pressed" : "camera: record pressed, ignored") << recorder_->state();
    if (!taken) recCtrlButton_->setHighlighted(false);
}

void TavrioCameraController::recordingStateChanged(RecordingController::State state) {
    switch (state) {
    case RecordingController::State::Recording:
        recCtrlButton_->setHighlighted(false);
        recCtrlButton_->animateRecordButton();
        showhideTimeView(true);
        break;
    case RecordingController::State::Idle:
        // Also a recording that ended without the stop button (a failure).
        showhideTimeView(false);
        recCtrlButton_->stopRecordingAnimation();
        recCtrlButton_->setHighlighted(false);
        recCtrlButton_->setEnabled(recorder_->isRecordEnabled());
        break;
    case RecordingController::State::Stopping:
        showhideTimeView(false);
        recCtrlButton_->stopRecordingAnimation();
        if (beep_) beep_->play();
        recCtrlButton_->setEnabled(false);
        break;
    case RecordingController::State::Starting: break;
    }
}

void TavrioCameraController::zoomSliderChanged(float value) {
    zoom_ = recorder_->zoomSliderChanged(value);
    qCDebug(lcApp) << "camera: zoom" << zoom_;
    zoomLabel_->setText(QString::asprintf("%.1f×", double(zoom_)));
    if (fullScreenAnimation_) fullScreenAnimation_->stop();
    applyPreviewScale();
}

void TavrioCameraController::torchChange() {
    TavrioCaptureManager& manager = recorder_->captureManager();
    if (!manager.hasTorch()) return;
    manager.setTorchMode(manager.torchMode() != 1 ? 1 : 0);
}

void TavrioCameraController::torchModeChanged(int mode) {
    if (!flashButton_) return;
    QImage image = resourceImage(mode == 1 ? "flash-on-iphone4" : "flash-off-iphone4");
    const int o = platform::DeviceOrientation::orientation();
    if (o == platform::DeviceOrientation::LandscapeLeft)
        image = turned(image, 90);
    else if (o == platform::DeviceOrientation::LandscapeRight)
        image = turned(image, 270);
    flashButton_->setImage(image);
    flashButton_->setAccessibleDescription(mode == 1 ? QStringLiteral("On") : QStringLiteral("Off"));
    qCDebug(lcApp) << (mode == 1 ? "camera: torch on" : "camera: torch off");
}

void TavrioCameraController::showhideTimeView(bool show) {
    delete timeView_;
    delete timeLabel_;
    timeView_ = nullptr;
    timeLabel_ = nullptr;
    if (!show) return;
    timeView_ = new ui::ImageView(resourceImage("timebg"), this);
    timeView_->setOpacity(0.5);
    timeView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    addSubview(timeView_, {});
    auto* label = new ClockLabel(this);
    label->setText(QStringLiteral("00:00:00"));
    addSubview(label, {});
    timeLabel_ = label;
    placeClock();
}

QWidget* TavrioCameraController::timeView() const {
    return timeView_;
}

void TavrioCameraController::placeClock() {
    if (!timeView_ || !timeLabel_) return;
    // Upright, as wide as its widest text; at the top right of the phone's screen, at the top
    // left of a landscape window's picture, clear of the column.
    const QSizeF text = ClockLabel::textSize(QStringLiteral("00:00:00"));
    const QSizeF box(text.width() + 24, std::max(30.0, text.height() + 8));
    const QPointF at = landscape_ ? QPointF(16, 16) : QPointF(310 - box.width(), 20);
    frames()->setFrame(timeView_, QRectF(at, box));
    frames()->setFrame(timeLabel_, QRectF(at + QPointF(12, (box.height() - text.height()) / 2), text));
}

void TavrioCameraController::generateVideoSavingAnimationForVideo(const QImage& thumbnail) {
    if (_imageViewForAnimation) delete _imageViewForAnimation;
    auto* view = new ui::ImageView(thumbnail, this);
    view->setAttribute(Qt::WA_TransparentForMouseEvents);
    // From the picture as it filled the screen to the library button, in the thumbnail's shape.
    const QRectF b = bounds();
    const QSizeF shape = thumbnail.isNull() ? QSizeF(16, 9) : QSizeF(thumbnail.size());
    const QSizeF big = shape.scaled(b.size(), Qt::KeepAspectRatio);
    const QSizeF small = shape.scaled(QSizeF(24, 24), Qt::KeepAspectRatio);
    addSubview(view, QRectF(b.center() - QPointF(big.width() / 2, big.height() / 2), big));
    view->show();
    _imageViewForAnimation = view;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(kSavingAnimationMs);
    const QPointF from = b.center(), to = frames()->frame(listButton_).center();
    QPointer<ui::ImageView> target(view);
    connect(animation, &QVariantAnimation::valueChanged, this, [=, this](const QVariant& v) {
        if (!target) return;
        const double t = v.toDouble();
        const QPointF c = from + (to - from) * t;
        const QSizeF s = big + (small - big) * t;
        frames()->setFrame(target, QRectF(c - QPointF(s.width() / 2, s.height() / 2), s));
        target->setOpacity(1.0 - t);
    });
    connect(animation, &QVariantAnimation::finished, this, [this, target] {
        if (target) {
            target->setImage({});
            delete target.data();
        }
        qCDebug(lcApp) << "camera: saving animation finished";
        emit savingAnimationFinished();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void TavrioCameraController::logPreviewStats() {
    // How the preview kept up while recording: pictures painted per second and the time from
    // capture to paint (for diagnostics and the benchmark).
    const auto& stats = previewView_->stats();
    const double seconds = double(media::monotonicNowNs() - previewMark_.timeNs) / 1e9;
    if (previewMark_.timeNs == 0 || seconds <= 0) return;
    const uint64_t painted = stats.paintedPictures - previewMark_.painted;
    auto* slot = previewView_->previewSlot();
    const uint64_t captured = slot ? slot->generation() - previewMark_.captured : 0;
    // The newest latencies are this recording's (the list keeps the last few thousand).
    const size_t n = std::min(stats.latenciesNs.size(), size_t(painted));
    std::vector<int64_t> latencies(stats.latenciesNs.end() - std::ptrdiff_t(n), stats.latenciesNs.end());
    double median = 0;
    if (!latencies.empty()) {
        std::nth_element(latencies.begin(), latencies.begin() + latencies.size() / 2, latencies.end());
        median = double(latencies[latencies.size() / 2]) / 1e6;
    }
    qCDebug(lcApp,
            "camera: preview painted %llu pictures in %.2f s (%.1f per second) of %llu captured, median "
            "capture-to-paint %.1f ms",
            (unsigned long long)painted, seconds, double(painted) / seconds, (unsigned long long)captured, median);
    // What the test picture spent being a webcam (JPEG encoding), which a real camera does in
    // its own hardware: measurements leave it out.
    if (const int64_t jpegNs = media::virtualCameraEncodeCpuNs() - previewMark_.jpegCpuNs; jpegNs > 0)
        qCDebug(lcApp, "camera: test picture JPEG encoding %.2f s of CPU", double(jpegNs) / 1e9);
}

// ---- Navigation

void TavrioCameraController::listButtonPressed() {
    if (recorder_->isTakeInProgress() || modalViewController() || isTransitioning()) return;
    presentLibrary();
}

void TavrioCameraController::presentLibrary() {
    recorder_->stopSession();
    auto* library = VideoAssetsScreen::presentFrom(this);
    if (!library) {
        restartSession();
        return;
    }
    // Escape on the list closes it as Done does: the keyboard's way out.
    if (auto* nav = library->navigationController())
        connect(nav, &ui::NavigationController::backFromRoot, library, [library] { library->doneButton()->trigger(); });
    // Restarted however the list goes away, not only through its Done button.
    QPointer<TavrioCameraController> self(this);
    connect(this, &ui::ViewController::modalDismissed, library, [self] {
        if (self) self->videoAssetsViewControllerDidDismiss();
    });
}

void TavrioCameraController::videoAssetsViewControllerDidDismiss() {
    restartSession();
}

void TavrioCameraController::presentInstructionsAndSettings() {
    if (recorder_->isTakeInProgress() || modalViewController()) return;
    QPointer<TavrioCameraController> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self) self->launchSettings();
    });
}

void TavrioCameraController::launchSettings() {
    if (recorder_->isTakeInProgress() || modalViewController() || isTransitioning()) return;
    platform::Defaults& defaults = platform::Defaults::standard();
    cameraWhenSettingsOpened_ = defaults.stringForKey(QLatin1String(settings::kCameraDevice));
    microphoneWhenSettingsOpened_ = defaults.stringForKey(QLatin1String(settings::kMicrophoneDevice));
    // The camera rests while the settings cover it, as under the library.
    recorder_->stopSession();
    auto* list = new ZoomSettingsController();
    list->setInvoker(this);
    auto* nav = new ui::NavigationController(list);
    nav->setBarStyle(ui::NavigationBar::Style::Black);
    // Escape on the list closes it as Done does: the keyboard's way out.
    connect(nav, &ui::NavigationController::backFromRoot, list, &ZoomSettingsController::doneButtonPressed);
    presentModalViewController(nav, true);
}

void TavrioCameraController::settingsChanged(QObject*) {
    // A device chosen in the settings wins over one given for this run.
    TavrioCaptureManager& manager = recorder_->captureManager();
    platform::Defaults& defaults = platform::Defaults::standard();
    if (defaults.stringForKey(QLatin1String(settings::kCameraDevice)) != cameraWhenSettingsOpened_)
        manager.setCameraID(QString());
    if (defaults.stringForKey(QLatin1String(settings::kMicrophoneDevice)) != microphoneWhenSettingsOpened_)
        manager.setMicrophoneID(QString());
    // A new preset or device is taken by a new session, set up off the main thread (reopening a
    // camera takes long enough to stall the window).
    const media::CapturePreset preset = settings::getSessionPresetFromSettings();
    if (manager.session() && manager.session()->sessionPreset() != preset)
        recorder_->setUpSession(preset);
    else
        recorder_->restartSession();  // with the devices chosen now
    if (flashButton_) flashButton_->raise();
    dismissModalViewController(true);
    // The keyboard comes back to the camera screen, on the record button once it can record.
    QPointer<TavrioCameraController> self(this);
    QTimer::singleShot(kFullScreenMs + 100, this, [self] {
        if (self && !self->modalViewController()) self->updateCameraState();
    });
}

void TavrioCameraController::didRotate() {
    if (recorder_->isRecording() || !flashButton_) return;
    const int o = platform::DeviceOrientation::orientation();
    switch (o) {
    case platform::DeviceOrientation::LandscapeLeft:
    case platform::DeviceOrientation::LandscapeRight: torchTurned_ = true; break;
    case platform::DeviceOrientation::Portrait:
    case platform::DeviceOrientation::PortraitUpsideDown: torchTurned_ = false; break;
    default: return;
    }
    frames()->setFrame(flashButton_, torchFrame());
    torchModeChanged(recorder_->captureManager().torchMode());
}
