#pragma once
// The camera screen: the live preview, the zoom slider with its readout, the library, record and
// settings buttons, the torch button, the recording clock, the focus box, the full-screen toggle
// and the saving animation. It is laid out by its own shape, again whenever that changes (also
// while recording): taller than wide, the phone's screen in points (a bottom bar, the slider
// above it, the torch at the top left); wider than tall, the preview fills the window and the
// controls stand in a translucent column along the right edge, the slider along the bottom.
//
// The preview shows what the export will: at zoom z the central 1/z of the picture. Only the
// full-screen toggle, the user's own choice, crops further (to fill the screen).
//
// The recording cycle itself (session, recording states, zoom track, thumbnail, failures) is the
// RecordingController's, which the command line drives too; this screen plays the sounds, shows
// the states and turns user input into its calls.
//
// Keyboard: Space records and stops wherever the keyboard is on this screen, + and - zoom, 0
// returns to 1.0x, F toggles full screen, L opens the library, comma the settings, T the torch,
// O turns the recording orientation (machines without an orientation sensor).

#include "RecordingController.h"
#include "TavrioPreviewView.h"
#include "TavrioSlider.h"
#include "ZoomSettingsController.h"

#include "ui/ViewController.h"

#include <QPointer>

class QLabel;
class QPushButton;
class QVariantAnimation;
class RDButton;
namespace ui {
class ActivityIndicator;
class ImageButton;
class ImageView;
class InfoButton;
class SystemSound;
}  // namespace ui

class TavrioCameraController : public ui::ViewController,
                               public TavrioPreviewViewDelegate,
                               public TavrioSliderViewDelegate,
                               public ZoomSettingsInvoker {
    Q_OBJECT
public:
    explicit TavrioCameraController(QWidget* parent = nullptr);
    ~TavrioCameraController() override;

    RecordingController* recorder() const { return recorder_; }
    TavrioPreviewView* videoPreviewView() const { return previewView_; }
    TavrioSlider* slider() const { return slider_; }
    RDButton* recCtrlButton() const { return recCtrlButton_; }
    ui::ImageButton* listButton() const { return listButton_; }
    ui::InfoButton* infoButton() const { return infoButton_; }
    ui::ImageButton* flashButton() const { return flashButton_; }
    QWidget* focusBox() const { return focusBox_; }
    QWidget* leftView() const { return leftView_; }
    QWidget* rightView() const { return rightView_; }
    QWidget* timeLabel() const { return timeLabel_; }
    QWidget* timeView() const;
    // The zoom factor by the slider ("2.0×"); a double click on it returns to 1.0x.
    QLabel* zoomLabel() const { return zoomLabel_; }
    // The translucent column behind the controls (shown in the landscape layout only).
    QWidget* controlColumn() const { return controlColumn_; }
    bool isLandscape() const { return landscape_; }
    // The screen's bounds in points.
    QRectF bounds() const;
    bool fillsCanvas() const override { return true; }
    // Shown over the preview while no camera delivers pictures: "No camera found" (or why the
    // camera cannot be used) and a button that switches to the test picture.
    QWidget* noCameraView() const { return noCameraView_; }
    QPushButton* testPictureButton() const { return testPictureButton_; }
    // Shown when the machine has more than one camera: the next one.
    ui::ImageButton* switchCameraButton() const { return switchCameraButton_; }
    ui::ActivityIndicator* spinner() const { return spinner_; }
    bool isFullScreen() const { return _isFullScreen; }
    int blackStripWidth() const { return blackStripWidth_; }
    int blackBarHeight() const { return blackBarHeight_; }
    // The clean aperture of the camera's video port (empty until pictures flow).
    QSizeF cleanAperture() const;

    // ---- Set-up (deferred one turn of the event loop after construction)
    void setUpCaptureManager();
    void adjustPreviewLayerForAspectRatio();
    void restartSession();

    // ---- Taps, focus, full screen
    void tapToFocus(QPointF point) override;
    void handleDoubleTap() override;
    void drawFocusBoxAtPointOfInterest(QPointF point);
    QPointF convertToPointOfInterestFromViewCoordinates(QPointF point) const;

    // ---- Recording
    void record();
    void zoomSliderChanged(float value) override;
    void torchChange();
    // Back to 1.0x, as the slider's ball at its left end.
    void resetZoom();
    void showhideTimeView(bool show);

    // ---- Navigation; each is refused while recording.
    void listButtonPressed();
    // Opens the library over the camera, the session stopped while it shows.
    void presentLibrary();
    void videoAssetsViewControllerDidDismiss();
    void presentInstructionsAndSettings();
    void launchSettings();
    // ZoomSettingsInvoker: the settings closed with Done; their preset applies now.
    void settingsChanged(QObject* sender) override;

    // Turns the torch button with the device (ignored while recording).
    void didRotate();
    // The test picture becomes the remembered camera and is filmed.
    void useTestPicture();
    // The next camera of the machine's becomes the remembered one and is filmed.
    void switchCamera();

    void focusFirstControl() override;

signals:
    // The saving animation of a finished recording has ended.
    void savingAnimationFinished();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void layoutControls();
    QRectF torchFrame() const;
    QRectF sliderFrame() const;
    // What full screen multiplies the zoom by: 4/3 on the phone's screen; in a landscape window
    // whatever makes the picture cover the window.
    float fullScreenFactor() const;
    void placeClock();
    void logLayout();
    void installShortcuts();
    void sessionSetUp(bool running);
    void updateCameraState();
    void updateSwitchButton();
    // Remembers `id` as the camera and follows it (a camera given for this run yields).
    void chooseCamera(const QString& id);

    void recordingStateChanged(RecordingController::State state);
    void generateVideoSavingAnimationForVideo(const QImage& thumbnail);
    void torchModeChanged(int mode);
    void setStripFrames(double slide);
    void applyPreviewScale();
    void logPreviewStats();

    RecordingController* recorder_;
    TavrioPreviewView* previewView_ = nullptr;
    QWidget* leftView_ = nullptr;
    QWidget* rightView_ = nullptr;
    QWidget* focusBox_ = nullptr;
    TavrioSlider* slider_ = nullptr;
    ui::ImageView* recordingButtonBkView_ = nullptr;
    RDButton* recCtrlButton_ = nullptr;
    ui::InfoButton* infoButton_ = nullptr;
    ui::ImageButton* listButton_ = nullptr;
    ui::ActivityIndicator* spinner_ = nullptr;
    ui::ImageButton* flashButton_ = nullptr;
    ui::ImageView* timeView_ = nullptr;
    QWidget* timeLabel_ = nullptr;
    ui::SystemSound* beep_ = nullptr;
    QWidget* noCameraView_ = nullptr;
    QLabel* noCameraLabel_ = nullptr;
    QPushButton* testPictureButton_ = nullptr;
    ui::ImageButton* switchCameraButton_ = nullptr;
    QLabel* zoomLabel_ = nullptr;
    QWidget* controlColumn_ = nullptr;
    bool landscape_ = false;
    bool torchTurned_ = false;
    QString loggedLayout_;
    bool firstSetUpDone_ = false;
    bool enlargedOnce_ = false;
    QString cameraWhenSettingsOpened_, microphoneWhenSettingsOpened_;
    QPointer<QVariantAnimation> fullScreenAnimation_;
    QPointer<ui::ImageView> _imageViewForAnimation;
    bool _isFullScreen = false;
    int blackStripWidth_ = 0;
    int blackBarHeight_ = 0;
    float zoom_ = 1.0f;
    float pinchStartZoom_ = 1.0f;  // the zoom when the pinch under way began
    double stripSlide_ = 0;        // 0: strips in place, 1: slid off for full screen
    struct PreviewMark {
        int64_t timeNs = 0;
        uint64_t painted = 0;
        uint64_t captured = 0;
        int64_t jpegCpuNs = 0;
    } previewMark_;  // the preview's counters when the current recording began
};
