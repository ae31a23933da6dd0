#pragma once
// The look the settings and instructions screens share.

#include "ui/TableView.h"

#include <QColor>

class QPushButton;

namespace settingsstyle {

inline const QColor kBackground(239, 239, 244);

// A table on the screens' grey background, white rows.
void styleTable(ui::TableView* table);
// A rounded white button in the screens' blue.
void styleButton(QPushButton* button);
// 14-point text and value, black (white when highlighted), on as many lines as needed.
void styleCell(ui::TableCell& cell);

}  // namespace settingsstyle
