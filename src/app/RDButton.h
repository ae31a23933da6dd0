#pragma once
// The round record button: a background that shows its pressed picture while highlighted, and
// a red dot that blinks (dot, glowing dot, one cycle a second) while recording. Disabling it
// changes no picture; it only stops presses.

#include <QAbstractButton>
#include <QImage>

class QTimer;

class RDButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kBlinkCycleMs = 1000;

    explicit RDButton(QWidget* parent = nullptr);

    // The highlighted state is the button's "down" state: the screen sets it on a press and
    // clears it when recording begins; the button's own press tracking sets it too.
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return isDown(); }

    void animateRecordButton();
    void stopRecordingAnimation();
    bool isBlinking() const;

    // What is drawn now.
    const QImage& backgroundImage() const { return isDown() ? bkImageSelected_ : bkImage_; }
    const QImage& dotImage() const { return glowing_ ? redGlowImage_ : redImage_; }
    bool isDotGlowing() const { return glowing_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage bkImage_, bkImageSelected_, redImage_, redGlowImage_;
    bool glowing_ = false;
    QTimer* blink_;
};
