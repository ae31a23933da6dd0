#include "SettingsStyle.h"

#include "ui/Fonts.h"

#include <QPushButton>

namespace settingsstyle {

void styleTable(ui::TableView* table) {
    table->setCellBackgroundColor(Qt::white);
    table->setHeaderBackgroundColor(kBackground);
}

void styleButton(QPushButton* button) {
    button->setFocusPolicy(Qt::StrongFocus);
    button->setCursor(Qt::PointingHandCursor);
    ui::Fonts::set(button, 14, true);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: #0a60d0; background: white; border: 1px solid #c8c8ce; border-radius: 10px; }"
        "QPushButton:pressed { background: #dfe9fb; }"
        "QPushButton:focus { border: 2px solid #5ab0ff; }"));
}

void styleCell(ui::TableCell& cell) {
    cell.fontPoints = 14;
    cell.detailFontPoints = 14;
    cell.textColor = Qt::black;
    cell.detailTextColor = Qt::black;
    cell.highlightedTextColor = Qt::white;
    cell.numberOfLines = 0;
}

}  // namespace settingsstyle
