#pragma once
// The live camera picture. It draws the newest picture of a capture session's preview slot,
// upright for the camera's mounting, fitted into its bounds and scaled about its centre by the
// preview scale (the zoom, times 4/3 in full screen). Pictures are rendered on a thread of the
// view's own through the export's resampler and only the finished image reaches the UI thread:
// a slow screen skips pictures, it never queues them and never waits for a render.
//
// A mouse click is a tap: one click becomes tapToFocus 0.3 s later unless a second click comes,
// which becomes handleDoubleTap 0.3 s after it instead. Points are in the superview's points.
//
// On a touch screen a finger that lifts where it landed is a tap as a click is; two fingers
// pinch: pinched() reports how far apart they are now against where the pinch began.

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QSizeF>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/AffineTransform.h"

class QTimer;
class QTouchEvent;
#include "media/capture/PreviewSlot.h"

class TavrioPreviewViewDelegate {
public:
    virtual ~TavrioPreviewViewDelegate() = default;
    virtual void tapToFocus(QPointF /*point*/) {}
    virtual void handleDoubleTap() {}
};

class TavrioPreviewView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTapDelayMs = 300;

    explicit TavrioPreviewView(QWidget* parent = nullptr);
    ~TavrioPreviewView() override;

    TavrioPreviewViewDelegate* delegate() const { return delegate_; }
    void setDelegate(TavrioPreviewViewDelegate* delegate) { delegate_ = delegate; }

    // Follows `slot` (null: none; the picture goes black). The slot must outlive the view or be
    // detached (setPreviewSlot(nullptr)) before it goes.
    void setPreviewSlot(media::PreviewSlot* slot);
    media::PreviewSlot* previewSlot() const { return slot_; }

    // Degrees clockwise the camera's picture turns to stand upright (0, 90, 180, 270).
    void setMounting(int degrees);
    int mounting() const { return mounting_; }
    // The view's transform: a uniform scale about its centre.
    void setPreviewScale(float scale);
    float previewScale() const { return scale_; }
    // The size of the newest picture (empty before the first); the camera's clean aperture.
    QSizeF pictureSize() const { return pictureSize_; }

    // Source pixels to this view's device pixels, for the picture drawn now.
    media::AffineTransform sourceToPixels(QSizeF picture) const;

    // Taps in the superview's points; `tapCount` as the platform counts clicks.
    void touchesBegan(QPointF pointInSuperview, int tapCount, int touches = 1);
    enum class PendingTap { None, Single, Double };
    PendingTap pendingTap() const { return pendingKind_; }
    int pendingTapDelayMs() const;
    // Delivers the waiting tap now (the timer does it after kTapDelayMs).
    void deliverPendingTap();

    // Counters of what reached the screen, for diagnostics and the benchmark.
    struct Stats {
        uint64_t paintedPictures = 0;
        uint64_t skippedPictures = 0;      // rendered or offered, replaced before they were shown
        std::vector<int64_t> latenciesNs;  // capture to paint, newest last (bounded)
    };
    const Stats& stats() const { return stats_; }
    // The image shown now, in device pixels (null before the first picture).
    QImage currentImage() const { return shown_; }

signals:
    // A newly rendered picture has reached the screen.
    void picturePainted();
    // The first picture drawn at a new preview scale has reached the screen.
    void scaleShown(float scale);
    // Two fingers came down; then each move of them: their distance over the starting one.
    void pinchStarted();
    void pinched(float spread);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void touch(QTouchEvent* event);
    class Renderer;
    void newPicture();
    void requestRender();
    void rendered(QImage image, int64_t captureNs, float scale);
    QPointF toSuperviewPoints(QPointF widgetPixels) const;

    TavrioPreviewViewDelegate* delegate_ = nullptr;
    media::PreviewSlot* slot_ = nullptr;
    std::unique_ptr<Renderer> renderer_;
    int mounting_ = 0;
    float scale_ = 1.0f;
    QSizeF pictureSize_;
    QImage shown_;
    int64_t shownCaptureNs_ = 0;
    bool shownPainted_ = true;
    float shownScale_ = 1.0f;
    float paintedScale_ = 0.0f;  // none painted yet
    Stats stats_;
    QTimer* tapTimer_;
    PendingTap pendingKind_ = PendingTap::None;
    QPointF pendingPoint_;
    // The touch sequence under way: a tap while one finger stays put, a pinch once two are down.
    bool touchIsTap_ = false;
    QPointF touchStart_;
    double pinchStartDistance_ = 0;  // 0: no pinch
    quint64 lastTapMs_ = 0;
    QPointF lastTap_;
};
