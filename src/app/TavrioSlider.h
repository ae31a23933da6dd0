#pragma once
// The zoom slider: a track picture with a ball the user drags; the two ends of the track are
// zoom-out and zoom-in buttons that repeat every 0.1 s with growing steps while held; a press
// elsewhere on the track brings the ball under the pointer, to be dragged on. Every change
// goes to the delegate as a value from 0 to 1, derived from the ball's left edge. A mouse press
// is a touch; the wheel and nudge() (the screen's + and - keys) move the ball the same way.
//
// Coordinates are the control's own points (the frame the screen gives it is 300 x 23).

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "ZoomSampler.h"

class QTimer;

class TavrioSliderViewDelegate {
public:
    virtual ~TavrioSliderViewDelegate() = default;
    virtual void zoomSliderChanged(float value) = 0;
};

class TavrioSlider : public QWidget {
    Q_OBJECT
public:
    static constexpr float kLeftMin = 27.0f;
    static constexpr float kRightMax = 253.0f;
    static constexpr float kGrabDistance = 30.0f;
    // The zoom track tells a rest from a held button by this interval.
    static constexpr int kRepeatMs = ZoomSampler::kSliderRepeatMs;
    // What one wheel notch or key press moves the ball: a twentieth of the track.
    static constexpr float kNudge = (kRightMax - kLeftMin) / 20.0f;

    explicit TavrioSlider(QWidget* parent = nullptr);

    TavrioSliderViewDelegate* delegate() const { return delegate_; }
    void setDelegate(TavrioSliderViewDelegate* delegate) { delegate_ = delegate; }

    // The ball's frame in the control's points, and the value it stands for.
    QRectF ballFrame() const { return ball_; }
    float value() const { return valueAt(float(ball_.x())); }
    static float valueAt(float ballX) { return (ballX - kLeftMin) / (kRightMax - kLeftMin); }
    float acceleratingFactor() const { return acceleratingFactor_; }
    // Whether an end button's next repeat step is scheduled.
    bool isRepeating() const;

    // Touches at x (control points); `touches` is how many touches the event carries: anything
    // but one is ignored.
    void touchesBegan(float x, int touches = 1);
    void touchesMoved(float x, int touches = 1);
    void touchesEnded(int touches = 1);
    // One step of the end buttons' repeat each; the next is scheduled unless cancelled.
    void incrementButtonPressed();
    void decrementButtonPressed();
    void moveSliderBallToPoint(float x);
    // Puts the ball at `value` (0 to 1, clamped) without telling the delegate: the control
    // showing a value that comes from elsewhere.
    void showValue(float value);
    // Moves the ball by `steps` nudges (negative: zoom out), clamped to the track.
    void nudge(int steps);
    // Moves the ball to stand for `value` (clamped to 0..1), reported as a drag reports it; a
    // ball already there reports nothing.
    void setValue(float value);
    // A wheel turned by `angleDelta` eighths of a degree (Qt's units): a nudge per whole notch;
    // a touchpad's small deltas add up to the same steps.
    void scrollBy(int angleDelta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    float toPoints(double pixels) const;
    void step(bool up);

    TavrioSliderViewDelegate* delegate_ = nullptr;
    QImage track_;
    QImage ballImage_;
    QRectF ball_;
    bool cancelAction_ = false;
    float acceleratingFactor_ = 0.0f;
    bool repeatUp_ = true;
    QTimer* repeat_;
    int wheelAngle_ = 0;
};
