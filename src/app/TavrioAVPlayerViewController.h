#pragma once
// The full-screen player the details screen pushes: the picture filling the screen, a lower
// panel with the scrubber and the play or pause bar, the navigation bar's back button. Vertical
// swipes (a mouse drag or a touch) hide and show the bar (upper half) and the panel (lower half).
// Elapsed and total time beside the scrubber; a click on its track seeks there. Full screen (F,
// a double click on the picture, or the panel's button) shows the picture alone on the whole
// display; F, Escape or a double click come back.
// Keyboard: Space plays and pauses, Left and Right seek 5 s, Escape goes back.
//
// A recording's zoom is drawn as a band along the scrubber. In zoom-again mode the screen makes a
// new zoom for the recording while it plays: the camera screen's zoom slider and readout above
// the panel (+, - and 0, the wheel), the picture rendered live through the new track; seeking
// back and zooming again redoes the track from there. At the end, on Done or on Escape the user
// keeps the new zoom (stored off the UI thread) or discards it.

#include <QPointer>
#include <memory>

#include "TavrioSlider.h"
#include "ZoomAgainSession.h"
#include "ZoomTrack.h"
#include "media/Player.h"
#include "ui/ViewController.h"

class QLabel;
class QSlider;
class QVariantAnimation;
class QToolButton;
class AVPlayerDemoPlaybackView;
class ZoomBand;

class TavrioAVPlayerViewController : public ui::ViewController, public TavrioSliderViewDelegate {
    Q_OBJECT
public:
    // Plays the item (a movie, possibly with a video composition) as soon as it is ready.
    // `audio` is the sound device; by default the desktop's (Qt Multimedia), none in tests.
    explicit TavrioAVPlayerViewController(media::PlayerItem item, QWidget* parent = nullptr);
    TavrioAVPlayerViewController(media::PlayerItem item, std::shared_ptr<media::AudioOutput> audio,
                                 QWidget* parent = nullptr);
    ~TavrioAVPlayerViewController() override;

    media::Player* player() const { return mPlayer.get(); }
    AVPlayerDemoPlaybackView* playbackView() const { return mPlaybackView; }
    QSlider* scrubber() const { return mScrubber; }
    QWidget* lowerUI() const { return mLowerUI; }
    QWidget* playBar() const { return mPlayBar; }
    QWidget* pauseBar() const { return mPauseBar; }
    QLabel* elapsedLabel() const { return mElapsedLabel; }
    QLabel* totalLabel() const { return mTotalLabel; }
    QToolButton* fullScreenButton() const { return mFullScreenButton; }
    ZoomBand* zoomBand() const { return mZoomBand; }

    // The recording's zoom, drawn along the scrubber.
    void setZoomCurve(std::shared_ptr<const media::ZoomCurve> curve);
    // Zoom-again mode for the item's recording (`current` is its track now, if any): a new zoom
    // from 1.0x on the player's own clock. The item must have been made with a zoom composition
    // of the recording (playbackComposition), which the new zoom's then replaces.
    void beginZoomAgain(const QString& moviePath, const std::optional<ZoomTrack>& current);
    ZoomAgainSession* zoomAgainSession() const { return mZoomAgain.get(); }
    TavrioSlider* zoomSlider() const { return mZoomSlider; }
    QLabel* zoomLabel() const { return mZoomLabel; }
    // Pauses and asks whether to keep the new zoom (Done, Escape, the end of the movie).
    void finishZoomAgain();
    // Stores the new zoom (off the UI thread) and goes back; a failure is told and the session
    // stays. Discard goes back and leaves the files alone.
    void keepZoomAgain();
    void discardZoomAgain();
    void zoomSliderChanged(float value) override;

    // "1:05", or "1:02:03" from an hour on.
    static QString timeText(double seconds);
    // The picture alone on the whole display, or back in the screen.
    void setFullScreen(bool fullScreen);
    bool isFullScreen() const { return mFullScreenHost != nullptr; }

    void play();
    void pause();
    void beginScrubbing();
    void scrub();
    void endScrubbing();
    // A vertical swipe at `pos` (this screen's pixels): up (true) or down.
    void handleSwipe(bool up, QPointF pos);
    bool isPlaying() const;
    void syncButtons();
    void syncScrubber();
    // The time observer's interval now: half a scrubber point's worth of movie, else 0.1 s.
    media::Time timeObserverInterval() const;
    float restoreAfterScrubbingRate() const { return mRestoreAfterScrubbingRate; }
    bool hasTimeObserver() const { return mTimeObserver != 0; }

    void viewWillDisappear(bool animated) override;
    void focusFirstControl() override;
    // The picture takes a landscape window's whole width.
    bool fillsCanvas() const override { return true; }

signals:
    // The new zoom was stored as the recording's track (true) or let go (false).
    void zoomAgainEnded(bool kept);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void buildView();
    void addTimeObserver();
    void removeTimeObserver();
    void seekBy(double seconds);
    // The picture back in the screen from the full-screen window, which is returned.
    QWidget* takePictureBack();
    double scrubberWidthPoints() const;
    double heightPoints() const;
    QRectF panelFrame() const;
    QRectF zoomPanelFrame() const;
    // The band's curve from the zoom-again session's track.
    void showSessionZoom();
    // The slider and readout at the factor the new track gives now (it is not being moved).
    void followSessionZoom();
    void leaveZoomAgain(bool kept);

    AVPlayerDemoPlaybackView* mPlaybackView = nullptr;
    QWidget* mLowerUI = nullptr;
    QSlider* mScrubber = nullptr;
    QWidget* mPlayBar = nullptr;
    QWidget* mPauseBar = nullptr;
    QLabel* mElapsedLabel = nullptr;
    QLabel* mTotalLabel = nullptr;
    QToolButton* mFullScreenButton = nullptr;
    QWidget* mFullScreenHost = nullptr;  // the top-level window of full screen, while shown
    media::PlayerItem mPlayerItem;
    std::unique_ptr<media::Player> mPlayer;
    float mRestoreAfterScrubbingRate = 0;
    int mTimeObserver = 0;
    bool observing_ = true;
    QPointF swipeStart_;
    bool swipeTracking_ = false;
    QPointer<QVariantAnimation> panelAnimation_;
    ZoomBand* mZoomBand = nullptr;
    std::unique_ptr<ZoomAgainSession> mZoomAgain;
    QWidget* mZoomUI = nullptr;
    TavrioSlider* mZoomSlider = nullptr;
    QLabel* mZoomLabel = nullptr;
    bool mAskingToKeep = false;
    bool mKeeping = false;
};
