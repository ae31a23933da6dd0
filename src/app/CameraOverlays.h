#pragma once
// Small views the camera screen lays over its preview: the focus box that flashes where the user
// tapped, and the recording clock's text.

#include <QWidget>

class QVariantAnimation;

// A 3-point blue square, invisible except while it flashes: shown at full opacity, faded out
// over 0.3 s and back in over 0.3 s, then gone. A new flash restarts at once.
class FocusBoxView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFlashHalfMs = 300;
    explicit FocusBoxView(QWidget* parent = nullptr);
    void flash();
    bool isFlashing() const;
    double opacity() const { return opacity_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation* animation_;
    double opacity_ = 0.0;
};

// White bold text centred in its frame, upright.
class ClockLabel : public QWidget {
    Q_OBJECT
public:
    explicit ClockLabel(QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    // The points `text` takes in the clock's font.
    static QSizeF textSize(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};
