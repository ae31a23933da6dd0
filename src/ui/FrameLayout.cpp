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
            widget->setGeometry(PointScale::current().toPixels(frame).translated(geometry().topLeft()));
            return;
        }
    }
}

QRectF FrameLayout::frame(const QWidget* widget) const {
    for (const auto& e : entries_)
        if (e.item->widget() == widget) return e.frame;
    return {};
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
    // Straight to the widget: a layout item would shrink a widget to its size hint, and frames
    // are exact.
    for (auto& e : entries_) {
        const QRect r = scale.toPixels(e.frame).translated(rect.topLeft());
        if (QWidget* w = e.item->widget())
            w->setGeometry(r);
        else
            e.item->setGeometry(r);
    }
}

}  // namespace ui
