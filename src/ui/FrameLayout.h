#pragma once
// A layout that places each widget at a frame given in points, in its container's coordinates,
// at the window's current point scale. Screens use it the way the phone platform uses frames;
// when the window is resized the same frames land on the new pixels.

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
    std::vector<Entry> entries_;
};

}  // namespace ui
