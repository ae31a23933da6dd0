#pragma once
// Progress and waiting: a progress bar from 0 to 1, the large white spinner, and a label that
// shrinks its text to fit its frame.

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

class QTimer;

namespace ui {

class ProgressView : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressView(QWidget* parent = nullptr);
    float progress() const { return progress_; }
    // Clamped to 0..1.
    void setProgress(float progress);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float progress_ = 0.0f;
};

class ActivityIndicator : public QWidget {
    Q_OBJECT
public:
    explicit ActivityIndicator(QWidget* parent = nullptr);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const;
    // Hidden whenever it is not turning (the default).
    void setHidesWhenStopped(bool hides);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* timer_;
    int step_ = 0;
    bool hidesWhenStopped_ = true;
};

// A label whose text keeps its size in points until it no longer fits; then it shrinks, down
// to a minimum size, and is elided below that.
class ShrinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit ShrinkLabel(const QString& text = {}, QWidget* parent = nullptr);

    void setFontPoints(double points, bool bold = false);
    double fontPoints() const { return points_; }
    void setMinimumFontPoints(double points) {
        minimum_ = points;
        update();
    }
    // The size in points the current text is drawn at in the current frame.
    double fittedFontPoints() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double points_ = 17;
    double minimum_ = 10;
    bool bold_ = false;
};

}  // namespace ui
