#include "SettingsStyle.h"

#include "ui/Fonts.h"

#include <QPushButton>

namespace settingsstyle {

void styleTable(ui::TableView* table) {
    table->setCellBackgroundColor(ui::theme::kSurface);
    table->setHeaderBackgroundColor(kBackground);
    table->setHeaderTextColor(ui::theme::kSecondaryText);
    table->setSeparatorColor(ui::theme::kSeparator);
}

void styleButton(QPushButton* button) {
    button->setFocusPolicy(Qt::StrongFocus);
    button->setCursor(Qt::PointingHandCursor);
    ui::Fonts::set(button, 14, true);
    button->setStyleSheet(ui::theme::buttonStyleSheet());
}

void styleCell(ui::TableCell& cell) {
    cell.fontPoints = 14;
    cell.detailFontPoints = 14;
    cell.textColor = ui::theme::kText;
    cell.detailTextColor = ui::theme::kSecondaryText;
    cell.highlightedTextColor = ui::theme::kText;
    cell.numberOfLines = 0;
}

}  // namespace settingsstyle
