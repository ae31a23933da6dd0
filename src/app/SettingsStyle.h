#pragma once
// The look the settings and instructions screens share, from the application's one palette
// (ui/Theme.h).

#include "ui/TableView.h"
#include "ui/Theme.h"

#include <QColor>

class QPushButton;

namespace settingsstyle {

inline const QColor kBackground = ui::theme::kBackground;

// A table on the screens' ground, its rows a surface.
void styleTable(ui::TableView* table);
// A rounded surface button with the accent's focus ring.
void styleButton(QPushButton* button);
// 14-point text and value, on as many lines as needed.
void styleCell(ui::TableCell& cell);

}  // namespace settingsstyle
