#pragma once
// A layout that places each widget at a frame given in points, in its container's coordinates,
// at the window's current point scale. Screens use it the way the phone platform uses frames;
// when the window is resized the same frames land on the new pixels.
//
// Frames are given for the phone's 320 points across. A container that is wider (a screen at a
// landscape window's readable width) resizes them as the phone's views resize with their
// screen: a frame across the whole width stretches with it, one against the left or right edge
// stays there, any other keeps its size and its place about the middle. A container that lays itself out for its real width (the camera screen, the window's
// canvas) turns this off.

#include <QLayout>
#include <QPointer>
#include <QRectF>
#include <vector>

namespace ui {

class FrameLayout : public QLayout {
    Q_OBJECT
public:
    explicit FrameLayout(QWidget* container);
    ~FrameLayout() override;

    // Adds `widget` (made a child of the container) at `frame`, above what is already there.
    void addWidget(QWidget* widget, const QRectF& frame);
    void setFrame(QWidget* widget, const QRectF& frame);
    // The widget's frame in points; an empty rectangle for a widget this layout does not hold.
    QRectF frame(const QWidget* widget) const;
    bool contains(const QWidget* widget) const;
    // Whether frames follow a container wider than 320 points (on unless turned off).
    void setStretchesAcross(bool stretches);
    // Where `frame` lands in a container `width` points wide.
    QRectF placed(const QRectF& frame, double width) const;

    // The frame layout of `container`, made on first use.
    static FrameLayout* of(QWidget* container);

    // QLayout
    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    struct Entry {
        QLayoutItem* item;
        QRectF frame;
    };
    double widthInPoints() const;

    std::vector<Entry> entries_;
    bool stretches_ = true;
};

}  // namespace ui
