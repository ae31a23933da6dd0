#include "ui/FrameLayout.h"

#include "ui/PointScale.h"

#include <QWidget>
#include <QWidgetItem>

namespace ui {

FrameLayout::FrameLayout(QWidget* container) : QLayout(container) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    setSizeConstraint(QLayout::SetNoConstraint);
}

FrameLayout::~FrameLayout() {
    for (auto& e : entries_) delete e.item;
}

FrameLayout* FrameLayout::of(QWidget* container) {
    if (auto* existing = qobject_cast<FrameLayout*>(container->layout())) return existing;
    return new FrameLayout(container);
}

void FrameLayout::addWidget(QWidget* widget, const QRectF& frame) {
    if (contains(widget)) {
        setFrame(widget, frame);
        return;
    }
    addChildWidget(widget);
    entries_.push_back({new QWidgetItem(widget), frame});
    widget->raise();
    invalidate();
    if (parentWidget()) setGeometry(parentWidget()->rect());
}

void FrameLayout::setFrame(QWidget* widget, const QRectF& frame) {
    for (auto& e : entries_) {
        if (e.item->widget() == widget) {
            e.frame = frame;
            widget->setGeometry(
                PointScale::current().toPixels(placed(frame, widthInPoints())).translated(geometry().topLeft()));
            return;
        }
    }
}

QRectF FrameLayout::frame(const QWidget* widget) const {
    for (const auto& e : entries_)
        if (e.item->widget() == widget) return e.frame;
    return {};
}

void FrameLayout::setStretchesAcross(bool stretches) {
    if (stretches_ == stretches) return;
    stretches_ = stretches;
    if (parentWidget()) setGeometry(parentWidget()->rect());
}

double FrameLayout::widthInPoints() const {
    return geometry().width() / PointScale::current().pixelsPerPoint();
}

QRectF FrameLayout::placed(const QRectF& frame, double width) const {
    constexpr double kDesign = PointScale::kScreenWidth;
    // Half a point of rounding is no wider screen: the phone's frames stay exactly as they are.
    if (!stretches_ || width <= kDesign + 0.5) return frame;
    const double extra = width - kDesign;
    // A frame as wide as the screen spans it; one sliding in or out by its width (a pushed
    // screen) slides by the wider width. One against an edge stays against it; the rest keep
    // their places about the middle.
    if (frame.width() >= kDesign - 0.5)
        return QRectF(frame.x() * width / kDesign, frame.y(), frame.width() + extra, frame.height());
    if (frame.left() <= 0) return frame;
    if (frame.right() >= kDesign) return frame.translated(extra, 0);
    return frame.translated(extra / 2, 0);
}

bool FrameLayout::contains(const QWidget* widget) const {
    for (const auto& e : entries_)
        if (e.item->widget() == widget) return true;
    return false;
}

void FrameLayout::addItem(QLayoutItem* item) {
    // Widgets added without a frame fill the container.
    entries_.push_back({item, QRectF(0, 0, PointScale::kScreenWidth, PointScale::kScreenHeight)});
    invalidate();
}

QLayoutItem* FrameLayout::itemAt(int index) const {
    return index >= 0 && index < static_cast<int>(entries_.size()) ? entries_[static_cast<size_t>(index)].item
                                                                   : nullptr;
}

QLayoutItem* FrameLayout::takeAt(int index) {
    if (index < 0 || index >= static_cast<int>(entries_.size())) return nullptr;
    QLayoutItem* item = entries_[static_cast<size_t>(index)].item;
    entries_.erase(entries_.begin() + index);
    invalidate();
    return item;
}

int FrameLayout::count() const {
    return static_cast<int>(entries_.size());
}

QSize FrameLayout::sizeHint() const {
    return PointScale::current().toPixels(QRectF(0, 0, PointScale::kScreenWidth, PointScale::kScreenHeight)).size();
}

void FrameLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const PointScale& scale = PointScale::current();
    const double width = rect.width() / scale.pixelsPerPoint();
    // Straight to the widget: a layout item would shrink a widget to its size hint, and frames
    // are exact.
    for (auto& e : entries_) {
        const QRect r = scale.toPixels(placed(e.frame, width)).translated(rect.topLeft());
        if (QWidget* w = e.item->widget())
            w->setGeometry(r);
        else
            e.item->setGeometry(r);
    }
}

}  // namespace ui
