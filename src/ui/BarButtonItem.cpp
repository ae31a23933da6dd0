#include "ui/BarButtonItem.h"

namespace ui {

namespace {
QString systemTitle(BarButtonItem::SystemItem item) {
    switch (item) {
    case BarButtonItem::SystemItem::Done: return QStringLiteral("Done");
    case BarButtonItem::SystemItem::Cancel: return QStringLiteral("Cancel");
    case BarButtonItem::SystemItem::Edit: return QStringLiteral("Edit");
    case BarButtonItem::SystemItem::None: break;
    }
    return {};
}
}  // namespace

BarButtonItem::BarButtonItem(const QString& title, Style style, QObject* parent)
    : QObject(parent), title_(title), style_(style) {}

BarButtonItem::BarButtonItem(SystemItem item, Style style, QObject* parent)
    : QObject(parent), title_(systemTitle(item)), style_(style) {}

void BarButtonItem::setTitle(const QString& title) {
    if (title_ == title) return;
    title_ = title;
    emit changed();
}

void BarButtonItem::setStyle(Style style) {
    if (style_ == style) return;
    style_ = style;
    emit changed();
}

void BarButtonItem::setEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    emit changed();
}

void BarButtonItem::trigger() {
    if (enabled_) emit triggered();
}

}  // namespace ui
