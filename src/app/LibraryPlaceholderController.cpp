#include "LibraryPlaceholderController.h"

#include "ui/BarButtonItem.h"
#include "ui/Fonts.h"

#include <QLabel>

LibraryPlaceholderController::LibraryPlaceholderController(QWidget* parent) : ui::ViewController(parent) {
    setTitle(QStringLiteral("Library"));
    setBackgroundColor(QColor(7, 9, 14));
    auto* done = new ui::BarButtonItem(ui::BarButtonItem::SystemItem::Done, ui::BarButtonItem::Style::Done, this);
    connect(done, &ui::BarButtonItem::triggered, this, &LibraryPlaceholderController::doneTapped);
    setRightBarButtonItem(done);
    auto* message = new QLabel(QStringLiteral("Your recordings are in the Originals folder (tavrio-cli paths)."), this);
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignCenter);
    message->setStyleSheet(QStringLiteral("color: #d8d8de; background: transparent;"));
    ui::Fonts::set(message, 15);
    addSubview(message, QRectF(30, 150, 260, 140));
}
